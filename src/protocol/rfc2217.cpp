#include "protocol/rfc2217.h"

namespace kvtr {

namespace {

using namespace telnet;

// A COM-PORT-OPTION subnegotiation is a command and at most four bytes of value; anything
// longer is not one we know, and is kept no further than this.
constexpr std::size_t kLongestSubnegotiation = 16;

void put(std::vector<std::uint8_t>& out, std::uint8_t verb, std::uint8_t option) {
  out.insert(out.end(), {kIac, verb, option});
}

// IAC SB COM-PORT-OPTION command value... IAC SE, the value escaped.
void putComPort(std::vector<std::uint8_t>& out, std::uint8_t command, std::span<const std::uint8_t> value) {
  out.insert(out.end(), {kIac, kSb, kOptionComPort, command});
  TelnetSession::Escape(value, out);
  out.insert(out.end(), {kIac, kSe});
}

std::array<std::uint8_t, 4> bigEndian(std::uint32_t value) {
  return {static_cast<std::uint8_t>(value >> 24), static_cast<std::uint8_t>(value >> 16),
          static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value)};
}

}  // namespace

TelnetSession::TelnetSession(Role role) : role_(role) {
  ours_.fill(Q::No);
  theirs_.fill(Q::No);
}

std::vector<std::uint8_t> TelnetSession::Greeting() {
  std::vector<std::uint8_t> out;
  for (const std::uint8_t option : {kOptionBinary, kOptionSuppressGoAhead}) {
    ours_[option] = Q::WantYes;
    put(out, kWill, option);
    theirs_[option] = Q::WantYes;
    put(out, kDo, option);
  }
  if (role_ == Role::Client) {
    ours_[kOptionComPort] = Q::WantYes;
    put(out, kWill, kOptionComPort);
  }
  return out;
}

TelnetSession::ComPortOption TelnetSession::comPortOption() const {
  const Q q = role_ == Role::Client ? ours_[kOptionComPort] : theirs_[kOptionComPort];
  if (q == Q::Yes) return ComPortOption::Agreed;
  if (comPortRefused_) return ComPortOption::Refused;
  return ComPortOption::Pending;
}

void TelnetSession::Escape(std::span<const std::uint8_t> data, std::vector<std::uint8_t>& out) {
  for (const std::uint8_t b : data) {
    out.push_back(b);
    if (b == kIac) out.push_back(kIac);
  }
}

std::vector<std::uint8_t> TelnetSession::LineRequest(const ComPortLine& line) {
  std::vector<std::uint8_t> out;
  if (line.baudRate) putComPort(out, rfc2217::kSetBaudRate, bigEndian(*line.baudRate));
  if (line.dataSize) putComPort(out, rfc2217::kSetDataSize, std::array{*line.dataSize});
  if (line.parity) putComPort(out, rfc2217::kSetParity, std::array{*line.parity});
  if (line.stopSize) putComPort(out, rfc2217::kSetStopSize, std::array{*line.stopSize});
  putComPort(out, rfc2217::kSetControl, std::array{rfc2217::kControlNoFlowControl});
  return out;
}

void TelnetSession::Feed(std::span<const std::uint8_t> bytes, std::vector<std::uint8_t>& data,
                         std::vector<std::uint8_t>& reply) {
  for (const std::uint8_t b : bytes) {
    switch (state_) {
      case State::Data:
        if (b == kIac) state_ = State::Command;
        else data.push_back(b);
        break;
      case State::Command:
        if (b == kIac) {
          data.push_back(kIac);
          state_ = State::Data;
        } else if (b >= kWill) {
          verb_ = b;
          state_ = State::Option;
        } else if (b == kSb) {
          state_ = State::SubOption;
        } else {
          // NOP, GA, a stray SE and the other commands carry nothing for a serial line.
          state_ = State::Data;
        }
        break;
      case State::Option:
        Negotiate(verb_, b, reply);
        state_ = State::Data;
        break;
      case State::SubOption:
        subOption_ = b;
        sub_.clear();
        subOverflow_ = false;
        state_ = State::SubData;
        break;
      case State::SubData:
        if (b == kIac) {
          state_ = State::SubCommand;
        } else if (sub_.size() < kLongestSubnegotiation) {
          sub_.push_back(b);
        } else {
          subOverflow_ = true;
        }
        break;
      case State::SubCommand:
        if (b == kIac) {
          if (sub_.size() < kLongestSubnegotiation) sub_.push_back(kIac);
          else subOverflow_ = true;
          state_ = State::SubData;
        } else if (b == kSe) {
          if (!subOverflow_) Subnegotiation(reply);
          state_ = State::Data;
        } else {
          // A command inside a subnegotiation ends it unfinished; the command itself counts.
          state_ = State::Command;
          std::uint8_t again[] = {b};
          Feed(again, data, reply);
        }
        break;
    }
  }
}

void TelnetSession::Negotiate(std::uint8_t verb, std::uint8_t option, std::vector<std::uint8_t>& reply) {
  const bool common = option == kOptionBinary || option == kOptionSuppressGoAhead;
  const bool weMay = common || (option == kOptionComPort && role_ == Role::Client);
  const bool theyMay = common || (option == kOptionComPort && role_ == Role::Server);
  switch (verb) {
    case kDo:
      if (ours_[option] == Q::No) {
        if (weMay) {
          ours_[option] = Q::Yes;
          put(reply, kWill, option);
        } else {
          put(reply, kWont, option);
        }
      } else {
        ours_[option] = Q::Yes;  // the answer to our WILL, or a repeat: nothing to say
      }
      break;
    case kDont:
      if (ours_[option] == Q::Yes) put(reply, kWont, option);
      if (ours_[option] != Q::No && option == kOptionComPort) comPortRefused_ = true;
      ours_[option] = Q::No;
      break;
    case kWill:
      if (theirs_[option] == Q::No) {
        if (theyMay) {
          theirs_[option] = Q::Yes;
          put(reply, kDo, option);
        } else {
          put(reply, kDont, option);
        }
      } else {
        theirs_[option] = Q::Yes;
      }
      break;
    case kWont:
      if (theirs_[option] == Q::Yes) put(reply, kDont, option);
      theirs_[option] = Q::No;
      break;
    default: break;
  }
}

void TelnetSession::Subnegotiation(std::vector<std::uint8_t>& reply) {
  if (subOption_ != kOptionComPort || sub_.empty()) return;
  const std::uint8_t command = sub_[0];
  const std::span<const std::uint8_t> value = std::span<const std::uint8_t>(sub_).subspan(1);

  if (role_ == Role::Client) {
    // The server's confirmations: what its serial side now uses.
    if (command == rfc2217::kServerOffset + rfc2217::kSetBaudRate && value.size() == 4) {
      told_.baudRate = (std::uint32_t{value[0]} << 24) | (std::uint32_t{value[1]} << 16) |
                       (std::uint32_t{value[2]} << 8) | std::uint32_t{value[3]};
    } else if (value.size() == 1) {
      if (command == rfc2217::kServerOffset + rfc2217::kSetDataSize) told_.dataSize = value[0];
      if (command == rfc2217::kServerOffset + rfc2217::kSetParity) told_.parity = value[0];
      if (command == rfc2217::kServerOffset + rfc2217::kSetStopSize) told_.stopSize = value[0];
    }
    return;
  }

  if (command >= rfc2217::kServerOffset) return;
  const std::uint8_t answer = static_cast<std::uint8_t>(command + rfc2217::kServerOffset);
  if (command == rfc2217::kSetBaudRate && value.size() == 4) {
    const std::uint32_t baud = (std::uint32_t{value[0]} << 24) | (std::uint32_t{value[1]} << 16) |
                               (std::uint32_t{value[2]} << 8) | std::uint32_t{value[3]};
    // 0 asks what the speed is.
    if (baud != 0) told_.baudRate = current_.baudRate = baud;
    putComPort(reply, answer, bigEndian(current_.baudRate.value_or(0)));
    return;
  }
  const auto setting = [&](std::optional<std::uint8_t> ComPortLine::*field) {
    if (value[0] != 0) told_.*field = current_.*field = value[0];
    putComPort(reply, answer, std::array{(current_.*field).value_or(0)});
  };
  if (value.size() == 1 && command == rfc2217::kSetDataSize) return setting(&ComPortLine::dataSize);
  if (value.size() == 1 && command == rfc2217::kSetParity) return setting(&ComPortLine::parity);
  if (value.size() == 1 && command == rfc2217::kSetStopSize) return setting(&ComPortLine::stopSize);
  // Flow control and the rest: confirmed as asked, for nothing else can be done with them here.
  putComPort(reply, answer, value);
}

}  // namespace kvtr
