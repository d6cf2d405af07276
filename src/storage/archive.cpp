#include "storage/archive.h"

#include <cassert>

#include "common/catalogue.h"
#include "common/format.h"
#include "model/text_encoding.h"

namespace kvtr {
namespace {

// Class tags. A new class is announced by FFFF; a class read before is 0x8000 + its number.
constexpr std::uint16_t kNewClassTag = 0xFFFF;
constexpr std::uint16_t kClassTagBit = 0x8000;
constexpr std::size_t kMaxClassNumber = 0x7FFE;

// Text length escapes: a one-byte length up to 254; FF then a word up to 65533; FF FFFF then a
// dword. A word of FFFE after the first FF marks a text of 16-bit characters, whose length
// (in characters) follows with the same escapes.
constexpr std::uint8_t kByteEscape = 0xFF;
constexpr std::uint16_t kWordEscape = 0xFFFF;
constexpr std::uint16_t kWideMarker = 0xFFFE;

const char* kindName(ArchiveErrorKind kind) {
  switch (kind) {
    case ArchiveErrorKind::PastTheEnd: return tr("чтение за концом данных");
    case ArchiveErrorKind::BadTag: return tr("неверная метка класса");
    case ArchiveErrorKind::UnknownClass: return tr("неизвестный класс");
    case ArchiveErrorKind::UnexpectedClass: return tr("неожиданный класс");
  }
  return tr("ошибка архива");
}

}  // namespace

ArchiveError::ArchiveError(ArchiveErrorKind kind, std::size_t offset, const std::string& detail)
    : std::runtime_error(strprintf(trFormat("%s по смещению %zu%s%s"), kindName(kind), offset,
                                   detail.empty() ? "" : ": ", detail.c_str())),
      kind_(kind),
      offset_(offset) {}

std::string utf16LeToUtf8(std::span<const std::uint8_t> bytes) {
  std::u16string units(bytes.size() / 2, u'\0');
  for (std::size_t i = 0; i < units.size(); ++i) {
    units[i] = static_cast<char16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
  }
  return utf16ToUtf8(units);
}

// ---------------------------------------------------------------- writing

void ArchiveWriter::writeByte(std::uint8_t value) { buffer_.push_back(value); }

void ArchiveWriter::writeWord(std::uint16_t value) {
  buffer_.push_back(static_cast<std::uint8_t>(value));
  buffer_.push_back(static_cast<std::uint8_t>(value >> 8));
}

void ArchiveWriter::writeDword(std::uint32_t value) {
  writeWord(static_cast<std::uint16_t>(value));
  writeWord(static_cast<std::uint16_t>(value >> 16));
}

void ArchiveWriter::writeText(std::string_view utf8) { writeRawText(utf8ToCp1251(utf8)); }

void ArchiveWriter::writeRawText(std::string_view bytes) {
  const std::size_t length = bytes.size();
  if (length < kByteEscape) {
    writeByte(static_cast<std::uint8_t>(length));
  } else {
    writeByte(kByteEscape);
    // 65534 and 65535 are taken by the wide marker and the dword escape.
    if (length < kWideMarker) {
      writeWord(static_cast<std::uint16_t>(length));
    } else {
      writeWord(kWordEscape);
      writeDword(static_cast<std::uint32_t>(length));
    }
  }
  buffer_.insert(buffer_.end(), bytes.begin(), bytes.end());
}

void ArchiveWriter::writeClass(std::string_view name, std::uint16_t schema) {
  for (std::size_t i = 0; i < classes_.size(); ++i) {
    if (classes_[i] == name) {
      writeWord(static_cast<std::uint16_t>(kClassTagBit + i + 1));
      return;
    }
  }
  // The program stores a handful of classes; numbers above 0x7FFE would need a wider tag.
  assert(classes_.size() < kMaxClassNumber);
  classes_.emplace_back(name);
  writeWord(kNewClassTag);
  writeWord(schema);
  writeWord(static_cast<std::uint16_t>(name.size()));
  buffer_.insert(buffer_.end(), name.begin(), name.end());
}

// ---------------------------------------------------------------- reading

ArchiveReader::ArchiveReader(std::span<const std::uint8_t> bytes, std::span<const ArchiveClass> catalog)
    : bytes_(bytes), catalog_(catalog) {}

void ArchiveReader::require(std::uint64_t count, std::size_t fieldStart) const {
  if (count > remaining()) {
    throw ArchiveError(ArchiveErrorKind::PastTheEnd, fieldStart,
                       strprintf(trFormat("нужно %llu байт, осталось %zu"), static_cast<unsigned long long>(count),
                                 remaining()));
  }
}

std::uint8_t ArchiveReader::readByte() { return takeByte(pos_); }
std::uint16_t ArchiveReader::readWord() { return takeWord(pos_); }
std::uint32_t ArchiveReader::readDword() { return takeDword(pos_); }

std::uint8_t ArchiveReader::takeByte(std::size_t fieldStart) {
  require(1, fieldStart);
  return bytes_[pos_++];
}

std::uint16_t ArchiveReader::takeWord(std::size_t fieldStart) {
  require(2, fieldStart);
  const auto value = static_cast<std::uint16_t>(bytes_[pos_] | (bytes_[pos_ + 1] << 8));
  pos_ += 2;
  return value;
}

std::uint32_t ArchiveReader::takeDword(std::size_t fieldStart) {
  require(4, fieldStart);
  std::uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = (value << 8) | bytes_[pos_ + static_cast<std::size_t>(i)];
  pos_ += 4;
  return value;
}

bool ArchiveReader::tryReadDword(std::uint32_t& value) {
  if (remaining() < 4) return false;
  value = readDword();
  return true;
}

std::uint64_t ArchiveReader::readTextLength(bool& wide, std::size_t start) {
  wide = false;
  std::uint8_t byteLength = takeByte(start);
  if (byteLength < kByteEscape) return byteLength;
  std::uint16_t wordLength = takeWord(start);
  if (wordLength == kWideMarker) {
    wide = true;
    byteLength = takeByte(start);
    if (byteLength < kByteEscape) return byteLength;
    wordLength = takeWord(start);
  }
  if (wordLength < kWordEscape) return wordLength;
  return takeDword(start);
}

std::string ArchiveReader::readText() {
  const std::size_t start = pos_;
  bool wide = false;
  const std::uint64_t length = readTextLength(wide, start);
  const std::uint64_t byteCount = wide ? length * 2 : length;
  // Checked before anything is allocated: a length is only believed when the bytes are there.
  require(byteCount, start);
  const auto text = bytes_.subspan(pos_, static_cast<std::size_t>(byteCount));
  pos_ += static_cast<std::size_t>(byteCount);
  if (wide) return utf16LeToUtf8(text);
  return cp1251ToUtf8(std::string_view(reinterpret_cast<const char*>(text.data()), text.size()));
}

const ArchiveClass* ArchiveReader::findClass(std::string_view name) const {
  for (const ArchiveClass& cls : catalog_) {
    if (cls.name == name) return &cls;
  }
  return nullptr;
}

bool ArchiveReader::derivesFrom(const ArchiveClass& cls, std::string_view requested) const {
  // The catalog is small and its chains are short; the step limit guards against a loop in it.
  const ArchiveClass* current = &cls;
  for (std::size_t steps = 0; current != nullptr && steps <= catalog_.size(); ++steps) {
    if (current->name == requested) return true;
    if (current->base.empty()) return false;
    current = findClass(current->base);
  }
  return false;
}

StoredClass ArchiveReader::readClass() {
  const std::size_t start = pos_;
  const std::uint16_t tag = readWord();
  if (tag == kNewClassTag) {
    const std::uint16_t schema = readWord();
    const std::uint16_t nameLength = readWord();
    require(nameLength, pos_);
    const std::string_view name(reinterpret_cast<const char*>(bytes_.data() + pos_), nameLength);
    pos_ += nameLength;
    const ArchiveClass* cls = findClass(name);
    if (cls == nullptr) {
      throw ArchiveError(ArchiveErrorKind::UnknownClass, start, cp1251ToUtf8(name));
    }
    if (seen_.size() >= kMaxClassNumber) {
      throw ArchiveError(ArchiveErrorKind::BadTag, start, tr("слишком много классов"));
    }
    seen_.push_back({cls, schema});
    return {cls->name, schema};
  }
  if ((tag & kClassTagBit) == 0) {
    throw ArchiveError(ArchiveErrorKind::BadTag, start, strprintf(trFormat("метка %04X — не метка класса"), tag));
  }
  const std::size_t number = tag & ~kClassTagBit;
  if (number == 0 || number > seen_.size()) {
    throw ArchiveError(ArchiveErrorKind::BadTag, start,
                       strprintf(trFormat("класс номер %zu, а прочитано всего %zu классов"), number, seen_.size()));
  }
  const Seen& seen = seen_[number - 1];
  return {seen.cls->name, seen.schema};
}

std::uint16_t ArchiveReader::readClass(std::string_view requested) {
  const std::size_t start = pos_;
  const StoredClass stored = readClass();
  const ArchiveClass* cls = findClass(stored.name);
  if (cls == nullptr || !derivesFrom(*cls, requested)) {
    throw ArchiveError(ArchiveErrorKind::UnexpectedClass, start,
                       strprintf(trFormat("%.*s там, где должен быть %.*s"), static_cast<int>(stored.name.size()),
                                 stored.name.data(), static_cast<int>(requested.size()), requested.data()));
  }
  return stored.schema;
}

}  // namespace kvtr
