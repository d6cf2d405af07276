#include <sys/utsname.h>

#include <fstream>
#include <sstream>

#include "model/os_description.h"

namespace kvtr {

namespace {

std::string readFile(const char* path) {
  std::ifstream in(path);
  if (!in) return {};
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace

std::string DescribeOperatingSystem() {
  // /etc/os-release names the distribution; /usr/lib/os-release is where it lives when /etc
  // only links to it or lacks it.
  std::string pretty = PrettyNameFromOsRelease(readFile("/etc/os-release"));
  if (pretty.empty()) pretty = PrettyNameFromOsRelease(readFile("/usr/lib/os-release"));
  utsname names{};
  if (uname(&names) != 0) return ComposeSystemDescription(pretty, {}, {}, {});
  return ComposeSystemDescription(pretty, names.sysname, names.release, names.machine);
}

}  // namespace kvtr
