#include "protocol/serial_timing.h"

#include <gtest/gtest.h>

#include <chrono>

namespace kvtr {
namespace {

struct TimingRow {
  int baud;
  int dataBits;
  int parityCode;
  int stopBits;
  float characterMs;  // bits * 1000 / baud
  std::uint32_t interval;
  std::uint32_t multiplier;
  int replyMs;
  int silenceMs;
};

TEST(SerialTiming, TimeoutsFollowTheCharacterTime) {
  const TimingRow rows[] = {
      // 8N1 = 10 bits: 10000 / 9600 = 1.0417 ms; ceil(1.5625) = 2; ceil(2 + 1.0417) = 4;
      // 4 * 30 + 50 = 170 ms; ceil(3.5 * 1.0417 = 3.646) = 4.
      {9600, 8, 3, 1, 1.0417f, 2, 4, 170, 4},
      // 7E1 is also 10 bits: 7 + parity + start + stop.
      {9600, 7, 1, 1, 1.0417f, 2, 4, 170, 4},
      // 10000 / 2400 = 4.1667 ms; ceil(6.25) = 7; ceil(11.17) = 12; 410 ms; ceil(14.58) = 15.
      {2400, 8, 0, 1, 4.1667f, 7, 12, 410, 15},
      // 10000 / 115200 = 0.0868 ms; ceil(0.130) = 1; ceil(1.087) = 2; 110 ms; ceil(0.304) = 1.
      {115200, 8, 3, 1, 0.0868f, 1, 2, 110, 1},
      // 8E2 = 12 bits: 12000 / 19200 = 0.625 ms; ceil(0.9375) = 1; ceil(1.625) = 2; 110 ms; ceil(2.1875) = 3.
      {19200, 8, 1, 2, 0.625f, 1, 2, 110, 3},
      // 10000 / 14400 = 0.6944 ms; ceil(1.0417) = 2; ceil(2.694) = 3; 140 ms; ceil(2.43) = 3.
      {14400, 8, 3, 1, 0.6944f, 2, 3, 140, 3},
      // 10000 / 300 = 33.333 ms; 1.5 times the float is 49.999998, which rounds up to 50;
      // ceil(83.33) = 84; 84 * 30 + 50 = 2570 ms; ceil(116.67) = 117.
      {300, 8, 3, 1, 33.3333f, 50, 84, 2570, 117},
      // 10000 / 1200 = 8.3333 ms; ceil(12.5) = 13; ceil(21.33) = 22; 710 ms; ceil(29.17) = 30.
      {1200, 8, 3, 1, 8.3333f, 13, 22, 710, 30},
      // 7O2 = 11 bits: 11000 / 1200 = 9.1667 ms; ceil(13.75) = 14; ceil(23.17) = 24; 770 ms.
      {1200, 7, 4, 2, 9.1667f, 14, 24, 770, 33},
      // 10000 / 110 = 90.909 ms; ceil(136.36) = 137; ceil(227.9) = 228; 6890 ms; ceil(318.2) = 319.
      {110, 8, 3, 1, 90.9091f, 137, 228, 6890, 319},
      // The slowest format, 8 data bits, mark parity, 2 stop bits = 12 bits at 110 baud:
      // 109.09 ms; ceil(163.6) = 164; ceil(273.1) = 274; 8270 ms, still inside 16 bits.
      {110, 8, 2, 2, 109.0909f, 164, 274, 8270, 382},
      // 5N1 = 7 bits: 7000 / 4800 = 1.4583 ms; ceil(2.1875) = 3; ceil(4.458) = 5; 200 ms; ceil(5.1) = 6.
      {4800, 5, 0, 1, 1.4583f, 3, 5, 200, 6},
      // 10000 / 128000 = 0.078125 ms; ceil(0.117) = 1; ceil(1.078) = 2; 110 ms; ceil(0.273) = 1.
      {128000, 8, 3, 1, 0.0781f, 1, 2, 110, 1},
      // Space parity counts its bit: 11000 / 56000 = 0.1964 ms; 1; ceil(1.196) = 2; 110 ms; 1.
      {56000, 8, 5, 1, 0.1964f, 1, 2, 110, 1},
  };
  for (const TimingRow& row : rows) {
    SerialSettings s;
    s.baudRate = row.baud;
    s.dataBits = row.dataBits;
    s.parityCode = row.parityCode;
    s.stopBits = row.stopBits;
    const float ct = characterTimeMs(s);
    const std::string what = std::to_string(row.baud) + " " + std::to_string(row.dataBits) + "/" +
                             std::to_string(row.parityCode) + "/" + std::to_string(row.stopBits);
    EXPECT_NEAR(ct, row.characterMs, 0.0001) << what;
    const SerialTimeouts t = computeTimeouts(ct);
    EXPECT_EQ(t.readInterval, row.interval) << what;
    EXPECT_EQ(t.readTotalMultiplier, row.multiplier) << what;
    EXPECT_EQ(t.readTotalConstant, 50u) << what;
    EXPECT_EQ(t.writeTotalMultiplier, 10u) << what;
    EXPECT_EQ(t.writeTotalConstant, 500u) << what;
    EXPECT_EQ(replyTimeoutMs(t), row.replyMs) << what;
    EXPECT_EQ(rtuSilenceMs(ct), row.silenceMs) << what;
  }
}

TEST(SerialTiming, WriteTimeoutGrowsWithTheRequest) {
  const SerialTimeouts t = computeTimeouts(characterTimeMs(9600, 8, false, 1));
  EXPECT_EQ(writeTimeoutMs(t, 0), 500);
  // The longest request, 15 data bytes, is 44 characters: 500 + 440.
  EXPECT_EQ(writeTimeoutMs(t, 44), 940);
}

TEST(SerialTiming, BusyWaitLastsAtLeastItsTime) {
  const auto start = std::chrono::steady_clock::now();
  busyWait(0.5f);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::microseconds(500));
}

}  // namespace
}  // namespace kvtr
