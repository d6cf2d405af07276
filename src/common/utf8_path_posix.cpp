#include "common/utf8_path.h"

namespace kvtr {

std::filesystem::path pathFromUtf8(std::string_view text) { return std::filesystem::path(std::string(text)); }

std::string utf8FromPath(const std::filesystem::path& path) { return path.native(); }

std::vector<std::string> utf8Arguments(int argc, char** argv) {
  return argc > 0 ? std::vector<std::string>(argv, argv + argc) : std::vector<std::string>{};
}

}  // namespace kvtr
