// The tree view's full refresh after a task: a generated descriptor of 5 000 parameters (a
// branch of 50 templates declared with 100 instances), every branch opened in the view, every
// value changed as a read would change it, then the refresh and one paint of the view. The
// refresh should stay well under 50 ms, so that the end of a task does not keep the operator
// waiting.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QHeaderView>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <unistd.h>

#include "app/document.h"
#include "common/format.h"
#include "common/user_interface.h"
#include "model/descriptor_storage.h"
#include "protocol/network_settings.h"
#include "ui/parameter_tree_model.h"
#include "ui/parameter_tree_view.h"
#include "ui/qt_user_interface.h"

namespace {

constexpr int kTemplates = 50;
constexpr int kInstances = 100;

std::string generatedDescriptor() {
  std::string text;
  for (int i = 0; i < kTemplates; ++i) {
    text += kvtr::strprintf("parameter P%03d int Параметр_%d\nrule P%03d 0 1000\n", i, i, i);
  }
  text += kvtr::strprintf("branch Канал %d 2 3", kInstances);
  for (int i = 0; i < kTemplates; ++i) text += kvtr::strprintf(" P%03d", i);
  text += "\nroot Корень 1 0 1 Канал\n";
  return text;
}

// A user interface that shows nothing: the refresh must not ask anything.
class QuietUi : public kvtr::ui::QtUserInterface {
 protected:
  void ShowMessageBox(const QString&, const QString&, kvtr::MessageIcon) override {}
  bool AskQuestion(const QString&, const QString&) override { return false; }
};

void BM_RefreshExpandedTreeAfterRead(benchmark::State& state) {
  const auto folder = std::filesystem::temp_directory_path() / kvtr::strprintf("kvtr-tree-bench-%d", ::getpid());
  std::filesystem::create_directories(folder);
  const auto descriptor = folder / "kvtr.tree.dat";
  {
    auto packed = kvtr::packDescriptor(generatedDescriptor());
    if (!packed) {
      state.SkipWithError("the generated descriptor could not be packed");
      return;
    }
    std::ofstream out(descriptor, std::ios::binary);
    out.write(reinterpret_cast<const char*>(packed.value().data()), static_cast<std::streamsize>(packed.value().size()));
  }

  QuietUi ui;
  kvtr::DocumentOptions options;
  options.descriptorFile = descriptor;
  options.portChoices = " ";
  options.ui = &ui;
  kvtr::Document document(options);
  document.engine().programPortNode().SetValueByName(kvtr::kPortParameterName, (folder / "no-port").string());
  document.engine().setAutomaticReading(false);
  if (!document.NewDocument() || document.root() == nullptr) {
    state.SkipWithError("the generated descriptor did not load");
    std::filesystem::remove_all(folder);
    return;
  }

  kvtr::ui::ParameterTreeView view(ui);
  view.resize(1200, 900);
  view.show();
  view.setDocument(&document);
  kvtr::ui::ParameterTreeModel& model = view.treeModel();
  int rows = 0;
  std::function<void(const QModelIndex&)> openAll = [&](const QModelIndex& parent) {
    if (model.canFetchMore(parent)) model.fetchMore(parent);
    view.expand(parent);
    for (int r = 0; r < model.rowCount(parent); ++r) {
      ++rows;
      openAll(model.index(r, 0, parent));
    }
  };
  openAll(model.topIndex());
  QCoreApplication::processEvents();

  int round = 0;
  for (auto _ : state) {
    state.PauseTiming();
    // What a read leaves behind: a new value in every parameter, an error in some.
    ++round;
    int n = 0;
    kvtr::ParameterTree::ForEachParameter(*document.root(), [&](kvtr::Parameter& p) {
      p.value = std::to_string((n + round) % 1000);
      p.comment = (n % 97 == 0) ? "Нет ответа" : "";
      ++n;
    });
    state.ResumeTiming();
    view.refreshAll();
    view.viewport()->repaint();
  }
  state.counters["rows"] = rows;
  state.counters["target_ms"] = 50;
  view.setDocument(nullptr);
  std::filesystem::remove_all(folder);
}
BENCHMARK(BM_RefreshExpandedTreeAfterRead)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
