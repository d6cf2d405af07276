// The main window's centre: the parameter tree with its columns. It reads a branch's parameters
// when the operator opens it in the automatic reading mode, runs the branch and parameter
// commands (the "&Дерево" menu and the context menus), moves to the previous or next parameter
// with a problem, and shows the polled values as they arrive.
//
// Threads: everything here runs on the GUI thread. The polling thread hands each result to a sink
// that only posts it to this view (a queued call); the view applies it to the tree, as the thread
// that owns the tree, and drops results of a tree it no longer shows.
#pragma once

#include <QSet>
#include <QTreeView>
#include <cstdint>

#include "common/catalogue.h"
#include "exchange/task_kind.h"

namespace kvtr {
class DescBranch;
class Document;
class Parameter;
struct ScanResult;
}  // namespace kvtr

namespace kvtr::ui {

class EditHistory;
class ParameterTreeModel;
class QtUserInterface;
class ValueDelegate;

inline constexpr const char* kNoBranchText = trMark("Ветвь не определена");
inline constexpr const char* kImpossibleCaption = trMark("Операция невозможна");
inline constexpr const char* kNothingSelectedText = trMark("Ничего не выбрано!");
inline constexpr const char* kNoOtherProblemsText = trMark("Нет других проблемных параметров");
inline constexpr const char* kNoMoreProblemsText = trMark("Нет больше проблемных параметров");
// A parameter so named is a placeholder row and is never read when its branch opens.
inline constexpr const char* kPlaceholderName = "    ";

class ParameterTreeView : public QTreeView {
  Q_OBJECT

 public:
  explicit ParameterTreeView(QtUserInterface& ui, QWidget* parent = nullptr);
  ~ParameterTreeView() override;

  // New, open, close: the rows are built again from the document's tree (none: no rows). Call it
  // with none before the document replaces its tree, and with the document after.
  void setDocument(Document* document);
  [[nodiscard]] Document* document() const { return document_; }

  // After a task: every row shows the tree's values.
  void refreshAll();
  void setShowLinearIndexes(bool on);

  // The "&Дерево" commands on the selected branch.
  void readBranch();
  void writeBranch();
  void writeBranchChanged();
  void compareBranch();
  void previousProblem();
  void nextProblem();

  // The parameter menu's commands on the selected parameter.
  void readParameter();
  void writeParameter();
  void setParameterNoData();

  // The selected branch, or none when no branch row is selected.
  [[nodiscard]] DescBranch* currentBranch() const;
  [[nodiscard]] Parameter* currentParameter() const;

  [[nodiscard]] ParameterTreeModel& treeModel() const { return *model_; }
  [[nodiscard]] ValueDelegate& valueDelegate() const { return *delegate_; }
  // The undo history of the edits made here; the view tells it of every exchange it runs.
  [[nodiscard]] EditHistory& editHistory() const { return *history_; }

  // On the GUI thread: a result of the polling thread for the tree of `generation`.
  void takeScanResult(const ScanResult& result, std::uint64_t generation);
  // On the GUI thread: the polling thread's results waiting for this view, called by a queued
  // call when the first of them arrives.
  Q_INVOKABLE void takeScanResults();

 signals:
  // An edit changed the configuration (the document is already marked modified).
  void documentModified();
  // Undo or redo moved the configuration towards or away from its saved state.
  void modificationChanged();
  // The selection moved: the branch commands may be enabled or not.
  void currentBranchChanged();

 private:
  // The document is modified, and whoever shows that is told.
  void markModified();
  // Undo or redo put a state back into the parameter.
  void showRestored(Parameter& parameter, bool periodChanged);
  void runBranchTask(TaskKind kind);
  void runParameterTask(TaskKind kind);
  void readOnExpand(const QModelIndex& index);
  void showContextMenu(const QPoint& position);
  void findProblem(bool forward);
  // The next or previous row in display order within the root's rows; branches without a
  // problem below them are passed over without making their rows.
  [[nodiscard]] QModelIndex stepRow(const QModelIndex& from, bool forward);
  [[nodiscard]] bool isProblemRow(const QModelIndex& index) const;
  [[nodiscard]] bool branchHasProblem(const QModelIndex& index) const;
  void selectRow(const QModelIndex& index);

  QtUserInterface& ui_;
  ParameterTreeModel* model_;
  ValueDelegate* delegate_;
  EditHistory* history_;
  Document* document_ = nullptr;
  std::uint64_t generation_ = 0;
  QSet<const Parameter*> scanners_;
};

}  // namespace kvtr::ui
