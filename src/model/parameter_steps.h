// What a group walk over the tree (read all, write, compare) needs from the exchange engine:
// the step for one parameter, the abort check and the progress log. The tree decides the order,
// the selection and the log headers; the engine decides what a step does.
#pragma once

#include <string>

namespace kvtr {

class Parameter;

// Write modes of a walk: all exchangeable parameters, only the changed ones, or the ones with an
// initial value from the descriptor.
inline constexpr int kWriteAll = 1;
inline constexpr int kWriteChanged = 0;
inline constexpr int kWriteInitial = -1;

// The result of a write step for a parameter that holds no data ("Нет данных"): nothing is sent,
// and the walk counts it as passed over, not as failed.
inline constexpr int kStepNoData = 5;

class ParameterSteps {
 public:
  virtual ~ParameterSteps() = default;

  // One parameter each; 0 is success, anything else a failure that the walk counts.
  virtual int ReadParameter(Parameter& parameter) = 0;
  virtual int WriteParameter(Parameter& parameter, int mode) = 0;
  virtual int CompareParameter(Parameter& parameter) = 0;

  // True once the task is to stop (the operator, a failure limit, the program's exit).
  [[nodiscard]] virtual bool aborted() = 0;
  // A line of the progress log.
  virtual void LogLine(const std::string& line) = 0;
};

// The result of a walk: parameters whose step ran, and those whose step returned non-zero.
struct WalkCounts {
  int visited = 0;
  int failed = 0;
  int passedOver = 0;  // written without data: visited, neither sent nor failed

  WalkCounts& operator+=(const WalkCounts& other) {
    visited += other.visited;
    failed += other.failed;
    passedOver += other.passedOver;
    return *this;
  }
  friend bool operator==(const WalkCounts&, const WalkCounts&) = default;
};

}  // namespace kvtr
