#include "ui/edit_history.h"

#include <algorithm>
#include <utility>

#include "app/document.h"
#include "model/desc_branch.h"
#include "model/parameter.h"
#include "model/parameter_tree.h"

namespace kvtr::ui {

namespace {

// Only what the edit changed is put back: a scanner's value keeps arriving from the polling
// while its period is undone, and must not be overwritten by a stale one.
void putBack(Parameter& p, const ParameterState& from, const ParameterState& to) {
  if (from.value != to.value) p.value = to.value;
  if (from.comment != to.comment) p.comment = to.comment;
  if (from.valueChanged != to.valueChanged) p.valueChanged = to.valueChanged;
  if (from.accessChanged != to.accessChanged) p.accessChanged = to.accessChanged;
  if (from.ownerChanged != to.ownerChanged) p.ownerChanged = to.ownerChanged;
  if (from.editable != to.editable) p.editable = to.editable;
  if (from.ownerFirm != to.ownerFirm) p.ownerFirm = to.ownerFirm;
  if (from.scanPeriodMs != to.scanPeriodMs) p.scanPeriodMs = to.scanPeriodMs;
}

class ParameterEdit final : public QUndoCommand {
 public:
  ParameterEdit(const QString& text, Parameter& parameter, const ParameterState& before, const ParameterState& after,
                const EditHistory::Restored& restored)
      : QUndoCommand(text), parameter_(parameter), before_(before), after_(after), restored_(restored) {}

  // The edit has already been made when it enters the history: the first redo finds the
  // parameter in its after state and changes nothing.
  void redo() override {
    if (std::exchange(made_, false)) return;
    move(before_, after_);
  }
  void undo() override { move(after_, before_); }

  [[nodiscard]] const Parameter* parameter() const { return &parameter_; }

 private:
  void move(const ParameterState& from, const ParameterState& to) {
    putBack(parameter_, from, to);
    restored_(parameter_, from.scanPeriodMs != to.scanPeriodMs);
  }

  Parameter& parameter_;
  ParameterState before_;
  ParameterState after_;
  const EditHistory::Restored& restored_;
  bool made_ = true;
};

}  // namespace

ParameterState ParameterState::of(const Parameter& p) {
  return {p.value, p.comment, p.valueChanged, p.accessChanged, p.ownerChanged, p.editable, p.ownerFirm, p.scanPeriodMs};
}

EditHistory::EditHistory(Restored restored, QObject* parent) : QObject(parent), restored_(std::move(restored)) {
  connect(&stack_, &QUndoStack::indexChanged, this, &EditHistory::followIndex);
}

// The stack empties itself as it goes: that is no undo, and whoever listens (the document, the
// window's menu items) may be gone already.
EditHistory::~EditHistory() { disconnect(&stack_, nullptr, nullptr, nullptr); }

void EditHistory::setDocument(Document* document) {
  adjusting_ = true;
  stack_.clear();
  document_ = document;
  if (document_ != nullptr && document_->modified()) stack_.resetClean();
  adjusting_ = false;
}

void EditHistory::recorded(const QString& text, Parameter& parameter, const ParameterState& before) {
  const ParameterState after = ParameterState::of(parameter);
  if (after == before) return;
  stack_.push(new ParameterEdit(text, parameter, before, after, restored_));
}

bool EditHistory::touches(const Parameter* parameter) const {
  for (int i = 0; i < stack_.count(); ++i) {
    if (static_cast<const ParameterEdit*>(stack_.command(i))->parameter() == parameter) return true;
  }
  return false;
}

void EditHistory::exchanged(ObjectWithParameters* node) {
  if (node == nullptr) {
    if (stack_.count() > 0) forget();
    changedOutside();
    return;
  }
  std::vector<const Parameter*> reached;
  if (auto* branch = dynamic_cast<DescBranch*>(node)) {
    ParameterTree::ForEachParameter(*branch, [&](Parameter& p) { reached.push_back(&p); });
  } else {
    for (const auto& p : node->parameters()) reached.push_back(p.get());
  }
  exchanged(reached);
}

void EditHistory::exchanged(const std::vector<const Parameter*>& parameters) {
  if (std::any_of(parameters.begin(), parameters.end(), [this](const Parameter* p) { return touches(p); })) forget();
  changedOutside();
}

void EditHistory::changedOutside() {
  if (document_ == nullptr || !document_->modified()) return;
  adjusting_ = true;
  stack_.resetClean();
  adjusting_ = false;
}

void EditHistory::saved() {
  adjusting_ = true;
  stack_.setClean();
  adjusting_ = false;
}

void EditHistory::forget() {
  adjusting_ = true;
  stack_.clear();
  adjusting_ = false;
}

void EditHistory::followIndex() {
  if (adjusting_ || document_ == nullptr) return;
  // Without a clean state no entry matches the saved file.
  document_->setModified(stack_.cleanIndex() < 0 || !stack_.isClean());
  emit modifiedChanged();
}

}  // namespace kvtr::ui
