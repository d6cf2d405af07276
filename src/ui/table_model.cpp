#include "ui/table_model.h"

#include "model/my_converter.h"
#include "model/parameter.h"
#include "ui/qt_user_interface.h"
#include "ui/ui_text.h"

namespace kvtr::ui {

QString shownCellText(const QString& text) { return text == qs(std::string(kNoDataText)) ? uiText(kNoDataShortText) : text; }

TableModel::TableModel(QObject* parent) : QAbstractTableModel(parent) {}

void TableModel::setHeaders(const QStringList& headers) {
  beginResetModel();
  headers_ = headers;
  for (Row& row : rows_) row.cells.resize(static_cast<std::size_t>(headers_.size()));
  endResetModel();
}

int TableModel::addRow(const QStringList& texts, Parameter* parameter, const QColor& colour) {
  const int row = static_cast<int>(rows_.size());
  beginInsertRows({}, row, row);
  Row r;
  r.cells.resize(static_cast<std::size_t>(headers_.size()));
  for (int c = 0; c < texts.size() && c < headers_.size(); ++c) r.cells[static_cast<std::size_t>(c)].text = texts[c];
  r.parameter = parameter;
  r.colour = colour;
  rows_.push_back(std::move(r));
  endInsertRows();
  return row;
}

void TableModel::clear() {
  if (rows_.empty()) return;
  beginResetModel();
  rows_.clear();
  endResetModel();
}

bool TableModel::valid(int row, int column) const {
  return row >= 0 && row < static_cast<int>(rows_.size()) && column >= 0 && column < headers_.size();
}

void TableModel::rowChanged(int row) {
  if (headers_.isEmpty()) return;
  emit dataChanged(index(row, 0), index(row, static_cast<int>(headers_.size()) - 1));
}

Parameter* TableModel::parameter(int row) const {
  if (row < 0 || row >= static_cast<int>(rows_.size())) return nullptr;
  return rows_[static_cast<std::size_t>(row)].parameter;
}

QString TableModel::text(int row, int column) const {
  if (!valid(row, column)) return {};
  return rows_[static_cast<std::size_t>(row)].cells[static_cast<std::size_t>(column)].text;
}

void TableModel::setText(int row, int column, const QString& text) {
  if (!valid(row, column)) return;
  QString& cell = rows_[static_cast<std::size_t>(row)].cells[static_cast<std::size_t>(column)].text;
  if (cell == text) return;
  cell = text;
  emit dataChanged(index(row, column), index(row, column));
}

void TableModel::setRowColour(int row, const QColor& colour) {
  if (row < 0 || row >= static_cast<int>(rows_.size())) return;
  rows_[static_cast<std::size_t>(row)].colour = colour;
  rowChanged(row);
}

void TableModel::setButtonCaption(int row, int column, const QString& caption) {
  if (!valid(row, column)) return;
  rows_[static_cast<std::size_t>(row)].cells[static_cast<std::size_t>(column)].buttonCaption = caption;
  emit dataChanged(index(row, column), index(row, column));
}

bool TableModel::setCellFlags(int row, int column, quint16 set, quint16 clear) {
  if (row < 0 || row >= static_cast<int>(rows_.size())) return false;
  Row& r = rows_[static_cast<std::size_t>(row)];
  const auto apply = [set, clear](quint16& word) {
    const quint16 old = word;
    word = static_cast<quint16>((word | set) & ~clear);
    return word != old;
  };
  bool changed = false;
  if (column == kWholeRow) {
    changed = apply(r.flags);
    for (Cell& cell : r.cells) changed = apply(cell.flags) || changed;
  } else if (valid(row, column)) {
    changed = apply(r.cells[static_cast<std::size_t>(column)].flags);
  }
  if (changed) rowChanged(row);
  return changed;
}

quint16 TableModel::cellFlags(int row, int column) const {
  if (row < 0 || row >= static_cast<int>(rows_.size())) return 0;
  if (column == kWholeRow) return rows_[static_cast<std::size_t>(row)].flags;
  if (!valid(row, column)) return 0;
  return rows_[static_cast<std::size_t>(row)].cells[static_cast<std::size_t>(column)].flags;
}

QColor TableModel::textColour(int row, int column) const {
  const quint16 f = cellFlags(row, column);
  if ((f & cell_flag::kDisabled) != 0) return table_colour::kDisabledText;
  if ((f & cell_flag::kRed) != 0) return table_colour::kRedText;
  if ((f & cell_flag::kGreen) != 0) return table_colour::kGreenText;
  if (row < 0 || row >= static_cast<int>(rows_.size())) return Qt::black;
  return rows_[static_cast<std::size_t>(row)].colour;
}

int TableModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int TableModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : static_cast<int>(headers_.size()); }

QVariant TableModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || !valid(index.row(), index.column())) return {};
  const Row& r = rows_[static_cast<std::size_t>(index.row())];
  const Cell& cell = r.cells[static_cast<std::size_t>(index.column())];
  switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole: return shownCellText(cell.text);
    case Qt::ToolTipRole:  // a value too long for its column is read here
      return cell.text.isEmpty() ? QVariant() : QVariant(shownCellText(cell.text));
    case Qt::ForegroundRole: return textColour(index.row(), index.column());
    case Qt::TextAlignmentRole:
      // The first column reads like a label, the others like values.
      return index.column() == 0 ? QVariant(Qt::AlignLeft | Qt::AlignVCenter) : QVariant(Qt::AlignCenter);
    case CellFlagsRole: return cell.flags;
    case RowFlagsRole: return r.flags;
    case ButtonCaptionRole: return cell.buttonCaption;
    default: return {};
  }
}

QVariant TableModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= headers_.size()) return {};
  return headers_[section];
}

Qt::ItemFlags TableModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  // A disabled row can be neither selected nor edited: the keys and the mouse pass over it.
  if (rowDisabled(index.row())) return Qt::ItemNeverHasChildren;
  Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
  const quint16 cell = cellFlags(index.row(), index.column());
  if (editableColumns_.contains(index.column()) && (cell & (cell_flag::kDisabled | cell_flag::kButton)) == 0) {
    f |= Qt::ItemIsEditable;
  }
  return f;
}

bool TableModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (role != Qt::EditRole || !index.isValid() || !(flags(index) & Qt::ItemIsEditable)) return false;
  const int row = index.row();
  const int column = index.column();
  const QString typed = value.toString();
  // An editor closed on the text it opened with changes nothing ("Н/Д" stays "Нет данных").
  if (typed == shownCellText(text(row, column))) return true;
  std::optional<QString> shown;
  if (editHandler_) {
    shown = editHandler_(row, column, typed);
  } else {
    if (Parameter* p = parameter(row)) p->value = us(typed);
    shown = typed;
  }
  if (!shown) return false;
  setText(row, column, *shown);
  return true;
}

}  // namespace kvtr::ui
