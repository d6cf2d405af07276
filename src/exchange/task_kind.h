// The long exchanges that run on the transmit thread behind the progress window, with the codes,
// captions and totals the window shows for them.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "common/catalogue.h"
#include "common/clock.h"

namespace kvtr {

class ObjectWithParameters;

// The value of each kind is the code the progress window receives when it opens.
enum class TaskKind : int {
  ReadAll = 1,
  ReadOne = 3,
  WriteAll = 4,
  WriteChanged = 5,
  Compare = 6,
  Initialise = 7,
  WriteOne = 9,
};

inline constexpr std::string_view kProgressWindowCaption = "Прибор <==> программа";
inline constexpr std::string_view kAbortButtonText = "Прервать!";
inline constexpr std::string_view kTaskDoneText = "Задание выполнено. Окно будет закрыто автоматически.";
inline constexpr std::string_view kNoTreeText = trMark("Дерево не определено");
inline constexpr std::string_view kNoBranchText = "Ветвь не определена";
inline constexpr std::string_view kOperationImpossibleCaption = trMark("Операция невозможна");
inline constexpr std::string_view kDangerousOperationsText =
    trMark("Авторизация относится к устаревшим функциям.\nВ этой версии конфигуратора 'опасные операции'\n"
           "(инициализация прибора и доступ к специальным атрибутам)\nавтоматически доступны на максимальном уровне "
           "доступа.");
inline constexpr std::string_view kTransmitThreadFailedText =
    trMark("Не могу запустить поток (TransmitThread), необходимый для коммуникации с прибором");

[[nodiscard]] constexpr int TaskCode(TaskKind kind) { return static_cast<int>(kind); }
[[nodiscard]] std::optional<TaskKind> TaskKindOfCode(int code);
// The caption of the progress window while the task runs.
[[nodiscard]] std::string_view TaskCaption(TaskKind kind);
// ReadOne and WriteOne work on one parameter; the others walk a branch.
[[nodiscard]] bool IsSingleTask(TaskKind kind);

// What a group task's total counts under `root` (the root's own parameters and every branch
// below it), whether or not the parameters are exchangeable: every parameter for reading,
// writing all and comparing, the changed ones for writing the changed, those with an initial
// value for initialising. Single tasks count 1.
[[nodiscard]] int CountTaskParameters(const ObjectWithParameters& root, TaskKind kind);

// "%H:%M:%S" of the time since the window opened, the hours counted within the day.
[[nodiscard]] std::string ElapsedText(Clock::Duration elapsed);
// "%i из %i"
[[nodiscard]] std::string CounterText(int done, int total);

}  // namespace kvtr
