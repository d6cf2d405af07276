// Reading compound (structured-storage) files: the descriptor "kvtr.tree.dat" is one.
//
// The format is the public compound file binary format: a 512-byte header, sectors of 512 bytes
// (version 3) or 4096 bytes (version 4) chained through a file allocation table (FAT), a directory
// of 128-byte entries, and a mini stream of 64-byte sectors for streams under 4096 bytes.
//
// Every offset, index and size read from the file is checked before it is used: a chain that
// loops, points outside the file, or does not match the size its entry claims is an error, and
// nothing is allocated beyond what the file's own size can hold.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace kvtr {

enum class CompoundFileErrc {
  ioError,          // the file could not be opened or read
  notCompoundFile,  // no compound-file signature at the start
  unsupported,      // a version, byte order or sector size this reader does not take
  malformed,        // the structure contradicts itself or the file's size
  streamNotFound,   // no stream of that name
  invalidArgument,  // the writer was given something it cannot store
};

struct CompoundFileError {
  CompoundFileErrc code = CompoundFileErrc::malformed;
  std::string message;
};

// A value or an error with its message. Nothing in this API throws.
template <typename T>
class [[nodiscard]] CompoundFileResult {
 public:
  CompoundFileResult(T value) : state_(std::move(value)) {}                 // NOLINT: implicit by design
  CompoundFileResult(CompoundFileError error) : state_(std::move(error)) {}  // NOLINT: implicit by design

  bool ok() const { return state_.index() == 0; }
  explicit operator bool() const { return ok(); }

  T& value() & { return std::get<0>(state_); }
  const T& value() const& { return std::get<0>(state_); }
  T&& value() && { return std::get<0>(std::move(state_)); }

  const CompoundFileError& error() const { return std::get<1>(state_); }
  CompoundFileErrc code() const { return error().code; }
  const std::string& message() const { return error().message; }

 private:
  std::variant<T, CompoundFileError> state_;
};

using CompoundFileStatus = CompoundFileResult<std::monostate>;

// Random access to the bytes of a compound file.
class CompoundFileSource {
 public:
  virtual ~CompoundFileSource() = default;
  virtual std::uint64_t size() const = 0;
  // Fills `out` from `offset`; false on a read failure. Callers never ask beyond size().
  virtual bool readAt(std::uint64_t offset, std::span<std::uint8_t> out) = 0;
};

enum class CompoundEntryType : std::uint8_t { empty = 0, storage = 1, stream = 2, root = 5 };

struct CompoundDirectoryEntry {
  std::string name;  // UTF-8
  std::u16string name16;
  CompoundEntryType type = CompoundEntryType::empty;
  std::uint32_t leftSibling = 0;
  std::uint32_t rightSibling = 0;
  std::uint32_t child = 0;
  std::uint32_t startSector = 0;
  std::uint64_t size = 0;
};

struct CompoundFileState;

// Reads one stream front to back. It shares the open file with its CompoundFile, so either may
// outlive the other. Neither is safe to use from two threads at once.
class CompoundStreamReader {
 public:
  std::uint64_t size() const { return size_; }
  std::uint64_t position() const { return position_; }
  // Reads up to out.size() bytes; 0 at the end of the stream.
  [[nodiscard]] CompoundFileResult<std::size_t> read(std::span<std::uint8_t> out);

 private:
  friend class CompoundFile;
  CompoundStreamReader(std::shared_ptr<CompoundFileState> file, std::vector<std::uint32_t> sectors, bool mini,
                       std::uint64_t size);

  std::shared_ptr<CompoundFileState> file_;
  std::vector<std::uint32_t> sectors_;
  bool mini_;
  std::uint64_t size_;
  std::uint64_t position_ = 0;
};

class CompoundFile {
 public:
  // Opens a file for reading only; the file is never written.
  [[nodiscard]] static CompoundFileResult<CompoundFile> open(const std::filesystem::path& path);
  // Reads a compound file held in memory (used by tests and the fuzz target).
  [[nodiscard]] static CompoundFileResult<CompoundFile> fromBytes(std::vector<std::uint8_t> bytes);
  [[nodiscard]] static CompoundFileResult<CompoundFile> fromSource(std::unique_ptr<CompoundFileSource> source);

  // True when the bytes start with the compound-file signature.
  static bool hasSignature(std::span<const std::uint8_t> firstBytes);

  std::uint16_t majorVersion() const;
  std::uint32_t sectorSize() const;

  // The directory as stored, index = stream ID; entry 0 is the root.
  const std::vector<CompoundDirectoryEntry>& entries() const;

  // Names of the streams directly under the root storage, in the directory's sort order.
  [[nodiscard]] CompoundFileResult<std::vector<std::string>> streamNames() const;

  // Finds a stream directly under the root storage. Names compare without regard to case, as the
  // format defines it (upper-case of each UTF-16 unit).
  [[nodiscard]] CompoundFileResult<CompoundStreamReader> openStream(std::string_view name) const;
  [[nodiscard]] CompoundFileResult<std::vector<std::uint8_t>> readStream(std::string_view name) const;

 private:
  explicit CompoundFile(std::shared_ptr<CompoundFileState> state) : state_(std::move(state)) {}
  std::shared_ptr<CompoundFileState> state_;
};

// Compares two entry names as the format orders siblings: the shorter name first, then unit by
// unit after upper-casing. Returns <0, 0 or >0.
int compareCompoundNames(std::u16string_view a, std::u16string_view b);

// UTF-8 <-> UTF-16 for entry names. Malformed UTF-8 gives `ok` false; unpaired surrogates in
// UTF-16 become U+FFFD.
std::u16string compoundNameFromUtf8(std::string_view text, bool* ok = nullptr);
std::string compoundNameToUtf8(std::u16string_view text);

}  // namespace kvtr
