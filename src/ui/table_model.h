// The rows of the table control: a flat list of cells, each with its text and a 16-bit flag word,
// each row with the parameter it shows and its own text colour. The dialogs decide what the rows
// hold and what an edit does; the model only keeps them and says how a cell looks.
#pragma once

#include "common/catalogue.h"

#include <QAbstractTableModel>
#include <QColor>
#include <QList>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>
#include <vector>

namespace kvtr {
class Parameter;
}

namespace kvtr::ui {

// The bits of a cell's flag word. The row as a whole has a word of its own (column kWholeRow).
namespace cell_flag {
inline constexpr quint16 kDisabled = 1;    // grey text, never highlighted; a disabled row cannot be selected
inline constexpr quint16 kRed = 8;         // red text
inline constexpr quint16 kButton = 32;     // drawn by the control as a push button that can be clicked
inline constexpr quint16 kGreen = 64;      // green text
}  // namespace cell_flag

inline constexpr int kWholeRow = -1;

// The text a cell shows for a value nobody knows yet.
inline constexpr const char* kNoDataShortText = trMark("Н/Д");

// The colours of the cells.
namespace table_colour {
inline const QColor kDisabledText{170, 170, 170};
inline const QColor kRedText{255, 0, 0};
inline const QColor kGreenText{0, 180, 0};
inline const QColor kGrid{243, 244, 227};
inline const QColor kFocusFill{210, 210, 210};
inline const QColor kFocusFrame{100, 100, 100};
inline const QColor kButtonCaption{0, 0, 150};
}  // namespace table_colour

class TableModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  enum Role {
    CellFlagsRole = Qt::UserRole + 1,  // quint16: the cell's flag word
    RowFlagsRole,                      // quint16: the row's own flag word
    ButtonCaptionRole,                 // QString: the caption of a push-button cell
  };

  // What happens when an in-place edit ends: the row, the column and the text typed or chosen.
  // Returns the text the cell shows from now on, or nothing when the edit is refused (the cell
  // keeps its text).
  using EditHandler = std::function<std::optional<QString>(int row, int column, const QString& text)>;

  explicit TableModel(QObject* parent = nullptr);

  void setHeaders(const QStringList& headers);
  // Columns whose cells can be edited in place.
  void setEditableColumns(const QList<int>& columns) { editableColumns_ = columns; }
  // Without a handler an edit stores the text into the row's parameter and the cell.
  void setEditHandler(EditHandler handler) { editHandler_ = std::move(handler); }

  // Appends a row; `texts` gives the cells from the left (missing ones are empty). Returns its number.
  int addRow(const QStringList& texts, Parameter* parameter = nullptr, const QColor& colour = Qt::black);
  void clear();

  [[nodiscard]] Parameter* parameter(int row) const;
  // The cell's own text ("Нет данных" stays as it is; the display shows it short).
  [[nodiscard]] QString text(int row, int column) const;
  void setText(int row, int column, const QString& text);
  void setRowColour(int row, const QColor& colour);
  void setButtonCaption(int row, int column, const QString& caption);

  // Sets and clears bits of a cell's flag word, or of every cell of the row and the row's own
  // word with kWholeRow. True when a word changed; only then is the row redrawn.
  bool setCellFlags(int row, int column, quint16 set, quint16 clear);
  [[nodiscard]] quint16 cellFlags(int row, int column) const;
  [[nodiscard]] bool rowDisabled(int row) const { return (cellFlags(row, kWholeRow) & cell_flag::kDisabled) != 0; }

  // The text colour of a cell by its flags: disabled grey, red, green, else the row's colour.
  [[nodiscard]] QColor textColour(int row, int column) const;

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;

 private:
  struct Cell {
    QString text;
    QString buttonCaption;
    quint16 flags = 0;
  };
  struct Row {
    std::vector<Cell> cells;
    quint16 flags = 0;
    Parameter* parameter = nullptr;
    QColor colour;
  };
  [[nodiscard]] bool valid(int row, int column) const;
  void rowChanged(int row);

  QStringList headers_;
  QList<int> editableColumns_;
  EditHandler editHandler_;
  std::vector<Row> rows_;
};

// "Нет данных" as a cell shows it: "Н/Д"; any other text as it is.
[[nodiscard]] QString shownCellText(const QString& text);

}  // namespace kvtr::ui
