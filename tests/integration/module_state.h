// What the simulated module holds, read from its state file, and the frames it heard, read from
// its frame log: the oracles of the tests that run module jobs against it.
#pragma once

#include <cstdint>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "model/my_converter.h"
#include "model/parameter.h"
#include "protocol/frame_codec.h"

namespace kvtr::test {

struct ModuleSlot {
  std::vector<std::uint8_t> bytes;
  unsigned attributes = 3;
};

// hash, index (0 without index)
using ModuleState = std::map<std::pair<std::uint16_t, int>, ModuleSlot>;

// Lines "value NAME INDEX HEX ATTR" of a state file.
inline ModuleState ReadModuleState(const std::string& path) {
  ModuleState state;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) {
    std::istringstream fields(line);
    std::string word, name, hex;
    int index = 0;
    unsigned attributes = 0;
    if (!(fields >> word >> name >> index >> hex >> attributes) || word != "value") continue;
    ModuleSlot slot;
    slot.attributes = attributes;
    if (hex != "-") {
      for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        slot.bytes.push_back(static_cast<std::uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
      }
    }
    state[{hashName(name), index}] = slot;
  }
  return state;
}

inline const ModuleSlot* FindSlot(const ModuleState& state, const Parameter& p) {
  const auto it = state.find({hashName(p.name), p.hasIndex ? p.index : 0});
  return it == state.end() ? nullptr : &it->second;
}

// The module's value of the parameter as the parameter's own type reads it.
inline std::string ModuleValue(const ModuleState& state, const Parameter& p) {
  const ModuleSlot* slot = FindSlot(state, p);
  if (slot == nullptr) return "<absent>";
  MyConverter converter = p;
  std::string text;
  if (converter.ConvertFromData(slot->bytes, text) == 0) return "<undecodable>";
  return text;
}

struct HeardFrame {
  bool read = false;
  std::uint16_t hash = 0;
};

// The requests of a frame log ("RX #..."), in order.
inline std::vector<HeardFrame> HeardFrames(const std::string& logPath) {
  std::vector<HeardFrame> frames;
  std::ifstream file(logPath);
  for (std::string line; std::getline(file, line);) {
    if (line.rfind("RX #", 0) != 0 || line.size() < 12) continue;
    std::uint8_t b[4];
    if (!decodeTetrads(std::string_view(line).substr(4, 8), b)) continue;
    frames.push_back({(b[1] & 0x10) != 0, static_cast<std::uint16_t>(b[2] << 8 | b[3])});
  }
  return frames;
}

}  // namespace kvtr::test
