// The serial port over a real pseudo-terminal. The test plays the module on the master side from a
// thread of its own and keeps a descriptor of the slave side to read back what the port set.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "protocol/serial_port.h"
#include "protocol/serial_speed_posix.h"

namespace kvtr {
namespace {

using namespace std::chrono_literals;
using SteadyClock = std::chrono::steady_clock;

const std::string kReadRAndOe = "#HGHGUOPKHPOP\r";  // read request of "r.oe" to address 16

std::span<const std::uint8_t> bytes(const std::string& text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

class PseudoTerminal {
 public:
  PseudoTerminal() {
    int master = -1;
    if (::openpty(&master, &slave_, nullptr, nullptr, nullptr) != 0) return;
    master_ = master;
    path_ = ::ttyname(slave_);
  }
  ~PseudoTerminal() {
    closeMaster();
    if (slave_ >= 0) ::close(slave_);
  }

  bool ok() const { return master_.load() >= 0 && !path_.empty(); }
  const std::string& path() const { return path_; }
  int slave() const { return slave_; }

  // What the port sent, up to and including `end`, or nothing after `limit`.
  std::string readUntil(char end, std::chrono::milliseconds limit = 5s) {
    std::string got;
    const auto deadline = SteadyClock::now() + limit;
    while (SteadyClock::now() < deadline) {
      pollfd p{master_.load(), POLLIN, 0};
      if (::poll(&p, 1, 20) <= 0) continue;
      char c;
      if (::read(p.fd, &c, 1) != 1) break;
      got += c;
      if (c == end) return got;
    }
    return got;
  }

  void write(const std::string& data) {
    ASSERT_EQ(::write(master_.load(), data.data(), data.size()), static_cast<ssize_t>(data.size()));
  }

  void closeMaster() {
    const int fd = master_.exchange(-1);
    if (fd >= 0) ::close(fd);
  }

 private:
  std::atomic<int> master_{-1};
  int slave_ = -1;
  std::string path_;
};

class SerialPortPty : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(pty_.ok()) << "no pseudo-terminal";
    port_.settings().portName = pty_.path();
  }
  void TearDown() override {
    if (module_.joinable()) module_.join();
  }

  // The module answers the next request that ends with a carriage return.
  void answerNextRequest(std::string answer) {
    if (module_.joinable()) module_.join();
    module_ = std::thread([this, answer = std::move(answer)] {
      request_ = pty_.readUntil('\r');
      if (!answer.empty()) pty_.write(answer);
    });
  }

  int exchange(const std::string& request, int protocolMode = 0) {
    return port_.exchange(bytes(request), response_, received_, protocolMode);
  }
  std::string received() const { return std::string(response_, static_cast<std::size_t>(received_)); }

  PseudoTerminal pty_;
  SerialPort port_;
  std::thread module_;
  std::string request_;
  char response_[serial::kResponseCapacity];
  int received_ = -1;
};

TEST_F(SerialPortPty, NativeAnswerWithBothConverters) {
  for (const std::uint32_t automatic : {1u, 0u}) {
    port_.settings().automaticConverter = automatic;
    ASSERT_EQ(port_.open(), serial::kOpened);
    answerNextRequest("#HGHGUOPKGHGHOKJP\r");
    EXPECT_EQ(exchange(kReadRAndOe), serial::kReceived) << automatic;
    module_.join();
    EXPECT_EQ(request_, kReadRAndOe) << automatic;
    EXPECT_EQ(received(), "#HGHGUOPKGHGHOKJP\r") << automatic;
    EXPECT_EQ(port_.close(), serial::kClosed);
  }
}

TEST_F(SerialPortPty, ModbusRtuAnswerEndsBySilence) {
  port_.settings().automaticConverter = 1;
  ASSERT_EQ(port_.open(), serial::kOpened);
  // The echo of the coil write holds 0xFF, which the port's error marking doubles on the way in.
  const std::string echo("\x10\x05\xF0\xF0\xFF\x00\x8A\x3B", 8);
  module_ = std::thread([this, echo] {
    request_ = pty_.readUntil('\x3B');
    pty_.write(echo);
  });
  const std::string request("\x10\x05\xF0\xF0\xFF\x00\x8A\x3B", 8);
  EXPECT_EQ(exchange(request, serial::kProtocolModbusRtu), serial::kReceived);
  module_.join();
  EXPECT_EQ(request_, request);
  EXPECT_EQ(received(), echo);
}

TEST_F(SerialPortPty, NoAnswerAndAnswerWithoutCarriageReturnTimeOut) {
  ASSERT_EQ(port_.open(), serial::kOpened);
  answerNextRequest("");
  EXPECT_EQ(exchange(kReadRAndOe), serial::kTimedOut);
  module_.join();
  EXPECT_EQ(request_, kReadRAndOe);

  answerNextRequest("#HGHGUOPK");
  EXPECT_EQ(exchange(kReadRAndOe), serial::kTimedOut);
}

TEST_F(SerialPortPty, GarbageIsHandedOverAsReceived) {
  // The port does not judge frames: that is the link's work.
  ASSERT_EQ(port_.open(), serial::kOpened);
  answerNextRequest(std::string("\x01zz\x7F\x80garbage\r"));
  EXPECT_EQ(exchange(kReadRAndOe), serial::kReceived);
  EXPECT_EQ(received(), std::string("\x01zz\x7F\x80garbage\r"));
}

TEST_F(SerialPortPty, OverlongAnswerIsCutAtTheBuffer) {
  ASSERT_EQ(port_.open(), serial::kOpened);
  answerNextRequest("#" + std::string(49, 'H') + "\r");
  EXPECT_EQ(exchange(kReadRAndOe), serial::kReceived);
  EXPECT_EQ(received_, serial::kResponseCapacity);
  EXPECT_EQ(received(), "#" + std::string(30, 'H'));

  // What was left of it is purged before the next exchange.
  answerNextRequest("#GG\r");
  EXPECT_EQ(exchange(kReadRAndOe), serial::kReceived);
  EXPECT_EQ(received(), "#GG\r");
}

TEST_F(SerialPortPty, SevenDataBitsWithEvenParityOpen) {
  // A pseudo-terminal keeps 8 data bits and drops the parity, and the C library reports that as
  // EINVAL; the port must open all the same.
  port_.settings().dataBits = 7;
  port_.settings().parityCode = 1;
  ASSERT_EQ(port_.open(), serial::kOpened);
  // 7 + parity + start + stop = 10 bits at 9600 baud.
  EXPECT_FLOAT_EQ(port_.characterTimeMs(), 10.0f * 1000.0f / 9600.0f);
  EXPECT_EQ(port_.replyTimeoutMs(), 170);
  answerNextRequest("#GG\r");
  EXPECT_EQ(exchange(kReadRAndOe), serial::kReceived);
  EXPECT_EQ(received(), "#GG\r");
}

TEST_F(SerialPortPty, EveryAcceptedSpeedAndFormatOpens) {
  for (const int baud : kAcceptedBaudRates) {
    port_.settings().baudRate = baud;
    ASSERT_EQ(port_.open(), serial::kOpened) << baud;
    EXPECT_EQ(readLineSpeed(pty_.slave()), baud);
    EXPECT_EQ(port_.close(), serial::kClosed);
  }

  struct Format {
    int parityCode, stopBits;
    tcflag_t expectSet, expectClear;
  };
  // A pseudo-terminal clears PARENB, but keeps PARODD, CMSPAR and CSTOPB as written.
  const Format formats[] = {
      {4, 1, PARODD, CMSPAR | CSTOPB},
      {2, 2, PARODD | CMSPAR | CSTOPB, 0},
      {5, 1, CMSPAR, PARODD | CSTOPB},
      {3, 2, CSTOPB, PARODD | CMSPAR},
  };
  port_.settings().baudRate = 9600;
  for (const Format& f : formats) {
    port_.settings().parityCode = f.parityCode;
    port_.settings().stopBits = f.stopBits;
    ASSERT_EQ(port_.open(), serial::kOpened) << f.parityCode;
    termios t{};
    ASSERT_EQ(::tcgetattr(pty_.slave(), &t), 0);
    EXPECT_EQ(t.c_cflag & f.expectSet, f.expectSet) << f.parityCode << "/" << f.stopBits;
    EXPECT_EQ(t.c_cflag & f.expectClear, 0u) << f.parityCode << "/" << f.stopBits;
    EXPECT_EQ(t.c_lflag & (ECHO | ICANON | ISIG), 0u);
    EXPECT_EQ(t.c_iflag & (IXON | ICRNL | ISTRIP), 0u);
    EXPECT_EQ(port_.close(), serial::kClosed);
  }
}

TEST_F(SerialPortPty, RefusedOpensLeaveThePortClosed) {
  port_.settings().baudRate = 256000;
  EXPECT_EQ(port_.open(), serial::kUnsupportedSetting);
  EXPECT_FALSE(port_.isOpen());
  port_.settings().baudRate = 9600;
  port_.settings().dataBits = 9;
  EXPECT_EQ(port_.open(), serial::kBadDataBits);
  port_.settings().dataBits = 8;
  port_.settings().parityCode = 6;
  EXPECT_EQ(port_.open(), serial::kUnsupportedSetting);
  port_.settings().parityCode = 3;

  SerialPort missing;
  missing.settings().portName = "/dev/kvtr-no-such-port";
  EXPECT_EQ(missing.open(), serial::kCannotOpen);
  SerialPort notATerminal;
  notATerminal.settings().portName = "/dev/null";
  EXPECT_EQ(notATerminal.open(), serial::kUnsupportedSetting);
  EXPECT_FALSE(notATerminal.isOpen());

  // Opened exclusive: a second port object on the same device is refused, and gets it once the
  // first has let go.
  ASSERT_EQ(port_.open(), serial::kOpened);
  SerialPort second;
  second.settings().portName = pty_.path();
  EXPECT_EQ(second.open(), serial::kCannotOpen);
  EXPECT_EQ(port_.close(), serial::kClosed);
  EXPECT_EQ(second.open(), serial::kOpened);
}

TEST_F(SerialPortPty, CloseAndExchangeOnAClosedPort) {
  EXPECT_EQ(port_.close(), serial::kNotOpen);
  EXPECT_EQ(exchange(kReadRAndOe), serial::kAborted);
  EXPECT_EQ(received_, 0);
  ASSERT_EQ(port_.open(), serial::kOpened);
  EXPECT_EQ(port_.close(), serial::kClosed);
  EXPECT_EQ(port_.close(), serial::kNotOpen);
}

TEST_F(SerialPortPty, StopEventEndsABlockedExchangeAtOnce) {
  // At 110 baud the reply time-out is 6890 ms: only the stop event can end this exchange soon.
  port_.settings().baudRate = 110;
  port_.settings().automaticConverter = 1;
  ASSERT_EQ(port_.open(), serial::kOpened);
  std::atomic<SteadyClock::rep> stoppedAt{0};
  module_ = std::thread([this, &stoppedAt] {
    request_ = pty_.readUntil('\r');
    stoppedAt = SteadyClock::now().time_since_epoch().count();
    port_.stopEvent().set();
  });
  EXPECT_EQ(exchange(kReadRAndOe), serial::kAborted);
  const auto returnedAt = SteadyClock::now();
  module_.join();
  const auto latency = returnedAt - SteadyClock::time_point(SteadyClock::duration(stoppedAt.load()));
  std::printf("stop event latency: %.3f ms\n", std::chrono::duration<double, std::milli>(latency).count());
  // A functional limit, not a benchmark: the stop must end the wait at once.
  EXPECT_LT(latency, 50ms);
  EXPECT_TRUE(port_.isOpen()) << "a stop does not close the port";

  // While the event stays set nothing is sent; once reset the port works again.
  EXPECT_EQ(exchange(kReadRAndOe), serial::kAborted);
  EXPECT_EQ(pty_.readUntil('\r', 100ms), "") << "the refused exchange must not send its request";
  port_.stopEvent().reset();
  port_.settings().baudRate = 9600;
  ASSERT_EQ(port_.open(), serial::kOpened);
  answerNextRequest("#GG\r");
  EXPECT_EQ(exchange(kReadRAndOe), serial::kReceived);
  EXPECT_EQ(received(), "#GG\r");
}

TEST_F(SerialPortPty, PeerClosingMidExchangeClosesThePort) {
  // At 110 baud a time-out would take 6890 ms and give result 2; the vanished peer must be seen
  // as such.
  port_.settings().baudRate = 110;
  port_.settings().automaticConverter = 1;
  ASSERT_EQ(port_.open(), serial::kOpened);
  module_ = std::thread([this] {
    request_ = pty_.readUntil('\r');
    pty_.closeMaster();
  });
  EXPECT_EQ(exchange(kReadRAndOe), serial::kAborted);
  module_.join();
  EXPECT_EQ(request_, kReadRAndOe);
  EXPECT_FALSE(port_.isOpen());
  EXPECT_EQ(exchange(kReadRAndOe), serial::kAborted);
}

TEST(SerialPortNames, ComNameGoesThroughThePortMap) {
  PseudoTerminal pty;
  ASSERT_TRUE(pty.ok());
  SerialPort port;
  port.setComPortMap({{7, pty.path()}});
  port.settings().portName = "COM7";
  ASSERT_EQ(port.open(), serial::kOpened);
  EXPECT_EQ(port.devicePath(), pty.path());
}

}  // namespace
}  // namespace kvtr
