// The save of a read job: the module read unattended ("Прочитать все параметры" started by
// `kvtr read`, by `kvtr batch /read` and by the desktop program's /read job) into the file named
// for it. The rules are the same in all three:
//
//   - The file is checked before the module is read: a read whose result cannot be saved (a
//     folder that is not there or takes no new files, a device, a FIFO) is refused at once.
//   - A read that ended whole (nothing failed, no failure flag set, not interrupted) replaces the
//     file.
//   - A read that did not end whole never replaces a file that holds data: the operator's last
//     good configuration stays as it was, and the operator is told so.
//   - Without such a file, what was read is saved, each value that could not be read as "Нет
//     данных" with the reason in its comment: nothing is lost by it, and the operator sees how far
//     the read came and what went wrong where.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace kvtr {

class ParameterTree;
struct TaskOutcome;

// Empty when a read job may go ahead with `file` as the place of its result; otherwise the
// message for the operator, naming the file and the cause.
[[nodiscard]] std::string CheckReadJobFile(const std::filesystem::path& file);

// A read that ended whole: not interrupted, no parameter failed, no failure flag set
// (`linkStatus`, the failure flags after the read).
[[nodiscard]] bool ReadJobEndedWhole(const TaskOutcome& outcome, std::uint32_t linkStatus);

enum class ReadJobSave {
  Saved,         // the read ended whole; the file holds the module's configuration
  SavedPartly,   // no file with data was there: what was read is saved, failures in the comments
  KeptExisting,  // the read did not end whole: the file that was there stays as it was
  Failed,        // the save itself failed
};

struct ReadJobSaveResult {
  ReadJobSave status = ReadJobSave::Failed;
  // What the operator is told; empty after a whole read that was saved.
  std::string message;
};

// Saves (or keeps) after a read job by the rules above. `stopped`: the operator (or the
// program's exit) stopped the read, which the message says rather than "ended with errors".
[[nodiscard]] ReadJobSaveResult SaveReadJobResult(const ParameterTree& tree, const std::filesystem::path& file,
                                                  bool endedWhole, bool stopped);

}  // namespace kvtr
