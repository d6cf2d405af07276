// The in-place editors of the parameter tree view. createEditor picks the editor by the kind of
// row and the column (an edit field, the choices of an enumeration, the computer's serial ports for
// "Port", the access attribute, the owner, a scanner's polling period); setModelData applies the
// rules of the end of an edit through the core and tells the operator every refusal through the
// user-interface interface, and writes the value at once where the program's modes say so.
#pragma once

#include "common/catalogue.h"

#include <QPersistentModelIndex>
#include <QStyledItemDelegate>

namespace kvtr {
class Parameter;
}  // namespace kvtr

namespace kvtr::ui {

class EditHistory;
class ParameterTreeModel;
class QtUserInterface;

inline constexpr const char* kPolledValueEditText = trMark(
    "Данный параметр опрашивается.\nВо время изменения значения вывод на экран измененных значений\nбудет блокирован.");
inline constexpr const char* kScanPeriodCaption = trMark("Неудалось изменить период опроса");
inline constexpr const char* kWriteFailedCaption = trMark("Значение не удалось записать в прибор");
inline constexpr const char* kEditableText = trMark("Редактируемый");
inline constexpr const char* kNotEditableText = trMark("Не редактируемый");
inline constexpr const char* kMakerText = trMark("Фирма");
inline constexpr const char* kUserText = trMark("Пользователь");
// A choice of an enumeration that is never offered.
inline constexpr const char* kHiddenChoiceMark = "<hide>";

class ValueDelegate : public QStyledItemDelegate {
  Q_OBJECT

 public:
  ValueDelegate(QtUserInterface& ui, ParameterTreeModel& model, QObject* parent = nullptr);

  QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
  void setEditorData(QWidget* editor, const QModelIndex& index) const override;
  void setModelData(QWidget* editor, QAbstractItemModel* model, const QModelIndex& index) const override;
  void updateEditorGeometry(QWidget* editor, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
  void destroyEditor(QWidget* editor, const QModelIndex& index) const override;

  // Every edit that stays in the configuration enters this history; one written to the module at
  // once leaves it as any exchange does.
  void setHistory(EditHistory* history) { history_ = history; }

  // What undo and redo call the edit of `column` of a parameter row.
  [[nodiscard]] static QString editName(int column, const Parameter& parameter);

  // The parameter whose row has an editor open, or none: polled values wait until it closes.
  [[nodiscard]] const Parameter* editingParameter() const;

  // The enumeration's choices as the list offers them: "<hide>" choices left out, "_" as blanks.
  [[nodiscard]] static QStringList offeredChoices(const Parameter& parameter);

 signals:
  // An edit changed the configuration.
  void documentModified() const;
  // The program's own port settings changed and the port was opened again: every row may say
  // something new.
  void refreshNeeded() const;

 private:
  void endPolledEdit(Parameter& parameter, int column, const QString& text) const;
  void endValueEdit(const QModelIndex& index, Parameter& parameter, const QString& text) const;
  // Writes the parameter at once; a failure is shown with the parameter's comment.
  void writeNow(Parameter& parameter) const;

  QtUserInterface& ui_;
  ParameterTreeModel& model_;
  mutable QPersistentModelIndex editing_;
  // A message box shown while an edit ends takes the focus from the editor, which would end the
  // same edit a second time.
  mutable bool endingEdit_ = false;
  EditHistory* history_ = nullptr;
  // What the edit that is ending did beyond the configuration: it went to the module, or it
  // changed the program's port settings (which are not undone).
  mutable bool exchanged_ = false;
  mutable bool portReopened_ = false;
};

}  // namespace kvtr::ui
