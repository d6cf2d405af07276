// The desktop program's texts in the running language: the Russian text in the code is looked up
// in the same message catalogue as the core's and the command-line tool's (see common/catalogue.h);
// the extraction finds them by the keyword uiText. A text held in a constant is marked with trMark
// where it is defined and shown through uiText.
#pragma once

#include <QString>
#include <string>
#include <string_view>

#include "common/catalogue.h"

namespace kvtr::ui {

inline QString uiText(const char* text) { return QString::fromUtf8(kvtr::tr(text)); }
inline QString uiText(const std::string& text) { return QString::fromUtf8(kvtr::tr(text.c_str())); }
inline QString uiText(std::string_view text) { return uiText(std::string(text)); }

}  // namespace kvtr::ui
