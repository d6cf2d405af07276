#include "exchange/exchange_engine.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "common/format.h"
#include "exchange/group_operations.h"
#include "exchange/task_kind.h"
#include "model/desc_branch.h"
#include "model/text_encoding.h"
#include "unit/exchange/fake_module_engine.h"
#include "unit/exchange/progress_recorder.h"
#include "unit/model/scratch_folder.h"

namespace kvtr {
namespace {

using namespace std::chrono_literals;
using test::FakeModuleEngine;
using test::ProgressRecorder;

// Waits (in real time, bounded) until the condition holds.
template <typename F>
bool eventually(F condition) {
  for (int i = 0; i < 1000; ++i) {
    if (condition()) return true;
    std::this_thread::sleep_for(5ms);
  }
  return condition();
}

class EngineTest : public test::FakeModuleTest {
 protected:
  DescBranch root{"Корень", 1, 1, 0, 0};
};

// ------------------------------------------------------------------ task kinds and texts

TEST(TaskKind, CodesAndCaptions) {
  const struct {
    TaskKind kind;
    int code;
    const char* caption;
    bool single;
  } rows[] = {
      {TaskKind::ReadAll, 1, "Идет чтение параметров из прибора", false},
      {TaskKind::ReadOne, 3, "Идет чтение параметра из прибора", true},
      {TaskKind::WriteAll, 4, "Идет запись параметров в прибор", false},
      {TaskKind::WriteChanged, 5, "Идет запись измененных значений параметров в прибор", false},
      {TaskKind::Compare, 6, "Идет сравнение параметров в конфигурации и в приборе", false},
      {TaskKind::Initialise, 7, "Идет инициализация прибора", false},
      {TaskKind::WriteOne, 9, "Идет запись параметра в прибор", true},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(TaskCode(row.kind), row.code);
    EXPECT_EQ(TaskCaption(row.kind), row.caption);
    EXPECT_EQ(IsSingleTask(row.kind), row.single) << row.code;
    EXPECT_EQ(TaskKindOfCode(row.code), row.kind);
  }
  for (const int unknown : {0, 2, 8, 10, -1}) EXPECT_FALSE(TaskKindOfCode(unknown).has_value()) << unknown;
}

TEST(TaskKind, ElapsedAndCounterTexts) {
  EXPECT_EQ(ElapsedText(0s), "00:00:00");
  EXPECT_EQ(ElapsedText(3661s + 999ms), "01:01:01");
  EXPECT_EQ(ElapsedText(25h + 2min), "01:02:00") << "hours are counted within the day";
  EXPECT_EQ(CounterText(3, 70000), "3 из 70000");
}

TEST(TaskKind, TotalsCountBySelectionWhateverTheExchangeFlag) {
  DescBranch top("top", 1, 1, 0, 0);
  Parameter& a = top.AddParameter("a", "int", "");
  a.valueChanged = 1;
  Parameter& b = top.AddParameter("b", "int", "");
  b.exchangeable = 0;  // still counted
  b.pendingText = "1";
  auto& child = top.AddChild(std::make_unique<DescBranch>("child", 1, 1, 0, 0));
  Parameter& c = child.AddParameter("c", "int", "");
  c.ownerChanged = 1;
  c.pendingText = "2";
  child.AddParameter("d", "int", "");

  EXPECT_EQ(CountTaskParameters(top, TaskKind::ReadAll), 4);
  EXPECT_EQ(CountTaskParameters(top, TaskKind::WriteAll), 4);
  EXPECT_EQ(CountTaskParameters(top, TaskKind::Compare), 4);
  EXPECT_EQ(CountTaskParameters(top, TaskKind::WriteChanged), 2);
  EXPECT_EQ(CountTaskParameters(top, TaskKind::Initialise), 2);
  EXPECT_EQ(CountTaskParameters(child, TaskKind::ReadAll), 2);
  EXPECT_EQ(CountTaskParameters(top, TaskKind::ReadOne), 1);
}

// ------------------------------------------------------------------ the task cycle

TEST_F(EngineTest, ReadAllWalksTheTreeLogsEveryStepAndClosesTheWindow) {
  Parameter& u = Add(root, "u.1", "Нет данных", "7");
  auto& inputs = root.AddChild(std::make_unique<DescBranch>("Вход", 1, 1, 0, 0));
  Parameter& i0 = Add(inputs, "I.Flt", "Нет данных", "3", 0);
  Parameter& i1 = Add(inputs, "I.Flt", "Нет данных", "4", 1);

  TaskOutcome outcome;
  ASSERT_TRUE(engine.StartTask(TaskKind::ReadAll, &root, &outcome));
  EXPECT_EQ(u.value, "7");
  EXPECT_EQ(i0.value, "3");
  EXPECT_EQ(i1.value, "4");
  EXPECT_EQ(ui.captions(), std::vector<std::string>{"Идет чтение параметров из прибора"});
  EXPECT_EQ(ui.totals(), std::vector<int>{3});
  EXPECT_EQ(ui.log(), (std::vector<std::string>{"Читаем ветвь 'Корень'", "  Чтение: u.1 = 7", "Читаем ветвь 'Вход'",
                                                "  Чтение: I.Flt:0 = 3", "  Чтение: I.Flt:1 = 4", "",
                                                "Задание выполнено. Окно будет закрыто автоматически."}));
  const auto progress = ui.progress();
  ASSERT_EQ(progress.size(), 7u);
  EXPECT_EQ(progress[1].counter, "1 из 3");
  EXPECT_EQ(progress.back().counter, "3 из 3");
  EXPECT_EQ(progress.back().barRange, 3);
  EXPECT_EQ(progress.back().elapsed, "00:00:00");
  EXPECT_TRUE(ui.finished());
  EXPECT_TRUE(outcome.walked);
  EXPECT_EQ(outcome.counts, (WalkCounts{3, 0}));
  EXPECT_FALSE(outcome.interrupted);
  EXPECT_FALSE(engine.taskRunning());
  EXPECT_EQ(state.linkStatus.load(), 0u);
}

TEST_F(EngineTest, TaskWithoutRootOnlyClosesAndHasNoCounter) {
  TaskOutcome outcome;
  ASSERT_TRUE(engine.StartTask(TaskKind::WriteAll, nullptr, &outcome));
  EXPECT_FALSE(outcome.walked);
  EXPECT_EQ(ui.log(), (std::vector<std::string>{"", "Задание выполнено. Окно будет закрыто автоматически."}));
  for (const auto& p : ui.progress()) EXPECT_TRUE(p.counter.empty()) << "no total, no counter";
  EXPECT_TRUE(engine.Requests().empty());
}

TEST_F(EngineTest, TotalAbove16BitsCutsOnlyTheBarRange) {
  // 65537 parameters would take long on any line; the window's fields are what is tested here.
  engine.counters().totalCount.store(0);
  DescBranch big("big", 1, 1, 0, 0);
  for (int i = 0; i < 65537; ++i) big.AddParameter("x", "int", "").index = -1;  // never exchanged
  ASSERT_TRUE(engine.StartTask(TaskKind::ReadAll, &big));
  const auto progress = ui.progress();
  ASSERT_FALSE(progress.empty());
  EXPECT_EQ(progress.back().counter, "65537 из 65537");
  EXPECT_EQ(progress.back().barRange, 1);
  EXPECT_TRUE(engine.Requests().empty());
}

TEST_F(EngineTest, AbortDuringAWalkFinishesTheBranchOfSuccessfulReadsThenStops) {
  Add(root, "u.1", "", "1");
  Add(root, "u.2", "", "2");
  auto& child = root.AddChild(std::make_unique<DescBranch>("Вход", 1, 1, 0, 0));
  Parameter& late = Add(child, "u.3", "Нет данных", "3");
  engine.beforeAnswer = [this](int n) {
    if (n == 1) engine.Abort();
  };
  TaskOutcome outcome;
  ASSERT_TRUE(engine.StartTask(TaskKind::ReadAll, &root, &outcome));
  // A successful read does not look at the abort: the branch's own parameters finish.
  EXPECT_EQ(engine.Requests().size(), 2u);
  EXPECT_EQ(late.value, "Нет данных");
  EXPECT_TRUE(outcome.interrupted);
  EXPECT_EQ(state.linkStatus.load(), link_status::kInterrupted);
  EXPECT_EQ(exitCodeOfLinkStatus(state.linkStatus.load()), 205);
  EXPECT_FALSE(engine.abortEvent().isSet()) << "the finish step resets the abort";
}

TEST_F(EngineTest, AbortStopsAWriteAfterTheCurrentParameter) {
  for (int i = 1; i <= 4; ++i) Add(root, strprintf("w.%d", i), "5", "1");
  engine.beforeAnswer = [this](int n) {
    if (n == 2) engine.Abort();
  };
  TaskOutcome outcome;
  ASSERT_TRUE(engine.StartTask(TaskKind::WriteAll, &root, &outcome));
  EXPECT_EQ(engine.Requests().size(), 2u);
  EXPECT_EQ(outcome.counts, (WalkCounts{2, 0}));
}

TEST(EngineGrace, AbortCutsTheClosingGraceShortAndTheClockEndsIt) {
  ProgressRecorder ui;
  LinkState state;
  ManualClock clock{ManualClock::Mode::Manual};
  FakeModuleEngine engine{ui, state, clock};

  for (const bool byAbort : {true, false}) {
    ASSERT_TRUE(engine.BeginTask(TaskKind::ReadAll, nullptr));
    ASSERT_TRUE(eventually([&] { return ui.log().size() == 2; }));
    EXPECT_FALSE(engine.WaitForTask(30ms)) << "the window stays up for the grace";
    EXPECT_FALSE(ui.finished());
    if (byAbort) engine.Abort();
    else clock.advance(2s);
    EXPECT_TRUE(engine.WaitForTask(10s));
    EXPECT_TRUE(ui.finished());
  }
}

TEST_F(EngineTest, NonBlockingTaskCallsItsCompletionAndRefusesASecondTask) {
  Parameter& p = Add(root, "u.1", "", "9");
  engine.hang = true;
  std::atomic<int> completions{0};
  TaskOutcome seen;
  std::mutex seenMutex;
  ASSERT_TRUE(engine.BeginTask(TaskKind::ReadAll, &root, [&](const TaskOutcome& o) {
    std::lock_guard lock(seenMutex);
    seen = o;
    ++completions;
  }));
  EXPECT_TRUE(engine.taskRunning());
  EXPECT_FALSE(engine.StartTask(TaskKind::ReadAll, &root)) << "one task at a time";
  EXPECT_FALSE(engine.BeginSingleTask(TaskKind::ReadOne, &p));
  EXPECT_FALSE(engine.BeginTask(TaskKind::ReadOne, &root)) << "a single kind is not a group task";

  // The line hangs until the engine shuts down; the task then completes as interrupted.
  EXPECT_EQ(engine.Shutdown(), 1);
  ASSERT_TRUE(engine.WaitForTask(10s));
  EXPECT_TRUE(eventually([&] { return completions.load() == 1; }));
  std::lock_guard lock(seenMutex);
  EXPECT_TRUE(seen.interrupted);
  EXPECT_FALSE(engine.transmitThreadRunning());
  EXPECT_FALSE(engine.serialPort().stopEvent().isSet()) << "the link works again after Shutdown";

  // A new task starts a new transmit thread.
  engine.hang = false;
  ASSERT_TRUE(engine.StartTask(TaskKind::ReadAll, &root));
  EXPECT_EQ(p.value, "9");
}

TEST_F(EngineTest, ASingleTaskHandedOverAsTheStopComesCompletesAsInterrupted) {
  Parameter& stale = Add(root, "u.1", "7", "5");
  Parameter& next = Add(root, "u.2", "", "6");
  for (const TaskKind kind : {TaskKind::ReadOne, TaskKind::WriteOne}) {
    // The stop is set before the task is handed over: the transmit thread takes the stop, which
    // outranks the single tasks, and leaves without running it.
    engine.serialPort().stopEvent().set();
    std::atomic<int> completions{0};
    ASSERT_TRUE(engine.BeginSingleTask(kind, &stale, [&](const TaskOutcome&) { ++completions; }));
    EXPECT_EQ(engine.Shutdown(), 1);
    TaskOutcome outcome;
    ASSERT_TRUE(engine.WaitForTask(5s, &outcome)) << TaskCode(kind) << ": nobody is left waiting";
    EXPECT_TRUE(outcome.interrupted);
    EXPECT_FALSE(outcome.walked);
    EXPECT_EQ(outcome.kind, kind);
    EXPECT_EQ(completions.load(), 1);
    EXPECT_TRUE(ui.finished()) << "the window closes";
    EXPECT_EQ(stale.value, "7") << "the task never exchanged";
    EXPECT_EQ(engine.ValueOf(stale), "5");

    // The next single task works on its own parameter; the dropped one is not run on the way.
    ASSERT_TRUE(engine.StartSingleTask(TaskKind::ReadOne, &next, &outcome));
    EXPECT_EQ(outcome.result, 0);
    EXPECT_EQ(next.value, "6");
    EXPECT_EQ(stale.value, "7");
    EXPECT_EQ(engine.ValueOf(stale), "5");
    next.value.clear();
  }
}

TEST_F(EngineTest, ASecondTaskIsRefusedWithoutLookingAtTheTreeTheRunningTaskWrites) {
  constexpr int kCount = 200;
  for (int i = 0; i < kCount; ++i) Add(root, strprintf("u.%d", i), "1", "0").valueChanged = 1;
  ASSERT_TRUE(engine.BeginTask(TaskKind::WriteChanged, &root));
  // The running task clears the changed marks of what it wrote while these are refused; the
  // thread sanitizer reports any count of those marks made on the way.
  int refused = 0;
  while (engine.taskRunning() && refused < 100000) {
    if (engine.BeginTask(TaskKind::WriteChanged, &root)) break;
    ++refused;
  }
  ASSERT_TRUE(engine.WaitForTask(10s));
  for (const auto& p : root.parameters()) {
    EXPECT_EQ(engine.ValueOf(*p), "1") << p->name;
    EXPECT_EQ(p->valueChanged, 0) << p->name;
  }
}

TEST_F(EngineTest, SingleTasksReadAndWriteOneParameter) {
  Parameter& p = Add(root, "u.1", "42", "1");
  TaskOutcome outcome;
  ASSERT_TRUE(engine.StartSingleTask(TaskKind::WriteOne, &p, &outcome));
  EXPECT_EQ(outcome.result, 0);
  EXPECT_EQ(engine.ValueOf(p), "42");
  EXPECT_EQ(ui.totals().back(), 1);
  EXPECT_EQ(ui.log().front(), "  Запись: u.1 = 42 [новое значение]");

  engine.Define(p, "17");
  ASSERT_TRUE(engine.StartSingleTask(TaskKind::ReadOne, &p, &outcome));
  EXPECT_EQ(p.value, "17");
  EXPECT_EQ(ui.log().front(), "  Чтение: u.1 = 17");
  EXPECT_EQ(ui.progress().front().counter, "1 из 1");
  EXPECT_FALSE(engine.StartSingleTask(TaskKind::ReadAll, &p)) << "a group kind is not a single task";
}

TEST_F(EngineTest, InitialiseWithoutDangerousOperationsOnlyExplains) {
  ProgressRecorder otherUi;
  LinkState otherState;
  DeviceLinkOptions options;
  options.ui = &otherUi;
  options.state = &otherState;
  options.accessLevel = 1;
  options.portChoices = " ";
  ExchangeEngine restricted(options, clock);
  DescBranch tree("t", 1, 1, 0, 0);
  tree.AddParameter("p", "int", "").pendingText = "1";
  ASSERT_TRUE(restricted.StartTask(TaskKind::Initialise, &tree));
  ASSERT_EQ(otherUi.messages().size(), 1u);
  EXPECT_EQ(otherUi.messages()[0].text, kDangerousOperationsText);
  EXPECT_EQ(otherUi.messages()[0].icon, MessageIcon::Information);
  EXPECT_TRUE(otherUi.captions().empty()) << "no window, no task";

  // Started without waiting, the task is refused in the same way.
  EXPECT_FALSE(restricted.BeginTask(TaskKind::Initialise, &tree));
  ASSERT_EQ(otherUi.messages().size(), 2u);
  EXPECT_EQ(otherUi.messages()[1].text, kDangerousOperationsText);
  EXPECT_TRUE(otherUi.captions().empty());
  EXPECT_FALSE(restricted.taskRunning());
}

// ------------------------------------------------------------------ follow-ups

class RecordingEvents : public ExchangeEvents {
 public:
  void documentModified() override { ++modified; }
  void networkSettingsWritten() override { ++network; }
  void batchReadFinished(const TaskOutcome&) override { ++batchRead; }
  void automaticReadingSwitchedOff() override { ++autoOff; }
  std::atomic<int> modified{0}, network{0}, batchRead{0}, autoOff{0};
};

TEST_F(EngineTest, NetworkSettingWrittenIsAnnouncedOnceAfterTheWindowCloses) {
  RecordingEvents events;
  engine.setEvents(&events);
  Add(root, "Addr", "17", "16");
  Add(root, "u.1", "3", "0");
  ASSERT_TRUE(engine.StartTask(TaskKind::WriteAll, &root));
  EXPECT_EQ(events.network.load(), 1);
  EXPECT_FALSE(state.networkSettingsWritten.load()) << "the finish step consumes the mark";

  DescBranch other("other", 1, 1, 0, 0);
  Add(other, "u.2", "3", "0");
  ASSERT_TRUE(engine.StartTask(TaskKind::WriteAll, &other));
  EXPECT_EQ(events.network.load(), 1) << "no network setting written, nothing announced";
}

TEST_F(EngineTest, BatchReadJobAnnouncesTheSaveAndSetsTheJobEvent) {
  RecordingEvents events;
  engine.setEvents(&events);
  Event job(EventReset::Automatic);
  Add(root, "u.1", "", "1");

  engine.setBatchJob(true, &job);
  ASSERT_TRUE(engine.StartTask(TaskKind::ReadAll, &root));
  EXPECT_FALSE(job.isSet()) << "outside batch mode the job event is left alone";
  EXPECT_EQ(events.batchRead.load(), 0);

  engine.setBatchMode(true);
  ASSERT_TRUE(engine.StartTask(TaskKind::ReadAll, &root));
  EXPECT_TRUE(job.isSet());
  EXPECT_EQ(events.batchRead.load(), 1);
  EXPECT_GE(events.modified.load(), 1) << "a read marks the document modified";

  job.reset();
  engine.setBatchJob(false, &job);
  ASSERT_TRUE(engine.StartTask(TaskKind::WriteAll, &root));
  EXPECT_TRUE(job.isSet());
  EXPECT_EQ(events.batchRead.load(), 1) << "only a read job saves";
}

}  // namespace
}  // namespace kvtr
