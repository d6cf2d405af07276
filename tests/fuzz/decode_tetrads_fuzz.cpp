// Arbitrary characters through the tetrad decoder. The output buffer is exactly as large as
// the decoder may write, so that the address sanitizer catches a write past it; when the decoder
// calls the characters valid, encoding the bytes again must give the characters back.
#include "protocol/frame_codec.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view chars(reinterpret_cast<const char*>(data), size);
  std::vector<std::uint8_t> bytes(size / 2);
  const bool valid = kvtr::decodeTetrads(chars, bytes);

  bool allInAlphabet = true;
  for (std::size_t i = 0; i < 2 * bytes.size(); ++i) allInAlphabet = allInAlphabet && chars[i] >= 'G' && chars[i] <= 'V';
  if (valid != allInAlphabet) std::abort();
  if (!valid) return 0;

  std::string again(2 * bytes.size(), '\0');
  kvtr::encodeTetrads(bytes, again);
  if (again != chars.substr(0, again.size())) std::abort();
  return 0;
}
