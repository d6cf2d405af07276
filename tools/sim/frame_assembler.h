// Cuts the characters arriving on the line into frames of the protocol the module runs:
//   device protocol  '#' .. carriage return (characters before a '#' are noise)
//   Modbus RTU       binary; a frame ends with 3.5 character times of silence, or as soon as
//                    the bytes received end in a complete switch command (its CRC checks)
//   Modbus ASCII     ':' .. line feed
//   '%' protocol     '%' .. carriage return
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "protocol/protocol_switch.h"

namespace kvtr::sim {

struct ReceivedFrame {
  std::string bytes;
  std::int64_t firstAt = 0;  // milliseconds: when its first character arrived
};

class FrameAssembler {
 public:
  // Longest frame kept; longer runs without an end are noise and are dropped.
  static constexpr std::size_t kMaxFrame = 256;

  void SetMode(ProtocolMode mode);
  [[nodiscard]] ProtocolMode mode() const { return mode_; }

  // Takes received characters; complete frames are appended to `out`.
  void Feed(std::string_view bytes, std::int64_t now, std::vector<ReceivedFrame>& out);
  // Modbus RTU: the frame pending since `lastAt` ends once `silenceMs` have passed without a
  // character. Returns when that happens, or nothing when no frame is pending.
  [[nodiscard]] std::optional<std::int64_t> SilenceDeadline(double silenceMs) const;
  void Expire(std::int64_t now, double silenceMs, std::vector<ReceivedFrame>& out);

 private:
  void Emit(std::vector<ReceivedFrame>& out);

  ProtocolMode mode_ = ProtocolMode::Native;
  std::string pending_;
  bool inFrame_ = false;
  std::int64_t firstAt_ = 0;
  std::int64_t lastAt_ = 0;
};

}  // namespace kvtr::sim
