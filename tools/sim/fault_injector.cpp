#include "sim/fault_injector.h"

#include <array>
#include <span>

#include "protocol/frame_codec.h"

namespace kvtr::sim {

namespace {

constexpr std::array<std::string_view, kFaultKindCount> kNames = {"drop",    "garbage",    "lost-start",
                                                                  "bad-crc", "other-hash", "late"};

}  // namespace

std::string_view faultName(FaultKind kind) { return kNames[static_cast<std::size_t>(kind)]; }

std::optional<FaultKind> parseFaultName(std::string_view name) {
  for (std::size_t i = 0; i < kNames.size(); ++i) {
    if (kNames[i] == name) return static_cast<FaultKind>(i);
  }
  return std::nullopt;
}

FaultInjector::FaultInjector(FaultSettings settings) : settings_(settings), random_(settings.seed) {}

void FaultInjector::SetRule(FaultKind kind, const FaultRule& rule) {
  settings_.rule(kind) = rule;
  seen_[static_cast<std::size_t>(kind)] = 0;
}

void FaultInjector::ClearRules() {
  for (std::size_t i = 0; i < kFaultKindCount; ++i) SetRule(static_cast<FaultKind>(i), {});
}

bool FaultInjector::Fires(FaultKind kind) {
  const FaultRule& rule = settings_.rule(kind);
  if (!rule.active()) return false;
  const std::uint64_t n = ++seen_[static_cast<std::size_t>(kind)];
  bool fires = (rule.first > 0 && n <= static_cast<std::uint64_t>(rule.first)) ||
               (rule.every > 0 && n % static_cast<std::uint64_t>(rule.every) == 0);
  if (rule.probability > 0.0) {
    // Drawn for every answer, so that the sequence of draws does not depend on the other rules.
    const bool drawn = std::uniform_real_distribution<double>(0.0, 1.0)(random_) < rule.probability;
    fires = fires || drawn;
  }
  return fires;
}

std::string FaultInjector::Garbage() {
  // Noise as a receiver decodes it: random bytes, then a carriage return so that the program's
  // read ends at once instead of running into its time-out.
  const std::size_t length = 4 + random_() % 27;
  std::string text;
  for (std::size_t i = 0; i < length; ++i) {
    char c = static_cast<char>(0x20 + random_() % 0xE0);
    if (i == 0 && c == '#') c = '~';
    text.push_back(c);
  }
  text.push_back('\r');
  return text;
}

AnswerPlan FaultInjector::Plan(const std::string& answer, bool native, const std::vector<std::uint16_t>& otherHashes) {
  AnswerPlan plan;
  plan.bytes = answer;
  plan.extraDelayMs = settings_.delayMs;
  plan.byteGapMs = settings_.slowReplyMs;
  // Every rule sees every answer, in a fixed order, so that each count stays true to its name.
  std::array<bool, kFaultKindCount> fired{};
  for (std::size_t i = 0; i < kFaultKindCount; ++i) fired[i] = Fires(static_cast<FaultKind>(i));
  for (std::size_t i = 0; i < kFaultKindCount; ++i) {
    if (!fired[i]) continue;
    const auto kind = static_cast<FaultKind>(i);
    const bool framed = native && answer.size() > 2 && answer.front() == kFrameStart;
    switch (kind) {
      case FaultKind::Drop: plan.send = false; break;
      case FaultKind::Garbage: plan.bytes = Garbage(); break;
      case FaultKind::LostStart:
        if (!framed) continue;
        plan.bytes = answer.substr(1);
        break;
      case FaultKind::BadCrc:
        if (!framed) continue;
        plan.bytes = withBadCrc(answer, random_());
        break;
      case FaultKind::OtherHash: {
        if (!framed || otherHashes.empty()) continue;
        plan.bytes = withHash(answer, otherHashes[random_() % otherHashes.size()]);
        break;
      }
      case FaultKind::Late: plan.extraDelayMs += settings_.lateMs; break;
    }
    plan.fault = std::string(faultName(kind));
    break;
  }
  return plan;
}

std::string withBadCrc(const std::string& frame, std::uint64_t choice) {
  // The CRC is the last two tetrad characters before the carriage return; change the last one
  // to one of the 15 other tetrad characters.
  std::string spoilt = frame;
  const std::size_t at = spoilt.size() - 2;
  const int nibble = spoilt[at] - 'G';
  spoilt[at] = static_cast<char>('G' + (nibble + 1 + static_cast<int>(choice % 15)) % 16);
  return spoilt;
}

std::string withHash(const std::string& frame, std::uint16_t hash) {
  const std::size_t count = (frame.size() - 2) / 2;
  std::array<std::uint8_t, kMaxFrameBytes> bytes{};
  if (count < kFrameOverhead || count > kMaxFrameBytes) return frame;
  (void)decodeTetrads(std::span<const char>(frame.data() + 1, 2 * count), std::span<std::uint8_t>(bytes.data(), count));
  bytes[2] = static_cast<std::uint8_t>(hash >> 8);
  bytes[3] = static_cast<std::uint8_t>(hash & 0xFF);
  const std::uint16_t crc = frameCrc(std::span<const std::uint8_t>(bytes.data(), count - 2));
  bytes[count - 2] = static_cast<std::uint8_t>(crc >> 8);
  bytes[count - 1] = static_cast<std::uint8_t>(crc & 0xFF);
  std::string rebuilt(1, kFrameStart);
  rebuilt.resize(1 + 2 * count);
  encodeTetrads(std::span<const std::uint8_t>(bytes.data(), count), std::span<char>(rebuilt.data() + 1, 2 * count));
  rebuilt.push_back(kFrameEnd);
  return rebuilt;
}

}  // namespace kvtr::sim
