// kvtr-sim: a simulated КВТР module on a pseudo-terminal or behind a simulated network gateway. See UsageText() for the options.
//
// Life cycle: the first line of standard output is the slave's path or the gateway's port name
// (flushed at once); with
// --control - the lines after it answer the control commands. The simulator serves until
// SIGTERM, SIGINT or SIGHUP, or until its standard input ends when that is its control channel,
// so that a test that dies leaves no simulator behind. At exit it saves its state (--state) and
// removes its link (--link) and the FIFO it made (--control PATH).
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "common/atomic_file.h"
#include "common/catalogue.h"
#include "common/format.h"
#include "common/program_directory.h"
#include "common/user_interface.h"
#include "common/utf8_path.h"
#include "model/descriptor_loader.h"
#include "model/parameter_tree.h"
#include "sim/fault_injector.h"
#include "sim/frame_log.h"
#include "sim/network_endpoint.h"
#include "sim/parameter_table.h"
#include "sim/pty_endpoint.h"
#include "sim/sim_module.h"
#include "sim/sim_options.h"
#include "sim/sim_server.h"
#include "sim/value_store.h"

namespace {

using namespace kvtr;
using namespace kvtr::sim;

int stopPipe[2] = {-1, -1};

extern "C" void onStopSignal(int) {
  const char byte = 1;
  // Nothing to do when the pipe is full: a stop is already pending.
  [[maybe_unused]] const ssize_t n = ::write(stopPipe[1], &byte, 1);
}

bool installSignals(std::string& error) {
  if (::pipe(stopPipe) != 0) {
    error = tr("не удалось создать канал: ") + std::string(std::strerror(errno));
    return false;
  }
  for (const int fd : stopPipe) {
    (void)::fcntl(fd, F_SETFD, FD_CLOEXEC);
    (void)::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
  }
  struct sigaction action {};
  action.sa_handler = onStopSignal;
  sigemptyset(&action.sa_mask);
  for (const int s : {SIGTERM, SIGINT, SIGHUP}) ::sigaction(s, &action, nullptr);
  ::signal(SIGPIPE, SIG_IGN);
  return true;
}

// The descriptor loader's messages go to the standard error.
class StderrInterface : public UserInterface {
 public:
  void showMessage(const std::string& text, const std::string& caption, MessageIcon) override {
    std::fprintf(stderr, "kvtr-sim: %s: %s\n", caption.c_str(), text.c_str());
  }
  bool askYesNo(const std::string&, const std::string&) override { return false; }
};

int fail(const std::string& text) {
  std::fprintf(stderr, "kvtr-sim: %s\n", text.c_str());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  initCatalogue(programDirectory());
  const OptionsResult parsed = ParseOptions(std::vector<std::string>(argv + 1, argv + argc));
  if (!parsed.error.empty()) {
    std::fprintf(stderr, trFormat("kvtr-sim: %s\nПодробнее: «kvtr-sim --help».\n"), parsed.error.c_str());
    return 2;
  }
  const SimOptions& options = parsed.options;
  if (options.help) {
    std::fputs(UsageText().c_str(), stdout);
    return 0;
  }

  const std::filesystem::path descriptor =
      options.descriptor.empty() ? FindDescriptorFile(programDirectory()) : options.descriptor;
  ParameterTree tree;
  StderrInterface ui;
  const DescriptorLoadResult loaded = LoadDescriptor(tree, descriptor, ui);
  if (!loaded.complete) {
    return fail(strprintf(trFormat("не удалось загрузить описатель %s"), utf8FromPath(descriptor).c_str()) +
                (loaded.detail.empty() ? "" : ": " + loaded.detail));
  }
  std::vector<std::string> warnings;
  ParameterTable table = ParameterTable::FromTree(tree.root(), tree.scanners(), &warnings);
  for (const std::string& w : warnings) std::fprintf(stderr, "kvtr-sim: %s\n", w.c_str());

  std::optional<ValueStore> memory;
  std::error_code ec;
  if (!options.stateFile.empty() && std::filesystem::exists(options.stateFile, ec)) {
    std::vector<std::uint8_t> bytes;
    std::string error;
    if (!readWholeFile(options.stateFile, bytes, &error)) return fail(error);
    memory = StoreFromText(std::string(bytes.begin(), bytes.end()), table, &error);
    if (!memory) return fail(utf8FromPath(options.stateFile) + ": " + error);
  }

  std::string error;
  if (!installSignals(error)) return fail(error);
  SimModule module(std::move(table), options.identity, options.inputs, std::move(memory), options.line,
                   options.protocol, 0);
  PtyEndpoint pty;
  NetworkEndpoint network;
  LineEndpoint* line = &pty;
  if (options.networkPort) {
    if (!network.Open(options.rfc2217, static_cast<std::uint16_t>(*options.networkPort), module.line(), error)) {
      return fail(error);
    }
    line = &network;
  } else {
    if (!pty.Open(module.line(), error)) return fail(error);
    if (!options.link.empty() && !pty.AddLink(options.link, error)) return fail(error);
  }
  FrameLog log;
  if (!options.logFile.empty() && !log.Open(options.logFile, error)) return fail(error);

  int controlFd = -1;
  bool madeFifo = false;
  if (options.control == "-") {
    controlFd = STDIN_FILENO;
  } else if (!options.control.empty()) {
    if (::mkfifo(options.control.c_str(), 0600) == 0) {
      madeFifo = true;
    } else if (errno != EEXIST) {
      return fail(strprintf(trFormat("не удалось создать FIFO %s: %s"), options.control.c_str(), std::strerror(errno)));
    }
    // Opened for writing too, so that the FIFO never reports an end when a writer goes.
    controlFd = ::open(options.control.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (controlFd < 0) {
      return fail(strprintf(trFormat("не удалось открыть %s: %s"), options.control.c_str(), std::strerror(errno)));
    }
  }

  ServerSettings settings;
  settings.wireTime = options.wireTime;
  settings.stateFile = options.stateFile;
  FaultInjector faults(options.faults);
  SimServer server(module, faults, *line, log, settings);
  log.Note(strprintf(trFormat("обслуживаю %s при %s"), line->name().c_str(), module.line().describe().c_str()));
  std::printf("%s\n", line->name().c_str());
  std::fflush(stdout);

  const int result = server.Run(stopPipe[0], controlFd, options.control == "-");
  if (!server.SaveState(error)) std::fprintf(stderr, "kvtr-sim: %s\n", error.c_str());
  if (madeFifo) ::unlink(options.control.c_str());
  log.Note(tr("остановлен"));
  return result;
}
