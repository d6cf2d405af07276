// Saving and opening a configuration of the shipped parameter tree. Opening rebuilds the tree
// from the descriptor before it reads the values, so it is timed both from the descriptor text
// held in memory and from the descriptor file, as the program opens a file.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <vector>

#include "common/user_interface.h"
#include "model/descriptor_loader.h"
#include "model/descriptor_storage.h"
#include "storage/configuration_file.h"

namespace {

const std::string kDescriptorFile = std::string(KVTR_BIN_DIR) + "/kvtr.tree.dat";

const std::string& descriptorText() {
  static const std::string text = [] {
    kvtr::DescriptorReadResult read = kvtr::readDescriptorFile(kDescriptorFile);
    if (!read.ok()) {
      std::fprintf(stderr, "cannot read %s: %s\n", kDescriptorFile.c_str(), read.message.c_str());
      std::exit(1);
    }
    return read.text;
  }();
  return text;
}

// A tree whose every parameter holds a value, a comment and flags, as after a compare.
std::unique_ptr<kvtr::ParameterTree> filledTree() {
  auto tree = std::make_unique<kvtr::ParameterTree>();
  kvtr::SilentUserInterface ui;
  (void)kvtr::LoadDescriptorText(*tree, descriptorText(), ui);
  int n = 0;
  kvtr::ParameterTree::ForEachParameter(*tree->root(), [&](kvtr::Parameter& p) {
    p.value = std::to_string(++n);
    p.comment = "Знач-е в приборе: " + std::to_string(n + 1);
    p.valueChanged = n & 1;
  });
  return tree;
}

void BM_Save(benchmark::State& state) {
  const auto tree = filledTree();
  std::size_t bytes = 0;
  for (auto _ : state) {
    const auto saved = kvtr::SerializeConfiguration(*tree);
    bytes = saved.size();
    benchmark::DoNotOptimize(saved.data());
  }
  state.counters["file_bytes"] = static_cast<double>(bytes);
  state.counters["parameters"] = static_cast<double>(kvtr::ParameterTree::CountNodes(*tree->root()).parameters);
}
BENCHMARK(BM_Save)->Unit(benchmark::kMicrosecond);

void openBench(benchmark::State& state, const kvtr::DescriptorSource& source) {
  const auto saved = kvtr::SerializeConfiguration(*filledTree());
  kvtr::SilentUserInterface ui;
  kvtr::OpenOptions options;
  options.loadDescriptor = source;
  for (auto _ : state) {
    auto opened = kvtr::OpenConfiguration(saved, ui, options);
    if (opened.status != kvtr::OpenStatus::Opened) state.SkipWithError("the file did not open");
    benchmark::DoNotOptimize(opened.tree.get());
  }
}

void BM_OpenFromDescriptorText(benchmark::State& state) { openBench(state, kvtr::DescriptorFromText(descriptorText())); }
BENCHMARK(BM_OpenFromDescriptorText)->Unit(benchmark::kMicrosecond);

void BM_OpenFromDescriptorFile(benchmark::State& state) { openBench(state, kvtr::DescriptorFromFile(kDescriptorFile)); }
BENCHMARK(BM_OpenFromDescriptorFile)->Unit(benchmark::kMicrosecond);

// The round trip the target is set for: save, then open with the descriptor file.
void BM_SaveAndOpen(benchmark::State& state) {
  const auto tree = filledTree();
  kvtr::SilentUserInterface ui;
  kvtr::OpenOptions options;
  options.loadDescriptor = kvtr::DescriptorFromFile(kDescriptorFile);
  for (auto _ : state) {
    const auto saved = kvtr::SerializeConfiguration(*tree);
    auto opened = kvtr::OpenConfiguration(saved, ui, options);
    benchmark::DoNotOptimize(opened.tree.get());
  }
}
BENCHMARK(BM_SaveAndOpen)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
