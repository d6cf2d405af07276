// kvtr-sim as a program: started by the fixture, talked to over its pseudo-terminal with plain
// termios, frames built and checked with the program's own codec.
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "integration/plain_port.h"
#include "integration/sim_fixture.h"
#include "model/my_converter.h"
#include "protocol/frame_codec.h"
#include "protocol/protocol_switch.h"
#include "protocol/serial_port.h"

namespace kvtr::test {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

std::string Request(bool read, std::string_view name, const Bytes& data = {}, int address = 16, int bits = 8) {
  return std::string(buildRequest(read, hashName(name), data, address, bits).text());
}

std::string ReadRequest(std::string_view name, const Bytes& data = {}, int address = 16) {
  return Request(true, name, data, address);
}

std::string WriteRequest(std::string_view name, const Bytes& data, int address = 16) {
  return Request(false, name, data, address);
}

Bytes DataOf(const ParsedResponse& r) { return Bytes(r.data().begin(), r.data().end()); }

// The text the program shows for an answer, decoded by the program's own conversion.
std::string AnswerText(std::string_view name, std::string_view type, const ParsedResponse& r) {
  MyConverter converter{std::string(name)};
  converter.type = std::string(type);
  std::string text;
  return converter.ConvertFromData(r.data(), text) == 1 ? text : "<undecodable>";
}

std::vector<std::string> ReadLines(const std::string& path) {
  std::ifstream file(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(file, line);) lines.push_back(line);
  return lines;
}

int CountPrefix(const std::vector<std::string>& lines, std::string_view prefix) {
  int n = 0;
  for (const std::string& l : lines) n += l.rfind(prefix, 0) == 0 ? 1 : 0;
  return n;
}

bool HasLine(const std::vector<std::string>& lines, std::string_view text) {
  for (const std::string& l : lines) {
    if (l.find(text) != std::string::npos) return true;
  }
  return false;
}

class SimTest : public SimFixture {
 protected:
  std::unique_ptr<PlainPort> OpenPort(const SimProcess& sim, int baud = 9600, int stopBits = 1, char parity = 'N') {
    auto port = std::make_unique<PlainPort>();
    std::string error;
    if (!port->Open(sim.port(), baud, stopBits, parity, error)) {
      ADD_FAILURE() << error;
      return nullptr;
    }
    return port;
  }

  // Waits until the simulator has received and dealt with `frames` frames since it started.
  static void Settle(SimProcess& sim, int frames) {
    ASSERT_EQ(sim.Control("frames " + std::to_string(frames)), "ok");
  }
};

TEST_F(SimTest, AnswersDevVerAndExit) {
  SimProcess& sim = StartSim({"--ver", "2.07"});
  ASSERT_TRUE(sim.running());
  auto port = OpenPort(sim);
  ASSERT_TRUE(port);

  const ParsedResponse dev = parseResponse(port->Transact(ReadRequest("dev")), hashName("dev"));
  ASSERT_TRUE(dev.ok());
  EXPECT_EQ(AnswerText("dev", "string", dev), "KVTR");
  const ParsedResponse ver = parseResponse(port->Transact(ReadRequest("vEr")), hashName("ver"));
  ASSERT_TRUE(ver.ok());
  EXPECT_EQ(AnswerText("ver", "string", ver), "2.07");
  const ParsedResponse exit = parseResponse(port->Transact(ReadRequest("exit")), hashName("exit"));
  ASSERT_TRUE(exit.ok());
  EXPECT_EQ(AnswerText("exit", "int", exit), "сброс по питанию");
}

TEST_F(SimTest, AnotherDeviceNameIsReported) {
  SimProcess& sim = StartSim({"--dev", "KBT-5"});
  ASSERT_TRUE(sim.running());
  auto port = OpenPort(sim);
  ASSERT_TRUE(port);
  const ParsedResponse dev = parseResponse(port->Transact(ReadRequest("dev")), hashName("dev"));
  ASSERT_TRUE(dev.ok());
  EXPECT_EQ(AnswerText("dev", "string", dev), "KBT-5");
}

TEST_F(SimTest, ReadsAnIndexedParameterWithTheIndexInTheDataOrTheAddress) {
  SimProcess& sim = StartSim();
  ASSERT_TRUE(sim.running());
  auto port = OpenPort(sim);
  ASSERT_TRUE(port);

  // I.Flt of input 6 (index 5): factory value 10, the index follows the value in the answer.
  const ParsedResponse inData = parseResponse(port->Transact(ReadRequest("I.Flt", {0x00, 0x05})), hashName("I.Flt"));
  ASSERT_TRUE(inData.ok());
  EXPECT_EQ(DataOf(inData), (Bytes{0x0A, 0x00, 0x05}));
  EXPECT_EQ(AnswerText("I.Flt", "int", inData), "10");

  // Written at index 5, read back through the address 16 + 5.
  ASSERT_TRUE(parseResponse(port->Transact(WriteRequest("I.Flt", {0x21, 0x00, 0x05})), hashName("I.Flt")).ok());
  const ParsedResponse inAddress = parseResponse(port->Transact(ReadRequest("I.Flt", {}, 21)), hashName("I.Flt"));
  ASSERT_TRUE(inAddress.ok());
  EXPECT_EQ(DataOf(inAddress), (Bytes{0x21}));
}

struct ErrorCase {
  const char* what;
  bool read;
  const char* name;
  Bytes data;
  int code;
};

TEST_F(SimTest, RefusesWhatTheModuleRefusesWithItsErrorCodes) {
  SimProcess& sim = StartSim();
  ASSERT_TRUE(sim.running());
  auto port = OpenPort(sim);
  ASSERT_TRUE(port);
  const std::vector<ErrorCase> cases = {
      {"I.Flt above its limit 250", false, "I.Flt", {0xFB, 0x00, 0x00}, 6},
      {"r.oe above 1", false, "r.oe", {0x3F, 0xC0, 0x00, 0x00, 0x01}, 6},
      {"unknown parameter", true, "ZZZZ", {}, 40},
      {"t.Ans with three bytes", false, "t.Ans", {0x00, 0x00, 0x01}, 49},
      {"read of t.Ans with data", true, "t.Ans", {0x01}, 49},
      {"I.Flt index 12 of 0..11", true, "I.Flt", {0x00, 0x0C}, 53},
      {"clb.k index 16 of 0..15", true, "clb.k", {0x00, 0x10}, 53},
      {"CHAr character 4", true, "CHAr", {0x00, 0x04}, 53},
      {"inputs cannot be written", false, "r.Cn", {0x01}, 3},
      {"C.Mod position 9 of 5", false, "C.Mod", {0x09, 0x00, 0x00}, 55},
      {"address 300 with 8-bit addressing", false, "Addr", {0x01, 0x2C}, 71},
  };
  for (const ErrorCase& c : cases) {
    const ParsedResponse r = parseResponse(port->Transact(Request(c.read, c.name, c.data)), hashName(c.name));
    EXPECT_EQ(r.status, ResponseStatus::DeviceError) << c.what;
    EXPECT_TRUE(r.hasDeviceErrorCode() && r.deviceErrorCode() == c.code) << c.what << ": code " << int(r.bytes[0]);
  }
}

TEST_F(SimTest, AttributesRefuseWritesAndTravelPerInstance) {
  SimProcess& sim = StartSim();
  ASSERT_TRUE(sim.running());
  auto port = OpenPort(sim);
  ASSERT_TRUE(port);
  const std::uint16_t hash = hashName("I.Flt");
  const auto hi = static_cast<std::uint8_t>(hash >> 8);
  const auto lo = static_cast<std::uint8_t>(hash & 0xFF);

  // Instance 2 becomes not editable, owned by the maker (attribute byte 0).
  const ParsedResponse set = parseResponse(port->Transact(WriteRequest("M.s.t.r.", {0x00, 0x00, 0x02, hi, lo})),
                                           kAttributesHash);
  ASSERT_TRUE(set.ok());
  EXPECT_EQ(DataOf(set), (Bytes{0x00, 0x00, 0x02, hi, lo}));

  const ParsedResponse refused = parseResponse(port->Transact(WriteRequest("I.Flt", {0x05, 0x00, 0x02})), hash);
  ASSERT_TRUE(refused.hasDeviceErrorCode());
  EXPECT_EQ(refused.deviceErrorCode(), 51);
  EXPECT_TRUE(parseResponse(port->Transact(WriteRequest("I.Flt", {0x05, 0x00, 0x03})), hash).ok());

  // Read without index: the attributes of a parameter without index come back in 3 bytes.
  const std::uint16_t tAns = hashName("t.Ans");
  const ParsedResponse plain = parseResponse(
      port->Transact(ReadRequest("M.s.t.r.", {static_cast<std::uint8_t>(tAns >> 8), static_cast<std::uint8_t>(tAns & 0xFF)})),
      kAttributesHash);
  ASSERT_TRUE(plain.ok());
  EXPECT_EQ(DataOf(plain), (Bytes{0x03, static_cast<std::uint8_t>(tAns >> 8), static_cast<std::uint8_t>(tAns & 0xFF)}));
  const ParsedResponse noAttributes = parseResponse(
      port->Transact(ReadRequest("M.s.t.r.", {static_cast<std::uint8_t>(hashName("r.Cn") >> 8),
                                              static_cast<std::uint8_t>(hashName("r.Cn") & 0xFF)})),
      kAttributesHash);
  ASSERT_TRUE(noAttributes.hasDeviceErrorCode());
  EXPECT_EQ(noAttributes.deviceErrorCode(), 8);
}

TEST_F(SimTest, ControlSetsAttributesAndRestoresTheFactoryMemory) {
  SimProcess& sim = StartSim();
  ASSERT_TRUE(sim.running());
  auto port = OpenPort(sim);
  ASSERT_TRUE(port);
  ASSERT_EQ(sim.Control("attr I.Flt 4 2"), "ok");  // owned by the user, not editable
  const ParsedResponse refused = parseResponse(port->Transact(WriteRequest("I.Flt", {0x05, 0x00, 0x04})), hashName("I.Flt"));
  ASSERT_TRUE(refused.hasDeviceErrorCode());
  EXPECT_EQ(refused.deviceErrorCode(), 51);
  EXPECT_EQ(sim.Control("attr I.Flt 12 3").rfind("error: ", 0), 0u);

  ASSERT_TRUE(parseResponse(port->Transact(WriteRequest("t.Ans", {0x07})), hashName("t.Ans")).ok());
  ASSERT_EQ(sim.Control("factory"), "ok");
  const ParsedResponse delay = parseResponse(port->Transact(ReadRequest("t.Ans")), hashName("t.Ans"));
  ASSERT_TRUE(delay.ok());
  EXPECT_EQ(DataOf(delay), (Bytes{0x02}));
  EXPECT_TRUE(parseResponse(port->Transact(WriteRequest("I.Flt", {0x05, 0x00, 0x04})), hashName("I.Flt")).ok());
}

TEST_F(SimTest, FramesForOtherAddressesGetNoAnswer) {
  const std::string log = ScratchPath("frames.log");
  SimProcess& sim = StartSim({"--log", log});
  ASSERT_TRUE(sim.running());
  auto port = OpenPort(sim);
  ASSERT_TRUE(port);
  // Both requests at once: the first answer to arrive must be the one for address 16.
  port->Write(ReadRequest("dev", {}, 17) + ReadRequest("dev", {}, 15) + ReadRequest("exit"));
  const ParsedResponse r = parseResponse(port->ReadUntil('\r', 5s), hashName("exit"));
  EXPECT_TRUE(r.ok());
  Settle(sim, 3);
  const auto lines = ReadLines(log);
  EXPECT_EQ(CountPrefix(lines, "RX "), 3);
  EXPECT_EQ(CountPrefix(lines, "TX "), 1);
  EXPECT_TRUE(HasLine(lines, "-- для адреса 17"));
  EXPECT_TRUE(HasLine(lines, "-- для адреса 15"));
}

TEST_F(SimTest, ElevenBitAddressing) {
  const std::string log = ScratchPath("frames.log");
  SimProcess& sim = StartSim({"--address", "1000", "--address-length", "11", "--log", log});
  ASSERT_TRUE(sim.running());
  auto port = OpenPort(sim);
  ASSERT_TRUE(port);
  const std::string answer = port->Transact(Request(true, "dev", {}, 1000, 11));
  const ParsedResponse r = parseResponse(answer, hashName("dev"));
  ASSERT_TRUE(r.ok());
  // Address bits 10..3 in the first byte, 2..0 at the top of the control byte: 1000 = 125 x 8.
  EXPECT_EQ(r.address, 125);
  EXPECT_EQ(r.control >> 5, 0);
  // The same address in 8-bit form is another frame altogether.
  port->Write(Request(true, "dev", {}, 1000 & 0xFF, 8));
  Settle(sim, 2);
  EXPECT_EQ(CountPrefix(ReadLines(log), "TX "), 1);
}

TEST_F(SimTest, HearsOnlyTheLineSettingsAPseudoTerminalShows) {
  const std::string log = ScratchPath("frames.log");
  SimProcess& sim = StartSim({"--baud", "19200", "--parity", "odd", "--log", log});
  ASSERT_TRUE(sim.running());
  auto port = OpenPort(sim, 9600, 1, 'O');
  ASSERT_TRUE(port);
  port->Write(ReadRequest("dev"));
  Settle(sim, 1);
  ASSERT_TRUE(port->Configure(19200, 2, 'O'));
  port->Write(ReadRequest("dev"));
  Settle(sim, 2);
  ASSERT_TRUE(port->Configure(19200, 1, 'N'));
  port->Write(ReadRequest("dev"));
  Settle(sim, 3);
  auto lines = ReadLines(log);
  EXPECT_EQ(CountPrefix(lines, "RX "), 3);
  EXPECT_EQ(CountPrefix(lines, "-- не услышан"), 3);
  EXPECT_EQ(CountPrefix(lines, "TX "), 0);

  ASSERT_TRUE(port->Configure(19200, 1, 'O'));
  EXPECT_TRUE(parseResponse(port->Transact(ReadRequest("dev")), hashName("dev")).ok());
}

TEST_F(SimTest, TheProgramsPortFindsTheModuleBySpeed) {
  // 28800 is one of the speeds outside the classic termios table.
  SimProcess& sim = StartSim({"--baud", "28800", "--stop-bits", "2"});
  ASSERT_TRUE(sim.running());
  SerialPort port;
  port.settings().portName = sim.port();
  port.settings().stopBits = 2;
  const std::string request = ReadRequest("dev");
  int found = 0;
  for (const int baud : {2400, 4800, 9600, 14400, 19200, 28800, 38400, 57600, 115200}) {
    port.settings().baudRate = baud;
    ASSERT_EQ(port.open(), serial::kOpened) << baud;
    char answer[serial::kResponseCapacity];
    int received = 0;
    const int result = port.exchange(std::span(reinterpret_cast<const std::uint8_t*>(request.data()), request.size()),
                                     answer, received);
    if (result == serial::kReceived && parseResponse(std::string_view(answer, received), hashName("dev")).ok()) {
      found = baud;
      break;
    }
    EXPECT_EQ(result, serial::kTimedOut) << baud;
  }
  EXPECT_EQ(found, 28800);
}

TEST_F(SimTest, EvenParityCannotBeToldFromNone) {
  SimProcess& sim = StartSim({"--parity", "even"});
  ASSERT_TRUE(sim.running());
  auto port = OpenPort(sim, 9600, 1, 'N');
  ASSERT_TRUE(port);
  EXPECT_TRUE(parseResponse(port->Transact(ReadRequest("dev")), hashName("dev")).ok());
}

TEST_F(SimTest, AplySwitchesToTheNetworkSettingsWrittenBefore) {
  const std::string log = ScratchPath("frames.log");
  SimProcess& sim = StartSim({"--log", log});
  ASSERT_TRUE(sim.running());
  auto port = OpenPort(sim);
  ASSERT_TRUE(port);
  // bPS position 4 is 19200; Addr 21. Both are only kept until APLY.
  ASSERT_TRUE(parseResponse(port->Transact(WriteRequest("bPS", {0x04})), hashName("bPS")).ok());
  ASSERT_TRUE(parseResponse(port->Transact(WriteRequest("Addr", {0x00, 0x15})), hashName("Addr")).ok());
  const ParsedResponse bps = parseResponse(port->Transact(ReadRequest("bPS")), hashName("bPS"));
  ASSERT_TRUE(bps.ok());
  EXPECT_EQ(AnswerText("bPS", "int", bps), "19200");

  // APLY is acknowledged at the old settings.
  EXPECT_TRUE(parseResponse(port->Transact(WriteRequest("APLY", {})), kApplyHash).ok());
  port->Write(ReadRequest("dev", {}, 21));
  Settle(sim, 5);
  EXPECT_TRUE(HasLine(ReadLines(log), "-- не услышан"));

  ASSERT_TRUE(port->Configure(19200, 1, 'N'));
  EXPECT_TRUE(parseResponse(port->Transact(ReadRequest("dev", {}, 21)), hashName("dev")).ok());
  port->Write(ReadRequest("dev", {}, 16));
  Settle(sim, 7);
  EXPECT_TRUE(HasLine(ReadLines(log), "-- для адреса 16"));
}

TEST_F(SimTest, ForeignProtocolAnswersOnlyItsSwitchCommand) {
  const struct {
    const char* option;
    ProtocolMode mode;
  } protocols[] = {{"rtu", ProtocolMode::ModbusRtu},
                   {"ascii", ProtocolMode::ModbusAscii},
                   {"percent", ProtocolMode::PercentCommand}};
  for (const auto& p : protocols) {
    SCOPED_TRACE(p.option);
    const std::string log = ScratchPath(std::string(p.option) + ".log");
    SimProcess& sim = StartSim({"--protocol", p.option, "--log", log});
    ASSERT_TRUE(sim.running());
    auto port = OpenPort(sim);
    ASSERT_TRUE(port);
    std::uint8_t request[kMaxSwitchRequest];
    const std::size_t length = buildSwitchRequest(p.mode, 16, protocolSwitchPayload(p.mode), request);
    ASSERT_GT(length, 0u);
    // A device-protocol request first: were it answered, its answer would come first.
    port->Write(ReadRequest("dev") + std::string(reinterpret_cast<const char*>(request), length));
    // Modbus RTU answers end in silence, and the echo is as long as the request; the others
    // end at their line end.
    const std::string answer = p.mode == ProtocolMode::ModbusRtu
                                   ? port->ReadBytes(length, 2s)
                                   : port->ReadUntil(p.mode == ProtocolMode::ModbusAscii ? '\n' : '\r', 2s);
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(answer.data());
    EXPECT_EQ(checkSwitchAnswer(p.mode, 16, protocolSwitchPayload(p.mode), std::span(bytes, answer.size())),
              kLinkOk);
    EXPECT_TRUE(parseResponse(port->Transact(ReadRequest("dev")), hashName("dev")).ok());
    EXPECT_EQ(sim.Stop(), 0);
    EXPECT_EQ(CountPrefix(ReadLines(log), "TX "), 2);
  }
}

TEST_F(SimTest, FaultOptionsSpoilAnswersAsNamed) {
  const struct {
    const char* option;
    ResponseStatus status;
  } faults[] = {{"--bad-crc-every", ResponseStatus::CrcError},
                {"--lost-start-every", ResponseStatus::LostFrameStart},
                {"--other-hash-every", ResponseStatus::OtherHash}};
  for (const auto& f : faults) {
    SCOPED_TRACE(f.option);
    SimProcess& sim = StartSim({f.option, "2"});
    ASSERT_TRUE(sim.running());
    auto port = OpenPort(sim);
    ASSERT_TRUE(port);
    EXPECT_TRUE(parseResponse(port->Transact(ReadRequest("dev")), hashName("dev")).ok());
    EXPECT_EQ(parseResponse(port->Transact(ReadRequest("dev")), hashName("dev")).status, f.status);
    EXPECT_TRUE(parseResponse(port->Transact(ReadRequest("dev")), hashName("dev")).ok());
    sim.Stop();
  }
}

TEST_F(SimTest, DroppedAndLateAnswersAndControlCommands) {
  const std::string log = ScratchPath("frames.log");
  SimProcess& sim = StartSim({"--drop-first", "2", "--log", log});
  ASSERT_TRUE(sim.running());
  auto port = OpenPort(sim);
  ASSERT_TRUE(port);
  port->Write(ReadRequest("dev") + ReadRequest("exit") + ReadRequest("vEr"));
  EXPECT_TRUE(parseResponse(port->ReadUntil('\r', 5s), hashName("ver")).ok());
  Settle(sim, 3);
  EXPECT_EQ(CountPrefix(ReadLines(log), "-- сбой: drop"), 2);

  // A late answer arrives after the caller has given up on it.
  ASSERT_EQ(sim.Control("fault late first 1"), "ok");
  ASSERT_EQ(sim.Control("late-ms 300"), "ok");
  port->Write(ReadRequest("dev"));
  EXPECT_TRUE(parseResponse(port->ReadUntil('\r', 5s), hashName("dev")).ok());
  EXPECT_TRUE(HasLine(ReadLines(log), "-- сбой: late"));

  // Byte by byte, or at the pace of the wire, the answer is still whole.
  ASSERT_EQ(sim.Control("slow 2"), "ok");
  EXPECT_TRUE(parseResponse(port->Transact(ReadRequest("dev")), hashName("dev")).ok());
  ASSERT_EQ(sim.Control("slow 0"), "ok");
  ASSERT_EQ(sim.Control("wire-time on"), "ok");
  EXPECT_TRUE(parseResponse(port->Transact(ReadRequest("dev")), hashName("dev")).ok());
  EXPECT_EQ(sim.Control("fault nonsense every 1").rfind("error: ", 0), 0u);
}

TEST_F(SimTest, GarbageIsRepeatableWithTheSameSeed) {
  std::vector<std::string> runs[2];
  for (auto& answers : runs) {
    SimProcess& sim = StartSim({"--garbage-probability", "0.5", "--seed", "7"});
    ASSERT_TRUE(sim.running());
    auto port = OpenPort(sim);
    ASSERT_TRUE(port);
    for (int i = 0; i < 8; ++i) answers.push_back(port->Transact(ReadRequest("dev")));
    sim.Stop();
  }
  EXPECT_EQ(runs[0], runs[1]);
  int spoilt = 0;
  for (const std::string& a : runs[0]) spoilt += parseResponse(a, hashName("dev")).ok() ? 0 : 1;
  EXPECT_GT(spoilt, 0);
  EXPECT_LT(spoilt, 8);
}

TEST_F(SimTest, StateIsKeptBetweenRuns) {
  const std::string state = ScratchPath("module.state");
  {
    SimProcess& sim = StartSim({"--state", state});
    ASSERT_TRUE(sim.running());
    auto port = OpenPort(sim);
    ASSERT_TRUE(port);
    ASSERT_TRUE(parseResponse(port->Transact(WriteRequest("I.Flt", {0x2A, 0x00, 0x01})), hashName("I.Flt")).ok());
    // Written at once: the file already holds the value while the module runs.
    bool found = false;
    for (const std::string& l : ReadLines(state)) found = found || l == "value I.Flt 1 2A 3";
    EXPECT_TRUE(found);
    EXPECT_EQ(sim.Stop(), 0);
  }
  SimProcess& again = StartSim({"--state", state});
  ASSERT_TRUE(again.running());
  auto port = OpenPort(again);
  ASSERT_TRUE(port);
  const ParsedResponse r = parseResponse(port->Transact(ReadRequest("I.Flt", {0x00, 0x01})), hashName("I.Flt"));
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(DataOf(r), (Bytes{0x2A, 0x00, 0x01}));
}

TEST_F(SimTest, StateKeepsNetworkSettingsAndCommandLineOverridesThem) {
  const std::string state = ScratchPath("module.state");
  {
    SimProcess& sim = StartSim({"--state", state, "--baud", "38400"});
    ASSERT_TRUE(sim.running());
    EXPECT_EQ(sim.Stop(), 0);
  }
  SimProcess& kept = StartSim({"--state", state});
  ASSERT_TRUE(kept.running());
  auto port = OpenPort(kept, 38400);
  ASSERT_TRUE(port);
  EXPECT_TRUE(parseResponse(port->Transact(ReadRequest("dev")), hashName("dev")).ok());
  port.reset();
  kept.Stop();
  SimProcess& overridden = StartSim({"--state", state, "--baud", "9600"});
  ASSERT_TRUE(overridden.running());
  port = OpenPort(overridden, 9600);
  ASSERT_TRUE(port);
  EXPECT_TRUE(parseResponse(port->Transact(ReadRequest("dev")), hashName("dev")).ok());
}

TEST_F(SimTest, LogHasOneLinePerFrame) {
  const std::string log = ScratchPath("frames.log");
  SimProcess& sim = StartSim({"--log", log});
  ASSERT_TRUE(sim.running());
  auto port = OpenPort(sim);
  ASSERT_TRUE(port);
  const std::string request = ReadRequest("dev");
  const std::string answer = port->Transact(request);
  ASSERT_TRUE(parseResponse(answer, hashName("dev")).ok());
  port->Transact(ReadRequest("ZZZZ"));
  Settle(sim, 2);
  const auto lines = ReadLines(log);
  EXPECT_EQ(CountPrefix(lines, "RX "), 2);
  EXPECT_EQ(CountPrefix(lines, "TX "), 2);
  // The frame text without its carriage return.
  EXPECT_TRUE(HasLine(lines, "RX " + request.substr(0, request.size() - 1)));
  EXPECT_TRUE(HasLine(lines, "TX " + answer.substr(0, answer.size() - 1)));
}

TEST_F(SimTest, CountersCountInputEdges) {
  SimProcess& sim = StartSim({"--inputs", "0"});
  ASSERT_TRUE(sim.running());
  auto port = OpenPort(sim);
  ASSERT_TRUE(port);
  auto counter = [&](int k) {
    const ParsedResponse r = parseResponse(
        port->Transact(ReadRequest("r.Cou", {0x00, static_cast<std::uint8_t>(k)})), hashName("r.Cou"));
    return r.ok() ? AnswerText("r.Cou", "int", r) : "<failed>";
  };
  // Counters count rising edges by default.
  ASSERT_EQ(sim.Control("inputs 0x5"), "ok");
  ASSERT_EQ(sim.Control("inputs 0x4"), "ok");
  ASSERT_EQ(sim.Control("inputs 0x5"), "ok");
  EXPECT_EQ(counter(0), "2");
  EXPECT_EQ(counter(1), "0");
  EXPECT_EQ(counter(2), "1");
  const ParsedResponse inputs = parseResponse(port->Transact(ReadRequest("r.Cn")), hashName("r.Cn"));
  ASSERT_TRUE(inputs.ok());
  EXPECT_EQ(AnswerText("r.Cn", "int", inputs), "5");

  // Reset from the program, then the waves run: the counter of input 1 moves on by itself.
  ASSERT_TRUE(parseResponse(port->Transact(WriteRequest("r.Cou", {0x00, 0x00, 0x00})), hashName("r.Cou")).ok());
  EXPECT_EQ(counter(0), "0");
  ASSERT_EQ(sim.Control("inputs auto"), "ok");
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  std::string value = counter(0);
  while (value == "0" && std::chrono::steady_clock::now() < deadline) {
    port->ReadUntil('\r', 100ms);  // nothing comes: this only paces the polling
    value = counter(0);
  }
  EXPECT_NE(value, "0");
}

TEST_F(SimTest, OutputsKeepWhatIsWritten) {
  SimProcess& sim = StartSim();
  ASSERT_TRUE(sim.running());
  auto port = OpenPort(sim);
  ASSERT_TRUE(port);
  // 0.5 is 3F 00 00 in the upper three bytes of a single.
  ASSERT_TRUE(parseResponse(port->Transact(WriteRequest("r.oe", {0x3F, 0x00, 0x00, 0x00, 0x03})), hashName("r.oe")).ok());
  const ParsedResponse out = parseResponse(port->Transact(ReadRequest("r.oe", {0x00, 0x03})), hashName("r.oe"));
  ASSERT_TRUE(out.ok());
  EXPECT_EQ(AnswerText("r.oe", "float", out), "0.500");
  const ParsedResponse mask = parseResponse(port->Transact(ReadRequest("r.oe.s")), hashName("r.oe.s"));
  ASSERT_TRUE(mask.ok());
  EXPECT_EQ(AnswerText("r.oe.s", "int", mask), "8");
}

TEST_F(SimTest, NetworkNameTravelsAsFourCodes) {
  SimProcess& sim = StartSim();
  ASSERT_TRUE(sim.running());
  auto port = OpenPort(sim);
  ASSERT_TRUE(port);
  // AB.C as the codes 20, 23, 24, 78 at indexes 0..3.
  const Bytes codes = {20, 23, 24, 78};
  for (std::uint8_t i = 0; i < 4; ++i) {
    const ParsedResponse r =
        parseResponse(port->Transact(WriteRequest("CHAr", {codes[i], 0x00, i})), kNameCharHash);
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(DataOf(r), (Bytes{codes[i], 0x00, i}));
  }
  const ParsedResponse whole = parseResponse(port->Transact(ReadRequest("CHAr*")), kNameCharHash);
  ASSERT_TRUE(whole.ok());
  EXPECT_EQ(AnswerText("CHAr*", "name", whole), "AB.C ");
}

TEST_F(SimTest, InitRestartsTheModule) {
  SimProcess& sim = StartSim();
  ASSERT_TRUE(sim.running());
  auto port = OpenPort(sim);
  ASSERT_TRUE(port);
  // INIT is sent as a read without data and acknowledged.
  EXPECT_TRUE(parseResponse(port->Transact(ReadRequest("INIT")), kInitHash).ok());
  const ParsedResponse exit = parseResponse(port->Transact(ReadRequest("exit")), hashName("exit"));
  ASSERT_TRUE(exit.ok());
  EXPECT_EQ(AnswerText("exit", "int", exit), "внешний сброс");
}

TEST_F(SimTest, LinkFollowsTheSlaveAndGoesAtExit) {
  const std::string link = ScratchPath("ttyKVTR");
  SimProcess& sim = StartSim({"--link", link});
  ASSERT_TRUE(sim.running());
  EXPECT_EQ(std::filesystem::read_symlink(link).string(), sim.port());
  auto port = std::make_unique<PlainPort>();
  std::string error;
  ASSERT_TRUE(port->Open(link, 9600, 1, 'N', error)) << error;
  EXPECT_TRUE(parseResponse(port->Transact(ReadRequest("dev")), hashName("dev")).ok());
  EXPECT_EQ(sim.Stop(), 0);
  EXPECT_FALSE(std::filesystem::is_symlink(link));
}

TEST_F(SimTest, BadOptionsAreRefusedWithUsageStatus) {
  SimProcess sim;
  std::string error;
  EXPECT_FALSE(sim.Start({"--baud", "12345"}, &error));
  EXPECT_NE(error.find("--baud"), std::string::npos) << error;
}

}  // namespace
}  // namespace kvtr::test
