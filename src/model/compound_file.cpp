#include "model/compound_file.h"

#include <algorithm>
#include <fstream>

#include "common/catalogue.h"
#include "common/format.h"
#include "common/utf8_path.h"
#include "model/compound_file_layout.h"
#include "model/text_encoding.h"

namespace kvtr {

using namespace cfb;

namespace {

CompoundFileError fail(CompoundFileErrc code, std::string message) { return {code, std::move(message)}; }
CompoundFileError malformed(std::string message) { return {CompoundFileErrc::malformed, std::move(message)}; }

std::uint64_t ceilDiv(std::uint64_t a, std::uint64_t b) { return a / b + (a % b != 0 ? 1 : 0); }

class MemorySource final : public CompoundFileSource {
 public:
  explicit MemorySource(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes)) {}
  std::uint64_t size() const override { return bytes_.size(); }
  bool readAt(std::uint64_t offset, std::span<std::uint8_t> out) override {
    if (offset > bytes_.size() || out.size() > bytes_.size() - offset) return false;
    std::copy_n(bytes_.begin() + static_cast<std::ptrdiff_t>(offset), out.size(), out.begin());
    return true;
  }

 private:
  std::vector<std::uint8_t> bytes_;
};

class FileSource final : public CompoundFileSource {
 public:
  FileSource(std::ifstream stream, std::uint64_t size) : stream_(std::move(stream)), size_(size) {}
  std::uint64_t size() const override { return size_; }
  bool readAt(std::uint64_t offset, std::span<std::uint8_t> out) override {
    stream_.clear();
    stream_.seekg(static_cast<std::streamoff>(offset));
    stream_.read(reinterpret_cast<char*>(out.data()), static_cast<std::streamsize>(out.size()));
    return stream_.good() && static_cast<std::size_t>(stream_.gcount()) == out.size();
  }

 private:
  std::ifstream stream_;
  std::uint64_t size_;
};

// Upper case of one UTF-16 unit for name comparison. It covers the letters that names in this
// program's files can hold: Latin (ASCII, Latin-1, Latin Extended-A), Greek and Cyrillic, and the
// full-width Latin forms.
char16_t upperUnit(char16_t c) {
  if (c >= u'a' && c <= u'z') return static_cast<char16_t>(c - 0x20);
  if (c < 0xB5) return c;
  if (c == 0xB5) return 0x39C;
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<char16_t>(c - 0x20);
  if (c == 0xFF) return 0x178;
  if ((c >= 0x100 && c <= 0x137) || (c >= 0x14A && c <= 0x177)) return (c & 1) ? static_cast<char16_t>(c - 1) : c;
  if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) return (c & 1) ? c : static_cast<char16_t>(c - 1);
  if (c >= 0x3B1 && c <= 0x3CB && c != 0x3C2) return static_cast<char16_t>(c - 0x20);
  if (c == 0x3C2) return 0x3A3;
  if (c >= 0x430 && c <= 0x44F) return static_cast<char16_t>(c - 0x20);
  if (c >= 0x450 && c <= 0x45F) return static_cast<char16_t>(c - 0x50);
  if ((c >= 0x460 && c <= 0x481) || (c >= 0x48A && c <= 0x4BF)) return (c & 1) ? static_cast<char16_t>(c - 1) : c;
  if (c >= 0xFF41 && c <= 0xFF5A) return static_cast<char16_t>(c - 0x20);
  return c;
}

}  // namespace

// ------------------------------------------------------------------------------------------ names

int compareCompoundNames(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const char16_t ua = upperUnit(a[i]);
    const char16_t ub = upperUnit(b[i]);
    if (ua != ub) return ua < ub ? -1 : 1;
  }
  return 0;
}

std::u16string compoundNameFromUtf8(std::string_view text, bool* ok) {
  std::u16string out;
  bool good = true;
  for (std::size_t i = 0; i < text.size();) {
    const long decoded = decodeUtf8(text, i);
    if (decoded < 0) {
      good = false;
      break;
    }
    auto cp = static_cast<std::uint32_t>(decoded);
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
  }
  if (ok != nullptr) *ok = good;
  if (!good) out.clear();
  return out;
}

std::string compoundNameToUtf8(std::u16string_view text) { return utf16ToUtf8(text); }

// ------------------------------------------------------------------------------------------ state

struct CompoundFileState {
  std::unique_ptr<CompoundFileSource> source;
  std::uint16_t majorVersion = 0;
  std::uint32_t sectorSize = 0;
  std::uint64_t sectorCount = 0;  // whole sectors after the header sector
  std::vector<std::uint32_t> fat;
  std::vector<std::uint32_t> miniFat;
  std::vector<std::uint32_t> miniStreamSectors;  // the root entry's chain
  std::uint64_t miniStreamSize = 0;
  std::vector<CompoundDirectoryEntry> entries;

  CompoundFileStatus load();
  CompoundFileStatus loadFat(std::span<const std::uint8_t> header);
  CompoundFileStatus loadDirectory(std::uint32_t firstSector);
  CompoundFileStatus loadMiniFat(std::uint32_t firstSector, std::uint32_t count);
  CompoundFileStatus readSector(std::uint32_t sector, std::uint32_t offset, std::span<std::uint8_t> out);
  CompoundFileStatus readMiniSector(std::uint32_t sector, std::uint32_t offset, std::span<std::uint8_t> out);
  // Follows a chain through the FAT (or the mini FAT). `expected` is the number of sectors the
  // size needs; kUnknownLength follows the chain to its end.
  static constexpr std::uint64_t kUnknownLength = ~std::uint64_t{0};
  CompoundFileResult<std::vector<std::uint32_t>> followChain(std::uint32_t start, std::uint64_t expected, bool mini,
                                                             const std::string& what) const;
  std::uint64_t miniSectorCount() const { return ceilDiv(miniStreamSize, kMiniSectorSize); }
  CompoundFileResult<std::vector<std::uint32_t>> rootChildren() const;
  std::string entryLabel(std::uint32_t id) const;
};

CompoundFileStatus CompoundFileState::readSector(std::uint32_t sector, std::uint32_t offset,
                                                 std::span<std::uint8_t> out) {
  if (sector >= sectorCount || offset > sectorSize || out.size() > sectorSize - offset) {
    return malformed(strprintf(trFormat("сектор %u лежит за концом файла"), sector));
  }
  const std::uint64_t at = (std::uint64_t{sector} + 1) * sectorSize + offset;
  if (!source->readAt(at, out)) {
    return fail(CompoundFileErrc::ioError, strprintf(trFormat("не удалось прочитать сектор %u"), sector));
  }
  return std::monostate{};
}

CompoundFileStatus CompoundFileState::readMiniSector(std::uint32_t sector, std::uint32_t offset,
                                                     std::span<std::uint8_t> out) {
  const std::uint64_t at = std::uint64_t{sector} * kMiniSectorSize + offset;
  if (sector >= miniSectorCount() || offset > kMiniSectorSize || out.size() > kMiniSectorSize - offset) {
    return malformed(strprintf(trFormat("мини-сектор %u лежит за концом мини-потока"), sector));
  }
  // A mini sector never straddles two sectors: sector sizes are multiples of 64.
  const std::uint64_t index = at / sectorSize;
  if (index >= miniStreamSectors.size()) {
    return malformed(strprintf(trFormat("мини-сектор %u лежит за концом мини-потока"), sector));
  }
  return readSector(miniStreamSectors[index], static_cast<std::uint32_t>(at % sectorSize), out);
}

CompoundFileResult<std::vector<std::uint32_t>> CompoundFileState::followChain(std::uint32_t start,
                                                                              std::uint64_t expected, bool mini,
                                                                              const std::string& what) const {
  const std::vector<std::uint32_t>& table = mini ? miniFat : fat;
  // Places a chain may visit: listed in the table and present in the file (or mini stream).
  const std::uint64_t places = std::min<std::uint64_t>(table.size(), mini ? miniSectorCount() : sectorCount);
  std::vector<std::uint32_t> chain;
  if (expected == 0) return chain;
  if (expected != kUnknownLength && expected > places) {
    return malformed(strprintf(trFormat("%s: нужно %llu %sсекторов, а в файле их только %llu"), what.c_str(),
                               static_cast<unsigned long long>(expected), mini ? tr("мини-") : "",
                               static_cast<unsigned long long>(places)));
  }
  if (expected != kUnknownLength) chain.reserve(static_cast<std::size_t>(expected));
  std::vector<bool> visited(static_cast<std::size_t>(places), false);
  std::uint32_t current = start;
  while (current != kEndOfChain) {
    if (current > kMaxRegularSector) {
      return malformed(strprintf(trFormat("%s: цепочка доходит до метки 0x%08X вместо сектора"), what.c_str(), current));
    }
    if (current >= places) {
      return malformed(strprintf(trFormat("%s: цепочка указывает на %sсектор %u за концом %s"), what.c_str(),
                                 mini ? tr("мини-") : "", current, mini ? tr("мини-потока") : tr("файла")));
    }
    if (visited[current]) {
      return malformed(strprintf(trFormat("%s: цепочка зацикливается на %sсекторе %u"), what.c_str(), mini ? tr("мини-") : "", current));
    }
    if (chain.size() == expected) {
      return malformed(strprintf(trFormat("%s: цепочка длиннее, чем нужно по размеру (%llu секторов)"), what.c_str(),
                                 static_cast<unsigned long long>(expected)));
    }
    visited[current] = true;
    chain.push_back(current);
    current = table[current];
  }
  if (expected != kUnknownLength && chain.size() < expected) {
    return malformed(strprintf(trFormat("%s: цепочка кончается после %zu из %llu секторов"), what.c_str(), chain.size(),
                               static_cast<unsigned long long>(expected)));
  }
  if (chain.empty()) return malformed(what + tr(": цепочка пуста"));
  return chain;
}

CompoundFileStatus CompoundFileState::load() {
  const std::uint64_t fileSize = source->size();
  std::array<std::uint8_t, kHeaderSize> header{};
  const std::size_t probe = static_cast<std::size_t>(std::min<std::uint64_t>(fileSize, kHeaderSize));
  if (!source->readAt(0, std::span(header).first(probe))) {
    return fail(CompoundFileErrc::ioError, tr("не удалось прочитать заголовок файла"));
  }
  if (!CompoundFile::hasSignature(std::span(header).first(probe))) {
    return fail(CompoundFileErrc::notCompoundFile, tr("файл не составной (нет подписи)"));
  }
  if (fileSize < kHeaderSize) {
    return malformed(strprintf(trFormat("длина файла %llu байт — меньше его 512-байтного заголовка"),
                               static_cast<unsigned long long>(fileSize)));
  }
  if (load16(header, header::byteOrder) != 0xFFFE) {
    return fail(CompoundFileErrc::unsupported,
                strprintf(trFormat("метка порядка байтов 0x%04X — не little-endian"), load16(header, header::byteOrder)));
  }
  majorVersion = load16(header, header::majorVersion);
  const std::uint16_t shift = load16(header, header::sectorShift);
  if (majorVersion != 3 && majorVersion != 4) {
    return fail(CompoundFileErrc::unsupported, strprintf(trFormat("версия %u не поддерживается"), majorVersion));
  }
  // Version 3 has 512-byte sectors (shift 9), version 4 has 4096-byte sectors (shift 12).
  if ((majorVersion == 3 && shift != 9) || (majorVersion == 4 && shift != 12)) {
    return fail(CompoundFileErrc::unsupported,
                strprintf(trFormat("сдвиг сектора %u не соответствует версии %u"), shift, majorVersion));
  }
  sectorSize = 1u << shift;
  if (load16(header, header::miniSectorShift) != 6) {
    return fail(CompoundFileErrc::unsupported,
                strprintf(trFormat("сдвиг мини-сектора %u, а не 6"), load16(header, header::miniSectorShift)));
  }
  if (load32(header, header::miniStreamCutoff) != kMiniStreamCutoff) {
    return fail(CompoundFileErrc::unsupported,
                strprintf(trFormat("порог мини-потока %u, а не 4096"), load32(header, header::miniStreamCutoff)));
  }
  if (fileSize < sectorSize) {
    return malformed(strprintf(trFormat("длина файла %llu байт — меньше его %u-байтного сектора заголовка"),
                               static_cast<unsigned long long>(fileSize), sectorSize));
  }
  // The header fills sector -1; sector n starts at (n + 1) * sectorSize. A partial last sector is
  // not counted, so everything a chain reaches lies wholly inside the file.
  sectorCount = fileSize / sectorSize - 1;

  if (auto status = loadFat(header); !status) return status;
  if (auto status = loadDirectory(load32(header, header::firstDirectorySector)); !status) return status;
  return loadMiniFat(load32(header, header::firstMiniFatSector), load32(header, header::miniFatSectorCount));
}

CompoundFileStatus CompoundFileState::loadFat(std::span<const std::uint8_t> header) {
  const std::uint32_t fatCount = load32(header, header::fatSectorCount);
  const std::uint32_t difatCount = load32(header, header::difatSectorCount);
  if (fatCount == 0) return malformed(tr("в заголовке нет секторов FAT"));
  if (fatCount > sectorCount) {
    return malformed(strprintf(trFormat("в заголовке %u секторов FAT, а в файле всего %llu секторов"), fatCount,
                               static_cast<unsigned long long>(sectorCount)));
  }
  std::vector<std::uint32_t> fatSectors;
  fatSectors.reserve(fatCount);
  for (std::uint32_t i = 0; i < kHeaderDifatCount && fatSectors.size() < fatCount; ++i) {
    fatSectors.push_back(load32(header, header::difat + 4 * i));
  }
  // Each DIFAT sector lists (sectorSize / 4 - 1) FAT sectors; its last four bytes name the next one.
  const std::uint32_t perDifat = sectorSize / 4 - 1;
  std::uint32_t difat = load32(header, header::firstDifatSector);
  std::vector<bool> visitedDifat;
  std::vector<std::uint8_t> block(sectorSize);
  std::uint32_t difatRead = 0;
  while (fatSectors.size() < fatCount) {
    if (difat == kEndOfChain || difat == kFreeSector || difatRead == difatCount) {
      return malformed(strprintf(trFormat("DIFAT кончается после %zu из %u секторов FAT"), fatSectors.size(), fatCount));
    }
    if (difat >= sectorCount) return malformed(strprintf(trFormat("сектор DIFAT %u лежит за концом файла"), difat));
    if (visitedDifat.empty()) visitedDifat.assign(static_cast<std::size_t>(sectorCount), false);
    if (visitedDifat[difat]) return malformed(strprintf(trFormat("цепочка DIFAT зацикливается на секторе %u"), difat));
    visitedDifat[difat] = true;
    if (auto status = readSector(difat, 0, block); !status) return status;
    for (std::uint32_t i = 0; i < perDifat && fatSectors.size() < fatCount; ++i) {
      fatSectors.push_back(load32(block, 4 * i));
    }
    difat = load32(block, 4 * perDifat);
    ++difatRead;
  }

  const std::uint32_t perSector = sectorSize / 4;
  fat.resize(static_cast<std::size_t>(fatCount) * perSector);
  std::vector<bool> seen(static_cast<std::size_t>(sectorCount), false);
  for (std::size_t i = 0; i < fatSectors.size(); ++i) {
    const std::uint32_t sector = fatSectors[i];
    if (sector >= sectorCount) {
      return malformed(strprintf(trFormat("сектор FAT %zu помещен в сектор %u за концом файла"), i, sector));
    }
    if (seen[sector]) return malformed(strprintf(trFormat("сектор %u дважды указан как сектор FAT"), sector));
    seen[sector] = true;
    if (auto status = readSector(sector, 0, block); !status) return status;
    for (std::uint32_t k = 0; k < perSector; ++k) fat[i * perSector + k] = load32(block, 4 * k);
  }
  return std::monostate{};
}

CompoundFileStatus CompoundFileState::loadDirectory(std::uint32_t firstSector) {
  auto chain = followChain(firstSector, kUnknownLength, false, tr("каталог"));
  if (!chain) return chain.error();
  const std::uint32_t perSector = sectorSize / kDirectoryEntrySize;
  std::vector<std::uint8_t> block(sectorSize);
  entries.reserve(chain.value().size() * perSector);
  for (const std::uint32_t sector : chain.value()) {
    if (auto status = readSector(sector, 0, block); !status) return status;
    for (std::uint32_t k = 0; k < perSector; ++k) {
      const auto raw = std::span<const std::uint8_t>(block).subspan(k * kDirectoryEntrySize, kDirectoryEntrySize);
      const auto id = static_cast<std::uint32_t>(entries.size());
      CompoundDirectoryEntry e;
      const std::uint8_t type = raw[entry::type];
      if (type != 0 && type != 1 && type != 2 && type != 5) {
        return malformed(strprintf(trFormat("у записи каталога %u неизвестный тип %u"), id, type));
      }
      e.type = static_cast<CompoundEntryType>(type);
      if (e.type != CompoundEntryType::empty) {
        const std::uint16_t length = load16(raw, entry::nameLength);
        if (length < 2 || length > 64 || length % 2 != 0 || load16(raw, length - 2) != 0) {
          return malformed(strprintf(trFormat("у записи каталога %u неверное имя (длина %u)"), id, length));
        }
        for (std::uint16_t u = 0; u + 2 < length; u += 2) e.name16.push_back(static_cast<char16_t>(load16(raw, u)));
        e.name = compoundNameToUtf8(e.name16);
      }
      e.leftSibling = load32(raw, entry::leftSibling);
      e.rightSibling = load32(raw, entry::rightSibling);
      e.child = load32(raw, entry::child);
      e.startSector = load32(raw, entry::startSector);
      e.size = load64(raw, entry::size);
      // Version 3 writers may leave garbage in the upper half of the size; the format says to
      // ignore it there.
      if (majorVersion == 3) e.size &= 0xFFFFFFFFu;
      if ((e.type == CompoundEntryType::root) != (id == 0)) {
        return malformed(id == 0 ? std::string(tr("первая запись каталога — не корень"))
                                 : strprintf(trFormat("запись каталога %u объявляет себя вторым корнем"), id));
      }
      entries.push_back(std::move(e));
    }
  }
  return std::monostate{};
}

CompoundFileStatus CompoundFileState::loadMiniFat(std::uint32_t firstSector, std::uint32_t count) {
  const CompoundDirectoryEntry& root = entries.front();
  miniStreamSize = root.size;
  if (miniStreamSize > 0) {
    auto chain = followChain(root.startSector, ceilDiv(miniStreamSize, sectorSize), false, tr("мини-поток"));
    if (!chain) return chain.error();
    miniStreamSectors = std::move(chain.value());
  }
  if (count == 0) return std::monostate{};
  auto chain = followChain(firstSector, count, false, tr("мини-FAT"));
  if (!chain) return chain.error();
  const std::uint32_t perSector = sectorSize / 4;
  std::vector<std::uint8_t> block(sectorSize);
  miniFat.resize(static_cast<std::size_t>(count) * perSector);
  for (std::size_t i = 0; i < chain.value().size(); ++i) {
    if (auto status = readSector(chain.value()[i], 0, block); !status) return status;
    for (std::uint32_t k = 0; k < perSector; ++k) miniFat[i * perSector + k] = load32(block, 4 * k);
  }
  return std::monostate{};
}

std::string CompoundFileState::entryLabel(std::uint32_t id) const {
  return strprintf(trFormat("поток «%s»"), entries[id].name.c_str());
}

// The children of a storage form a binary tree through the sibling links. It is walked in order
// (which is the sorted order) without trusting it to be balanced or sorted, and every link is
// checked: a link outside the directory, to an unused entry, or back to a visited entry is an error.
CompoundFileResult<std::vector<std::uint32_t>> CompoundFileState::rootChildren() const {
  std::vector<std::uint32_t> order;
  std::vector<bool> visited(entries.size(), false);
  std::vector<std::uint32_t> stack;
  auto descend = [&](std::uint32_t id, std::uint32_t from) -> CompoundFileStatus {
    while (id != kNoStream) {
      if (id >= entries.size()) {
        return malformed(strprintf(trFormat("запись каталога %u ссылается на запись %u вне каталога"), from, id));
      }
      if (visited[id]) return malformed(strprintf(trFormat("дерево каталога зацикливается на записи %u"), id));
      if (entries[id].type != CompoundEntryType::stream && entries[id].type != CompoundEntryType::storage) {
        return malformed(
            strprintf(trFormat("запись каталога %u ссылается на запись %u, которая не поток и не хранилище"), from, id));
      }
      visited[id] = true;
      stack.push_back(id);
      from = id;
      id = entries[id].leftSibling;
    }
    return std::monostate{};
  };
  if (auto status = descend(entries.front().child, 0); !status) return status.error();
  while (!stack.empty()) {
    const std::uint32_t id = stack.back();
    stack.pop_back();
    order.push_back(id);
    if (auto status = descend(entries[id].rightSibling, id); !status) return status.error();
  }
  return order;
}

// ------------------------------------------------------------------------------------------ API

bool CompoundFile::hasSignature(std::span<const std::uint8_t> firstBytes) {
  return firstBytes.size() >= kSignature.size() && std::equal(kSignature.begin(), kSignature.end(), firstBytes.begin());
}

CompoundFileResult<CompoundFile> CompoundFile::fromSource(std::unique_ptr<CompoundFileSource> source) {
  auto state = std::make_shared<CompoundFileState>();
  state->source = std::move(source);
  if (auto status = state->load(); !status) return status.error();
  return CompoundFile(std::move(state));
}

CompoundFileResult<CompoundFile> CompoundFile::fromBytes(std::vector<std::uint8_t> bytes) {
  return fromSource(std::make_unique<MemorySource>(std::move(bytes)));
}

CompoundFileResult<CompoundFile> CompoundFile::open(const std::filesystem::path& path) {
  std::error_code ec;
  const auto status = std::filesystem::status(path, ec);
  if (status.type() == std::filesystem::file_type::not_found) {
    return fail(CompoundFileErrc::ioError, strprintf(trFormat("не удалось открыть %s: нет такого файла"), utf8FromPath(path).c_str()));
  }
  if (ec) return fail(CompoundFileErrc::ioError, strprintf(trFormat("не удалось открыть %s: %s"), utf8FromPath(path).c_str(), ec.message().c_str()));
  if (!std::filesystem::is_regular_file(status)) {
    return fail(CompoundFileErrc::ioError, strprintf(trFormat("не удалось открыть %s: это не обычный файл"), utf8FromPath(path).c_str()));
  }
  const std::uint64_t size = std::filesystem::file_size(path, ec);
  if (ec) return fail(CompoundFileErrc::ioError, strprintf(trFormat("не удалось открыть %s: %s"), utf8FromPath(path).c_str(), ec.message().c_str()));
  std::ifstream stream(path, std::ios::binary);
  if (!stream) return fail(CompoundFileErrc::ioError, strprintf(trFormat("не удалось открыть %s для чтения"), utf8FromPath(path).c_str()));
  return fromSource(std::make_unique<FileSource>(std::move(stream), size));
}

std::uint16_t CompoundFile::majorVersion() const { return state_->majorVersion; }
std::uint32_t CompoundFile::sectorSize() const { return state_->sectorSize; }
const std::vector<CompoundDirectoryEntry>& CompoundFile::entries() const { return state_->entries; }

CompoundFileResult<std::vector<std::string>> CompoundFile::streamNames() const {
  auto children = state_->rootChildren();
  if (!children) return children.error();
  std::vector<std::string> names;
  for (const std::uint32_t id : children.value()) {
    if (state_->entries[id].type == CompoundEntryType::stream) names.push_back(state_->entries[id].name);
  }
  return names;
}

CompoundFileResult<CompoundStreamReader> CompoundFile::openStream(std::string_view name) const {
  bool valid = false;
  const std::u16string wanted = compoundNameFromUtf8(name, &valid);
  if (!valid) return fail(CompoundFileErrc::invalidArgument, tr("имя потока — не правильный UTF-8"));
  auto children = state_->rootChildren();
  if (!children) return children.error();
  const auto& entries = state_->entries;
  const auto found = std::find_if(children.value().begin(), children.value().end(), [&](std::uint32_t id) {
    return compareCompoundNames(entries[id].name16, wanted) == 0;
  });
  if (found == children.value().end()) {
    return fail(CompoundFileErrc::streamNotFound, strprintf(trFormat("в файле нет потока «%.*s»"), static_cast<int>(name.size()), name.data()));
  }
  const CompoundDirectoryEntry& e = entries[*found];
  if (e.type != CompoundEntryType::stream) {
    return fail(CompoundFileErrc::streamNotFound, strprintf(trFormat("«%s» — хранилище, а не поток"), e.name.c_str()));
  }
  const bool mini = e.size < kMiniStreamCutoff;
  const std::uint64_t unit = mini ? kMiniSectorSize : state_->sectorSize;
  auto chain = state_->followChain(e.startSector, ceilDiv(e.size, unit), mini, state_->entryLabel(*found));
  if (!chain) return chain.error();
  return CompoundStreamReader(state_, std::move(chain.value()), mini, e.size);
}

CompoundFileResult<std::vector<std::uint8_t>> CompoundFile::readStream(std::string_view name) const {
  auto reader = openStream(name);
  if (!reader) return reader.error();
  // The size was checked against the file when the chain was followed, so this allocation is
  // bounded by the file's own size.
  std::vector<std::uint8_t> data(static_cast<std::size_t>(reader.value().size()));
  std::size_t done = 0;
  while (done < data.size()) {
    auto n = reader.value().read(std::span(data).subspan(done));
    if (!n) return n.error();
    if (n.value() == 0) break;
    done += n.value();
  }
  return data;
}

CompoundStreamReader::CompoundStreamReader(std::shared_ptr<CompoundFileState> file, std::vector<std::uint32_t> sectors,
                                           bool mini, std::uint64_t size)
    : file_(std::move(file)), sectors_(std::move(sectors)), mini_(mini), size_(size) {}

CompoundFileResult<std::size_t> CompoundStreamReader::read(std::span<std::uint8_t> out) {
  const std::uint64_t unit = mini_ ? kMiniSectorSize : file_->sectorSize;
  std::size_t done = 0;
  while (done < out.size() && position_ < size_) {
    const std::uint64_t index = position_ / unit;
    const auto offset = static_cast<std::uint32_t>(position_ % unit);
    const std::uint64_t chunk = std::min<std::uint64_t>({unit - offset, size_ - position_, out.size() - done});
    const auto part = out.subspan(done, static_cast<std::size_t>(chunk));
    auto status = mini_ ? file_->readMiniSector(sectors_[index], offset, part)
                        : file_->readSector(sectors_[index], offset, part);
    if (!status) return status.error();
    done += static_cast<std::size_t>(chunk);
    position_ += chunk;
  }
  return done;
}

}  // namespace kvtr
