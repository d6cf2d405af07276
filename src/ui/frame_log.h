// The protocol log of an exchange as the service windows show it: every line the transaction
// wrote, and beside each traced frame line what the frame says (direction, address, read or
// write, the parameter by its hash, the index, the data bytes and the value). The operator can
// copy the log or save it as text.
#pragma once

#include <QAbstractTableModel>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <string>
#include <vector>

#include "protocol/frame_decoder.h"

class QTableView;

namespace kvtr::ui {

class FrameLogModel final : public QAbstractTableModel {
  Q_OBJECT

 public:
  enum Column { kLineColumn = 0, kMeaningColumn = 1, kColumnCount = 2 };

  using QAbstractTableModel::QAbstractTableModel;

  // Takes the lines of a log and reads its frames with what `context` knows.
  void setLog(const std::vector<std::string>& lines, const FrameContext& context);
  void clear();

  [[nodiscard]] int rowCount(const QModelIndex& parent = {}) const override;
  [[nodiscard]] int columnCount(const QModelIndex& parent = {}) const override;
  [[nodiscard]] QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  [[nodiscard]] QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

  // The log as text: one line per row, a frame's reading after a tab.
  [[nodiscard]] QString text() const;
  [[nodiscard]] const QStringList& lines() const { return lines_; }
  [[nodiscard]] const QStringList& meanings() const { return meanings_; }

 private:
  QStringList lines_;
  QStringList meanings_;
};

class FrameLogView final : public QWidget {
  Q_OBJECT

 public:
  explicit FrameLogView(QWidget* parent = nullptr);

  [[nodiscard]] FrameLogModel& model() { return *model_; }
  void setLog(const std::vector<std::string>& lines, const FrameContext& context);
  void clear() { model_->clear(); }

  // "Копировать": the whole log to the clipboard.
  void copyToClipboard();
  // "Сохранить...": asks for a file and writes the log there.
  void saveAs();
  // Writes the log as UTF-8 text; false with a message when the file cannot be written.
  bool saveTo(const QString& path);

 private:
  FrameLogModel* model_;
  QTableView* table_;
};

}  // namespace kvtr::ui
