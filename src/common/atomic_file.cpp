#include "common/atomic_file.h"

#include "common/catalogue.h"
#include "common/format.h"
#include "common/utf8_path.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <string_view>
#include <system_error>

namespace kvtr {
namespace {

// Far beyond any configuration of the module (the shipped tree saves to a few hundred
// kilobytes at most); it keeps a mistaken path from filling the memory.
constexpr std::uintmax_t kMaxFileSize = 256u * 1024u * 1024u;

void setError(std::string* error, const std::filesystem::path& path, const std::string& cause) {
  if (error != nullptr) *error = strprintf(trFormat("Не удалось прочитать файл '%s': %s"), utf8FromPath(path).c_str(), cause.c_str());
}

// As many links in a row as the system itself follows before it gives up.
constexpr int kMaxLinksInARow = 40;

std::string saveRefusal(const std::filesystem::path& requested, const std::filesystem::path& file,
                        const std::string& cause) {
  std::string text = strprintf(trFormat("Не удалось сохранить файл '%s'"), utf8FromPath(requested).c_str());
  if (file != requested) text += strprintf(trFormat(" (ссылка на '%s')"), utf8FromPath(file).c_str());
  return text + ": " + cause;
}

// What stands under the name, for a refusal; empty for what may be replaced or made.
std::string notAFile(std::filesystem::file_type type) {
  using std::filesystem::file_type;
  switch (type) {
    case file_type::not_found:
    case file_type::regular: return {};
    case file_type::directory: return tr("это папка, а не файл");
    case file_type::character:
    case file_type::block: return tr("это устройство, а не файл");
    case file_type::fifo: return tr("это именованный канал, а не файл");
    case file_type::socket: return tr("это сокет, а не файл");
    default: return tr("это не обычный файл");
  }
}

}  // namespace

SaveTarget resolveSaveTarget(const std::filesystem::path& requested) {
  namespace fs = std::filesystem;
  SaveTarget target;
  target.file = requested;
  std::error_code ec;
  // Links are followed one at a time, as the system follows them when it opens a file; a link
  // whose file is not there yet leads to a new file under the name it holds.
  fs::file_status status = fs::symlink_status(target.file, ec);
  for (int links = 0; fs::is_symlink(status); ++links) {
    if (links == kMaxLinksInARow) {
      target.refusal = saveRefusal(requested, target.file, tr("ссылки ведут по кругу"));
      return target;
    }
    const fs::path next = fs::read_symlink(target.file, ec);
    if (ec) {
      target.refusal = saveRefusal(requested, target.file, ec.message());
      return target;
    }
    target.file = next.is_absolute() ? next : target.file.parent_path() / next;
    status = fs::symlink_status(target.file, ec);
  }
  if (status.type() == fs::file_type::none) {
    target.refusal = saveRefusal(requested, target.file, ec.message());
    return target;
  }
  if (std::string cause = notAFile(status.type()); !cause.empty()) {
    target.refusal = saveRefusal(requested, target.file, cause);
    return target;
  }
  target.exists = status.type() == fs::file_type::regular;

  const fs::path folder = target.file.has_parent_path() ? target.file.parent_path() : fs::path(".");
  const fs::file_status folderStatus = fs::status(folder, ec);
  if (folderStatus.type() == fs::file_type::not_found) {
    target.refusal = saveRefusal(requested, target.file, strprintf(trFormat("папки '%s' нет"), utf8FromPath(folder).c_str()));
  } else if (!fs::is_directory(folderStatus)) {
    target.refusal = saveRefusal(requested, target.file, strprintf(trFormat("'%s' не папка"), utf8FromPath(folder).c_str()));
  } else if (std::string cause; !folderTakesNewFiles(folder, cause)) {
    target.refusal = saveRefusal(requested, target.file,
                                 strprintf(trFormat("в папку '%s' нельзя записать: %s"), utf8FromPath(folder).c_str(), cause.c_str()));
  }
  return target;
}

bool isTemporaryOf(const std::filesystem::path& candidate, const std::filesystem::path& target) {
  const std::string name = utf8FromPath(candidate.filename());
  const std::string prefix = "." + utf8FromPath(target.filename()) + ".";
  constexpr std::size_t kDigits = 16;
  constexpr std::string_view kSuffix = ".tmp";
  if (name.size() != prefix.size() + kDigits + kSuffix.size() || name.compare(0, prefix.size(), prefix) != 0 ||
      name.compare(prefix.size() + kDigits, kSuffix.size(), kSuffix) != 0)
    return false;
  for (std::size_t i = prefix.size(); i < prefix.size() + kDigits; ++i) {
    const char c = name[i];
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

std::vector<std::filesystem::path> temporariesOf(const std::filesystem::path& target) {
  namespace fs = std::filesystem;
  std::vector<fs::path> found;
  const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    if (isTemporaryOf(it->path(), target) && it->is_regular_file(ec)) found.push_back(it->path());
  }
  return found;
}

std::string checkSaveTarget(const std::filesystem::path& target) { return resolveSaveTarget(target).refusal; }

bool readWholeFile(const std::filesystem::path& path, std::vector<std::uint8_t>& bytes, std::string* error) {
  std::error_code ec;
  const auto status = std::filesystem::status(path, ec);
  if (ec) {
    setError(error, path, ec.message());
    return false;
  }
  if (!std::filesystem::is_regular_file(status)) {
    setError(error, path, tr("это не обычный файл"));
    return false;
  }
  const std::uintmax_t size = std::filesystem::file_size(path, ec);
  if (ec) {
    setError(error, path, ec.message());
    return false;
  }
  if (size > kMaxFileSize) {
    setError(error, path, tr("файл слишком велик"));
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
