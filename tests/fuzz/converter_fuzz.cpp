// Fuzzes the value conversions with any name, type, text and answer bytes:
//   byte 0  name: one of the names that have rules of their own, or (past the table) fuzzed
//   byte 1  type: one of the type texts, or (past the table) fuzzed
//   byte 2  limits: none, or one of a few pairs
//   then    length-prefixed fields: fuzzed name, fuzzed type, text, answer bytes
// Besides crashes and sanitizer reports it checks what the conversions promise: results in
// -1..1, untouched text on 0, at most 4 value bytes, answers that decode into well-formed text
// within the scratch limit, that whatever a write encodes decodes again, and that whatever the
// value rules take is kept stable and can be encoded.
#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <span>
#include <string>
#include <string_view>

#include "common/strings.h"
#include "model/my_converter.h"
#include "model/parameter.h"
#include "model/text_encoding.h"

namespace {

using namespace kvtr;

constexpr const char* kNames[] = {"Tmp",   "r.oe", "dev",   "ver", "exit", "APLY", "bPS",  "LEn",  "PrtY",
                                  "Sbit",  "A.Len", "Addr", "SoUr", "Alr.t", "tHP", "tP.H", "CLB.K", "CHAr*"};
constexpr const char* kTypes[] = {"float",  "float:2", "int",  "int:1", "CLK_frm", "string", "ASCI",
                                  "name",   "void",    "OFF:ON", "a_b::c", "Отсутствует:Четность:Нечетность",
                                  "неизвестен", ""};
constexpr struct {
  double minimum, maximum;
} kLimits[] = {{0, 0}, {0, 10}, {-5, 5}, {60, 3600}, {1, 1}};

class Input {
 public:
  Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  std::uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  std::string field() {
    const std::size_t want = byte();
    const std::size_t n = want < size_ - pos_ ? want : size_ - pos_;
    std::string out(reinterpret_cast<const char*>(data_ + pos_), n);
    pos_ += n;
    return out;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

void require(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "converter property broken: %s\n", what);
    std::abort();
  }
}

std::size_t characters(std::string_view text) {
  std::size_t n = 0;
  for (char c : text) {
    if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++n;
  }
  return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Input in(data, size);
  const std::uint8_t nameChoice = in.byte();
  const std::uint8_t typeChoice = in.byte();
  const std::uint8_t limitChoice = in.byte();
  const std::string fuzzedName = in.field();
  const std::string fuzzedType = in.field();
  const std::string text = in.field();
  const std::string answer = in.field();

  Parameter p;
  p.name = nameChoice < std::size(kNames) ? kNames[nameChoice] : fuzzedName;
  p.type = typeChoice < std::size(kTypes) ? kTypes[typeChoice] : fuzzedType;
  const auto& limits = kLimits[limitChoice % std::size(kLimits)];
  p.minimum = limits.minimum;
  p.maximum = limits.maximum;

  // The answer of the module.
  const auto bytes = std::span(reinterpret_cast<const std::uint8_t*>(answer.data()), answer.size());
  std::string shown = "untouched";
  const int fromResult = p.ConvertFromData(bytes, shown);
  require(fromResult >= -1 && fromResult <= 1, "ConvertFromData result");
  if (fromResult == 0) require(shown == "untouched", "text kept on 0");
  if (fromResult != 0) {
    // Enumeration entries are pieces of the type text, which the descriptor loader hands over
    // as UTF-8; everything else the conversion makes itself.
    require(isValidUtf8(shown) || !isValidUtf8(p.type), "decoded text is UTF-8");
    require(characters(shown) <= kScratchTextChars, "decoded text within the scratch limit");
  }

  // A write of the fuzzed text.
  std::string scratch = text;
  DataField out;
  const int toResult = p.ConvertToData(scratch, out);
  require(toResult >= -1 && toResult <= 1, "ConvertToData result");
  require(out.length <= 4, "at most 4 value bytes");
  require(characters(scratch) <= kScratchTextChars, "scratch within its limit");
  if (toResult == 1 && out.length > 0) {
    std::string back;
    const int again = p.ConvertFromData(out.view(), back);
    const bool byName = equalsNoCase(p.name, "dev") || equalsNoCase(p.name, "ver") || equalsNoCase(p.name, "exit") ||
                        equalsNoCase(p.name, "bPS") || equalsNoCase(p.name, "LEn") || equalsNoCase(p.name, "PrtY") ||
                        equalsNoCase(p.name, "Sbit") || equalsNoCase(p.name, "A.Len") || equalsNoCase(p.name, "Addr");
    if (!byName) {
      require(again == 1, "what a write encodes decodes again");
      if (p.kind() == ValueKind::Enumeration) require(equalsNoCase(back, scratch), "enumeration round trip");
    }
  }

  // The operator typing the text, and the parameter's own conversions of its value.
  const std::string before = p.value;
  std::string stored;
  const bool accepted = p.AcceptsText(text, stored);
  require(p.SetValueFromText(text) == accepted, "check and store agree");
  if (accepted) {
    require(p.value == stored && p.valueChanged == 1, "accepted text stored");
    // Without limits a stored float reads back as itself (with limits the tolerance lets a value
    // just outside them round to a text that the limits refuse).
    if (p.kind() == ValueKind::Float && !p.hasLimits() && !equalsNoCase(p.name, "CHAr*")) {
      std::string again;
      require(p.AcceptsText(stored, again) && again == stored, "stored float text is stable");
    }
    DataField request;
    std::string message;
    const int built = p.BuildRequest(request, &message);
    require(built >= -1 && built <= 1, "BuildRequest result");
  } else {
    require(p.value == before && p.valueChanged == 0, "refused text changes nothing");
  }

  // The one check of the value rules, which the write step runs on every value it sends: what it
  // takes it keeps as itself, and what it takes the encoder can send.
  const ValueCheck check = p.CheckText(text);
  require(check.accepted == accepted, "CheckText agrees with AcceptsText");
  require(check.writable || !check.accepted, "nothing is taken for a parameter that is never written");
  if (check.accepted) {
    // A float near a limit may round to a text just outside it (see above).
    if (p.kind() != ValueKind::Float || !p.hasLimits() || equalsNoCase(p.name, "CHAr*")) {
      const ValueCheck again = p.CheckText(check.stored);
      require(again.accepted && again.stored == check.stored, "kept text is taken again as itself");
    }
    // The network-name rule goes by the name "CHAr*"; its encoding by the type "name".
    if (!equalsNoCase(p.name, "CHAr*") || p.kind() == ValueKind::NetworkName) {
      std::string sent = check.stored;
      DataField request;
      require(p.ConvertToData(sent, request) == 1, "an accepted text can be sent");
    }
  } else {
    require(!check.reason().empty(), "a refusal says why");
  }
  const int taken = p.TakeAnswer(bytes);
  require(taken == fromResult, "TakeAnswer agrees with ConvertFromData");
  return 0;
}
