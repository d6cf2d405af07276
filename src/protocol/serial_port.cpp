#include "protocol/serial_port.h"

#include "protocol/network_port.h"
#include "protocol/network_port_name.h"

namespace kvtr {

SerialPort::SerialPort() : network_(std::make_unique<NetworkPort>()) {}

SerialPort::~SerialPort() {
  // Closed without the purge of close(): a port that cannot be purged is let go all the same.
  releaseHandle();
}

bool SerialPort::isOpen() const { return handle_.load() != kNoHandle || network_->isOpen(); }

void SerialPort::computeTiming() {
  characterTimeMs_ = kvtr::characterTimeMs(settings_);
  timeouts_ = computeTimeouts(characterTimeMs_);
  replyTimeoutMs_ = kvtr::replyTimeoutMs(timeouts_);
}

int SerialPort::open() {
  network_->close();
  if (const auto name = parseNetworkPortName(settings_.portName)) {
    releaseHandle();
    return openNetwork(*name);
  }
  return openDevice();
}

int SerialPort::close() {
  if (!network_->isOpen()) return closeDevice();
  network_->close();
  return serial::kClosed;
}

int SerialPort::exchange(std::span<const std::uint8_t> request, std::span<char> response, int& received,
                         int protocolMode, AnswerFilter* filter) {
  if (network_->isOpen()) return exchangeNetwork(request, response, received, protocolMode, filter);
  return exchangeDevice(request, response, received, protocolMode, filter);
}

int SerialPort::openNetwork(const NetworkPortName& name) {
  devicePath_ = settings_.portName;
  if (const int check = checkLineSettings(settings_); check != serial::kOpened) {
    return fail(check, serial::PortFailure::Settings);
  }
  computeTiming();
  replyTimeoutMs_ = static_cast<std::uint16_t>(replyTimeoutMs_ + kNetworkReplyAllowanceMs);
  const NetworkPort::Opened opened = network_->open(name, settings_, stop_);
  return fail(opened.result, opened.failure, opened.code);
}

int SerialPort::exchangeNetwork(std::span<const std::uint8_t> request, std::span<char> response, int& received,
                                int protocolMode, AnswerFilter* filter) {
  if (response.size() > static_cast<std::size_t>(serial::kResponseCapacity)) {
    response = response.first(serial::kResponseCapacity);
  }
  LineExchangeSetup setup;
  setup.characterTimeMs = characterTimeMs_;
  setup.timeouts = timeouts_;
  setup.protocolMode = protocolMode;
  setup.filter = filter;
  // The request leaves the gateway's serial side as it leaves an automatic converter; the line
  // exchange counts the reply time-out from its last character there.
  setup.replyAllowanceMs = kNetworkReplyAllowanceMs;
  setup.silenceAllowanceMs = kNetworkSilenceAllowanceMs;
  const LineExchangeResult r = network_->exchange(setup, request, response, stop_);
  received = r.received;
  // A connection that has gone is a port that has vanished: closed, and reported as such.
  if (r.portFailed) {
    network_->close();
    (void)fail(serial::kAborted, serial::PortFailure::Vanished);
  }
  return r.result;
}

}  // namespace kvtr
