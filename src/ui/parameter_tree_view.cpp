#include "ui/parameter_tree_view.h"

#include <QApplication>
#include <QFontMetrics>
#include <QHeaderView>
#include <QMenu>
#include <QStyle>
#include <algorithm>
#include <mutex>
#include <utility>
#include <vector>

#include "app/document.h"
#include "exchange/group_operations.h"
#include "exchange/polling.h"
#include "ui/edit_history.h"
#include "ui/parameter_tree_model.h"
#include "ui/qt_user_interface.h"
#include "ui/task_runner.h"
#include "ui/ui_text.h"
#include "ui/value_delegate.h"

namespace kvtr::ui {

namespace {

// Receives the polling thread's results and hands them to the view that shows the tree. It lives
// as long as the process, so the polling thread may hold it whatever happens to views and
// documents; a view attaches and detaches itself under the lock.
//
// The results wait in a queue under the lock, and the view takes them under the same lock when a
// queued call (without data of its own) tells it that some are waiting: every result crosses the
// threads through this mutex alone.
class ScanResultPoster final : public ScanResultSink {
 public:
  static ScanResultPoster& instance() {
    static ScanResultPoster poster;
    return poster;
  }

  void attach(ParameterTreeView* view, std::uint64_t generation) {
    std::lock_guard lock(mutex_);
    view_ = view;
    generation_ = generation;
    pending_.clear();
  }
  void detach(ParameterTreeView* view) {
    std::lock_guard lock(mutex_);
    if (view_ != view) return;
    view_ = nullptr;
    pending_.clear();
  }

  void scanResult(const ScanResult& result) override {
    std::lock_guard lock(mutex_);
    if (view_ == nullptr) return;
    pending_.push_back({result, generation_});
    // One call is on its way while results wait; a view deleted before delivery drops it.
    if (pending_.size() == 1) QMetaObject::invokeMethod(view_, "takeScanResults", Qt::QueuedConnection);
  }

  // The results waiting for `view`, in the order they came.
  std::vector<std::pair<ScanResult, std::uint64_t>> take(const ParameterTreeView* view) {
    std::lock_guard lock(mutex_);
    if (view_ != view) return {};
    return std::exchange(pending_, {});
  }

 private:
  std::mutex mutex_;
  ParameterTreeView* view_ = nullptr;
  std::uint64_t generation_ = 0;
  std::vector<std::pair<ScanResult, std::uint64_t>> pending_;
};

}  // namespace

ParameterTreeView::ParameterTreeView(QtUserInterface& ui, QWidget* parent)
    : QTreeView(parent), ui_(ui), model_(new ParameterTreeModel(ui, this)), delegate_(new ValueDelegate(ui, *model_, this)),
      history_(new EditHistory([this](Parameter& p, bool periodChanged) { showRestored(p, periodChanged); }, this)) {
  delegate_->setHistory(history_);
  connect(history_, &EditHistory::modifiedChanged, this, &ParameterTreeView::modificationChanged);
  setModel(model_);
  setItemDelegate(delegate_);
  setUniformRowHeights(true);
  setAllColumnsShowFocus(true);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setSelectionMode(QAbstractItemView::SingleSelection);
  // A click in a cell of the selected row opens its editor.
  setEditTriggers(QAbstractItemView::SelectedClicked | QAbstractItemView::EditKeyPressed);
  setContextMenuPolicy(Qt::CustomContextMenu);
  // The program's widths, widened where this desktop's font would cut the column's title or the
  // attribute texts that fill the column.
  const QFontMetrics metrics(font());
  const QFontMetrics headerMetrics(header()->font());
  const int margin = 2 * style()->pixelMetric(QStyle::PM_HeaderMargin) + 12;
  for (int column = 0; column < ParameterTreeModel::ColumnCount; ++column) {
    int width = std::max(ParameterTreeModel::columnWidth(column),
                         headerMetrics.horizontalAdvance(model_->headerData(column, Qt::Horizontal).toString()) + margin);
    if (column == ParameterTreeModel::AccessColumn) {
      width = std::max(width, metrics.horizontalAdvance(uiText(kNotEditableText)) + margin);
    } else if (column == ParameterTreeModel::OwnerColumn) {
      width = std::max(width, metrics.horizontalAdvance(uiText(kUserText)) + margin);
    }
    setColumnWidth(column, width);
  }
  header()->setStretchLastSection(true);

  connect(this, &QTreeView::expanded, this, &ParameterTreeView::readOnExpand);
  connect(this, &QWidget::customContextMenuRequested, this, &ParameterTreeView::showContextMenu);
  connect(selectionModel(), &QItemSelectionModel::currentRowChanged, this,
          [this] { emit currentBranchChanged(); });
  connect(delegate_, &ValueDelegate::documentModified, this, &ParameterTreeView::markModified);
  connect(delegate_, &ValueDelegate::refreshNeeded, this, &ParameterTreeView::refreshAll);
}

ParameterTreeView::~ParameterTreeView() {
  ScanResultPoster::instance().detach(this);
  // An editor still open commits its text as the view goes; no history is left to take it.
  delegate_->setHistory(nullptr);
  delete history_;
}

void ParameterTreeView::setDocument(Document* document) {
  ScanResultPoster::instance().detach(this);
  ++generation_;
  scanners_.clear();
  document_ = document;
  history_->setDocument(document);
  model_->setDocument(document);
  emit currentBranchChanged();
  if (document_ == nullptr) return;
  ExchangeEngine& engine = document_->engine();
  (void)engine.CreateTransmitThread();
  if (ParameterTree* tree = document_->tree(); tree != nullptr && tree->scanners() != nullptr) {
    for (const Parameter* p : CollectScanners(*tree->scanners())) scanners_.insert(p);
  }
  ScanResultPoster::instance().attach(this, generation_);
  engine.polling().setResultSink(&ScanResultPoster::instance());
  expand(model_->topIndex());
  if (model_->rootIndex().isValid()) expand(model_->rootIndex());
}

void ParameterTreeView::markModified() {
  if (document_ != nullptr) document_->setModified(true);
  emit documentModified();
}

void ParameterTreeView::refreshAll() {
  QApplication::setOverrideCursor(Qt::WaitCursor);
  model_->refreshAll();
  QApplication::restoreOverrideCursor();
}

void ParameterTreeView::setShowLinearIndexes(bool on) { model_->setShowLinearIndexes(on); }

DescBranch* ParameterTreeView::currentBranch() const { return model_->branchAt(currentIndex()); }

Parameter* ParameterTreeView::currentParameter() const {
  return selectionModel()->hasSelection() ? model_->parameterAt(currentIndex()) : nullptr;
}

// ------------------------------------------------------------------ commands

void ParameterTreeView::runBranchTask(TaskKind kind) {
  DescBranch* branch = currentBranch();
  if (document_ == nullptr || branch == nullptr) {
    ui_.showMessage(kNoBranchText, kImpossibleCaption, MessageIcon::Stop);
    return;
  }
  const bool ran = RunTask(document_->engine(), kind, branch);
  history_->exchanged(branch);
  if (ran) refreshAll();
}

void ParameterTreeView::readBranch() { runBranchTask(TaskKind::ReadAll); }
void ParameterTreeView::writeBranch() { runBranchTask(TaskKind::WriteAll); }
void ParameterTreeView::writeBranchChanged() { runBranchTask(TaskKind::WriteChanged); }
void ParameterTreeView::compareBranch() { runBranchTask(TaskKind::Compare); }

void ParameterTreeView::runParameterTask(TaskKind kind) {
  Parameter* p = currentParameter();
  if (document_ == nullptr || p == nullptr) {
    ui_.showMessage(kNothingSelectedText, kImpossibleCaption, MessageIcon::Exclamation);
    return;
  }
  const bool ran = RunSingleTask(document_->engine(), kind, p);
  history_->exchanged({p});
  if (ran) refreshAll();
}

void ParameterTreeView::readParameter() { runParameterTask(TaskKind::ReadOne); }
void ParameterTreeView::writeParameter() { runParameterTask(TaskKind::WriteOne); }

void ParameterTreeView::setParameterNoData() {
  Parameter* p = currentParameter();
  if (p == nullptr) {
    ui_.showMessage(kNothingSelectedText, kImpossibleCaption, MessageIcon::Exclamation);
    return;
  }
  const ParameterState before = ParameterState::of(*p);
  p->value = std::string(kNoDataText);
  p->comment.clear();
  p->valueChanged = p->accessChanged = p->ownerChanged = 0;
  markModified();
  history_->recorded(uiText("установку значения \"%1\" для %2").arg(qs(std::string(kNoDataText)), qs(p->name)),
                     *p, before);
  refreshAll();
}

void ParameterTreeView::showRestored(Parameter& p, bool periodChanged) {
  if (periodChanged && p.scanArmed.load() && document_ != nullptr) {
    // A running timer takes the period at once, as when it is typed.
    Polling& polling = document_->engine().polling();
    (void)polling.DisarmScanner(p);
    (void)polling.ArmScanner(p);
  }
  model_->refreshParameter(&p);
}

void ParameterTreeView::showContextMenu(const QPoint& position) {
  const QModelIndex index = indexAt(position);
  if (!index.isValid() || document_ == nullptr) return;
  selectRow(index);
  QMenu menu(this);
  if (model_->rowKind(index) == ParameterTreeModel::RowKind::Branch) {
    menu.addAction(uiText("Прочитать эту ветвь"), this, &ParameterTreeView::readBranch);
    menu.addAction(uiText("Записать эту ветвь"), this, &ParameterTreeView::writeBranch);
    menu.addAction(uiText("Записать новые значения этой ветви"), this, &ParameterTreeView::writeBranchChanged);
    menu.addAction(uiText("Сравнить значения этой ветви"), this, &ParameterTreeView::compareBranch);
  } else if (const Parameter* p = model_->parameterAt(index); p != nullptr && !p->isPolled()) {
    menu.addAction(uiText("Прочитать параметр"), this, &ParameterTreeView::readParameter);
    if (p->exchangeable) menu.addAction(uiText("Записать параметр"), this, &ParameterTreeView::writeParameter);
    menu.addSeparator();
    menu.addAction(uiText("Установить значение в \"%1\"").arg(qs(std::string(kNoDataText))), this,
                   &ParameterTreeView::setParameterNoData);
  } else {
    return;
  }
  menu.exec(viewport()->mapToGlobal(position));
}

// ------------------------------------------------------------------ reading on expansion

void ParameterTreeView::readOnExpand(const QModelIndex& index) {
  if (document_ == nullptr || model_->rowKind(index) != ParameterTreeModel::RowKind::Branch) return;
  if (model_->canFetchMore(index)) model_->fetchMore(index);
  ExchangeEngine& engine = document_->engine();
  // The tree belongs to a running task until it ends.
  if (!engine.automaticReading() || engine.taskRunning()) return;
  QApplication::setOverrideCursor(Qt::WaitCursor);
  std::vector<const Parameter*> read;
  const int rows = model_->rowCount(index);
  for (int row = 0; row < rows && engine.automaticReading(); ++row) {
    Parameter* p = model_->parameterAt(model_->index(row, 0, index));
    if (p == nullptr || p->name == kPlaceholderName || p->isPolled()) continue;
    if (p->value != kNoDataText || !p->comment.empty()) continue;
    // One transaction, as a single read: five time-outs in a row switch the mode off.
    (void)engine.operations().ReadParameter(*p, true);
    read.push_back(p);
    model_->refreshParameter(p);
  }
  QApplication::restoreOverrideCursor();
  if (!read.empty()) history_->exchanged(read);
}

// ------------------------------------------------------------------ polled values

void ParameterTreeView::takeScanResults() {
  for (const auto& [result, generation] : ScanResultPoster::instance().take(this)) takeScanResult(result, generation);
}

void ParameterTreeView::takeScanResult(const ScanResult& result, std::uint64_t generation) {
  if (generation != generation_ || document_ == nullptr || !scanners_.contains(result.parameter)) return;
  // An open editor and a running task keep the row as it is; the poller goes on regardless.
  if (delegate_->editingParameter() == result.parameter || document_->engine().taskRunning()) return;
  ApplyScanResult(result);
  model_->refreshParameter(result.parameter);
}

// ------------------------------------------------------------------ problem navigation

void ParameterTreeView::previousProblem() { findProblem(false); }
void ParameterTreeView::nextProblem() { findProblem(true); }

bool ParameterTreeView::isProblemRow(const QModelIndex& index) const {
  const Parameter* p = model_->parameterAt(index);
  return p != nullptr && !p->isPolled() && !p->comment.empty();
}

bool ParameterTreeView::branchHasProblem(const QModelIndex& index) const {
  DescBranch* branch = model_->branchAt(index);
  if (branch == nullptr) return false;
  bool found = false;
  ParameterTree::ForEachParameter(*branch, [&](Parameter& p) { found = found || (!p.isPolled() && !p.comment.empty()); });
  return found;
}

QModelIndex ParameterTreeView::stepRow(const QModelIndex& from, bool forward) {
  const QModelIndex root = model_->rootIndex();
  if (forward) {
    if (branchHasProblem(from)) {
      if (model_->canFetchMore(from)) model_->fetchMore(from);
      if (model_->rowCount(from) > 0) return model_->index(0, 0, from);
    }
    for (QModelIndex at = from; at.isValid() && at != root; at = at.parent()) {
      const QModelIndex next = at.sibling(at.row() + 1, 0);
      if (next.isValid()) return next;
    }
    return {};
  }
  if (from == root || !from.isValid()) return {};
  if (from.row() == 0) return from.parent();
  QModelIndex at = from.sibling(from.row() - 1, 0);
  while (branchHasProblem(at)) {
    if (model_->canFetchMore(at)) model_->fetchMore(at);
    const int rows = model_->rowCount(at);
    if (rows == 0) break;
    at = model_->index(rows - 1, 0, at);
  }
  return at;
}

void ParameterTreeView::findProblem(bool forward) {
  if (document_ == nullptr || document_->root() == nullptr) return;
  QApplication::setOverrideCursor(Qt::WaitCursor);
  QModelIndex at = currentIndex().siblingAtColumn(0);
  const auto kind = model_->rowKind(at);
  if (!at.isValid() || kind == ParameterTreeModel::RowKind::Top) {
    at = model_->rootIndex();
    expand(at);
  }
  // From a branch: down its first rows to a parameter, which may be the one sought.
  if (model_->rowKind(at) == ParameterTreeModel::RowKind::Branch) {
    while (model_->rowKind(at) == ParameterTreeModel::RowKind::Branch) {
      if (model_->canFetchMore(at)) model_->fetchMore(at);
      if (model_->rowCount(at) == 0) {
        QApplication::restoreOverrideCursor();
        ui_.showMessage(kNoOtherProblemsText, "", MessageIcon::Information);
        return;
      }
      expand(at);
      at = model_->index(0, 0, at);
    }
    if (isProblemRow(at)) {
      QApplication::restoreOverrideCursor();
      selectRow(at);
      return;
    }
  }
  do {
    at = stepRow(at, forward);
  } while (at.isValid() && !isProblemRow(at));
  QApplication::restoreOverrideCursor();
  if (!at.isValid()) {
    ui_.showMessage(kNoMoreProblemsText, "", MessageIcon::Information);
    return;
  }
  selectRow(at);
}

void ParameterTreeView::selectRow(const QModelIndex& index) {
  QModelIndexList ancestors;
  for (QModelIndex up = index.parent(); up.isValid(); up = up.parent()) ancestors.prepend(up);
  for (const QModelIndex& up : ancestors) {
    if (!isExpanded(up)) expand(up);
  }
  setCurrentIndex(index);
  selectionModel()->select(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  scrollTo(index);
}

}  // namespace kvtr::ui
