// The exchange logic over a scripted line on a manual clock: bytes, marked errors, silences,
// stops and failures arrive exactly when the script says, and time moves only through the script.
#include "protocol/serial_line.h"

#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

namespace kvtr {
namespace {

using namespace std::chrono_literals;
using Wait = SerialLineIo::Wait;

std::vector<std::uint8_t> bytesOf(std::string_view text) { return {text.begin(), text.end()}; }

class ScriptedLine final : public SerialLineIo {
 public:
  explicit ScriptedLine(ManualClock& clock) : clock_(clock) {}

  // After `delay` of silence, `bytes` arrive in one piece.
  void arrive(Clock::Duration delay, std::vector<std::uint8_t> bytes) {
    steps_.push_back({delay, Kind::Bytes, std::move(bytes)});
  }
  void arrive(Clock::Duration delay, std::string_view text) { arrive(delay, bytesOf(text)); }
  void failAfter(Clock::Duration delay) { steps_.push_back({delay, Kind::Fail, {}}); }
  void stopAfter(Clock::Duration delay) { steps_.push_back({delay, Kind::Stop, {}}); }
  // After `delay` the driver counts a line error (an overrun) without marking any byte.
  void countErrorAfter(Clock::Duration delay) { steps_.push_back({delay, Kind::CountError, {}}); }

  std::vector<std::string> calls;
  std::vector<std::uint8_t> written;
  bool stopped = false;
  std::size_t acceptPerWrite = 1000;
  float lastGapMs = 0;
  int stopAfterWrites = -1;  // sets the stop event once this many bytes went out

  void purge() override { calls.push_back("purge"); }
  bool stopRequested() override { return stopped; }

  Wait waitReadable(Clock::Duration timeout) override {
    if (stopped) return Wait::Stopped;
    if (failed_) return Wait::Failed;
    if (!pending_.empty()) return Wait::Ready;
    while (!steps_.empty()) {
      Step& s = steps_.front();
      if (s.delay > timeout) {
        clock_.advance(timeout);
        s.delay -= timeout;
        return Wait::TimedOut;
      }
      clock_.advance(s.delay);
      timeout -= s.delay;
      const Step step = std::move(s);
      steps_.pop_front();
      switch (step.kind) {
        case Kind::Bytes: pending_.insert(pending_.end(), step.bytes.begin(), step.bytes.end()); return Wait::Ready;
        case Kind::Fail: failed_ = true; return Wait::Failed;
        case Kind::Stop: stopped = true; return Wait::Stopped;
        case Kind::CountError: ++errors_; continue;
      }
    }
    clock_.advance(timeout);
    return Wait::TimedOut;
  }

  Wait waitWritable(Clock::Duration timeout) override {
    if (stopped) return Wait::Stopped;
    if (acceptPerWrite > 0) return Wait::Ready;
    clock_.advance(timeout);
    return Wait::TimedOut;
  }

  Wait drain(Clock::Duration) override {
    calls.push_back("drain");
    return stopped ? Wait::Stopped : Wait::Ready;
  }

  long read(std::span<std::uint8_t> into) override {
    if (failed_) return -1;
    const std::size_t n = std::min(into.size(), pending_.size());
    std::copy_n(pending_.begin(), n, into.begin());
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<long>(n));
    return static_cast<long>(n);
  }

  long write(std::span<const std::uint8_t> bytes) override {
    const std::size_t n = std::min(bytes.size(), acceptPerWrite);
    calls.push_back("write " + std::to_string(n));
    written.insert(written.end(), bytes.begin(), bytes.begin() + static_cast<long>(n));
    if (stopAfterWrites >= 0 && written.size() >= static_cast<std::size_t>(stopAfterWrites)) stopped = true;
    return static_cast<long>(n);
  }

  void setRts(bool raised) override { calls.push_back(raised ? "rts+" : "rts-"); }
  void characterGap(float milliseconds) override {
    calls.push_back("gap");
    lastGapMs = milliseconds;
  }
  std::uint64_t lineErrorCount() override { return errors_; }

 private:
  enum class Kind { Bytes, Fail, Stop, CountError };
  struct Step {
    Clock::Duration delay;
    Kind kind;
    std::vector<std::uint8_t> bytes;
  };
  ManualClock& clock_;
  std::deque<Step> steps_;
  std::vector<std::uint8_t> pending_;
  bool failed_ = false;
  std::uint64_t errors_ = 0;
};

// 9600 baud, 8N1: a character takes 10 bits / 9600 = 1.0417 ms, so the reply time-out is 170 ms
// and 3.5 characters of silence round up to 4 ms.
LineExchangeSetup setup9600(bool automatic, int protocolMode = 0) {
  LineExchangeSetup s;
  s.characterTimeMs = characterTimeMs(9600, 8, false, 1);
  s.timeouts = computeTimeouts(s.characterTimeMs);
  s.automaticConverter = automatic;
  s.protocolMode = protocolMode;
  return s;
}

class SerialLineTest : public ::testing::Test {
 protected:
  LineExchangeResult run(const LineExchangeSetup& setup, std::string_view request = "#HGHGUOPKHPOP\r") {
    start_ = clock_.now();
    const auto req = bytesOf(request);
    return exchangeOverLine(line_, clock_, setup, req, buffer_);
  }
  std::string answer(const LineExchangeResult& r) const { return std::string(buffer_, static_cast<std::size_t>(r.received)); }
  Clock::Duration elapsed() const { return clock_.now() - start_; }
  // The 14 characters of the request at 9600 baud.
  static Clock::Duration requestOnTheWire() {
    return std::chrono::duration_cast<Clock::Duration>(
        std::chrono::duration<double, std::milli>(14 * static_cast<double>(setup9600(true).characterTimeMs)));
  }

  ManualClock clock_;
  ScriptedLine line_{clock_};
  char buffer_[serial::kResponseCapacity];
  Clock::TimePoint start_;
};

TEST_F(SerialLineTest, NativeAnswerEndsAtCarriageReturn) {
  line_.arrive(20ms, "#HGHG");
  line_.arrive(3ms, "UOPK\rjunk");
  const auto r = run(setup9600(true));
  EXPECT_EQ(r.result, serial::kReceived);
  EXPECT_EQ(answer(r), "#HGHGUOPK\r");
  EXPECT_EQ(elapsed(), 23ms);
  EXPECT_FALSE(r.portFailed);
  // An automatic converter turns the line round by itself: nothing waits for the request to drain.
  EXPECT_EQ(line_.calls, (std::vector<std::string>{"purge", "write 14"}));
  EXPECT_EQ(line_.written, bytesOf("#HGHGUOPKHPOP\r"));
}

TEST_F(SerialLineTest, NativeAnswerWithoutCarriageReturnTimesOutAtTheReplyTimeout) {
  // Characters keep coming inside the reply time-out, but they do not extend it.
  for (int i = 0; i < 8; ++i) line_.arrive(20ms, "#H");
  const auto r = run(setup9600(true));
  EXPECT_EQ(r.result, serial::kTimedOut);
  EXPECT_EQ(elapsed(), requestOnTheWire() + 170ms);
}

TEST_F(SerialLineTest, SilentLineTimesOut) {
  // The reply time-out counts from the request's last character on the wire.
  EXPECT_EQ(run(setup9600(true)).result, serial::kTimedOut);
  EXPECT_EQ(elapsed(), requestOnTheWire() + 170ms);
  EXPECT_EQ(run(setup9600(true, serial::kProtocolModbusRtu)).result, serial::kTimedOut);
}

TEST_F(SerialLineTest, RtuAnswerEndsAfterSilence) {
  // Echo of a coil write, with 0xFF doubled by the driver's error marking; a 3 ms gap is inside
  // the 4 ms of silence, the 5 ms gap before "late" is not.
  line_.arrive(30ms, std::vector<std::uint8_t>{0x10, 0x05, 0xF0});
  line_.arrive(3ms, std::vector<std::uint8_t>{0xF0, 0xFF, 0xFF, 0x00, 0x8A, 0x3B});
  line_.arrive(5ms, "late");
  const auto r = run(setup9600(true, serial::kProtocolModbusRtu));
  ASSERT_EQ(r.result, serial::kReceived);
  const std::vector<std::uint8_t> got(buffer_, buffer_ + r.received);
  EXPECT_EQ(got, (std::vector<std::uint8_t>{0x10, 0x05, 0xF0, 0xF0, 0xFF, 0x00, 0x8A, 0x3B}));
  EXPECT_EQ(elapsed(), 30ms + 3ms + 4ms);
}

TEST_F(SerialLineTest, AnswersAreBoundedByTheBuffer) {
  // A native answer of 40 characters: the first 31 are kept, the carriage return is lost, and the
  // frame check will find the answer cut.
  const std::string longAnswer = std::string(40, 'G') + "\r";
  line_.arrive(10ms, "#" + longAnswer);
  auto r = run(setup9600(true));
  EXPECT_EQ(r.result, serial::kReceived);
  EXPECT_EQ(r.received, serial::kResponseCapacity);
  EXPECT_EQ(answer(r), "#" + std::string(30, 'G'));

  // In RTU mode a full buffer ends the answer at once, even on a line that never falls silent.
  for (int i = 0; i < 100; ++i) line_.arrive(1ms, "xyz");
  r = run(setup9600(true, serial::kProtocolModbusRtu));
  EXPECT_EQ(r.result, serial::kReceived);
  EXPECT_EQ(r.received, serial::kResponseCapacity);
  EXPECT_EQ(elapsed(), 11ms);
}

TEST_F(SerialLineTest, MarkedErrorsAndBreaksAreLineErrors) {
  struct Case {
    const char* what;
    std::vector<std::vector<std::uint8_t>> chunks;
  };
  const std::vector<Case> cases = {
      {"parity error", {{'#', 'H', 0xFF, 0x00, 'G', '\r'}}},
      {"break", {{'#', 0xFF, 0x00, 0x00}}},
      {"mark split over three reads", {{'#', 'H', 0xFF}, {0x00}, {'G', '\r'}}},
      {"lone 0xFF", {{'#', 0xFF, 'G', '\r'}}},
  };
  for (const Case& c : cases) {
    ManualClock clock;
    ScriptedLine line(clock);
    for (const auto& chunk : c.chunks) line.arrive(1ms, chunk);
    const auto req = bytesOf("#\r");
    const auto r = exchangeOverLine(line, clock, setup9600(true), req, buffer_);
    EXPECT_EQ(r.result, serial::kLineError) << c.what;
  }
}

TEST_F(SerialLineTest, DoubledFfIsOneCharacterNotAnError) {
  line_.arrive(1ms, std::vector<std::uint8_t>{'#', 0xFF});
  line_.arrive(1ms, std::vector<std::uint8_t>{0xFF, '\r'});
  const auto r = run(setup9600(true));
  EXPECT_EQ(r.result, serial::kReceived);
  EXPECT_EQ(answer(r), std::string("#\xFF\r"));
}

TEST_F(SerialLineTest, ErrorCountedByTheDriverIsALineError) {
  line_.arrive(5ms, "#HG");
  line_.countErrorAfter(1ms);
  line_.arrive(1ms, "HG\r");
  EXPECT_EQ(run(setup9600(true)).result, serial::kLineError);
}

TEST_F(SerialLineTest, StopEndsTheWaitAndPreventsSending) {
  line_.stopAfter(50ms);
  auto r = run(setup9600(true));
  EXPECT_EQ(r.result, serial::kAborted);
  EXPECT_EQ(elapsed(), 50ms);
  EXPECT_FALSE(r.portFailed);

  // Still set: the next exchange ends before anything is written.
  line_.written.clear();
  r = run(setup9600(true));
  EXPECT_EQ(r.result, serial::kAborted);
  EXPECT_TRUE(line_.written.empty());
}

TEST_F(SerialLineTest, VanishedPortEndsTheExchange) {
  line_.arrive(5ms, "#HG");
  line_.failAfter(1ms);
  const auto r = run(setup9600(true));
  EXPECT_EQ(r.result, serial::kAborted);
  EXPECT_TRUE(r.portFailed);
}

TEST_F(SerialLineTest, SemiAutomaticSendsByteByByteUnderRts) {
  line_.arrive(10ms, "#\r");
  const auto r = run(setup9600(false), "#AB\r");
  EXPECT_EQ(r.result, serial::kReceived);
  const std::vector<std::string> perByte = {"write 1", "drain", "gap"};
  std::vector<std::string> expected = {"purge", "rts+"};
  for (int i = 0; i < 4; ++i) expected.insert(expected.end(), perByte.begin(), perByte.end());
  expected.push_back("rts-");
  EXPECT_EQ(line_.calls, expected);
  EXPECT_EQ(line_.written, bytesOf("#AB\r"));
  EXPECT_FLOAT_EQ(line_.lastGapMs, 10.0f * 1000.0f / 9600.0f);
}

TEST_F(SerialLineTest, SemiAutomaticStopStillDropsRts) {
  line_.stopAfterWrites = 2;
  const auto r = run(setup9600(false), "#ABCDEF\r");
  EXPECT_EQ(r.result, serial::kAborted);
  EXPECT_EQ(line_.written.size(), 2u);
  ASSERT_FALSE(line_.calls.empty());
  EXPECT_EQ(line_.calls.back(), "rts-");
}

TEST_F(SerialLineTest, PartialWritesAreCompletedInOrder) {
  line_.acceptPerWrite = 3;
  line_.arrive(1ms, "#\r");
  const auto r = run(setup9600(true), "#HGHGUOPKHPOP\r");
  EXPECT_EQ(r.result, serial::kReceived);
  EXPECT_EQ(line_.written, bytesOf("#HGHGUOPKHPOP\r"));
}

TEST_F(SerialLineTest, WriteThatNeverCompletesTimesOutAfterTheWriteTimeout) {
  line_.acceptPerWrite = 0;
  const auto r = run(setup9600(true), "#HGHGUOPKHPOP\r");
  EXPECT_EQ(r.result, serial::kTimedOut);
  // 500 ms + 10 ms for each of the 14 characters.
  EXPECT_EQ(elapsed(), 640ms);
}

TEST(MarkedInputDecoder, UndoesTheDriverMarks) {
  using Kind = MarkedInputDecoder::Kind;
  struct Row {
    std::vector<std::uint8_t> in;
    std::vector<std::pair<Kind, std::uint8_t>> out;
  };
  const std::vector<Row> rows = {
      {{'A', 0x00, 0xFE}, {{Kind::Character, 'A'}, {Kind::Character, 0x00}, {Kind::Character, 0xFE}}},
      {{0xFF, 0xFF, 'B'}, {{Kind::Character, 0xFF}, {Kind::Character, 'B'}}},
      {{0xFF, 0x00, 'C', 'D'}, {{Kind::LineError, 'C'}, {Kind::Character, 'D'}}},
      {{0xFF, 0x00, 0x00}, {{Kind::LineError, 0x00}}},
      {{0xFF, 0x00, 0xFF, 'E'}, {{Kind::LineError, 0xFF}, {Kind::Character, 'E'}}},
  };
  for (const Row& row : rows) {
    MarkedInputDecoder d;
    std::vector<std::pair<Kind, std::uint8_t>> got;
    for (const std::uint8_t b : row.in) {
      if (const auto item = d.feed(b)) got.emplace_back(item->kind, item->value);
    }
    EXPECT_EQ(got, row.out);
  }
}

}  // namespace
}  // namespace kvtr
