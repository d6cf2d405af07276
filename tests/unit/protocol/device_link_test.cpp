// The device link over a scripted line: the serial port's own exchange logic runs beneath the
// link, and the line below it answers each request from a script. This reaches what a
// pseudo-terminal cannot produce (parity and framing errors, breaks, a port that fails) and
// counts every send exactly; the same rules run against the simulated module in the
// integration tests.
#include "protocol/device_link.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/settings_store.h"
#include "common/user_interface.h"
#include "unit/protocol/scripted_link.h"

namespace kvtr {
namespace {

using namespace kvtr::test;

class DeviceLinkTest : public ::testing::Test {
 protected:
  DeviceLinkTest() {
    DeviceLinkOptions options;
    options.state = &state;
    options.ui = &ui;
    options.portChoices = "/dev/null";
    link = std::make_unique<ScriptedLink>(options);
    link->serialPort().settings().baseAddress = 16;
  }

  std::vector<DecodedRequest> sent() { return decodeAll(link->line.requests); }

  struct RecordingUi : SilentUserInterface {
    void showMessage(const std::string& text, const std::string& caption, MessageIcon) override {
      messages.push_back(caption + ": " + text);
    }
    std::vector<std::string> messages;
  };

  LinkState state;
  RecordingUi ui;
  std::unique_ptr<ScriptedLink> link;
};

// ------------------------------------------------------------------ data fields

TEST_F(DeviceLinkTest, ReadAndWriteDataFieldsWithAndWithoutIndex) {
  const struct {
    const char* type;
    bool read;
    bool hasIndex;
    int index;
    const char* value;
    std::vector<std::uint8_t> request;  // data field sent
    std::vector<std::uint8_t> answer;   // data field answered
    const char* result;                 // value afterwards
  } rows[] = {
      {"int", true, false, 0, "", {}, {0x2A}, "42"},
      {"int", true, true, 0x0102, "", {0x01, 0x02}, {0x07, 0x01, 0x02}, "7"},
      {"int", false, true, 3, "300", {0x01, 0x2C, 0x00, 0x03}, {0x01, 0x2C, 0x00, 0x03}, "300"},
      {"float", false, false, 0, "1.5", {0x3F, 0xC0, 0x00, 0x00}, {0x3F, 0xC0, 0x00, 0x00}, "1.500"},
      {"Нет:Да", false, true, 11, "Да", {0x01, 0x00, 0x0B}, {0x01, 0x00, 0x0B}, "Да"},
      {"CLK_frm", false, false, 0, "00:10", {0x0A}, {0x0A}, "00:10"},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(std::string(r.type) + (r.read ? " read" : " write"));
    link->line.requests.clear();
    Parameter p("I.Flt", r.type, "test");
    p.hasIndex = r.hasIndex;
    p.index = r.index;
    p.value = r.value;
    p.valueChanged = 1;
    link->line.script = {bytes(frame(hashName("I.Flt"), r.answer))};
    ASSERT_EQ(link->Transact(r.read, &p), kTransactOk) << p.comment;
    const auto requests = sent();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].read, r.read);
    EXPECT_EQ(requests[0].hash, hashName("I.Flt"));
    EXPECT_EQ(requests[0].data, r.request);
    EXPECT_EQ(p.value, r.result);
    EXPECT_EQ(p.valueChanged, 0);
    EXPECT_TRUE(p.comment.empty());
  }
}

TEST_F(DeviceLinkTest, ProtocolLogShowsDataPartsOfRequestAndAnswer) {
  Parameter p("I.Flt", "int", "test");
  p.hasIndex = 1;
  p.index = 2;
  link->line.script = {bytes(frame(hashName("I.Flt"), {0x41, 0x00, 0x02}))};
  ProtocolLogList log;
  ASSERT_EQ(link->Transact(true, &p, &log), kTransactOk);
  const ProtocolLogList expected = {
      "Размер инф-ой части посылки 2 байт.",
      ">> Посылка: # 0 : 000 = 0x00 (.)",
      ">> Посылка: # 1 : 002 = 0x02 (.)",
      "<< Ответ: # 0 : 065 = 0x41 (A)",
      "<< Ответ: # 1 : 000 = 0x00 (.)",
      "<< Ответ: # 2 : 002 = 0x02 (.)",
      "Инф-ная часть квитанции ответа имеет размер 3 байт.",
  };
  EXPECT_EQ(log, expected);
}

TEST_F(DeviceLinkTest, IndexInTheAddressGoesToBasePlusOffset) {
  Parameter p("I.Flt", "int", "test");
  p.addressOffset = 9;
  link->line.script = {bytes(frame(hashName("I.Flt"), {1}, 25))};
  ASSERT_EQ(link->Transact(true, &p), kTransactOk);
  EXPECT_EQ(sent()[0].address, 25);
  EXPECT_TRUE(sent()[0].data.empty());
}

TEST_F(DeviceLinkTest, AFailedWriteConversionSendsNothing) {
  const struct {
    const char* name;
    const char* type;
    const char* value;
    int result;
    const char* comment;
  } rows[] = {
      {"dev", "string", "KVTR", kTransactNoWriteConversion, "Метод формирования посылки записи для команды 'dev' не определен."},
      {"C.Mod", "Выключен:Суммирование", "Вычитание", kTransactNotEncodable, "Неверное значение (неудается закодировать данные)"},
      {"P.Lo", "float", "1e300", kTransactNotEncodable, "Неверное значение (неудается закодировать данные)"},
  };
  for (const auto& r : rows) {
    for (const bool withLog : {false, true}) {
      SCOPED_TRACE(std::string(r.name) + (withLog ? " with log" : " without log"));
      link->line.requests.clear();
      Parameter p(r.name, r.type, "test");
      p.value = r.value;
      ProtocolLogList log;
      EXPECT_EQ(link->Transact(false, &p, withLog ? &log : nullptr), r.result);
      EXPECT_TRUE(link->line.requests.empty());
      EXPECT_EQ(p.comment, r.comment);
      if (withLog) {
        EXPECT_EQ(log, ProtocolLogList{r.comment});
      }
    }
  }
}

TEST_F(DeviceLinkTest, UndecodableAnswerEmptiesTheValue) {
  Parameter p("P.Lo", "float", "test");
  p.value = "1.000";
  link->line.script = {bytes(frame(hashName("P.Lo"), {1, 2, 3, 4, 5}))};
  EXPECT_EQ(link->Transact(true, &p), kTransactUndecodable);
  EXPECT_EQ(p.comment, "Не могу раскодировать ответ");
  EXPECT_EQ(p.value, "");
}

// ------------------------------------------------------------------ attributes

TEST_F(DeviceLinkTest, AttributeExchangeBeforeTheValue) {
  Parameter p("C.Mod", "int", "test");
  p.attributeMode = 1;
  p.hasIndex = 1;
  p.index = 0x0105;
  p.editable = 1;
  p.ownerFirm = 0;
  p.value = "1";
  p.accessChanged = 1;
  const std::uint16_t h = hashName("C.Mod");
  // Write: the attribute byte first (editable, the user's: 3), index low byte only, then the hash.
  link->line.script = {bytes(frame(kAttributesHash, {0x01, 0x00, 0x05, std::uint8_t(h >> 8), std::uint8_t(h)})),
                       bytes(frame(h, {1, 0x01, 0x05}))};
  ASSERT_EQ(link->Transact(false, &p), kTransactOk) << p.comment;
  auto requests = sent();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].hash, kAttributesHash);
  EXPECT_FALSE(requests[0].read);
  EXPECT_EQ(requests[0].data, (std::vector<std::uint8_t>{0x03, 0x00, 0x05, std::uint8_t(h >> 8), std::uint8_t(h)}));
  // The module answered 0x01: editable, owned by the maker.
  EXPECT_EQ(p.editable, 1);
  EXPECT_EQ(p.ownerFirm, 1);
  EXPECT_EQ(p.accessChanged, 0);

  // Read: no attribute byte, request bit set; force gives 3 only on writes.
  link->line.requests.clear();
  link->line.script = {bytes(frame(kAttributesHash, {0x02, 0x00, 0x05, std::uint8_t(h >> 8), std::uint8_t(h)})),
                       bytes(frame(h, {1, 0x01, 0x05}))};
  ASSERT_EQ(link->Transact(true, &p), kTransactOk) << p.comment;
  requests = sent();
  EXPECT_TRUE(requests[0].read);
  EXPECT_EQ(requests[0].data, (std::vector<std::uint8_t>{0x00, 0x05, std::uint8_t(h >> 8), std::uint8_t(h)}));
  EXPECT_EQ(p.editable, 0);
  EXPECT_EQ(p.ownerFirm, 0);

  link->line.requests.clear();
  p.editable = 0;
  p.ownerFirm = 1;
  link->line.script = {bytes(frame(kAttributesHash, {0x03, 0x00, 0x05, std::uint8_t(h >> 8), std::uint8_t(h)})),
                       bytes(frame(h, {1, 0x01, 0x05}))};
  ASSERT_EQ(link->Transact(false, &p, nullptr, true), kTransactOk);
  EXPECT_EQ(sent()[0].data[0], 3);
}

TEST_F(DeviceLinkTest, AttributeAnswerOfTheWrongLengthStopsTheTransaction) {
  Parameter p("C.Mod", "int", "test");
  p.attributeMode = 1;
  p.hasIndex = 1;
  link->line.script = {bytes(frame(kAttributesHash, {0x01, 0x00, 0x00, 0x00}))};
  EXPECT_EQ(link->Transact(true, &p), kTransactAttributeLength);
  EXPECT_EQ(p.comment, "Ошибка атрибутов; размер ответа не совпадает с ожидаемым.\n");
  EXPECT_EQ(link->line.requests.size(), 1u);  // the value is not asked for

  link->line.requests.clear();
  link->line.script = {bytes(frame(kErrorReplyHash, {8}))};
  EXPECT_EQ(link->Transact(true, &p), kTransactAttributesFailed);
  EXPECT_EQ(p.comment, "У запрошенного параметра отсутствуют признаки");
  EXPECT_EQ(link->line.requests.size(), 1u);
}

TEST_F(DeviceLinkTest, NoAttributeExchangeWhenSuppressedPolledOrWithoutAttributes) {
  struct Hook : ScanTimerHook {};
  for (int variant = 0; variant < 3; ++variant) {
    SCOPED_TRACE(variant);
    link->line.requests.clear();
    Parameter p("r.Cou", "int", "test");
    p.attributeMode = variant == 2 ? 0 : 1;
    link->setAttributesSuppressed(variant == 0);
    if (variant == 1) p.scanTimer = std::make_unique<Hook>();
    link->line.script = {bytes(frame(hashName("r.Cou"), {5}))};
    ASSERT_EQ(link->Transact(true, &p), kTransactOk) << p.comment;
    ASSERT_EQ(sent().size(), 1u);
    EXPECT_EQ(sent()[0].hash, hashName("r.Cou"));
  }
}

TEST_F(DeviceLinkTest, WithoutDangerousOperationsAWriteOnlyReadsTheAttributes) {
  DeviceLinkOptions options;
  options.state = &state;
  options.accessLevel = 1;
  options.portChoices = "x";
  ScriptedLink restricted(options);
  Parameter p("C.Mod", "int", "test");
  p.attributeMode = 1;
  p.value = "1";
  const std::uint16_t h = hashName("C.Mod");
  restricted.line.script = {bytes(frame(kAttributesHash, {0x03, std::uint8_t(h >> 8), std::uint8_t(h)})),
                            bytes(frame(h, {1}))};
  ASSERT_EQ(restricted.Transact(false, &p), kTransactOk) << p.comment;
  const DecodedRequest first = decode(restricted.line.requests[0]);
  EXPECT_TRUE(first.read);
  EXPECT_EQ(first.data, (std::vector<std::uint8_t>{std::uint8_t(h >> 8), std::uint8_t(h)}));
}

// ------------------------------------------------------------------ failures and retries

TEST_F(DeviceLinkTest, ModuleErrorRepliesBecomeTheirTexts) {
  const struct {
    std::vector<std::uint8_t> data;
    const char* text;
    std::uint32_t status;
  } rows[] = {
      {{57}, "Запрещающий групповой атрибут находится на уровне 1", link_status::kDeviceErrorReply},
      {{0xC8}, "Не найдено значение ошибки. (Код -56)", link_status::kDeviceErrorReply},
      {{51, 0}, "Редактирование параметра запрещено атрибутами доступа", link_status::kDeviceErrorReply},
      {{}, "", 0},  // no code: nothing to tell, and no flag
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.text);
    state.linkStatus = 0;
    Parameter p("I.Flt", "int", "test");
    link->line.script = {bytes(frame(kErrorReplyHash, r.data))};
    EXPECT_EQ(link->Transact(true, &p), kTransactExchangeFailed);
    EXPECT_EQ(p.comment, r.text);
    EXPECT_EQ(state.linkStatus.load(), r.status);
  }
}

TEST_F(DeviceLinkTest, BadCrcAndAnswersForAnotherParameter) {
  Parameter p("I.Flt", "int", "test");
  std::string bad = frame(hashName("I.Flt"), {1});
  bad[bad.size() - 2] = bad[bad.size() - 2] == 'G' ? 'H' : 'G';
  link->line.script = {bytes(bad)};
  EXPECT_EQ(link->Transact(true, &p), kTransactExchangeFailed);
  EXPECT_EQ(p.comment, "Ошибка в контрольной сумме ответа");
  link->line.script = {bytes(frame(hashName("I.inv"), {1}))};
  EXPECT_EQ(link->Transact(true, &p), kTransactExchangeFailed);
  EXPECT_EQ(p.comment, "Пришла посылка с кодом команды, отличным от посланной и от n.Err.\n");
  EXPECT_EQ(link->line.requests.size(), 2u);  // neither is retried
  EXPECT_EQ(state.linkStatus.load(), 0u);
}

TEST_F(DeviceLinkTest, TimeOutsLineErrorsAndLostStartsAreRetriedAndCounted) {
  const struct {
    const char* name;
    Reply failure;
    int failures;  // replies that fail before an answer, or all of them
    bool succeeds;
    const char* text;
    std::uint32_t status;
  } rows[] = {
      {"three time-outs then an answer", silence(), 3, true, "", 0},
      {"four time-outs", silence(), 4, false, "Таймаут при передаче данных (нет связи)", link_status::kNoAnswer},
      {"an answer without carriage return", bytes("#GGHG"), 4, false, "Таймаут при передаче данных (нет связи)",
       link_status::kNoAnswer},
      {"sixteen line errors then an answer", marked(kMarkedError), 16, true, "", 0},
      {"seventeen line errors", marked(kMarkedError), 17, false, "Неверны настройки порта.", link_status::kLineErrors},
      {"seventeen breaks", marked(kMarkedBreak), 17, false, "Неверны настройки порта.", link_status::kLineErrors},
      {"fifteen lost starts then an answer", bytes("GGHG\r"), 15, true, "", 0},
      {"sixteen lost starts", bytes("x\r"), 16, false, "Потеря начала посылки.", link_status::kLineErrors},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    state.linkStatus = 0;
    link->line.requests.clear();
    link->line.script.assign(static_cast<std::size_t>(r.failures), r.failure);
    link->line.script.push_back(bytes(frame(hashName("I.Flt"), {9})));
    Parameter p("I.Flt", "int", "test");
    EXPECT_EQ(link->Transact(true, &p), r.succeeds ? kTransactOk : kTransactExchangeFailed);
    EXPECT_EQ(p.comment, r.text);
    EXPECT_EQ(link->line.requests.size(), static_cast<std::size_t>(r.succeeds ? r.failures + 1 : r.failures));
    EXPECT_EQ(state.linkStatus.load(), r.status);
  }
}

TEST_F(DeviceLinkTest, LinkStatusStoresAsTheExitCodesNeedThem) {
  Parameter p("I.Flt", "int", "test");
  // A time-out does not hide wrong settings found before.
  state.linkStatus = link_status::kLineErrors;
  link->line.script.assign(4, silence());
  EXPECT_EQ(link->Transact(true, &p), kTransactExchangeFailed);
  EXPECT_EQ(state.linkStatus.load(), link_status::kLineErrors);
  // A time-out replaces any other flag, the port's bit included.
  state.linkStatus = link_status::kDeviceErrorReply | link_status::kPortNotOpened;
  link->line.script.assign(4, silence());
  EXPECT_EQ(link->Transact(true, &p), kTransactExchangeFailed);
  EXPECT_EQ(state.linkStatus.load(), link_status::kNoAnswer);
  // A frame start after a time-out turns it into 8.
  link->line.script = {bytes(frame(hashName("I.Flt"), {1}))};
  EXPECT_EQ(link->Transact(true, &p), kTransactOk);
  EXPECT_EQ(state.linkStatus.load(), link_status::kLineErrors);

  EXPECT_EQ(exitCodeOfLinkStatus(0), 0);
  EXPECT_EQ(exitCodeOfLinkStatus(1), 200);
  EXPECT_EQ(exitCodeOfLinkStatus(2 | 16), 201);
  EXPECT_EQ(exitCodeOfLinkStatus(4), 202);
  EXPECT_EQ(exitCodeOfLinkStatus(8), 203);
  EXPECT_EQ(exitCodeOfLinkStatus(16), 204);
  EXPECT_EQ(exitCodeOfLinkStatus(64), 206);
}

TEST_F(DeviceLinkTest, ApplyGoesOutOnceAnsweredOrNot) {
  for (const Reply& reply : {silence(), bytes(frame(kApplyHash, {})), marked(kMarkedError)}) {
    link->line.requests.clear();
    link->line.script = {reply};
    Parameter apply("APLY");
    apply.value.clear();
    EXPECT_EQ(link->Transact(false, &apply), kTransactOk) << apply.comment;
    ASSERT_EQ(sent().size(), 1u);
    EXPECT_EQ(sent()[0].hash, kApplyHash);
    EXPECT_TRUE(sent()[0].data.empty());
  }
  EXPECT_EQ(state.linkStatus.load(), 0u);
}

TEST_F(DeviceLinkTest, AStopOrAVanishedPortEndsTheExchangeAtOnce) {
  Parameter p("I.Flt", "int", "test");
  link->line.stop = true;
  EXPECT_EQ(link->Transact(true, &p), kTransactExchangeFailed);
  EXPECT_TRUE(link->line.requests.empty());
  link->line.stop = false;

  link->line.script = {Reply{Reply::Kind::Fail, {}}};
  EXPECT_EQ(link->Transact(true, &p), kTransactExchangeFailed);
  EXPECT_EQ(p.comment, "Ошибка открытия порта");
  EXPECT_EQ(link->line.requests.size(), 1u);
  EXPECT_EQ(link->Transact(true, &p), kTransactPortClosed);
  EXPECT_EQ(p.comment, "Ошибка открытия порта");
  EXPECT_EQ(link->Transact(true, nullptr), kTransactPortClosed);
}

// ------------------------------------------------------------------ network name

TEST_F(DeviceLinkTest, NetworkNameIsWrittenAsFourCodesAndReadBack) {
  Parameter name("CHAr*", "name", "Сетевое имя прибора");
  name.index = 4;
  name.attributeMode = 1;
  name.value = "AB.C";
  link->setAttributesSuppressed(true);
  const std::uint16_t h = kNameCharHash;
  for (const int code : {20, 23, 24, 78}) {
    const int index = 4 + static_cast<int>(link->line.script.size());
    link->line.script.push_back(bytes(frame(h, {std::uint8_t(code), 0, std::uint8_t(index)})));
  }
  ASSERT_EQ(link->Transact(false, &name), kTransactOk) << name.comment;
  auto requests = sent();
  ASSERT_EQ(requests.size(), 4u);
  const int codes[] = {20, 23, 24, 78};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(requests[i].hash, h);
    EXPECT_FALSE(requests[i].read);
    EXPECT_EQ(requests[i].data, (std::vector<std::uint8_t>{std::uint8_t(codes[i]), 0, std::uint8_t(4 + i)}));
  }
  EXPECT_EQ(name.value, "AB.C ");

  link->line.requests.clear();
  for (int i = 0; i < 4; ++i) link->line.script.push_back(bytes(frame(h, {std::uint8_t(codes[i]), 0, std::uint8_t(4 + i)})));
  ASSERT_EQ(link->Transact(true, &name), kTransactOk) << name.comment;
  EXPECT_EQ(name.value, "AB.C ");
  requests = sent();
  ASSERT_EQ(requests.size(), 4u);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(requests[i].data, (std::vector<std::uint8_t>{0, std::uint8_t(4 + i)}));
}

TEST_F(DeviceLinkTest, NetworkNameWriteExchangesAttributesPerCharacter) {
  Parameter name("CHAr*", "name", "Сетевое имя прибора");
  name.value = "Q";
  name.editable = 1;
  name.ownerFirm = 1;  // attribute byte 1
  for (int i = 0; i < 4; ++i) {
    link->line.script.push_back(bytes(frame(kAttributesHash, {1, 0, std::uint8_t(i), 0x36, 0x28})));
    link->line.script.push_back(bytes(frame(kNameCharHash, {i == 0 ? std::uint8_t(52) : std::uint8_t(78), 0, std::uint8_t(i)})));
  }
  ASSERT_EQ(link->Transact(false, &name), kTransactOk) << name.comment;
  const auto requests = sent();
  ASSERT_EQ(requests.size(), 8u);
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(requests[2 * i].hash, kAttributesHash);
    EXPECT_EQ(requests[2 * i].data, (std::vector<std::uint8_t>{1, 0, std::uint8_t(i), 0x36, 0x28}));
  }
  EXPECT_EQ(name.value, "Q   ");
}

TEST_F(DeviceLinkTest, BadNetworkNamesAreRefusedBeforeAnythingIsSent) {
  const struct {
    const char* value;
    const char* text;
  } rows[] = {
      {"", "Сетевое имя пусто (CHAr)"},
      {"ABCDEFGHI", "Сетевое имя слишком длинное (CHAr)"},
      {".AB", "Недопустимый символ в сетевом имени (CHAr)"},
      {"A/B", "Недопустимый символ в сетевом имени (CHAr)"},
      {"A..B", "Недопустимый символ в сетевом имени (CHAr)"},
      {"AБ", "Недопустимый символ в сетевом имени (CHAr)"},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.value);
    Parameter name("CHAr*", "name", "Сетевое имя прибора");
    name.value = r.value;
    ProtocolLogList log;
    EXPECT_EQ(link->Transact(false, &name, &log), kTransactNotEncodable);
    EXPECT_EQ(name.comment, r.text);
    EXPECT_EQ(log, ProtocolLogList{r.text});
  }
  EXPECT_TRUE(link->line.requests.empty());
}

TEST_F(DeviceLinkTest, NetworkNameReadStopsAtACodeOutsideTheAlphabetOrAFailure) {
  Parameter name("CHAr*", "name", "Сетевое имя прибора");
  link->line.script = {bytes(frame(kNameCharHash, {20, 0, 0})), bytes(frame(kNameCharHash, {80, 0, 1}))};
  EXPECT_EQ(link->Transact(true, &name), kTransactUndecodable);
  EXPECT_EQ(name.comment, "Недопустимый код символа в сетевом имени (CHAr)");
  EXPECT_EQ(link->line.requests.size(), 2u);

  link->line.requests.clear();
  link->line.script = {bytes(frame(kNameCharHash, {20, 0, 0})), bytes(frame(kErrorReplyHash, {53}))};
  EXPECT_EQ(link->Transact(true, &name), kTransactExchangeFailed);
  EXPECT_EQ(name.comment, "Индекс параметра превышает ограничитель индекса");
  EXPECT_EQ(link->line.requests.size(), 2u);
}

// ------------------------------------------------------------------ foreign protocols

TEST_F(DeviceLinkTest, SwitchCommandInEachForeignFraming) {
  const std::vector<std::uint8_t> coil = {0x05, 0xF0, 0xF0, 0xFF, 0x00};
  std::array<std::uint8_t, kMaxSwitchRequest> buffer{};
  auto framed = [&](ProtocolMode mode, std::vector<std::uint8_t> payload, std::uint8_t address = 16) {
    const std::size_t n = buildSwitchRequest(mode, address, payload, buffer);
    return std::string(buffer.begin(), buffer.begin() + static_cast<long>(n));
  };
  const struct {
    ProtocolMode mode;
    std::string answer;
    int result;
  } rows[] = {
      {ProtocolMode::ModbusRtu, framed(ProtocolMode::ModbusRtu, coil), kLinkOk},
      {ProtocolMode::ModbusAscii, framed(ProtocolMode::ModbusAscii, coil), kLinkOk},
      {ProtocolMode::ModbusRtu, framed(ProtocolMode::ModbusRtu, {0x05, 0xF0, 0xF0, 0x00, 0x00}), kLinkWrongAnswer},
      {ProtocolMode::ModbusAscii, framed(ProtocolMode::ModbusAscii, coil, 17), kLinkWrongAddress},
      {ProtocolMode::PercentCommand, "!10" + std::string("CF\r"), kLinkBadChecksum},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(static_cast<int>(r.mode));
    state.protocolMode = static_cast<std::uint8_t>(r.mode);
    link->line.requests.clear();
    link->modes.clear();
    link->line.script = {bytes(r.answer)};
    Parameter p("ignored");
    EXPECT_EQ(link->Transact(true, &p), r.result);
    EXPECT_EQ(p.comment, linkErrorText(r.result));
    ASSERT_EQ(link->line.requests.size(), 1u);
    EXPECT_EQ(link->line.requests[0], framed(r.mode, std::vector<std::uint8_t>(protocolSwitchPayload(r.mode).begin(),
                                                                                 protocolSwitchPayload(r.mode).end())));
    EXPECT_EQ(link->modes, std::vector<int>{static_cast<int>(r.mode)});
  }
}

TEST_F(DeviceLinkTest, ForeignTimeOutsToggleTheConverterAndLineErrorsAreRetried) {
  state.protocolMode = static_cast<std::uint8_t>(ProtocolMode::PercentCommand);
  link->serialPort().settings().automaticConverter = 1;
  link->line.script.assign(4, silence());
  EXPECT_EQ(link->Transact(true, nullptr), kLinkTimeout);
  EXPECT_EQ(link->line.requests.size(), 4u);
  EXPECT_EQ(link->serialPort().settings().automaticConverter, 1u);  // toggled four times

  link->line.requests.clear();
  link->line.script.assign(17, marked(kMarkedError));
  EXPECT_EQ(link->Transact(true, nullptr), kLinkLineErrors);
  EXPECT_EQ(link->line.requests.size(), 17u);

  link->serialPort().settings().addressLength = 11;
  link->line.requests.clear();
  EXPECT_EQ(link->Transact(true, nullptr), -1);
  EXPECT_TRUE(link->line.requests.empty());
}

// ------------------------------------------------------------------ opening

TEST_F(DeviceLinkTest, OpenLinkTakesTheProgramPortSettings) {
  NetRS485prg& node = link->programPortNode();
  node.SetValueByName("Port", "/nonexistent/tty-kvtr");
  node.SetValueByName("bPS", "19200");
  node.SetValueByName("Addr", "1000");
  node.SetValueByName("A.Len", "11");
  node.SetValueByName("LEn", "7");
  node.SetValueByName("Sbit", "2");
  node.SetValueByName("PrtY", "Нечетность");
  state.networkSettingsWritten = true;
  state.linkStatus = link_status::kDeviceErrorReply;
  EXPECT_EQ(link->OpenLink(true), serial::kCannotOpen);
  const SerialSettings& s = link->serialPort().settings();
  EXPECT_EQ(s.portName, "/nonexistent/tty-kvtr");
  EXPECT_EQ(s.baudRate, 19200);
  EXPECT_EQ(s.baseAddress, 1000);
  EXPECT_EQ(s.addressLength, 11);
  EXPECT_EQ(s.dataBits, 7);
  EXPECT_EQ(s.stopBits, 2);
  EXPECT_EQ(s.parityCode, 4);
  for (const auto& p : node.parameters()) EXPECT_EQ(p->valueChanged, 0) << p->name;
  EXPECT_FALSE(state.networkSettingsWritten.load());
  EXPECT_EQ(state.linkStatus.load(), link_status::kDeviceErrorReply | link_status::kPortNotOpened);
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0],
            "Ошибка драйвера последовательного порта: Не удается открыть порт /nonexistent/tty-kvtr. Связь с сетью "
            "отсутствует. Проверьте сетевые параметры (такого порта в системе нет)");

  // A parity text that is none of the three keeps the code; no message in a batch run or
  // without the flag; nothing at all while communication is off.
  node.SetValueByName("PrtY", "<неверное значние>");
  link->setBatchMode(true);
  EXPECT_EQ(link->OpenLink(true), serial::kCannotOpen);
  EXPECT_EQ(link->serialPort().settings().parityCode, 4);
  link->setBatchMode(false);
  EXPECT_EQ(link->OpenLink(false), serial::kCannotOpen);
  link->setCommunicationOff(true);
  state.linkStatus = 0;
  EXPECT_EQ(link->OpenLink(true), -1);
  EXPECT_EQ(state.linkStatus.load(), 0u);
  EXPECT_EQ(ui.messages.size(), 1u);
}

TEST(DeviceLink, ProgramPortSettingsComeFromTheStoreAndGoBackWithTheLink) {
  MemorySettingsStore store;
  store.createKey(SettingsKey::Port);
  StoredPortSettings stored;
  stored.baudRate = 57600;
  stored.setPort("/dev/ttyUSB3");
  stored.comPortMap = "COM7=/dev/ttyUSB9";
  ASSERT_TRUE(savePortSettings(store, stored));
  LinkState state;
  {
    DeviceLinkOptions options;
    options.settings = &store;
    options.state = &state;
    options.portChoices = "/dev/ttyUSB3";
    DeviceLink link(options);
    EXPECT_EQ(link.programPortNode().GetValueByName("bPS"), "57600");
    EXPECT_EQ(link.programPortNode().GetValueByName("Port"), "/dev/ttyUSB3");
    EXPECT_EQ(link.serialPort().comPortMap().at(7), "/dev/ttyUSB9");
    EXPECT_TRUE(link.dangerousOperationsAllowed());
    link.programPortNode().SetValueByName("Port", "COM7");
  }
  const StoredPortSettings after = loadPortSettings(store);
  EXPECT_EQ(after.portNumber, 7u);
  EXPECT_EQ(after.portName, "");
  EXPECT_EQ(after.baudRate, 57600u);
}

}  // namespace
}  // namespace kvtr
