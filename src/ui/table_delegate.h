// How the table control draws its cells and edits them in place.
//
// Drawing: a white cell with light grid lines, the selected row filled light grey and framed dark
// grey (cells and rows whose flags say disabled are left out), the text in the colour its flags
// give ("Нет данных" shown as "Н/Д"), the first column left-aligned and cut with an ellipsis, the
// others centred; cells flagged as buttons are drawn as flat push buttons, pushed while pressed.
//
// Editing: a parameter of type "float", "int" or "CLK_frm" (and a text) is typed into an edit
// field with a hint that names the parameter and its limits; any other type is an enumeration and
// is chosen from a drop-down list of its entries.
#pragma once

#include <QPersistentModelIndex>
#include <QStyledItemDelegate>

namespace kvtr {
class Parameter;
}

namespace kvtr::ui {

class TableDelegate : public QStyledItemDelegate {
  Q_OBJECT

 public:
  explicit TableDelegate(QObject* parent = nullptr);

  // The button cell the mouse holds down; drawn pushed.
  void setPressedCell(const QModelIndex& index) { pressed_ = index; }
  [[nodiscard]] QModelIndex pressedCell() const { return pressed_; }

  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
  QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
  void setEditorData(QWidget* editor, const QModelIndex& index) const override;
  void setModelData(QWidget* editor, QAbstractItemModel* model, const QModelIndex& index) const override;
  void updateEditorGeometry(QWidget* editor, const QStyleOptionViewItem& option, const QModelIndex& index) const override;

 private:
  QPersistentModelIndex pressed_;
};

// The hint of the edit field: its title "description (name)" and its text with the limits.
struct ValueHintText {
  QString title;
  QString text;
};
[[nodiscard]] ValueHintText valueHintText(const Parameter& parameter);

// The entries of an enumeration type as the drop-down list offers them: the pieces between ":"
// up to the first empty one, "_" read as a blank.
[[nodiscard]] QStringList enumerationChoices(const QString& type);

}  // namespace kvtr::ui
