// Runs one of the built programs with arguments and collects what it writes and how it ends.
#pragma once

#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <string>
#include <string_view>
#include <vector>

extern char** environ;

namespace kvtr::testing {

struct ToolRun {
  std::string out;
  std::string err;
  int exitCode = -1;  // -1 when the program did not exit normally (a signal)
};

// The environment of this process with the locale variables replaced by LANG=`lang` alone.
inline std::vector<std::string> environmentWithLanguage(const char* lang) {
  std::vector<std::string> env;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string_view text(*entry);
    const std::string_view name = text.substr(0, text.find('='));
    if (name == "LC_ALL" || name == "LC_MESSAGES" || name == "LANG" || name == "LANGUAGE") continue;
    env.emplace_back(text);
  }
  env.push_back(std::string("LANG=") + lang);
  return env;
}

// Starts KVTR_BIN_DIR/<program> with `args`, reads both output streams to their end (polling
// both, so that neither pipe can fill up and stall the program) and waits for it. With `lang`,
// the program runs under that locale (LANG=lang, no other locale variable).
inline ToolRun runTool(const std::string& program, const std::vector<std::string>& args,
                       const char* lang = nullptr) {
  ToolRun run;
  const std::string path = std::string(KVTR_BIN_DIR) + "/" + program;
  int outPipe[2];
  int errPipe[2];
  if (pipe(outPipe) != 0 || pipe(errPipe) != 0) return run;

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
  posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
  for (const int fd : {outPipe[0], outPipe[1], errPipe[0], errPipe[1]}) posix_spawn_file_actions_addclose(&actions, fd);

  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(path.c_str()));
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);

  std::vector<std::string> envText;
  std::vector<char*> envp;
  if (lang != nullptr) {
    envText = environmentWithLanguage(lang);
    for (std::string& entry : envText) envp.push_back(entry.data());
    envp.push_back(nullptr);
  }

  pid_t pid = 0;
  const int spawned =
      posix_spawn(&pid, path.c_str(), &actions, nullptr, argv.data(), lang != nullptr ? envp.data() : environ);
  posix_spawn_file_actions_destroy(&actions);
  close(outPipe[1]);
  close(errPipe[1]);
  if (spawned != 0) {
    close(outPipe[0]);
    close(errPipe[0]);
    return run;
  }

  std::array<pollfd, 2> fds{{{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}}};
  std::array<std::string*, 2> sinks{&run.out, &run.err};
  int open = 2;
  while (open > 0) {
    if (poll(fds.data(), fds.size(), -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (std::size_t i = 0; i < fds.size(); ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      char buffer[4096];
      const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        sinks[i]->append(buffer, static_cast<std::size_t>(n));
      } else {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open;
      }
    }
  }
  int status = 0;
  waitpid(pid, &status, 0);
  run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

}  // namespace kvtr::testing
