#include "integration/sim_fixture.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "protocol/network_port_name.h"

extern char** environ;

namespace kvtr::test {

namespace {

using Clock = std::chrono::steady_clock;

int millisecondsLeft(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left < 0 ? 0 : static_cast<int>(left);
}

// Waits for the child to end: on its pidfd where the kernel has them, else by polling waitpid.
bool waitForExit(pid_t pid, int& status, Clock::time_point deadline) {
#if defined(SYS_pidfd_open)
  const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
  if (pidfd >= 0) {
    pollfd fd{pidfd, POLLIN, 0};
    while (::poll(&fd, 1, millisecondsLeft(deadline)) < 0 && errno == EINTR) {
    }
    ::close(pidfd);
    return ::waitpid(pid, &status, WNOHANG) == pid;
  }
#endif
  for (;;) {
    if (::waitpid(pid, &status, WNOHANG) == pid) return true;
    if (Clock::now() >= deadline) return false;
    ::usleep(5000);
  }
}

}  // namespace

SimProcess::~SimProcess() { Stop(); }

std::filesystem::path SimProcess::ProgramPath() { return std::filesystem::path(KVTR_BIN_DIR) / "kvtr-sim"; }

bool SimProcess::Start(const std::vector<std::string>& options, std::string* error,
                       std::chrono::milliseconds timeout) {
  auto failed = [&](const std::string& text) {
    if (error != nullptr) *error = text;
    Stop();
    return false;
  };
  if (running()) return failed("already running");
  int in[2];
  int out[2];
  if (::pipe2(in, O_CLOEXEC) != 0) return failed(std::string("pipe: ") + std::strerror(errno));
  if (::pipe2(out, O_CLOEXEC) != 0) {
    ::close(in[0]);
    ::close(in[1]);
    return failed(std::string("pipe: ") + std::strerror(errno));
  }
  std::string errorTemplate = (std::filesystem::temp_directory_path() / "kvtr-sim-stderr-XXXXXX").string();
  const int errorFd = ::mkostemp(errorTemplate.data(), O_CLOEXEC);
  if (errorFd >= 0) errorFile_ = errorTemplate;

  std::vector<std::string> args{ProgramPath().string()};
  args.insert(args.end(), options.begin(), options.end());
  args.insert(args.end(), {"--control", "-"});
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  // A simulator that has died must not take the test with it when a command is written to it.
  ::signal(SIGPIPE, SIG_IGN);
  // The simulator starts with every signal unblocked and at its default, whatever the thread
  // that starts it has blocked or ignored: SIGTERM must reach it.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none;
  sigset_t defaults;
  sigemptyset(&none);
  sigemptyset(&defaults);
  for (const int signal : {SIGTERM, SIGINT, SIGHUP, SIGPIPE}) sigaddset(&defaults, signal);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  if (errorFd >= 0) posix_spawn_file_actions_adddup2(&actions, errorFd, STDERR_FILENO);
  pid_t pid = -1;
  const int spawned = ::posix_spawn(&pid, argv[0], &actions, &attributes, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  ::close(in[0]);
  ::close(out[1]);
  if (errorFd >= 0) ::close(errorFd);
  input_ = in[1];
  output_ = out[0];
  if (spawned != 0) return failed("cannot start " + ProgramPath().string() + ": " + std::strerror(spawned));
  pid_ = pid;

  std::string line;
  // A slave path, or with --tcp and --rfc2217 the gateway's port name.
  if (!ReadLine(line, timeout) || line.empty() || (line[0] != '/' && !isNetworkPortName(line))) {
    const std::string why = ErrorOutput();
    return failed("kvtr-sim did not report its port" + (why.empty() ? std::string() : ": " + why));
  }
  port_ = line;
  return true;
}

bool SimProcess::ReadLine(std::string& line, std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  for (;;) {
    const std::size_t end = outputBuffer_.find('\n');
    if (end != std::string::npos) {
      line = outputBuffer_.substr(0, end);
      outputBuffer_.erase(0, end + 1);
      return true;
    }
    if (output_ < 0) return false;
    pollfd fd{output_, POLLIN, 0};
    const int ready = ::poll(&fd, 1, millisecondsLeft(deadline));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return false;
    char buffer[512];
    const ssize_t n = ::read(output_, buffer, sizeof buffer);
    if (n <= 0) return false;
    outputBuffer_.append(buffer, static_cast<std::size_t>(n));
  }
}

std::string SimProcess::Control(const std::string& command, std::chrono::milliseconds timeout) {
  if (!running() || input_ < 0) return {};
  const std::string line = command + "\n";
  if (::write(input_, line.data(), line.size()) != static_cast<ssize_t>(line.size())) return {};
  std::string answer;
  return ReadLine(answer, timeout) ? answer : std::string();
}

int SimProcess::Stop(std::chrono::milliseconds timeout) {
  int result = -1;
  if (pid_ > 0) {
    ::kill(pid_, SIGTERM);
    int status = 0;
    if (!waitForExit(pid_, status, Clock::now() + timeout)) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, &status, 0);
    }
    result = WIFEXITED(status) ? WEXITSTATUS(status) : WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
    pid_ = -1;
  }
  if (input_ >= 0) ::close(input_);
  if (output_ >= 0) ::close(output_);
  input_ = output_ = -1;
  outputBuffer_.clear();
  if (!errorFile_.empty()) {
    std::error_code ec;
    std::filesystem::remove(errorFile_, ec);
    errorFile_.clear();
  }
  return result;
}

std::string SimProcess::ErrorOutput() const {
  if (errorFile_.empty()) return {};
  std::ifstream file(errorFile_);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

void SimFixture::TearDown() {
  for (auto& sim : sims_) sim->Stop();
  sims_.clear();
  if (scratchSettings_) {
    ::unsetenv("XDG_CONFIG_HOME");
    ::unsetenv("XDG_RUNTIME_DIR");
    scratchSettings_ = false;
  }
  if (!scratch_.empty()) {
    std::error_code ec;
    std::filesystem::remove_all(scratch_, ec);
  }
}

SimProcess& SimFixture::StartSim(const std::vector<std::string>& options) {
  sims_.push_back(std::make_unique<SimProcess>());
  std::string error;
  if (!sims_.back()->Start(options, &error)) ADD_FAILURE() << "kvtr-sim did not start: " << error;
  return *sims_.back();
}

std::string SimFixture::ScratchPath(const std::string& name) {
  if (scratch_.empty()) {
    std::string folder = (std::filesystem::temp_directory_path() / "kvtr-test-XXXXXX").string();
    if (::mkdtemp(folder.data()) != nullptr) scratch_ = folder;
  }
  return (scratch_ / name).string();
}

void SimFixture::UseScratchSettings() {
  ::setenv("XDG_CONFIG_HOME", ScratchPath("config").c_str(), 1);
  std::filesystem::create_directories(ScratchPath("run"));
  std::filesystem::permissions(ScratchPath("run"), std::filesystem::perms::owner_all);
  ::setenv("XDG_RUNTIME_DIR", ScratchPath("run").c_str(), 1);
  scratchSettings_ = true;
}

}  // namespace kvtr::test
