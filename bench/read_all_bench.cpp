// Reading the whole module as the configurator does ("Прочитать все параметры": the ReadAll
// task of the exchange engine over the shipped descriptor's tree) against the simulated module
// over a pseudo-terminal with wire-time emulation: every character takes its real time at the
// set speed, both ways.
//
//   ReadAll/<baud>: the wall time of one whole read, and the rate achieved over the wire limit.
//   The wire limit of the read is what the line itself needs: every character of every request
//   and answer the module's frame log shows (the log leaves out the closing carriage return, so
//   one more each) times the character time, plus the module's reply delay (t.Ans) per answer.
//   8N1 is ten bits a character: 86.8 us at 115200 baud, 1.042 ms at 9600.
//   wire_ratio = wire limit / wall time; 1.0 would be a line that never rests.
//
//   AbsentModule/<baud>: a line on which nothing answers. The read gives up after five
//   parameters in a row time out (four sends each); the figure is the time until it has.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "common/user_interface.h"
#include "exchange/exchange_engine.h"
#include "model/descriptor_loader.h"
#include "model/parameter_tree.h"
#include "protocol/network_settings.h"
#include "sim_bench_support.h"

namespace kvtr {
namespace {

struct LogTotals {
  long frames = 0;      // answers
  long characters = 0;  // both ways, carriage returns included
};

LogTotals countLog(const std::string& path, long skipLines) {
  LogTotals totals;
  std::ifstream in(path);
  long line = 0;
  for (std::string text; std::getline(in, text); ++line) {
    if (line < skipLines) continue;
    const bool rx = text.rfind("RX #", 0) == 0;
    const bool tx = text.rfind("TX #", 0) == 0;
    if (!rx && !tx) continue;
    totals.characters += static_cast<long>(text.size() - 3) + 1;
    if (tx) ++totals.frames;
  }
  return totals;
}

long lineCount(const std::string& path) {
  std::ifstream in(path);
  long n = 0;
  for (std::string text; std::getline(in, text);) ++n;
  return n;
}

struct Bench {
  std::string folder;
  std::string log;
  std::unique_ptr<SimRunner> sim;
  LinkState linkState;
  SilentUserInterface ui;
  ParameterTree tree;
  std::unique_ptr<ExchangeEngine> engine;

  bool Start(benchmark::State& state, int baud, std::vector<std::string> extra) {
    folder = (std::filesystem::temp_directory_path() / "kvtr-bench-XXXXXX").string();
    if (::mkdtemp(folder.data()) == nullptr) {
      state.SkipWithError("no scratch folder");
      return false;
    }
    log = folder + "/frames.log";
    std::vector<std::string> options = {"--baud", std::to_string(baud), "--inputs", "0", "--wire-time", "--log", log};
    options.insert(options.end(), extra.begin(), extra.end());
    sim = std::make_unique<SimRunner>(options);
    if (sim->port().empty()) {
      state.SkipWithError("the simulated module could not be started");
      return false;
    }
    if (!LoadDescriptor(tree, std::string(KVTR_BIN_DIR) + "/kvtr.tree.dat", ui).complete) {
      state.SkipWithError("the descriptor could not be loaded");
      return false;
    }
    DeviceLinkOptions options2;
    options2.state = &linkState;
    options2.portChoices = sim->port();
    engine = std::make_unique<ExchangeEngine>(options2);
    engine->setClosingGrace(Clock::Duration::zero());
    engine->setAutomaticReading(false);
    engine->programPortNode().SetValueByName(kPortParameterName, sim->port());
    engine->programPortNode().SetValueByName("bPS", std::to_string(baud));
    // A converter that turns the line round by itself, as most sold today do.
    engine->serialPort().settings().automaticConverter = 1;
    if (engine->OpenLink(false) != 0) {
      state.SkipWithError("the port could not be opened");
      return false;
    }
    return true;
  }
  ~Bench() {
    engine.reset();
    sim.reset();
    std::error_code ec;
    if (!folder.empty()) std::filesystem::remove_all(folder, ec);
  }
};

void ReadAll(benchmark::State& state) {
  const int baud = static_cast<int>(state.range(0));
  Bench b;
  if (!b.Start(state, baud, {})) return;
  Parameter delay("t.Ans", "int", "");
  if (b.engine->Transact(true, &delay) != 0) {
    state.SkipWithError("no answer to t.Ans");
    return;
  }
  const double replyDelayMs = std::atof(delay.value.c_str());
  const long before = lineCount(b.log);

  double wallMs = 0;
  int failed = 0;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    TaskOutcome outcome;
    if (!b.engine->StartTask(TaskKind::ReadAll, b.tree.root(), &outcome)) {
      state.SkipWithError("the task did not start");
      return;
    }
    wallMs += std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    failed += outcome.counts.failed;
    state.counters["parameters"] = outcome.counts.visited;
  }
  // What failed, if anything, shows beside the figures.
  std::string failures;
  ParameterTree::ForEachParameter(*b.tree.root(), [&](Parameter& p) {
    if (!p.comment.empty()) failures += p.name + ": " + p.comment + "; ";
  });
  if (!failures.empty()) state.SetLabel(failures);
  const LogTotals totals = countLog(b.log, before);
  const double characterMs = 10.0 * 1000.0 / baud;
  const double wireMs = static_cast<double>(totals.characters) * characterMs + static_cast<double>(totals.frames) * replyDelayMs;
  const double iterations = static_cast<double>(state.iterations());
  state.counters["wall_ms"] = wallMs / iterations;
  state.counters["wire_limit_ms"] = wireMs / iterations;
  state.counters["wire_ratio"] = wireMs / wallMs;
  state.counters["frames"] = static_cast<double>(totals.frames) / iterations;
  state.counters["failed"] = failed;
  state.counters["reply_delay_ms"] = replyDelayMs;
}

void AbsentModule(benchmark::State& state) {
  const int baud = static_cast<int>(state.range(0));
  Bench b;
  if (!b.Start(state, baud, {"--drop-probability", "1"})) return;
  double wallMs = 0;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    TaskOutcome outcome;
    (void)b.engine->StartTask(TaskKind::ReadAll, b.tree.root(), &outcome);
    wallMs += std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    state.counters["parameters_tried"] = outcome.counts.visited;
  }
  state.counters["give_up_ms"] = wallMs / static_cast<double>(state.iterations());
  state.counters["reply_timeout_ms"] = b.engine->serialPort().replyTimeoutMs();
}

BENCHMARK(ReadAll)->Arg(115200)->Arg(9600)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(AbsentModule)->Arg(115200)->Arg(9600)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace kvtr

BENCHMARK_MAIN();
