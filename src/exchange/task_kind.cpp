#include "exchange/task_kind.h"

#include "common/catalogue.h"
#include "common/format.h"
#include "model/desc_branch.h"

namespace kvtr {

namespace {

int countOwn(const ObjectWithParameters& node, TaskKind kind) {
  int n = 0;
  for (const auto& p : node.parameters()) {
    switch (kind) {
      case TaskKind::WriteChanged: n += p->isChanged() ? 1 : 0; break;
      case TaskKind::Initialise: n += p->pendingText.empty() ? 0 : 1; break;
      default: ++n; break;
    }
  }
  return n;
}

int countTree(const ObjectWithParameters& node, TaskKind kind) {
  int n = countOwn(node, kind);
  if (const auto* branch = dynamic_cast<const DescBranch*>(&node)) {
    for (const auto& child : branch->children) n += countTree(*child, kind);
  }
  return n;
}

}  // namespace

std::optional<TaskKind> TaskKindOfCode(int code) {
  switch (code) {
    case 1: return TaskKind::ReadAll;
    case 3: return TaskKind::ReadOne;
    case 4: return TaskKind::WriteAll;
    case 5: return TaskKind::WriteChanged;
    case 6: return TaskKind::Compare;
    case 7: return TaskKind::Initialise;
    case 9: return TaskKind::WriteOne;
    default: return std::nullopt;
  }
}

std::string_view TaskCaption(TaskKind kind) {
  switch (kind) {
    case TaskKind::ReadAll: return tr("Идет чтение параметров из прибора");
    case TaskKind::ReadOne: return tr("Идет чтение параметра из прибора");
    case TaskKind::WriteAll: return tr("Идет запись параметров в прибор");
    case TaskKind::WriteChanged: return tr("Идет запись измененных значений параметров в прибор");
    case TaskKind::Compare: return tr("Идет сравнение параметров в конфигурации и в приборе");
    case TaskKind::Initialise: return tr("Идет инициализация прибора");
    case TaskKind::WriteOne: return tr("Идет запись параметра в прибор");
  }
  return kProgressWindowCaption;
}

bool IsSingleTask(TaskKind kind) { return kind == TaskKind::ReadOne || kind == TaskKind::WriteOne; }

int CountTaskParameters(const ObjectWithParameters& root, TaskKind kind) {
  if (IsSingleTask(kind)) return 1;
  return countTree(root, kind);
}

std::string ElapsedText(Clock::Duration elapsed) {
  long long seconds = std::chrono::duration_cast<std::chrono::seconds>(elapsed).count();
  if (seconds < 0) seconds = 0;
  seconds %= 24 * 3600;
  return strprintf("%02lld:%02lld:%02lld", seconds / 3600, seconds / 60 % 60, seconds % 60);
}

std::string CounterText(int done, int total) { return strprintf(trFormat("%i из %i"), done, total); }

}  // namespace kvtr
