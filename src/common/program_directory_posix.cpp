#include "common/program_directory.h"

#include <system_error>

namespace kvtr {

std::filesystem::path programDirectory() {
  std::error_code ec;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (!ec && self.has_parent_path()) return self.parent_path();
  return std::filesystem::current_path(ec);
}

}  // namespace kvtr
