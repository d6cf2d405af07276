// A device link over a scripted line, for tests: the serial port's own exchange logic runs
// beneath the link, and the line below it answers each request from a script. It reaches what a
// pseudo-terminal cannot produce (parity and framing errors, breaks, a port that fails) and
// counts every send exactly, on a clock that jumps instead of sleeping.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <string>
#include <vector>

#include "common/clock.h"
#include "protocol/device_link.h"
#include "protocol/network_settings.h"
#include "protocol/serial_line.h"
#include "protocol/serial_timing.h"

namespace kvtr::test {

// One answer of the scripted line to one request.
struct Reply {
  enum class Kind { Bytes, Silence, Fail };
  Kind kind = Kind::Silence;
  std::string bytes;  // as the driver delivers them: error marks included, a real 0xFF doubled
};

// Characters as they were sent; the driver doubles a real 0xFF because it marks errors with one.
inline Reply bytes(const std::string& sent) {
  std::string delivered;
  for (const char c : sent) {
    delivered.push_back(c);
    if (c == '\xFF') delivered.push_back(c);
  }
  return {Reply::Kind::Bytes, delivered};
}
// Characters with the driver's error marks in them.
inline Reply marked(std::string b) { return {Reply::Kind::Bytes, std::move(b)}; }
inline Reply silence() { return {Reply::Kind::Silence, {}}; }

// A native frame as the module sends it (same layout as a request).
inline std::string frame(std::uint16_t hash, std::vector<std::uint8_t> data, int address = 16) {
  return std::string(buildRequest(false, hash, data, address, 8).text());
}
// A parity or framing error as the driver marks it in the data, and a break.
inline const std::string kMarkedError("\xFF\x00\x41", 3);
inline const std::string kMarkedBreak("\xFF\x00\x00", 3);

class ScriptLine final : public SerialLineIo {
 public:
  explicit ScriptLine(ManualClock& clock) : clock_(clock) {}

  std::deque<Reply> script;
  std::vector<std::string> requests;  // every request as it left, one per exchange
  bool stop = false;

  void purge() override {
    rx_.clear();
    requestOpen_ = false;
  }
  bool stopRequested() override { return stop; }
  Wait waitReadable(Clock::Duration timeout) override {
    if (stop) return Wait::Stopped;
    if (requestOpen_) {
      requestOpen_ = false;
      Reply r = script.empty() ? silence() : script.front();
      if (!script.empty()) script.pop_front();
      if (r.kind == Reply::Kind::Fail) return Wait::Failed;
      rx_ = r.bytes;
    }
    if (!rx_.empty()) return Wait::Ready;
    clock_.advance(timeout);
    return Wait::TimedOut;
  }
  Wait waitWritable(Clock::Duration) override { return stop ? Wait::Stopped : Wait::Ready; }
  Wait drain(Clock::Duration) override { return Wait::Ready; }
  long read(std::span<std::uint8_t> into) override {
    const std::size_t n = std::min(into.size(), rx_.size());
    std::copy_n(rx_.begin(), n, into.begin());
    rx_.erase(0, n);
    return static_cast<long>(n);
  }
  long write(std::span<const std::uint8_t> data) override {
    if (!requestOpen_) {
      requests.emplace_back();
      requestOpen_ = true;
    }
    requests.back().append(data.begin(), data.end());
    return static_cast<long>(data.size());
  }
  void setRts(bool) override {}
  void characterGap(float) override {}
  std::uint64_t lineErrorCount() override { return 0; }

 private:
  ManualClock& clock_;
  std::string rx_;
  bool requestOpen_ = false;
};

class ScriptedLink final : public DeviceLink {
 public:
  explicit ScriptedLink(const DeviceLinkOptions& options) : DeviceLink(options), line(clock) {}

  ManualClock clock;
  ScriptLine line;
  bool open = true;
  std::vector<int> modes;  // the protocol mode of each exchange

 protected:
  int exchangeOnPort(std::span<const std::uint8_t> request, std::span<char> response, int& received,
                     int protocolMode, AnswerFilter* filter) override {
    modes.push_back(protocolMode);
    LineExchangeSetup setup;
    setup.characterTimeMs = characterTimeMs(serialPort().settings());
    setup.timeouts = computeTimeouts(setup.characterTimeMs);
    setup.automaticConverter = serialPort().settings().automaticConverter != 0;
    setup.protocolMode = protocolMode;
    setup.filter = filter;
    const LineExchangeResult r = exchangeOverLine(line, clock, setup, request, response);
    received = r.received;
    if (r.portFailed) open = false;
    return r.result;
  }
  bool portIsOpen() const override { return open; }
};

// A fixture with a scripted link and no user interface, for the procedures above the link. Its
// port name can never be opened, so no test reaches a real port.
class ScriptedLinkTest : public ::testing::Test {
 protected:
  ScriptedLinkTest() : link_(options(state_)) {
    link_.programPortNode().SetValueByName(kPortParameterName, "/nonexistent/kvtr-test-port");
  }

  LinkState state_;
  ScriptedLink link_;

 private:
  static DeviceLinkOptions options(LinkState& state) {
    DeviceLinkOptions o;
    o.state = &state;
    o.portChoices = " ";
    return o;
  }
};

struct DecodedRequest {
  int address = 0;
  bool read = false;
  std::uint16_t hash = 0;
  std::vector<std::uint8_t> data;
};

inline DecodedRequest decode(const std::string& line) {
  // '#', tetrads, carriage return: the request has the layout of an answer.
  DecodedRequest d;
  EXPECT_GE(line.size(), 14u);
  EXPECT_EQ(line.front(), '#');
  EXPECT_EQ(line.back(), '\r');
  std::vector<std::uint8_t> b((line.size() - 2) / 2);
  EXPECT_TRUE(decodeTetrads(std::span<const char>(line.data() + 1, line.size() - 2), b));
  d.address = b[0];
  d.read = (b[1] & 0x10) != 0;
  d.hash = static_cast<std::uint16_t>(b[2] << 8 | b[3]);
  d.data.assign(b.begin() + 4, b.begin() + 4 + (b[1] & 0x0F));
  return d;
}

// Every request as it left, decoded.
inline std::vector<DecodedRequest> decodeAll(const std::vector<std::string>& lines) {
  std::vector<DecodedRequest> out;
  for (const auto& line : lines) out.push_back(decode(line));
  return out;
}

}  // namespace kvtr::test
