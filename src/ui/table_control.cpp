#include "ui/table_control.h"

#include <QHeaderView>
#include <QMouseEvent>
#include <QScrollBar>
#include <QStyle>
#include <numeric>

namespace kvtr::ui {

TableControl::TableControl(QWidget* parent) : QTableView(parent), model_(this), delegate_(this) {
  setModel(&model_);
  setItemDelegate(&delegate_);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::SelectedClicked |
                  QAbstractItemView::EditKeyPressed);
  setShowGrid(false);  // the delegate draws the grid lines
  setWordWrap(false);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  verticalHeader()->hide();
  horizontalHeader()->setSectionsClickable(false);
  horizontalHeader()->setHighlightSections(false);
  horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  horizontalHeader()->setStretchLastSection(false);
  // The columns follow the rows: a row added or taken away may bring the scroll bar.
  connect(&model_, &QAbstractItemModel::rowsInserted, this, [this] { (void)setColumnWidths(); });
  connect(&model_, &QAbstractItemModel::modelReset, this, [this] { (void)setColumnWidths(); });
}

void TableControl::setRowHeight(int pixels) {
  verticalHeader()->setMinimumSectionSize(1);
  verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  verticalHeader()->setDefaultSectionSize(pixels);
  (void)setColumnWidths();
}

int TableControl::rowsPerPage() const {
  const int rowHeight = std::max(1, verticalHeader()->defaultSectionSize());
  return std::max(1, viewport()->height() / rowHeight);
}

bool TableControl::setColumnWidths(const QList<int>& widths) {
  if (!widths.isEmpty()) widths_ = widths;
  const int columns = model_.columnCount();
  const int rowHeight = std::max(1, verticalHeader()->defaultSectionSize());
  // The page is the viewport without the header; it does not depend on the scroll bar.
  const bool scrollBar = model_.rowCount() * rowHeight > viewport()->height();
  const int narrowing =
      scrollBar && columns > 0 ? style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this) / columns : 0;
  for (int c = 0; c < columns && c < widths_.size(); ++c) setColumnWidth(c, std::max(0, widths_[c] - narrowing));
  return scrollBar;
}

void TableControl::setColumnShares(const QList<int>& shares) {
  shares_ = shares;
  const int total = std::accumulate(shares_.begin(), shares_.end(), 0);
  if (total <= 0) return;
  const int width = contentsRect().width();
  QList<int> widths;
  for (int share : shares_) widths << width * share / total;
  (void)setColumnWidths(widths);
}

void TableControl::resizeEvent(QResizeEvent* event) {
  QTableView::resizeEvent(event);
  if (!shares_.isEmpty()) setColumnShares(shares_);
  else (void)setColumnWidths();
}

void TableControl::beginEditing(int row, int column) {
  const QModelIndex index = model_.index(row, column);
  if (!index.isValid()) return;
  setCurrentIndex(index);
  edit(index);
}

bool TableControl::edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) {
  const bool wasEditing = state() == EditingState;
  if (!QTableView::edit(index, trigger, event)) return false;
  if (!wasEditing && state() == EditingState) {
    editing_ = index;
    emit editingStarted(index.row(), index.column());
  }
  return true;
}

void TableControl::closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint) {
  QTableView::closeEditor(editor, hint);
  if (!editing_.isValid()) return;
  const QModelIndex edited = editing_;
  editing_ = QPersistentModelIndex();
  emit editingFinished(edited.row(), edited.column());
}

int TableControl::enabledRowFrom(int from, int step) const {
  for (int r = from; r >= 0 && r < model_.rowCount(); r += step) {
    if (!model_.rowDisabled(r)) return r;
  }
  return -1;
}

QModelIndex TableControl::moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers modifiers) {
  const QModelIndex current = currentIndex();
  const int rows = model_.rowCount();
  if (rows == 0) return {};
  const int row = current.isValid() ? current.row() : -1;
  const int column = current.isValid() ? current.column() : 0;
  int from = 0;
  int step = 1;
  switch (cursorAction) {
    case MoveUp: from = row - 1; step = -1; break;
    case MoveDown: from = row + 1; break;
    case MovePageUp: from = std::max(0, row - rowsPerPage()); step = -1; break;
    case MovePageDown: from = std::min(rows - 1, row + rowsPerPage()); break;
    case MoveHome: from = 0; break;
    case MoveEnd: from = rows - 1; step = -1; break;
    default: return QTableView::moveCursor(cursorAction, modifiers);
  }
  // A disabled row is passed over in the direction of the move; with nothing beyond it the
  // selection stays where it was.
  const int target = enabledRowFrom(from, step);
  if (target < 0) return current;
  return model_.index(target, column);
}

void TableControl::mousePressEvent(QMouseEvent* event) {
  const QModelIndex index = indexAt(event->position().toPoint());
  if (event->button() == Qt::LeftButton && index.isValid() &&
      (model_.cellFlags(index.row(), index.column()) & cell_flag::kButton) != 0 && !model_.rowDisabled(index.row())) {
    delegate_.setPressedCell(index);
    viewport()->update(visualRect(index));
  }
  QTableView::mousePressEvent(event);
}

void TableControl::mouseReleaseEvent(QMouseEvent* event) {
  QTableView::mouseReleaseEvent(event);
  const QModelIndex pressed = delegate_.pressedCell();
  if (event->button() != Qt::LeftButton || !pressed.isValid()) return;
  delegate_.setPressedCell({});
  viewport()->update(visualRect(pressed));
  // The click belongs to the cell that was pressed, wherever the button comes up.
  if ((model_.cellFlags(pressed.row(), pressed.column()) & cell_flag::kButton) != 0) {
    emit buttonClicked(pressed.row(), pressed.column());
  }
}

}  // namespace kvtr::ui
