// Reading a frame of the device protocol back into words: which way it went, to which address,
// read or write, the parameter found by its hash among the descriptor's templates, the index,
// the data bytes and the value as the parameter's type reads them. The service dialog shows this
// beside each traced frame line; the text comes from the line or from the module, so nothing in
// it is trusted.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/param_template.h"

namespace kvtr {

struct DecodedFrame {
  bool checks = false;  // a whole frame whose CRC checks
  bool read = false;    // the request bit
  int address = 0;      // with 11-bit addressing the three high bits of the control byte too
  std::uint16_t hash = 0;
  std::vector<std::uint8_t> data;
};

// The frame's characters from '#' (a closing carriage return may follow). `addressBits` above 8
// reads the address as 11 bits.
[[nodiscard]] DecodedFrame DecodeFrame(std::string_view chars, int addressBits);

// What the reader of a whole log knows besides the frames.
struct FrameContext {
  const std::vector<ParamTemplate>* templates = nullptr;
  int addressBits = 8;
  int baseAddress = -1;  // the program's base address: the offset is named; -1 unknown
  // Whether requests carry an index after the value; unknown: a read whose data field holds two
  // bytes carries one, a write none.
  std::optional<bool> indexInData;
};

// One text per line of `log`: the reading of each traced frame line, empty for the others. An
// answer is read with what its request said (the parameter's index comes back after the value).
[[nodiscard]] std::vector<std::string> DescribeFrameLog(const std::vector<std::string>& log, const FrameContext& context);

}  // namespace kvtr
