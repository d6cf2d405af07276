// The simulated КВТР module: what it does with a frame it has heard. No input or output happens
// here and time is passed in, so that every rule can be tried without a line.
//
// Device protocol, as the module serves it:
//   - A frame counts only when its tetrads, length field and CRC check; anything else is noise on
//     the line and gets no answer, as does a frame for another address.
//   - Addresses: base address .. base + 7. An offset above 0 carries the index of an indexed
//     parameter (the 3 low address bits); a frame at such an address that names a parameter
//     without index is for a neighbour and gets no answer.
//   - Reads carry no data, or the 2-byte index. Writes carry the value bytes, followed by the
//     2-byte index when the index travels in the data field. The answer carries the value as the
//     module keeps it, followed by the same index bytes when the request had them.
//   - Error replies: "n.Err" with the code as the only data byte:
//       40 unknown parameter, 49 wrong data size, 53 index beyond the limiter, 51 write refused by
//       the access attribute, 6 value beyond the limits, 55 enumeration position not in the
//       list, 71 a combination of network settings the module refuses, 3 write to a parameter
//       that cannot be written, 8 attribute exchange for a parameter without attributes.
//   - "M.s.t.r." reads ([index 00 ii] hash) or writes (attribute [00 ii] hash) the attribute
//     byte of a parameter instance and answers attribute [00 ii] hash.
//   - "CHAr" keeps the network name as four character codes at indexes 0..3; read without
//     index it gives all four as a name (first character in the last byte).
//   - "APLY" is acknowledged at the old settings; the module then listens with the network
//     settings written before (bPS, LEn, PrtY, Sbit, A.Len, Addr).
//   - "INIT" is acknowledged, then the module restarts as after power-up: it takes the stored
//     network settings, starts the protocol chosen in "Prot", sets counters that are not kept
//     ("C.Sav") to their preset and outputs to their power-up state ("O.Pon").
//   - In a foreign protocol the module answers only that protocol's switch command (an echo
//     in both Modbus framings, "!" and the address in the '%' protocol) and then goes back to
//     the device protocol.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <random>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/protocol_switch.h"
#include "sim/line_settings.h"
#include "sim/parameter_table.h"
#include "sim/value_store.h"

namespace kvtr::sim {

// Milliseconds since the simulator started.
using Millis = std::int64_t;

// What a "dev", "ver" and "exit" read tells. Texts are UTF-8; at most 8 characters travel.
struct ModuleIdentity {
  std::string device = "KVTR";
  std::string version = "1.0";
};

// How the discrete inputs behave. Automatic inputs are square waves: input k (0..11) changes
// every (k + 1) x halfPeriodMs, shifted by a phase taken from the seed. Fixed inputs keep the
// given mask until it is changed.
struct InputBehaviour {
  bool automatic = true;
  std::uint16_t mask = 0;
  int halfPeriodMs = 500;
  std::uint64_t seed = 1;
};

inline constexpr int kInputCount = 12;
inline constexpr int kOutputCount = 8;
// Offsets 0..7 of the address carry an index (3 bits).
inline constexpr int kAddressIndexSpan = 8;

// Error codes the module sends in "n.Err".
enum DeviceErrorCode : std::uint8_t {
  kErrRomParameter = 3,
  kErrBeyondLimits = 6,
  kErrNoAttributes = 8,
  kErrUnknownParameter = 40,
  kErrDataSize = 49,
  kErrRefusedByAttributes = 51,
  kErrIndexBeyondLimiter = 53,
  kErrCodeNotUsed = 55,
  kErrInvalidCombination = 71,
};

struct Reply {
  bool answered = false;
  std::string line;      // the answer as it goes on the line
  std::string note;      // for the frame log: why there is no answer, or what the frame did
  std::uint16_t hash = 0;  // of the request (0 for a foreign frame)
  LineSettings sentWith;   // the settings the answer goes out with (APLY switches after it)
};

class SimModule {
 public:
  // `memory` is what the module kept (a state file); instances missing in it get their factory
  // values. The module then powers up with the network settings and the protocol it keeps,
  // except those the overrides replace (and keeps the replacements).
  SimModule(ParameterTable table, ModuleIdentity identity, InputBehaviour inputs, std::optional<ValueStore> memory,
            const LineOverrides& line, std::optional<ProtocolMode> protocol, Millis now);

  // A complete native frame, '#' up to and including the carriage return.
  Reply HandleNative(std::string_view frame, Millis now);
  // A complete frame of the foreign protocol the module runs.
  Reply HandleForeign(std::span<const std::uint8_t> frame, Millis now);

  [[nodiscard]] const LineSettings& line() const { return line_; }
  [[nodiscard]] ProtocolMode protocol() const { return protocol_; }
  // "t.Ans": the pause before every answer.
  [[nodiscard]] int replyDelayMs() const;
  [[nodiscard]] const ParameterTable& table() const { return table_; }
  [[nodiscard]] const ValueStore& store() const { return store_; }

  // The memory for a state file, live counters brought up to `now`.
  [[nodiscard]] const ValueStore& SaveState(Millis now);
  // True when something a state file keeps has changed since the last SaveState.
  [[nodiscard]] bool dirty() const { return dirty_; }

  // Back to the factory memory (the line settings and protocol stay).
  void RestoreFactory(Millis now);
  // Inputs: a fixed mask (edges are counted at once) or the automatic waves again.
  void SetInputsFixed(std::uint16_t mask, Millis now);
  void SetInputsAutomatic(Millis now);
  // The input mask as "r.Cn" reports it at `now` (inversions applied).
  [[nodiscard]] std::uint16_t InputMask(Millis now) const;
  // Sets a parameter instance's attribute byte; false for an unknown name or index.
  bool SetAttributes(std::string_view name, int index, std::uint8_t attributes);
  // The value bytes of a parameter instance as a read would answer them, or empty.
  [[nodiscard]] std::optional<std::vector<std::uint8_t>> ValueBytes(std::string_view name, int index, Millis now);

 private:
  struct Request;

 public:
  struct Answer;

 private:
  Answer Dispatch(const Request& request, Millis now);
  Answer ReadOrWrite(const Request& request, const SimParameter& p, Millis now);
  Answer Attributes(const Request& request);
  Answer NetworkName(const Request& request);
  Answer Service(const Request& request, Millis now);

  // Factory bytes of one instance.
  [[nodiscard]] std::vector<std::uint8_t> FactoryBytes(const SimParameter& p, int index) const;
  void FillMissing();
  void PowerUp(Millis now);
  // Checks a value write; 0 when the module takes it.
  [[nodiscard]] int CheckWrite(const SimParameter& p, int index, std::span<const std::uint8_t> value) const;
  void AfterWrite(const SimParameter& p, int index, Millis now);
  // The current bytes of an instance: live values computed, others from memory.
  [[nodiscard]] std::vector<std::uint8_t> CurrentBytes(const SimParameter& p, int index, Millis now);

  // Stored settings and numbers by name.
  [[nodiscard]] unsigned StoredNumber(std::string_view name, int index, unsigned fallback) const;
  [[nodiscard]] unsigned StoredNumber(std::uint16_t hash, int index, unsigned fallback) const;
  void StoreNumber(std::string_view name, int index, unsigned value, std::size_t width);
  [[nodiscard]] NetworkBytes StoredNetwork() const;
  void StoreNetwork(const LineSettings& line);
  [[nodiscard]] int StoredProtocol() const;

  // Live inputs, counters and outputs.
  [[nodiscard]] bool RawInput(int k, Millis t) const;
  void AdvanceCounters(Millis now);
  void CountEdges(int k, unsigned rising, unsigned falling);
  void CheckLinkLoss(Millis now);
  void SetOutput(int k, float value);
  [[nodiscard]] float Output(int k) const;

  ParameterTable table_;
  ModuleIdentity identity_;
  InputBehaviour inputs_;
  std::vector<Millis> phases_;
  ValueStore store_;
  LineSettings line_;
  ProtocolMode protocol_ = ProtocolMode::Native;
  std::uint8_t exitCode_ = 7;  // "сброс по питанию": the module was just switched on
  Millis countedUpTo_ = 0;
  Millis lastHeard_ = 0;
  bool dirty_ = false;
};

// Float helpers for the 4-byte and 3-byte (upper bytes) single-precision encodings.
[[nodiscard]] std::vector<std::uint8_t> encodeSingle(float value, std::size_t byteCount);
[[nodiscard]] float decodeSingle(std::span<const std::uint8_t> bytes);

}  // namespace kvtr::sim
