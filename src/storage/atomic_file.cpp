#include "storage/atomic_file.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <system_error>

namespace kvtr {
namespace {

// Far beyond any configuration of the module (the shipped tree saves to a few hundred
// kilobytes at most); it keeps a mistaken path from filling the memory.
constexpr std::uintmax_t kMaxFileSize = 256u * 1024u * 1024u;

void setError(std::string* error, const std::filesystem::path& path, const std::string& cause) {
  if (error != nullptr) *error = "Не удалось прочитать файл '" + path.string() + "': " + cause;
}

}  // namespace

bool readWholeFile(const std::filesystem::path& path, std::vector<std::uint8_t>& bytes, std::string* error) {
  std::error_code ec;
  const auto status = std::filesystem::status(path, ec);
  if (ec) {
    setError(error, path, ec.message());
    return false;
  }
  if (!std::filesystem::is_regular_file(status)) {
    setError(error, path, "это не обычный файл");
    return false;
  }
  const std::uintmax_t size = std::filesystem::file_size(path, ec);
  if (ec) {
    setError(error, path, ec.message());
    return false;
  }
  if (size > kMaxFileSize) {
    setError(error, path, "файл слишком велик");
    return false;
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    setError(error, path, std::strerror(errno));
    return false;
  }
  bytes.resize(static_cast<std::size_t>(size));
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  // A file that shrank while it was read is read as far as it goes.
  bytes.resize(static_cast<std::size_t>(in.gcount()));
  if (in.bad()) {
    setError(error, path, std::strerror(errno));
    return false;
  }
  return true;
}

}  // namespace kvtr
