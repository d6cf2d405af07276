// The table control as the dialogs' operator meets it: values edited in place with the editor
// their type calls for, the keys passing over disabled rows, button cells that answer a click,
// and columns that leave room for the scroll bar.
#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QComboBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStyle>
#include <QTest>
#include <memory>
#include <vector>

#include "gui_support.h"
#include "model/parameter.h"
#include "ui/table_control.h"

namespace kvtr::test {
namespace {

using ui::TableControl;
namespace cell_flag = ui::cell_flag;

class TableControlTest : public ::testing::Test {
 protected:
  TableControlTest() {
    control_.table().setHeaders({"Параметр", "Значение"});
    control_.table().setEditableColumns({1});
    tester_ = std::make_unique<QAbstractItemModelTester>(&control_.table(),
                                                         QAbstractItemModelTester::FailureReportingMode::Fatal);
    control_.setRowHeight(18);
    control_.resize(300, 200);
  }
  // A row for a parameter of `type` with the limits 0 and 10.
  int AddParameter(const std::string& name, const std::string& type, const std::string& value) {
    auto p = std::make_unique<Parameter>(name, type, "Описание " + name);
    p->minimum = 0;
    p->maximum = 10;
    p->value = value;
    const int row = control_.table().addRow({ui::qs(p->description), ui::qs(p->value)}, p.get());
    parameters_.push_back(std::move(p));
    return row;
  }
  void Show() {
    control_.show();
    control_.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&control_));
  }
  // The in-place editor of that kind that stands open; a closed one may wait to be deleted.
  template <typename Editor>
  Editor* OpenEditor() {
    for (Editor* e : control_.findChildren<Editor*>())
      if (e->isVisible()) return e;
    return nullptr;
  }
  QModelIndex Cell(int row, int column) { return control_.table().index(row, column); }
  QPoint CentreOf(int row, int column) { return control_.visualRect(Cell(row, column)).center(); }

  TableControl control_;
  std::unique_ptr<QAbstractItemModelTester> tester_;
  std::vector<std::unique_ptr<Parameter>> parameters_;
};

TEST_F(TableControlTest, ValuesAreEditedInPlaceWithTheEditorTheirTypeCallsFor) {
  const int real = AddParameter("T.on", "float", "Нет данных");
  const int whole = AddParameter("Addr", "int", "16");
  const int choice = AddParameter("PrtY", "Отсутствует:Четность:Нечетность", "Отсутствует");
  Show();
  EXPECT_EQ(Cell(real, 1).data().toString(), "Н/Д");
  QSignalSpy started(&control_, &TableControl::editingStarted);
  QSignalSpy finished(&control_, &TableControl::editingFinished);

  // A real number: an edit field holding the cell's text, with the limits in its hint.
  control_.beginEditing(real, 1);
  auto* edit = OpenEditor<QLineEdit>();
  ASSERT_NE(edit, nullptr);
  EXPECT_EQ(edit->text(), "Н/Д");
  EXPECT_EQ(edit->selectedText(), "Н/Д");
  EXPECT_EQ(edit->toolTip(), "Описание T.on (T.on)\n"
                             "Значение параметра должно быть вещественного типа, от 0.000 до 10.000.");
  QTest::keyClicks(edit, "7.5");
  QTest::keyClick(edit, Qt::Key_Return);
  ASSERT_TRUE(waitUntil([&] { return OpenEditor<QLineEdit>() == nullptr; }));
  EXPECT_EQ(parameters_[real]->value, "7.5");
  EXPECT_EQ(Cell(real, 1).data().toString(), "7.5");

  control_.beginEditing(whole, 1);
  edit = OpenEditor<QLineEdit>();
  ASSERT_NE(edit, nullptr);
  EXPECT_TRUE(edit->toolTip().endsWith("Значение параметра должно быть целого типа, от 0 до 10."));
  QTest::keyClick(edit, Qt::Key_Escape);
  ASSERT_TRUE(waitUntil([&] { return OpenEditor<QLineEdit>() == nullptr; }));
  EXPECT_EQ(parameters_[whole]->value, "16") << "Escape leaves the value";
  // The window behind the table knows which row is being edited, however the edit ends.
  EXPECT_EQ(started.count(), 2);
  ASSERT_EQ(finished.count(), 2);
  EXPECT_EQ(finished.back(), (QList<QVariant>{whole, 1}));

  // An enumeration: a drop-down list of its entries, the current one chosen; a choice commits.
  control_.beginEditing(choice, 1);
  auto* combo = OpenEditor<QComboBox>();
  ASSERT_NE(combo, nullptr);
  EXPECT_FALSE(combo->isEditable());
  EXPECT_EQ(combo->count(), 3);
  EXPECT_EQ(combo->currentText(), "Отсутствует");
  QTest::keyClick(combo, Qt::Key_Down);
  ASSERT_TRUE(waitUntil([&] { return OpenEditor<QComboBox>() == nullptr; }));
  EXPECT_EQ(parameters_[choice]->value, "Четность");
}

TEST_F(TableControlTest, KeysAndMousePassOverDisabledRowsAndFlagsColourTheText) {
  for (int i = 0; i < 5; ++i) AddParameter("p" + std::to_string(i), "int", std::to_string(i));
  EXPECT_TRUE(control_.setCellFlags(2, ui::kWholeRow, cell_flag::kDisabled, 0));
  EXPECT_FALSE(control_.setCellFlags(2, ui::kWholeRow, cell_flag::kDisabled, 0)) << "nothing changed";
  control_.setCellFlags(4, ui::kWholeRow, cell_flag::kDisabled, 0);
  control_.setCellFlags(0, 1, cell_flag::kRed, 0);
  control_.setCellFlags(1, 1, cell_flag::kGreen, 0);
  Show();

  EXPECT_EQ(Cell(0, 1).data(Qt::ForegroundRole).value<QColor>(), QColor(255, 0, 0));
  EXPECT_EQ(Cell(1, 1).data(Qt::ForegroundRole).value<QColor>(), QColor(0, 180, 0));
  EXPECT_EQ(Cell(2, 0).data(Qt::ForegroundRole).value<QColor>(), QColor(170, 170, 170));

  control_.setCurrentIndex(Cell(1, 0));
  QTest::keyClick(&control_, Qt::Key_Down);
  EXPECT_EQ(control_.currentIndex().row(), 3) << "row 2 is passed over";
  QTest::keyClick(&control_, Qt::Key_Down);
  EXPECT_EQ(control_.currentIndex().row(), 3) << "nothing below but a disabled row: the selection stays";
  QTest::keyClick(&control_, Qt::Key_Up);
  EXPECT_EQ(control_.currentIndex().row(), 1);
  QTest::mouseClick(control_.viewport(), Qt::LeftButton, {}, CentreOf(2, 0));
  EXPECT_EQ(control_.currentIndex().row(), 1) << "a click does not select a disabled row";
  EXPECT_FALSE(control_.selectionModel()->isRowSelected(2, {}));
}

TEST_F(TableControlTest, AButtonCellReportsItsClick) {
  AddParameter("r.cou", "int", "5");
  AddParameter("r.cou", "int", "7");
  control_.setCellFlags(1, 1, cell_flag::kButton, 0);
  control_.table().setButtonCaption(1, 1, "Сброс");
  Show();
  QSignalSpy clicks(&control_, &TableControl::buttonClicked);

  QTest::mouseClick(control_.viewport(), Qt::LeftButton, {}, CentreOf(0, 1));
  EXPECT_EQ(clicks.count(), 0) << "an ordinary cell is no button";
  QTest::mousePress(control_.viewport(), Qt::LeftButton, {}, CentreOf(1, 1));
  EXPECT_EQ(control_.delegate().pressedCell(), Cell(1, 1)) << "drawn pushed while held";
  EXPECT_EQ(clicks.count(), 0);
  QTest::mouseRelease(control_.viewport(), Qt::LeftButton, {}, CentreOf(1, 1));
  ASSERT_EQ(clicks.count(), 1);
  EXPECT_EQ(clicks.front(), (QList<QVariant>{1, 1}));
  EXPECT_FALSE(control_.delegate().pressedCell().isValid());
  EXPECT_EQ(OpenEditor<QLineEdit>(), nullptr) << "a button cell opens no editor";
}

TEST_F(TableControlTest, ColumnsMakeRoomForTheScrollBarWhenTheRowsDoNotFit) {
  for (int i = 0; i < 10; ++i) AddParameter("p" + std::to_string(i), "int", "0");
  Show();
  // Eight rows fit.
  control_.resize(300, control_.height() - control_.viewport()->height() + 8 * 18 + 5);
  QApplication::processEvents();
  const int bar = control_.style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, &control_);
  EXPECT_TRUE(control_.setColumnWidths({100, 100}));
  EXPECT_EQ(control_.columnWidth(0), 100 - bar / 2);
  EXPECT_EQ(control_.columnWidth(1), 100 - bar / 2);
  control_.resize(300, control_.height() + 2 * 18);
  QApplication::processEvents();
  EXPECT_FALSE(control_.setColumnWidths()) << "all ten fit now";
  EXPECT_EQ(control_.columnWidth(0), 100);
}

}  // namespace
}  // namespace kvtr::test
