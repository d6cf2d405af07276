#include "protocol/frame_decoder.h"

#include <memory>

#include "common/catalogue.h"
#include "common/format.h"
#include "model/parameter.h"
#include "protocol/device_errors.h"
#include "protocol/frame_codec.h"
#include "protocol/frame_trace.h"
#include "protocol/single_parameter.h"

namespace kvtr {

namespace {

std::string hexBytes(const std::vector<std::uint8_t>& bytes, std::size_t from, std::size_t to) {
  std::string text;
  for (std::size_t i = from; i < to; ++i) {
    if (!text.empty()) text += ' ';
    text += strprintf("%02X", bytes[i]);
  }
  return text;
}

const ParamTemplate* templateOfHash(const FrameContext& context, std::uint16_t hash) {
  if (context.templates == nullptr) return nullptr;
  for (const ParamTemplate& t : *context.templates) {
    std::string_view name = t.name;
    if (!name.empty() && name.front() == '!') name.remove_prefix(1);
    if (hashName(name) == hash) return &t;
  }
  return nullptr;
}

// The names the module knows without a template.
std::string serviceName(std::uint16_t hash) {
  switch (hash) {
    case kErrorReplyHash: return "n.Err";
    case kApplyHash: return "APLY";
    case kInitHash: return "INIT";
    case kAttributesHash: return "M.s.t.r.";
    case kNameCharHash: return "CHAr";
    default: return {};
  }
}

// An attribute exchange: [attribute byte (a write request, and every answer)] [0, index low byte
// (an indexed parameter)] [hash of the parameter].
std::string describeAttributes(const DecodedFrame& f, bool sent, const FrameContext& context) {
  std::string text = tr(", данные ") + hexBytes(f.data, 0, f.data.size());
  const bool withByte = !sent || !f.read;
  const std::size_t fixed = (withByte ? 1u : 0u) + 2u;
  if (f.data.size() != fixed && f.data.size() != fixed + 2) return text;
  const std::size_t n = f.data.size();
  const auto target = static_cast<std::uint16_t>((f.data[n - 2] << 8) | f.data[n - 1]);
  const ParamTemplate* t = templateOfHash(context, target);
  std::string name = t != nullptr ? t->name : strprintf("0x%04X", target);
  if (!name.empty() && name.front() == '!') name.erase(0, 1);
  text += tr(": атрибуты ") + name;
  if (f.data.size() == fixed + 2) text += strprintf(trFormat(", индекс %d"), f.data[n - 3]);
  if (withByte) {
    const std::uint8_t byte = f.data[0];
    text += std::string((byte & 1) != 0 ? tr(", редактируемый") : tr(", не редактируемый")) +
            ((byte & 2) != 0 ? tr(", пользователь") : tr(", фирма"));
  }
  return text;
}

// The state carried from a request to its answer.
struct Pending {
  std::uint16_t hash = 0;
  bool indexInData = false;
  bool valid = false;
};

std::string describe(const TracedFrameLine& line, const FrameContext& context, Pending& pending) {
  const DecodedFrame f = DecodeFrame(line.frame, context.addressBits);
  if (!f.checks) {
    if (!line.sent) pending.valid = false;
    return strprintf(trFormat("%s: не посылка (нет '#' или не сходится контрольная сумма)"),
                     line.sent ? tr("запрос") : tr("ответ"));
  }
  // Whole phrases, so that a translation may order the words as its language does.
  std::string text = line.sent ? (f.read ? tr("запрос чтения") : tr("запрос записи"))
                               : (f.read ? tr("ответ чтения") : tr("ответ записи"));
  text += strprintf(trFormat(", адрес %d"), f.address);
  if (context.baseAddress >= 0 && f.address != context.baseAddress) {
    text += strprintf(trFormat(" (база%+d)"), f.address - context.baseAddress);
  }

  const ParamTemplate* t = templateOfHash(context, f.hash);
  std::string name = t != nullptr ? t->name : serviceName(f.hash);
  if (!name.empty() && name.front() == '!') name.erase(0, 1);
  text += ", " + (name.empty() ? std::string(tr("неизвестный параметр")) : name) + strprintf(" (0x%04X)", f.hash);

  if (f.hash == kAttributesHash) return text + describeAttributes(f, line.sent, context);

  // The index travels last in the data field, in requests and answers alike.
  bool indexed = false;
  if (line.sent) {
    indexed = context.indexInData.value_or(f.read && f.data.size() == 2);
    pending = Pending{f.hash, indexed, true};
  } else {
    indexed = pending.valid && pending.hash == f.hash && pending.indexInData;
  }
  if (indexed && f.data.size() < 2) indexed = false;
  const std::size_t valueEnd = indexed ? f.data.size() - 2 : f.data.size();
  if (indexed) text += strprintf(trFormat(", индекс %d"), (f.data[valueEnd] << 8) | f.data[valueEnd + 1]);
  text += f.data.empty() ? std::string(tr(", данных нет")) : tr(", данные ") + hexBytes(f.data, 0, f.data.size());

  if (f.hash == kErrorReplyHash) {
    if (!f.data.empty()) text += ": " + deviceErrorText(static_cast<std::int8_t>(f.data[0]));
  } else if (t != nullptr && valueEnd > 0 && !(line.sent && f.read)) {
    const std::unique_ptr<Parameter> p = ParameterFromTemplate(*t, IndexPlacement::None, 0, nullptr);
    p->value.clear();
    const std::vector<std::uint8_t> value(f.data.begin(), f.data.begin() + static_cast<std::ptrdiff_t>(valueEnd));
    const int r = p->TakeAnswer(value);
    text += r == 0 ? tr(", значение не читается как ") + p->type : " = " + p->value;
  }
  return text;
}

}  // namespace

DecodedFrame DecodeFrame(std::string_view chars, int addressBits) {
  DecodedFrame f;
  std::string line(chars);
  if (line.empty() || line.back() != '\r') line += '\r';
  // The response checks read any frame: what they call another command is simply this frame's.
  const ParsedResponse parsed = parseResponse(line, 0);
  if (parsed.status == ResponseStatus::LostFrameStart || parsed.status == ResponseStatus::CrcError) return f;
  // The checks allow characters after the frame (the CRC is found by the length nibble); a line
  // with more than one frame's characters is not one frame.
  if ((line.size() - 2) / 2 != static_cast<std::size_t>(parsed.length) + kFrameOverhead || line.size() % 2 != 0) {
    return f;
  }
  f.checks = true;
  f.read = (parsed.control & 0x10) != 0;
  f.address = addressBits > 8 ? (parsed.address << 3) | (parsed.control >> 5) : parsed.address;
  f.hash = parsed.hash;
  f.data.assign(parsed.bytes.begin(), parsed.bytes.begin() + parsed.length);
  return f;
}

std::vector<std::string> DescribeFrameLog(const std::vector<std::string>& log, const FrameContext& context) {
  std::vector<std::string> texts;
  texts.reserve(log.size());
  Pending pending;
  for (const std::string& line : log) {
    const std::optional<TracedFrameLine> traced = SplitTracedFrameLine(line);
    texts.push_back(traced ? describe(*traced, context, pending) : std::string());
  }
  return texts;
}

}  // namespace kvtr
