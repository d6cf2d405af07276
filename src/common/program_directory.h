// The folder the running program was started from: where it finds the descriptor file and its
// other data files beside it. An installed program finds them in the data folder of its prefix.
#pragma once

#include <filesystem>

namespace kvtr {

// The folder of the program's own file; the current folder when the system cannot tell.
[[nodiscard]] std::filesystem::path programDirectory();

// The installed data folder (<prefix>/share/kvtr), found from the program's own folder
// (<prefix>/bin), so that a package unpacked under any root finds its own files.
[[nodiscard]] std::filesystem::path installedDataDirectory();

// The installed message catalogues (<prefix>/share/locale), found the same way.
[[nodiscard]] std::filesystem::path installedLocaleDirectory();

}  // namespace kvtr
