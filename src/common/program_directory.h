// The folder the running program was started from: where it finds the descriptor file and its
// other data files beside it.
#pragma once

#include <filesystem>

namespace kvtr {

// The folder of the program's own file; the current folder when the system cannot tell.
[[nodiscard]] std::filesystem::path programDirectory();

}  // namespace kvtr
