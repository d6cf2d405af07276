// The whole desktop program in this process, as an operator at a cabinet uses it against the
// simulated module over a pseudo-terminal: start-up, read all, an edit, write changed, a change in
// the module found by compare, problem navigation, polling, save and reopen; and start-up with no
// module on the line.
#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <string>

#include "app/document.h"
#include "app/settings_store.h"
#include "gui_support.h"
#include "integration/sim_fixture.h"
#include "screenshot.h"
#include "ui/configurator.h"
#include "ui/main_frame.h"
#include "ui/parameter_tree_model.h"
#include "ui/parameter_tree_view.h"
#include "ui/progress_dialog.h"
#include "ui/setup_carrier_dialog.h"
#include "unit/tools/cli/run_tool.h"

namespace kvtr::test {
namespace {

using ui::ParameterTreeModel;
using ui::qs;
using ui::us;
namespace command = ui::command;

class OperatorSession : public SimFixture {
 protected:
  void SetUp() override {
    // kvtr, run beside the program to change the module, keeps its settings in the scratch folder.
    ::setenv("XDG_CONFIG_HOME", ScratchPath("config").c_str(), 1);
  }
  void TearDown() override {
    configurator.reset();
    ::unsetenv("XDG_CONFIG_HOME");
    SimFixture::TearDown();
  }

  // The program started as the operator starts it, with the stored port settings on `port`.
  Application::StartResult Start(const std::string& port, std::vector<std::string> arguments = {}) {
    StoredPortSettings stored;
    stored.setPort(port);
    store.createKey(SettingsKey::Port);
    (void)savePortSettings(store, stored);
    ui::ConfiguratorOptions options;
    options.arguments = std::move(arguments);
    options.workingDirectory = ScratchPath("");
    options.descriptorFile = std::filesystem::path(KVTR_BIN_DIR) / "kvtr.tree.dat";
    options.settings = &store;
    options.showSplash = false;
    options.closingGrace = Clock::Duration::zero();
    configurator = std::make_unique<ui::Configurator>(ui, std::move(options));
    return configurator->Start();
  }
  ui::MainFrame& frame() { return configurator->frame(); }
  ParameterTreeModel& model() { return frame().treeView()->treeModel(); }
  Document& document() { return *configurator->application().document(); }
  void Trigger(int id) {
    QAction* action = frame().action(id);
    ASSERT_NE(action, nullptr) << id;
    action->trigger();
  }

  // Every row of the tree made, depth first, as an operator opening every branch would.
  std::vector<QModelIndex> AllRows(const QModelIndex& parent) {
    std::vector<QModelIndex> rows;
    if (model().canFetchMore(parent)) model().fetchMore(parent);
    for (int r = 0; r < model().rowCount(parent); ++r) {
      const QModelIndex at = model().index(r, 0, parent);
      rows.push_back(at);
      const std::vector<QModelIndex> below = AllRows(at);
      rows.insert(rows.end(), below.begin(), below.end());
    }
    return rows;
  }
  // "name" or "name:index", as kvtr names a parameter.
  static std::string NameOf(const Parameter& p) {
    return p.hasIndex ? p.name + ":" + std::to_string(p.index) : p.name;
  }
  QModelIndex ParameterRow(const std::string& name) {
    for (const QModelIndex& at : AllRows(model().rootIndex())) {
      const Parameter* p = model().parameterAt(at);
      if (p != nullptr && NameOf(*p) == name) return at;
    }
    ADD_FAILURE() << "no row " << name;
    return {};
  }
  // The value texts of every parameter row, by name.
  std::map<std::string, std::string> Values() {
    std::map<std::string, std::string> values;
    for (const QModelIndex& at : AllRows(model().rootIndex())) {
      const Parameter* p = model().parameterAt(at);
      if (p == nullptr) continue;
      values[NameOf(*p)] =
          us(at.siblingAtColumn(ParameterTreeModel::ValueColumn).data().toString());
    }
    return values;
  }
  // Types a value into the value cell and presses Enter.
  void Edit(const QModelIndex& row, const QString& text) {
    typeInto(*frame().treeView(), row.siblingAtColumn(ParameterTreeModel::ValueColumn), text);
  }
  QColor Colour(const QModelIndex& row) { return row.siblingAtColumn(0).data(Qt::ForegroundRole).value<QColor>(); }
  std::string CommentOf(const QModelIndex& row) {
    return us(row.siblingAtColumn(ParameterTreeModel::CommentColumn).data().toString());
  }

  RecordingQtUserInterface ui;
  MemorySettingsStore store;
  std::unique_ptr<ui::Configurator> configurator;
};

TEST_F(OperatorSession, ReadEditWriteCompareNavigatePollSaveAndReopen) {
  SimProcess& sim = StartSim({"--inputs", "5"});
  ASSERT_TRUE(sim.running());

  // Start-up finds the module: no connection dialog, no message, the window is up.
  ASSERT_EQ(Start(sim.port()), Application::StartResult::Run);
  EXPECT_TRUE(ui.messages.empty()) << us(ui.messages.front().text);
  EXPECT_TRUE(frame().isVisible());
  EXPECT_TRUE(document().engine().portOpen());
  QAbstractItemModelTester tester(&model(), QAbstractItemModelTester::FailureReportingMode::Fatal);

  // Read all (Alt+R): the progress window counts the parameters and closes by itself; every value
  // of the shipped tree is filled in.
  QString lastCounter;
  QObject::connect(&ui, &ui::QtUserInterface::taskProgressed, &ui,
                   [&](const TaskProgress& p) { if (!p.counter.empty()) lastCounter = qs(p.counter); });
  EXPECT_EQ(frame().action(command::kReadAll)->shortcut(), QKeySequence("Alt+R"));
  Trigger(command::kReadAll);
  const int total = document().engine().counters().totalCount.load();
  EXPECT_GT(total, 100);
  EXPECT_EQ(lastCounter, QString("%1 из %1").arg(total));
  auto* progress = frame().findChild<ui::ProgressDialog*>();
  ASSERT_NE(progress, nullptr);
  EXPECT_TRUE(waitUntil([&] { return !progress->isVisible(); }));
  const std::map<std::string, std::string> read = Values();
  ASSERT_GT(read.size(), 100u);
  for (const auto& [name, value] : read) EXPECT_NE(value, "Нет данных") << name;

  // An edit in the value column: green, and the configuration is modified.
  const QModelIndex filter = ParameterRow("I.Flt:0");
  Edit(filter, "17");
  EXPECT_EQ(Colour(filter), ParameterTreeModel::changedColour());
  EXPECT_TRUE(document().modified());
  EXPECT_TRUE(frame().isWindowModified());

  // Write changed (Alt+U) sends that one parameter: a handful of frames, not the tree, and the
  // module holds the value.
  const int framesBefore = framesSeen(sim);
  Trigger(command::kWriteChanged);
  const int written = framesSeen(sim) - framesBefore;
  EXPECT_GE(written, 1);
  EXPECT_LE(written, 3) << "write changed sent more than one parameter";
  EXPECT_NE(Colour(filter), ParameterTreeModel::changedColour());
  // Another program on the line (the port is ours alone while it is open) finds the value in the
  // module and changes another one.
  document().engine().ClosePort();
  const auto get = kvtr::testing::runTool("kvtr", {"get", "--port", sim.port(), "I.Flt:0"});
  EXPECT_NE(get.out.find("17"), std::string::npos) << get.out << get.err;
  const auto set = kvtr::testing::runTool("kvtr", {"set", "--port", sim.port(), "I.Flt:5=33"});
  ASSERT_EQ(set.exitCode, 0) << set.err;
  ASSERT_EQ(document().engine().OpenLink(false), 0);

  // Compare (Alt+C) finds the change: its row turns blue and says what the module holds.
  Trigger(command::kCompare);
  const QModelIndex changedInModule = ParameterRow("I.Flt:5");
  EXPECT_EQ(Colour(changedInModule), ParameterTreeModel::mismatchColour());
  EXPECT_NE(CommentOf(changedInModule).find("Знач-е в приборе:"), std::string::npos) << CommentOf(changedInModule);

  // Next and previous problem (Alt+Down, Alt+Up) select it.
  frame().treeView()->setCurrentIndex(model().rootIndex());
  Trigger(command::kNextProblem);
  EXPECT_EQ(frame().treeView()->currentIndex().siblingAtColumn(0), changedInModule);
  frame().treeView()->setCurrentIndex(ParameterRow("C.Lim:11"));
  Trigger(command::kPreviousProblem);
  EXPECT_EQ(frame().treeView()->currentIndex().siblingAtColumn(0), changedInModule);

  // A scanner's check box brings polled values into its row.
  const QModelIndex scanners = model().index(1, 0, model().topIndex());
  frame().treeView()->expand(scanners);
  if (model().canFetchMore(scanners)) model().fetchMore(scanners);
  QModelIndex scanner;
  for (int r = 0; r < model().rowCount(scanners) && !scanner.isValid(); ++r)
    if (model().isScanner(model().index(r, 0, scanners))) scanner = model().index(r, 0, scanners);
  ASSERT_TRUE(scanner.isValid());
  const QModelIndex scannerValue = scanner.siblingAtColumn(ParameterTreeModel::ValueColumn);
  ASSERT_TRUE(model().setData(scanner, Qt::Checked, Qt::CheckStateRole));
  EXPECT_TRUE(waitUntil([&] { return scannerValue.data().toString() != "Нет данных"; }))
      << us(scannerValue.data().toString());
  ASSERT_TRUE(model().setData(scanner, Qt::Unchecked, Qt::CheckStateRole));

  // The picture for the guide: a row changed and not written (green) beside the mismatch (blue).
  Edit(ParameterRow("I.Flt:4"), "25");
  frame().treeView()->setCurrentIndex(ParameterRow("I.Flt:0"));
  frame().resize(1280, 760);
  saveScreenshot(frame(), "main_window.png");

  // Save (Ctrl+S) into the configuration's file, close, open it again: the same values.
  const std::string file = ScratchPath("Module A.kvtr");
  document().setFilePath(file);
  Trigger(command::kSave);
  EXPECT_FALSE(document().modified());
  const std::map<std::string, std::string> saved = Values();
  frame().close();
  EXPECT_TRUE(configurator->frameGone());
  EXPECT_EQ(configurator->Finish(), 0);
  configurator.reset();

  ASSERT_EQ(Start(sim.port(), {file}), Application::StartResult::Run);
  EXPECT_EQ(Values(), saved);
  EXPECT_EQ(saved.at("I.Flt:4"), "25");
}

TEST_F(OperatorSession, StartWithNoModuleOffersTheConnectionDialogAndOfflineWork) {
  // A simulator at 19200 while the stored settings say 9600: the connection check fails, and the
  // connection dialog comes up before the main window.
  SimProcess& sim = StartSim({"--baud", "19200"});
  ASSERT_TRUE(sim.running());
  bool dialogShown = false;
  QTimer operatorAtTheDialog;
  QObject::connect(&operatorAtTheDialog, &QTimer::timeout, [&] {
    auto* dialog = qobject_cast<ui::SetupCarrierDialog*>(QApplication::activeModalWidget());
    if (dialog == nullptr) return;
    dialogShown = true;
    for (QPushButton* button : dialog->findChildren<QPushButton*>())
      if (button->text() == "Работать offline") QTest::mouseClick(button, Qt::LeftButton);
  });
  operatorAtTheDialog.start(50);

  ASSERT_EQ(Start(sim.port()), Application::StartResult::Run);
  operatorAtTheDialog.stop();
  EXPECT_TRUE(dialogShown);
  EXPECT_TRUE(frame().isVisible());
  // Offline: the tree is there, nothing is read when a branch opens.
  EXPECT_NE(document().tree(), nullptr);
  EXPECT_FALSE(document().engine().automaticReading());
  EXPECT_FALSE(frame().action(command::kAutomaticReading)->isChecked());
}

}  // namespace
}  // namespace kvtr::test
