// Faults the simulated module puts on its answers, on named triggers, so that the program's
// retries, time-outs and checks meet every failure a real line produces. Every random choice
// comes from one generator seeded with --seed, so a run can be repeated exactly.
//
// Each fault kind fires on the answers its rule selects: the first N answers, every N-th answer,
// or each answer with a probability. The kinds are tried in this order and the first that fires
// decides; the others still count the answer.
//   drop        no answer at all (the program times out)
//   garbage     random characters ending in a carriage return instead of the answer
//   lost-start  the answer without its '#'
//   bad-crc     the answer with one CRC character changed
//   other-hash  a well-formed answer for another parameter
//   late        the answer, but only after --late-ms milliseconds
// Independent of them: a fixed extra delay before every answer, and a byte-by-byte reply with a
// pause after each character.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace kvtr::sim {

enum class FaultKind { Drop, Garbage, LostStart, BadCrc, OtherHash, Late };
inline constexpr std::size_t kFaultKindCount = 6;

[[nodiscard]] std::string_view faultName(FaultKind kind);
[[nodiscard]] std::optional<FaultKind> parseFaultName(std::string_view name);

struct FaultRule {
  int first = 0;             // the first N answers after the rule was set
  int every = 0;             // every N-th answer
  double probability = 0.0;  // each answer with this probability

  [[nodiscard]] bool active() const { return first > 0 || every > 0 || probability > 0.0; }
};

struct FaultSettings {
  std::array<FaultRule, kFaultKindCount> rules{};
  int lateMs = 500;
  int delayMs = 0;      // before every answer
  int slowReplyMs = 0;  // pause after every character of an answer
  std::uint64_t seed = 1;

  [[nodiscard]] FaultRule& rule(FaultKind kind) { return rules[static_cast<std::size_t>(kind)]; }
  [[nodiscard]] const FaultRule& rule(FaultKind kind) const { return rules[static_cast<std::size_t>(kind)]; }
};

// What to send for one answer.
struct AnswerPlan {
  bool send = true;
  std::string bytes;
  int extraDelayMs = 0;  // before the first character
  int byteGapMs = 0;     // after every character
  std::string fault;     // the fault's name, empty when none fired
};

class FaultInjector {
 public:
  explicit FaultInjector(FaultSettings settings);

  // Replaces a rule; its counts start again.
  void SetRule(FaultKind kind, const FaultRule& rule);
  void ClearRules();
  FaultSettings& settings() { return settings_; }

  // `answer` is a native answer frame; `otherHashes` the hashes a wrong answer may carry.
  // Foreign answers (`native` false) can be dropped, delayed or garbled but have no CRC tetrads
  // or hash to spoil: those kinds leave them as they are.
  AnswerPlan Plan(const std::string& answer, bool native, const std::vector<std::uint16_t>& otherHashes);

 private:
  bool Fires(FaultKind kind);
  std::string Garbage();

  FaultSettings settings_;
  std::array<std::uint64_t, kFaultKindCount> seen_{};
  std::mt19937_64 random_;
};

// Helpers that spoil a native frame ('#' .. carriage return).
[[nodiscard]] std::string withBadCrc(const std::string& frame, std::uint64_t choice);
[[nodiscard]] std::string withHash(const std::string& frame, std::uint16_t hash);

}  // namespace kvtr::sim
