// The connection procedure over a scripted line: the order of the converter kinds and of the
// foreign protocols, the link status it leaves, and where an interruption stops it.
#include "exchange/connection.h"

#include <gtest/gtest.h>

#include <array>
#include <deque>
#include <string>
#include <vector>

#include "common/event.h"
#include "protocol/network_settings.h"
#include "unit/protocol/scripted_link.h"

namespace kvtr {
namespace {

using test::ScriptedLink;

// The switch command as a foreign module echoes it back (both Modbus framings answer a coil
// write with the request itself).
std::string switchEcho(ProtocolMode mode) {
  std::array<std::uint8_t, kMaxSwitchRequest> out{};
  const std::size_t n = buildSwitchRequest(mode, 16, protocolSwitchPayload(mode), out);
  return std::string(reinterpret_cast<const char*>(out.data()), n);
}

class ConnectTest : public test::ScriptedLinkTest {
 protected:
  // Answers from `answers` in turn and notes the converter kind and protocol mode of each call.
  DeviceIdentifier identifier(std::deque<int> answers) {
    return [this, answers]() mutable {
      calls_.push_back({link_.serialPort().settings().automaticConverter, state_.protocolMode.load()});
      const int a = answers.empty() ? kIdentifyNoAnswer : answers.front();
      if (!answers.empty()) answers.pop_front();
      return a;
    };
  }

  struct Call {
    std::uint32_t automatic;
    std::uint8_t mode;
    friend bool operator==(const Call&, const Call&) = default;
  };
  std::vector<Call> calls_;
};

TEST_F(ConnectTest, IdentificationTriesTheAutomaticConverterThenTheSemiAutomaticOne) {
  const struct {
    std::deque<int> answers;
    std::vector<Call> calls;
    std::uint32_t converterAfter;
    bool noAnswerKept;  // another device stores 64 over the whole word
  } rows[] = {
      {{kIdentifyKvtr}, {{1, 0}}, 1, true},
      {{kIdentifyNoAnswer, kIdentifyKvtr}, {{1, 0}, {0, 0}}, 0, true},
      {{kIdentifyOtherDevice, kIdentifyKvtr}, {{1, 0}, {0, 0}}, 0, false},
  };
  for (const auto& row : rows) {
    calls_.clear();
    link_.modes.clear();
    state_.linkStatus.store(link_status::kNoAnswer | link_status::kLineErrors | link_status::kOtherDevice);
    state_.protocolMode.store(2);
    EXPECT_TRUE(Connect(link_, identifier(row.answers)));
    EXPECT_EQ(calls_, row.calls);
    EXPECT_EQ(link_.serialPort().settings().automaticConverter, row.converterAfter);
    EXPECT_EQ(state_.protocolMode.load(), 0);
    // Line errors and another device are forgotten once the module answered; the port that could
    // not be opened (2) and the time-out (4) are not this step's business.
    EXPECT_EQ(state_.linkStatus.load() & (link_status::kLineErrors | link_status::kOtherDevice), 0u);
    EXPECT_EQ((state_.linkStatus.load() & link_status::kNoAnswer) != 0, row.noAnswerKept);
    EXPECT_TRUE(link_.modes.empty()) << "no switch command goes out once the module answered";
  }
}

TEST_F(ConnectTest, AnotherDeviceLeavesSixtyFourAfterEveryAttemptFailed) {
  EXPECT_FALSE(Connect(link_, identifier({kIdentifyOtherDevice, kIdentifyOtherDevice})));
  EXPECT_EQ(state_.linkStatus.load(), link_status::kOtherDevice);
  EXPECT_EQ(calls_, (std::vector<Call>{{1, 0}, {0, 0}}));
  // Each foreign mode: four sends, the converter toggled after each silence.
  EXPECT_EQ(link_.modes, (std::vector<int>{1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3}));
  EXPECT_EQ(link_.serialPort().settings().automaticConverter, 0u);
  EXPECT_EQ(state_.protocolMode.load(), 0);
}

TEST_F(ConnectTest, TheFirstSwitchCommandTakenEndsTheProcedure) {
  for (const ProtocolMode mode : {ProtocolMode::ModbusRtu, ProtocolMode::ModbusAscii, ProtocolMode::PercentCommand}) {
    calls_.clear();
    link_.modes.clear();
    link_.line.requests.clear();
    link_.line.script.clear();
    const int position = static_cast<int>(mode);
    // The modes before it stay silent for their four sends.
    for (int i = 0; i < 4 * (position - 1); ++i) link_.line.script.push_back(test::silence());
    // The '%' module acknowledges with '!', its address and the sum of the two: 0x21 + 0x31 + 0x30.
    link_.line.script.push_back(
        test::bytes(mode == ProtocolMode::PercentCommand ? std::string("!1082\r") : switchEcho(mode)));
    state_.linkStatus.store(link_status::kNoAnswer | link_status::kOtherDevice);
    EXPECT_TRUE(Connect(link_, identifier({kIdentifyNoAnswer, kIdentifyNoAnswer}))) << position;
    EXPECT_EQ(static_cast<int>(link_.modes.size()), 4 * (position - 1) + 1) << position;
    EXPECT_EQ(link_.modes.back(), position);
    EXPECT_EQ(state_.protocolMode.load(), 0) << "back to the device protocol";
    EXPECT_EQ(state_.linkStatus.load() & (link_status::kNoAnswer | link_status::kOtherDevice), 0u);
  }
}

TEST_F(ConnectTest, AnInterruptionStopsBeforeTheNextAttempt) {
  Event abort(EventReset::Manual);
  // Set during the first identification: no second one and no switch command follows.
  auto identify = [&] {
    calls_.push_back({link_.serialPort().settings().automaticConverter, state_.protocolMode.load()});
    abort.set();
    return kIdentifyNoAnswer;
  };
  EXPECT_FALSE(Connect(link_, identify, &abort));
  EXPECT_EQ(calls_.size(), 1u);
  EXPECT_TRUE(link_.modes.empty());
  EXPECT_EQ(link_.serialPort().settings().automaticConverter, 0u);
  EXPECT_EQ(state_.protocolMode.load(), 0);

  // Already set: nothing at all goes out.
  calls_.clear();
  EXPECT_FALSE(Connect(link_, identifier({kIdentifyKvtr}), &abort));
  EXPECT_TRUE(calls_.empty());
}

TEST_F(ConnectTest, NoCommunicationEndsItBeforeAnyAttempt) {
  link_.setCommunicationOff(true);
  EXPECT_FALSE(Connect(link_, identifier({kIdentifyKvtr})));
  EXPECT_TRUE(calls_.empty());
  EXPECT_TRUE(link_.modes.empty());
}

}  // namespace
}  // namespace kvtr
