#include "common/program_directory.h"

// Both are paths relative to the installed programs' folder, set by the build from the install
// layout (on Linux "../share/kvtr" and "../share/locale").
#if !defined(KVTR_DATADIR_FROM_BINDIR) || !defined(KVTR_LOCALEDIR_FROM_BINDIR)
#error "KVTR_DATADIR_FROM_BINDIR and KVTR_LOCALEDIR_FROM_BINDIR are set by the build"
#endif

namespace kvtr {

std::filesystem::path installedDataDirectory() {
  return (programDirectory() / KVTR_DATADIR_FROM_BINDIR).lexically_normal();
}

std::filesystem::path installedLocaleDirectory() {
  return (programDirectory() / KVTR_LOCALEDIR_FROM_BINDIR).lexically_normal();
}

}  // namespace kvtr
