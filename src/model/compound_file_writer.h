// Writing compound (structured-storage) files with streams directly under the root storage.
// kvtr-mkdesc packs the descriptor with it; tests build ordinary and damaged files with it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "model/compound_file.h"

namespace kvtr {

struct CompoundStreamData {
  std::string name;  // UTF-8, 1 to 31 UTF-16 units, none of '/', '\\', ':', '!'
  std::vector<std::uint8_t> data;
};

struct CompoundFileWriteOptions {
  // 3: 512-byte sectors (what every reader takes); 4: 4096-byte sectors.
  std::uint16_t majorVersion = 3;
};

// Lays out a whole file in memory. Streams under 4096 bytes go into the mini stream; the FAT
// grows through DIFAT sectors when it needs more than the header's 109 entries.
[[nodiscard]] CompoundFileResult<std::vector<std::uint8_t>> buildCompoundFile(
    std::span<const CompoundStreamData> streams, const CompoundFileWriteOptions& options = {});

// Builds the file and replaces `path` with it through a temporary file that is renamed over it,
// so a reader sees either the old file or the whole new one, never a half-written file.
[[nodiscard]] CompoundFileStatus writeCompoundFile(const std::filesystem::path& path,
                                                   std::span<const CompoundStreamData> streams,
                                                   const CompoundFileWriteOptions& options = {});

}  // namespace kvtr
