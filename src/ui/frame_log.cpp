#include "ui/frame_log.h"

#include "ui/ui_text.h"

#include <QApplication>
#include <QClipboard>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QMessageBox>
#include <QPushButton>
#include <QSaveFile>
#include <QTableView>
#include <QVBoxLayout>

namespace kvtr::ui {

void FrameLogModel::setLog(const std::vector<std::string>& lines, const FrameContext& context) {
  const std::vector<std::string> meanings = DescribeFrameLog(lines, context);
  beginResetModel();
  lines_.clear();
  meanings_.clear();
  for (std::size_t i = 0; i < lines.size(); ++i) {
    lines_ << QString::fromStdString(lines[i]);
    meanings_ << QString::fromStdString(meanings[i]);
  }
  endResetModel();
}

void FrameLogModel::clear() {
  beginResetModel();
  lines_.clear();
  meanings_.clear();
  endResetModel();
}

int FrameLogModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : lines_.size(); }

int FrameLogModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : kColumnCount; }

QVariant FrameLogModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= lines_.size()) return {};
  const QString& text = index.column() == kLineColumn ? lines_[index.row()] : meanings_[index.row()];
  if (role == Qt::DisplayRole || role == Qt::ToolTipRole) return text;
  return {};
}

QVariant FrameLogModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  return section == kLineColumn ? uiText("Строка протокола") : uiText("Расшифровка посылки");
}

QString FrameLogModel::text() const {
  QString out;
  for (int i = 0; i < lines_.size(); ++i) {
    out += lines_[i];
    if (!meanings_[i].isEmpty()) out += u'\t' + meanings_[i];
    out += '\n';
  }
  return out;
}

FrameLogView::FrameLogView(QWidget* parent) : QWidget(parent), model_(new FrameLogModel(this)), table_(new QTableView(this)) {
  table_->setObjectName("frameLogTable");
  table_->setModel(model_);
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  table_->setSelectionMode(QAbstractItemView::SingleSelection);
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->setWordWrap(false);
  table_->verticalHeader()->hide();
  table_->verticalHeader()->setDefaultSectionSize(table_->fontMetrics().height() + 4);
  table_->horizontalHeader()->setStretchLastSection(true);
  table_->setColumnWidth(FrameLogModel::kLineColumn, 300);

  auto* copy = new QPushButton(uiText("Копировать"), this);
  copy->setObjectName("copyLog");
  copy->setAutoDefault(false);
  auto* save = new QPushButton(uiText("Сохранить..."), this);
  save->setObjectName("saveLog");
  save->setAutoDefault(false);
  connect(copy, &QPushButton::clicked, this, &FrameLogView::copyToClipboard);
  connect(save, &QPushButton::clicked, this, &FrameLogView::saveAs);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(copy);
  buttons->addWidget(save);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(table_);
  layout->addLayout(buttons);
}

void FrameLogView::setLog(const std::vector<std::string>& lines, const FrameContext& context) {
  model_->setLog(lines, context);
  // The raw lines keep their whole width while the readings get at least half of the table.
  table_->resizeColumnToContents(FrameLogModel::kLineColumn);
  const int room = table_->viewport()->width() / 2;
  if (room > 0 && table_->columnWidth(FrameLogModel::kLineColumn) > room) {
    table_->setColumnWidth(FrameLogModel::kLineColumn, room);
  }
  // The last line is the verdict of the exchange: it is the one selected and in view.
  if (model_->rowCount() > 0) {
    table_->selectRow(model_->rowCount() - 1);
    table_->scrollToBottom();
  }
}

void FrameLogView::copyToClipboard() { QApplication::clipboard()->setText(model_->text()); }

void FrameLogView::saveAs() {
  const QString path =
      QFileDialog::getSaveFileName(this, uiText("Сохранить протокол обмена"), "protocol.txt",
                                   uiText("Текст (*.txt);;Все файлы (*)"));
  if (!path.isEmpty()) (void)saveTo(path);
}

bool FrameLogView::saveTo(const QString& path) {
  QSaveFile file(path);
  if (file.open(QIODevice::WriteOnly | QIODevice::Text)) {
    (void)file.write(model_->text().toUtf8());
    if (file.commit()) return true;
  }
  QMessageBox::critical(this, uiText("Сохранить протокол обмена"),
                        uiText("Не удалось записать файл %1:\n%2").arg(path, file.errorString()));
  return false;
}

}  // namespace kvtr::ui
