#include "sim/sim_server.h"

#include "common/catalogue.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <thread>

#include "common/atomic_file.h"
#include "common/format.h"
#include "protocol/frame_codec.h"

namespace kvtr::sim {

namespace {

std::chrono::microseconds fromMs(double ms) {
  return std::chrono::microseconds(static_cast<std::int64_t>(std::llround(ms * 1000.0)));
}

}  // namespace

SimServer::SimServer(SimModule& module, FaultInjector& faults, LineEndpoint& line, FrameLog& log,
                     ServerSettings settings)
    : module_(module), faults_(faults), line_(line), log_(log), settings_(std::move(settings)), start_(Clock::now()) {
  for (const SimParameter& p : module_.table().all()) otherHashes_.push_back(p.hash);
}

Millis SimServer::Now() const {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start_).count();
}

int SimServer::Run(int stopFd, int controlFd, bool controlEndsRun) {
  stopFd_ = stopFd;
  std::vector<ReceivedFrame> frames;
  char buffer[4096];
  while (!stop_) {
    assembler_.SetMode(module_.protocol());
    const double silenceMs = 3.5 * module_.line().characterMs();
    int timeout = -1;
    if (const auto deadline = assembler_.SilenceDeadline(silenceMs)) {
      timeout = static_cast<int>(std::max<Millis>(0, *deadline - Now()));
    }
    pollfd fds[3] = {{stopFd, POLLIN, 0}, {line_.pollFd(), POLLIN, 0}, {controlFd, POLLIN, 0}};
    const nfds_t count = controlFd >= 0 ? 3 : 2;
    const int ready = ::poll(fds, count, timeout);
    if (ready < 0) {
      if (errno == EINTR) continue;
      std::fprintf(stderr, trFormat("kvtr-sim: ошибка poll: %s\n"), std::strerror(errno));
      return 1;
    }
    if ((fds[0].revents & POLLIN) != 0) break;
    frames.clear();
    if ((fds[1].revents & POLLIN) != 0) {
      const long n = line_.Read(buffer, sizeof buffer);
      if (n > 0) assembler_.Feed(std::string_view(buffer, static_cast<std::size_t>(n)), Now(), frames);
    } else if ((fds[1].revents & (POLLHUP | POLLERR)) != 0) {
      // Cannot happen while the simulator holds the slave open; do not spin if it does.
      ::poll(nullptr, 0, 10);
    }
    assembler_.Expire(Now(), silenceMs, frames);
    for (const ReceivedFrame& frame : frames) {
      if (stop_) break;
      Process(frame);
    }
    AnswerWaits();
    // Control commands come after the frames that arrived with them.
    if (count == 3 && fds[2].revents != 0) ReadControl(controlFd, controlEndsRun);
  }
  return 0;
}

void SimServer::AnswerWaits() {
  while (!waits_.empty() && framesReceived_ >= waits_.front()) {
    waits_.erase(waits_.begin());
    Acknowledge("ok");
    // Commands that came after the wait run now, in their order.
    RunQueuedCommands();
  }
}

void SimServer::Acknowledge(const std::string& answer) {
  std::printf("%s\n", answer.c_str());
  std::fflush(stdout);
}

void SimServer::Process(const ReceivedFrame& frame) {
  ++framesReceived_;
  if (log_.isOpen()) log_.Received(frame.bytes);
  const LineSettings line = module_.line();
  const LineView view = line_.View(line);
  if (!hears(line, view)) {
    const std::string mismatch = mismatchText(line, view);
    log_.Note(tr("не услышан: ") + mismatch);
    if (line_.toldSettings() && mismatch != toldMismatch_) {
      std::fprintf(stderr, trFormat("kvtr-sim: не отвечаю: настройки, заданные по RFC 2217, не совпадают с настройками прибора: %s\n"),
                   mismatch.c_str());
      toldMismatch_ = mismatch;
    }
    return;
  }
  toldMismatch_.clear();
  if (settings_.wireTime) {
    // The frame has only fully arrived once its last character has had its time on the wire.
    const auto arrived = start_ + std::chrono::milliseconds(frame.firstAt) +
                         fromMs(static_cast<double>(frame.bytes.size()) * line.characterMs());
    if (!WaitUntil(arrived)) return;
  }
  const bool native = module_.protocol() == ProtocolMode::Native;
  const Reply reply =
      native ? module_.HandleNative(frame.bytes, Now())
             : module_.HandleForeign(
                   std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(frame.bytes.data()),
                                                 frame.bytes.size()),
                   Now());
  if (!reply.note.empty()) log_.Note(reply.note);
  // The memory is kept before the answer goes out: whoever sees the answer finds the file current.
  if (module_.dirty() && !settings_.stateFile.empty()) {
    std::string error;
    if (!SaveState(error)) std::fprintf(stderr, "kvtr-sim: %s\n", error.c_str());
  }
  if (reply.answered) {
    // The other parameters' hashes are gathered only when a fault may put one in the answer.
    others_.clear();
    if (faults_.settings().rule(FaultKind::OtherHash).active()) {
      for (const std::uint16_t h : otherHashes_) {
        if (h != reply.hash && h != kErrorReplyHash) others_.push_back(h);
      }
    }
    const AnswerPlan plan = faults_.Plan(reply.line, native, others_);
    if (!plan.fault.empty()) log_.Note(tr("сбой: ") + plan.fault);
    if (plan.send) {
      const auto due = Clock::now() + std::chrono::milliseconds(module_.replyDelayMs() + plan.extraDelayMs);
      if (!WaitUntil(due)) return;
      Send(plan.bytes, settings_.wireTime ? reply.sentWith.characterMs() : 0.0, plan.byteGapMs);
      if (log_.isOpen()) log_.Sent(plan.bytes);
    }
  }
}

bool SimServer::WaitUntil(Clock::time_point until) {
  for (;;) {
    const auto left = until - Clock::now();
    if (left <= Clock::duration::zero()) return !stop_;
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(left).count();
    if (ms < 2) {
      // Below the resolution of poll: a plain sleep is exact enough for a character time.
      std::this_thread::sleep_until(until);
      return !stop_;
    }
    pollfd fd{stopFd_, POLLIN, 0};
    if (::poll(&fd, 1, static_cast<int>(ms - 1)) > 0) {
      stop_ = true;
      return false;
    }
  }
}

void SimServer::Send(const std::string& bytes, double characterMs, int gapMs) {
  auto writeAll = [&](const char* data, std::size_t size) { line_.Write(data, size); };
  if (characterMs <= 0.0 && gapMs <= 0) {
    writeAll(bytes.data(), bytes.size());
    return;
  }
  // Each character leaves when its predecessors have had their time on the wire.
  auto next = Clock::now();
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    next += fromMs(characterMs);
    if (!WaitUntil(next)) return;
    writeAll(&bytes[i], 1);
    if (gapMs > 0) {
      next += std::chrono::milliseconds(gapMs);
    }
  }
}

void SimServer::ReadControl(int fd, bool endsRun) {
  char buffer[1024];
  const ssize_t n = ::read(fd, buffer, sizeof buffer);
  if (n == 0) {
    if (endsRun) stop_ = true;
    return;
  }
  if (n < 0) return;
  controlBuffer_.append(buffer, static_cast<std::size_t>(n));
  RunQueuedCommands();
}

void SimServer::RunQueuedCommands() {
  // A "frames N" that is still waiting holds back the commands after it.
  for (std::size_t end; waits_.empty() && (end = controlBuffer_.find('\n')) != std::string::npos;) {
    const std::string line = controlBuffer_.substr(0, end);
    controlBuffer_.erase(0, end + 1);
    std::string error;
    const std::optional<ControlCommand> command = ParseControl(line, error);
    if (command && command->kind == ControlCommand::Kind::Frames && command->flag) {
      if (framesReceived_ < static_cast<std::uint64_t>(command->number)) {
        waits_.push_back(static_cast<std::uint64_t>(command->number));
        continue;
      }
    }
    Acknowledge(command ? Execute(*command) : "error: " + error);
  }
}

std::string SimServer::Execute(const ControlCommand& c) {
  using Kind = ControlCommand::Kind;
  switch (c.kind) {
    case Kind::Ping: break;
    case Kind::Frames:
      return c.flag ? "ok" : strprintf("ok %llu", static_cast<unsigned long long>(framesReceived_));
    case Kind::Fault: faults_.SetRule(c.fault, c.rule); break;
    case Kind::FaultsOff: faults_.ClearRules(); break;
    case Kind::Delay: faults_.settings().delayMs = c.number; break;
    case Kind::Slow: faults_.settings().slowReplyMs = c.number; break;
    case Kind::LateMs: faults_.settings().lateMs = c.number; break;
    case Kind::WireTime: settings_.wireTime = c.flag; break;
    case Kind::InputsAuto: module_.SetInputsAutomatic(Now()); break;
    case Kind::InputsFixed: module_.SetInputsFixed(static_cast<std::uint16_t>(c.number), Now()); break;
    case Kind::Attributes:
      if (!module_.SetAttributes(c.name, c.index, static_cast<std::uint8_t>(c.number))) {
        return "error: no parameter " + c.name + strprintf(" at index %d", c.index);
      }
      break;
    case Kind::Factory: module_.RestoreFactory(Now()); break;
    case Kind::Save: {
      if (settings_.stateFile.empty()) return "error: no state file (--state)";
      std::string error;
      if (!SaveState(error)) return "error: " + error;
      break;
    }
  }
  if (module_.dirty() && !settings_.stateFile.empty() && c.kind != Kind::Save) {
    std::string error;
    if (!SaveState(error)) return "error: " + error;
  }
  return "ok";
}

bool SimServer::SaveState(std::string& error) {
  if (settings_.stateFile.empty()) return true;
  const std::string text = StoreToText(module_.SaveState(Now()), module_.table());
  return writeFileAtomically(settings_.stateFile,
                             std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()),
                             &error);
}

}  // namespace kvtr::sim
