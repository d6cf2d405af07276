// How fast a wait wakes when another thread sets its event: the stop event must end a blocked
// exchange at once, and the polling thread's timers ride on the same wait. One iteration is a
// ping-pong between two threads, so it holds two wake-ups.
#include <benchmark/benchmark.h>

#include <memory>
#include <thread>
#include <vector>

#include "common/event.h"
#include "common/timer.h"

namespace {

using kvtr::Clock;
using kvtr::Event;
using kvtr::EventReset;

void BM_EventPingPong(benchmark::State& state) {
  Event ping(EventReset::Automatic);
  Event pong(EventReset::Automatic);
  Event stop(EventReset::Manual);
  std::thread partner([&] {
    while (kvtr::waitAny({&stop, &ping}, Clock::kInfinite) == 1) pong.set();
  });
  for (auto _ : state) {
    ping.set();
    (void)pong.wait();
  }
  stop.set();
  partner.join();
}
BENCHMARK(BM_EventPingPong)->UseRealTime();

// A wait among a stop event and 63 scanner timers, as the polling thread does it, on the system
// clock with the first timer already due.
void BM_WaitAmongTimers(benchmark::State& state) {
  Event stop(EventReset::Manual);
  std::vector<std::unique_ptr<kvtr::Timer>> timers;
  std::vector<kvtr::Waitable*> items = {&stop};
  for (int i = 0; i < 63; ++i) {
    timers.push_back(std::make_unique<kvtr::Timer>());
    timers.back()->start(std::chrono::hours(1), std::chrono::hours(1));
    items.push_back(timers.back().get());
  }
  for (auto _ : state) {
    timers.back()->start(Clock::Duration::zero(), Clock::Duration::zero());
    benchmark::DoNotOptimize(kvtr::waitAny(items, Clock::kInfinite));
  }
}
BENCHMARK(BM_WaitAmongTimers);

}  // namespace

BENCHMARK_MAIN();
