#include "protocol/serial_line.h"

#include <algorithm>
#include <string_view>

namespace kvtr {

std::optional<MarkedInputDecoder::Item> MarkedInputDecoder::feed(std::uint8_t byte) {
  switch (pending_) {
    case 0:
      if (byte == 0xFF) {
        pending_ = 1;
        return std::nullopt;
      }
      return Item{Kind::Character, byte};
    case 1:
      if (byte == 0xFF) {
        pending_ = 0;
        return Item{Kind::Character, 0xFF};
      }
      if (byte == 0x00) {
        pending_ = 2;
        return std::nullopt;
      }
      // A lone 0xFF never comes from a driver that marks errors: the input is not to be trusted.
      pending_ = 0;
      return Item{Kind::LineError, byte};
    default:
      // The byte that arrived with the error (0 for a break).
      pending_ = 0;
      return Item{Kind::LineError, byte};
  }
}

namespace {

using Wait = SerialLineIo::Wait;

std::chrono::milliseconds ms(long long value) { return std::chrono::milliseconds(value); }

Clock::Duration leftUntil(const Clock& clock, Clock::TimePoint deadline) {
  const Clock::TimePoint now = clock.now();
  return deadline > now ? deadline - now : Clock::Duration::zero();
}

Wait writeAll(SerialLineIo& line, const Clock& clock, std::span<const std::uint8_t> bytes,
              Clock::TimePoint deadline) {
  for (;;) {
    const long n = line.write(bytes);
    if (n < 0) return Wait::Failed;
    bytes = bytes.subspan(std::min(bytes.size(), static_cast<std::size_t>(n)));
    if (bytes.empty()) return Wait::Ready;
    if (clock.now() >= deadline) return Wait::TimedOut;
    const Wait w = line.waitWritable(leftUntil(clock, deadline));
    if (w != Wait::Ready && w != Wait::TimedOut) return w;
  }
}

Wait send(SerialLineIo& line, const Clock& clock, const LineExchangeSetup& setup,
          std::span<const std::uint8_t> request) {
  if (setup.automaticConverter) {
    // Handed to the driver and on its way: the converter turns the line round by itself, so nothing
    // waits for the last character here (the reply time-out allows for its time on the wire).
    const auto deadline = clock.now() + ms(writeTimeoutMs(setup.timeouts, static_cast<int>(request.size())));
    return writeAll(line, clock, request, deadline);
  }

  // Semi-automatic converter: RTS holds the transmitter on while the bytes go out one by one, each
  // drained and followed by one character time so that RTS drops only after the last stop bit.
  line.setRts(true);
  Wait w = Wait::Ready;
  for (std::size_t i = 0; i < request.size() && w == Wait::Ready; ++i) {
    if (line.stopRequested()) {
      w = Wait::Stopped;
      break;
    }
    const auto deadline = clock.now() + ms(writeTimeoutMs(setup.timeouts, 1));
    w = writeAll(line, clock, request.subspan(i, 1), deadline);
    if (w == Wait::Ready) w = line.drain(leftUntil(clock, deadline));
    if (w == Wait::Ready) line.characterGap(setup.characterTimeMs);
  }
  // Dropped also after a stop or a failure, so the line is never left held against the module.
  line.setRts(false);
  return w;
}

}  // namespace

LineExchangeResult exchangeOverLine(SerialLineIo& line, const Clock& clock, const LineExchangeSetup& setup,
                                    std::span<const std::uint8_t> request, std::span<char> response) {
  std::fill(response.begin(), response.end(), '\0');
  LineExchangeResult out;
  const auto finish = [&out](int result) {
    out.result = result;
    return out;
  };

  line.purge();
  // While the stop event is set nothing goes out at all.
  if (line.stopRequested()) return finish(serial::kAborted);
  const std::uint64_t errorsBefore = line.lineErrorCount();

  switch (request.empty() ? Wait::Ready : send(line, clock, setup, request)) {
    case Wait::Ready: break;
    case Wait::Stopped: return finish(serial::kAborted);
    case Wait::Failed: out.portFailed = true; return finish(serial::kAborted);
    case Wait::TimedOut: return finish(serial::kTimedOut);
  }

  const bool rtu = setup.protocolMode == serial::kProtocolModbusRtu;
  // The reply time-out counts from the end of the request on the wire. A semi-automatic converter
  // has drained the request by now; through an automatic one it is still leaving, for as many
  // character times as it is long.
  Clock::Duration stillOnTheWire = Clock::Duration::zero();
  if (setup.automaticConverter) {
    stillOnTheWire = std::chrono::duration_cast<Clock::Duration>(std::chrono::duration<double, std::milli>(
        static_cast<double>(request.size()) * static_cast<double>(setup.characterTimeMs)));
  }
  const auto replyDeadline =
      clock.now() + stillOnTheWire + ms(replyTimeoutMs(setup.timeouts) + setup.replyAllowanceMs);
  const auto silence = ms(rtuSilenceMs(setup.characterTimeMs) + setup.silenceAllowanceMs);
  Clock::TimePoint silenceEnd{};
  bool anyCharacter = false;
  const std::size_t capacity = response.size();
  std::size_t count = 0;
  MarkedInputDecoder decoder;
  std::uint8_t chunk[64];

  for (;;) {
    // Before the first character the reply time-out runs; in RTU mode every character then
    // restarts the silence that ends the answer. A native answer has the reply time-out alone,
    // however many characters arrive without a carriage return.
    const Clock::TimePoint until = rtu && anyCharacter ? silenceEnd : replyDeadline;
    if (clock.now() >= until) {
      out.received = static_cast<int>(count);
      return finish(rtu && anyCharacter ? serial::kReceived : serial::kTimedOut);
    }
    const Wait w = line.waitReadable(leftUntil(clock, until));
    if (w == Wait::Stopped) return finish(serial::kAborted);
    if (w == Wait::Failed) {
      out.portFailed = true;
      return finish(serial::kAborted);
    }
    if (w == Wait::TimedOut) continue;

    const long n = line.read(chunk);
    if (n < 0) {
      out.portFailed = true;
      return finish(serial::kAborted);
    }
    // An error the driver counted (an overrun) may have cost characters of what was just read.
    if (line.lineErrorCount() != errorsBefore) {
      out.received = static_cast<int>(count);
      return finish(serial::kLineError);
    }
    for (long i = 0; i < n; ++i) {
      const auto item = decoder.feed(chunk[i]);
      if (!item) continue;
      if (item->kind == MarkedInputDecoder::Kind::LineError) {
        out.received = static_cast<int>(count);
        return finish(serial::kLineError);
      }
      anyCharacter = true;
      // Characters beyond the buffer are dropped; the frame check then finds the answer cut.
      if (count < capacity) response[count++] = static_cast<char>(item->value);
      if (!rtu && item->value == '\r') {
        const std::string_view answer(response.data(), count);
        if (setup.filter == nullptr || setup.filter->accept(answer)) {
          out.received = static_cast<int>(count);
          return finish(serial::kReceived);
        }
        // Not the answer awaited: forgotten, and the reply time-out runs on.
        std::fill(response.begin(), response.begin() + static_cast<std::ptrdiff_t>(count), '\0');
        count = 0;
        anyCharacter = false;
      }
    }
    if (rtu && anyCharacter) {
      // A full buffer cannot take more of the answer, and a line that never falls silent must not
      // hold the exchange for ever.
      if (count >= capacity) {
        out.received = static_cast<int>(count);
        return finish(serial::kReceived);
      }
      silenceEnd = clock.now() + silence;
    }
  }
}

}  // namespace kvtr
