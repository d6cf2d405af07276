// Undo and redo of the tree's edits from the main window's "&Правка" menu, against the simulated
// module over a pseudo-terminal: edits of several kinds made through the in-place editors, undone
// and redone one by one, each step showing exactly the rows it showed before; exchanges with the
// module end the history of the parameters they reach.
#include <gtest/gtest.h>

#include <QAction>
#include <QComboBox>
#include <QLineEdit>
#include <QMenuBar>
#include <QTemporaryDir>
#include <QTest>
#include <memory>
#include <vector>

#include "app/document.h"
#include "gui_support.h"
#include "integration/sim_fixture.h"
#include "protocol/network_settings.h"
#include "ui/main_frame.h"
#include "ui/parameter_tree_model.h"
#include "ui/parameter_tree_view.h"
#include "ui/value_delegate.h"

namespace kvtr::test {
namespace {

namespace command = ui::command;
using Model = ui::ParameterTreeModel;
using ui::qs;
using ui::us;

class EditHistoryTest : public SimFixture {
 protected:
  void SetUp() override {
    SimProcess& sim = StartSim({});
    ASSERT_TRUE(sim.running());
    DocumentOptions options;
    options.descriptorFile = std::filesystem::path(KVTR_BIN_DIR) / "kvtr.tree.dat";
    options.ui = &ui;
    options.portChoices = " ";
    document = std::make_unique<Document>(options);
    document->engine().setClosingGrace(Clock::Duration::zero());
    document->engine().programPortNode().SetValueByName(kPortParameterName, sim.port());
    ASSERT_TRUE(document->NewDocument());
    frame = std::make_unique<ui::MainFrame>(ui);
    frame->resize(1200, 800);
    frame->show();
    frame->setDocument(document.get());
    view = frame->treeView();
  }
  void TearDown() override {
    frame.reset();
    document.reset();
    SimFixture::TearDown();
  }

  Model& model() { return view->treeModel(); }
  QModelIndex row(const QModelIndex& parent, const QString& text, int column = 0) {
    return findRow(model(), parent, text, column);
  }
  QModelIndex branch(const char* title) {
    const QModelIndex at = row(model().rootIndex(), QString::fromUtf8(title));
    view->expand(at);
    return at;
  }
  void edit(const QModelIndex& cell, const QString& text) { typeInto(*view, cell, text); }
  // The other choice of a two-choice cell (access attribute, owner).
  void flip(const QModelIndex& cell, const char* one, const char* other) {
    const QString now = cell.data().toString();
    ASSERT_FALSE(now.isEmpty()) << "the parameter has no attributes";
    edit(cell, now == QString::fromUtf8(one) ? QString::fromUtf8(other) : QString::fromUtf8(one));
  }

  // What the operator sees of the watched rows: every column's text and the row's colour.
  QStringList screen() {
    QStringList shown;
    for (const QModelIndex& at : watched) {
      for (int column = Model::NameColumn; column < Model::ColumnCount; ++column) {
        shown << at.siblingAtColumn(column).data().toString();
      }
      shown << at.data(Qt::ForegroundRole).value<QColor>().name();
    }
    return shown;
  }
  QAction* undo() { return frame->action(command::kUndo); }
  QAction* redo() { return frame->action(command::kRedo); }

  RecordingQtUserInterface ui;
  std::unique_ptr<Document> document;
  std::unique_ptr<ui::MainFrame> frame;
  ui::ParameterTreeView* view = nullptr;
  std::vector<QModelIndex> watched;
};

TEST_F(EditHistoryTest, UndoAndRedoWalkEveryKindOfEditBackAndForthAndAnExchangeEndsIt) {
  EXPECT_EQ(frame->menuBar()->actions().at(1)->text(), QString::fromUtf8("&Правка"));
  ASSERT_FALSE(undo()->isEnabled());

  // A compare marks a value blue; it reaches the edit made before it, which can no longer be undone.
  const QModelIndex common = branch("Общие параметры");
  const QModelIndex timeout = row(common, "t.Lnk", Model::ValueColumn);
  edit(timeout, "00:20");
  ASSERT_TRUE(undo()->isEnabled());
  view->setCurrentIndex(common);
  frame->runCommand(command::kCompareBranch);
  ASSERT_EQ(timeout.data(Qt::ForegroundRole).value<QColor>(), Model::mismatchColour());
  EXPECT_FALSE(undo()->isEnabled());

  QTemporaryDir folder;
  document->setFilePath(std::filesystem::path(us(folder.filePath("saved.kvtr"))));
  frame->runCommand(command::kSave);
  ASSERT_FALSE(document->modified());

  const QModelIndex network = branch("Сетевые параметры");
  const QModelIndex answerDelay = row(network, "t.Ans", Model::ValueColumn);
  const QModelIndex address = row(network, "Addr", Model::ValueColumn);
  const QModelIndex speed = row(network, "bPS", Model::ValueColumn);
  const QModelIndex scanners = model().index(1, 0, model().topIndex());
  view->expand(scanners);
  const QModelIndex counter = row(scanners, "r.Cn");
  watched = {timeout, answerDelay, address, speed, counter};

  std::vector<QStringList> steps{screen()};
  std::vector<QString> names;
  const auto made = [&](const char* name) {
    steps.push_back(screen());
    names.push_back(name);
    EXPECT_NE(steps.back(), steps[steps.size() - 2]) << name;
  };
  edit(answerDelay, "5");
  made("t.Ans");
  flip(answerDelay.siblingAtColumn(Model::AccessColumn), ui::kEditableText, ui::kNotEditableText);
  made("t.Ans");
  flip(address.siblingAtColumn(Model::OwnerColumn), ui::kMakerText, ui::kUserText);
  made("Addr");
  view->setCurrentIndex(timeout);
  view->setParameterNoData();  // the blue row loses its comment
  made("t.Lnk");
  view->setCurrentIndex(speed);
  view->setParameterNoData();
  made("bPS");
  edit(counter.siblingAtColumn(Model::NameColumn), "200");
  made("r.Cn");
  edit(answerDelay, "7");
  made("t.Ans");
  EXPECT_TRUE(frame->isWindowModified());

  for (std::size_t i = steps.size() - 1; i > 0; --i) {
    EXPECT_TRUE(undo()->text().contains(names[i - 1])) << us(undo()->text());
    undo()->trigger();
    EXPECT_EQ(screen(), steps[i - 1]) << "undo to step " << i - 1;
  }
  EXPECT_FALSE(undo()->isEnabled());
  EXPECT_FALSE(document->modified()) << "back at the saved state";
  EXPECT_FALSE(frame->isWindowModified());

  for (std::size_t i = 1; i < steps.size(); ++i) {
    EXPECT_TRUE(redo()->text().contains(names[i - 1])) << us(redo()->text());
    redo()->trigger();
    EXPECT_EQ(screen(), steps[i]) << "redo to step " << i;
  }
  EXPECT_FALSE(redo()->isEnabled());
  EXPECT_TRUE(frame->isWindowModified());

  // A read of a branch no edit touched keeps the history; one that reaches an edit ends it.
  view->setCurrentIndex(branch("Дискретный вход №1"));
  frame->runCommand(command::kReadBranch);
  EXPECT_TRUE(undo()->isEnabled());
  view->setCurrentIndex(network);
  frame->runCommand(command::kReadBranch);
  EXPECT_FALSE(undo()->isEnabled());
}

}  // namespace
}  // namespace kvtr::test
