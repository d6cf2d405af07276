// The sources that the Windows build compiles stay free of POSIX-only headers: what needs them
// lives in the "_posix" platform files. CI builds on Linux only, where such an include would pass
// unnoticed until the next Windows build.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace kvtr {
namespace {

namespace fs = std::filesystem;

// Headers that Windows does not have, or has without what a program includes them for (sigaction
// and the signal sets of <signal.h>, the non-blocking flags of <fcntl.h>). The few <sys/...>
// headers the Windows runtime carries are allowed.
bool isPosixOnlyHeader(std::string_view header) {
  static constexpr std::string_view kHeaders[] = {
      "unistd.h", "termios.h", "poll.h", "pty.h",  "pthread.h", "dirent.h",       "pwd.h",         "grp.h",
      "dlfcn.h",  "spawn.h",   "fcntl.h", "signal.h", "syslog.h", "netdb.h", "arpa/inet.h", "netinet/in.h"};
  static constexpr std::string_view kPortableSys[] = {"sys/types.h", "sys/stat.h", "sys/timeb.h", "sys/utime.h"};
  if (std::find(std::begin(kHeaders), std::end(kHeaders), header) != std::end(kHeaders)) return true;
  return header.starts_with("sys/") &&
         std::find(std::begin(kPortableSys), std::end(kPortableSys), header) == std::end(kPortableSys);
}

// The POSIX-only headers that `text` includes with angle brackets.
std::vector<std::string> posixOnlyIncludes(std::string_view text) {
  std::vector<std::string> found;
  std::istringstream lines{std::string(text)};
  std::string line;
  while (std::getline(lines, line)) {
    std::string_view rest = line;
    const auto skipBlanks = [&rest] {
      while (!rest.empty() && (rest.front() == ' ' || rest.front() == '\t')) rest.remove_prefix(1);
    };
    skipBlanks();
    if (!rest.starts_with('#')) continue;
    rest.remove_prefix(1);
    skipBlanks();
    if (!rest.starts_with("include")) continue;
    rest.remove_prefix(7);
    skipBlanks();
    if (!rest.starts_with('<')) continue;
    const std::size_t close = rest.find('>');
    if (close == std::string_view::npos) continue;
    const std::string_view header = rest.substr(1, close - 1);
    if (isPosixOnlyHeader(header)) found.emplace_back(header);
  }
  return found;
}

TEST(PortableSources, DetectorFindsPosixOnlyIncludes) {
  struct Case {
    const char* text;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {"#include <unistd.h>\n", {"unistd.h"}},
      {"  #  include\t<sys/ioctl.h>\n#include <termios.h>\n", {"sys/ioctl.h", "termios.h"}},
      {"#include <signal.h>\n#include <csignal>\n", {"signal.h"}},
      {"#include <sys/stat.h>\n#include <sys/types.h>\n", {}},
      {"#include \"unistd.h\"\n// #include <poll.h>\n#include <windows.h>\n", {}},
      {"#include <cstdio>\n#include <vector>\n", {}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(posixOnlyIncludes(c.text), c.expected) << c.text;
  }
}

TEST(PortableSources, SharedFilesIncludeNoPosixOnlyHeader) {
  const fs::path root = KVTR_SOURCE_DIR;
  // Everything the Windows build compiles: the core and the programs built there (the simulated
  // module runs on a pseudo-terminal and is built on POSIX only).
  const fs::path folders[] = {root / "src", root / "tools" / "cli", root / "tools" / "mkdesc"};
  int checked = 0;
  for (const fs::path& folder : folders) {
    ASSERT_TRUE(fs::is_directory(folder)) << folder;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(folder)) {
      const fs::path& path = entry.path();
      if (!entry.is_regular_file() || (path.extension() != ".cpp" && path.extension() != ".h")) continue;
      if (path.stem().string().ends_with("_posix")) continue;
      std::ifstream in(path, std::ios::binary);
      ASSERT_TRUE(in) << path;
      std::ostringstream text;
      text << in.rdbuf();
      ++checked;
      EXPECT_EQ(posixOnlyIncludes(text.str()), std::vector<std::string>{})
          << path << " belongs in a \"_posix\" platform file";
    }
  }
  // The walk must have seen the tree, not an empty or wrong folder.
  EXPECT_GT(checked, 100);
}

}  // namespace
}  // namespace kvtr
