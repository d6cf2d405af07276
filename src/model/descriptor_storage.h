// The descriptor file "kvtr.tree.dat": a compound file whose stream "kvtr.tree" holds the
// descriptor text, zlib-compressed, in Windows-1251.
//
// Reading never creates, alters or replaces anything: a missing file stays missing (the install
// folder may be read-only), and a file of that name that is not a compound file is left as it is.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "common/catalogue.h"
#include "model/compound_file.h"

namespace kvtr {

inline constexpr std::string_view kDescriptorFileName = "kvtr.tree.dat";
inline constexpr std::string_view kDescriptorStreamName = "kvtr.tree";

// The texts the program shows when reading fails (see descriptorReadFailureText).
inline constexpr std::string_view kDescriptorOpenFailedText = trMark("Ошибка открытия файла дерева!");
inline constexpr std::string_view kDescriptorTreeFailedText = trMark("Не удалось создать дерево параметров");

enum class DescriptorReadStatus {
  ok,
  fileMissing,        // no file of that name
  notCompoundFile,    // a file, but not a compound file; it is left untouched
  storageUnreadable,  // a compound file that cannot be read: I/O error, damaged structure
  streamMissing,      // no stream of that name in it
  streamUnreadable,   // the stream's sectors or its compressed data are damaged
  emptyText,          // the stream is empty or inflates to nothing
};

struct [[nodiscard]] DescriptorReadResult {
  DescriptorReadStatus status = DescriptorReadStatus::ok;
  std::string text;     // UTF-8, when status is ok
  std::string message;  // what exactly went wrong, for logs and the command-line tool
  bool ok() const { return status == DescriptorReadStatus::ok; }
};

// Reads and decodes the descriptor stream of the file at `path`.
DescriptorReadResult readDescriptorFile(const std::filesystem::path& path,
                                        std::string_view streamName = kDescriptorStreamName);

// The same for a file held in memory.
DescriptorReadResult readDescriptorBytes(std::vector<std::uint8_t> bytes,
                                         std::string_view streamName = kDescriptorStreamName);

// The same for an opened compound file.
DescriptorReadResult readDescriptorStream(const CompoundFile& file, std::string_view streamName = kDescriptorStreamName);

// The message the program shows for a failed read: the open-failure text for everything up to and
// including an unreadable stream (shown with the program's title as caption), the tree-failure
// text for an empty one (caption "Ошибка"). Empty for ok.
std::string_view descriptorReadFailureText(DescriptorReadStatus status);

// Checks that a UTF-8 descriptor text can be stored: well-formed UTF-8 whose every character has a
// Windows-1251 byte. Returns an empty string when it can, else a message naming the line (from 1)
// and the character.
std::string findUnencodableText(std::string_view utf8Text);

// Converts a UTF-8 descriptor text to Windows-1251, compresses it and lays out the compound file
// with the one stream. Fails with invalidArgument (message from findUnencodableText) when the
// text cannot be stored exactly.
[[nodiscard]] CompoundFileResult<std::vector<std::uint8_t>> packDescriptor(
    std::string_view utf8Text, std::string_view streamName = kDescriptorStreamName);

}  // namespace kvtr
