#include "protocol/protocol_log.h"

#include <gtest/gtest.h>

namespace kvtr {
namespace {

TEST(ProtocolLog, RequestLines) {
  const std::uint8_t data[] = {0x00, 0x02, 0x41, 0xC0, 0x7F, 0x1F};
  const std::vector<std::string> expected = {
      "Размер инф-ой части посылки 6 байт.",
      ">> Посылка: # 0 : 000 = 0x00 (.)",
      ">> Посылка: # 1 : 002 = 0x02 (.)",
      ">> Посылка: # 2 : 065 = 0x41 (A)",
      // 0xC0 is 'А' in Windows-1251.
      ">> Посылка: # 3 : 192 = 0xC0 (А)",
      ">> Посылка: # 4 : 127 = 0x7F (\x7F)",
      ">> Посылка: # 5 : 031 = 0x1F (.)",
  };
  EXPECT_EQ(requestLogLines(data), expected);
  EXPECT_EQ(requestLogLines({}), std::vector<std::string>{"Размер инф-ой части посылки 0 байт."});
}

TEST(ProtocolLog, ResponseLines) {
  std::vector<std::uint8_t> data(12, 0x20);
  data[11] = 0xFF;
  const std::vector<std::string> lines = responseLogLines(data);
  ASSERT_EQ(lines.size(), 13u);
  EXPECT_EQ(lines[0], "<< Ответ: # 0 : 032 = 0x20 ( )");
  // Positions from 10 fill the two-character field.
  EXPECT_EQ(lines[11], "<< Ответ: #11 : 255 = 0xFF (я)");
  EXPECT_EQ(lines[12], "Инф-ная часть квитанции ответа имеет размер 12 байт.");
}

}  // namespace
}  // namespace kvtr
