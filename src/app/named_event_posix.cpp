// The named event as a FIFO that every holder keeps open at both ends; see named_event.h.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "app/named_event.h"

#include "common/catalogue.h"
#include "common/format.h"
#include "common/utf8_path.h"

namespace kvtr {

struct NamedEvent::Native {
  int readFd = -1;
  int writeFd = -1;
  ~Native() {
    if (readFd >= 0) ::close(readFd);
    if (writeFd >= 0) ::close(writeFd);
  }
};

namespace {

void setError(std::string* error, const std::string& text) {
  if (error != nullptr) *error = text;
}

std::string systemText(int code) { return std::strerror(code); }

// The folder must be a folder of the user's own that nobody else can enter, so that nobody
// else can put a FIFO of theirs, or a link, under a name the program will open.
bool makePrivateFolder(const std::filesystem::path& folder, std::string* error) {
  if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
    setError(error, strprintf(trFormat("не удалось создать %s: %s"), utf8FromPath(folder).c_str(), systemText(errno).c_str()));
    return false;
  }
  struct stat st {};
  if (::lstat(folder.c_str(), &st) != 0) {
    setError(error, strprintf(trFormat("не удалось проверить %s: %s"), utf8FromPath(folder).c_str(), systemText(errno).c_str()));
    return false;
  }
  if (!S_ISDIR(st.st_mode) || st.st_uid != ::geteuid() || (st.st_mode & 077) != 0) {
    setError(error, strprintf(trFormat("%s — не папка этого пользователя, закрытая для других"), utf8FromPath(folder).c_str()));
    return false;
  }
  return true;
}

bool isOwnFifo(int fd, struct stat& st) {
  return ::fstat(fd, &st) == 0 && S_ISFIFO(st.st_mode) && st.st_uid == ::geteuid();
}

// Writes the one byte that sets the event. A full pipe is set already. A holder that has just
// closed would raise SIGPIPE, which must not end the setter: it is held back for the write and
// taken if it came.
bool writeSetByte(int fd, std::string* error) {
  sigset_t pipeOnly;
  sigset_t previous;
  sigemptyset(&pipeOnly);
  sigaddset(&pipeOnly, SIGPIPE);
  sigset_t pending;
  sigemptyset(&pending);
  ::sigpending(&pending);
  const bool alreadyPending = sigismember(&pending, SIGPIPE) == 1;
  ::pthread_sigmask(SIG_BLOCK, &pipeOnly, &previous);
  ssize_t rc;
  do {
    rc = ::write(fd, "1", 1);
  } while (rc < 0 && errno == EINTR);
  const int writeError = errno;
  if (rc < 0 && writeError == EPIPE && !alreadyPending) {
    const timespec none{0, 0};
    (void)::sigtimedwait(&pipeOnly, nullptr, &none);
  }
  ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  if (rc == 1 || (rc < 0 && (writeError == EAGAIN || writeError == EWOULDBLOCK))) return true;
  setError(error, rc < 0 && writeError == EPIPE ? std::string(tr("события не ждет ни одна программа"))
                                                : strprintf(trFormat("не удалось установить событие: %s"), systemText(writeError).c_str()));
  return false;
}

}  // namespace

NamedEvent::NamedEvent(std::string name, std::unique_ptr<Native> native)
    : name_(std::move(name)), native_(std::move(native)), relay_([this] { Relay(); }) {}

NamedEvent::~NamedEvent() {
  stop_.set();
  if (relay_.joinable()) relay_.join();
}

std::filesystem::path namedEventFolder() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime != nullptr && runtime[0] == '/') return std::filesystem::path(runtime) / "kvtr-events";
  return std::filesystem::path("/tmp") / ("kvtr-events-" + std::to_string(::geteuid()));
}

std::unique_ptr<NamedEvent> NamedEvent::Open(std::string_view name, std::string* error) {
  const std::string file = namedEventFileName(name);
  if (file.empty()) {
    setError(error, strprintf(trFormat("«%s» — недопустимое имя события"), std::string(name).c_str()));
    return nullptr;
  }
  const std::filesystem::path folder = namedEventFolder();
  if (!makePrivateFolder(folder, error)) return nullptr;
  const std::filesystem::path path = folder / file;
  if (::mkfifo(path.c_str(), 0600) != 0 && errno != EEXIST) {
    setError(error, strprintf(trFormat("не удалось создать %s: %s"), utf8FromPath(path).c_str(), systemText(errno).c_str()));
    return nullptr;
  }
  auto native = std::make_unique<Native>();
  // The reading end first: opening the writing end without a reader would fail.
  native->readFd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
  if (native->readFd < 0) {
    setError(error, strprintf(trFormat("не удалось открыть %s: %s"), utf8FromPath(path).c_str(), systemText(errno).c_str()));
    return nullptr;
  }
  struct stat readSide {};
  if (!isOwnFifo(native->readFd, readSide)) {
    setError(error, strprintf(trFormat("%s — не событие этого пользователя"), utf8FromPath(path).c_str()));
    return nullptr;
  }
  native->writeFd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
  struct stat writeSide {};
  if (native->writeFd < 0 || !isOwnFifo(native->writeFd, writeSide) || writeSide.st_ino != readSide.st_ino ||
      writeSide.st_dev != readSide.st_dev) {
    setError(error, strprintf(trFormat("не удалось открыть %s, чтобы установить событие"), utf8FromPath(path).c_str()));
    return nullptr;
  }
  return std::unique_ptr<NamedEvent>(new NamedEvent(std::string(name), std::move(native)));
}

void NamedEvent::Relay() {
  pollfd fds[2] = {{native_->readFd, POLLIN, 0}, {static_cast<int>(stop_.nativeHandle()), POLLIN, 0}};
  for (;;) {
    const int rc = ::poll(fds, 2, -1);
    if (rc < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if ((fds[0].revents & POLLIN) != 0) {
      signalled_.set();
      return;
    }
    // Both ends are held here, so the FIFO cannot hang up; anything else on it ends the relay
    // rather than spin.
    if (fds[1].revents != 0 || fds[0].revents != 0) return;
  }
}

bool NamedEvent::Set(std::string* error) { return writeSetByte(native_->writeFd, error); }

bool SetNamedEvent(std::string_view name, std::string* error) {
  const std::string file = namedEventFileName(name);
  if (file.empty()) {
    setError(error, strprintf(trFormat("«%s» — недопустимое имя события"), std::string(name).c_str()));
    return false;
  }
  const std::filesystem::path path = namedEventFolder() / file;
  const int fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    // No FIFO, or a FIFO that nobody holds open (ENXIO): nobody waits for the event.
    const int code = errno;
    setError(error, code == ENOENT || code == ENXIO ? strprintf(trFormat("события «%s» не ждет ни одна программа"), std::string(name).c_str())
                                                    : strprintf(trFormat("не удалось открыть %s: %s"), utf8FromPath(path).c_str(), systemText(code).c_str()));
    return false;
  }
  struct stat st {};
  bool ok = isOwnFifo(fd, st);
  if (!ok) setError(error, strprintf(trFormat("%s — не событие этого пользователя"), utf8FromPath(path).c_str()));
  else ok = writeSetByte(fd, error);
  ::close(fd);
  return ok;
}

}  // namespace kvtr
