// The simulator's smaller parts: line settings, frame cutting, faults and its command line.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "protocol/frame_codec.h"
#include "protocol/protocol_switch.h"
#include "sim/fault_injector.h"
#include "sim/frame_assembler.h"
#include "sim/line_settings.h"
#include "sim/sim_options.h"

namespace kvtr::sim {
namespace {

TEST(LineSettingsTest, CharacterTimeCountsEveryBit) {
  LineSettings l;
  EXPECT_NEAR(l.characterMs(), 10.0 / 9600 * 1000, 1e-9);  // 1.0417 ms
  l.dataBits = 7;
  l.parity = Parity::Even;
  EXPECT_NEAR(l.characterMs(), 10.0 / 9600 * 1000, 1e-9);  // 7E1 is 10 bits too
  l.stopBits = 2;
  l.baud = 2400;
  EXPECT_NEAR(l.characterMs(), 11.0 / 2400 * 1000, 1e-9);
}

TEST(LineSettingsTest, NetworkBytesRoundTripAndRefuseOutsideTheirLists) {
  LineSettings l{115200, 7, Parity::Odd, 2, 1000, 11};
  const NetworkBytes b = toNetworkBytes(l);
  EXPECT_EQ(b.bps, 8);
  EXPECT_EQ(b.dataBits, 0);
  EXPECT_EQ(b.parity, 2);
  EXPECT_EQ(fromNetworkBytes(b), l);
  NetworkBytes bad = b;
  bad.bps = 9;
  EXPECT_FALSE(fromNetworkBytes(bad));
}

TEST(LineSettingsTest, HearsSpeedStopBitsAndOddParityOnly) {
  const LineSettings l{19200, 8, Parity::Even, 1, 16, 8};
  EXPECT_TRUE(hears(l, {19200, 1, false}));
  EXPECT_FALSE(hears(l, {9600, 1, false}));
  EXPECT_FALSE(hears(l, {19200, 2, false}));
  EXPECT_FALSE(hears(l, {19200, 1, true}));
  EXPECT_TRUE(hears({19200, 8, Parity::Odd, 1, 16, 8}, {19200, 1, true}));
}

std::vector<std::string> Feed(FrameAssembler& a, std::string_view bytes, std::int64_t now = 0) {
  std::vector<ReceivedFrame> frames;
  a.Feed(bytes, now, frames);
  std::vector<std::string> texts;
  for (const auto& f : frames) texts.push_back(f.bytes);
  return texts;
}

TEST(FrameAssemblerTest, NativeFramesRunFromHashToCarriageReturn) {
  FrameAssembler a;
  EXPECT_EQ(Feed(a, "xx#GH"), std::vector<std::string>{});
  EXPECT_EQ(Feed(a, "IJ\r#K\r"), (std::vector<std::string>{"#GHIJ\r", "#K\r"}));
  // A second '#' breaks the first frame off.
  EXPECT_EQ(Feed(a, "#GG#HH\r"), std::vector<std::string>{"#HH\r"});
  // A run without an end is dropped, and the next frame is whole.
  EXPECT_EQ(Feed(a, "#" + std::string(FrameAssembler::kMaxFrame + 5, 'G') + "\r#H\r"), std::vector<std::string>{"#H\r"});
}

TEST(FrameAssemblerTest, ForeignFramings) {
  FrameAssembler a;
  a.SetMode(ProtocolMode::ModbusAscii);
  EXPECT_EQ(Feed(a, "#HH\r:1005\r\n"), std::vector<std::string>{":1005\r\n"});
  a.SetMode(ProtocolMode::PercentCommand);
  EXPECT_EQ(Feed(a, "%10DORV52\r"), std::vector<std::string>{"%10DORV52\r"});

  a.SetMode(ProtocolMode::ModbusRtu);
  std::uint8_t frame[kMaxSwitchRequest];
  const std::size_t n = buildSwitchRequest(ProtocolMode::ModbusRtu, 16, protocolSwitchPayload(ProtocolMode::ModbusRtu), frame);
  const std::string command(reinterpret_cast<const char*>(frame), n);
  // A whole switch command is a frame at once, whatever came before it.
  EXPECT_EQ(Feed(a, "\x01\x02" + command), std::vector<std::string>{command});
  // Anything else ends with the silence.
  EXPECT_TRUE(Feed(a, "\x01\x02\x03", 100).empty());
  ASSERT_TRUE(a.SilenceDeadline(3.6));
  EXPECT_EQ(*a.SilenceDeadline(3.6), 104);
  std::vector<ReceivedFrame> frames;
  a.Expire(103, 3.6, frames);
  EXPECT_TRUE(frames.empty());
  a.Expire(104, 3.6, frames);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].bytes, "\x01\x02\x03");
  EXPECT_FALSE(a.SilenceDeadline(3.6));
}

const std::string kAnswer(buildRequest(true, hashName("dev"), std::vector<std::uint8_t>{'R', 'T', 'V', 'K'}, 16, 8).text());

TEST(FaultInjectorTest, RulesFireOnTheAnswersTheyName) {
  FaultSettings s;
  s.rule(FaultKind::Drop).first = 2;
  s.rule(FaultKind::BadCrc).every = 3;
  FaultInjector f(s);
  std::vector<std::string> faults;
  for (int i = 0; i < 7; ++i) faults.push_back(f.Plan(kAnswer, true, {0x1234}).fault);
  // Answers 1, 2 dropped; 3 and 6 spoilt (answer 3 is counted by both rules, drop no longer fires).
  EXPECT_EQ(faults, (std::vector<std::string>{"drop", "drop", "bad-crc", "", "", "bad-crc", ""}));
}

TEST(FaultInjectorTest, SpoiltAnswersFailTheProgramsChecks) {
  const std::uint16_t dev = hashName("dev");
  EXPECT_EQ(parseResponse(withBadCrc(kAnswer, 5), dev).status, ResponseStatus::CrcError);
  const ParsedResponse other = parseResponse(withHash(kAnswer, 0x1234), dev);
  EXPECT_EQ(other.status, ResponseStatus::OtherHash);
  EXPECT_EQ(other.hash, 0x1234);
  for (const auto& [kind, status] : {std::pair{FaultKind::LostStart, ResponseStatus::LostFrameStart},
                                     std::pair{FaultKind::OtherHash, ResponseStatus::OtherHash}}) {
    FaultSettings s;
    s.rule(kind).every = 1;
    FaultInjector f(s);
    EXPECT_EQ(parseResponse(f.Plan(kAnswer, true, {0x1234}).bytes, dev).status, status);
  }
  FaultSettings s;
  s.rule(FaultKind::Garbage).every = 1;
  FaultInjector f(s);
  for (int i = 0; i < 20; ++i) {
    const std::string g = f.Plan(kAnswer, true, {}).bytes;
    EXPECT_NE(g.front(), '#');
    EXPECT_EQ(g.back(), '\r');
  }
}

TEST(FaultInjectorTest, ProbabilitiesRepeatWithTheSeedAndLateAddsItsDelay) {
  auto run = [](std::uint64_t seed) {
    FaultSettings s;
    s.seed = seed;
    s.rule(FaultKind::Drop).probability = 0.3;
    FaultInjector f(s);
    std::string fired;
    for (int i = 0; i < 64; ++i) fired += f.Plan(kAnswer, true, {}).send ? '.' : 'x';
    return fired;
  };
  EXPECT_EQ(run(11), run(11));
  EXPECT_NE(run(11), run(12));
  EXPECT_NE(run(11).find('x'), std::string::npos);

  FaultSettings s;
  s.delayMs = 5;
  s.lateMs = 200;
  s.rule(FaultKind::Late).first = 1;
  s.rule(FaultKind::BadCrc).every = 1;
  FaultInjector f(s);
  const AnswerPlan foreign = f.Plan(":10\r\n", false, {});
  EXPECT_EQ(foreign.extraDelayMs, 205);  // a foreign answer has no CRC tetrads to spoil
  EXPECT_EQ(foreign.bytes, ":10\r\n");
}

TEST(SimOptionsTest, ParsesEveryOption) {
  const OptionsResult r = ParseOptions({"--baud", "14400", "--parity=odd", "--stop-bits", "2", "--data-bits", "7",
                                        "--address", "300", "--address-length", "11", "--dev", "КВТР", "--seed",
                                        "9", "--drop-every", "4", "--late-probability", "0.25", "--bad-crc-first",
                                        "2", "--inputs", "0x801", "--wire-time", "--control", "-"});
  ASSERT_EQ(r.error, "");
  const SimOptions& o = r.options;
  EXPECT_EQ(o.line.ApplyTo({}), (LineSettings{14400, 7, Parity::Odd, 2, 300, 11}));
  EXPECT_EQ(o.identity.device, "КВТР");
  EXPECT_EQ(o.faults.seed, 9u);
  EXPECT_EQ(o.inputs.seed, 9u);
  EXPECT_EQ(o.faults.rule(FaultKind::Drop).every, 4);
  EXPECT_DOUBLE_EQ(o.faults.rule(FaultKind::Late).probability, 0.25);
  EXPECT_EQ(o.faults.rule(FaultKind::BadCrc).first, 2);
  EXPECT_FALSE(o.inputs.automatic);
  EXPECT_EQ(o.inputs.mask, 0x801);
  EXPECT_TRUE(o.wireTime);
  EXPECT_EQ(o.control, "-");
}

TEST(SimOptionsTest, RefusesWhatTheModuleCannotDo) {
  const std::vector<std::vector<std::string>> bad = {
      {"--baud", "256000"},
      {"--address", "300"},
      {"--parity", "even", "--data-bits", "8", "--stop-bits", "2"},
      {"--protocol", "rtu", "--address-length", "11"},
      {"--drop-probability", "1.5"},
      {"--drop-sometimes", "1"},
      {"--dev", "ABCDEFGHI"},
      {"--address"},
      {"stray"},
  };
  for (const auto& args : bad) EXPECT_NE(ParseOptions(args).error, "") << args[0];
}

TEST(SimOptionsTest, ControlCommands) {
  std::string error;
  auto c = ParseControl("fault other-hash probability 0.5", error);
  ASSERT_TRUE(c);
  EXPECT_EQ(c->kind, ControlCommand::Kind::Fault);
  EXPECT_EQ(c->fault, FaultKind::OtherHash);
  EXPECT_DOUBLE_EQ(c->rule.probability, 0.5);
  c = ParseControl("fault drop off", error);
  ASSERT_TRUE(c);
  EXPECT_FALSE(c->rule.active());
  c = ParseControl("attr I.Flt 3 1", error);
  ASSERT_TRUE(c);
  EXPECT_EQ(c->name, "I.Flt");
  EXPECT_EQ(c->index, 3);
  EXPECT_EQ(c->number, 1);
  c = ParseControl("frames 12", error);
  ASSERT_TRUE(c);
  EXPECT_EQ(c->kind, ControlCommand::Kind::Frames);
  EXPECT_TRUE(c->flag);
  EXPECT_EQ(c->number, 12);
  c = ParseControl("inputs 0xFFF", error);
  ASSERT_TRUE(c);
  EXPECT_EQ(c->number, 0xFFF);
  for (const char* bad : {"", "fault", "fault drop", "fault drop every", "inputs 0x1000", "wire-time maybe",
                          "attr I.Flt 3 4", "frames -1", "reboot"}) {
    EXPECT_FALSE(ParseControl(bad, error)) << bad;
  }
}

}  // namespace
}  // namespace kvtr::sim
