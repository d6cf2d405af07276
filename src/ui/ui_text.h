// The desktop program's texts in the running language: the Russian text in the code is looked up
// in the same message catalogue as the core's and the command-line tool's (see common/catalogue.h);
// the extraction finds them by the keyword uiText.
#pragma once

#include <QString>

#include "common/catalogue.h"

namespace kvtr::ui {

inline QString uiText(const char* text) { return QString::fromUtf8(kvtr::tr(text)); }

}  // namespace kvtr::ui
