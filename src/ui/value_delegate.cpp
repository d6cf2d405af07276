#include "ui/value_delegate.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QLineEdit>

#include "app/document.h"
#include "common/strings.h"
#include "exchange/polling.h"
#include "model/parameter.h"
#include "protocol/network_settings.h"
#include "protocol/serial_port.h"
#include "storage/offline_edit.h"
#include "ui/edit_history.h"
#include "ui/parameter_tree_model.h"
#include "ui/qt_user_interface.h"
#include "ui/task_runner.h"
#include "ui/ui_text.h"

namespace kvtr::ui {

namespace {

using Column = ParameterTreeModel::Column;

// The drop-down list of a choice shows more than its own row.
constexpr int kListExtraHeight = 98;

QString editorText(QWidget* editor) {
  if (auto* line = qobject_cast<QLineEdit*>(editor)) return line->text();
  if (auto* combo = qobject_cast<QComboBox*>(editor)) {
    // An editable list (the port) gives what is typed in it as well as what is chosen.
    if (combo->isEditable()) return combo->currentText().trimmed();
    return combo->currentIndex() < 0 ? QString() : combo->currentText();
  }
  return {};
}

void addUnique(QStringList& list, const QString& text) {
  if (!text.trimmed().isEmpty() && !list.contains(text)) list << text;
}

}  // namespace

ValueDelegate::ValueDelegate(QtUserInterface& ui, ParameterTreeModel& model, QObject* parent)
    : QStyledItemDelegate(parent), ui_(ui), model_(model) {}

const Parameter* ValueDelegate::editingParameter() const {
  return editing_.isValid() ? model_.parameterAt(editing_) : nullptr;
}

QStringList ValueDelegate::offeredChoices(const Parameter& parameter) {
  QStringList choices;
  if (equalsNoCase(parameter.name, kPortParameterName)) {
    // The ports the computer has now come first, then those the settings know.
    for (const std::string& port : EnumerationList(SerialPort::listPorts())) addUnique(choices, qs(port));
  }
  for (const std::string& choice : EnumerationList(parameter.type)) {
    if (choice.find(kHiddenChoiceMark) != std::string::npos) continue;
    addUnique(choices, qs(choice));
  }
  return choices;
}

QWidget* ValueDelegate::createEditor(QWidget* parent, const QStyleOptionViewItem&, const QModelIndex& index) const {
  Parameter* p = model_.parameterAt(index);
  if (p == nullptr || !(model_.flags(index) & Qt::ItemIsEditable)) return nullptr;
  const int column = index.column();
  QWidget* editor = nullptr;
  if (p->isPolled()) {
    if (column == Column::ValueColumn && p->scanArmed.load()) {
      ui_.showMessage(kPolledValueEditText, "", MessageIcon::Exclamation);
    }
    auto* line = new QLineEdit(parent);
    line->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    editor = line;
  } else if (column == Column::ValueColumn && p->kind() != ValueKind::Enumeration) {
    auto* line = new QLineEdit(parent);
    line->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    editor = line;
  } else {
    auto* combo = new QComboBox(parent);
    if (column == Column::ValueColumn) {
      combo->addItems(offeredChoices(*p));
      // A network gateway's port (tcp://HOST:PORT, rfc2217://HOST:PORT) is typed in.
      if (equalsNoCase(p->name, kPortParameterName)) {
        combo->setEditable(true);
        combo->setInsertPolicy(QComboBox::NoInsert);
      }
    } else if (column == Column::AccessColumn) {
      combo->addItems({uiText(kEditableText), uiText(kNotEditableText)});
    } else {
      combo->addItems({uiText(kMakerText), uiText(kUserText)});
    }
    editor = combo;
  }
  editor->setAutoFillBackground(true);
  editing_ = index;
  return editor;
}

void ValueDelegate::setEditorData(QWidget* editor, const QModelIndex& index) const {
  const QString text = index.data(Qt::EditRole).toString();
  if (auto* line = qobject_cast<QLineEdit*>(editor)) {
    line->setText(text);
    return;
  }
  if (auto* combo = qobject_cast<QComboBox*>(editor)) {
    // A choice is found whatever its letter case and whether blanks are written as "_".
    int found = -1;
    for (int i = 0; i < combo->count() && found < 0; ++i) {
      if (equalsNoCase(us(combo->itemText(i)), us(QString(text).replace('_', ' ')))) found = i;
    }
    combo->setCurrentIndex(found);
    if (found < 0 && combo->isEditable()) combo->setEditText(text);
  }
}

void ValueDelegate::updateEditorGeometry(QWidget* editor, const QStyleOptionViewItem& option, const QModelIndex&) const {
  QRect rect = option.rect;
  if (qobject_cast<QComboBox*>(editor) != nullptr) rect.setHeight(std::max(rect.height(), editor->sizeHint().height()));
  editor->setGeometry(rect);
  if (auto* combo = qobject_cast<QComboBox*>(editor)) combo->view()->setMinimumHeight(rect.height() + kListExtraHeight);
}

void ValueDelegate::destroyEditor(QWidget* editor, const QModelIndex& index) const {
  editing_ = QPersistentModelIndex();
  QStyledItemDelegate::destroyEditor(editor, index);
}

void ValueDelegate::setModelData(QWidget* editor, QAbstractItemModel*, const QModelIndex& index) const {
  if (endingEdit_) return;
  Parameter* p = model_.parameterAt(index);
  if (p == nullptr || model_.document() == nullptr) return;
  const QString text = editorText(editor);
  // Nothing chosen, or the text the cell already shows: nothing happens.
  if (qobject_cast<QComboBox*>(editor) != nullptr && text.isEmpty()) return;
  if (text == index.data(Qt::EditRole).toString()) return;
  endingEdit_ = true;
  const ParameterState before = ParameterState::of(*p);
  exchanged_ = portReopened_ = false;
  if (p->isPolled()) {
    endPolledEdit(*p, index.column(), text);
  } else if (index.column() == Column::ValueColumn) {
    endValueEdit(index, *p, text);
  } else if (index.column() == Column::AccessColumn) {
    // The maker's parameter keeps its access attribute: the cell shows the old text again.
    if (!p->ownerFirm) {
      p->editable = text == uiText(kEditableText) ? 1 : 0;
      p->accessChanged = 1;
      emit documentModified();
    }
  } else if (index.column() == Column::OwnerColumn) {
    p->ownerFirm = text == uiText(kMakerText) ? 1 : 0;
    p->ownerChanged = 1;
    emit documentModified();
  }
  model_.refreshParameter(p);
  if (history_ != nullptr) {
    if (exchanged_) {
      history_->exchanged({p});
    } else if (portReopened_) {
      history_->changedOutside();
    } else {
      history_->recorded(editName(index.column(), *p), *p, before);
    }
  }
  endingEdit_ = false;
}

QString ValueDelegate::editName(int column, const Parameter& parameter) {
  const QString name = qs(parameter.name);
  switch (column) {
    case Column::NameColumn: return uiText("изменение периода опроса %1").arg(name);
    case Column::AccessColumn: return uiText("изменение атрибута редактирования %1").arg(name);
    case Column::OwnerColumn: return uiText("изменение владельца %1").arg(name);
    default: return uiText("изменение значения %1").arg(name);
  }
}

void ValueDelegate::endPolledEdit(Parameter& p, int column, const QString& text) const {
  ExchangeEngine& engine = model_.document()->engine();
  if (column == Column::NameColumn) {
    int period = 0;
    if (!AcceptScanPeriod(us(text), period)) {
      ui_.showMessage(std::string(kScanPeriodRefusedText), kScanPeriodCaption, MessageIcon::Stop);
      return;
    }
    // A running timer takes the new period at once.
    const bool armed = p.scanArmed.load();
    if (armed) (void)engine.polling().DisarmScanner(p);
    p.scanPeriodMs = period;
    if (armed) (void)engine.polling().ArmScanner(p);
    emit documentModified();
    return;
  }
  if (column != Column::ValueColumn) return;
  const EditResult result = ApplyParameterEdit(nullptr, nullptr, p, us(text));
  if (result.outcome == EditOutcome::Unchanged) return;
  if (result.outcome != EditOutcome::Changed) {
    ui_.showMessage(result.message, result.caption, MessageIcon::Stop);
    return;
  }
  emit documentModified();
  // A polled value is a command to the module: it goes out at once.
  writeNow(p);
}

void ValueDelegate::endValueEdit(const QModelIndex& index, Parameter& p, const QString& text) const {
  Document& document = *model_.document();
  ExchangeEngine& engine = document.engine();
  ObjectWithParameters* owner = model_.ownerAt(index);
  const EditResult result = ApplyParameterEdit(document.tree(), owner, p, us(text));
  if (result.outcome == EditOutcome::Unchanged) return;
  if (result.outcome != EditOutcome::Changed) {
    ui_.showMessage(result.message, result.caption, MessageIcon::Stop);
    return;
  }
  emit documentModified();
  if (owner == &engine.programPortNode()) {
    // The program's own port settings: the port is opened again with them.
    (void)engine.OpenLink(true);
    portReopened_ = true;
    emit refreshNeeded();
    return;
  }
  if (p.valueChanged && engine.immediateWriting()) writeNow(p);
}

void ValueDelegate::writeNow(Parameter& p) const {
  ExchangeEngine& engine = model_.document()->engine();
  p.comment.clear();
  exchanged_ = true;
  TaskOutcome outcome;
  if (!RunSingleTask(engine, TaskKind::WriteOne, &p, &outcome)) return;
  if (outcome.result != 0) ui_.showMessage(p.comment, kWriteFailedCaption, MessageIcon::Stop);
}

}  // namespace kvtr::ui
