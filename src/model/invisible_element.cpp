#include "model/invisible_element.h"

namespace kvtr {

SetValueResult InvisibleElement::SetValueByName(std::string_view name, std::string_view text) {
  if (name == "Название") {
    title = std::string(text);
    return SetValueResult::TitleSet;
  }
  return ObjectWithParameters::SetValueByName(name, text);
}

WalkCounts InvisibleElement::CompareWithDevice(ParameterSteps& steps) {
  if (steps.aborted()) return {};
  steps.LogLine("Сравниваем ветвь '" + title + "'");
  return CompareOwnParameters(steps);
}

WalkCounts InvisibleElement::ReadFromDevice(ParameterSteps& steps) {
  if (steps.aborted()) return {};
  steps.LogLine("Читаем ветвь '" + title + "'");
  return ReadOwnParameters(steps);
}

WalkCounts InvisibleElement::WriteToDevice(ParameterSteps& steps, int mode) {
  if (steps.aborted()) return {};
  // Writing everything always names the branch; the selective writes only when they have
  // something to write here, so that a write of changes lists only the branches it touches.
  if (NormalizeWriteMode(mode) == kWriteAll || AnyQualifiesForWrite(mode)) {
    steps.LogLine("Пишем ветвь '" + title + "'");
  }
  return WriteOwnParameters(steps, mode);
}

std::string InvisibleElement::GetFullTitle() const { return title + " (" + GetKindName() + ")"; }

NodeRow InvisibleElement::GetViewRow(bool showIndexes, UserInterface& ui) {
  NodeRow row;
  row.title = title;
  row.indexText = LinearIndexText(showIndexes, ui);
  row.image = GetImage();
  row.selectedImage = GetSelectedImage();
  return row;
}

}  // namespace kvtr
