// Expected frames computed with an independent script (Modbus CRC with the reflected
// polynomial, LRC and the '%' sum written from their definitions) and written in by hand.
#include "protocol/protocol_switch.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kvtr {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes bytesOf(std::string_view text) { return Bytes(text.begin(), text.end()); }

Bytes build(ProtocolMode mode, std::uint8_t address) {
  Bytes out(kMaxSwitchRequest);
  out.resize(buildSwitchRequest(mode, address, protocolSwitchPayload(mode), out));
  return out;
}

TEST(ProtocolSwitch, ModbusCrcAndLrc) {
  // The standard check value of CRC-16/MODBUS.
  EXPECT_EQ(modbusCrc(bytesOf("123456789")), 0x4B37);
  EXPECT_EQ(modbusLrc(Bytes{0x10, 0x05, 0xF0, 0xF0, 0xFF, 0x00}), 0x0C);
  EXPECT_EQ(modbusLrc(Bytes{}), 0x00);
}

TEST(ProtocolSwitch, Requests) {
  struct Case {
    ProtocolMode mode;
    std::uint8_t address;
    Bytes frame;
  };
  const Case cases[] = {
      {ProtocolMode::ModbusRtu, 16, {0x10, 0x05, 0xF0, 0xF0, 0xFF, 0x00, 0xBC, 0x48}},
      {ProtocolMode::ModbusRtu, 247, {0xF7, 0x05, 0xF0, 0xF0, 0xFF, 0x00, 0xAB, 0x9F}},
      {ProtocolMode::ModbusAscii, 16, bytesOf(":1005F0F0FF000C\r\n")},
      {ProtocolMode::ModbusAscii, 247, bytesOf(":F705F0F0FF0025\r\n")},
      {ProtocolMode::PercentCommand, 16, bytesOf("%10DORVC1\r")},
      {ProtocolMode::PercentCommand, 247, bytesOf("%F7DORVDD\r")},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(build(c.mode, c.address), c.frame) << static_cast<int>(c.mode) << ' ' << int(c.address);
  }
  EXPECT_TRUE(build(ProtocolMode::Native, 16).empty());
  Bytes tooSmall(7);
  EXPECT_EQ(buildSwitchRequest(ProtocolMode::ModbusRtu, 16, protocolSwitchPayload(ProtocolMode::ModbusRtu), tooSmall),
            0u);
  const Bytes tooLong(kMaxSwitchPayload + 1, 0);
  Bytes out(256);
  EXPECT_EQ(buildSwitchRequest(ProtocolMode::ModbusAscii, 16, tooLong, out), 0u);
}

struct AnswerCase {
  const char* what;
  ProtocolMode mode;
  Bytes received;
  int result;
};

TEST(ProtocolSwitch, Answers) {
  const auto rtu = ProtocolMode::ModbusRtu;
  const auto ascii = ProtocolMode::ModbusAscii;
  const auto pct = ProtocolMode::PercentCommand;
  const AnswerCase cases[] = {
      {"RTU echo", rtu, {0x10, 0x05, 0xF0, 0xF0, 0xFF, 0x00, 0xBC, 0x48}, kLinkOk},
      {"RTU CRC bytes swapped", rtu, {0x10, 0x05, 0xF0, 0xF0, 0xFF, 0x00, 0x48, 0xBC}, kLinkBadChecksum},
      {"RTU from address 1", rtu, {0x01, 0x05, 0xF0, 0xF0, 0xFF, 0x00, 0xBF, 0x09}, kLinkWrongAddress},
      {"RTU too short", rtu, {0x10, 0xBC}, kLinkWrongAnswer},
      {"RTU empty", rtu, {}, kLinkWrongAnswer},
      // Address 16 and the CRC of that single byte (BE 8C, low byte first).
      {"RTU address only", rtu, {0x10, 0xBE, 0x8C}, kLinkWrongAnswer},
      {"ASCII echo", ascii, bytesOf(":1005F0F0FF000C\r\n"), kLinkOk},
      {"ASCII without LF", ascii, bytesOf(":1005F0F0FF000C\r"), kLinkOk},
      {"ASCII lower-case digits", ascii, bytesOf(":1005f0f0ff000c\r\n"), kLinkOk},
      {"ASCII bad LRC", ascii, bytesOf(":1005F0F0FF000D\r\n"), kLinkBadChecksum},
      {"ASCII from address 1", ascii, bytesOf(":0105F0F0FF001B\r\n"), kLinkWrongAddress},
      {"ASCII no colon", ascii, bytesOf("1005F0F0FF000C\r\n"), kLinkWrongAnswer},
      {"ASCII odd digits", ascii, bytesOf(":1005F0F0FF000\r\n"), kLinkWrongAnswer},
      {"ASCII not hex", ascii, bytesOf(":1005F0G0FF000C\r\n"), kLinkWrongAnswer},
      // Correct LRC (0x10 + 0xF0 = 0x100) but not an echo of the command.
      {"ASCII other answer", ascii, bytesOf(":10F0\r\n"), kLinkWrongAnswer},
      {"% answer", pct, bytesOf("!1082\r"), kLinkOk},
      {"% answer with text", pct, bytesOf("!10OK1C\r"), kLinkOk},
      {"% bad sum", pct, bytesOf("!1083\r"), kLinkBadChecksum},
      {"% from address 1", pct, bytesOf("!0182\r"), kLinkWrongAddress},
      // '?' + '1' + '0' = 0xA0: the sum is right, the first character is not '!'.
      {"% refusal", pct, bytesOf("?10A0\r"), kLinkWrongAnswer},
      {"% too short", pct, bytesOf("!10\r"), kLinkWrongAnswer},
      {"% sum digits not hex", pct, bytesOf("!10ZZ\r"), kLinkWrongAnswer},
      {"native mode", ProtocolMode::Native, bytesOf("!1082\r"), kLinkWrongAnswer},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(checkSwitchAnswer(c.mode, 16, protocolSwitchPayload(c.mode), c.received), c.result) << c.what;
  }
}

TEST(ProtocolSwitch, CheckerReturnsTheBytesAfterTheAddress) {
  const SwitchResponse pct = checkSwitchResponse(ProtocolMode::PercentCommand, bytesOf("!10OK1C\r"));
  ASSERT_EQ(pct.result, kLinkOk);
  EXPECT_EQ(Bytes(pct.all().begin(), pct.all().end()), (Bytes{0x10, 'O', 'K'}));

  const SwitchResponse rtu =
      checkSwitchResponse(ProtocolMode::ModbusRtu, Bytes{0x10, 0x05, 0xF0, 0xF0, 0xFF, 0x00, 0xBC, 0x48});
  ASSERT_EQ(rtu.result, kLinkOk);
  EXPECT_EQ(Bytes(rtu.all().begin(), rtu.all().end()), (Bytes{0x10, 0x05, 0xF0, 0xF0, 0xFF, 0x00}));
}

TEST(ProtocolSwitch, LinkErrorTexts) {
  EXPECT_EQ(linkErrorText(2), "Таймаут при передаче данных (нет связи)");
  EXPECT_EQ(linkErrorText(3), "Ошибки на линии связи");
  EXPECT_EQ(linkErrorText(4), "Ошибка в контрольной сумме");
  EXPECT_EQ(linkErrorText(5), "Адрес устройства в запросе не соответствует адресу в ответе.");
  EXPECT_EQ(linkErrorText(6), "Некорректный ответ");
  for (const int other : {-1, 0, 1, 7, 200}) EXPECT_TRUE(linkErrorText(other).empty()) << other;
}

}  // namespace
}  // namespace kvtr
