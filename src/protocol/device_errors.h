// The module's error reply ("n.Err") carries one code byte; this turns it into the module's own
// explanation. The device link stores the text in the parameter's comment.
#pragma once

#include <string>

namespace kvtr {

// Text for an error code as the module sends it, read as a signed 8-bit number (0xC8 is -56).
// Codes without an entry give "Не найдено значение ошибки. (Код %i)" with the code.
[[nodiscard]] std::string deviceErrorText(int code);

}  // namespace kvtr
