// Fixed numbers of the compound file binary format, shared by the reader, the writer and the tests
// that build damaged files on purpose. All integers in the file are little-endian.
#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace kvtr::cfb {

inline constexpr std::array<std::uint8_t, 8> kSignature = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};

// Sector numbers above kMaxRegularSector are marks, not places.
inline constexpr std::uint32_t kMaxRegularSector = 0xFFFFFFFA;
inline constexpr std::uint32_t kDifatSector = 0xFFFFFFFC;
inline constexpr std::uint32_t kFatSector = 0xFFFFFFFD;
inline constexpr std::uint32_t kEndOfChain = 0xFFFFFFFE;
inline constexpr std::uint32_t kFreeSector = 0xFFFFFFFF;
inline constexpr std::uint32_t kNoStream = 0xFFFFFFFF;

inline constexpr std::uint32_t kHeaderSize = 512;
inline constexpr std::uint32_t kHeaderDifatCount = 109;  // (512 - 76) / 4
inline constexpr std::uint32_t kDirectoryEntrySize = 128;
inline constexpr std::uint32_t kMiniSectorSize = 64;
inline constexpr std::uint32_t kMiniStreamCutoff = 4096;
inline constexpr std::uint32_t kMaxNameUnits = 31;  // 64 bytes of UTF-16 with the terminating zero

// Byte offsets inside the header.
namespace header {
inline constexpr std::size_t signature = 0;
inline constexpr std::size_t minorVersion = 24;
inline constexpr std::size_t majorVersion = 26;
inline constexpr std::size_t byteOrder = 28;
inline constexpr std::size_t sectorShift = 30;
inline constexpr std::size_t miniSectorShift = 32;
inline constexpr std::size_t directorySectorCount = 40;
inline constexpr std::size_t fatSectorCount = 44;
inline constexpr std::size_t firstDirectorySector = 48;
inline constexpr std::size_t miniStreamCutoff = 56;
inline constexpr std::size_t firstMiniFatSector = 60;
inline constexpr std::size_t miniFatSectorCount = 64;
inline constexpr std::size_t firstDifatSector = 68;
inline constexpr std::size_t difatSectorCount = 72;
inline constexpr std::size_t difat = 76;
}  // namespace header

// Byte offsets inside a 128-byte directory entry.
namespace entry {
inline constexpr std::size_t name = 0;
inline constexpr std::size_t nameLength = 64;  // bytes, with the terminating zero
inline constexpr std::size_t type = 66;
inline constexpr std::size_t color = 67;  // 0 red, 1 black
inline constexpr std::size_t leftSibling = 68;
inline constexpr std::size_t rightSibling = 72;
inline constexpr std::size_t child = 76;
inline constexpr std::size_t startSector = 116;
inline constexpr std::size_t size = 120;
}  // namespace entry

inline std::uint16_t load16(std::span<const std::uint8_t> b, std::size_t at) {
  return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8));
}
inline std::uint32_t load32(std::span<const std::uint8_t> b, std::size_t at) {
  return static_cast<std::uint32_t>(b[at]) | (static_cast<std::uint32_t>(b[at + 1]) << 8) |
         (static_cast<std::uint32_t>(b[at + 2]) << 16) | (static_cast<std::uint32_t>(b[at + 3]) << 24);
}
inline std::uint64_t load64(std::span<const std::uint8_t> b, std::size_t at) {
  return static_cast<std::uint64_t>(load32(b, at)) | (static_cast<std::uint64_t>(load32(b, at + 4)) << 32);
}
inline void store16(std::span<std::uint8_t> b, std::size_t at, std::uint16_t v) {
  b[at] = static_cast<std::uint8_t>(v);
  b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}
inline void store32(std::span<std::uint8_t> b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}
inline void store64(std::span<std::uint8_t> b, std::size_t at, std::uint64_t v) {
  store32(b, at, static_cast<std::uint32_t>(v));
  store32(b, at + 4, static_cast<std::uint32_t>(v >> 32));
}

}  // namespace kvtr::cfb
