// The base of every node of the parameter tree: an ordered, owning array of parameters and the
// operations on all of them.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "model/parameter.h"
#include "model/parameter_steps.h"

namespace kvtr {

class UserInterface;

// What a node is, for code that treats some kinds specially (the archive, the views).
enum class NodeKind {
  ObjectWithParameters,
  InvisibleElement,
  DescBranch,
  CommonParams,
  NetRS485,
  NetRS485prg,
};

// Result of SetValueByName.
enum class SetValueResult {
  NotFound = 0,  // no parameter of that name
  Stored = 1,    // the text went into the parameter
  TitleSet = 3,  // the name "Название" set the node's title
};

class ObjectWithParameters {
 public:
  static constexpr int kSchema = 3;

  ObjectWithParameters() = default;
  virtual ~ObjectWithParameters() = default;
  // The view and the polling keep pointers to nodes and parameters: no copies, no moves.
  ObjectWithParameters(const ObjectWithParameters&) = delete;
  ObjectWithParameters& operator=(const ObjectWithParameters&) = delete;

  [[nodiscard]] virtual const char* GetRuntimeClassName() const { return "ObjectWithParameters"; }
  [[nodiscard]] virtual NodeKind GetNodeKind() const { return NodeKind::ObjectWithParameters; }

  // The parameters in insertion order. Their addresses stay valid until they are deleted.
  [[nodiscard]] const std::vector<std::unique_ptr<Parameter>>& parameters() const { return parameters_; }
  [[nodiscard]] std::size_t ParameterCount() const { return parameters_.size(); }
  Parameter& AddParameter(std::unique_ptr<Parameter> parameter);
  Parameter& AddParameter(std::string name, std::string type, std::string description);
  // The first parameter whose name matches without regard to case, or none.
  [[nodiscard]] Parameter* FindParameter(std::string_view name) const;

  // Builds the node's own parameters again; here: deletes them all.
  virtual void RebuildParameters();

  // The value of the first parameter of that name, or an empty text.
  [[nodiscard]] virtual std::string GetValueByName(std::string_view name) const;
  // Stores the text, without checks, into the first parameter of that name; valueChanged is set
  // only when the text differs from the value.
  virtual SetValueResult SetValueByName(std::string_view name, std::string_view text);

  // The group walks; each returns at once when the task is aborted before it starts.
  virtual WalkCounts CompareWithDevice(ParameterSteps& steps);
  virtual WalkCounts ReadFromDevice(ParameterSteps& steps);
  // mode above 0: every exchangeable parameter; 0: the changed ones; below 0: those with an
  // initial value.
  virtual WalkCounts WriteToDevice(ParameterSteps& steps, int mode);

  // The node's linear index: taken from its first indexed parameter while unknown; once known,
  // every indexed parameter with another index is reported to the user.
  virtual int GetLinearIndex(UserInterface& ui);
  virtual void SetLinearIndex(int n);
  // The linear-index column of the node's row: "(n)" when asked for and known, else empty.
  [[nodiscard]] std::string LinearIndexText(bool showIndexes, UserInterface& ui);

  // 2 when some parameter is changed, else 0.
  [[nodiscard]] virtual int GetChangeState() const;
  // Every parameter back to "no value known".
  virtual void ResetValues();

  // True when some parameter's comment is an exchange error rather than a compare result; with
  // `anyComment`, when any comment is not empty.
  [[nodiscard]] bool HasDeviceMismatch(bool anyComment) const;

  int linearIndex = -1;      // -1 until known
  int shownCount = 0;        // parameters inserted into the view
  void* viewItem = nullptr;  // the tree view's row of this node

 protected:
  // The walks over the node's own parameters, without header and without children.
  WalkCounts CompareOwnParameters(ParameterSteps& steps);
  WalkCounts ReadOwnParameters(ParameterSteps& steps);
  WalkCounts WriteOwnParameters(ParameterSteps& steps, int mode);
  [[nodiscard]] bool AnyQualifiesForWrite(int mode) const;
  void DeleteParameters() { parameters_.clear(); }

 private:
  std::vector<std::unique_ptr<Parameter>> parameters_;
};

// The write mode reduced to 1, 0 or -1.
[[nodiscard]] int NormalizeWriteMode(int mode);
// Whether a parameter takes part in a write walk of that mode.
[[nodiscard]] bool QualifiesForWrite(const Parameter& parameter, int mode);

}  // namespace kvtr
