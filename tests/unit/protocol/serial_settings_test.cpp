#include "protocol/serial_settings.h"

#include <gtest/gtest.h>

namespace kvtr {
namespace {

TEST(SerialSettings, Defaults) {
  const SerialSettings s;
  EXPECT_EQ(s.automaticConverter, 0u);
  EXPECT_EQ(s.portName, "COM1");
  EXPECT_EQ(s.baudRate, 9600);
  EXPECT_EQ(s.parityCode, 3);
  EXPECT_EQ(s.stopBits, 1);
  EXPECT_EQ(s.dataBits, 8);
  EXPECT_EQ(s.addressLength, 8);
  EXPECT_EQ(s.baseAddress, 16);
}

TEST(SerialSettings, ParityCodes) {
  const std::pair<int, std::optional<Parity>> rows[] = {
      {0, Parity::None}, {1, Parity::Even}, {2, Parity::Mark},  {3, Parity::None},
      {4, Parity::Odd},  {5, Parity::Space}, {6, std::nullopt}, {-1, std::nullopt},
  };
  for (const auto& [code, parity] : rows) EXPECT_EQ(parityFromCode(code), parity) << code;
}

TEST(SerialSettings, RefusalsInTheOrderTheyAreChecked) {
  struct Row {
    int baud, parity, dataBits, stopBits, result;
  };
  const Row rows[] = {
      {9600, 3, 8, 1, serial::kOpened},
      {128000, 3, 8, 1, serial::kOpened},
      {56000, 3, 8, 1, serial::kOpened},
      {110, 5, 5, 2, serial::kOpened},
      {256000, 3, 8, 1, serial::kUnsupportedSetting},
      {9601, 3, 8, 1, serial::kUnsupportedSetting},
      {9600, 6, 8, 1, serial::kUnsupportedSetting},
      {9600, 3, 4, 1, serial::kBadDataBits},
      {9600, 3, 9, 1, serial::kBadDataBits},
      {9600, 3, 8, 3, serial::kUnsupportedSetting},
      {9600, 3, 8, 0, serial::kUnsupportedSetting},
      // Parity before data bits, data bits before stop bits and speed.
      {9600, 6, 9, 1, serial::kUnsupportedSetting},
      {256000, 3, 9, 3, serial::kBadDataBits},
  };
  for (const Row& r : rows) {
    SerialSettings s;
    s.baudRate = r.baud;
    s.parityCode = r.parity;
    s.dataBits = r.dataBits;
    s.stopBits = r.stopBits;
    EXPECT_EQ(checkLineSettings(s), r.result) << r.baud << " " << r.parity << " " << r.dataBits << " " << r.stopBits;
  }
  for (const int baud : kAcceptedBaudRates) EXPECT_TRUE(isAcceptedBaudRate(baud)) << baud;
}

}  // namespace
}  // namespace kvtr
