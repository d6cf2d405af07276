// Lines of a traced protocol log through the frame reader. The input is split at newlines into
// log lines; the first byte chooses the address length and whether requests carry an index.
// Besides not crashing: one text per line, a text exactly for each traced frame line, and a frame
// that checks holds no more data than a frame can carry.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "protocol/frame_codec.h"
#include "protocol/frame_decoder.h"
#include "protocol/frame_trace.h"

namespace {

std::vector<kvtr::ParamTemplate> templates() {
  std::vector<kvtr::ParamTemplate> list;
  for (const auto& [name, type] : std::vector<std::pair<const char*, const char*>>{
           {"dev", "string"}, {"r.oe", "int"}, {"t.1", "float"}, {"!bPS", "2400:4800:9600"},
           {"CLK", "CLK_frm:1"}, {"Name", "name"}, {"ASC", "ASCI"}, {"LEn", "7:8<hide>"}}) {
    kvtr::ParamTemplate t;
    t.name = name;
    t.type = type;
    list.push_back(t);
  }
  return list;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  static const std::vector<kvtr::ParamTemplate> known = templates();
  kvtr::FrameContext context;
  context.templates = &known;
  context.addressBits = (data[0] & 1) != 0 ? 11 : 8;
  context.baseAddress = (data[0] & 2) != 0 ? 16 : -1;
  if ((data[0] & 4) != 0) context.indexInData = (data[0] & 8) != 0;

  std::vector<std::string> log(1);
  for (std::size_t i = 1; i < size; ++i) {
    if (data[i] == '\n') {
      log.emplace_back();
    } else {
      log.back() += static_cast<char>(data[i]);
    }
  }
  const std::vector<std::string> texts = kvtr::DescribeFrameLog(log, context);
  if (texts.size() != log.size()) std::abort();
  for (std::size_t i = 0; i < log.size(); ++i) {
    const auto traced = kvtr::SplitTracedFrameLine(log[i]);
    if (traced.has_value() == texts[i].empty()) std::abort();
    if (traced) {
      const kvtr::DecodedFrame f = kvtr::DecodeFrame(traced->frame, context.addressBits);
      if (f.checks && f.data.size() > kvtr::kMaxFrameData) std::abort();
    }
  }
  return 0;
}
