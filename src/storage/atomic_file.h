// Whole-file reading and crash-safe replacing of a file.
//
// A file is never rewritten in place: the new contents go into a temporary file in the same
// folder, which is flushed to the disk and then renamed over the target. When the disk fills up,
// the program dies half-way or anything else fails, the user's old file stays as it was and no
// temporary file is left behind.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

namespace kvtr {

// Replaces `target` with `bytes`. An existing target keeps its permission bits; a new one gets
// the usual permissions of a new file (0666 less the umask). A symbolic link is followed, so the
// file it points to is replaced and the link stays. On failure returns false and, when `error`
// is given, a text that names the file and the cause.
[[nodiscard]] bool writeFileAtomically(const std::filesystem::path& target, std::span<const std::uint8_t> bytes,
                                       std::string* error = nullptr);

// Reads the whole file. On failure returns false and, when `error` is given, the cause.
[[nodiscard]] bool readWholeFile(const std::filesystem::path& path, std::vector<std::uint8_t>& bytes,
                                 std::string* error = nullptr);

}  // namespace kvtr
