// The exchange path under a long run against the simulated module at 115200 baud, every character
// taking its time on the wire and one answer in ten (by default) spoilt by the simulator's faults:
// drop, garbage, lost-start, bad-crc, other-hash and late, in equal shares.
//
//   kvtr_soak [--exchanges N] [--seed S] [--fault-percent P]
//       N reads (default 10000) through the device link, one parameter at a time, the parameter
//       drawn anew for each read. Every value the link accepts must be the module's value, every
//       failure must carry its text, no read may outlast what the link's time-outs allow, and the
//       memory must not grow after the warm-up.
//   kvtr_soak --polling SECONDS [--seed S] [--fault-percent P]
//       The inputs and outputs polling, as the "Состояние входов и выходов" window and
//       `kvtr watch` run it, for SECONDS: polls, failures, the longest pause between two polls,
//       memory and processor time at the start and the end.
//
// The figures go to the standard output; the exit code is 0 only when every check holds.
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "common/user_interface.h"
#include "exchange/exchange_engine.h"
#include "exchange/inputs_outputs.h"
#include "integration/module_state.h"
#include "integration/sim_fixture.h"
#include "model/descriptor_loader.h"
#include "model/parameter_tree.h"
#include "protocol/device_link.h"
#include "protocol/network_settings.h"

namespace kvtr::soak {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr const char* kFaultKinds[] = {"drop", "garbage", "lost-start", "bad-crc", "other-hash", "late"};
constexpr std::size_t kKindCount = std::size(kFaultKinds);
// Growth of the resident memory after the warm-up that is still taken for noise of the allocator.
constexpr long kMemoryMarginKiB = 512;

struct Options {
  long exchanges = 10000;
  int pollingSeconds = 0;
  unsigned long seed = 7;
  double faultPercent = 10.0;
};

long residentKiB() {
  long pages = 0;
  long resident = 0;
  std::ifstream statm("/proc/self/statm");
  statm >> pages >> resident;
  return resident * (::sysconf(_SC_PAGESIZE) / 1024);
}

double cpuSeconds() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// The fault mix, set on the simulator's control channel. The simulator tries the kinds in a fixed
// order and the first that fires decides, so the k-th kind is given q / (1 - k q): each then spoils
// a share q of the answers, and the six together 6 q (10 %: q = 1/60, drop 1/60, garbage 1/59 ...
// late 1/55). A late answer comes after 250 ms, between
// the second and the third reply time-out of the request, so that the link may still take it.
bool startFaults(test::SimProcess& sim, double percent) {
  if (sim.Control("late-ms 250") != "ok") return false;
  const double q = percent / 100.0 / static_cast<double>(kKindCount);
  for (std::size_t k = 0; k < kKindCount && q > 0.0; ++k) {
    char probability[32];
    std::snprintf(probability, sizeof probability, "%.7f", q / (1.0 - static_cast<double>(k) * q));
    if (sim.Control(std::string("fault ") + kFaultKinds[k] + " probability " + probability) != "ok") return false;
  }
  return true;
}

// The faults the simulator noted in its frame log ("-- <note>: KIND"), and the answers it planned:
// those it sent and those it dropped.
struct FaultCounts {
  long byKind[kKindCount] = {};
  long answers = 0;
  [[nodiscard]] long total() const {
    long n = 0;
    for (const long k : byKind) n += k;
    return n;
  }
};

FaultCounts countFaults(const std::string& logPath) {
  FaultCounts counts;
  std::ifstream log(logPath);
  for (std::string line; std::getline(log, line);) {
    if (line.rfind("TX ", 0) == 0) ++counts.answers;
    if (line.rfind("-- ", 0) != 0) continue;
    const std::size_t colon = line.rfind(": ");
    if (colon == std::string::npos) continue;
    const std::string kind = line.substr(colon + 2);
    for (std::size_t k = 0; k < kKindCount; ++k) {
      if (kind != kFaultKinds[k]) continue;
      ++counts.byKind[k];
      if (kind == "drop") ++counts.answers;
    }
  }
  return counts;
}

void printFaults(const FaultCounts& faults) {
  std::printf("faults injected:     %ld of %ld answers (%.2f %%):", faults.total(), faults.answers,
              faults.answers > 0 ? 100.0 * static_cast<double>(faults.total()) / static_cast<double>(faults.answers) : 0.0);
  for (std::size_t k = 0; k < kKindCount; ++k) std::printf(" %s %ld", kFaultKinds[k], faults.byKind[k]);
  std::printf("\n");
}

// A scratch folder for the simulator's log and memory, removed at the end.
struct Scratch {
  Scratch() {
    std::string folder = (std::filesystem::temp_directory_path() / "kvtr-soak-XXXXXX").string();
    if (::mkdtemp(folder.data()) != nullptr) path = folder;
  }
  ~Scratch() {
    std::error_code ec;
    if (!path.empty()) std::filesystem::remove_all(path, ec);
  }
  [[nodiscard]] std::string file(const char* name) const { return (path / name).string(); }
  std::filesystem::path path;
};

// The longest one read may take. The link sends a request up to 4 times on time-outs, 17 times on
// line errors and 16 times on answers without a frame start, after up to 4 reply time-outs of
// dropping answers that came late for an earlier request. Each send is the request on the wire,
// then one reply time-out at most; 10 ms each for the scheduler of a busy machine. At 115200 baud,
// 8N1: (44 characters x 0.0868 ms + 110 ms + 10 ms) x 41 = 5076 ms.
std::chrono::milliseconds longestRead(const SerialPort& port) {
  const double send = static_cast<double>(kMaxFrameChars) * port.characterTimeMs() + port.replyTimeoutMs() + 10.0;
  return std::chrono::milliseconds(static_cast<long>((4 + 4 + 17 + 16) * send));
}

void setLine(DeviceLink& link, const std::string& port) {
  NetRS485prg& node = link.programPortNode();
  node.SetValueByName(kPortParameterName, port);
  node.SetValueByName("bPS", "115200");
  node.SetValueByName("Addr", "16");
  node.SetValueByName("A.Len", "8");
  // The kind of converter the program tries first.
  link.serialPort().settings().automaticConverter = 1;
}

// The parameters read, each set to its own value first so that an answer given for one of them
// can never pass for another's.
struct Target {
  const char* name;
  const char* type;
  int index;
  const char* written;
};
constexpr Target kTargets[] = {
    {"I.Flt", "int", 1, "11"},
    {"I.Flt", "int", 7, "77"},
    {"I.Flt", "int", 11, "111"},
    {"I.inv", "Нет:Да", 6, "Да"},
    {"C.Mod", "Выключен:Суммирование:Вычитание:Суммирование_с_автосбросом:<hide>Служебный", 4, "Вычитание"},
    {"C.Pre", "int", 2, "40000"},
    {"C.Lim", "int", 9, "1234"},
    {"P.Per", "int", 3, "2500"},
    {"P.Lo", "float", 5, "12.5"},
    {"P.Hi", "float", 0, "87.5"},
    {"O.Pon", "Выключен:Включен:Как_до_отключения", 2, "Включен"},
    {"clb.k", "int", 13, "4000"},
    {"t.Lnk", "CLK_frm", -1, "01:30"},
    {"C.Sav", "Нет:Да", -1, "Нет"},
};

std::unique_ptr<Parameter> makeParameter(const Target& t) {
  auto p = std::make_unique<Parameter>(t.name, t.type, "soak");
  if (t.index >= 0) {
    p->hasIndex = 1;
    p->index = t.index;
  }
  return p;
}

int runExchanges(const Options& options) {
  const long startKiB = residentKiB();
  Scratch scratch;
  const std::string log = scratch.file("frames.log");
  const std::string memory = scratch.file("module.state");
  test::SimProcess sim;
  std::string error;
  if (!sim.Start({"--baud", "115200", "--wire-time", "--log", log, "--state", memory, "--seed",
                  std::to_string(options.seed)},
                 &error)) {
    std::fprintf(stderr, "kvtr_soak: %s\n", error.c_str());
    return 1;
  }
  LinkState state;
  DeviceLinkOptions linkOptions;
  linkOptions.state = &state;
  linkOptions.portChoices = sim.port();
  DeviceLink link(linkOptions);
  setLine(link, sim.port());
  if (link.OpenLink(false) != 0) {
    std::fprintf(stderr, "kvtr_soak: %s\n", link.PortFailureText().c_str());
    return 1;
  }

  // On a clean line: every target gets its value, and the module's memory says what it holds.
  for (const Target& t : kTargets) {
    auto p = makeParameter(t);
    if (!p->SetValueFromText(t.written) || link.Transact(false, p.get()) != kTransactOk) {
      std::fprintf(stderr, "kvtr_soak: %s[%d] not written: %s\n", t.name, t.index, p->comment.c_str());
      return 1;
    }
  }
  if (sim.Control("save") != "ok") return 1;
  const test::ModuleState held = test::ReadModuleState(memory);
  std::vector<std::string> expected;
  for (const Target& t : kTargets) {
    auto p = makeParameter(t);
    expected.push_back(test::ModuleValue(held, *p));
    if (expected.back().empty() || expected.back()[0] == '<') {
      std::fprintf(stderr, "kvtr_soak: the module's memory has no %s[%d]: %s\n", t.name, t.index, expected.back().c_str());
      return 1;
    }
  }
  // The faults start now, counted from here in the frame log.
  std::filesystem::resize_file(log, 0);
  if (!startFaults(sim, options.faultPercent)) return 1;

  const auto bound = longestRead(link.serialPort());

  // The watchdog: a read that outlasts the bound is a hang; the stop event ends it, and the count
  // goes on. The read under way and its start are kept under the mutex, so that the read the
  // watchdog stops is always the one it timed.
  std::mutex watched;
  long running = -1;
  Clock::time_point startedAt;
  std::atomic<long> stoppedRead{-1};
  std::atomic<bool> finished{false};
  std::thread watchdog([&] {
    while (!finished.load()) {
      std::this_thread::sleep_for(20ms);
      std::lock_guard lock(watched);
      if (running >= 0 && stoppedRead.load() != running && Clock::now() - startedAt > bound) {
        stoppedRead.store(running);
        link.serialPort().stopEvent().set();
      }
    }
  });

  std::mt19937 random(static_cast<std::mt19937::result_type>(options.seed));
  std::uniform_int_distribution<std::size_t> pick(0, std::size(kTargets) - 1);
  const long warmUp = std::max(100L, options.exchanges / 10);
  long warmKiB = residentKiB();
  long accepted = 0;
  long wrong = 0;
  long hangs = 0;
  long withoutText = 0;
  std::map<std::string, long> failures;
  Clock::duration longest{};
  for (long i = 0; i < options.exchanges; ++i) {
    if (i == warmUp) warmKiB = residentKiB();
    const std::size_t which = pick(random);
    auto p = makeParameter(kTargets[which]);
    const auto start = Clock::now();
    {
      std::lock_guard lock(watched);
      running = i;
      startedAt = start;
    }
    const int result = link.Transact(true, p.get());
    {
      std::lock_guard lock(watched);
      running = -1;
    }
    longest = std::max(longest, Clock::now() - start);
    if (stoppedRead.load() == i) {
      ++hangs;
      link.serialPort().stopEvent().reset();
      continue;
    }
    if (result == kTransactOk) {
      ++accepted;
      if (p->value != expected[which]) {
        ++wrong;
        std::printf("WRONG VALUE: %s[%d] = \"%s\", the module holds \"%s\"\n", p->name.c_str(), p->index,
                    p->value.c_str(), expected[which].c_str());
      }
    } else if (p->comment.empty()) {
      ++withoutText;
      std::printf("FAILURE WITHOUT TEXT: %s[%d], result %d\n", p->name.c_str(), p->index, result);
    } else {
      ++failures[p->comment];
    }
  }
  finished.store(true);
  watchdog.join();
  const long endKiB = residentKiB();

  // The line is clean again and the link still reads; then the simulator has dealt with
  // everything it was sent.
  (void)sim.Control("faults off");
  auto last = makeParameter(kTargets[0]);
  const bool recovered = link.Transact(true, last.get()) == kTransactOk && last->value == expected[0];
  const FaultCounts injected = countFaults(log);

  long failed = 0;
  for (const auto& [text, count] : failures) failed += count;
  std::printf("exchanges:           %ld (reads of %zu parameters at 115200 baud, wire time, seed %lu)\n",
              options.exchanges, std::size(kTargets), options.seed);
  printFaults(injected);
  std::printf("values accepted:     %ld, %s\n", accepted, wrong == 0 ? "all equal to the module's" : "SOME WRONG");
  std::printf("wrong values:        %ld\n", wrong);
  std::printf("failures reported:   %ld (without text: %ld)\n", failed + withoutText, withoutText);
  for (const auto& [text, count] : failures) {
    std::string oneLine = text;
    std::replace(oneLine.begin(), oneLine.end(), '\n', ' ');
    std::printf("    %6ld  %s\n", count, oneLine.c_str());
  }
  std::printf("hangs:               %ld (bound %lld ms, longest read %lld ms)\n", hangs,
              static_cast<long long>(bound.count()),
              static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(longest).count()));
  std::printf("memory (RSS):        start %ld KiB, after warm-up (%ld reads) %ld KiB, end %ld KiB\n", startKiB,
              warmUp, warmKiB, endKiB);
  std::printf("clean read after:    %s\n", recovered ? "ok" : "FAILED");

  const bool memoryKept = endKiB - warmKiB <= kMemoryMarginKiB;
  if (!memoryKept) std::printf("MEMORY GREW by %ld KiB after the warm-up\n", endKiB - warmKiB);
  const bool faultsSeen = options.faultPercent <= 0.0 || injected.total() > 0;
  if (!faultsSeen) std::printf("NO FAULT WAS INJECTED\n");
  const bool ok = wrong == 0 && withoutText == 0 && hangs == 0 && memoryKept && recovered && faultsSeen;
  std::printf("%s\n", ok ? "PASS" : "FAIL");
  return ok ? 0 : 1;
}

// ---------------------------------------------------------------------------- polling

class PollCounter final : public IoListener {
 public:
  void ioStateChanged(const IoSnapshot& s) override {
    const Clock::time_point now = Clock::now();
    std::lock_guard lock(mutex_);
    ++polls_;
    if (!s.failure.empty()) ++failures_;
    if (last_ != Clock::time_point{}) longestGap_ = std::max(longestGap_, now - last_);
    last_ = now;
  }
  struct Figures {
    long polls = 0;
    long failures = 0;
    Clock::duration longestGap{};
    Clock::time_point last;
  };
  Figures figures() {
    std::lock_guard lock(mutex_);
    return {polls_, failures_, longestGap_, last_};
  }

 private:
  std::mutex mutex_;
  long polls_ = 0;
  long failures_ = 0;
  Clock::duration longestGap_{};
  Clock::time_point last_;
};

int runPolling(const Options& options) {
  Scratch scratch;
  const std::string log = scratch.file("frames.log");
  test::SimProcess sim;
  std::string error;
  if (!sim.Start({"--baud", "115200", "--wire-time", "--log", log, "--seed", std::to_string(options.seed)}, &error) ||
      !startFaults(sim, options.faultPercent)) {
    std::fprintf(stderr, "kvtr_soak: kvtr-sim: %s\n", error.c_str());
    return 1;
  }
  SilentUserInterface silent;
  ParameterTree tree;
  if (!LoadDescriptor(tree, std::filesystem::path(KVTR_BIN_DIR) / "kvtr.tree.dat", silent).complete ||
      tree.scanners() == nullptr) {
    std::fprintf(stderr, "kvtr_soak: the descriptor has not loaded\n");
    return 1;
  }
  LinkState state;
  DeviceLinkOptions linkOptions;
  linkOptions.state = &state;
  linkOptions.ui = &silent;
  linkOptions.portChoices = sim.port();
  ExchangeEngine engine(linkOptions);
  setLine(engine, sim.port());
  if (engine.OpenLink(false) != 0) {
    std::fprintf(stderr, "kvtr_soak: %s\n", engine.PortFailureText().c_str());
    return 1;
  }

  PollCounter counter;
  InputsOutputsMonitor monitor(engine, *tree.scanners());
  monitor.setListener(&counter);
  const auto start = Clock::now();
  const long startKiB = residentKiB();
  const double startCpu = cpuSeconds();
  if (!monitor.Start()) return 1;
  // A poll is due every 100 ms, after the read before it, which may take as long as any read.
  const std::chrono::milliseconds stallBound =
      longestRead(engine.serialPort()) + std::chrono::duration_cast<std::chrono::milliseconds>(InputsOutputsMonitor::kPeriod);
  const auto end = start + std::chrono::seconds(options.pollingSeconds);
  const auto warmUpAt = start + std::min<Clock::duration>(60s, std::chrono::seconds(options.pollingSeconds) / 10);
  long warmKiB = -1;
  long stalls = 0;
  Clock::time_point stalledAfter{};  // the last poll before the stall counted last
  auto nextReport = start + 5min;
  while (Clock::now() < end) {
    std::this_thread::sleep_for(std::min<Clock::duration>(1s, end - Clock::now()));
    const Clock::time_point now = Clock::now();
    if (warmKiB < 0 && now >= warmUpAt) warmKiB = residentKiB();
    const PollCounter::Figures f = counter.figures();
    if (f.last != Clock::time_point{} && now - f.last > stallBound && f.last != stalledAfter) {
      ++stalls;
      stalledAfter = f.last;
    }
    if (now >= nextReport) {
      nextReport += 5min;
      std::printf("  %4lld s: %ld polls, %ld failures, RSS %ld KiB, CPU %.2f s\n",
                  static_cast<long long>(std::chrono::duration_cast<std::chrono::seconds>(now - start).count()), f.polls,
                  f.failures, residentKiB(), cpuSeconds() - startCpu);
      std::fflush(stdout);
    }
  }
  const double endCpu = cpuSeconds();
  const long endKiB = residentKiB();
  engine.serialPort().stopEvent().set();
  monitor.Stop();
  engine.serialPort().stopEvent().reset();
  monitor.setListener(nullptr);
  if (warmKiB < 0) warmKiB = endKiB;
  const PollCounter::Figures f = counter.figures();
  (void)sim.Control("faults off");
  (void)sim.Control("ping");
  const FaultCounts injected = countFaults(log);

  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  std::printf("polling:             %d s of inputs and outputs polling at 115200 baud, wire time, seed %lu\n",
              options.pollingSeconds, options.seed);
  std::printf("polls:               %ld (%.1f a second), failures %ld\n", f.polls,
              static_cast<double>(f.polls) / seconds, f.failures);
  printFaults(injected);
  std::printf("longest pause:       %lld ms between two polls (bound %lld ms), stalls %ld\n",
              static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(f.longestGap).count()),
              static_cast<long long>(stallBound.count()), stalls);
  std::printf("memory (RSS):        start %ld KiB, after warm-up %ld KiB, end %ld KiB\n", startKiB, warmKiB, endKiB);
  std::printf("CPU time:            start %.2f s, end %.2f s: %.2f s used (%.2f %% of one core)\n", startCpu, endCpu,
              endCpu - startCpu, 100.0 * (endCpu - startCpu) / seconds);
  const bool memoryKept = endKiB - warmKiB <= kMemoryMarginKiB;
  if (!memoryKept) std::printf("MEMORY GREW by %ld KiB after the warm-up\n", endKiB - warmKiB);
  const bool ok = f.polls > 0 && stalls == 0 && memoryKept;
  std::printf("%s\n", ok ? "PASS" : "FAIL");
  return ok ? 0 : 1;
}

bool parseOptions(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string name = argv[i];
    if (i + 1 >= argc) return false;
    const char* value = argv[++i];
    char* end = nullptr;
    if (name == "--exchanges") {
      options.exchanges = std::strtol(value, &end, 10);
      if (options.exchanges <= 0) return false;
    } else if (name == "--polling") {
      options.pollingSeconds = static_cast<int>(std::strtol(value, &end, 10));
      if (options.pollingSeconds <= 0) return false;
    } else if (name == "--seed") {
      options.seed = std::strtoul(value, &end, 10);
    } else if (name == "--fault-percent") {
      options.faultPercent = std::strtod(value, &end);
      if (options.faultPercent < 0.0 || options.faultPercent > 60.0) return false;
    } else {
      return false;
    }
    if (end == value || *end != '\0') return false;
  }
  return true;
}

}  // namespace
}  // namespace kvtr::soak

int main(int argc, char** argv) {
  kvtr::soak::Options options;
  if (!kvtr::soak::parseOptions(argc, argv, options)) {
    std::fprintf(stderr,
                 "usage: kvtr_soak [--exchanges N] [--seed S] [--fault-percent P]\n"
                 "       kvtr_soak --polling SECONDS [--seed S] [--fault-percent P]\n");
    return 2;
  }
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  return options.pollingSeconds > 0 ? kvtr::soak::runPolling(options) : kvtr::soak::runExchanges(options);
}
