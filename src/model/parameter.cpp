#include "model/parameter.h"

#include <cfloat>
#include <cmath>

#include "common/format.h"
#include "common/strings.h"

namespace kvtr {

namespace {

// Limits of floats are met within a thousandth: the value shown has three decimals, and a
// limit typed as 10 must not refuse a value stored as 10.000 from the single 10.0005.
constexpr double kFloatLimitTolerance = 0.0009;
// An integer may carry at most this much of a fraction from its decimal reading.
constexpr double kIntegerFractionTolerance = 0.00001;

bool isNetworkNameCharacter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == ' ' || c == '-' ||
         c == '/' || c == '_';
}

// Up to four characters of the name alphabet, each with an optional point.
bool isNetworkNameText(std::string_view text) {
  if (text.empty()) return false;
  std::size_t characters = 0;
  std::size_t i = 0;
  while (i < text.size()) {
    if (!isNetworkNameCharacter(text[i]) || ++characters > 4) return false;
    ++i;
    if (i < text.size() && text[i] == '.') ++i;
  }
  return true;
}

bool acceptsFloat(std::string_view text, const Parameter& p, std::string& stored) {
  const DecimalReading r = ReadDecimal(text);
  // A value beyond the range of a single cannot be sent.
  if (!r.ok || !std::isfinite(r.value) || std::fabs(r.value) > static_cast<double>(FLT_MAX)) return false;
  const float f = static_cast<float>(r.value);
  if (p.hasLimits() && (f < p.minimum - kFloatLimitTolerance || f > p.maximum + kFloatLimitTolerance)) return false;
  stored = FormatFixed3(f);
  return true;
}

bool acceptsTime(std::string_view text, const Parameter& p) {
  if (text.empty()) return false;
  // Minutes and seconds: a ':' followed by two digits weighs the next digit 6 ("12:05" is
  // (12 x 6 + 0) x 10 + 5 = 725 s); followed by a single digit it weighs 60 ("12:5" = 725 s).
  double count = 0.0;
  int weight = 10;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == ':') {
      weight = (text.size() - i - 1 >= 2) ? 6 : 60;
      continue;
    }
    if (c < '0' || c > '9') return false;
    count = count * weight + (c - '0');
    weight = 10;
  }
  return !p.hasLimits() || (count >= p.minimum && count <= p.maximum);
}

bool acceptsInteger(std::string_view text, const Parameter& p) {
  // Decimal notation only: the encoder reads integers without an exponent.
  const DecimalReading r = ReadDecimal(text, /*allowExponent=*/false);
  if (!r.ok || r.consumed != text.size()) return false;
  if (p.hasLimits() && (r.value < p.minimum || r.value > p.maximum)) return false;
  return std::fabs(r.value - std::trunc(r.value)) <= kIntegerFractionTolerance;
}

}  // namespace

Parameter::Parameter(std::string parameterName) : MyConverter(std::move(parameterName)) {}

Parameter::Parameter(std::string parameterName, std::string typeText, std::string descriptionText)
    : description(std::move(descriptionText)) {
  name = std::move(parameterName);
  type = std::move(typeText);
}

Parameter::~Parameter() {
  if (outputSlot != nullptr && *outputSlot == this) *outputSlot = nullptr;
}

std::unique_ptr<Parameter> Parameter::Clone() const {
  auto copy = std::make_unique<Parameter>();
  static_cast<MyConverter&>(*copy) = static_cast<const MyConverter&>(*this);
  copy->description = description;
  copy->hasIndex = hasIndex;
  copy->valueChanged = valueChanged;
  copy->accessChanged = accessChanged;
  copy->ownerChanged = ownerChanged;
  copy->comment = comment;
  copy->exchangeable = exchangeable;
  copy->editable = editable;
  copy->ownerFirm = ownerFirm;
  copy->attributeMode = attributeMode;
  copy->scanId = scanId;
  copy->index = index;
  copy->attributeMark = attributeMark;
  copy->scanPeriodMs = scanPeriodMs;
  copy->pendingText = pendingText;
  copy->addressOffset = addressOffset;
  return copy;
}

bool Parameter::AcceptsText(std::string_view text, std::string& stored) const {
  if (equalsNoCase(name, "CHAr*")) {
    if (!isNetworkNameText(text)) return false;
    stored = std::string(text);
    return true;
  }
  switch (kind()) {
    case ValueKind::Float:
      return acceptsFloat(text, *this, stored);
    case ValueKind::Time:
      if (!acceptsTime(text, *this)) return false;
      break;
    case ValueKind::Integer:
      if (!acceptsInteger(text, *this)) return false;
      break;
    default:
      break;
  }
  stored = std::string(text);
  return true;
}

bool Parameter::SetValueFromText(std::string_view text) {
  std::string stored;
  if (!AcceptsText(text, stored)) return false;
  value = std::move(stored);
  valueChanged = 1;
  return true;
}

int Parameter::TakeAnswer(std::span<const std::uint8_t> data) {
  std::string scratch;
  const int result = ConvertFromData(data, scratch);
  if (result == 1 || result == -1) value = LimitScratchText(scratch);
  return result;
}

int Parameter::BuildRequest(DataField& out, std::string* message) const {
  std::string scratch = LimitScratchText(value);
  const int result = ConvertToData(scratch, out);
  // Only a refused network name writes its reason back over the scratch copy.
  if (result == -1 && message != nullptr && kind() == ValueKind::NetworkName) *message = scratch;
  return result;
}

void Parameter::ResetParameter() {
  value = kNoDataText;
  comment.clear();
  editable = 1;
  ownerFirm = 0;
  valueChanged = 0;
  accessChanged = 0;
  ownerChanged = 0;
}

bool Parameter::HasDeviceValueComment() const { return comment.starts_with(kDeviceValuePrefix); }

std::uint8_t Parameter::AttributeByte() const {
  return static_cast<std::uint8_t>((editable ? 1u : 0u) | (ownerFirm ? 0u : 2u));
}

void Parameter::TakeAttributeByte(std::uint8_t byte) {
  editable = byte & 1u;
  ownerFirm = (byte & 2u) ? 0 : 1;
  accessChanged = 0;
  ownerChanged = 0;
}

std::string Parameter::AccessText() const { return editable ? "Редактируемый" : "Не редактируемый"; }

std::string Parameter::OwnerText() const { return ownerFirm ? "Фирма" : "Пользователь"; }

std::string Parameter::AttributeModeText() const {
  if (attributeMode == 0) return "нет атрибутов";
  if (attributeMode == 1) return "обычн. атрибуты";
  // The "c" in the middle of "индекcов" is a Latin letter in the program's own text.
  return strprintf("дерево атр-ов обрезано (кратность индекcов %i)", static_cast<int>(attributeMode));
}

RowColour Parameter::GetRowColour() const {
  if (HasDeviceValueComment()) return RowColour::Blue;
  if (!comment.empty()) return RowColour::Red;
  if (isChanged()) return RowColour::Green;
  return RowColour::Black;
}

int Parameter::GetRowImage() const {
  if (!exchangeable) return kImageNotExchanged;
  return kind() == ValueKind::Enumeration ? kImageEnumeration : kImageTypedValue;
}

ParameterRow Parameter::GetViewRow(bool showIndex) const {
  ParameterRow row;
  row.description = description;
  row.name = (hasIndex && showIndex) ? strprintf("%s:%i", name.c_str(), index) : name;
  row.value = value;
  if (hasAttributes()) {
    row.access = AccessText();
    row.owner = OwnerText();
  }
  row.comment = comment;
  row.colour = GetRowColour();
  row.image = GetRowImage();
  return row;
}

}  // namespace kvtr
