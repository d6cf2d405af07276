#include "sim/frame_assembler.h"

#include <cmath>
#include <span>

namespace kvtr::sim {

namespace {

// Address, function 05, coil F0 F0, value FF 00, CRC: the RTU switch command is 8 bytes.
constexpr std::size_t kRtuSwitchLength = 8;

char startOf(ProtocolMode mode) {
  switch (mode) {
    case ProtocolMode::ModbusAscii: return ':';
    case ProtocolMode::PercentCommand: return '%';
    default: return '#';
  }
}

char endOf(ProtocolMode mode) { return mode == ProtocolMode::ModbusAscii ? '\n' : '\r'; }

}  // namespace

void FrameAssembler::SetMode(ProtocolMode mode) {
  if (mode == mode_) return;
  mode_ = mode;
  pending_.clear();
  inFrame_ = false;
}

void FrameAssembler::Emit(std::vector<ReceivedFrame>& out) {
  out.push_back({pending_, firstAt_});
  pending_.clear();
  inFrame_ = false;
}

void FrameAssembler::Feed(std::string_view bytes, std::int64_t now, std::vector<ReceivedFrame>& out) {
  for (const char c : bytes) {
    if (mode_ == ProtocolMode::ModbusRtu) {
      if (pending_.empty()) firstAt_ = now;
      pending_.push_back(c);
      lastAt_ = now;
      if (pending_.size() >= kRtuSwitchLength) {
        // A complete switch command at the end of what arrived is a frame at once: the module
        // need not wait for the silence (a loaded machine may stretch it past 3.5 characters).
        const std::string_view tail = std::string_view(pending_).substr(pending_.size() - kRtuSwitchLength);
        const auto* data = reinterpret_cast<const std::uint8_t*>(tail.data());
        if (checkSwitchResponse(ProtocolMode::ModbusRtu, std::span<const std::uint8_t>(data, tail.size())).result ==
            kLinkOk) {
          pending_ = std::string(tail);
          Emit(out);
          continue;
        }
      }
      if (pending_.size() > kMaxFrame) pending_.erase(0, pending_.size() - kMaxFrame);
      continue;
    }
    if (c == startOf(mode_)) {
      // A new start character begins the frame again: the earlier one was broken off.
      pending_.assign(1, c);
      inFrame_ = true;
      firstAt_ = now;
      continue;
    }
    if (!inFrame_) continue;
    pending_.push_back(c);
    if (c == endOf(mode_)) {
      Emit(out);
    } else if (pending_.size() > kMaxFrame) {
      pending_.clear();
      inFrame_ = false;
    }
  }
}

std::optional<std::int64_t> FrameAssembler::SilenceDeadline(double silenceMs) const {
  if (mode_ != ProtocolMode::ModbusRtu || pending_.empty()) return std::nullopt;
  return lastAt_ + static_cast<std::int64_t>(std::ceil(silenceMs));
}

void FrameAssembler::Expire(std::int64_t now, double silenceMs, std::vector<ReceivedFrame>& out) {
  const auto deadline = SilenceDeadline(silenceMs);
  if (deadline && now >= *deadline) Emit(out);
}

}  // namespace kvtr::sim
