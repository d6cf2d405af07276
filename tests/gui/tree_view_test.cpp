// The parameter tree view as the operator uses it, against the simulated module over a
// pseudo-terminal: opening branches, editing values in place, the refusals, the branch commands,
// problem navigation and the scanners' check boxes.
#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QComboBox>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>
#include <memory>

#include "app/document.h"
#include "exchange/group_operations.h"
#include "exchange/polling.h"
#include "gui_support.h"
#include "integration/sim_fixture.h"
#include "protocol/network_settings.h"
#include "storage/offline_edit.h"
#include "ui/parameter_tree_model.h"
#include "ui/parameter_tree_view.h"
#include "ui/value_delegate.h"

namespace kvtr::test {
namespace {

using ui::ParameterTreeModel;
using ui::ParameterTreeView;
using ui::qs;
using ui::us;


class TreeView : public SimFixture {
 protected:
  void Open(const std::string& port) {
    document = documentOnPort(ui, port, &state);
    (void)document->NewDocument();
    view = std::make_unique<ParameterTreeView>(ui);
    view->resize(1000, 700);
    view->show();
    view->setDocument(document.get());
  }
  void OpenOverSim() {
    SimProcess& sim = StartSim({"--inputs", "5"});
    ASSERT_TRUE(sim.running());
    simulator = &sim;
    Open(sim.port());
    ASSERT_TRUE(document->engine().portOpen()) << document->engine().PortFailureText();
  }
  void TearDown() override {
    view.reset();
    document.reset();
    SimFixture::TearDown();
  }

  ParameterTreeModel& model() { return view->treeModel(); }

  QModelIndex row(const QModelIndex& parent, const QString& text, int column = 0) {
    return findRow(model(), parent, text, column);
  }
  // Opens a branch below the root as the operator does.
  QModelIndex openBranch(const QString& title, const QModelIndex& under = {}) {
    const QModelIndex branch = row(under.isValid() ? under : model().rootIndex(), title);
    view->expand(branch);
    return branch;
  }
  QModelIndex scannersRow() { return model().index(1, 0, model().topIndex()); }

  void edit(const QModelIndex& cell, const QString& text) { typeInto(*view, cell, text); }
  Parameter& parameter(const QModelIndex& index) { return *model().parameterAt(index); }
  QColor colour(const QModelIndex& index) { return index.siblingAtColumn(0).data(Qt::ForegroundRole).value<QColor>(); }
  bool sawCaption(const QString& text, std::string_view caption) {
    for (const auto& m : ui.messages)
      if (m.text.contains(text) && m.caption == qs(std::string(caption))) return true;
    return false;
  }

  RecordingQtUserInterface ui;
  LinkState state;
  SimProcess* simulator = nullptr;
  std::unique_ptr<Document> document;
  std::unique_ptr<ParameterTreeView> view;
};

TEST_F(TreeView, ModelHoldsUpUnderTheTesterWithTheShippedDescriptorAndWithoutOne) {
  Open("/nonexistent/kvtr-test-port");
  document->engine().setAutomaticReading(false);
  QAbstractItemModelTester tester(&model(), QAbstractItemModelTester::FailureReportingMode::Fatal);
  EXPECT_EQ(model().topIndex().data().toString(), QString::fromUtf8("Конфигурация КВТР (безымянный файл)"));
  // Every branch opened, the indexes shown and hidden, a refresh: the tester checks each change.
  std::function<void(const QModelIndex&)> openAll = [&](const QModelIndex& parent) {
    if (model().canFetchMore(parent)) model().fetchMore(parent);
    for (int r = 0; r < model().rowCount(parent); ++r) openAll(model().index(r, 0, parent));
  };
  openAll(model().topIndex());
  view->setShowLinearIndexes(true);
  const QModelIndex input = row(row(model().rootIndex(), QString::fromUtf8("Дискретный вход №3")), "I.Flt", 1);
  EXPECT_EQ(input.data().toString(), "I.Flt:2");
  view->refreshAll();
  view->setShowLinearIndexes(false);
  EXPECT_EQ(input.data().toString(), "I.Flt");

  // A document whose descriptor is missing has no parameters to show.
  view->setDocument(nullptr);
  document = documentOnPort(ui, "/nonexistent/kvtr-test-port", &state, "/nonexistent/kvtr.tree.dat");
  (void)document->NewDocument();
  view->setDocument(document.get());
  const QModelIndex undefined = model().rootIndex();
  EXPECT_EQ(undefined.data().toString(), QString::fromUtf8("Параметры прибора"));
  EXPECT_EQ(undefined.siblingAtColumn(ParameterTreeModel::ValueColumn).data().toString(),
            QString::fromUtf8("(не определены)"));
}

TEST_F(TreeView, OpeningABranchReadsItOnlyInTheAutomaticReadingMode) {
  OpenOverSim();
  const QModelIndex network = openBranch(QString::fromUtf8("Сетевые параметры"));
  EXPECT_EQ(row(network, "Addr", ParameterTreeModel::ValueColumn).data().toString(), "16");
  EXPECT_EQ(row(network, "bPS", ParameterTreeModel::ValueColumn).data().toString(), "9600");

  document->engine().setAutomaticReading(false);
  const QModelIndex common = openBranch(QString::fromUtf8("Общие параметры"));
  EXPECT_EQ(row(common, "t.Lnk", ParameterTreeModel::ValueColumn).data().toString(), qs(std::string(kNoDataText)));
}

TEST_F(TreeView, AnEditTurnsTheRowGreenAndTheRulesRefuseWhatTheyMust) {
  OpenOverSim();
  ASSERT_EQ(simulator->Control("attr Sbit 0 1"), "ok");  // the maker owns the stop bits
  QSignalSpy modified(view.get(), &ParameterTreeView::documentModified);
  const QModelIndex network = openBranch(QString::fromUtf8("Сетевые параметры"));
  const QModelIndex answerDelay = row(network, "t.Ans", ParameterTreeModel::ValueColumn);

  edit(answerDelay, "5");
  EXPECT_EQ(answerDelay.data().toString(), "5");
  EXPECT_EQ(colour(answerDelay), ParameterTreeModel::changedColour());
  EXPECT_EQ(modified.count(), 1);
  EXPECT_TRUE(document->modified());

  // The same text again changes nothing.
  edit(answerDelay, "5");
  EXPECT_EQ(modified.count(), 1);

  edit(answerDelay, "500");
  EXPECT_TRUE(sawCaption("t.Ans", kRefusalCaption));
  EXPECT_EQ(answerDelay.data().toString(), "5");

  const QModelIndex address = row(network, "Addr", ParameterTreeModel::ValueColumn);
  edit(address, "300");  // above 255 with 8-bit addresses
  EXPECT_TRUE(sawCaption(QString::fromUtf8("Запрещенные комбинации"), kNetworkCombinationRefusedCaption));
  EXPECT_EQ(address.data().toString(), "16");

  const QModelIndex stopBits = row(network, "Sbit", ParameterTreeModel::ValueColumn);
  ASSERT_TRUE(parameter(stopBits).ownerFirm);
  edit(stopBits, "2");
  EXPECT_TRUE(sawCaption("Sbit", kRefusalCaption));
  EXPECT_EQ(stopBits.data().toString(), "1");
  EXPECT_EQ(modified.count(), 1) << "no refusal modifies the configuration";

  // In the immediate writing mode an accepted value goes to the module at once.
  document->engine().setImmediateWriting(true);
  edit(answerDelay, "7");
  EXPECT_FALSE(parameter(answerDelay).isChanged());
  auto check = MakeExchangeCopy(parameter(answerDelay));
  ASSERT_EQ(document->engine().Transact(true, check.get()), 0);
  EXPECT_EQ(check->value, "7");
}

TEST_F(TreeView, CompareMarksAMismatchBlueAndProblemNavigationFindsIt) {
  OpenOverSim();
  view->compareBranch();  // the top row is no branch
  EXPECT_TRUE(sawCaption(ui::kNoBranchText, ui::kImpossibleCaption));

  const QModelIndex common = openBranch(QString::fromUtf8("Общие параметры"));
  const QModelIndex timeout = row(common, "t.Lnk", ParameterTreeModel::ValueColumn);
  edit(timeout, "00:20");  // not what the module holds
  view->setCurrentIndex(common);
  view->compareBranch();
  EXPECT_EQ(colour(timeout), ParameterTreeModel::mismatchColour());
  EXPECT_TRUE(parameter(timeout).HasDeviceValueComment());

  view->setCurrentIndex(model().rootIndex());
  view->nextProblem();
  EXPECT_EQ(view->currentParameter(), &parameter(timeout));
  view->nextProblem();
  EXPECT_TRUE(ui.saw(ui::kNoMoreProblemsText));

  view->setCurrentIndex(row(common, "C.Sav"));
  view->previousProblem();
  EXPECT_EQ(view->currentParameter(), &parameter(timeout));
}

TEST_F(TreeView, AScannersCheckBoxBringsPolledValuesInAtThePeriodTyped) {
  OpenOverSim();
  view->expand(scannersRow());
  const QModelIndex inputs = row(scannersRow(), "r.Cn");
  const QModelIndex period = inputs.siblingAtColumn(ParameterTreeModel::NameColumn);

  edit(period, "99");
  EXPECT_TRUE(sawCaption(qs(std::string(kScanPeriodRefusedText)), ui::kScanPeriodCaption));
  EXPECT_EQ(parameter(inputs).scanPeriodMs, 1000);
  edit(period, "100");
  EXPECT_EQ(parameter(inputs).scanPeriodMs, 100);

  ASSERT_TRUE(model().flags(inputs) & Qt::ItemIsUserCheckable);
  ASSERT_TRUE(model().setData(inputs, Qt::Checked, Qt::CheckStateRole));
  EXPECT_TRUE(parameter(inputs).scanArmed.load());
  // The simulated inputs are fixed at 5.
  EXPECT_TRUE(waitUntil([&] { return inputs.siblingAtColumn(ParameterTreeModel::ValueColumn).data().toString() == "5"; }));

  ASSERT_TRUE(model().setData(inputs, Qt::Unchecked, Qt::CheckStateRole));
  EXPECT_FALSE(parameter(inputs).scanArmed.load());
}

// The transmit thread reads the whole tree while the polling thread polls a scanner and the GUI
// thread shows both: the read completes and the polled values keep coming.
TEST_F(TreeView, AWholeReadRunsWhileAScannerPolls) {
  OpenOverSim();
  view->expand(scannersRow());
  const QModelIndex inputs = row(scannersRow(), "r.Cn");
  edit(inputs.siblingAtColumn(ParameterTreeModel::NameColumn), "100");
  ASSERT_TRUE(model().setData(inputs, Qt::Checked, Qt::CheckStateRole));
  const QModelIndex polled = inputs.siblingAtColumn(ParameterTreeModel::ValueColumn);
  ASSERT_TRUE(waitUntil([&] { return polled.data().toString() == "5"; }));

  view->setCurrentIndex(model().rootIndex());
  view->readBranch();
  const QModelIndex network = openBranch(QString::fromUtf8("Сетевые параметры"));
  EXPECT_EQ(row(network, "Addr", ParameterTreeModel::ValueColumn).data().toString(), "16");
  EXPECT_TRUE(parameter(inputs).scanArmed.load());
  parameter(inputs).value = std::string(kNoDataText);  // the next polled value shows again
  model().refreshParameter(&parameter(inputs));
  EXPECT_TRUE(waitUntil([&] { return polled.data().toString() == "5"; })) << "polling goes on after the read";
  ASSERT_TRUE(model().setData(inputs, Qt::Unchecked, Qt::CheckStateRole));
}

}  // namespace
}  // namespace kvtr::test
