#include "protocol/network_port.h"

#include <algorithm>
#include <chrono>
#include <deque>

namespace kvtr {

namespace {

using Wait = SerialLineIo::Wait;
using std::chrono::milliseconds;

// Sends all of `bytes` or fails: requests and Telnet answers are a few dozen bytes, which a
// healthy connection takes at once.
bool sendAll(TcpSocket& socket, std::span<const std::uint8_t> bytes, Event& stop) {
  const auto deadline = std::chrono::steady_clock::now() + milliseconds(kNetworkConnectTimeoutMs);
  while (!bytes.empty()) {
    const long n = socket.write(bytes);
    if (n < 0) return false;
    bytes = bytes.subspan(static_cast<std::size_t>(n));
    if (bytes.empty()) break;
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline || socket.waitWritable(deadline - now, stop) != Wait::Ready) return false;
  }
  return true;
}

// The line of one exchange over the gateway's connection.
class NetworkLine final : public SerialLineIo {
 public:
  NetworkLine(TcpSocket& socket, TelnetSession* telnet, Event& stop) : socket_(socket), telnet_(telnet), stop_(stop) {}

  void purge() override {
    // What the gateway sent before the request is no answer to it.
    pending_.clear();
    std::uint8_t scratch[256];
    while (take(scratch) > 0) {
    }
    pending_.clear();
  }

  bool stopRequested() override { return stop_.isSet(); }

  Wait waitReadable(Clock::Duration timeout) override {
    if (stop_.isSet()) return Wait::Stopped;
    if (!pending_.empty()) return Wait::Ready;
    return socket_.waitReadable(timeout, stop_);
  }

  Wait waitWritable(Clock::Duration timeout) override { return socket_.waitWritable(timeout, stop_); }

  // What the gateway still has to send on its serial side is not waited for: the reply time-out
  // counts it in, as behind an automatic converter, so that an answer that comes early is taken
  // at once.
  Wait drain(Clock::Duration) override { return stop_.isSet() ? Wait::Stopped : Wait::Ready; }

  long read(std::span<std::uint8_t> into) override {
    if (pending_.empty()) {
      const long n = take(into);
      if (n <= 0) return n;
    }
    const std::size_t count = std::min(into.size(), pending_.size());
    std::copy_n(pending_.begin(), count, into.begin());
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(count));
    return static_cast<long>(count);
  }

  long write(std::span<const std::uint8_t> bytes) override {
    std::vector<std::uint8_t> out;
    if (telnet_ != nullptr) TelnetSession::Escape(bytes, out);
    else out.assign(bytes.begin(), bytes.end());
    if (!sendAll(socket_, out, stop_)) return -1;
    return static_cast<long>(bytes.size());
  }

  void setRts(bool) override {}
  void characterGap(float) override {}
  std::uint64_t lineErrorCount() override { return 0; }

 private:
  // Reads what the socket has into pending_ (through the Telnet layer); the count of data bytes
  // now pending, 0 when none, negative when the connection has ended.
  long take(std::span<std::uint8_t> scratch) {
    const long n = socket_.read(scratch);
    if (n <= 0) return n;
    const auto got = scratch.first(static_cast<std::size_t>(n));
    if (telnet_ == nullptr) {
      pending_.insert(pending_.end(), got.begin(), got.end());
    } else {
      std::vector<std::uint8_t> data;
      std::vector<std::uint8_t> reply;
      telnet_->Feed(got, data, reply);
      pending_.insert(pending_.end(), data.begin(), data.end());
      if (!reply.empty() && !sendAll(socket_, reply, stop_)) return -1;
    }
    return static_cast<long>(pending_.size());
  }

  TcpSocket& socket_;
  TelnetSession* telnet_;
  Event& stop_;
  std::deque<std::uint8_t> pending_;
};

// The gateway has confirmed every setting that was asked of it.
bool allConfirmed(const ComPortLine& told) {
  return told.baudRate && told.dataSize && told.parity && told.stopSize;
}

}  // namespace

ComPortLine comPortLineOf(const SerialSettings& settings) {
  ComPortLine line;
  line.baudRate = static_cast<std::uint32_t>(settings.baudRate);
  line.dataSize = static_cast<std::uint8_t>(settings.dataBits);
  switch (parityFromCode(settings.parityCode).value_or(Parity::None)) {
    case Parity::None: line.parity = rfc2217::kParityNone; break;
    case Parity::Odd: line.parity = rfc2217::kParityOdd; break;
    case Parity::Even: line.parity = rfc2217::kParityEven; break;
    case Parity::Mark: line.parity = rfc2217::kParityMark; break;
    case Parity::Space: line.parity = rfc2217::kParitySpace; break;
  }
  line.stopSize = static_cast<std::uint8_t>(settings.stopBits == 2 ? 2 : 1);
  return line;
}

NetworkPort::NetworkPort() = default;
NetworkPort::~NetworkPort() = default;

void NetworkPort::close() {
  socket_.close();
  telnet_.reset();
}

NetworkPort::Opened NetworkPort::open(const NetworkPortName& name, const SerialSettings& settings, Event& stop) {
  close();
  Opened out;
  using serial::PortFailure;
  int error = 0;
  switch (socket_.connect(name.host, name.port, milliseconds(kNetworkConnectTimeoutMs), stop, error)) {
    case TcpSocket::Connect::Connected: break;
    case TcpSocket::Connect::NotResolved: out.failure = PortFailure::NoSuchPort; return out;
    case TcpSocket::Connect::Stopped: out.failure = PortFailure::Other; return out;
    case TcpSocket::Connect::Failed:
    case TcpSocket::Connect::TimedOut:
      out.failure = PortFailure::NoConnection;
      out.code = error;
      return out;
  }
  if (name.kind == NetworkPortKind::RawTcp) {
    out.result = serial::kOpened;
    return out;
  }

  // RFC 2217: the COM port option first, then the line settings once the gateway has agreed to
  // it, then the gateway's confirmation of each.
  telnet_ = std::make_unique<TelnetSession>(TelnetSession::Role::Client);
  const ComPortLine wanted = comPortLineOf(settings);
  const auto failSettings = [&] {
    close();
    out.result = serial::kCannotSetState;
    out.failure = PortFailure::Settings;
    return out;
  };
  if (!sendAll(socket_, telnet_->Greeting(), stop)) return failSettings();
  bool requested = false;
  const auto deadline = std::chrono::steady_clock::now() + milliseconds(kNetworkNegotiationTimeoutMs);
  std::uint8_t chunk[256];
  for (;;) {
    if (!requested && telnet_->comPortOption() == TelnetSession::ComPortOption::Agreed) {
      if (!sendAll(socket_, TelnetSession::LineRequest(wanted), stop)) return failSettings();
      requested = true;
    }
    if (telnet_->comPortOption() == TelnetSession::ComPortOption::Refused) return failSettings();
    if (requested && allConfirmed(telnet_->told())) {
      // A gateway confirms the value it uses: one that differs has refused ours.
      if (!(telnet_->told() == wanted)) return failSettings();
      out.result = serial::kOpened;
      return out;
    }
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) return failSettings();
    if (socket_.waitReadable(deadline - now, stop) != Wait::Ready) return failSettings();
    const long n = socket_.read(chunk);
    if (n < 0) return failSettings();
    std::vector<std::uint8_t> data;
    std::vector<std::uint8_t> reply;
    telnet_->Feed(std::span<const std::uint8_t>(chunk, static_cast<std::size_t>(n)), data, reply);
    if (!reply.empty() && !sendAll(socket_, reply, stop)) return failSettings();
  }
}

LineExchangeResult NetworkPort::exchange(const LineExchangeSetup& setup, std::span<const std::uint8_t> request,
                                         std::span<char> response, Event& stop) {
  NetworkLine line(socket_, telnet_.get(), stop);
  LineExchangeSetup network = setup;
  network.automaticConverter = true;
  return exchangeOverLine(line, Clock::system(), network, request, response);
}

}  // namespace kvtr
