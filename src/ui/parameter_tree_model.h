// The item model of the parameter tree view: a top row with the configuration's file name, under
// it the root branch and the scanners branch of the document's tree, branch rows created only
// when the view opens them (canFetchMore/fetchMore), and six columns per row.
//
// The model reads every text from the tree's nodes when the view asks for it, so a refresh after a
// task is only a dataChanged over the rows that exist. Branch rows keep their texts (the title and
// the "(n)" of the linear index, which may warn the user), computed when the row is made and again
// on a refresh.
#pragma once

#include "common/catalogue.h"

#include <QAbstractItemModel>
#include <QColor>
#include <QHash>
#include <QIcon>
#include <memory>
#include <vector>

namespace kvtr {
class DescBranch;
class Document;
class ObjectWithParameters;
class Parameter;
class UserInterface;
}  // namespace kvtr

namespace kvtr::ui {

class ParameterTreeModel : public QAbstractItemModel {
  Q_OBJECT

 public:
  enum Column { DescriptionColumn, NameColumn, ValueColumn, AccessColumn, OwnerColumn, CommentColumn, ColumnCount };
  enum class RowKind { None, Top, Branch, Parameter, Extra, Undefined };

  static constexpr const char* kTopTitlePrefix = trMark("Конфигурация КВТР (");
  static constexpr const char* kUntitledFile = trMark("безымянный файл");
  static constexpr const char* kUndefinedTitle = trMark("Параметры прибора");
  static constexpr const char* kUndefinedValue = trMark("(не определены)");
  // The scanner whose polling period has no editor.
  static constexpr const char* kFixedPeriodScanner = "r.oe.s";

  // Text colours of a row (the program's RGB values).
  static QColor mismatchColour() { return {64, 64, 255}; }
  static QColor errorColour() { return {255, 0, 0}; }
  static QColor changedColour() { return {0, 200, 0}; }

  explicit ParameterTreeModel(UserInterface& ui, QObject* parent = nullptr);
  ~ParameterTreeModel() override;

  // Builds the rows of the document's tree again (none: an empty model).
  void setDocument(Document* document);
  [[nodiscard]] Document* document() const { return document_; }

  // Linear indexes on branch rows and ":index" after indexed names.
  void setShowLinearIndexes(bool on);
  [[nodiscard]] bool showLinearIndexes() const { return showIndexes_; }

  // Every row that exists shows what its node holds now.
  void refreshAll();
  // The row of one parameter shows what it holds now.
  void refreshParameter(const Parameter* parameter);

  // ---------------------------------------------------------------- what a row is
  [[nodiscard]] RowKind rowKind(const QModelIndex& index) const;
  // Branch rows: the branch; parameter rows: none.
  [[nodiscard]] DescBranch* branchAt(const QModelIndex& index) const;
  [[nodiscard]] Parameter* parameterAt(const QModelIndex& index) const;
  // Parameter rows: the node that holds the parameter.
  [[nodiscard]] ObjectWithParameters* ownerAt(const QModelIndex& index) const;
  // The row of a parameter or a branch, once it has been made; invalid otherwise.
  [[nodiscard]] QModelIndex indexOf(const Parameter* parameter, int column = 0) const;
  [[nodiscard]] QModelIndex indexOfBranch(const DescBranch* branch) const;
  [[nodiscard]] QModelIndex topIndex() const;
  // The row of the root branch (or the "(не определены)" row).
  [[nodiscard]] QModelIndex rootIndex() const;
  // The row of a polled parameter (a scanner): it has a check box that arms its polling.
  [[nodiscard]] bool isScanner(const QModelIndex& index) const;

  // ---------------------------------------------------------------- QAbstractItemModel
  [[nodiscard]] QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
  [[nodiscard]] QModelIndex parent(const QModelIndex& child) const override;
  [[nodiscard]] int rowCount(const QModelIndex& parent = {}) const override;
  [[nodiscard]] int columnCount(const QModelIndex& parent = {}) const override;
  [[nodiscard]] bool hasChildren(const QModelIndex& parent = {}) const override;
  [[nodiscard]] bool canFetchMore(const QModelIndex& parent) const override;
  void fetchMore(const QModelIndex& parent) override;
  [[nodiscard]] QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  [[nodiscard]] QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
  [[nodiscard]] Qt::ItemFlags flags(const QModelIndex& index) const override;
  // Only the scanners' check boxes are set through the model (they arm and disarm the polling);
  // values go through the delegate.
  bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;

  // The width of each column in pixels.
  [[nodiscard]] static int columnWidth(int column);

 private:
  struct Node;

  [[nodiscard]] Node* nodeAt(const QModelIndex& index) const;
  // A task's thread works on the tree: parameter rows show what they showed before it.
  [[nodiscard]] bool treeBusy() const;
  [[nodiscard]] QModelIndex indexOfNode(const Node* node, int column = 0) const;
  void makeChildren(Node& node);
  void refreshBranchTexts(Node& node);
  void emitChanged(Node& node);
  [[nodiscard]] QString displayText(const Node& node, int column) const;
  [[nodiscard]] QVariant rowIcon(const Node& node) const;

  UserInterface& ui_;
  Document* document_ = nullptr;
  bool showIndexes_ = false;
  std::unique_ptr<Node> invisibleRoot_;
  QHash<const Parameter*, Node*> parameterRows_;
  QHash<const DescBranch*, Node*> branchRows_;
  mutable std::vector<QIcon> icons_;
};

}  // namespace kvtr::ui
