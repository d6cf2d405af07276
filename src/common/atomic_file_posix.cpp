#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <random>

#include "common/atomic_file.h"
#include "common/catalogue.h"
#include "common/format.h"
#include "common/utf8_path.h"

namespace kvtr {
namespace {

std::string describe(const std::filesystem::path& target, const char* step, int err) {
  // The step is marked where it is named.
  return strprintf(trFormat("Не удалось сохранить файл '%s': %s: %s"), utf8FromPath(target).c_str(), tr(step),
                   std::strerror(err));
}

bool fail(std::string* error, const std::filesystem::path& target, const char* step, int err) {
  if (error != nullptr) *error = describe(target, step, err);
  return false;
}

bool writeAll(int fd, std::span<const std::uint8_t> bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) {
      errno = EIO;
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// Opens a new file beside the target under a name nobody else uses. O_EXCL keeps an existing
// file (or a planted link) from being written through; the 0666 mode lets the umask decide, as
// for any new file.
int createTemporary(const std::filesystem::path& folder, const std::string& stem, std::filesystem::path& tempPath) {
  std::random_device seed;
  std::mt19937_64 random(seed());
  for (int attempt = 0; attempt < 100; ++attempt) {
    tempPath = folder / strprintf(".%s.%016llx.tmp", stem.c_str(), static_cast<unsigned long long>(random()));
    const int fd = ::open(tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    // The lock marks the file as in use until the save is over (the system drops it when the
    // process dies), so that another save of the same file does not take it for a leftover.
    if (fd >= 0) ::flock(fd, LOCK_EX | LOCK_NB);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  errno = EEXIST;
  return -1;
}

// Removes what killed saves of `target` left behind. A temporary file that a running save still
// holds locked is left alone.
void removeLeftovers(const std::filesystem::path& target) {
  for (const auto& leftover : temporariesOf(target)) {
    const int fd = ::open(leftover.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) continue;
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) ::unlink(leftover.c_str());
    ::close(fd);
  }
}

}  // namespace

bool folderTakesNewFiles(const std::filesystem::path& folder, std::string& cause) {
  if (::access(folder.c_str(), W_OK | X_OK) == 0) return true;
  switch (errno) {
    case EACCES:
    case EPERM: cause = tr("нет прав на запись"); break;
    case EROFS: cause = tr("файловая система только для чтения"); break;
    default: cause = std::strerror(errno); break;
  }
  return false;
}

bool writeFileAtomically(const std::filesystem::path& requested, std::span<const std::uint8_t> bytes,
                         std::string* error) {
  namespace fs = std::filesystem;
  const SaveTarget resolved = resolveSaveTarget(requested);
  if (!resolved.refusal.empty()) {
    if (error != nullptr) *error = resolved.refusal;
    return false;
  }
  const fs::path& target = resolved.file;
  const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");

  struct stat old {};
  const bool exists = ::stat(target.c_str(), &old) == 0;

  removeLeftovers(target);

  fs::path tempPath;
  const int fd = createTemporary(folder, utf8FromPath(target.filename()), tempPath);
  if (fd < 0) return fail(error, requested, trMark("создание временного файла"), errno);

  const char* step = nullptr;
  if (!writeAll(fd, bytes)) {
    step = trMark("запись");
  } else if (exists && ::fchmod(fd, old.st_mode & 0777) != 0) {
    step = trMark("права доступа");
  } else if (::fsync(fd) != 0) {
    step = trMark("сброс на диск");
  }
  int err = errno;
  // close() can report a delayed write error too. The lock stays with a second descriptor until
  // the file has its final name.
  const int lockFd = ::dup(fd);
  if (::close(fd) != 0 && step == nullptr) {
    step = trMark("закрытие");
    err = errno;
  }
  // What was checked before may have changed while the file was written: a device or a FIFO
  // made under the name since is not replaced either.
  std::string refusal;
  if (step == nullptr) refusal = resolveSaveTarget(requested).refusal;
  if (step == nullptr && refusal.empty() && ::rename(tempPath.c_str(), target.c_str()) != 0) {
    step = trMark("переименование");
    err = errno;
  }
  if (step != nullptr || !refusal.empty()) ::unlink(tempPath.c_str());
  if (lockFd >= 0) ::close(lockFd);
  if (step != nullptr || !refusal.empty()) {
    if (!refusal.empty()) {
      if (error != nullptr) *error = refusal;
      return false;
    }
    return fail(error, requested, step, err);
  }

  // The rename itself becomes durable when the folder is flushed. The file is already in place,
  // so a failure here is not reported as a failed save.
  const int dirFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd >= 0) {
    ::fsync(dirFd);
    ::close(dirFd);
  }
  return true;
}

}  // namespace kvtr
