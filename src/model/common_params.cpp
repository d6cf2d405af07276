#include "model/common_params.h"

#include "common/strings.h"
#include "model/os_description.h"

#ifndef KVTR_VERSION
#error "KVTR_VERSION is set by the build"
#endif

namespace kvtr {

CommonParams::CommonParams() : InvisibleElement("Сервисные параметры программы") { CommonParams::RebuildParameters(); }

std::string CommonParams::VersionText() {
  // Version texts written "1, 0, 0" read "1.0.0".
  return "Конфигуратор КВТР " + replaceAll(KVTR_VERSION, ", ", ".");
}

std::string CommonParams::LegalNotice() {
  return "© Авторы конфигуратора КВТР. Программа поставляется «как есть», без каких-либо гарантий.";
}

void CommonParams::RebuildParameters() {
  DeleteParameters();
  const struct {
    const char* name;
    const char* description;
    std::string value;
  } rows[] = {
      {" ", "Версия", VersionText()},
      {"  ", "Копирайт", LegalNotice()},
      {"   ", "Операционная система", DescribeOperatingSystem()},
  };
  for (const auto& row : rows) {
    Parameter& p = AddParameter(row.name, "string", row.description);
    p.value = row.value;
    // The program's own texts: nothing to exchange with the module.
    p.exchangeable = 0;
  }
}

}  // namespace kvtr
