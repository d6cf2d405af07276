// What reaches the simulated module from outside: bytes on the line (cut into frames and
// answered in each protocol), its state file and its control commands. The first input byte
// chooses the way in. Besides not crashing, every answer the module sends to a device-protocol
// frame must pass the program's own response check for that request (as an answer or as an
// error reply), and every answer to a foreign frame must be an accepted switch answer.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "model/desc_branch.h"
#include "protocol/frame_codec.h"
#include "protocol/protocol_switch.h"
#include "sim/frame_assembler.h"
#include "sim/parameter_table.h"
#include "sim/sim_module.h"
#include "sim/sim_options.h"
#include "sim/value_store.h"

namespace {

using namespace kvtr;
using namespace kvtr::sim;

const ParameterTable& table() {
  static const ParameterTable t = [] {
    DescBranch root("root", 1, 1, 0, 0);
    root.AddParameter("t.Ans", "int", "delay").minimum = 0;
    root.AddParameter("bPS", "2400:4800:9600:14400:19200:28800:38400:57600:115200", "speed");
    root.AddParameter("Addr", "int", "address");
    root.AddParameter("A.Len", "8:11", "address length");
    root.AddParameter("Prot", "native:rtu:ascii:percent", "protocol");
    root.AddParameter("CHAr*", "name", "name").attributeMode = 1;
    root.AddParameter("dev", "string", "device");
    for (int i = 0; i < 4; ++i) {
      Parameter& flt = root.AddParameter("r.oe", "float", "output");
      flt.hasIndex = 1;
      flt.index = i;
      flt.maximum = 1;
      Parameter& p = root.AddParameter("I.Flt", "int", "filter");
      p.hasIndex = 1;
      p.index = i;
      p.maximum = 250;
      p.attributeMode = 1;
    }
    return ParameterTable::FromTree(&root, nullptr);
  }();
  return t;
}

void checkNativeAnswer(std::string_view frame, const Reply& reply) {
  if (!reply.answered) return;
  // The module answers only frames that check, so the request's hash is readable.
  std::uint8_t bytes[kMaxFrameBytes];
  const std::size_t count = (frame.size() - 2) / 2;
  if (count < kFrameOverhead || count > kMaxFrameBytes) std::abort();
  if (!decodeTetrads(std::span<const char>(frame.data() + 1, 2 * count), std::span<std::uint8_t>(bytes, count))) {
    std::abort();
  }
  const auto hash = static_cast<std::uint16_t>((bytes[2] << 8) | bytes[3]);
  const ParsedResponse r = parseResponse(reply.line, hash);
  if (r.status != ResponseStatus::Ok && !(r.status == ResponseStatus::DeviceError && r.hasDeviceErrorCode())) {
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
  switch (data[0] % 4) {
    case 0:
    case 1: {
      // The line: cut into frames of the protocol the module runs, answered one by one; the
      // protocol may change on the way (INIT, switch commands).
      const auto start = static_cast<ProtocolMode>(data[0] / 4 % 4);
      SimModule module(table(), {}, {}, std::nullopt, {}, start, 0);
      FrameAssembler assembler;
      std::vector<ReceivedFrame> frames;
      Millis now = 0;
      for (std::size_t i = 0; i < text.size(); ++i) {
        assembler.SetMode(module.protocol());
        frames.clear();
        assembler.Feed(text.substr(i, 1), now, frames);
        now += data[0] % 2 == 0 ? 1 : 700;
        assembler.Expire(now, 3.5, frames);
        for (const ReceivedFrame& f : frames) {
          const ProtocolMode mode = module.protocol();
          if (mode == ProtocolMode::Native) {
            checkNativeAnswer(f.bytes, module.HandleNative(f.bytes, now));
          } else {
            const auto* bytes = reinterpret_cast<const std::uint8_t*>(f.bytes.data());
            const Reply reply = module.HandleForeign(std::span(bytes, f.bytes.size()), now);
            if (!reply.answered) continue;
            const auto* answer = reinterpret_cast<const std::uint8_t*>(reply.line.data());
            if (checkSwitchAnswer(mode, static_cast<std::uint8_t>(module.line().address), protocolSwitchPayload(mode),
                                  std::span(answer, reply.line.size())) != kLinkOk) {
              std::abort();
            }
          }
        }
      }
      break;
    }
    case 2: {
      std::string error;
      const auto store = StoreFromText(text, table(), &error);
      if (!store && error.empty()) std::abort();
      if (store) {
        // What was read is written back the same way.
        const auto again = StoreFromText(StoreToText(*store, table()), table(), &error);
        if (!again || !(*again == *store)) std::abort();
      }
      break;
    }
    default: {
      std::string error;
      if (!ParseControl(text, error) && error.empty()) std::abort();
      break;
    }
  }
  return 0;
}
