#include "ui/progress_dialog.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

#include "exchange/exchange_engine.h"
#include "exchange/task_kind.h"
#include "ui/qt_user_interface.h"
#include "ui/ui_text.h"

namespace kvtr::ui {

namespace {

constexpr const char* kDesignCaption = trMark("Прибор <==> программа");
// The log follows its end every so many lines rather than at every one: a fast walk would spend
// its time scrolling.
constexpr int kScrollEvery = 5;

}  // namespace

ProgressDialog::ProgressDialog(QtUserInterface& ui, ExchangeEngine& engine, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint), engine_(engine) {
  setObjectName("progressDialog");
  setWindowTitle(uiText(kDesignCaption));
  setWindowModality(Qt::ApplicationModal);

  log_ = new QListWidget(this);
  log_->setSelectionMode(QAbstractItemView::NoSelection);
  log_->setFocusPolicy(Qt::NoFocus);
  log_->setUniformItemSizes(true);

  elapsed_ = new QLineEdit(this);
  elapsed_->setReadOnly(true);
  elapsed_->setFocusPolicy(Qt::NoFocus);
  counter_ = new QLineEdit(this);
  counter_->setReadOnly(true);
  counter_->setFocusPolicy(Qt::NoFocus);
  // Wide enough for "65535 из 65535" and "23:59:59" in any font.
  const int fieldWidth = counter_->fontMetrics().horizontalAdvance("000000 из 000000") + 16;
  elapsed_->setMinimumWidth(fieldWidth);
  counter_->setMinimumWidth(fieldWidth);

  bar_ = new QProgressBar(this);
  bar_->setTextVisible(false);
  bar_->setRange(0, 1);
  bar_->setValue(0);

  abort_ = new QPushButton(uiText("Прервать!"), this);
  abort_->setAutoDefault(false);
  connect(abort_, &QPushButton::clicked, this, [this] { engine_.Abort(); });

  auto* fields = new QGridLayout;
  fields->addWidget(new QLabel(uiText("Обмен идет:"), this), 0, 0);
  fields->addWidget(elapsed_, 0, 1);
  fields->addWidget(new QLabel(uiText("Обработано пар-ов:"), this), 1, 0);
  fields->addWidget(counter_, 1, 1);
  fields->setColumnStretch(2, 1);
  fields->addWidget(abort_, 0, 3, 2, 1, Qt::AlignRight | Qt::AlignVCenter);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(log_, 1);
  layout->addLayout(fields);
  layout->addWidget(bar_);
  resize(560, 360);

  // Queued: the engine's threads emit, the window changes on the GUI thread only.
  connect(&ui, &QtUserInterface::taskOpened, this, &ProgressDialog::Open, Qt::QueuedConnection);
  connect(&ui, &QtUserInterface::taskLine, this, &ProgressDialog::AddLine, Qt::QueuedConnection);
  connect(&ui, &QtUserInterface::taskProgressed, this, &ProgressDialog::Update, Qt::QueuedConnection);
  connect(&ui, &QtUserInterface::taskClosed, this, &ProgressDialog::Close, Qt::QueuedConnection);
}

ProgressDialog::~ProgressDialog() {
  if (arrowCursor_) QApplication::restoreOverrideCursor();
}

QStringList ProgressDialog::logLines() const {
  QStringList lines;
  for (int i = 0; i < log_->count(); ++i) lines << log_->item(i)->text();
  return lines;
}

QString ProgressDialog::elapsedText() const { return elapsed_->text(); }
QString ProgressDialog::counterText() const { return counter_->text(); }

void ProgressDialog::Open(const QString& caption, int total) {
  log_->clear();
  elapsed_->clear();
  counter_->clear();
  // The bar's range is the low 16 bits of the total; the counter still shows the whole numbers.
  // An empty range would make the bar a busy indicator, so it keeps at least one step.
  bar_->setRange(0, std::max(1, total & 0xFFFF));
  bar_->setValue(0);
  setWindowTitle(caption.isEmpty() ? uiText(kDesignCaption) : caption);
  closing_ = false;
  // The command that started the task shows the wait cursor; over this window the operator
  // needs the ordinary one to reach "Прервать!".
  if (!arrowCursor_) QApplication::setOverrideCursor(Qt::ArrowCursor);
  arrowCursor_ = true;
  show();
  raise();
  activateWindow();
}

void ProgressDialog::AddLine(const QString& line) {
  log_->addItem(line);
  if (log_->count() % kScrollEvery == 0 || line == qs(std::string(kTaskDoneText))) log_->scrollToBottom();
}

void ProgressDialog::Update(const kvtr::TaskProgress& update) {
  elapsed_->setText(qs(update.elapsed));
  if (update.total == 0) return;
  counter_->setText(qs(update.counter));
  bar_->setValue(std::min(update.done, bar_->maximum()));
}

void ProgressDialog::Close() {
  closing_ = true;
  log_->scrollToBottom();
  if (arrowCursor_) QApplication::restoreOverrideCursor();
  arrowCursor_ = false;
  done(0);
}

void ProgressDialog::reject() {}

void ProgressDialog::closeEvent(QCloseEvent* event) {
  // The close box and Alt+F4 do nothing: the engine closes the window when the task has ended.
  if (!closing_) event->ignore();
  else QDialog::closeEvent(event);
}

}  // namespace kvtr::ui
