#include "protocol/apply_sequence.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/user_interface.h"
#include "model/net_rs485.h"
#include "protocol/link_parameter_steps.h"
#include "unit/model/recording_user_interface.h"
#include "unit/protocol/scripted_link.h"

namespace kvtr {
namespace {

using namespace kvtr::test;

using RecordingUi = testing_support::RecordingUserInterface;

class ApplySequenceTest : public ::testing::Test {
 protected:
  ApplySequenceTest() {
    DeviceLinkOptions options;
    options.state = &state;
    options.ui = &openUi;
    options.portChoices = "/nonexistent/kvtr-port";
    link = std::make_unique<ScriptedLink>(options);
    link->programPortNode().SetValueByName("Port", "/nonexistent/kvtr-port");
    link->serialPort().settings().baseAddress = 16;
    module.SetValueByName("bPS", "115200");
    module.SetValueByName("LEn", "8");
    module.SetValueByName("PrtY", "Отсутствует");
    module.SetValueByName("Sbit", "1");
    module.SetValueByName("A.Len", "8");
    module.SetValueByName("Addr", "20");
    link->setDeviceNetworkNode(&module);
  }

  std::vector<DecodedRequest> sent() { return decodeAll(link->line.requests); }

  LinkState state;
  RecordingUi openUi;  // OpenLink's messages
  RecordingUi ui;      // the sequence's own
  NetRS485 module;
  std::unique_ptr<ScriptedLink> link;
};

TEST_F(ApplySequenceTest, ApplyAtTheOldSettingsThenDevAndRepeatsAtTheNew) {
  link->line.script = {silence(), bytes(frame(hashName("dev"), {'R', 'T', 'V', 'K'}, 20))};
  LinkParameterSteps steps(*link);
  const auto before = link->clock.now();
  const ApplyOutcome out = RunApplySequence(*link, steps, {true, true, true}, &ui, link->clock);
  EXPECT_TRUE(out.ok());
  EXPECT_TRUE(out.switched);
  EXPECT_EQ(out.deviceName, "KVTR");
  EXPECT_EQ(out.repeatedSends, 3);
  const auto requests = sent();
  ASSERT_EQ(requests.size(), 5u);
  EXPECT_EQ(requests[0].hash, kApplyHash);
  EXPECT_EQ(requests[0].address, 16);  // the old address
  EXPECT_EQ(requests[1].hash, hashName("dev"));
  EXPECT_EQ(requests[1].address, 20);  // the new one
  for (int i = 2; i < 5; ++i) {
    EXPECT_EQ(requests[i].hash, kApplyHash);
    EXPECT_EQ(requests[i].address, 20);
  }
  // The program took the module's settings.
  EXPECT_EQ(link->programPortNode().GetValueByName("bPS"), "115200");
  EXPECT_EQ(link->serialPort().settings().baudRate, 115200);
  // 100 ms before and after each repeated frame, besides the line's own waits.
  EXPECT_GE(link->clock.now() - before, std::chrono::milliseconds(600));
  EXPECT_TRUE(ui.messages.empty());
  // The reopening failed (no such port) and said so through OpenLink's message.
  EXPECT_EQ(openUi.messages.size(), 1u);
}

TEST_F(ApplySequenceTest, RepeatOnceOrNotAtAllAndKeepTheProgramSettingsWhenAsked) {
  link->line.script = {silence(), silence()};
  LinkParameterSteps steps(*link);
  const ApplyOutcome out = RunApplySequence(*link, steps, {false, true, false}, &ui, link->clock);
  EXPECT_TRUE(out.ok());
  EXPECT_FALSE(out.switched);
  EXPECT_FALSE(out.deviceRead);
  EXPECT_EQ(out.repeatedSends, 1);
  EXPECT_EQ(sent().size(), 2u);
  EXPECT_EQ(link->programPortNode().GetValueByName("bPS"), "9600");
  EXPECT_EQ(openUi.messages.size(), 0u);

  link->line.requests.clear();
  const ApplyOutcome none = RunApplySequence(*link, steps, {false, false, true}, &ui, link->clock);
  EXPECT_EQ(none.repeatedSends, 0);
  EXPECT_EQ(sent().size(), 1u);
}

TEST_F(ApplySequenceTest, ADeviceThatDoesNotAnswerAtTheNewSettingsIsReported) {
  link->line.script.assign(5, silence());
  LinkParameterSteps steps(*link);
  const ApplyOutcome out = RunApplySequence(*link, steps, {true, false, true}, &ui, link->clock);
  EXPECT_FALSE(out.ok());
  EXPECT_EQ(out.applyResult, 0);
  EXPECT_EQ(out.deviceResult, kTransactExchangeFailed);
  EXPECT_EQ(out.report, "Ошибка команды 'dev':\nТаймаут при передаче данных (нет связи)\n");
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0].text, out.report);
  EXPECT_EQ(ui.messages[0].caption, "Имела место ошибка");
  EXPECT_EQ(ui.messages[0].icon, MessageIcon::Stop);

  // A batch run shows nothing and still reports.
  link->line.script.assign(5, silence());
  const ApplyOutcome batch = RunApplySequence(*link, steps, {true, false, true}, nullptr, link->clock);
  EXPECT_EQ(batch.report, out.report);
  EXPECT_EQ(ui.messages.size(), 1u);
}

TEST_F(ApplySequenceTest, AFailedApplyIsReportedAndTheSequenceGoesOn) {
  link->open = false;  // nothing can go out
  LinkParameterSteps steps(*link);
  const ApplyOutcome out = RunApplySequence(*link, steps, {true, false, true}, &ui, link->clock);
  EXPECT_EQ(out.applyResult, kTransactPortClosed);
  EXPECT_TRUE(out.switched);
  EXPECT_EQ(out.report,
            "Ошибка команды 'APLY':\nОшибка открытия порта\nОшибка команды 'dev':\nОшибка открытия порта\n");
  EXPECT_EQ(ui.messages.size(), 1u);
}

TEST_F(ApplySequenceTest, BatchApplyWritesOnceAndTakesTheSettings) {
  link->line.script = {silence()};
  LinkParameterSteps steps(*link);
  EXPECT_EQ(ApplyNetworkSettingsBatch(*link, steps), 0);
  EXPECT_EQ(sent().size(), 1u);
  EXPECT_EQ(link->serialPort().settings().baseAddress, 20);
}

TEST(ApplyDialogText, ListsTheModuleSettingsOrWhatIsMissing) {
  NetRS485 module;
  module.SetValueByName("bPS", "19200");
  module.SetValueByName("Addr", "7");
  DeviceLinkOptions options;
  options.portChoices = "x";
  LinkState state;
  options.state = &state;
  DeviceLink link(options);
  EXPECT_EQ(ApplyDialogSettingsText(&link, &module),
            "Скорость: 19200\nДлина слова данных: Нет данных\nЧетность: Нет данных\nКол-во стоп-бит: Нет данных\n"
            "Длина адреса: Нет данных\nАдрес: 7");
  EXPECT_EQ(ApplyDialogSettingsText(nullptr, &module),
            "Нет данных - контекст устройства не получен диалогом APLY\n\nВнутренняя ошибка программы");
  EXPECT_EQ(ApplyDialogSettingsText(&link, nullptr),
            "Нет данных - элемент 'Сетевые параметры прибора' не инициализирован\n\nВнутренняя ошибка программы");
}

TEST_F(ApplySequenceTest, StepsNeverWriteAnUnknownValueOrANegativeIndex) {
  LinkParameterSteps steps(*link);
  Parameter p("Addr", "int", "Базовый адрес прибора");
  EXPECT_EQ(steps.WriteParameter(p, kWriteAll), kStepNotInitialised);
  EXPECT_EQ(p.comment, "Значение не записанно, так как параметер не инициализирован");
  p.value = "5";
  p.index = -1;
  EXPECT_EQ(steps.WriteParameter(p, kWriteAll), kStepSkipped);
  EXPECT_EQ(steps.ReadParameter(p), kStepSkipped);
  EXPECT_TRUE(link->line.requests.empty());

  // A written network setting makes the APLY follow-up due; the initial value is what goes out.
  p.index = 0;
  p.pendingText = "21";
  link->line.script = {bytes(frame(hashName("Addr"), {0, 21}))};
  EXPECT_EQ(steps.WriteParameter(p, kWriteInitial), 0) << p.comment;
  EXPECT_EQ(sent()[0].data, (std::vector<std::uint8_t>{0, 21}));
  EXPECT_TRUE(state.networkSettingsWritten.load());
}

}  // namespace
}  // namespace kvtr
