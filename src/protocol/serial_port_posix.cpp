// The serial port on POSIX: a raw terminal descriptor, opened exclusive and non-blocking, waited
// on with poll() together with the stop event's descriptor.
//
// Parity and framing errors and breaks reach the reader as marked bytes (PARMRK with INPCK; the
// marks are undone by MarkedInputDecoder); overruns are counted by the driver (TIOCGICOUNT).
//
// Pseudo-terminals, on which the simulated module runs, differ from a UART and are survived here:
// they have no modem lines (the RTS and DTR ioctls fail with ENOTTY), they keep 8 data bits and no
// parity whatever is asked (the C library's tcsetattr then reports EINVAL although everything
// else took effect), and tcdrain returns at once.
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#if defined(__linux__)
#include <linux/serial.h>
#endif

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <ctime>

#include "protocol/serial_line.h"
#include "protocol/serial_port.h"
#include "protocol/serial_speed_posix.h"

namespace kvtr {

namespace {

// The steps of open and close that can fail with errno.
enum class Step { Open, Lock, ReadState, WriteState, Purge };

// The one place where a system error becomes one of the port's results. The result depends on
// the step alone (the link counts results); what the operator is told depends on the error too.
int resultFor(Step step) {
  switch (step) {
    case Step::Open:
    case Step::Lock: return serial::kCannotOpen;
    case Step::ReadState: return serial::kUnsupportedSetting;  // ENOTTY: not a terminal at all
    case Step::WriteState: return serial::kCannotSetState;
    case Step::Purge: return serial::kPurgeFailed;
  }
  return serial::kCannotOpen;
}

serial::PortFailure failureFor(Step step, int error) {
  using serial::PortFailure;
  switch (error) {
    case ENOENT:
    case ENODEV:
    case ENXIO: return PortFailure::NoSuchPort;
    // EBUSY: another program holds the port exclusive (TIOCEXCL); EWOULDBLOCK: another instance
    // of this program holds its lock.
    case EBUSY:
    case EWOULDBLOCK: return PortFailure::Busy;
    case EACCES:
    case EPERM: return PortFailure::NoPermission;
    case ENOTTY:
    case EISDIR:
    case ENOTDIR: return PortFailure::NotSerial;
    default: break;
  }
  return step == Step::WriteState ? PortFailure::Settings : PortFailure::Other;
}

int descriptor(std::intptr_t handle) { return static_cast<int>(handle); }

// RTS and DTR are best effort: a pseudo-terminal has no modem lines (ENOTTY), and a port that has
// vanished is found by the next read or write.
void setModemLines(int fd, int lines, bool raised) {
  (void)::ioctl(fd, raised ? TIOCMBIS : TIOCMBIC, &lines);
}

tcflag_t characterSize(int dataBits) {
  switch (dataBits) {
    case 5: return CS5;
    case 6: return CS6;
    case 7: return CS7;
    default: return CS8;
  }
}

tcflag_t parityFlags(Parity parity) {
  switch (parity) {
    case Parity::None: return 0;
    case Parity::Even: return PARENB;
    case Parity::Odd: return PARENB | PARODD;
    // With CMSPAR the parity bit is fixed: PARODD selects mark (1), its absence space (0).
    case Parity::Mark: return PARENB | CMSPAR | PARODD;
    case Parity::Space: return PARENB | CMSPAR;
  }
  return 0;
}

// A pseudo-terminal stores 8 data bits and clears PARENB whatever is asked, and the C library then
// reports EINVAL. The call counts as done when everything else reads back as written.
bool tookEffectBesidesSizeAndParity(int fd, const termios& wanted) {
  termios now{};
  if (::tcgetattr(fd, &now) != 0) return false;
  const tcflag_t ignored = CSIZE | PARENB;
  return now.c_iflag == wanted.c_iflag && now.c_oflag == wanted.c_oflag && now.c_lflag == wanted.c_lflag &&
         (now.c_cflag & ~ignored) == (wanted.c_cflag & ~ignored);
}

timespec toTimespec(Clock::Duration d) {
  if (d < Clock::Duration::zero()) d = Clock::Duration::zero();
  const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(d).count();
  return timespec{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
}

// The line of one exchange over the port's descriptor. Every wait also watches the stop event's
// descriptor, which is checked first, so a stop wins over a ready port.
class DescriptorLine final : public SerialLineIo {
 public:
  DescriptorLine(int fd, const Event& stop, float characterTimeMs, std::atomic<bool>& noErrorCounters)
      : fd_(fd),
        stop_(stop),
        stopFd_(static_cast<int>(stop.nativeHandle())),
        characterTimeMs_(characterTimeMs),
        noErrorCounters_(noErrorCounters) {}

  void purge() override { (void)::tcflush(fd_, TCIOFLUSH); }

  bool stopRequested() override { return stop_.isSet(); }

  Wait waitReadable(Clock::Duration timeout) override { return waitFor(POLLIN, timeout); }
  Wait waitWritable(Clock::Duration timeout) override { return waitFor(POLLOUT, timeout); }

  Wait drain(Clock::Duration timeout) override {
    // tcdrain cannot be interrupted by the stop event, so the queue is first watched going down
    // with the stop event in view; tcdrain then waits only for the last bytes in the UART.
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
      int queued = 0;
      if (::ioctl(fd_, TIOCOUTQ, &queued) != 0 || queued <= 0) break;
      const auto now = std::chrono::steady_clock::now();
      if (now >= deadline) return Wait::TimedOut;
      const auto forQueue = std::chrono::duration_cast<Clock::Duration>(
          std::chrono::duration<double, std::milli>(std::max(1.0, queued * double(characterTimeMs_))));
      if (waitFor(0, std::min<Clock::Duration>(forQueue, deadline - now)) == Wait::Stopped) return Wait::Stopped;
    }
    int rc;
    do {
      rc = ::tcdrain(fd_);
    } while (rc != 0 && errno == EINTR);
    return Wait::Ready;
  }

  long read(std::span<std::uint8_t> into) override {
    for (;;) {
      const ssize_t n = ::read(fd_, into.data(), into.size());
      if (n > 0) return static_cast<long>(n);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return 0;
      // 0 is end of file: the terminal hung up. EIO: the other end of a pseudo-terminal closed or
      // the converter was unplugged.
      return -1;
    }
  }

  long write(std::span<const std::uint8_t> bytes) override {
    for (;;) {
      const ssize_t n = ::write(fd_, bytes.data(), bytes.size());
      if (n >= 0) return static_cast<long>(n);
      if (errno == EINTR) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
      return -1;
    }
  }

  void setRts(bool raised) override { setModemLines(fd_, TIOCM_RTS, raised); }

  void characterGap(float milliseconds) override { busyWait(milliseconds); }

  std::uint64_t lineErrorCount() override {
#if defined(TIOCGICOUNT)
    if (noErrorCounters_.load(std::memory_order_relaxed)) return 0;
    serial_icounter_struct c{};
    if (::ioctl(fd_, TIOCGICOUNT, &c) != 0) {
      // ENOTTY on a pseudo-terminal, EINVAL from drivers without counters: errors then arrive
      // marked in the data only.
      if (errno == ENOTTY || errno == EINVAL) noErrorCounters_.store(true, std::memory_order_relaxed);
      return 0;
    }
    // Parity, framing and breaks also arrive marked in the data; overruns only here.
    return static_cast<std::uint64_t>(c.frame) + static_cast<std::uint64_t>(c.parity) +
           static_cast<std::uint64_t>(c.brk) + static_cast<std::uint64_t>(c.overrun) +
           static_cast<std::uint64_t>(c.buf_overrun);
#else
    return 0;
#endif
  }

 private:
  Wait waitFor(short events, Clock::Duration timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
      pollfd fds[2] = {{stopFd_, POLLIN, 0}, {fd_, events, 0}};
      const timespec limit = toTimespec(deadline - std::chrono::steady_clock::now());
      const int rc = ::ppoll(fds, events != 0 ? 2 : 1, &limit, nullptr);
      if (rc < 0) {
        if (errno == EINTR) continue;
        return Wait::Failed;
      }
      if (rc == 0) return Wait::TimedOut;
      if (fds[0].revents & POLLIN) return Wait::Stopped;
      if (fds[1].revents & events) return Wait::Ready;
      if (fds[1].revents & (POLLHUP | POLLERR | POLLNVAL)) return Wait::Failed;
    }
  }

  int fd_;
  const Event& stop_;
  int stopFd_;
  float characterTimeMs_;
  std::atomic<bool>& noErrorCounters_;
};

}  // namespace

void SerialPort::releaseHandle() {
  const std::intptr_t h = handle_.exchange(kNoHandle);
  if (h == kNoHandle) return;
  // The exclusive mark belongs to the terminal, not the descriptor: left set it would keep the
  // port closed to everybody while another descriptor (a simulator's, say) holds it open.
  (void)::ioctl(descriptor(h), TIOCNXCL);
  ::close(descriptor(h));
}

int SerialPort::openDevice() {
  releaseHandle();
  devicePath_ = resolvePortPath(settings_.portName, comPortMap_);

  // A file, a folder or a pipe is no serial port, whoever may open it.
  struct stat info {};
  if (::stat(devicePath_.c_str(), &info) == 0 && !S_ISCHR(info.st_mode)) {
    return fail(resultFor(Step::Open), serial::PortFailure::NotSerial);
  }
  const int fd = ::open(devicePath_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    const int error = errno;
    return fail(resultFor(Step::Open), failureFor(Step::Open, error), error);
  }
  bool exclusive = false;
  // Whatever goes wrong from here leaves the port closed, not half configured.
  const auto failAt = [this, fd, &exclusive](Step step, int error) {
    if (exclusive) (void)::ioctl(fd, TIOCNXCL);
    ::close(fd);
    return fail(resultFor(step), failureFor(step, error), error);
  };
  // flock keeps out other instances of this program even when they run as root, which TIOCEXCL
  // does not stop; TIOCEXCL keeps out every other program.
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) return failAt(Step::Lock, errno);
  exclusive = ::ioctl(fd, TIOCEXCL) == 0;

  termios t{};
  if (::tcgetattr(fd, &t) != 0) return failAt(Step::ReadState, errno);
  if (const int check = checkLineSettings(settings_); check != serial::kOpened) {
    if (exclusive) (void)::ioctl(fd, TIOCNXCL);
    ::close(fd);
    return fail(check, serial::PortFailure::Settings);
  }

  computeTiming();

  // Raw bytes both ways: no flow control (IXON, CRTSCTS off), no character translation, no echo,
  // and the modem status lines ignored (CLOCAL). Errors are marked in the data (INPCK, PARMRK);
  // a break is neither ignored nor a signal, so it arrives marked too.
  t.c_iflag = INPCK | PARMRK;
  t.c_oflag = 0;
  t.c_lflag = 0;
  t.c_cflag = (t.c_cflag & HUPCL) | CLOCAL | CREAD | characterSize(settings_.dataBits) |
              parityFlags(*parityFromCode(settings_.parityCode)) | (settings_.stopBits == 2 ? CSTOPB : 0);
  // With O_NONBLOCK, VMIN 1 makes a read without data fail with EAGAIN, so 0 means end of file.
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  if (::tcsetattr(fd, TCSANOW, &t) != 0) {
    const int error = errno;
    if (error != EINVAL || !tookEffectBesidesSizeAndParity(fd, t)) return failAt(Step::WriteState, error);
  }
  if (!setLineSpeed(fd, settings_.baudRate)) return failAt(Step::WriteState, errno);

  // The transmitter of a semi-automatic converter stays off until a request goes out; DTR is not
  // used.
  setModemLines(fd, TIOCM_RTS | TIOCM_DTR, false);
  (void)::tcflush(fd, TCIOFLUSH);
  noErrorCounters_.store(false);
  handle_.store(fd);
  return fail(serial::kOpened, serial::PortFailure::None);
}

int SerialPort::closeDevice() {
  const std::intptr_t h = handle_.load();
  if (h == kNoHandle) return serial::kNotOpen;
  if (::tcflush(descriptor(h), TCIOFLUSH) != 0) return resultFor(Step::Purge);
  releaseHandle();
  return serial::kClosed;
}

int SerialPort::exchangeDevice(std::span<const std::uint8_t> request, std::span<char> response, int& received,
                               int protocolMode, AnswerFilter* filter) {
  received = 0;
  const std::intptr_t h = handle_.load();
  if (h == kNoHandle) return serial::kAborted;
  if (response.size() > static_cast<std::size_t>(serial::kResponseCapacity)) {
    response = response.first(serial::kResponseCapacity);
  }

  DescriptorLine line(descriptor(h), stop_, characterTimeMs_, noErrorCounters_);
  LineExchangeSetup setup;
  setup.characterTimeMs = characterTimeMs_;
  setup.timeouts = timeouts_;
  setup.automaticConverter = settings_.automaticConverter != 0;
  setup.protocolMode = protocolMode;
  setup.filter = filter;
  const LineExchangeResult r = exchangeOverLine(line, Clock::system(), setup, request, response);
  received = r.received;
  // A port that has gone away stays closed: the link reports it as not open and reopens it.
  if (r.portFailed) {
    releaseHandle();
    (void)fail(serial::kAborted, serial::PortFailure::Vanished);
  }
  return r.result;
}

std::vector<SerialPortInfo> SerialPort::availablePorts() { return enumerateSerialPorts("/"); }

std::string SerialPort::listPorts() { return joinPortNames(availablePorts()); }

}  // namespace kvtr
