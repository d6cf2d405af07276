// The simulated module's memory: for every parameter and index the value as its data field
// carries it, and the attribute byte. The module answers a read with the bytes it keeps, so a
// value written is read back exactly as it was sent.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>


namespace kvtr::sim {

class ParameterTable;

// Attribute byte: bit 0 editable, bit 1 owned by the user. A new module has every parameter
// editable and owned by the user, as the program assumes for a parameter it has not read.
inline constexpr std::uint8_t kAttrEditable = 0x01;
inline constexpr std::uint8_t kAttrUserOwned = 0x02;
inline constexpr std::uint8_t kDefaultAttributes = kAttrEditable | kAttrUserOwned;

struct Slot {
  std::vector<std::uint8_t> bytes;
  std::uint8_t attributes = kDefaultAttributes;
  bool operator==(const Slot&) const = default;
};

class ValueStore {
 public:
  using Key = std::pair<std::uint16_t, int>;  // hash, index (0 without index)

  [[nodiscard]] const Slot* Find(std::uint16_t hash, int index) const;
  [[nodiscard]] Slot* Find(std::uint16_t hash, int index);
  Slot& At(std::uint16_t hash, int index) { return slots_[{hash, index}]; }
  [[nodiscard]] const std::map<Key, Slot>& slots() const { return slots_; }
  void Clear() { slots_.clear(); }
  bool operator==(const ValueStore&) const = default;

 private:
  std::map<Key, Slot> slots_;
};

// The memory as a state file keeps it, lines of text:
//   kvtr-sim state 1
//   value NAME INDEX HEX ATTR        e.g. "value I.Flt 3 0A 3"; HEX "-" for no bytes
// The line settings and the protocol need no lines of their own: the module keeps them in its
// network parameters and takes them from there when it powers up.
[[nodiscard]] std::string StoreToText(const ValueStore& store, const ParameterTable& table);
// Values of names the table does not know are skipped (the descriptor may have changed); any
// malformed line fails the whole text with a message naming the line.
[[nodiscard]] std::optional<ValueStore> StoreFromText(std::string_view text, const ParameterTable& table,
                                                      std::string* error);

}  // namespace kvtr::sim
