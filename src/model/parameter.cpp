#include "model/parameter.h"

#include "common/format.h"
#include "common/strings.h"

namespace kvtr {

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
  ValueCheck check = CheckText(text);
  if (!check.accepted) return false;
  stored = std::move(check.stored);
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
