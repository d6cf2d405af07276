// The binary object archive that configuration files are made of: little-endian fields, texts
// with an escaped length, and class tags that name each serialisable class once and refer to it
// by number afterwards. Texts are UTF-8 inside the program and Windows-1251 in the file.
//
// Reading is bounds-checked: every length is compared with the bytes left before anything is
// allocated, and a malformed archive raises ArchiveError. That exception is the one place where
// the program reports an error by throwing; whoever opens a file catches it and turns it into
// the user's message.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace kvtr {

enum class ArchiveErrorKind {
  PastTheEnd,       // a field, or a length, reaches beyond the last byte
  BadTag,           // a class tag that is neither a new class nor a class read before
  UnknownClass,     // a class name the program does not know
  UnexpectedClass,  // a known class where another one (or a descendant of it) must stand
};

class ArchiveError : public std::runtime_error {
 public:
  ArchiveError(ArchiveErrorKind kind, std::size_t offset, const std::string& detail);

  ArchiveErrorKind kind() const { return kind_; }
  // Where in the archive the faulty field starts.
  std::size_t offset() const { return offset_; }

 private:
  ArchiveErrorKind kind_;
  std::size_t offset_;
};

// A serialisable class as the reader knows it: its name and the name of its base class (empty
// for a root class). The base chain decides whether a stored class may stand where another one
// is requested.
struct ArchiveClass {
  std::string_view name;
  std::string_view base;
};

// A class tag as read: the class name and the schema stored with its first occurrence.
struct StoredClass {
  std::string_view name;
  std::uint16_t schema = 0;
};

class ArchiveWriter {
 public:
  void writeByte(std::uint8_t value);
  void writeWord(std::uint16_t value);
  void writeDword(std::uint32_t value);
  // UTF-8 text, stored as Windows-1251 with the escaped length.
  void writeText(std::string_view utf8);
  // Bytes already in the file's code page, with the escaped length.
  void writeRawText(std::string_view bytes);
  // First occurrence: FF FF, schema, name length, name. Later: 0x8000 + the class number,
  // numbered from 1 in the order of first occurrence. The schema of a later occurrence is the
  // first one's; the archive holds it only once.
  void writeClass(std::string_view name, std::uint16_t schema);

  const std::vector<std::uint8_t>& bytes() const { return buffer_; }
  std::vector<std::uint8_t> takeBytes() { return std::move(buffer_); }

 private:
  std::vector<std::uint8_t> buffer_;
  std::vector<std::string> classes_;
};

class ArchiveReader {
 public:
  // `bytes` and `catalog` must outlive the reader.
  ArchiveReader(std::span<const std::uint8_t> bytes, std::span<const ArchiveClass> catalog);

  std::uint8_t readByte();
  std::uint16_t readWord();
  std::uint32_t readDword();
  // Reads a dword when four bytes are left; false (and nothing consumed) otherwise.
  bool tryReadDword(std::uint32_t& value);
  // A text of either width, returned as UTF-8.
  std::string readText();
  // Any class tag; the class must be in the catalog.
  StoredClass readClass();
  // A class tag whose class is `requested` or derives from it; returns the stored schema.
  std::uint16_t readClass(std::string_view requested);

  std::size_t offset() const { return pos_; }
  std::size_t remaining() const { return bytes_.size() - pos_; }
  bool atEnd() const { return pos_ == bytes_.size(); }

 private:
  // Fails with PastTheEnd, naming the field that starts at `fieldStart`, unless `count` more
  // bytes are there.
  void require(std::uint64_t count, std::size_t fieldStart) const;
  std::uint8_t takeByte(std::size_t fieldStart);
  std::uint16_t takeWord(std::size_t fieldStart);
  std::uint32_t takeDword(std::size_t fieldStart);
  std::uint64_t readTextLength(bool& wide, std::size_t start);
  const ArchiveClass* findClass(std::string_view name) const;
  bool derivesFrom(const ArchiveClass& cls, std::string_view requested) const;

  std::span<const std::uint8_t> bytes_;
  std::span<const ArchiveClass> catalog_;
  std::size_t pos_ = 0;
  struct Seen {
    const ArchiveClass* cls;
    std::uint16_t schema;
  };
  std::vector<Seen> seen_;
};

// UTF-16LE code units to UTF-8; lone surrogates become U+FFFD.
std::string utf16LeToUtf8(std::span<const std::uint8_t> bytes);

}  // namespace kvtr
