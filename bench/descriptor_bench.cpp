// Loading descriptors: the module's own kvtr.tree.dat from its file (read, inflate, parse,
// expand), and generated descriptors of 100 000 and 200 000 parameters in two shapes, so that
// the growth with the size can be read off the per-parameter time.
//
//   wide:   one template line per parameter, branches of 100 templates each, a root of all branches
//   copies: 100 templates in a branch of 10 instances, copied into a branch of N/1000 instances
#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>

#include "common/format.h"
#include "common/user_interface.h"
#include "model/descriptor_loader.h"
#include "model/parameter_tree.h"

namespace {

std::string wideDescriptor(int parameters) {
  std::string text;
  text.reserve(static_cast<std::size_t>(parameters) * 48);
  for (int i = 0; i < parameters; ++i) {
    text += kvtr::strprintf("parameter T%06d int Параметр_%d\nrule T%06d 0 1000\ninit T%06d 1\n", i, i, i, i);
  }
  const int branches = parameters / 100;
  for (int b = 0; b < branches; ++b) {
    text += kvtr::strprintf("branch Группа_%d 1 2 3", b);
    for (int i = b * 100; i < (b + 1) * 100; ++i) text += kvtr::strprintf(" T%06d", i);
    text += '\n';
  }
  text += "root Корень 1 0 1";
  for (int b = 0; b < branches; ++b) text += kvtr::strprintf(" Группа_%d", b);
  text += '\n';
  return text;
}

std::string copiedDescriptor(int parameters) {
  std::string text;
  for (int i = 0; i < 100; ++i) text += kvtr::strprintf("parameter P%03d int Параметр_%d\ninit P%03d 1\n", i, i, i);
  text += "branch Канал 10 2 3";
  for (int i = 0; i < 100; ++i) text += kvtr::strprintf(" P%03d", i);
  text += kvtr::strprintf("\nbranch Модуль %d 4 5 Канал\nroot Корень 1 0 1 Модуль\n", parameters / 1000);
  return text;
}

void loadText(benchmark::State& state, const std::string& text) {
  kvtr::SilentUserInterface ui;
  std::size_t parameters = 0;
  for (auto _ : state) {
    kvtr::ParameterTree tree;
    const auto result = kvtr::LoadDescriptorText(tree, text, ui);
    if (!result.complete) {
      state.SkipWithError("the generated descriptor did not load");
      return;
    }
    parameters = kvtr::ParameterTree::CountNodes(*tree.root()).parameters;
    benchmark::DoNotOptimize(tree.root());
  }
  state.counters["parameters"] = static_cast<double>(parameters);
  state.counters["ns_per_parameter"] = benchmark::Counter(
      static_cast<double>(parameters), benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(parameters));
}

void BM_LoadShippedDescriptor(benchmark::State& state) {
  const std::filesystem::path file = std::filesystem::path(KVTR_BIN_DIR) / "kvtr.tree.dat";
  kvtr::SilentUserInterface ui;
  std::size_t parameters = 0;
  for (auto _ : state) {
    kvtr::ParameterTree tree;
    const auto result = kvtr::LoadDescriptor(tree, file, ui);
    if (!result.complete) {
      state.SkipWithError("kvtr.tree.dat did not load");
      return;
    }
    parameters = kvtr::ParameterTree::CountNodes(*tree.root()).parameters +
                 kvtr::ParameterTree::CountNodes(*tree.scanners()).parameters;
  }
  state.counters["parameters"] = static_cast<double>(parameters);
}
BENCHMARK(BM_LoadShippedDescriptor)->Unit(benchmark::kMillisecond);

void BM_LoadWideDescriptor(benchmark::State& state) {
  const std::string text = wideDescriptor(static_cast<int>(state.range(0)));
  loadText(state, text);
}
BENCHMARK(BM_LoadWideDescriptor)->Arg(100'000)->Arg(200'000)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_LoadCopiedDescriptor(benchmark::State& state) {
  const std::string text = copiedDescriptor(static_cast<int>(state.range(0)));
  loadText(state, text);
}
BENCHMARK(BM_LoadCopiedDescriptor)->Arg(100'000)->Arg(200'000)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
