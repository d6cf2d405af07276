// The table control of the dialogs that show parameters as a flat table (the connection dialog's
// port settings, the inputs and outputs window's counters and outputs): a report-style list with
// full-row selection, a flag word per cell, in-place editors chosen by the parameter's type, and
// push-button cells that report their clicks.
//
// The rows and their flags live in the model (table_model.h); the drawing and the editors in the
// delegate (table_delegate.h). The control adds what belongs to the view: the keys pass over
// disabled rows, the columns take their preferred widths (narrowed when a vertical scroll bar is
// needed), editing begins on request, and button cells are pressed and released.
#pragma once

#include <QList>
#include <QTableView>

#include "ui/table_delegate.h"
#include "ui/table_model.h"

namespace kvtr::ui {

class TableControl : public QTableView {
  Q_OBJECT

 public:
  explicit TableControl(QWidget* parent = nullptr);

  [[nodiscard]] TableModel& table() { return model_; }
  [[nodiscard]] const TableModel& table() const { return model_; }
  [[nodiscard]] TableDelegate& delegate() { return delegate_; }

  // Every row this many pixels high.
  void setRowHeight(int pixels);

  // The preferred widths of the columns, in pixels; none re-applies the kept ones. When the rows
  // do not fit on one page, every column is narrowed by the width of the vertical scroll bar
  // divided by the number of columns. True when the scroll bar is needed.
  bool setColumnWidths(const QList<int>& widths = {});
  // Preferred widths as shares of the control's width (3 and 1: three quarters and a quarter),
  // kept as the control is resized.
  void setColumnShares(const QList<int>& shares);

  // The cell flags; see TableModel. Column kWholeRow: the row.
  bool setCellFlags(int row, int column, quint16 set, quint16 clear) { return model_.setCellFlags(row, column, set, clear); }
  [[nodiscard]] quint16 cellFlags(int row, int column) const { return model_.cellFlags(row, column); }

  // Opens the in-place editor of a cell.
  void beginEditing(int row, int column);
  using QTableView::edit;

 signals:
  // A push-button cell was pressed and released.
  void buttonClicked(int row, int column);
  // An in-place editor opened over a cell, and closed again (after its edit-end operation, or
  // without one when the edit was abandoned): a window that refreshes its rows from the module
  // leaves the row alone in between.
  void editingStarted(int row, int column);
  void editingFinished(int row, int column);

 protected:
  QModelIndex moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers modifiers) override;
  bool edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) override;
  void closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  // The first row from `from` on, stepping by `step`, that is not disabled; -1 when none is.
  [[nodiscard]] int enabledRowFrom(int from, int step) const;
  [[nodiscard]] int rowsPerPage() const;

  TableModel model_;
  TableDelegate delegate_;
  QList<int> widths_;
  QList<int> shares_;
  QPersistentModelIndex editing_;
};

}  // namespace kvtr::ui
