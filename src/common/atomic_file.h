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

// Where a save to `requested` goes. A symbolic link is followed to the file it points to (also
// when that file does not exist yet), so that the link stays a link and its target is replaced.
// Only a regular file is ever replaced: a device (such as /dev/full), a FIFO, a socket or a
// folder is refused, since renaming a new file over it would put a file in its place. The folder
// must exist and take new files.
struct SaveTarget {
  std::filesystem::path file;  // the file to replace: `requested`, or what its links lead to
  bool exists = false;         // `file` is there now
  // Why nothing may be saved there, naming the file and the cause; empty when a save may go ahead.
  std::string refusal;
};
[[nodiscard]] SaveTarget resolveSaveTarget(const std::filesystem::path& requested);

// The refusal of resolveSaveTarget: empty when `target` can be saved to. For a check before a
// long piece of work whose result is to be saved there.
[[nodiscard]] std::string checkSaveTarget(const std::filesystem::path& target);

// Whether new files can be made in `folder` (which exists and is a folder). On false, `cause`
// says why. The operating system's part of resolveSaveTarget.
[[nodiscard]] bool folderTakesNewFiles(const std::filesystem::path& folder, std::string& cause);

// Replaces the save target of `requested` (resolveSaveTarget) with `bytes`. An existing file
// keeps its permission bits; a new one gets the usual permissions of a new file (0666 less the
// umask). On failure, and for a target that is refused, returns false and, when `error` is
// given, a text that names the file and the cause; nothing has changed then.
[[nodiscard]] bool writeFileAtomically(const std::filesystem::path& requested, std::span<const std::uint8_t> bytes,
                                       std::string* error = nullptr);

// The temporary files a save of `target` writes beside it: ".<name>.<16 hex digits>.tmp". A save
// killed before its rename leaves one behind; the next save of the same file removes such
// leftovers (those no running save still holds).
[[nodiscard]] bool isTemporaryOf(const std::filesystem::path& candidate, const std::filesystem::path& target);
[[nodiscard]] std::vector<std::filesystem::path> temporariesOf(const std::filesystem::path& target);

// Reads the whole file. On failure returns false and, when `error` is given, the cause.
[[nodiscard]] bool readWholeFile(const std::filesystem::path& path, std::vector<std::uint8_t>& bytes,
                                 std::string* error = nullptr);

}  // namespace kvtr
