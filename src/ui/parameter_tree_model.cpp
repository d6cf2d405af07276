#include "ui/parameter_tree_model.h"

#include <QApplication>
#include <QFileInfo>
#include <QString>
#include <QStyle>

#include "app/document.h"
#include "common/format.h"
#include "common/user_interface.h"
#include "exchange/polling.h"
#include "model/branch_view.h"
#include "ui/qt_user_interface.h"
#include "ui/ui_text.h"

namespace kvtr::ui {

struct ParameterTreeModel::Node {
  RowKind kind = RowKind::None;
  Node* parent = nullptr;
  int row = 0;
  DescBranch* branch = nullptr;      // Branch rows: the branch; Parameter rows: the node holding it
  Parameter* parameter = nullptr;    // Parameter rows
  QString title;                     // Top, Branch, Extra and Undefined rows: the tree column
  QString second;                    // Branch rows: "(n)"; Extra and Undefined rows: the value column
  bool fetched = true;               // Branch rows start unfetched: their rows come when opened
  // Parameter rows: what the row showed last while no task ran. A task's thread owns the tree
  // until the task ends, and the view paints meanwhile: it paints from here.
  QString shown[ParameterTreeModel::ColumnCount];
  RowColour shownColour = RowColour::Black;
  std::vector<std::unique_ptr<Node>> children;

  Node& add(std::unique_ptr<Node> child) {
    child->parent = this;
    child->row = static_cast<int>(children.size());
    children.push_back(std::move(child));
    return *children.back();
  }
};

namespace {

struct ColumnSpec {
  const char* title;
  int width;
  Qt::Alignment alignment;
};

constexpr ColumnSpec kColumns[ParameterTreeModel::ColumnCount] = {
    {trMark("Описание"), 360, Qt::AlignLeft | Qt::AlignVCenter},
    {trMark("Параметр"), 70, Qt::AlignRight | Qt::AlignVCenter},
    {trMark("Значение"), 130, Qt::AlignRight | Qt::AlignVCenter},
    {trMark("Атрибут редактирования"), 110, Qt::AlignRight | Qt::AlignVCenter},
    {trMark("Владелец"), 90, Qt::AlignRight | Qt::AlignVCenter},
    {trMark("Ошибки обмена и несоответствия"), 220, Qt::AlignLeft | Qt::AlignVCenter},
};

bool branchHasRows(const DescBranch& branch) { return branch.ParameterCount() != 0 || !branch.children.empty(); }


}  // namespace

ParameterTreeModel::ParameterTreeModel(UserInterface& ui, QObject* parent)
    : QAbstractItemModel(parent), ui_(ui), invisibleRoot_(std::make_unique<Node>()) {}

ParameterTreeModel::~ParameterTreeModel() = default;

int ParameterTreeModel::columnWidth(int column) {
  return column >= 0 && column < ColumnCount ? kColumns[column].width : 0;
}

void ParameterTreeModel::setDocument(Document* document) {
  beginResetModel();
  document_ = document;
  invisibleRoot_ = std::make_unique<Node>();
  parameterRows_.clear();
  branchRows_.clear();
  if (document_ != nullptr) {
    auto top = std::make_unique<Node>();
    top->kind = RowKind::Top;
    const QString file = document_->filePath().empty() ? uiText(kUntitledFile)
                                                       : QFileInfo(qs(document_->filePath().string())).fileName();
    top->title = uiText(kTopTitlePrefix) + file + ")";
    Node& topNode = invisibleRoot_->add(std::move(top));
    ParameterTree* tree = document_->tree();
    if (tree != nullptr && tree->root() != nullptr) {
      for (DescBranch* branch : {tree->root(), tree->scanners()}) {
        if (branch == nullptr) continue;
        auto node = std::make_unique<Node>();
        node->kind = RowKind::Branch;
        node->branch = branch;
        node->fetched = false;
        Node& added = topNode.add(std::move(node));
        refreshBranchTexts(added);
        branchRows_.insert(branch, &added);
      }
    } else {
      auto node = std::make_unique<Node>();
      node->kind = RowKind::Undefined;
      node->title = uiText(kUndefinedTitle);
      node->second = uiText(kUndefinedValue);
      topNode.add(std::move(node));
    }
  }
  endResetModel();
}

void ParameterTreeModel::setShowLinearIndexes(bool on) {
  if (showIndexes_ == on) return;
  showIndexes_ = on;
  refreshAll();
}

void ParameterTreeModel::refreshBranchTexts(Node& node) {
  if (node.kind != RowKind::Branch || node.branch == nullptr) return;
  const NodeRow row = node.branch->GetViewRow(showIndexes_, ui_);
  node.title = qs(row.title);
  node.second = qs(row.indexText);
}

void ParameterTreeModel::emitChanged(Node& node) {
  if (node.children.empty()) return;
  for (auto& child : node.children) {
    refreshBranchTexts(*child);
    emitChanged(*child);
  }
  // One signal per parent: the rows of a branch are contiguous, so a whole level costs one call.
  emit dataChanged(indexOfNode(node.children.front().get(), 0),
                   indexOfNode(node.children.back().get(), ColumnCount - 1));
}

void ParameterTreeModel::refreshAll() {
  if (invisibleRoot_->children.empty()) return;
  emitChanged(*invisibleRoot_);
}

void ParameterTreeModel::refreshParameter(const Parameter* parameter) {
  const QModelIndex first = indexOf(parameter, 0);
  if (!first.isValid()) return;
  emit dataChanged(first, first.siblingAtColumn(ColumnCount - 1));
}

// ------------------------------------------------------------------ rows

ParameterTreeModel::Node* ParameterTreeModel::nodeAt(const QModelIndex& index) const {
  if (!index.isValid()) return invisibleRoot_.get();
  return static_cast<Node*>(index.internalPointer());
}

QModelIndex ParameterTreeModel::indexOfNode(const Node* node, int column) const {
  if (node == nullptr || node == invisibleRoot_.get()) return {};
  return createIndex(node->row, column, const_cast<Node*>(node));
}

ParameterTreeModel::RowKind ParameterTreeModel::rowKind(const QModelIndex& index) const {
  return index.isValid() ? nodeAt(index)->kind : RowKind::None;
}

DescBranch* ParameterTreeModel::branchAt(const QModelIndex& index) const {
  const Node* node = index.isValid() ? nodeAt(index) : nullptr;
  return node != nullptr && node->kind == RowKind::Branch ? node->branch : nullptr;
}

Parameter* ParameterTreeModel::parameterAt(const QModelIndex& index) const {
  const Node* node = index.isValid() ? nodeAt(index) : nullptr;
  return node != nullptr ? node->parameter : nullptr;
}

ObjectWithParameters* ParameterTreeModel::ownerAt(const QModelIndex& index) const {
  const Node* node = index.isValid() ? nodeAt(index) : nullptr;
  return node != nullptr && node->kind == RowKind::Parameter ? node->branch : nullptr;
}

QModelIndex ParameterTreeModel::indexOf(const Parameter* parameter, int column) const {
  return indexOfNode(parameterRows_.value(parameter, nullptr), column);
}

QModelIndex ParameterTreeModel::indexOfBranch(const DescBranch* branch) const {
  return indexOfNode(branchRows_.value(branch, nullptr));
}

QModelIndex ParameterTreeModel::topIndex() const {
  return invisibleRoot_->children.empty() ? QModelIndex() : indexOfNode(invisibleRoot_->children.front().get());
}

QModelIndex ParameterTreeModel::rootIndex() const {
  if (invisibleRoot_->children.empty()) return {};
  const Node& top = *invisibleRoot_->children.front();
  return top.children.empty() ? QModelIndex() : indexOfNode(top.children.front().get());
}

bool ParameterTreeModel::isScanner(const QModelIndex& index) const {
  const Parameter* p = parameterAt(index);
  return p != nullptr && p->isPolled();
}

void ParameterTreeModel::makeChildren(Node& node) {
  node.fetched = true;
  if (node.branch == nullptr) return;
  for (TreeViewRow& row : BranchViewChildren(*node.branch, showIndexes_, ui_)) {
    auto child = std::make_unique<Node>();
    child->branch = row.branch;
    switch (row.kind) {
      case TreeRowKind::Branch:
        child->kind = RowKind::Branch;
        child->fetched = false;
        child->title = qs(row.node.title);
        child->second = qs(row.node.indexText);
        break;
      case TreeRowKind::Parameter:
        child->kind = RowKind::Parameter;
        child->parameter = row.parameter;
        break;
      case TreeRowKind::Extra:
        child->kind = RowKind::Extra;
        child->branch = nullptr;
        child->title = qs(row.cells.description);
        child->second = qs(row.cells.value);
        break;
    }
    Node& added = node.add(std::move(child));
    if (added.kind == RowKind::Parameter) parameterRows_.insert(added.parameter, &added);
    if (added.kind == RowKind::Branch) branchRows_.insert(added.branch, &added);
  }
}

// ------------------------------------------------------------------ QAbstractItemModel

QModelIndex ParameterTreeModel::index(int row, int column, const QModelIndex& parent) const {
  if (column < 0 || column >= ColumnCount || row < 0) return {};
  if (parent.isValid() && parent.column() != 0) return {};
  const Node* node = nodeAt(parent);
  if (row >= static_cast<int>(node->children.size())) return {};
  return createIndex(row, column, node->children[static_cast<std::size_t>(row)].get());
}

QModelIndex ParameterTreeModel::parent(const QModelIndex& child) const {
  if (!child.isValid()) return {};
  return indexOfNode(nodeAt(child)->parent);
}

int ParameterTreeModel::rowCount(const QModelIndex& parent) const {
  if (parent.isValid() && parent.column() != 0) return 0;
  return static_cast<int>(nodeAt(parent)->children.size());
}

int ParameterTreeModel::columnCount(const QModelIndex&) const { return ColumnCount; }

bool ParameterTreeModel::hasChildren(const QModelIndex& parent) const {
  if (parent.isValid() && parent.column() != 0) return false;
  const Node* node = nodeAt(parent);
  if (!node->fetched) return node->branch != nullptr && branchHasRows(*node->branch);
  return !node->children.empty();
}

bool ParameterTreeModel::canFetchMore(const QModelIndex& parent) const {
  if (!parent.isValid() || parent.column() != 0) return false;
  const Node* node = nodeAt(parent);
  return !node->fetched && node->branch != nullptr && branchHasRows(*node->branch);
}

void ParameterTreeModel::fetchMore(const QModelIndex& parent) {
  if (!canFetchMore(parent)) return;
  Node& node = *nodeAt(parent);
  // The rows are made first and announced as one insertion: nothing is shown half built.
  Node scratch;
  scratch.branch = node.branch;
  makeChildren(scratch);
  node.fetched = true;
  if (scratch.children.empty()) return;
  beginInsertRows(parent, 0, static_cast<int>(scratch.children.size()) - 1);
  for (auto& child : scratch.children) node.add(std::move(child));
  endInsertRows();
}

QVariant ParameterTreeModel::rowIcon(const Node& node) const {
  // The desktop style's own pictures: the configuration, a branch, a value, a value that is only
  // read from the module. Made once: data() is asked for them on every paint.
  if (icons_.empty()) {
    QStyle* style = QApplication::style();
    icons_ = {style->standardIcon(QStyle::SP_ComputerIcon), style->standardIcon(QStyle::SP_DirIcon),
              style->standardIcon(QStyle::SP_FileIcon), style->standardIcon(QStyle::SP_FileDialogInfoView)};
  }
  switch (node.kind) {
    case RowKind::Top: return icons_[0];
    case RowKind::Branch:
    case RowKind::Undefined: return icons_[1];
    case RowKind::Parameter: return node.parameter->GetRowImage() == kImageNotExchanged ? icons_[3] : icons_[2];
    case RowKind::Extra:
    case RowKind::None: break;
  }
  return {};
}

QString ParameterTreeModel::displayText(const Node& node, int column) const {
  switch (node.kind) {
    case RowKind::Top:
      return column == DescriptionColumn ? node.title : QString();
    case RowKind::Branch:
      if (column == DescriptionColumn) return node.title;
      return column == NameColumn ? node.second : QString();
    case RowKind::Extra:
    case RowKind::Undefined:
      if (column == DescriptionColumn) return node.title;
      return column == ValueColumn ? node.second : QString();
    case RowKind::Parameter:
      break;
    case RowKind::None:
      return {};
  }
  const Parameter& p = *node.parameter;
  if (p.isPolled()) {
    // A polled row shows its period where other rows show the name, and the name (with the
    // index in the linear-index mode) after the description.
    if (column == DescriptionColumn) {
      std::string text = p.description;
      if (showIndexes_ && p.hasIndex) text += strprintf(", %s:%i", p.name.c_str(), p.index);
      return qs(text);
    }
    if (column == NameColumn) return QString::number(p.scanPeriodMs);
  }
  const ParameterRow row = p.GetViewRow(showIndexes_);
  switch (column) {
    case DescriptionColumn: return qs(row.description);
    case NameColumn: return qs(row.name);
    case ValueColumn: return qs(row.value);
    case AccessColumn: return uiText(row.access);
    case OwnerColumn: return uiText(row.owner);
    case CommentColumn: return qs(row.comment);
    default: return {};
  }
}

bool ParameterTreeModel::treeBusy() const { return document_ != nullptr && document_->engine().taskRunning(); }

QVariant ParameterTreeModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.column() >= ColumnCount) return {};
  Node& node = *nodeAt(index);
  if (node.kind == RowKind::Parameter) {
    if (!treeBusy()) {
      node.shown[index.column()] = displayText(node, index.column());
      node.shownColour = node.parameter->GetRowColour();
    }
    switch (role) {
      case Qt::DisplayRole:
      case Qt::EditRole:
        return node.shown[index.column()];
      case Qt::ForegroundRole:
        switch (node.shownColour) {
          case RowColour::Blue: return mismatchColour();
          case RowColour::Red: return errorColour();
          case RowColour::Green: return changedColour();
          case RowColour::Black: return {};
        }
        return {};
      case Qt::ToolTipRole:
        if (index.column() != CommentColumn || node.shown[CommentColumn].isEmpty()) return {};
        return node.shown[CommentColumn];
      default: break;
    }
  }
  switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
      return displayText(node, index.column());
    case Qt::TextAlignmentRole:
      return QVariant::fromValue(kColumns[index.column()].alignment);
    case Qt::DecorationRole:
      if (index.column() != DescriptionColumn) return {};
      return rowIcon(node);
    case Qt::ForegroundRole:
      if (node.kind == RowKind::Parameter) {
        switch (node.parameter->GetRowColour()) {
          case RowColour::Blue: return mismatchColour();
          case RowColour::Red: return errorColour();
          case RowColour::Green: return changedColour();
          case RowColour::Black: break;
        }
      }
      return {};
    case Qt::CheckStateRole:
      if (index.column() == DescriptionColumn && node.kind == RowKind::Parameter && node.parameter->isPolled()) {
        return node.parameter->scanArmed.load() ? Qt::Checked : Qt::Unchecked;
      }
      return {};
    case Qt::ToolTipRole:
      if (node.kind == RowKind::Parameter && index.column() == CommentColumn && !node.parameter->comment.empty()) {
        return qs(node.parameter->comment);
      }
      return {};
    default:
      return {};
  }
}

QVariant ParameterTreeModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || section < 0 || section >= ColumnCount) return {};
  if (role == Qt::DisplayRole) return uiText(kColumns[section].title);
  if (role == Qt::TextAlignmentRole) return QVariant::fromValue(kColumns[section].alignment);
  return {};
}

Qt::ItemFlags ParameterTreeModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
  const Node& node = *nodeAt(index);
  if (node.kind != RowKind::Parameter) return f;
  const Parameter& p = *node.parameter;
  const int column = index.column();
  if (p.isPolled()) {
    if (column == DescriptionColumn) f |= Qt::ItemIsUserCheckable;
    if (column == NameColumn && p.name != kFixedPeriodScanner) f |= Qt::ItemIsEditable;
    if (column == ValueColumn) f |= Qt::ItemIsEditable;
    return f;
  }
  if (column == ValueColumn) f |= Qt::ItemIsEditable;
  if ((column == AccessColumn || column == OwnerColumn) && p.hasAttributes()) f |= Qt::ItemIsEditable;
  return f;
}

bool ParameterTreeModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (role != Qt::CheckStateRole || !isScanner(index) || index.column() != DescriptionColumn) return false;
  if (document_ == nullptr) return false;
  Parameter* p = parameterAt(index);
  Polling& polling = document_->engine().polling();
  if (value.toInt() == Qt::Checked) (void)polling.ArmScanner(*p);
  else (void)polling.DisarmScanner(*p);
  emit dataChanged(index, index.siblingAtColumn(ColumnCount - 1));
  return true;
}

}  // namespace kvtr::ui
