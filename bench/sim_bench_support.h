// The simulated module for the benchmarks: kvtr-sim started by its path and stopped by its
// process id. It prints the pseudo-terminal's slave path as its first line.
#pragma once

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

extern char** environ;

namespace kvtr {

class SimRunner {
 public:
  explicit SimRunner(std::vector<std::string> options) {
    const std::string program = std::string(KVTR_BIN_DIR) + "/kvtr-sim";
    int out[2];
    if (::pipe(out) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    posix_spawn_file_actions_addclose(&actions, out[1]);
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (auto& o : options) argv.push_back(o.data());
    argv.push_back(nullptr);
    const int spawned = posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    if (spawned != 0) {
      pid_ = -1;
      ::close(out[0]);
      return;
    }
    output_ = out[0];
    std::string line;
    pollfd fd{output_, POLLIN, 0};
    while (line.find('\n') == std::string::npos && ::poll(&fd, 1, 10000) > 0) {
      char buffer[256];
      const ssize_t n = ::read(output_, buffer, sizeof buffer);
      if (n <= 0) break;
      line.append(buffer, static_cast<std::size_t>(n));
    }
    if (const auto end = line.find('\n'); end != std::string::npos) port_ = line.substr(0, end);
  }
  ~SimRunner() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      int status = 0;
      ::waitpid(pid_, &status, 0);
    }
    if (output_ >= 0) ::close(output_);
  }
  SimRunner(const SimRunner&) = delete;
  SimRunner& operator=(const SimRunner&) = delete;
  // Empty when the simulator did not start or did not name its port.
  [[nodiscard]] const std::string& port() const { return port_; }
  [[nodiscard]] pid_t pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
  int output_ = -1;
  std::string port_;
};

}  // namespace kvtr
