// Transactions per second against the simulated module over a pseudo-terminal.
//
//   NoWireTime: characters take no time on the line and the module answers at once (t.Ans = 0),
//   so what is measured is the link's own cost per transaction: building, the system calls, the
//   pseudo-terminal and the simulator's turn-around. "CPU" is the processor time of the calling thread per transaction; it stays
//   far below the real time because the link sleeps in poll() while it waits for an answer.
//
//   WireTime/<baud>: every character takes its real time in both directions. The wire limit of
//   one read of "t.Ans" is (14 request + 16 answer characters) x the character time + the
//   module's reply delay (t.Ans, read from the module). At 115200 baud 8N1 a character takes
//   10 / 115200 s = 86.8 us, so 30 characters take 2.60 ms; at 9600 baud 31.25 ms.
//   wire_ratio = achieved rate / wire limit: 1.0 would be a line that never rests.
#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "model/parameter.h"
#include "protocol/device_link.h"
#include "sim_bench_support.h"

namespace kvtr {
namespace {

void skipWithMessage(benchmark::State& state, const char* what, const std::string& why) {
  std::string text = what;
  text += why;
  state.SkipWithError(text.c_str());
}

std::unique_ptr<DeviceLink> connect(const std::string& port, int baud, LinkState& state) {
  DeviceLinkOptions options;
  options.state = &state;
  options.portChoices = port;
  auto link = std::make_unique<DeviceLink>(options);
  link->programPortNode().SetValueByName("Port", port);
  link->programPortNode().SetValueByName("bPS", std::to_string(baud));
  link->serialPort().settings().automaticConverter = 1;
  if (link->OpenLink(false) != 0) return nullptr;
  return link;
}

void Transactions(benchmark::State& state, int baud, bool wireTime) {
  std::vector<std::string> options = {"--baud", std::to_string(baud), "--inputs", "0"};
  if (wireTime) options.push_back("--wire-time");
  SimRunner sim(options);
  LinkState linkState;
  auto link = sim.port().empty() ? nullptr : connect(sim.port(), baud, linkState);
  if (!link) {
    state.SkipWithError("the simulated module could not be started or reached");
    return;
  }
  Parameter delay("t.Ans", "int", "Задержка ответа, мс");
  if (!wireTime) {
    delay.value.assign(1, '0');
    if (link->Transact(false, &delay) != 0) {
      skipWithMessage(state, "no answer: ", delay.comment);
      return;
    }
  }
  if (link->Transact(true, &delay) != 0) {
    skipWithMessage(state, "no answer: ", delay.comment);
    return;
  }
  const double replyDelayMs = std::atof(delay.value.c_str());
  // 8N1: ten bits a character.
  const double characterMs = 10.0 * 1000.0 / baud;
  const double wireMsPerTransaction = (14 + 16) * characterMs + replyDelayMs;

  Parameter p("t.Ans", "int", "Задержка ответа, мс");
  int failures = 0;
  const auto start = std::chrono::steady_clock::now();
  for (auto _ : state) {
    if (link->Transact(true, &p) != 0) ++failures;
  }
  const double elapsedMs =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  const double iterations = static_cast<double>(state.iterations());
  state.counters["tx_per_s"] = iterations * 1000.0 / elapsedMs;
  state.counters["us_per_tx"] = elapsedMs * 1000.0 / iterations;
  state.counters["failures"] = failures;
  state.counters["reply_delay_ms"] = replyDelayMs;
  if (wireTime) {
    state.counters["wire_limit_tx_per_s"] = 1000.0 / wireMsPerTransaction;
    state.counters["wire_ratio"] = wireMsPerTransaction * iterations / elapsedMs;
  }
}

void NoWireTime(benchmark::State& state) { Transactions(state, 115200, false); }
void WireTime(benchmark::State& state) { Transactions(state, static_cast<int>(state.range(0)), true); }

BENCHMARK(NoWireTime)->Unit(benchmark::kMicrosecond)->UseRealTime()->MinTime(1.0);
BENCHMARK(WireTime)->Arg(115200)->Arg(9600)->Unit(benchmark::kMicrosecond)->UseRealTime()->MinTime(2.0);

}  // namespace
}  // namespace kvtr

BENCHMARK_MAIN();
