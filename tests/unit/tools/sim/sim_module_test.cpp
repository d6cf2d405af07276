#include "sim/sim_module.h"

#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "model/desc_branch.h"
#include "protocol/frame_codec.h"
#include "protocol/protocol_switch.h"
#include "unit/tools/sim/shipped_table.h"

namespace kvtr::sim {
namespace {

using Bytes = std::vector<std::uint8_t>;

class SimModuleTest : public ::testing::Test {
 protected:
  static InputBehaviour FixedInputs() {
    InputBehaviour inputs;
    inputs.automatic = false;
    return inputs;
  }

  SimModule module{test::ShippedTable(), {}, FixedInputs(), std::nullopt, {}, std::nullopt, 0};

  Reply Ask(bool read, std::string_view name, const Bytes& data = {}, int address = 16, Millis now = 0,
            int bits = 8) {
    return module.HandleNative(buildRequest(read, hashName(name), data, address, bits).text(), now);
  }
  Bytes Read(std::string_view name, const Bytes& data = {}, Millis now = 0) {
    const ParsedResponse r = parseResponse(Ask(true, name, data, 16, now).line, hashName(name));
    EXPECT_TRUE(r.ok()) << name;
    return Bytes(r.data().begin(), r.data().end());
  }
  void Write(std::string_view name, const Bytes& data, Millis now = 0) {
    EXPECT_TRUE(parseResponse(Ask(false, name, data, 16, now).line, hashName(name)).ok()) << name;
  }
  int ErrorCode(const Reply& reply) {
    const ParsedResponse r = parseResponse(reply.line, 0);
    return r.hasDeviceErrorCode() ? r.deviceErrorCode() : -1;
  }
};

TEST_F(SimModuleTest, TableHoldsTheShippedParametersWithTheirIndexes) {
  const ParameterTable& table = module.table();
  struct Row {
    const char* name;
    bool indexed;
    int limit;
    bool attributes;
  } rows[] = {{"I.Flt", true, 12, true},  {"clb.k", true, 16, true}, {"r.oe", true, 8, false},
              {"P.Per", true, 8, true},   {"t.Ans", false, 1, true}, {"C.Sav", false, 1, true},
              {"r.Cou", true, 12, false}, {"CHAr*", false, 1, true}};
  for (const Row& row : rows) {
    const SimParameter* p = table.FindByName(row.name);
    ASSERT_NE(p, nullptr) << row.name;
    EXPECT_EQ(p->indexed, row.indexed) << row.name;
    EXPECT_EQ(p->indexLimit(), row.limit) << row.name;
    EXPECT_EQ(p->hasAttributes, row.attributes) << row.name;
  }
  EXPECT_EQ(table.FindByName("APLY"), nullptr);  // a template only, in no branch
}

TEST(ParameterTableTest, NamesWithTheSameHashAreReportedAndLeftOut) {
  DescBranch root("root", 1, 1, 0, 0);
  root.AddParameter("ABCD", "int", "first");
  root.AddParameter("ABCDE", "int", "same hash");
  std::vector<std::string> warnings;
  const ParameterTable table = ParameterTable::FromTree(&root, nullptr, &warnings);
  EXPECT_EQ(table.size(), 1u);
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_NE(warnings[0].find("ABCDE"), std::string::npos);
}

TEST_F(SimModuleTest, FactoryValuesComeFromTheDescriptor) {
  EXPECT_EQ(Read("t.Lnk"), (Bytes{0x0A}));  // "00:10" is 10 seconds
  EXPECT_EQ(Read("P.Per", {0x00, 0x02}), (Bytes{0x03, 0xE8, 0x00, 0x02}));
  EXPECT_EQ(Read("C.Mod", {0x00, 0x00}), (Bytes{0x01, 0x00, 0x00}));  // "Суммирование"
  // Calibration points: start of the scale at even indexes, end (4095) at odd ones.
  EXPECT_EQ(Read("clb.k", {0x00, 0x00}), (Bytes{0x00, 0x00, 0x00, 0x00}));
  EXPECT_EQ(Read("clb.k", {0x00, 0x03}), (Bytes{0x0F, 0xFF, 0x00, 0x03}));
  EXPECT_EQ(Read("bPS"), (Bytes{0x02}));
  EXPECT_EQ(Read("Addr"), (Bytes{0x00, 0x10}));

  Write("t.Lnk", {0x14});
  module.RestoreFactory(0);
  EXPECT_EQ(Read("t.Lnk"), (Bytes{0x0A}));
}

TEST_F(SimModuleTest, NoiseAndForeignAddressesGetNoAnswer) {
  std::string frame(buildRequest(true, hashName("dev"), {}, 16, 8).text());
  struct Case {
    const char* what;
    std::string line;
    const char* note;
  } cases[] = {
      {"bad CRC", frame.substr(0, frame.size() - 2) + (frame[frame.size() - 2] == 'G' ? "H" : "G") + "\r",
       "ошибка CRC"},
      {"character outside G..V", "#" + std::string(12, 'Z') + "\r", "вне G..V"},
      {"odd length", frame.substr(0, 5) + frame.substr(6), "нечетное"},
      {"address 24, beyond the index bits", std::string(buildRequest(true, hashName("r.oe"), {}, 24, 8).text()),
       "для адреса 24"},
      {"no index at address 17", std::string(buildRequest(true, hashName("t.Ans"), {}, 17, 8).text()),
       "для адреса 17"},
      {"11-bit frame", std::string(buildRequest(true, hashName("dev"), {}, 16 * 8 + 1, 11).text()), "11-битным"},
  };
  for (const Case& c : cases) {
    const Reply r = module.HandleNative(c.line, 0);
    EXPECT_FALSE(r.answered) << c.what;
    EXPECT_NE(r.note.find(c.note), std::string::npos) << c.what << ": " << r.note;
  }
}

TEST_F(SimModuleTest, IndexInTheAddressCoversTheLowThreeBits) {
  Write("r.oe", {0x3F, 0x80, 0x00, 0x00, 0x07});  // output 8 on
  const ParsedResponse r = parseResponse(Ask(true, "r.oe", {}, 23).line, hashName("r.oe"));
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(r.address, 23);
  EXPECT_EQ(Bytes(r.data().begin(), r.data().end()), (Bytes{0x3F, 0x80, 0x00}));
  EXPECT_EQ(ErrorCode(Ask(true, "CHAr", {}, 20)), 53);  // the name has characters 0..3
}

TEST_F(SimModuleTest, AplyAnswersAtTheOldSettingsAndSwitches) {
  Write("bPS", {0x08});
  Write("Sbit", {0x01});
  EXPECT_EQ(module.line().baud, 9600);
  const Reply r = Ask(false, "APLY");
  EXPECT_TRUE(parseResponse(r.line, kApplyHash).ok());
  EXPECT_EQ(r.sentWith.baud, 9600);
  EXPECT_EQ(module.line().baud, 115200);
  EXPECT_EQ(module.line().stopBits, 2);
}

TEST_F(SimModuleTest, NetworkSettingsAreCheckedTogether) {
  EXPECT_EQ(ErrorCode(Ask(false, "Addr", {0x01, 0x2C})), 71);  // 300 needs 11-bit addresses
  Write("A.Len", {0x01});
  Write("Addr", {0x01, 0x2C});
  EXPECT_EQ(ErrorCode(Ask(false, "A.Len", {0x00})), 71);
  EXPECT_EQ(ErrorCode(Ask(false, "Prot", {0x01})), 71);  // foreign protocols need address <= 255
  EXPECT_EQ(ErrorCode(Ask(false, "Addr", {0x08, 0x00})), 6);  // 2048 is beyond the rule 0..2047
  Write("PrtY", {0x01});
  EXPECT_EQ(ErrorCode(Ask(false, "Sbit", {0x01})), 71);  // parity, 8 data bits and 2 stop bits
  Write("LEn", {0x00});
  Write("Sbit", {0x01});
}

TEST_F(SimModuleTest, InitStartsTheProtocolOfProtAndTheSwitchCommandEndsIt) {
  Write("Prot", {0x02});
  EXPECT_EQ(module.protocol(), ProtocolMode::Native);
  EXPECT_TRUE(parseResponse(Ask(true, "INIT").line, kInitHash).ok());
  EXPECT_EQ(module.protocol(), ProtocolMode::ModbusAscii);
  EXPECT_FALSE(Ask(true, "dev").answered);

  std::uint8_t frame[kMaxSwitchRequest];
  const auto payload = protocolSwitchPayload(ProtocolMode::ModbusAscii);
  std::size_t n = buildSwitchRequest(ProtocolMode::ModbusAscii, 17, payload, frame);
  EXPECT_FALSE(module.HandleForeign(std::span(frame, n), 0).answered);  // another address
  n = buildSwitchRequest(ProtocolMode::ModbusAscii, 16, payload, frame);
  const Reply r = module.HandleForeign(std::span(frame, n), 0);
  ASSERT_TRUE(r.answered);
  EXPECT_EQ(r.line, std::string(reinterpret_cast<const char*>(frame), n));
  EXPECT_EQ(module.protocol(), ProtocolMode::Native);
  EXPECT_EQ(Read("Prot"), (Bytes{0x00}));
}

TEST(SimModulePercentTest, AnswersTheSwitchCommandWithItsAddress) {
  SimModule module{test::ShippedTable(), {}, {}, std::nullopt, {}, ProtocolMode::PercentCommand, 0};
  std::uint8_t frame[kMaxSwitchRequest];
  const auto payload = protocolSwitchPayload(ProtocolMode::PercentCommand);
  const std::size_t n = buildSwitchRequest(ProtocolMode::PercentCommand, 16, payload, frame);
  const Reply r = module.HandleForeign(std::span(frame, n), 0);
  // '!' 0x21 + '1' 0x31 + '0' 0x30 = 0x82
  EXPECT_EQ(r.line, "!1082\r");
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(r.line.data());
  EXPECT_EQ(checkSwitchAnswer(ProtocolMode::PercentCommand, 16, payload, std::span(bytes, r.line.size())), kLinkOk);
}

TEST(SimModuleWavesTest, CountersCountEveryEdgeTheInputsShow) {
  // The counter arithmetic against a walk over the inputs millisecond by millisecond.
  InputBehaviour inputs;
  inputs.halfPeriodMs = 7;
  inputs.seed = 3;
  SimModule module{test::ShippedTable(), {}, inputs, std::nullopt, {}, std::nullopt, 0};
  std::vector<int> rising(kInputCount, 0);
  std::uint16_t before = module.InputMask(0);
  for (Millis t = 1; t <= 3000; ++t) {
    const std::uint16_t now = module.InputMask(t);
    for (int k = 0; k < kInputCount; ++k) rising[k] += ((now & ~before) >> k) & 1;
    before = now;
    if (t % 997 == 0) (void)module.ValueBytes("r.Cou", 0, t);  // counting in steps must not matter
  }
  for (int k = 0; k < kInputCount; ++k) {
    const auto bytes = module.ValueBytes("r.Cou", k, 3000);
    ASSERT_TRUE(bytes && bytes->size() == 2) << "input " << k;
    EXPECT_EQ((*bytes)[0] * 256 + (*bytes)[1], rising[k]) << "input " << k;
  }
  EXPECT_GT(rising[0], 200);
}

TEST_F(SimModuleTest, CounterModesEdgesAndInversion) {
  auto counter = [&](int k) {
    const Bytes b = Read("r.Cou", {0x00, static_cast<std::uint8_t>(k)});
    return b.size() == 4 ? b[0] * 256 + b[1] : b[0];
  };
  auto pulse = [&](int k) {
    module.SetInputsFixed(static_cast<std::uint16_t>(1u << k), 0);
    module.SetInputsFixed(0, 0);
  };
  Write("C.Mod", {0x02, 0x00, 0x00});  // subtracting, from 0
  pulse(0);
  EXPECT_EQ(counter(0), 65535);
  Write("C.Mod", {0x03, 0x00, 0x01});  // counting up to C.Lim 3, then from 0 again
  Write("C.Lim", {0x03, 0x00, 0x01});
  for (int i = 0; i < 4; ++i) pulse(1);
  EXPECT_EQ(counter(1), 1);
  Write("C.Edg", {0x02, 0x00, 0x02});  // both edges
  pulse(2);
  EXPECT_EQ(counter(2), 2);
  Write("I.inv", {0x01, 0x00, 0x03});  // inverted: the input now reads 1
  EXPECT_EQ(Read("r.Cn"), (Bytes{0x00, 0x08}));
  module.SetInputsFixed(0x8, 0);  // a rising wire edge is a falling input edge: not counted
  EXPECT_EQ(counter(3), 0);
  module.SetInputsFixed(0, 0);
  EXPECT_EQ(counter(3), 1);
  Write("C.Mod", {0x00, 0x00, 0x04});  // off
  pulse(4);
  EXPECT_EQ(counter(4), 0);
}

TEST_F(SimModuleTest, PowerUpSetsCountersAndOutputs) {
  module.SetInputsFixed(1, 0);
  Write("C.Sav", {0x00});              // counters are not kept over a power cut
  Write("C.Pre", {0x64, 0x00, 0x01});  // input 2 starts at 100
  Write("O.Pon", {0x01, 0x00, 0x05});  // output 6 is on after power-up
  Write("r.oe", {0x3F, 0x00, 0x00, 0x00, 0x02});
  EXPECT_TRUE(parseResponse(Ask(true, "INIT").line, kInitHash).ok());
  EXPECT_EQ(Read("r.Cou", {0x00, 0x00}), (Bytes{0x00, 0x00, 0x00, 0x00}));
  EXPECT_EQ(Read("r.Cou", {0x00, 0x01}), (Bytes{0x00, 0x64, 0x00, 0x01}));
  EXPECT_EQ(Read("r.oe", {0x00, 0x05}), (Bytes{0x3F, 0x80, 0x00, 0x00, 0x05}));
  EXPECT_EQ(Read("r.oe", {0x00, 0x02}), (Bytes{0x00, 0x00, 0x00, 0x00, 0x02}));
  EXPECT_EQ(Read("r.oe.s"), (Bytes{0x20}));
}

TEST_F(SimModuleTest, LinkLossPutsOutputsIntoTheirSafeState) {
  Write("t.Lnk", {0x01}, 0);
  Write("O.Saf", {0x02, 0x00, 0x02}, 0);  // output 3 switches on
  Write("O.Saf", {0x01, 0x00, 0x04}, 0);  // output 5 switches off
  Write("r.oe", {0x3F, 0x80, 0x00, 0x00, 0x04}, 0);
  EXPECT_EQ(Read("r.oe", {0x00, 0x02}, 900), (Bytes{0x00, 0x00, 0x00, 0x00, 0x02}));
  EXPECT_EQ(Read("r.oe", {0x00, 0x02}, 2500), (Bytes{0x3F, 0x80, 0x00, 0x00, 0x02}));
  EXPECT_EQ(Read("r.oe", {0x00, 0x04}, 2500), (Bytes{0x00, 0x00, 0x00, 0x00, 0x04}));
}

TEST_F(SimModuleTest, OutputMaskWritesEveryOutput) {
  Write("r.oe.s", {0x81});
  EXPECT_EQ(Read("r.oe", {0x00, 0x00}), (Bytes{0x3F, 0x80, 0x00, 0x00, 0x00}));
  EXPECT_EQ(Read("r.oe", {0x00, 0x03}), (Bytes{0x00, 0x00, 0x00, 0x00, 0x03}));
  EXPECT_EQ(Read("r.oe", {0x00, 0x07}), (Bytes{0x3F, 0x80, 0x00, 0x00, 0x07}));
  EXPECT_EQ(ErrorCode(Ask(false, "r.oe.s", {0x01, 0x00})), 6);
}

TEST_F(SimModuleTest, AttributeExchangeChecksItsRequest) {
  const std::uint16_t h = hashName("CHAr");
  const auto hi = static_cast<std::uint8_t>(h >> 8);
  const auto lo = static_cast<std::uint8_t>(h & 0xFF);
  EXPECT_EQ(ErrorCode(Ask(true, "M.s.t.r.", {0x00, hi, lo})), 49);
  EXPECT_EQ(ErrorCode(Ask(true, "M.s.t.r.", {0x12, 0x34})), 40);
  // The network name keeps attributes per character.
  EXPECT_TRUE(parseResponse(Ask(false, "M.s.t.r.", {0x00, 0x00, 0x02, hi, lo}).line, kAttributesHash).ok());
  EXPECT_EQ(ErrorCode(Ask(false, "CHAr", {0x14, 0x00, 0x02})), 51);
  Write("CHAr", {0x14, 0x00, 0x01});
  EXPECT_EQ(ErrorCode(Ask(false, "CHAr", {0x50, 0x00, 0x01})), 6);  // code 80 is beyond the alphabet
}

TEST_F(SimModuleTest, MemoryRoundTripsThroughItsStateText) {
  Write("I.Flt", {0x2A, 0x00, 0x04});
  ASSERT_TRUE(module.SetAttributes("P.Per", 3, 0x01));
  const std::string text = StoreToText(module.SaveState(0), module.table());
  std::string error;
  const auto again = StoreFromText(text, module.table(), &error);
  ASSERT_TRUE(again) << error;
  EXPECT_TRUE(*again == module.store());
  SimModule restarted{test::ShippedTable(), {}, FixedInputs(), again, {}, std::nullopt, 0};
  EXPECT_EQ(restarted.ValueBytes("I.Flt", 4, 0), (Bytes{0x2A}));

  const struct {
    const char* text;
    const char* error;
  } bad[] = {{"", "пустой"},
             {"something else\n", "строка 1 файла состояния: это не файл состояния kvtr-sim"},
             {"kvtr-sim state 1\nvalue I.Flt x 0A 3\n", "строка 2 файла состояния: неверное"},
             {"kvtr-sim state 1\nvalue I.Flt 1 0A 7\n", "строка 2 файла состояния: неверное"},
             {"kvtr-sim state 1\nvalue I.Flt 1 0G 3\n", "строка 2 файла состояния: неверное"},
             {"kvtr-sim state 1\nlimit 3\n", "строка 2 файла состояния: неизвестная"}};
  for (const auto& b : bad) {
    EXPECT_FALSE(StoreFromText(b.text, module.table(), &error)) << b.text;
    EXPECT_NE(error.find(b.error), std::string::npos) << error;
  }
  const auto skipped = StoreFromText("kvtr-sim state 1\nvalue GONE 0 01 3\n", module.table(), &error);
  ASSERT_TRUE(skipped);
  EXPECT_TRUE(skipped->slots().empty());
}

}  // namespace
}  // namespace kvtr::sim
