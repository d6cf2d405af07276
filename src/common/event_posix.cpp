// Events on an eventfd: the counter is non-zero exactly while the event is set, so the descriptor
// polls readable while set and any poll() can watch it beside a device.
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <ctime>
#include <system_error>

#include "common/event.h"

namespace kvtr {

namespace {

int descriptor(std::intptr_t handle) { return static_cast<int>(handle); }

bool pollsReadable(int fd) {
  pollfd p{fd, POLLIN, 0};
  int rc;
  do {
    rc = ::poll(&p, 1, 0);
  } while (rc < 0 && errno == EINTR);
  return rc > 0 && (p.revents & POLLIN) != 0;
}

}  // namespace

Event::Event(EventReset reset, bool initiallySet) : reset_(reset) {
  const int fd = ::eventfd(initiallySet ? 1 : 0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (fd < 0) throw std::system_error(errno, std::generic_category(), "eventfd");
  handle_ = fd;
  manualSet_.store(initiallySet && reset == EventReset::Manual);
}

Event::~Event() { ::close(descriptor(handle_)); }

void Event::set() {
  // Adding 1 to a counter that is already non-zero leaves the event set, as a second set should.
  sets_.fetch_add(1, std::memory_order_release);
  std::unique_lock<std::mutex> manual;
  if (reset_ == EventReset::Manual) {
    manual = std::unique_lock(manualLock_);
    manualSet_.store(true, std::memory_order_release);
  }
  const std::uint64_t one = 1;
  ssize_t rc;
  do {
    rc = ::write(descriptor(handle_), &one, sizeof one);
  } while (rc < 0 && errno == EINTR);
}

void Event::reset() {
  std::unique_lock<std::mutex> manual;
  if (reset_ == EventReset::Manual) {
    manual = std::unique_lock(manualLock_);
    manualSet_.store(false, std::memory_order_release);
  }
  // Reading an eventfd returns the counter and zeroes it; EAGAIN means it was already clear.
  std::uint64_t value;
  ssize_t rc;
  do {
    rc = ::read(descriptor(handle_), &value, sizeof value);
  } while (rc < 0 && errno == EINTR);
}

bool Event::isSet() const {
  if (reset_ == EventReset::Manual) return manualSet_.load(std::memory_order_acquire);
  if (!pollsReadable(descriptor(handle_))) return false;
  (void)sets_.load(std::memory_order_acquire);
  return true;
}

bool Event::take() {
  if (reset_ == EventReset::Manual) return isSet();
  // Of several threads reading at once exactly one gets the counter; the others see EAGAIN.
  std::uint64_t value;
  ssize_t rc;
  do {
    rc = ::read(descriptor(handle_), &value, sizeof value);
  } while (rc < 0 && errno == EINTR);
  if (rc != static_cast<ssize_t>(sizeof value)) return false;
  (void)sets_.load(std::memory_order_acquire);
  return true;
}

namespace detail {

int blockOnEvents(std::span<const Event* const> events, Clock::Duration timeout) {
  constexpr std::size_t kMax = 65;
  pollfd fds[kMax];
  const std::size_t count = events.size() < kMax ? events.size() : kMax;
  for (std::size_t i = 0; i < count; ++i) {
    fds[i] = pollfd{descriptor(events[i]->nativeHandle()), POLLIN, 0};
  }
  const auto start = std::chrono::steady_clock::now();
  for (;;) {
    timespec ts{};
    timespec* limit = nullptr;
    if (timeout != Clock::kInfinite) {
      auto left = timeout - (std::chrono::steady_clock::now() - start);
      if (left < Clock::Duration::zero()) left = Clock::Duration::zero();
      const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
      ts.tv_sec = static_cast<time_t>(ns / 1000000000);
      ts.tv_nsec = static_cast<long>(ns % 1000000000);
      limit = &ts;
    }
    const int rc = ::ppoll(fds, count, limit, nullptr);
    if (rc > 0) {
      for (std::size_t i = 0; i < count; ++i) {
        if (fds[i].revents != 0) return static_cast<int>(i);
      }
    }
    if (rc == 0) return kWaitTimedOut;
    if (rc < 0 && errno != EINTR) return kWaitTimedOut;
  }
}

}  // namespace detail

}  // namespace kvtr
