// The device link against the simulated module over a real pseudo-terminal: every value type,
// the attribute exchange, the module's error replies, the retries and the link status, the
// network name, 11-bit addressing, the foreign protocols, line settings, the stop event and
// noise on the line.
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "integration/sim_fixture.h"
#include "model/parameter.h"
#include "protocol/device_link.h"
#include "protocol/frame_codec.h"
#include "protocol/protocol_switch.h"

namespace kvtr::test {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

// A request the simulator logged ("RX #...").
struct LoggedFrame {
  int address = 0;
  bool read = false;
  std::uint16_t hash = 0;
  Bytes data;
};

std::vector<LoggedFrame> ReceivedFrames(const std::string& log) {
  std::vector<LoggedFrame> frames;
  std::ifstream file(log);
  for (std::string line; std::getline(file, line);) {
    if (line.rfind("RX #", 0) != 0) continue;
    const std::string_view chars = std::string_view(line).substr(4);
    Bytes b(chars.size() / 2);
    if (b.size() < 6 || !decodeTetrads(chars, b)) continue;
    LoggedFrame f;
    f.address = b[0];
    f.read = (b[1] & 0x10) != 0;
    f.hash = static_cast<std::uint16_t>(b[2] << 8 | b[3]);
    const std::size_t n = b[1] & 0x0F;
    if (4 + n <= b.size()) f.data.assign(b.begin() + 4, b.begin() + 4 + static_cast<long>(n));
    frames.push_back(f);
  }
  return frames;
}

int CountHash(const std::vector<LoggedFrame>& frames, std::uint16_t hash) {
  int n = 0;
  for (const auto& f : frames) n += f.hash == hash ? 1 : 0;
  return n;
}

struct LineSettings {
  int baud = 9600;
  int dataBits = 8;
  const char* parity = "Отсутствует";
  int stopBits = 1;
  int address = 16;
  int addressLength = 8;
};

class LinkOverSim : public SimFixture {
 protected:
  // A link with its own state, set to the given port and line settings and opened.
  std::unique_ptr<DeviceLink> Connect(const std::string& port, const LineSettings& line = {}) {
    DeviceLinkOptions options;
    options.state = &state;
    options.portChoices = port;
    auto link = std::make_unique<DeviceLink>(options);
    NetRS485prg& node = link->programPortNode();
    node.SetValueByName("Port", port);
    node.SetValueByName("bPS", std::to_string(line.baud));
    node.SetValueByName("LEn", std::to_string(line.dataBits));
    node.SetValueByName("PrtY", line.parity);
    node.SetValueByName("Sbit", std::to_string(line.stopBits));
    node.SetValueByName("Addr", std::to_string(line.address));
    node.SetValueByName("A.Len", std::to_string(line.addressLength));
    link->serialPort().settings().automaticConverter = 1;
    EXPECT_EQ(link->OpenLink(false), 0) << port;
    return link;
  }

  // The simulator with a frame log, and a link to it.
  std::unique_ptr<DeviceLink> StartAndConnect(std::vector<std::string> options = {}, const LineSettings& line = {}) {
    log = ScratchPath("frames.log");
    options.push_back("--log");
    options.push_back(log);
    sim = &StartSim(options);
    if (!sim->running()) return nullptr;
    return Connect(sim->port(), line);
  }

  void Settle(int frames) { ASSERT_EQ(sim->Control("frames " + std::to_string(frames)), "ok"); }

  LinkState state;
  SimProcess* sim = nullptr;
  std::string log;
};

std::unique_ptr<Parameter> MakeParameter(const std::string& name, const std::string& type, int index = -1) {
  auto p = std::make_unique<Parameter>(name, type, "test");
  if (index >= 0) {
    p->hasIndex = 1;
    p->index = index;
  }
  return p;
}

// ------------------------------------------------------------------ values

TEST_F(LinkOverSim, EveryValueTypeIsWrittenAndReadBack) {
  auto link = StartAndConnect();
  ASSERT_TRUE(link);
  const struct {
    const char* name;
    const char* type;
    int index;
    const char* written;
    const char* readBack;
  } rows[] = {
      {"I.Flt", "int", 3, "25", "25"},
      {"C.Pre", "int", 5, "40000", "40000"},
      {"t.Ans", "int", -1, "7", "7"},
      {"P.Lo", "float", 2, "12.5", "12.500"},
      {"t.Lnk", "CLK_frm", -1, "01:30", "01:30"},
      {"C.Mod", "Выключен:Суммирование:Вычитание:Суммирование_с_автосбросом:<hide>Служебный", 4, "Вычитание",
       "Вычитание"},
      {"C.Sav", "Нет:Да", -1, "Нет", "Нет"},
      {"CHAr*", "name", 0, "K-1.2", "K-1.2"},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    auto w = MakeParameter(r.name, r.type, r.index);
    ASSERT_TRUE(w->SetValueFromText(r.written));
    ASSERT_EQ(link->Transact(false, w.get()), kTransactOk) << w->comment;
    EXPECT_EQ(w->valueChanged, 0);
    auto back = MakeParameter(r.name, r.type, r.index);
    ASSERT_EQ(link->Transact(true, back.get()), kTransactOk) << back->comment;
    EXPECT_EQ(back->value, r.readBack);
  }
  // Strings and the module's own decodings.
  auto dev = MakeParameter("dev", "string");
  ASSERT_EQ(link->Transact(true, dev.get()), kTransactOk);
  EXPECT_EQ(dev->value, "KVTR");
  // An index in the address: instance 2 at base address + 2, nothing in the data field.
  auto viaAddress = MakeParameter("I.Flt", "int");
  viaAddress->addressOffset = 3;
  ASSERT_EQ(link->Transact(true, viaAddress.get()), kTransactOk) << viaAddress->comment;
  EXPECT_EQ(viaAddress->value, "25");
  // Seven values written and read, the name in four characters each way, "dev", the last read.
  Settle(7 * 2 + 8 + 2);
  const auto frames = ReceivedFrames(log);
  EXPECT_EQ(frames.back().address, 19);
  EXPECT_TRUE(frames.back().data.empty());
}

TEST_F(LinkOverSim, NetworkNameTravelsAsFourIndexedCodes) {
  auto link = StartAndConnect();
  ASSERT_TRUE(link);
  auto name = MakeParameter("CHAr*", "name");
  name->value = "AB.C";
  ASSERT_EQ(link->Transact(false, name.get()), kTransactOk) << name->comment;
  EXPECT_EQ(name->value, "AB.C ");
  // Each character goes with its attribute exchange (the name's attributes, written).
  Settle(8);
  const auto frames = ReceivedFrames(log);
  ASSERT_EQ(frames.size(), 8u);
  const int codes[] = {20, 23, 24, 78};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(frames[2 * i].hash, kAttributesHash);
    EXPECT_EQ(frames[2 * i].data, (Bytes{3, 0, std::uint8_t(i), 0x36, 0x28}));
    EXPECT_EQ(frames[2 * i + 1].hash, kNameCharHash);
    EXPECT_FALSE(frames[2 * i + 1].read);
    EXPECT_EQ(frames[2 * i + 1].data, (Bytes{std::uint8_t(codes[i]), 0, std::uint8_t(i)}));
  }
  auto back = MakeParameter("CHAr*", "name");
  ASSERT_EQ(link->Transact(true, back.get()), kTransactOk) << back->comment;
  EXPECT_EQ(back->value, "AB.C ");
  for (int i = 0; i < 4; ++i) {
    auto code = MakeParameter("CHAr", "int", i);
    ASSERT_EQ(link->Transact(true, code.get()), kTransactOk);
    EXPECT_EQ(code->value, std::to_string(codes[i]));
  }
}

TEST_F(LinkOverSim, ANetworkNameNotExchangedWholeIsNotTaken) {
  auto link = StartAndConnect();
  ASSERT_TRUE(link);
  auto name = MakeParameter("CHAr*", "name");
  name->value = "AB12";
  ASSERT_EQ(link->Transact(false, name.get()), kTransactOk) << name->comment;
  // An answer for another parameter in place of the N-th answer of the name's exchanges: a read
  // has one per character, a write an attribute exchange and the character.
  const struct {
    bool read;
    int spoilt;  // the answer that goes wrong
    int result;
  } rows[] = {{true, 2, kTransactExchangeFailed},
              {true, 3, kTransactExchangeFailed},
              {true, 4, kTransactExchangeFailed},
              {false, 4, kTransactExchangeFailed},
              {false, 7, kTransactAttributesFailed}};
  for (const auto& r : rows) {
    SCOPED_TRACE(::testing::Message() << (r.read ? "read" : "write") << ", answer " << r.spoilt);
    ASSERT_EQ(sim->Control("fault other-hash every " + std::to_string(r.spoilt)), "ok");
    auto p = MakeParameter("CHAr*", "name");
    p->value = r.read ? "было" : "XY34";
    p->valueChanged = 1;
    EXPECT_EQ(link->Transact(r.read, p.get()), r.result);
    EXPECT_EQ(p->comment, "Пришла посылка с кодом команды, отличным от посланной и от n.Err.\n");
    EXPECT_EQ(p->value, r.read ? "было" : "XY34") << "no part of a name";
    EXPECT_EQ(p->valueChanged, 1);
    ASSERT_EQ(sim->Control("faults off"), "ok");
    // What a write left part-way is the module's business; the name is put back for the next row.
    ASSERT_EQ(link->Transact(false, name.get()), kTransactOk) << name->comment;
  }
}

// ------------------------------------------------------------------ attributes

TEST_F(LinkOverSim, AttributesTravelBeforeValuesUnlessSuppressedOrPolled) {
  auto link = StartAndConnect();
  ASSERT_TRUE(link);
  // Instance 2 becomes not editable and the maker's; the module then refuses the value that
  // follows in the same transaction.
  auto p = MakeParameter("I.Flt", "int", 2);
  p->attributeMode = 1;
  p->editable = 0;
  p->ownerFirm = 1;
  p->value = "30";
  EXPECT_EQ(link->Transact(false, p.get()), kTransactExchangeFailed);
  EXPECT_EQ(p->comment, "Редактирование параметра запрещено атрибутами доступа");
  EXPECT_EQ(p->editable, 0);
  EXPECT_EQ(p->ownerFirm, 1);
  EXPECT_EQ(state.linkStatus.load(), link_status::kDeviceErrorReply);

  // A read fetches the attributes; forcing gives the parameter back to the user.
  auto read = MakeParameter("I.Flt", "int", 2);
  read->attributeMode = 1;
  ASSERT_EQ(link->Transact(true, read.get()), kTransactOk) << read->comment;
  EXPECT_EQ(read->editable, 0);
  EXPECT_EQ(read->ownerFirm, 1);
  EXPECT_EQ(read->value, "10");
  read->value = "32";
  ASSERT_EQ(link->Transact(false, read.get(), nullptr, true), kTransactOk) << read->comment;
  EXPECT_EQ(read->editable, 1);
  EXPECT_EQ(read->ownerFirm, 0);
  EXPECT_EQ(read->value, "32");
  Settle(6);
  EXPECT_EQ(CountHash(ReceivedFrames(log), kAttributesHash), 3);

  // None with the mode on, none for a polled parameter, none without attributes.
  struct Hook : ScanTimerHook {};
  link->setAttributesSuppressed(true);
  auto suppressed = MakeParameter("I.Flt", "int", 1);
  suppressed->attributeMode = 1;
  ASSERT_EQ(link->Transact(true, suppressed.get()), kTransactOk);
  link->setAttributesSuppressed(false);
  auto polled = MakeParameter("I.Flt", "int", 1);
  polled->attributeMode = 1;
  polled->scanTimer = std::make_unique<Hook>();
  ASSERT_EQ(link->Transact(true, polled.get()), kTransactOk);
  auto plain = MakeParameter("r.Cn", "int");
  ASSERT_EQ(link->Transact(true, plain.get()), kTransactOk);
  Settle(9);
  EXPECT_EQ(CountHash(ReceivedFrames(log), kAttributesHash), 3);
}

// ------------------------------------------------------------------ module errors

TEST_F(LinkOverSim, EachErrorReplyOfTheModuleGivesItsText) {
  auto link = StartAndConnect();
  ASSERT_TRUE(link);
  const struct {
    const char* what;
    bool read;
    const char* name;
    const char* type;
    int index;
    const char* value;
    int result;
    const char* comment;
  } rows[] = {
      {"beyond the limit", false, "I.Flt", "int", 0, "251", kTransactExchangeFailed,
       "Значение мантиссы превышает ограничения дескриптора"},
      {"unknown parameter", true, "ZZZZ", "int", -1, "", kTransactExchangeFailed, "Не найден дескриптор"},
      {"index beyond the instances", true, "I.Flt", "int", 12, "", kTransactExchangeFailed,
       "Индекс параметра превышает ограничитель индекса"},
      {"inputs are read-only", false, "r.Cn", "int", -1, "1", kTransactExchangeFailed,
       "Попытка модификации ROM-параметра"},
      {"data size", true, "t.Ans", "int", 0, "", kTransactExchangeFailed,
       "Размер поля данных не соответствует ожидаемому"},
      {"value not in the list", false, "C.Mod", "A:B:C:D:E:F:G:H:I:J", 0, "J", kTransactExchangeFailed,
       "Данный код не используется (прибор отверг записываемое значение)"},
      {"attributes of a parameter without them", true, "r.Cn", "int", -1, "", kTransactAttributesFailed,
       "У запрошенного параметра отсутствуют признаки"},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.what);
    state.linkStatus = 0;
    auto p = MakeParameter(r.name, r.type, r.index);
    p->value = r.value;
    if (r.result == kTransactAttributesFailed) p->attributeMode = 1;
    EXPECT_EQ(link->Transact(r.read, p.get()), r.result);
    EXPECT_EQ(p->comment, r.comment);
    EXPECT_EQ(state.linkStatus.load(), link_status::kDeviceErrorReply);
  }
}

// ------------------------------------------------------------------ retries and faults

TEST_F(LinkOverSim, FourTimeOutsGiveUpAndAnAnswerOnTheFourthSendSucceeds) {
  auto link = StartAndConnect({"--drop-first", "3"});
  ASSERT_TRUE(link);
  auto p = MakeParameter("dev", "string");
  ASSERT_EQ(link->Transact(true, p.get()), kTransactOk) << p->comment;
  EXPECT_EQ(p->value, "KVTR");
  Settle(4);
  EXPECT_EQ(ReceivedFrames(log).size(), 4u);
  EXPECT_EQ(state.linkStatus.load(), 0u);

  ASSERT_EQ(sim->Control("fault drop first 4"), "ok");
  EXPECT_EQ(link->Transact(true, p.get()), kTransactExchangeFailed);
  EXPECT_EQ(p->comment, "Таймаут при передаче данных (нет связи)");
  EXPECT_EQ(state.linkStatus.load(), link_status::kNoAnswer);
  Settle(8);
  EXPECT_EQ(ReceivedFrames(log).size(), 8u);
}

TEST_F(LinkOverSim, LostFrameStartsBadCrcAndAnswersForAnotherParameter) {
  auto link = StartAndConnect();
  ASSERT_TRUE(link);
  auto p = MakeParameter("dev", "string");
  ASSERT_EQ(sim->Control("fault lost-start first 2"), "ok");
  ASSERT_EQ(link->Transact(true, p.get()), kTransactOk) << p->comment;
  ASSERT_EQ(sim->Control("fault lost-start first 16"), "ok");
  EXPECT_EQ(link->Transact(true, p.get()), kTransactExchangeFailed);
  EXPECT_EQ(p->comment, "Потеря начала посылки.");
  EXPECT_EQ(state.linkStatus.load(), link_status::kLineErrors);
  Settle(3 + 16);

  state.linkStatus = 0;
  ASSERT_EQ(sim->Control("fault bad-crc first 1"), "ok");
  EXPECT_EQ(link->Transact(true, p.get()), kTransactExchangeFailed);
  EXPECT_EQ(p->comment, "Ошибка в контрольной сумме ответа");
  ASSERT_EQ(sim->Control("fault other-hash first 1"), "ok");
  EXPECT_EQ(link->Transact(true, p.get()), kTransactExchangeFailed);
  EXPECT_EQ(p->comment, "Пришла посылка с кодом команды, отличным от посланной и от n.Err.\n");
  // Neither is retried, and neither sets a flag.
  Settle(3 + 16 + 2);
  EXPECT_EQ(ReceivedFrames(log).size(), 3u + 16u + 2u);
  EXPECT_EQ(state.linkStatus.load(), 0u);
}

TEST_F(LinkOverSim, ApplyGoesOutOnceAnsweredOrNot) {
  auto link = StartAndConnect();
  ASSERT_TRUE(link);
  Parameter apply("APLY");
  apply.value.clear();
  ASSERT_EQ(link->Transact(false, &apply), kTransactOk) << apply.comment;
  ASSERT_EQ(sim->Control("fault drop first 1"), "ok");
  ASSERT_EQ(link->Transact(false, &apply), kTransactOk) << apply.comment;
  Settle(2);
  EXPECT_EQ(CountHash(ReceivedFrames(log), kApplyHash), 2);
  // The module still listens at the same settings (nothing was changed before APLY).
  auto dev = MakeParameter("dev", "string");
  EXPECT_EQ(link->Transact(true, dev.get()), kTransactOk) << dev->comment;
}

// ------------------------------------------------------------------ addressing and line settings

TEST_F(LinkOverSim, ElevenBitAddressing) {
  LineSettings line;
  line.address = 1000;
  line.addressLength = 11;
  auto link = StartAndConnect({"--address", "1000", "--address-length", "11"}, line);
  ASSERT_TRUE(link);
  auto dev = MakeParameter("dev", "string");
  ASSERT_EQ(link->Transact(true, dev.get()), kTransactOk) << dev->comment;
  EXPECT_EQ(dev->value, "KVTR");
  Settle(1);
  EXPECT_EQ(ReceivedFrames(log)[0].address, 125);  // bits 10..3 of 1000
}

TEST_F(LinkOverSim, SpeedOrStopBitMismatchGivesNoAnswer) {
  for (const auto& [what, line] : {std::pair{"speed", LineSettings{19200}}, std::pair{"stop bits", LineSettings{9600, 8, "Отсутствует", 2}}}) {
    SCOPED_TRACE(what);
    auto link = StartAndConnect({}, line);
    ASSERT_TRUE(link);
    auto dev = MakeParameter("dev", "string");
    EXPECT_EQ(link->Transact(true, dev.get()), kTransactExchangeFailed);
    EXPECT_EQ(dev->comment, "Таймаут при передаче данных (нет связи)");
    sim->Stop();
  }
}

TEST_F(LinkOverSim, SevenDataBitsAndEvenParityOpenAndWork) {
  LineSettings line;
  line.dataBits = 7;
  line.parity = "Четность";
  auto link = StartAndConnect({"--data-bits", "7", "--parity", "even"}, line);
  ASSERT_TRUE(link);
  EXPECT_EQ(link->serialPort().settings().dataBits, 7);
  EXPECT_EQ(link->serialPort().settings().parityCode, 1);
  auto dev = MakeParameter("dev", "string");
  EXPECT_EQ(link->Transact(true, dev.get()), kTransactOk) << dev->comment;
}

TEST_F(LinkOverSim, EachForeignProtocolsSwitchCommand) {
  for (const auto& [option, mode] : {std::pair{"rtu", ProtocolMode::ModbusRtu}, std::pair{"ascii", ProtocolMode::ModbusAscii},
                                     std::pair{"percent", ProtocolMode::PercentCommand}}) {
    SCOPED_TRACE(option);
    auto link = StartAndConnect({"--protocol", option});
    ASSERT_TRUE(link);
    auto dev = MakeParameter("dev", "string");
    // Not heard in the device protocol...
    link->serialPort().settings().automaticConverter = 1;
    state.protocolMode = static_cast<std::uint8_t>(mode);
    Parameter command("switch");
    EXPECT_EQ(link->Transact(true, &command), kLinkOk) << command.comment;
    EXPECT_EQ(command.comment, "");
    state.protocolMode = 0;
    // ...and heard after the switch.
    EXPECT_EQ(link->Transact(true, dev.get()), kTransactOk) << dev->comment;
    sim->Stop();
  }
  // A foreign framing has no room for an 11-bit address.
  LineSettings wide;
  wide.addressLength = 11;
  auto link = StartAndConnect({"--protocol", "percent"}, wide);
  ASSERT_TRUE(link);
  state.protocolMode = static_cast<std::uint8_t>(ProtocolMode::PercentCommand);
  EXPECT_EQ(link->Transact(true, nullptr), -1);
  state.protocolMode = 0;
}

// ------------------------------------------------------------------ stop event

TEST_F(LinkOverSim, TheStopEventEndsABlockedExchangeAtOnce) {
  auto link = StartAndConnect({"--drop-every", "1"});
  ASSERT_TRUE(link);
  std::chrono::steady_clock::time_point ended;
  int result = 0;
  std::thread worker([&] {
    auto dev = MakeParameter("dev", "string");
    result = link->Transact(true, dev.get());
    ended = std::chrono::steady_clock::now();
  });
  // Wait until the request is on the line, so that the exchange is blocked on its answer.
  ASSERT_EQ(sim->Control("frames 1"), "ok");
  const auto stopped = std::chrono::steady_clock::now();
  link->serialPort().stopEvent().set();
  worker.join();
  EXPECT_EQ(result, kTransactExchangeFailed);
  const auto latency = std::chrono::duration_cast<std::chrono::microseconds>(ended - stopped);
  RecordProperty("stop_latency_us", static_cast<int>(latency.count()));
  EXPECT_LT(latency, 50ms);
  // While the event stays set nothing goes out; once reset, the link works again.
  auto dev = MakeParameter("dev", "string");
  EXPECT_EQ(link->Transact(true, dev.get()), kTransactExchangeFailed);
  link->serialPort().stopEvent().reset();
  ASSERT_EQ(sim->Control("faults off"), "ok");
  EXPECT_EQ(link->Transact(true, dev.get()), kTransactOk) << dev->comment;
}

// ------------------------------------------------------------------ threads

TEST_F(LinkOverSim, TransactionsFromSeveralThreadsDoNotMixTheirFrames) {
  auto link = StartAndConnect();
  ASSERT_TRUE(link);
  // Each thread writes its own instance, then reads it back with the attribute exchange: two
  // frame exchanges per transaction, and another thread's frame may come between them.
  auto worker = [&](int instance, int rounds, int& failures) {
    for (int i = 0; i < rounds; ++i) {
      auto w = MakeParameter("I.Flt", "int", instance);
      w->value = std::to_string((instance * 20 + i) % 250);
      auto r = MakeParameter("I.Flt", "int", instance);
      r->attributeMode = 1;
      if (link->Transact(false, w.get()) != kTransactOk || link->Transact(true, r.get()) != kTransactOk ||
          r->value != w->value) {
        ++failures;
      }
    }
  };
  int failures[3] = {};
  std::thread a(worker, 1, 15, std::ref(failures[0]));
  std::thread b(worker, 2, 15, std::ref(failures[1]));
  worker(3, 15, failures[2]);
  a.join();
  b.join();
  EXPECT_EQ(failures[0] + failures[1] + failures[2], 0);
  EXPECT_EQ(state.linkStatus.load(), 0u);
}

// ------------------------------------------------------------------ noise

// A pseudo-terminal whose far end answers every request with bytes of the test's choice.
class NoisyLine {
 public:
  NoisyLine() {
    char name[256] = {};
    if (::openpty(&master_, &slave_, name, nullptr, nullptr) != 0) return;
    termios t{};
    ::tcgetattr(slave_, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(slave_, TCSANOW, &t);
    path_ = name;
  }
  ~NoisyLine() {
    stop();
    if (slave_ >= 0) ::close(slave_);
    if (master_ >= 0) ::close(master_);
  }
  [[nodiscard]] const std::string& path() const { return path_; }

  // Answers each request (ended by carriage return) with answer(n) for the n-th request. With
  // `hangUp` the far end closes at the first request instead, while the link waits for its answer.
  void serve(std::function<std::string(int)> answer, bool hangUp = false) {
    thread_ = std::thread([this, hangUp, answer = std::move(answer)] {
      int n = 0;
      std::string pending;
      while (!done_) {
        pollfd fd{master_, POLLIN, 0};
        if (::poll(&fd, 1, 20) <= 0) continue;
        char buffer[256];
        const ssize_t got = ::read(master_, buffer, sizeof buffer);
        if (got <= 0) break;
        pending.append(buffer, static_cast<std::size_t>(got));
        for (std::size_t cr; (cr = pending.find('\r')) != std::string::npos;) {
          pending.erase(0, cr + 1);
          if (hangUp) {
            ::close(master_);
            master_ = -1;
            return;
          }
          const std::string reply = answer(n++);
          if (!reply.empty()) (void)::write(master_, reply.data(), reply.size());
        }
      }
    });
  }
  void stop() {
    done_ = true;
    if (thread_.joinable()) thread_.join();
  }
 private:
  int master_ = -1;
  int slave_ = -1;
  std::string path_;
  std::thread thread_;
  std::atomic<bool> done_{false};
};

TEST_F(LinkOverSim, NoiseNeverCrashesOrHangs) {
  std::mt19937 random(12345);
  const std::string good = std::string(buildRequest(false, hashName("dev"), Bytes{'R', 'T', 'V', 'K'}, 16, 8).text());
  const struct {
    const char* what;
    std::function<std::string(int)> answer;
  } rows[] = {
      {"random bytes", [&](int) {
         std::string s(1 + random() % 60, '\0');
         for (char& c : s) c = static_cast<char>(random());
         return s;
       }},
      {"overlong frames", [&](int) { return "#" + std::string(200, 'G') + "\r"; }},
      {"frames without carriage return", [&](int) { return good.substr(0, good.size() - 1); }},
      {"a frame cut short", [&](int) { return good.substr(0, 9) + "\r"; }},
      {"characters outside the tetrads", [&](int) { return "#ZZZZ" + good.substr(5); }},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.what);
    NoisyLine line;
    ASSERT_FALSE(line.path().empty());
    line.serve(r.answer);
    auto link = Connect(line.path());
    for (int i = 0; i < 3; ++i) {
      auto dev = MakeParameter("dev", "string");
      const int result = link->Transact(true, dev.get());
      EXPECT_NE(result, kTransactOk) << dev->value;
      EXPECT_FALSE(dev->comment.empty());
    }
    line.stop();
  }

  // The far end goes away in the middle of an exchange.
  NoisyLine line;
  line.serve([](int) { return std::string(); }, true);
  auto link = Connect(line.path());
  auto dev = MakeParameter("dev", "string");
  const int result = link->Transact(true, dev.get());
  EXPECT_NE(result, kTransactOk);
  EXPECT_EQ(link->Transact(true, dev.get()), kTransactPortClosed);
  EXPECT_EQ(dev->comment, "Ошибка открытия порта");
}

}  // namespace
}  // namespace kvtr::test
