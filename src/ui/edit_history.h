// The undo history of the edits made in the parameter tree: a value typed or chosen, a value set
// to "Нет данных", an access attribute, an owner, a scanner's polling period. Each entry keeps
// what the edit changed in its parameters (value, comment, the three changed marks, the
// attributes, the period) before and after, so undo and redo bring back each value, mark and
// colour exactly.
//
// Exchanges with the module are not undone. A read, compare or write gives parameters what the
// module holds (values, marks, comments); an edit made before it can no longer be taken back
// soundly, so such an operation empties the history whenever it reached a parameter an entry
// touches, and leaves it alone otherwise (opening a branch that reads other parameters keeps the
// history). New and open empty it as well.
//
// The document's modified mark follows the history: undoing back to the state last saved clears
// it. A change the history does not hold (a read, an edit written at once, the program's port
// settings) means no entry matches the saved file any more.
//
// Threads: GUI thread only.
#pragma once

#include <QObject>
#include <QString>
#include <QUndoStack>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace kvtr {
class Document;
class ObjectWithParameters;
class Parameter;
}  // namespace kvtr

namespace kvtr::ui {

// What an edit may change in a parameter.
struct ParameterState {
  std::string value;
  std::string comment;
  std::uint8_t valueChanged = 0;
  std::uint8_t accessChanged = 0;
  std::uint8_t ownerChanged = 0;
  std::uint8_t editable = 0;
  std::uint8_t ownerFirm = 0;
  int scanPeriodMs = 0;

  [[nodiscard]] static ParameterState of(const Parameter& parameter);
  bool operator==(const ParameterState&) const = default;
};

class EditHistory : public QObject {
  Q_OBJECT

 public:
  // Called after undo or redo has put a state back into a parameter: its row shows it, and a
  // running polling timer takes a restored period (`periodChanged`) at once.
  using Restored = std::function<void(Parameter&, bool periodChanged)>;

  explicit EditHistory(Restored restored, QObject* parent = nullptr);
  ~EditHistory() override;

  [[nodiscard]] QUndoStack& stack() { return stack_; }

  // The document whose modified mark follows the history; the history starts empty.
  void setDocument(Document* document);

  // An edit has been made to `parameter` (its state before is `before`): it enters the history
  // under `text` unless it changed nothing.
  void recorded(const QString& text, Parameter& parameter, const ParameterState& before);

  // The module was read or written for these parameters: the history is emptied when an entry
  // touches one of them. Without a node: the whole tree.
  void exchanged(ObjectWithParameters* node);
  void exchanged(const std::vector<const Parameter*>& parameters);
  // A change the history does not hold: undo can no longer return to the saved state.
  void changedOutside();
  // The document was saved: its present state is the clean one.
  void saved();

  // True when an entry holds that parameter.
  [[nodiscard]] bool touches(const Parameter* parameter) const;

 signals:
  // The document's modified mark may have changed.
  void modifiedChanged();

 private:
  void forget();
  void followIndex();

  Restored restored_;
  QUndoStack stack_;
  Document* document_ = nullptr;
  // Set while the history itself empties or marks the stack: the modified mark stays.
  bool adjusting_ = false;
};

}  // namespace kvtr::ui
