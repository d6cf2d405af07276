#include "ui/table_delegate.h"

#include <QApplication>
#include <QComboBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QStyle>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

#include "common/format.h"
#include "common/strings.h"
#include "model/parameter.h"
#include "protocol/network_settings.h"
#include "ui/qt_user_interface.h"
#include "ui/table_model.h"
#include "ui/ui_text.h"

namespace kvtr::ui {

namespace {

constexpr int kTextIndent = 3;      // the text starts this far from the cell's left edge
constexpr int kHintWidth = 250;     // the widest the edit field's hint grows
constexpr int kHintShownMs = 15000;  // how long the hint stays up

// The hint balloon under an edit field: the information icon, the title in bold, the text.
// A child window of the editor, so it goes when the editor goes.
class ValueHint : public QFrame {
 public:
  ValueHint(QWidget* editor, const ValueHintText& hint) : QFrame(editor, Qt::ToolTip) {
    setObjectName("valueHint");
    setFrameShape(QFrame::Box);
    setAttribute(Qt::WA_DeleteOnClose);
    setMaximumWidth(kHintWidth);
    auto* icon = new QLabel(this);
    const int side = style()->pixelMetric(QStyle::PM_SmallIconSize);
    icon->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxInformation).pixmap(side, side));
    auto* title = new QLabel(hint.title, this);
    QFont bold = title->font();
    bold.setBold(true);
    title->setFont(bold);
    title->setWordWrap(true);
    auto* text = new QLabel(hint.text, this);
    text->setWordWrap(true);
    auto* words = new QVBoxLayout;
    words->addWidget(title);
    words->addWidget(text);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(6, 4, 6, 4);
    layout->addWidget(icon, 0, Qt::AlignTop);
    layout->addLayout(words, 1);
    QTimer::singleShot(kHintShownMs, this, &QWidget::close);
    // A window of its own is not hidden with its parent: it goes when the editor closes.
    editor->installEventFilter(this);
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched == parent() && event->type() == QEvent::Hide) close();
    return QFrame::eventFilter(watched, event);
  }
};

bool isTypedValue(const Parameter& p) {
  switch (p.kind()) {
    case ValueKind::Float:
    case ValueKind::Integer:
    case ValueKind::Time: return true;
    default: return false;
  }
}

// Texts have no list to choose from: they are typed as well, without limits to tell.
bool isText(const Parameter& p) { return p.kind() == ValueKind::String || p.kind() == ValueKind::NetworkName; }

Parameter* rowParameter(const QModelIndex& index) {
  const auto* model = qobject_cast<const TableModel*>(index.model());
  return model != nullptr ? model->parameter(index.row()) : nullptr;
}

}  // namespace

ValueHintText valueHintText(const Parameter& parameter) {
  ValueHintText hint;
  hint.title = qs(strprintf("%s (%s)", parameter.description.c_str(), parameter.name.c_str()));
  if (parameter.kind() == ValueKind::Float) {
    // Without limits a real number has no range to tell: "от 0.000 до 0.000" would mislead.
    hint.text = qs(parameter.hasLimits()
                       ? strprintf(trFormat("Значение параметра должно быть вещественного типа, от %.3f до %.3f."),
                                   parameter.minimum, parameter.maximum)
                       : std::string(tr("Значение параметра должно быть вещественного типа.")));
    return hint;
  }
  // Without limits a whole number is still held in two bytes: 0 to 65535 is what is taken.
  constexpr double kLargestWord = 65535.0;
  const double low = parameter.hasLimits() ? parameter.minimum : 0.0;
  const double high = parameter.hasLimits() ? parameter.maximum : kLargestWord;
  hint.text = qs(strprintf(trFormat("Значение параметра должно быть целого типа, от %.0f до %.0f."), low, high));
  return hint;
}

QStringList enumerationChoices(const QString& type) {
  QStringList choices;
  for (const QString& piece : type.split(':')) {
    if (piece.isEmpty()) break;
    choices << QString(piece).replace('_', ' ');
  }
  return choices;
}

TableDelegate::TableDelegate(QObject* parent) : QStyledItemDelegate(parent) {}

void TableDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
  const QRect r = option.rect;
  const auto flags = static_cast<quint16>(index.data(TableModel::CellFlagsRole).toUInt());
  const auto rowFlags = static_cast<quint16>(index.data(TableModel::RowFlagsRole).toUInt());
  const bool focusRow = (option.state & QStyle::State_Selected) != 0;
  const bool lastColumn = index.column() == index.model()->columnCount(index.parent()) - 1;

  painter->save();
  painter->fillRect(r, Qt::white);
  painter->setPen(table_colour::kGrid);
  painter->drawLine(r.topRight(), r.bottomRight());
  painter->drawLine(r.topLeft(), r.topRight());
  painter->drawLine(r.bottomLeft(), r.bottomRight());
  if (focusRow && (flags & cell_flag::kDisabled) == 0) painter->fillRect(r.adjusted(0, 1, -1, -1), table_colour::kFocusFill);

  int shift = 0;
  if ((flags & cell_flag::kButton) != 0) {
    const bool pushed = pressed_.isValid() && pressed_ == index;
    QStyleOptionButton button;
    button.rect = r.adjusted(1, 1, -1, -1);
    button.state = QStyle::State_Enabled | (pushed ? QStyle::State_Sunken : QStyle::State_Raised);
    button.features = QStyleOptionButton::Flat;
    const QWidget* widget = option.widget;
    QStyle* style = widget != nullptr ? widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_PushButtonBevel, &button, painter, widget);
    // The caption moves one pixel right and down while the button is held down.
    shift = pushed ? 1 : 0;
    painter->setPen(table_colour::kButtonCaption);
    painter->drawText(button.rect.translated(shift, shift), Qt::AlignCenter | Qt::TextSingleLine,
                      index.data(TableModel::ButtonCaptionRole).toString());
  }

  const QString text = index.data(Qt::DisplayRole).toString();
  if (!text.isEmpty()) {
    painter->setPen(index.data(Qt::ForegroundRole).value<QColor>());
    painter->setFont(option.font);
    const QRect textRect = r.adjusted(kTextIndent, 0, -kTextIndent, 0).translated(shift, shift);
    if (index.column() == 0) {
      const QString shown = option.fontMetrics.elidedText(text, Qt::ElideRight, textRect.width());
      painter->drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, shown);
    } else {
      painter->drawText(textRect, Qt::AlignCenter | Qt::TextSingleLine, text);
    }
  }

  if (focusRow && (rowFlags & cell_flag::kDisabled) == 0) {
    painter->setPen(table_colour::kFocusFrame);
    painter->drawLine(r.topLeft(), r.topRight());
    painter->drawLine(r.bottomLeft(), r.bottomRight());
    if (index.column() == 0) painter->drawLine(r.topLeft(), r.bottomLeft());
    if (lastColumn) painter->drawLine(r.topRight(), r.bottomRight());
  }
  painter->restore();
}

QWidget* TableDelegate::createEditor(QWidget* parent, const QStyleOptionViewItem& option, const QModelIndex& index) const {
  const Parameter* p = rowParameter(index);
  if (p != nullptr && !isTypedValue(*p) && !isText(*p)) {
    auto* combo = new QComboBox(parent);
    // The port is also typed in: a network gateway's tcp://HOST:PORT or rfc2217://HOST:PORT.
    const bool typed = equalsNoCase(p->name, kPortParameterName);
    combo->setEditable(typed);
    if (typed) combo->setInsertPolicy(QComboBox::NoInsert);
    combo->setFont(option.font);
    combo->addItems(enumerationChoices(qs(p->type)));
    // A choice commits at once, as a drop-down list does.
    auto* self = const_cast<TableDelegate*>(this);
    connect(combo, &QComboBox::activated, self, [self, combo] {
      emit self->commitData(combo);
      emit self->closeEditor(combo);
    });
    return combo;
  }
  auto* edit = new QLineEdit(parent);
  edit->setFrame(true);
  edit->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  edit->setFont(option.font);
  if (p != nullptr && isTypedValue(*p)) {
    const ValueHintText hint = valueHintText(*p);
    edit->setToolTip(hint.title + "\n" + hint.text);
    // The hint comes up once the field stands over its cell.
    QTimer::singleShot(0, edit, [edit, hint] {
      if (!edit->isVisible()) return;
      auto* balloon = new ValueHint(edit, hint);
      balloon->adjustSize();
      balloon->move(edit->mapToGlobal(QPoint(0, edit->height())));
      balloon->show();
    });
  }
  return edit;
}

void TableDelegate::setEditorData(QWidget* editor, const QModelIndex& index) const {
  const QString text = index.data(Qt::EditRole).toString();
  if (auto* combo = qobject_cast<QComboBox*>(editor)) {
    int at = combo->findText(text);
    if (at < 0 && !text.isEmpty()) {
      // A value that is not in the list (a port that is not there now) stays choosable.
      combo->insertItem(0, text);
      at = 0;
    }
    combo->setCurrentIndex(at);
    return;
  }
  if (auto* edit = qobject_cast<QLineEdit*>(editor)) {
    edit->setText(text);
    edit->selectAll();
  }
}

void TableDelegate::setModelData(QWidget* editor, QAbstractItemModel* model, const QModelIndex& index) const {
  if (auto* combo = qobject_cast<QComboBox*>(editor)) {
    model->setData(index, combo->currentText());
  } else if (auto* edit = qobject_cast<QLineEdit*>(editor)) {
    model->setData(index, edit->text());
  }
}

void TableDelegate::updateEditorGeometry(QWidget* editor, const QStyleOptionViewItem& option, const QModelIndex&) const {
  QRect r = option.rect;
  // An editor taller than the row stands centred over it.
  const int height = std::max(r.height(), editor->sizeHint().height());
  r.setTop(r.top() - (height - option.rect.height()) / 2);
  r.setHeight(height);
  editor->setGeometry(r);
}

}  // namespace kvtr::ui
