#include "model/compound_file_writer.h"

#include <algorithm>
#include <numeric>

#include "common/atomic_file.h"
#include "common/catalogue.h"
#include "common/format.h"
#include "model/compound_file_layout.h"

namespace kvtr {

using namespace cfb;

namespace {

CompoundFileError invalid(std::string message) { return {CompoundFileErrc::invalidArgument, std::move(message)}; }

std::uint64_t ceilDiv(std::uint64_t a, std::uint64_t b) { return a / b + (a % b != 0 ? 1 : 0); }

struct TreeNode {
  std::uint32_t left = kNoStream;
  std::uint32_t right = kNoStream;
  bool red = false;
};

// Builds a balanced tree over the sorted entries first..last (directory IDs). Splitting at the
// middle keeps every empty link at depth floor(log2(n+1)) or ceil(log2(n+1)); colouring the nodes
// of the deepest level red when that level is not full gives every path the same number of black
// nodes, and a red node there has no children, so the tree is a valid red-black tree.
std::uint32_t buildTree(std::vector<TreeNode>& nodes, std::uint32_t first, std::uint32_t last, unsigned depth,
                        unsigned redDepth) {
  if (first > last) return kNoStream;
  const std::uint32_t middle = first + (last - first) / 2;
  TreeNode& node = nodes[middle];
  node.red = depth == redDepth;
  node.left = middle > first ? buildTree(nodes, first, middle - 1, depth + 1, redDepth) : kNoStream;
  node.right = buildTree(nodes, middle + 1, last, depth + 1, redDepth);
  return middle;
}

void markChain(std::vector<std::uint32_t>& table, std::uint64_t first, std::uint64_t count) {
  for (std::uint64_t i = 0; i < count; ++i) {
    table[first + i] = i + 1 < count ? static_cast<std::uint32_t>(first + i + 1) : kEndOfChain;
  }
}

}  // namespace

CompoundFileResult<std::vector<std::uint8_t>> buildCompoundFile(std::span<const CompoundStreamData> streams,
                                                                const CompoundFileWriteOptions& options) {
  if (options.majorVersion != 3 && options.majorVersion != 4) {
    return invalid(strprintf(trFormat("версию %u записать нельзя"), options.majorVersion));
  }
  const std::uint32_t sectorSize = options.majorVersion == 3 ? 512 : 4096;
  const std::uint32_t perSector = sectorSize / 4;  // FAT and mini FAT entries per sector

  // Names: valid, short enough, no characters the format reserves, no two equal without regard to case.
  std::vector<std::u16string> names;
  for (const CompoundStreamData& stream : streams) {
    bool ok = false;
    std::u16string name = compoundNameFromUtf8(stream.name, &ok);
    if (!ok) return invalid(tr("имя потока — не правильный UTF-8"));
    if (name.empty() || name.size() > kMaxNameUnits) {
      return invalid(strprintf(trFormat("имя потока «%s» должно иметь от 1 до 31 единицы UTF-16"), stream.name.c_str()));
    }
    if (name.find_first_of(u"/\\:!") != std::u16string::npos) {
      return invalid(strprintf(trFormat("имя потока «%s» содержит один из символов / \\ : !"), stream.name.c_str()));
    }
    // Version 3 keeps only the lower 32 bits of a size, and the format caps it at 2 GiB.
    if (options.majorVersion == 3 && stream.data.size() > 0x80000000u) {
      return invalid(strprintf(trFormat("поток «%s» больше 2 ГиБ"), stream.name.c_str()));
    }
    names.push_back(std::move(name));
  }
  std::vector<std::uint32_t> order(streams.size());
  std::iota(order.begin(), order.end(), 0u);
  std::sort(order.begin(), order.end(),
            [&](std::uint32_t a, std::uint32_t b) { return compareCompoundNames(names[a], names[b]) < 0; });
  for (std::size_t i = 1; i < order.size(); ++i) {
    if (compareCompoundNames(names[order[i - 1]], names[order[i]]) == 0) {
      return invalid(strprintf(trFormat("два потока с именем «%s»"), streams[order[i]].name.c_str()));
    }
  }

  // Where each stream goes: nowhere (empty), the mini stream (under the cutoff) or its own sectors.
  struct Placement {
    bool mini = false;
    std::uint64_t first = 0;  // first (mini) sector
    std::uint64_t count = 0;  // number of (mini) sectors
  };
  std::vector<Placement> place(streams.size());
  std::uint64_t miniSectors = 0;
  std::uint64_t bigSectors = 0;
  for (std::size_t i = 0; i < streams.size(); ++i) {
    const std::uint64_t size = streams[i].data.size();
    place[i].mini = size < kMiniStreamCutoff;
    if (place[i].mini) {
      place[i].first = miniSectors;
      place[i].count = ceilDiv(size, kMiniSectorSize);
      miniSectors += place[i].count;
    } else {
      place[i].first = bigSectors;  // relative to the first stream sector; fixed below
      place[i].count = ceilDiv(size, sectorSize);
      bigSectors += place[i].count;
    }
  }
  const std::uint64_t entryCount = 1 + streams.size();
  const std::uint64_t directorySectors = ceilDiv(entryCount * kDirectoryEntrySize, sectorSize);
  const std::uint64_t miniFatSectors = ceilDiv(miniSectors * 4, sectorSize);
  const std::uint64_t miniStreamSize = miniSectors * kMiniSectorSize;
  const std::uint64_t miniStreamSectors = ceilDiv(miniStreamSize, sectorSize);
  const std::uint64_t dataSectors = directorySectors + miniFatSectors + miniStreamSectors + bigSectors;

  // The FAT has to describe itself and the DIFAT too. The header lists 109 FAT sectors; each DIFAT
  // sector lists perSector - 1 more and links to the next.
  std::uint64_t fatSectors = std::max<std::uint64_t>(1, ceilDiv(dataSectors, perSector));
  std::uint64_t difatSectors = 0;
  for (;;) {
    difatSectors = fatSectors > kHeaderDifatCount ? ceilDiv(fatSectors - kHeaderDifatCount, perSector - 1) : 0;
    const std::uint64_t needed = ceilDiv(dataSectors + fatSectors + difatSectors, perSector);
    if (needed <= fatSectors) break;
    fatSectors = needed;
  }
  const std::uint64_t totalSectors = fatSectors + difatSectors + dataSectors;
  if (totalSectors > kMaxRegularSector) return invalid(tr("потоки слишком велики для одного составного файла"));

  const std::uint64_t firstDifat = fatSectors;
  const std::uint64_t firstDirectory = firstDifat + difatSectors;
  const std::uint64_t firstMiniFat = firstDirectory + directorySectors;
  const std::uint64_t firstMiniStream = firstMiniFat + miniFatSectors;
  const std::uint64_t firstBig = firstMiniStream + miniStreamSectors;

  std::vector<std::uint8_t> file(static_cast<std::size_t>((totalSectors + 1) * sectorSize), 0);
  const auto sectorBytes = [&](std::uint64_t sector) {
    return std::span<std::uint8_t>(file).subspan(static_cast<std::size_t>((sector + 1) * sectorSize), sectorSize);
  };

  // FAT.
  std::vector<std::uint32_t> fat(static_cast<std::size_t>(fatSectors * perSector), kFreeSector);
  for (std::uint64_t i = 0; i < fatSectors; ++i) fat[i] = kFatSector;
  for (std::uint64_t i = 0; i < difatSectors; ++i) fat[firstDifat + i] = kDifatSector;
  markChain(fat, firstDirectory, directorySectors);
  markChain(fat, firstMiniFat, miniFatSectors);
  markChain(fat, firstMiniStream, miniStreamSectors);
  for (Placement& p : place) {
    if (!p.mini) {
      p.first += firstBig;
      markChain(fat, p.first, p.count);
    }
  }
  for (std::uint64_t i = 0; i < fat.size(); ++i) {
    store32(sectorBytes(i / perSector), 4 * (i % perSector), fat[i]);
  }

  // Header.
  const auto header = std::span<std::uint8_t>(file).first(kHeaderSize);
  std::copy(kSignature.begin(), kSignature.end(), header.begin());
  store16(header, header::minorVersion, 0x003E);
  store16(header, header::majorVersion, options.majorVersion);
  store16(header, header::byteOrder, 0xFFFE);
  store16(header, header::sectorShift, options.majorVersion == 3 ? 9 : 12);
  store16(header, header::miniSectorShift, 6);
  // Version 3 files leave the directory sector count at zero.
  store32(header, header::directorySectorCount,
          options.majorVersion == 3 ? 0 : static_cast<std::uint32_t>(directorySectors));
  store32(header, header::fatSectorCount, static_cast<std::uint32_t>(fatSectors));
  store32(header, header::firstDirectorySector, static_cast<std::uint32_t>(firstDirectory));
  store32(header, header::miniStreamCutoff, kMiniStreamCutoff);
  store32(header, header::firstMiniFatSector,
          miniFatSectors > 0 ? static_cast<std::uint32_t>(firstMiniFat) : kEndOfChain);
  store32(header, header::miniFatSectorCount, static_cast<std::uint32_t>(miniFatSectors));
  store32(header, header::firstDifatSector, difatSectors > 0 ? static_cast<std::uint32_t>(firstDifat) : kEndOfChain);
  store32(header, header::difatSectorCount, static_cast<std::uint32_t>(difatSectors));
  for (std::uint32_t i = 0; i < kHeaderDifatCount; ++i) {
    store32(header, header::difat + 4 * i, i < fatSectors ? i : kFreeSector);
  }

  // DIFAT sectors: FAT sectors from 109 on, then the link to the next DIFAT sector.
  for (std::uint64_t d = 0; d < difatSectors; ++d) {
    const auto bytes = sectorBytes(firstDifat + d);
    for (std::uint32_t k = 0; k + 1 < perSector; ++k) {
      const std::uint64_t fatIndex = kHeaderDifatCount + d * (perSector - 1) + k;
      store32(bytes, 4 * k, fatIndex < fatSectors ? static_cast<std::uint32_t>(fatIndex) : kFreeSector);
    }
    store32(bytes, 4 * (perSector - 1),
            d + 1 < difatSectors ? static_cast<std::uint32_t>(firstDifat + d + 1) : kEndOfChain);
  }

  // Mini FAT and mini stream.
  std::vector<std::uint32_t> miniFat(static_cast<std::size_t>(miniFatSectors * perSector), kFreeSector);
  for (std::size_t i = 0; i < streams.size(); ++i) {
    if (!place[i].mini) continue;
    markChain(miniFat, place[i].first, place[i].count);
    const std::uint64_t at = (firstMiniStream + 1) * sectorSize + place[i].first * kMiniSectorSize;
    std::copy(streams[i].data.begin(), streams[i].data.end(), file.begin() + static_cast<std::ptrdiff_t>(at));
  }
  for (std::uint64_t i = 0; i < miniFat.size(); ++i) {
    store32(sectorBytes(firstMiniFat + i / perSector), 4 * (i % perSector), miniFat[i]);
  }

  // Streams in sectors of their own.
  for (std::size_t i = 0; i < streams.size(); ++i) {
    if (place[i].mini) continue;
    const std::uint64_t at = (place[i].first + 1) * sectorSize;
    std::copy(streams[i].data.begin(), streams[i].data.end(), file.begin() + static_cast<std::ptrdiff_t>(at));
  }

  // Directory: the root, then the streams in sorted order so that ID = position + 1.
  std::vector<TreeNode> tree(entryCount);
  std::uint32_t treeRoot = kNoStream;
  if (!streams.empty()) {
    const auto n = static_cast<std::uint32_t>(streams.size());
    unsigned levels = 0;  // ceil(log2(n + 1))
    while ((std::uint64_t{1} << levels) < std::uint64_t{n} + 1) ++levels;
    const bool full = (std::uint64_t{1} << levels) == std::uint64_t{n} + 1;
    treeRoot = buildTree(tree, 1, n, 0, full ? ~0u : levels - 1);
  }
  const auto writeEntry = [&](std::uint64_t id, std::u16string_view name, CompoundEntryType type, const TreeNode& node,
                              std::uint32_t child, std::uint32_t start, std::uint64_t size) {
    const auto bytes = sectorBytes(firstDirectory + id * kDirectoryEntrySize / sectorSize)
                           .subspan(static_cast<std::size_t>(id * kDirectoryEntrySize % sectorSize), kDirectoryEntrySize);
    for (std::size_t u = 0; u < name.size(); ++u) store16(bytes, entry::name + 2 * u, name[u]);
    store16(bytes, entry::nameLength, static_cast<std::uint16_t>(2 * (name.size() + 1)));
    bytes[entry::type] = static_cast<std::uint8_t>(type);
    bytes[entry::color] = node.red ? 0 : 1;
    store32(bytes, entry::leftSibling, node.left);
    store32(bytes, entry::rightSibling, node.right);
    store32(bytes, entry::child, child);
    store32(bytes, entry::startSector, start);
    store64(bytes, entry::size, size);
  };
  writeEntry(0, u"Root Entry", CompoundEntryType::root, TreeNode{}, treeRoot,
             miniStreamSectors > 0 ? static_cast<std::uint32_t>(firstMiniStream) : kEndOfChain, miniStreamSize);
  for (std::size_t k = 0; k < order.size(); ++k) {
    const std::uint32_t i = order[k];
    const std::uint64_t id = k + 1;
    const std::uint32_t start = place[i].count > 0 ? static_cast<std::uint32_t>(place[i].first) : kEndOfChain;
    writeEntry(id, names[i], CompoundEntryType::stream, tree[id], kNoStream, start, streams[i].data.size());
  }
  // Unused entries that fill the last directory sector: empty, with no links.
  const std::uint64_t slots = directorySectors * sectorSize / kDirectoryEntrySize;
  for (std::uint64_t id = entryCount; id < slots; ++id) {
    const auto bytes = sectorBytes(firstDirectory + id * kDirectoryEntrySize / sectorSize)
                           .subspan(static_cast<std::size_t>(id * kDirectoryEntrySize % sectorSize), kDirectoryEntrySize);
    store32(bytes, entry::leftSibling, kNoStream);
    store32(bytes, entry::rightSibling, kNoStream);
    store32(bytes, entry::child, kNoStream);
  }
  return file;
}

CompoundFileStatus writeCompoundFile(const std::filesystem::path& path, std::span<const CompoundStreamData> streams,
                                     const CompoundFileWriteOptions& options) {
  auto bytes = buildCompoundFile(streams, options);
  if (!bytes) return bytes.error();
  std::string error;
  if (!writeFileAtomically(path, bytes.value(), &error)) {
    return CompoundFileError{CompoundFileErrc::ioError, std::move(error)};
  }
  return std::monostate{};
}

}  // namespace kvtr
