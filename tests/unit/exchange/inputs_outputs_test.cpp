#include "exchange/inputs_outputs.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "exchange/exchange_engine.h"
#include "model/desc_branch.h"
#include "unit/exchange/fake_module_engine.h"
#include "unit/exchange/progress_recorder.h"

namespace kvtr {
namespace {

using test::FakeModuleEngine;
using test::ProgressRecorder;

TEST(IndicatorLook, InputsAndOutputs) {
  EXPECT_EQ(InputIndicatorLook("1"), IndicatorLook::Orange);
  EXPECT_EQ(InputIndicatorLook("0"), IndicatorLook::Default);
  EXPECT_EQ(InputIndicatorLook(""), IndicatorLook::Default);
  const struct {
    const char* state;
    IndicatorLook look;
  } rows[] = {
      {"0", IndicatorLook::Default},      {"0.000", IndicatorLook::Default}, {"0.0009", IndicatorLook::Default},
      {"1", IndicatorLook::LightGreen},   {"1.000", IndicatorLook::LightGreen}, {"1.0004", IndicatorLook::LightGreen},
      {"0.500", IndicatorLook::Hatched},  {"0.001", IndicatorLook::Hatched}, {"1.5", IndicatorLook::Hatched},
      {"Нет данных", IndicatorLook::Default},
  };
  for (const auto& row : rows) EXPECT_EQ(OutputIndicatorLook(row.state), row.look) << row.state;
}

class InputsOutputsTest : public test::FakeModuleTest {
 protected:
  void SetUp() override {
    Parameter& word = scanners.AddParameter("r.Cn", "int", "входы");
    engine.Define(word, "5");
    auto& counters = scanners.AddChild(std::make_unique<DescBranch>("Счетчик", 3, 1, 0, 0));
    // Declared out of order: the rows follow the index.
    for (const int i : {2, 0, 1}) {
      Parameter& c = counters.AddParameter("r.Cou", "int", "счетчик");
      c.hasIndex = 1;
      c.index = i;
      engine.Define(c, std::to_string(10 + i));
    }
    auto& outputs = scanners.AddChild(std::make_unique<DescBranch>("ВЭ", 2, 1, 0, 0));
    for (int i = 0; i < 2; ++i) {
      Parameter& o = outputs.AddParameter("r.oe", "int", "выход");
      o.hasIndex = 1;
      o.index = i;
      engine.Define(o, i == 0 ? "1" : "0");
    }
  }
  Parameter* counter(int index) {
    for (const auto& p : scanners.children[0]->parameters()) {
      if (p->index == index) return p.get();
    }
    return nullptr;
  }

  DescBranch scanners{"Оперативные параметры", 1, 1, 0, 0};
};

TEST_F(InputsOutputsTest, RowsStartAtZeroInIndexOrder) {
  InputsOutputsMonitor monitor(engine, scanners);
  const IoSnapshot s = monitor.Snapshot();
  ASSERT_EQ(s.counters.size(), 3u);
  EXPECT_EQ(s.counters[0].label, "Счетчик 1");
  EXPECT_EQ(s.counters[2].label, "Счетчик 3");
  EXPECT_EQ(s.counters[2].index, 2);
  EXPECT_EQ(s.counters[1].value, "0") << "a value not known yet shows as 0";
  ASSERT_EQ(s.outputs.size(), 2u);
  EXPECT_EQ(s.outputs[1].label, "ШИМ выход 2");
  EXPECT_EQ(s.inputs[0], "0");
  EXPECT_TRUE(engine.Requests().empty()) << "opening reads nothing";
}

TEST_F(InputsOutputsTest, InputsEveryTickCountersAndOutputsInTurns) {
  InputsOutputsMonitor monitor(engine, scanners);
  const std::uint16_t word = hashName("r.Cn");
  const std::uint16_t cou = hashName("r.Cou");
  const std::uint16_t oe = hashName("r.oe");

  monitor.Tick();
  IoSnapshot s = monitor.Snapshot();
  // 5 = inputs 1 and 3.
  EXPECT_EQ(s.inputs[0], "1");
  EXPECT_EQ(s.inputs[1], "0");
  EXPECT_EQ(s.inputs[2], "1");
  EXPECT_EQ(s.inputs[11], "0");
  EXPECT_EQ(s.counters[0].value, "10");
  EXPECT_FALSE(s.counters[0].marked);
  EXPECT_TRUE(s.counters[1].marked) << "the next counter to be read is marked";
  EXPECT_EQ(s.outputs[0].value, "0") << "not the outputs' turn yet";

  monitor.Tick();
  s = monitor.Snapshot();
  EXPECT_EQ(s.outputs[0].value, "1");
  EXPECT_TRUE(s.outputs[0].marked);
  EXPECT_EQ(s.outputStates[0], "1");
  EXPECT_EQ(OutputIndicatorLook(s.outputStates[0]), IndicatorLook::LightGreen);

  for (int i = 0; i < 10; ++i) monitor.Tick();
  EXPECT_EQ(monitor.Snapshot().ticks, 12u);
  // 12 expiries: the input word every time, 6 counter turns over 3 rows, 6 output turns over 2.
  int words = 0, counters = 0, outputs = 0;
  for (const auto& r : engine.Requests()) {
    words += r.hash == word ? 1 : 0;
    counters += r.hash == cou ? 1 : 0;
    outputs += r.hash == oe ? 1 : 0;
  }
  EXPECT_EQ(words, 12);
  EXPECT_EQ(counters, 6);
  EXPECT_EQ(outputs, 6);
  EXPECT_EQ(monitor.Snapshot().counters[2].value, "12");
}

TEST_F(InputsOutputsTest, RowsBeingEditedAreNeitherReadNorMarked) {
  InputsOutputsMonitor monitor(engine, scanners);
  monitor.SetCounterEditing(0, true);
  monitor.Tick();
  IoSnapshot s = monitor.Snapshot();
  EXPECT_EQ(s.counters[0].value, "0");
  EXPECT_FALSE(s.counters[1].marked);
  monitor.SetOutputEditing(0, true);
  monitor.Tick();
  s = monitor.Snapshot();
  EXPECT_EQ(s.outputs[0].value, "0");
  EXPECT_FALSE(s.outputs[0].marked);
  EXPECT_EQ(engine.WritesOf("r.oe"), 0);
  for (const auto& r : engine.Requests()) EXPECT_NE(r.hash, hashName("r.oe")) << "the edited output was read";
}

TEST_F(InputsOutputsTest, FailedReadsShowTheErrorAndKeepTheIndicators) {
  InputsOutputsMonitor monitor(engine, scanners);
  monitor.Tick();
  engine.allSilent = true;
  monitor.Tick();
  monitor.Tick();
  const IoSnapshot s = monitor.Snapshot();
  EXPECT_EQ(s.inputs[0], "1") << "a failed read leaves the indicator";
  EXPECT_EQ(s.outputs[0].value, "Таймаут при передаче данных (нет связи)");
  EXPECT_EQ(s.counters[1].value, "Таймаут при передаче данных (нет связи)");
  EXPECT_FALSE(engine.abortEvent().isSet()) << "failures are not counted";
}

TEST_F(InputsOutputsTest, CounterResetWritesZeroAndTellsAFailure) {
  InputsOutputsMonitor monitor(engine, scanners);
  monitor.Tick();
  EXPECT_TRUE(monitor.ResetCounter(0));
  Parameter* c0 = counter(0);
  EXPECT_EQ(engine.ValueOf(*c0), "0");
  EXPECT_EQ(monitor.Snapshot().counters[0].value, "0");
  EXPECT_EQ(c0->valueChanged, 0);

  monitor.Tick();
  monitor.Tick();  // counter 1 read: 11
  ASSERT_EQ(monitor.Snapshot().counters[1].value, "11");
  engine.refuse[hashName("r.Cou")] = 51;
  EXPECT_FALSE(monitor.ResetCounter(1));
  ASSERT_EQ(ui.messages().size(), 1u);
  EXPECT_EQ(ui.messages()[0].text, "Редактирование параметра запрещено атрибутами доступа");
  EXPECT_EQ(ui.messages()[0].caption, "Ошибка записи \"r.Cou\"");
  EXPECT_EQ(ui.messages()[0].icon, MessageIcon::Exclamation);
  EXPECT_EQ(counter(1)->value, "0") << "the parameter keeps 0";
  EXPECT_EQ(monitor.Snapshot().counters[1].value, "11") << "the cell keeps its text until the next read";
}

TEST_F(InputsOutputsTest, OutputEditsAndToggleAll) {
  InputsOutputsMonitor monitor(engine, scanners);
  Parameter* o1 = scanners.children[1]->parameters()[1].get();
  monitor.SetOutputEditing(1, true);
  EXPECT_TRUE(monitor.CommitOutput(1, "1"));
  EXPECT_EQ(engine.ValueOf(*o1), "1");
  EXPECT_EQ(monitor.Snapshot().outputs[1].value, "1");

  // Output 1 still shows 0 (never read): every output goes on.
  monitor.ToggleAllOutputs();
  EXPECT_EQ(engine.ValueOf(*scanners.children[1]->parameters()[0]), "1");
  EXPECT_EQ(engine.ValueOf(*o1), "1");
  // All on now: every output goes off.
  monitor.ToggleAllOutputs();
  EXPECT_EQ(engine.ValueOf(*scanners.children[1]->parameters()[0]), "0");
  EXPECT_EQ(engine.ValueOf(*o1), "0");
  EXPECT_TRUE(ui.messages().empty());
}

TEST_F(InputsOutputsTest, TheWorkerTicksOnTheClockAndTheTreeTakesTheValuesOnItsOwnThread) {
  InputsOutputsMonitor monitor(engine, scanners);
  ASSERT_TRUE(monitor.Start());
  for (int i = 0; i < 2000 && monitor.Snapshot().ticks < 8; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  monitor.Stop();
  EXPECT_FALSE(monitor.running());
  EXPECT_GE(monitor.Snapshot().ticks, 8u);
  EXPECT_EQ(scanners.parameters()[0]->value, "Нет данных") << "the worker leaves the tree alone";
  monitor.ApplyToTree();
  EXPECT_EQ(scanners.parameters()[0]->value, "5");
  EXPECT_EQ(counter(0)->value, "10");
}

TEST(InputsOutputsWithoutParameters, EmptyListsAndNoReads) {
  ProgressRecorder ui;
  LinkState state;
  ManualClock clock{ManualClock::Mode::JumpToDeadline};
  FakeModuleEngine engine{ui, state, clock};
  DescBranch empty("пусто", 1, 1, 0, 0);
  InputsOutputsMonitor monitor(engine, empty);
  monitor.Tick();
  monitor.Tick();
  EXPECT_TRUE(monitor.Snapshot().counters.empty());
  EXPECT_TRUE(monitor.Snapshot().outputs.empty());
  EXPECT_TRUE(engine.Requests().empty());
  EXPECT_FALSE(monitor.ResetCounter(0));
}

}  // namespace
}  // namespace kvtr
