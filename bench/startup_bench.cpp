// How fast the desktop program comes up and how much memory it takes: kvtr-configurator is started
// against the simulated module with "/port:PTY /close" (the connection check, the shipped
// descriptor's tree, the main window shown, then closed at once since there is no job), on Qt's
// offscreen platform unless a display is set. Prints the median wall time of a run from the
// process start to its end and the peak resident memory of the program with the tree loaded.
#include <sys/resource.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "sim_bench_support.h"

namespace {

struct RunFigures {
  double seconds = 0;
  long peakKilobytes = 0;
  int exitCode = -1;
};

RunFigures runOnce(const std::string& program, const std::string& port) {
  RunFigures figures;
  std::vector<std::string> args{program, "/port:" + port, "/close"};
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  const auto start = std::chrono::steady_clock::now();
  pid_t pid = 0;
  if (posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ) != 0) return figures;
  int status = 0;
  rusage usage{};
  if (::wait4(pid, &status, 0, &usage) != pid) return figures;
  figures.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  figures.peakKilobytes = usage.ru_maxrss;
  figures.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return figures;
}

}  // namespace

int main() {
  const std::string program = std::string(KVTR_BIN_DIR) + "/kvtr-configurator";
  if (!std::filesystem::exists(program)) {
    std::fprintf(stderr, "startup_bench: %s is not built\n", program.c_str());
    return 1;
  }
  if (std::getenv("DISPLAY") == nullptr && std::getenv("WAYLAND_DISPLAY") == nullptr) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
  }
  // The program's settings of this run stay in a folder of its own.
  const std::filesystem::path config = std::filesystem::temp_directory_path() / "kvtr-startup-bench";
  std::filesystem::create_directories(config);
  ::setenv("XDG_CONFIG_HOME", config.c_str(), 1);

  kvtr::SimRunner sim({});
  if (sim.port().empty()) {
    std::fprintf(stderr, "startup_bench: the simulated module did not start\n");
    return 1;
  }
  constexpr int kRuns = 5;
  std::vector<double> times;
  long peak = 0;
  for (int i = 0; i < kRuns; ++i) {
    const RunFigures run = runOnce(program, sim.port());
    if (run.exitCode != 0) {
      std::fprintf(stderr, "startup_bench: kvtr-configurator ended with %d\n", run.exitCode);
      return 1;
    }
    times.push_back(run.seconds);
    peak = std::max(peak, run.peakKilobytes);
  }
  std::sort(times.begin(), times.end());
  std::printf("start to main window shown and closed (median of %d): %.0f ms (target under 1000 ms)\n", kRuns,
              times[kRuns / 2] * 1000.0);
  std::printf("fastest: %.0f ms, slowest: %.0f ms\n", times.front() * 1000.0, times.back() * 1000.0);
  std::printf("peak resident memory with the shipped tree loaded: %.1f MiB\n", static_cast<double>(peak) / 1024.0);
  std::filesystem::remove_all(config);
  return 0;
}
