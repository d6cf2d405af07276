#include "exchange/group_operations.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "common/format.h"
#include "exchange/exchange_engine.h"
#include "model/desc_branch.h"
#include "model/text_encoding.h"
#include "unit/exchange/fake_module_engine.h"
#include "unit/model/scratch_folder.h"

namespace kvtr {
namespace {

class GroupOperationsTest : public test::FakeModuleTest {
 protected:
  GroupOperations& ops() { return engine.operations(); }

  DescBranch root{"Корень", 1, 1, 0, 0};
};

// ------------------------------------------------------------------ compare

std::string entry(int n, const std::string& name, const std::string& cfg, const std::string& dev,
                  const char* devEditable = "Редактируемый", const char* devOwner = "пользователю") {
  return strprintf("\n%d) Параметер '", n) + name + " (описание " + name +
         ") в конфигурации: значение=" + cfg + ",Редактируемый,принадлежит пользователю; в приборе: значение=" + dev +
         "," + devEditable + ",принадлежит " + devOwner + ".\n";
}

TEST_F(GroupOperationsTest, CompareReportsTheFirstTenOfTwelveDifferences) {
  std::vector<Parameter*> params;
  for (int i = 1; i <= 13; ++i) {
    // c.13 agrees with the module.
    Parameter& p = Add(root, strprintf("c.%d", i), "1", i == 13 ? "1" : "2");
    p.comment = "старое";
    params.push_back(&p);
  }
  ASSERT_TRUE(engine.StartTask(TaskKind::Compare, &root));

  std::string expected = "Обнаружено 12 отличий (показанны только первые 10):\n";
  for (int i = 1; i <= 10; ++i) expected += entry(i, strprintf("c.%d", i), "1", "2");
  ASSERT_EQ(ui.messages().size(), 1u);
  EXPECT_EQ(ui.messages()[0].text, expected);
  EXPECT_EQ(ui.messages()[0].caption, "Результат сравнения");
  EXPECT_EQ(ui.messages()[0].icon, MessageIcon::Information);

  for (int i = 0; i < 10; ++i) {
    EXPECT_EQ(params[i]->comment, "Знач-е в приборе: '2',Ред-ый,польз.; старое") << i;
    EXPECT_EQ(params[i]->value, "1") << "the configuration keeps its value";
  }
  EXPECT_EQ(params[10]->comment, "старое") << "difference 11 is counted, not described";
  EXPECT_EQ(params[11]->comment, "старое") << "difference 12 is counted, not described";
  EXPECT_EQ(params[12]->comment, "старое") << "no difference";
  EXPECT_EQ(ui.log()[1], "  Сравниваем: c.1=1<>2");
  EXPECT_EQ(ui.progress().back().counter, "13 из 13");
}

TEST_F(GroupOperationsTest, CompareSeesAttributesIndexesAndTimeOuts) {
  Parameter& attr = Add(root, "a.1", "5", "");
  attr.attributeMode = 1;
  engine.Define(attr, "5", 0x01);  // editable, owned by the maker
  Parameter& indexed = Add(root, "i.1", "7", "7", 3);
  Parameter& mute = Add(root, "m.1", "4", "4");
  mute.comment.clear();
  engine.silent.insert(hashName("m.1"));

  ASSERT_TRUE(engine.StartTask(TaskKind::Compare, &root));
  EXPECT_EQ(ops().differenceCount(), 1);
  EXPECT_EQ(ops().compareReport(), entry(1, "a.1", "5", "5", "Редактируемый", "фирме"));
  EXPECT_EQ(attr.comment, "Знач-е в приборе: '5',Ред-ый,фирм.");
  EXPECT_EQ(attr.ownerFirm, 0) << "the configuration keeps its attributes";
  EXPECT_TRUE(indexed.comment.empty());
  EXPECT_EQ(mute.comment, "") << "what could not be read is no difference";
  // The index follows the value in the compare line.
  EXPECT_EQ(ui.log()[2], "  Сравниваем: i.1=7:3<>7");
  EXPECT_EQ(ui.messages()[0].text, "Обнаружено 1 отличий:\n" + entry(1, "a.1", "5", "5", "Редактируемый", "фирме") +
                                       "\n\nНе сравнивались 1 параметров: их не удалось прочитать из прибора:\n"
                                       "m.1 - Таймаут при передаче данных (нет связи)\n");
}

TEST_F(GroupOperationsTest, CompareWithoutDifferencesAndAfterAnAbort) {
  Add(root, "c.1", "1", "1");
  ASSERT_TRUE(engine.StartTask(TaskKind::Compare, &root));
  EXPECT_EQ(ui.messages().back().text, "Отличий не обнаружено");

  Parameter& p = Add(root, "c.2", "1", "2");
  engine.abortEvent().set();
  EXPECT_EQ(ops().CompareParameter(p), kStepAborted);
  engine.abortEvent().reset();
  EXPECT_TRUE(p.comment.empty());
  p.index = -1;
  EXPECT_EQ(ops().CompareParameter(p), kStepSkipped);
}

// ------------------------------------------------------------------ write steps

TEST_F(GroupOperationsTest, WriteRefusesUnknownValuesAndNegativeIndexesWithoutLogOrLine) {
  Parameter& unknown = Add(root, "w.1", "Нет данных", "1");
  Parameter& negative = Add(root, "w.2", "5", "1", 0);
  negative.index = -1;
  ASSERT_TRUE(engine.StartTask(TaskKind::WriteAll, &root));
  EXPECT_EQ(unknown.comment, "Значение не записанно, так как параметер не инициализирован");
  EXPECT_TRUE(engine.Requests().empty());
  EXPECT_EQ(ui.log(), (std::vector<std::string>{"Пишем ветвь 'Корень'", "", std::string(kTaskDoneText)}));
  EXPECT_EQ(ops().WriteParameter(unknown, kWriteAll), kStepNotInitialised);
  EXPECT_EQ(ops().WriteParameter(negative, kWriteAll), kStepSkipped);
}

TEST_F(GroupOperationsTest, InitialiseWritesInitialValuesAndTheCalibrationTableByIndexParity) {
  auto& calibration = root.AddChild(std::make_unique<DescBranch>("Калибровка", 1, 1, 0, 0));
  std::vector<Parameter*> table;
  for (int i = 0; i < 4; ++i) {
    Parameter& p = Add(calibration, "clb.k", "123", "77", i);
    p.pendingText = "2048";
    table.push_back(&p);
  }
  Parameter& plain = Add(root, "p.1", "1", "1");
  plain.pendingText = "9";
  Parameter& without = Add(root, "p.2", "1", "1");  // no initial value: not written
  Parameter& notExchanged = Add(root, "p.3", "1", "1");
  notExchanged.pendingText = "5";
  notExchanged.exchangeable = 0;

  ASSERT_TRUE(engine.StartTask(TaskKind::Initialise, &root));
  EXPECT_EQ(ui.totals().back(), 6) << "the total counts initial values whatever the exchange flag";
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(table[i]->value, i % 2 == 0 ? "0" : "4095") << i;
    EXPECT_EQ(engine.ValueOf(*table[i]), i % 2 == 0 ? "0" : "4095") << i;
  }
  EXPECT_EQ(plain.value, "9");
  EXPECT_EQ(engine.ValueOf(plain), "9");
  EXPECT_EQ(engine.WritesOf("p.2"), 0);
  EXPECT_EQ(engine.WritesOf("p.3"), 0);
  EXPECT_EQ(without.value, "1");
  const auto log = ui.log();
  EXPECT_NE(std::find(log.begin(), log.end(), "  Запись: clb.k:1 = 2048 [новое значение]"), log.end())
      << "the log shows the initial value, not the calibration value sent";
}

TEST_F(GroupOperationsTest, WriteChangedSendsOnlyChangedParametersAndSkipsEmptyBranchHeaders) {
  Parameter& changed = Add(root, "w.1", "5", "1");
  changed.valueChanged = 1;
  Add(root, "w.2", "6", "1");
  auto& quiet = root.AddChild(std::make_unique<DescBranch>("Тихая", 1, 1, 0, 0));
  Add(quiet, "w.3", "7", "1");
  ASSERT_TRUE(engine.StartTask(TaskKind::WriteChanged, &root));
  EXPECT_EQ(engine.Requests().size(), 1u);
  EXPECT_EQ(engine.ValueOf(changed), "5");
  EXPECT_EQ(changed.valueChanged, 0) << "a successful write settles the edit";
  EXPECT_EQ(ui.log(), (std::vector<std::string>{"Пишем ветвь 'Корень'", "  Запись: w.1 = 5 [новое значение]", "",
                                                std::string(kTaskDoneText)}));
}

// ------------------------------------------------------------------ failure limits and the error log

TEST_F(GroupOperationsTest, FiveTimeOutsInARowStopAReadWithTheMessage) {
  testing_support::ScratchFolder scratch;
  const auto elog = scratch.path() / "errors.log";
  engine.setErrorLogPath(elog);
  for (int i = 1; i <= 8; ++i) Add(root, strprintf("r.%d", i), "Нет данных", "1");
  engine.allSilent = true;

  TaskOutcome outcome;
  ASSERT_TRUE(engine.StartTask(TaskKind::ReadAll, &root, &outcome));
  EXPECT_EQ(engine.Requests().size(), 5u * 4u) << "five reads of four sends each, then the task stops";
  EXPECT_TRUE(outcome.interrupted);
  EXPECT_EQ(exitCodeOfLinkStatus(state.linkStatus.load()), 202);
  EXPECT_FALSE(engine.automaticReading());
  EXPECT_EQ(engine.counters().failureStreak.load(), 0);
  ASSERT_EQ(ui.messages().size(), 1u);
  EXPECT_EQ(ui.messages()[0].text, ReadFailureLimitText(5, true));
  EXPECT_EQ(ui.messages()[0].caption, "Конфигуратор КВТР");
  EXPECT_EQ(ui.messages()[0].icon, MessageIcon::Stop);
  EXPECT_NE(ui.messages()[0].text.find("режим автоматического чтения параметров был отключен."), std::string::npos);
  EXPECT_EQ(ui.log()[5], "  Чтение: r.5 = Нет данных");

  std::ifstream in(elog, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  std::string expected;
  for (int i = 1; i <= 5; ++i) expected += strprintf("r.%d - Таймаут при передаче данных (нет связи)\n", i);
  EXPECT_EQ(cp1251ToUtf8(text.str()), expected);

  // Again, with the mode already off and in a batch run: no message, still stopped.
  engine.setBatchMode(true);
  ASSERT_TRUE(engine.StartTask(TaskKind::ReadAll, &root, &outcome));
  EXPECT_EQ(ui.messages().size(), 1u);
  EXPECT_EQ(engine.Requests().size(), 2u * 5u * 4u);
  EXPECT_EQ(ReadFailureLimitText(5, false).find("режим автоматического"), std::string::npos);
}

TEST_F(GroupOperationsTest, ReadFailuresOtherThanTimeOutsResetTheStreak) {
  for (int i = 1; i <= 12; ++i) Add(root, strprintf("r.%d", i), "Нет данных", i % 4 == 0 ? "" : "1");
  // Every fourth parameter is unknown to the module (an error reply): the time-outs never reach
  // five in a row.
  for (int i = 1; i <= 12; ++i) {
    if (i % 4 != 0) engine.silent.insert(hashName(strprintf("r.%d", i)));
  }
  TaskOutcome outcome;
  ASSERT_TRUE(engine.StartTask(TaskKind::ReadAll, &root, &outcome));
  EXPECT_EQ(outcome.counts, (WalkCounts{12, 12}));
  EXPECT_FALSE(outcome.interrupted);
  EXPECT_TRUE(ui.messages().empty());
  EXPECT_EQ(root.parameters()[3]->comment, "Не найден дескриптор");
}

TEST_F(GroupOperationsTest, FiveFailedWritesStopAWrite) {
  for (int i = 1; i <= 8; ++i) Add(root, strprintf("w.%d", i), "5", "1");
  engine.allSilent = true;
  TaskOutcome outcome;
  ASSERT_TRUE(engine.StartTask(TaskKind::WriteAll, &root, &outcome));
  EXPECT_EQ(engine.Requests().size(), 5u * 4u);
  const auto log = ui.log();
  ASSERT_GE(log.size(), 7u);
  EXPECT_EQ(log[5], "  Запись: w.5 = 5 [новое значение]");
  EXPECT_EQ(log[6], "Прошло 5 безуспешных попыток записи!");
  EXPECT_EQ(state.linkStatus.load(), link_status::kNoAnswer);
  EXPECT_EQ(exitCodeOfLinkStatus(state.linkStatus.load()), 202);
  EXPECT_TRUE(ui.messages().empty()) << "the write limit only logs";
}

TEST_F(GroupOperationsTest, ModuleRefusalsAreLoggedButDoNotStopAWrite) {
  for (int i = 1; i <= 7; ++i) Add(root, strprintf("w.%d", i), "5", "1");
  for (int i = 1; i <= 7; ++i) engine.refuse[hashName(strprintf("w.%d", i))] = 51;
  TaskOutcome outcome;
  ASSERT_TRUE(engine.StartTask(TaskKind::WriteAll, &root, &outcome));
  EXPECT_EQ(outcome.counts, (WalkCounts{7, 7}));
  EXPECT_EQ(root.parameters()[0]->comment, "Редактирование параметра запрещено атрибутами доступа");
  EXPECT_EQ(exitCodeOfLinkStatus(state.linkStatus.load()), 204);
}

TEST_F(GroupOperationsTest, DirectReadsDoNotCountTowardsTheLimit) {
  Parameter& p = Add(root, "r.1", "Нет данных", "1");
  engine.allSilent = true;
  for (int i = 0; i < 7; ++i) EXPECT_EQ(ops().ReadParameter(p, false), kTransactExchangeFailed);
  EXPECT_FALSE(engine.abortEvent().isSet());
  EXPECT_EQ(engine.counters().failureStreak.load(), 0);
  EXPECT_TRUE(ui.log().empty()) << "no window, no log";
}

// ------------------------------------------------------------------ identification, instant write

TEST(DeviceName, KvtrInAnyCaseWithOrWithoutDashes) {
  EXPECT_TRUE(IsKvtrDeviceName("KVTR"));
  EXPECT_TRUE(IsKvtrDeviceName("kvtr"));
  EXPECT_TRUE(IsKvtrDeviceName("K-V-T-R"));
  EXPECT_TRUE(IsKvtrDeviceName("-kVtR-"));
  EXPECT_FALSE(IsKvtrDeviceName("KVTR2"));
  EXPECT_FALSE(IsKvtrDeviceName("ZRP8"));
  EXPECT_FALSE(IsKvtrDeviceName(""));
}

TEST_F(GroupOperationsTest, IdentifyTellsTheModuleAnotherDeviceOrSilence) {
  engine.deviceName = "K-v-t-r";
  DeviceIdentity id = ops().Identify(true);
  EXPECT_EQ(id.result, 3);
  EXPECT_EQ(id.info, "Прибор: K-v-t-r\nВерсия ПО: 1.0");
  ASSERT_EQ(ui.messages().size(), 1u);
  EXPECT_EQ(ui.messages()[0].caption, "Общие параметры прибора");

  engine.deviceName = "ZRP8";
  EXPECT_EQ(ops().IdentifyDevice(false), 2);
  EXPECT_EQ(ui.messages().size(), 1u) << "no messages asked for";

  engine.allSilent = true;
  id = ops().Identify(true);
  EXPECT_EQ(id.result, 0);
  EXPECT_EQ(id.errors,
            "Ошибка команды 'dev':\nТаймаут при передаче данных (нет связи)\nОшибка команды 'ver':\nТаймаут при передаче "
            "данных (нет связи)");
  ASSERT_EQ(ui.messages().size(), 2u);
  EXPECT_EQ(ui.messages()[1].caption, "Ошибка");
}

TEST_F(GroupOperationsTest, InstantWriteOnlyWithTheModeAndAChangedValue) {
  Parameter& p = Add(root, "w.1", "5", "1");
  p.comment = "старая ошибка";
  p.valueChanged = 1;
  EXPECT_EQ(ops().InstantWrite(p), kInstantWriteNotDone) << "mode off";
  engine.setImmediateWriting(true);
  p.valueChanged = 0;
  EXPECT_EQ(ops().InstantWrite(p), kInstantWriteNotDone) << "nothing changed";
  p.valueChanged = 1;
  EXPECT_EQ(ops().InstantWrite(p), 0);
  EXPECT_EQ(engine.ValueOf(p), "5");
  EXPECT_TRUE(p.comment.empty());
}

TEST(ExchangeCopy, CarriesWhatAnExchangeNeedsAndNothingElse) {
  Parameter p("x.1", "float", "описание");
  p.precision = 2;
  p.minimum = -1;
  p.maximum = 9;
  p.hasIndex = 1;
  p.index = 5;
  p.attributeMode = 1;
  p.addressOffset = 2;
  p.value = "3.000";
  p.editable = 0;
  p.ownerFirm = 1;
  p.comment = "ошибка";
  const auto copy = MakeExchangeCopy(p);
  EXPECT_EQ(copy->name, "x.1");
  EXPECT_EQ(copy->type, "float");
  EXPECT_EQ(copy->precision, 2u);
  EXPECT_EQ(copy->minimum, -1);
  EXPECT_EQ(copy->maximum, 9);
  EXPECT_EQ(copy->hasIndex, 1);
  EXPECT_EQ(copy->index, 5);
  EXPECT_EQ(copy->attributeMode, 1);
  EXPECT_EQ(copy->addressOffset, 2);
  EXPECT_EQ(copy->value, "Нет данных");
  EXPECT_EQ(copy->editable, 1);
  EXPECT_EQ(copy->ownerFirm, 0);
  EXPECT_TRUE(copy->comment.empty());
}

}  // namespace
}  // namespace kvtr
