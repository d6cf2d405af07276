#include "model/desc_branch.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "common/user_interface.h"

namespace kvtr {
namespace {

// Records every step and log line in order; a step's result and an abort can be set per
// parameter name.
class RecordingSteps : public ParameterSteps {
 public:
  int ReadParameter(Parameter& p) override { return step("read " + p.name, p); }
  int WriteParameter(Parameter& p, int mode) override { return step("write " + p.name + " " + std::to_string(mode), p); }
  int CompareParameter(Parameter& p) override { return step("compare " + p.name, p); }
  bool aborted() override { return abortSet; }
  void LogLine(const std::string& line) override { events.push_back(line); }

  std::vector<std::string> events;
  std::map<std::string, int> results;  // by parameter name; 0 when absent
  std::string abortAfter;              // the step of this parameter sets the abort
  bool abortSet = false;

 private:
  int step(const std::string& event, const Parameter& p) {
    events.push_back(event);
    if (p.name == abortAfter) abortSet = true;
    const auto it = results.find(p.name);
    return it == results.end() ? 0 : it->second;
  }
};

using Events = std::vector<std::string>;

// Корень (a, b) with the children Вход №1 (c changed, d with an initial value) and Выход
// (e changed but not exchangeable, f).
std::unique_ptr<DescBranch> makeTree() {
  auto root = std::make_unique<DescBranch>("Корень", 1, 1, 3, 4);
  root->AddParameter("a", "int", "A");
  root->AddParameter("b", "int", "B");
  auto& in = root->AddChild(std::make_unique<DescBranch>("Вход №1", 2, 1, 5, 6));
  in.AddParameter("c", "int", "C").valueChanged = 1;
  in.AddParameter("d", "int", "D").pendingText = "7";
  auto& out = root->AddChild(std::make_unique<DescBranch>("Выход", 1, 1, 7, 8));
  Parameter& e = out.AddParameter("e", "int", "E");
  e.exchangeable = 0;
  e.accessChanged = 1;
  out.AddParameter("f", "int", "F");
  return root;
}

TEST(BranchWalks, ReadVisitsOwnParametersBeforeChildren) {
  auto root = makeTree();
  RecordingSteps steps;
  steps.results["c"] = 1;
  const WalkCounts counts = root->ReadFromDevice(steps);
  EXPECT_EQ(steps.events, (Events{"Читаем ветвь 'Корень'", "read a", "read b", "Читаем ветвь 'Вход №1'", "read c",
                                  "read d", "Читаем ветвь 'Выход'", "read e", "read f"}));
  EXPECT_EQ(counts, (WalkCounts{6, 1}));
}

TEST(BranchWalks, CompareVisitsEveryParameter) {
  auto root = makeTree();
  RecordingSteps steps;
  steps.results["a"] = 3;
  steps.results["f"] = 1;
  EXPECT_EQ(root->CompareWithDevice(steps), (WalkCounts{6, 2}));
  EXPECT_EQ(steps.events.front(), "Сравниваем ветвь 'Корень'");
  EXPECT_EQ(steps.events.size(), 9u);
}

TEST(BranchWalks, WriteAllNamesEveryBranchAndSkipsTheNotExchangeable) {
  auto root = makeTree();
  RecordingSteps steps;
  EXPECT_EQ(root->WriteToDevice(steps, 1), (WalkCounts{5, 0}));
  EXPECT_EQ(steps.events, (Events{"Пишем ветвь 'Корень'", "write a 1", "write b 1", "Пишем ветвь 'Вход №1'", "write c 1",
                                  "write d 1", "Пишем ветвь 'Выход'", "write f 1"}));
}

TEST(BranchWalks, WriteChangedNamesOnlyBranchesWithSomethingToWrite) {
  auto root = makeTree();
  RecordingSteps steps;
  steps.results["c"] = 4;
  EXPECT_EQ(root->WriteToDevice(steps, 0), (WalkCounts{1, 1}));
  // "e" is changed but takes no part in exchanges: its branch stays out of the log.
  EXPECT_EQ(steps.events, (Events{"Пишем ветвь 'Вход №1'", "write c 0"}));
}

TEST(BranchWalks, WriteChangedOnUnchangedBranchLogsNothing) {
  DescBranch branch("Тихая", 1, 1, 0, 0);
  branch.AddParameter("x", "int", "X");
  branch.AddParameter("y", "int", "Y").pendingText = "1";
  RecordingSteps steps;
  EXPECT_EQ(branch.WriteToDevice(steps, 0), (WalkCounts{0, 0}));
  EXPECT_TRUE(steps.events.empty());
}

TEST(BranchWalks, WriteInitialValuesTakesTheParametersWithPendingText) {
  for (int mode : {-1, -5}) {
    auto root = makeTree();
    RecordingSteps steps;
    EXPECT_EQ(root->WriteToDevice(steps, mode), (WalkCounts{1, 0}));
    EXPECT_EQ(steps.events, (Events{"Пишем ветвь 'Вход №1'", "write d -1"})) << mode;
  }
  auto root = makeTree();
  RecordingSteps steps;
  EXPECT_EQ(root->WriteToDevice(steps, 9), (WalkCounts{5, 0}));
  EXPECT_EQ(steps.events[1], "write a 1");
}

TEST(BranchWalks, AbortedBeforeStartDoesNothing) {
  auto root = makeTree();
  RecordingSteps steps;
  steps.abortSet = true;
  EXPECT_EQ(root->ReadFromDevice(steps), (WalkCounts{}));
  EXPECT_EQ(root->CompareWithDevice(steps), (WalkCounts{}));
  EXPECT_EQ(root->WriteToDevice(steps, 1), (WalkCounts{}));
  EXPECT_TRUE(steps.events.empty());
}

TEST(BranchWalks, ReadFinishesTheBranchWhenEveryReadSucceeds) {
  auto root = makeTree();
  RecordingSteps steps;
  steps.abortAfter = "a";
  EXPECT_EQ(root->ReadFromDevice(steps), (WalkCounts{2, 0}));
  EXPECT_EQ(steps.events, (Events{"Читаем ветвь 'Корень'", "read a", "read b"}));
}

TEST(BranchWalks, ReadStopsAtTheFirstFailureAfterTheAbort) {
  auto root = makeTree();
  RecordingSteps steps;
  steps.abortAfter = "a";
  steps.results["a"] = 1;
  EXPECT_EQ(root->ReadFromDevice(steps), (WalkCounts{1, 1}));
  EXPECT_EQ(steps.events, (Events{"Читаем ветвь 'Корень'", "read a"}));
}

TEST(BranchWalks, CompareAndWriteStopRightAfterTheAbort) {
  {
    auto root = makeTree();
    RecordingSteps steps;
    steps.abortAfter = "c";
    EXPECT_EQ(root->CompareWithDevice(steps), (WalkCounts{3, 0}));
    EXPECT_EQ(steps.events.back(), "compare c");
  }
  {
    auto root = makeTree();
    RecordingSteps steps;
    steps.abortAfter = "a";
    EXPECT_EQ(root->WriteToDevice(steps, 1), (WalkCounts{1, 0}));
    EXPECT_EQ(steps.events, (Events{"Пишем ветвь 'Корень'", "write a 1"}));
  }
}

TEST(DescBranch, ResetValuesReachesEveryBranch) {
  auto root = makeTree();
  root->children[1]->parameters()[1]->value = "5";
  root->children[1]->parameters()[1]->comment = "ошибка";
  root->ResetValues();
  EXPECT_EQ(root->children[1]->parameters()[1]->value, "Нет данных");
  EXPECT_EQ(root->children[1]->parameters()[1]->comment, "");
  EXPECT_FALSE(root->children[0]->parameters()[0]->isChanged());
}

TEST(DescBranch, DeepCopyIsIndependentAndTracksABranch) {
  auto root = std::make_unique<DescBranch>("Корень", 1, 1, 3, 4);
  ParamTemplate t;
  t.name = "bPS";
  t.type = "2400:9600";
  root->AddTemplate(t);
  auto& net = root->AddChild(std::make_unique<DescBranch>("Сетевые_параметры", 1, 1, 9, 10));
  net.AddParameter("Addr", "int", "Адрес").value = "16";
  auto& inner = net.AddChild(std::make_unique<DescBranch>("Внутри", 3, 2, 0, 0));

  DescBranch* trackedCopy = nullptr;
  const auto copy = root->DeepCopy(&inner, &trackedCopy);
  ASSERT_EQ(copy->children.size(), 1u);
  EXPECT_EQ(copy->order, (std::vector<std::uint8_t>{DescBranch::kOrderParameter, DescBranch::kOrderBranch}));
  ASSERT_EQ(copy->templates.size(), 1u);
  EXPECT_EQ(copy->templates[0].type, "2400:9600");
  DescBranch& netCopy = *copy->children[0];
  EXPECT_EQ(netCopy.firstNumber, 9);
  EXPECT_EQ(netCopy.GetValueByName("Addr"), "16");
  ASSERT_NE(trackedCopy, nullptr);
  EXPECT_EQ(trackedCopy, netCopy.children[0].get());
  EXPECT_EQ(trackedCopy->instanceCount, 3);
  EXPECT_EQ(trackedCopy->instanceNumber, 2);

  netCopy.SetValueByName("Addr", "20");
  netCopy.title = "Другая";
  EXPECT_EQ(net.GetValueByName("Addr"), "16");
  EXPECT_EQ(net.title, "Сетевые_параметры");
  EXPECT_NE(netCopy.parameters()[0].get(), net.parameters()[0].get());

  DescBranch* untracked = nullptr;
  (void)root->DeepCopy(nullptr, &untracked);
  EXPECT_EQ(untracked, nullptr);
}

TEST(DescBranch, ForEachBranchGoesDepthFirst) {
  auto root = makeTree();
  root->children[0]->AddChild(std::make_unique<DescBranch>("Глубже", 1, 1, 0, 0));
  std::vector<std::string> titles;
  root->ForEachBranch([&titles](DescBranch& b) { titles.push_back(b.title); });
  EXPECT_EQ(titles, (std::vector<std::string>{"Корень", "Вход №1", "Глубже", "Выход"}));
}

TEST(DescBranch, RowUsesTheDeclaredImages) {
  auto root = makeTree();
  SilentUserInterface ui;
  const NodeRow row = root->GetViewRow(false, ui);
  EXPECT_EQ(row.title, "Корень");
  EXPECT_EQ(row.image, 3);
  EXPECT_EQ(row.selectedImage, 4);
  EXPECT_EQ(root->GetFullTitle(), "Корень (Невизуальный элемент)");
  // A rebuild keeps what expansion made.
  root->RebuildParameters();
  EXPECT_EQ(root->ParameterCount(), 2u);
}

}  // namespace
}  // namespace kvtr
