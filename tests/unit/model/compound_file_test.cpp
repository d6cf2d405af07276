#include "model/compound_file.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <functional>
#include <optional>
#include <random>
#include <set>

#include "common/format.h"
#include "model/compound_file_layout.h"
#include "model/compound_file_writer.h"
#include "unit/model/scratch_folder.h"

namespace kvtr {
namespace {

using namespace cfb;
using testing_support::ScratchFolder;

std::vector<std::uint8_t> randomBytes(std::size_t size, unsigned seed) {
  std::mt19937 generator(seed);
  std::vector<std::uint8_t> bytes(size);
  for (auto& b : bytes) b = static_cast<std::uint8_t>(generator());
  return bytes;
}

std::vector<std::uint8_t> build(const std::vector<CompoundStreamData>& streams, std::uint16_t version = 3) {
  auto bytes = buildCompoundFile(streams, CompoundFileWriteOptions{version});
  EXPECT_TRUE(bytes.ok()) << bytes.message();
  return bytes.ok() ? bytes.value() : std::vector<std::uint8_t>{};
}

// ------------------------------------------------------------------------------------------ round trips

struct RoundTripCase {
  const char* label;
  std::vector<std::size_t> sizes;
  std::uint16_t version;
};

class CompoundFileRoundTrip : public testing::TestWithParam<RoundTripCase> {};

TEST_P(CompoundFileRoundTrip, EveryStreamReadsBackIdentically) {
  const RoundTripCase& c = GetParam();
  std::vector<CompoundStreamData> streams;
  for (std::size_t i = 0; i < c.sizes.size(); ++i) {
    streams.push_back({"stream" + std::to_string(i), randomBytes(c.sizes[i], static_cast<unsigned>(i + 1))});
  }
  auto file = CompoundFile::fromBytes(build(streams, c.version));
  ASSERT_TRUE(file.ok()) << file.message();
  EXPECT_EQ(file.value().majorVersion(), c.version);
  EXPECT_EQ(file.value().sectorSize(), c.version == 3 ? 512u : 4096u);
  for (const auto& stream : streams) {
    auto data = file.value().readStream(stream.name);
    ASSERT_TRUE(data.ok()) << stream.name << ": " << data.message();
    EXPECT_TRUE(data.value() == stream.data) << stream.name << " of " << stream.data.size() << " bytes differs";
  }
}

// 4095 is the largest stream in the mini stream, 4096 the smallest in regular sectors. Over 109 FAT
// sectors (109 * 128 * 512 bytes = 6.8 MiB of sectors in version 3) the FAT needs DIFAT sectors;
// 8 MiB needs two of them at 4096-byte sectors only past 109 * 1024 * 4096 bytes, so version 4 is
// exercised with ordinary sizes.
INSTANTIATE_TEST_SUITE_P(
    Layouts, CompoundFileRoundTrip,
    testing::Values(RoundTripCase{"small", {100}, 3}, RoundTripCase{"miniLimit", {4095}, 3},
                    RoundTripCase{"cutoff", {4096}, 3}, RoundTripCase{"pastCutoff", {4097}, 3},
                    RoundTripCase{"empty", {0}, 3}, RoundTripCase{"oneByte", {1}, 3},
                    RoundTripCase{"several", {0, 1, 64, 65, 4095, 4096, 10000, 513, 3}, 3},
                    RoundTripCase{"large", {1 << 20}, 3}, RoundTripCase{"difat", {8u << 20, 700}, 3},
                    RoundTripCase{"version4", {100, 4096, 70000, 0}, 4}, RoundTripCase{"noStreams", {}, 3}),
    [](const testing::TestParamInfo<RoundTripCase>& param) { return std::string(param.param.label); });

TEST(CompoundFile, LargeFileUsesDifatSectors) {
  auto bytes = build({{"big", std::vector<std::uint8_t>(8u << 20, 0x5A)}});
  const std::uint32_t fatCount = load32(bytes, header::fatSectorCount);
  EXPECT_GT(fatCount, kHeaderDifatCount);
  EXPECT_GE(load32(bytes, header::difatSectorCount), 1u);
  EXPECT_NE(load32(bytes, header::firstDifatSector), kEndOfChain);
}

TEST(CompoundFile, NamesCompareWithoutCaseAndListInTreeOrder) {
  auto file = CompoundFile::fromBytes(build({{"kvtr.tree", {1, 2, 3}}, {"Поток", {4}}, {"b", {5}}, {"AB", {6}}}));
  ASSERT_TRUE(file.ok()) << file.message();
  for (const char* name : {"KVTR.TREE", "Kvtr.Tree", "ПОТОК", "поток", "B", "ab"}) {
    EXPECT_TRUE(file.value().openStream(name).ok()) << name;
  }
  auto missing = file.value().openStream("kvtr.tre");
  ASSERT_FALSE(missing.ok());
  EXPECT_EQ(missing.code(), CompoundFileErrc::streamNotFound);
  auto names = file.value().streamNames();
  ASSERT_TRUE(names.ok());
  // Shorter names sort first; equal lengths by upper-cased units.
  EXPECT_EQ(names.value(), (std::vector<std::string>{"b", "AB", "Поток", "kvtr.tree"}));
}

TEST(CompoundFile, NameOrdering) {
  EXPECT_LT(compareCompoundNames(u"zz", u"aaa"), 0);
  EXPECT_EQ(compareCompoundNames(u"abc", u"ABC"), 0);
  EXPECT_EQ(compareCompoundNames(u"ёж", u"ЁЖ"), 0);
  EXPECT_LT(compareCompoundNames(u"ABC", u"abd"), 0);
  EXPECT_GT(compareCompoundNames(u"b", u"A"), 0);
}

// Checks the sibling tree of the root: sorted, no red node with a red child, and the same number
// of black nodes on every path.
int checkRedBlack(const std::vector<CompoundDirectoryEntry>& entries, const std::vector<std::uint8_t>& bytes,
                  std::uint32_t id, bool parentRed, const std::u16string* low, const std::u16string* high) {
  if (id == kNoStream) return 1;
  const std::uint32_t directory = load32(bytes, header::firstDirectorySector);
  const std::size_t at = (std::size_t{directory} + 1) * 512 + std::size_t{id} * kDirectoryEntrySize;
  // The writer keeps the directory sectors together, so entry n lies n * 128 bytes further on.
  const bool red = bytes[at + entry::color] == 0;
  EXPECT_FALSE(red && parentRed) << "red entry " << id << " under a red parent";
  const auto& name = entries[id].name16;
  if (low != nullptr) {
    EXPECT_GT(compareCompoundNames(name, *low), 0);
  }
  if (high != nullptr) {
    EXPECT_LT(compareCompoundNames(name, *high), 0);
  }
  const int left = checkRedBlack(entries, bytes, entries[id].leftSibling, red, low, &name);
  const int right = checkRedBlack(entries, bytes, entries[id].rightSibling, red, &name, high);
  EXPECT_EQ(left, right) << "black heights differ under entry " << id;
  return left + (red ? 0 : 1);
}

TEST(CompoundFile, WriterBuildsValidRedBlackTreesForAnyCount) {
  for (int count : {1, 2, 3, 4, 5, 6, 7, 8, 9, 12, 15, 16, 17, 31, 32, 33}) {
    SCOPED_TRACE(testing::Message() << count << " streams");
    std::vector<CompoundStreamData> streams;
    // Names of one length exercise the unit-by-unit order; over three streams the directory spans
    // several sectors.
    for (int i = 0; i < count; ++i) streams.push_back({"s" + std::to_string(100 + (i * 37) % 900), {1}});
    const auto bytes = build(streams);
    auto file = CompoundFile::fromBytes(bytes);
    ASSERT_TRUE(file.ok()) << file.message();
    auto names = file.value().streamNames();
    ASSERT_TRUE(names.ok());
    EXPECT_EQ(names.value().size(), static_cast<std::size_t>(count));
    EXPECT_TRUE(std::is_sorted(names.value().begin(), names.value().end()));
    const auto& entries = file.value().entries();
    checkRedBlack(entries, bytes, entries[0].child, false, nullptr, nullptr);
  }
}

TEST(CompoundFile, ManyStreamsSpanManyDirectorySectors) {
  std::vector<CompoundStreamData> streams;
  for (int i = 0; i < 1500; ++i) streams.push_back({"entry" + std::to_string(i), {static_cast<std::uint8_t>(i)}});
  auto file = CompoundFile::fromBytes(build(streams));
  ASSERT_TRUE(file.ok()) << file.message();
  EXPECT_GE(file.value().entries().size(), 1501u);
  for (int i : {0, 749, 1499}) {
    auto data = file.value().readStream("ENTRY" + std::to_string(i));
    ASSERT_TRUE(data.ok()) << data.message();
    EXPECT_EQ(data.value(), std::vector<std::uint8_t>{static_cast<std::uint8_t>(i)});
  }
}

TEST(CompoundFile, WriterRefusesWhatTheFormatCannotHold) {
  const std::vector<std::vector<CompoundStreamData>> bad = {
      {{"", {}}},
      {{std::string(32, 'n'), {}}},
      {{"a/b", {}}},
      {{"a:b", {}}},
      {{"a!b", {}}},
      {{"same", {}}, {"SAME", {}}},
      {{"\xC3", {}}},
  };
  for (const auto& streams : bad) {
    auto bytes = buildCompoundFile(streams);
    ASSERT_FALSE(bytes.ok()) << streams.front().name;
    EXPECT_EQ(bytes.code(), CompoundFileErrc::invalidArgument);
  }
  auto version = buildCompoundFile({}, CompoundFileWriteOptions{5});
  EXPECT_FALSE(version.ok());
  // 31 units is the longest name.
  EXPECT_TRUE(buildCompoundFile(std::vector<CompoundStreamData>{{std::string(31, 'n'), {}}}).ok());
}

TEST(CompoundFile, StreamReaderReadsInPieces) {
  const auto data = randomBytes(9000, 7);
  auto file = CompoundFile::fromBytes(build({{"s", data}}));
  ASSERT_TRUE(file.ok());
  auto reader = file.value().openStream("s");
  ASSERT_TRUE(reader.ok());
  std::vector<std::uint8_t> collected;
  std::vector<std::uint8_t> piece(777);  // not a divisor of any sector size
  for (;;) {
    auto n = reader.value().read(piece);
    ASSERT_TRUE(n.ok()) << n.message();
    if (n.value() == 0) break;
    collected.insert(collected.end(), piece.begin(), piece.begin() + static_cast<std::ptrdiff_t>(n.value()));
  }
  EXPECT_EQ(collected, data);
  EXPECT_EQ(reader.value().position(), 9000u);
}

TEST(CompoundFile, WritesAtomicallyAndReadsFromDisk) {
  const ScratchFolder scratch;
  const auto& folder = scratch.path();
  const auto path = folder / "out.dat";
  {
    std::ofstream old(path, std::ios::binary);
    old << "old content";
  }
  const std::vector<CompoundStreamData> streams{{"kvtr.tree", randomBytes(5000, 3)}, {"x", randomBytes(10, 4)}};
  ASSERT_TRUE(writeCompoundFile(path, streams).ok());
  // Only the target is left in the folder: the temporary file was renamed over it.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder), std::filesystem::directory_iterator()), 1);
  auto file = CompoundFile::open(path);
  ASSERT_TRUE(file.ok()) << file.message();
  auto data = file.value().readStream("kvtr.tree");
  ASSERT_TRUE(data.ok());
  EXPECT_EQ(data.value(), streams[0].data);

  auto intoMissingFolder = writeCompoundFile(folder / "no" / "such" / "out.dat", streams);
  EXPECT_FALSE(intoMissingFolder.ok());
  EXPECT_EQ(intoMissingFolder.code(), CompoundFileErrc::ioError);

  auto missing = CompoundFile::open(folder / "none.dat");
  ASSERT_FALSE(missing.ok());
  EXPECT_EQ(missing.code(), CompoundFileErrc::ioError);
  auto folderItself = CompoundFile::open(folder);
  ASSERT_FALSE(folderItself.ok());
  EXPECT_EQ(folderItself.code(), CompoundFileErrc::ioError);
}

// ------------------------------------------------------------------------------------------ oracle

bool haveOlefile() { return std::system("/usr/bin/python3 -c 'import olefile' >/dev/null 2>&1") == 0; }

std::uint32_t crcOf(const std::vector<std::uint8_t>& data) {
  return static_cast<std::uint32_t>(crc32(0, data.data(), static_cast<uInt>(data.size())));
}

// olefile is an independent reader; in strict mode it rejects files with structural defects.
TEST(CompoundFile, IndependentReaderSeesTheSameStreams) {
  if (!haveOlefile()) GTEST_SKIP() << "python3-olefile is not installed for /usr/bin/python3";
  const ScratchFolder scratch;
  const auto& folder = scratch.path();
  const std::vector<std::pair<std::uint16_t, std::vector<CompoundStreamData>>> files = {
      {3, {{"kvtr.tree", randomBytes(700, 1)}}},
      {3, {{"a", randomBytes(4095, 2)}, {"bb", randomBytes(4096, 3)}, {"Поток", {}}, {"ccc", randomBytes(64, 4)}}},
      {3, {{"big", randomBytes(8u << 20, 5)}, {"tiny", randomBytes(5, 6)}}},
      {4, {{"v4small", randomBytes(300, 7)}, {"v4large", randomBytes(50000, 8)}}},
  };
  std::set<std::string> expected;
  std::string arguments;
  for (std::size_t i = 0; i < files.size(); ++i) {
    const auto path = folder / ("f" + std::to_string(i) + ".dat");
    ASSERT_TRUE(writeCompoundFile(path, files[i].second, CompoundFileWriteOptions{files[i].first}).ok());
    arguments += " '" + path.string() + "'";
    for (const auto& s : files[i].second) {
      expected.insert(strprintf("f%zu %s %zu %u", i, s.name.c_str(), s.data.size(), crcOf(s.data)));
    }
  }
  const auto script = folder / "check.py";
  {
    std::ofstream out(script);
    out << "import sys, os, zlib, olefile\n"
           "sys.stdout.reconfigure(encoding='utf-8')\n"
           "for path in sys.argv[1:]:\n"
           "    ole = olefile.OleFileIO(path, raise_defects=olefile.DEFECT_INCORRECT)\n"
           "    tag = os.path.basename(path).split('.')[0]\n"
           "    for entry in ole.listdir(streams=True, storages=False):\n"
           "        data = ole.openstream(entry).read()\n"
           "        print(tag, '/'.join(entry), len(data), zlib.crc32(data) & 0xffffffff)\n";
  }
  const auto output = folder / "olefile.txt";
  const std::string command = "/usr/bin/python3 '" + script.string() + "'" + arguments + " > '" + output.string() + "' 2>&1";
  const int rc = std::system(command.c_str());
  std::ifstream in(output);
  std::set<std::string> seen;
  std::string all;
  for (std::string line; std::getline(in, line);) {
    seen.insert(line);
    all += line + "\n";
  }
  ASSERT_EQ(rc, 0) << all;
  EXPECT_EQ(seen, expected) << all;
}

// ------------------------------------------------------------------------------------------ damage

// A valid file to damage: "big" (5000 bytes, 10 sectors of its own), "small" (300 bytes, 5 mini
// sectors) and "kvtr.tree" (100 bytes). Sorted by length the entries are 1 big, 2 small, 3 kvtr.tree.
struct Damaged {
  std::vector<std::uint8_t> bytes;
  std::vector<CompoundDirectoryEntry> entries;

  Damaged() {
    bytes = build({{"big", randomBytes(5000, 1)}, {"small", randomBytes(300, 2)}, {"kvtr.tree", randomBytes(100, 3)}});
    auto file = CompoundFile::fromBytes(bytes);
    EXPECT_TRUE(file.ok());
    if (file.ok()) entries = file.value().entries();
  }
  static std::size_t sectorAt(std::uint32_t sector) { return (std::size_t{sector} + 1) * 512; }
  std::size_t fatEntry(std::uint32_t sector) const { return sectorAt(load32(bytes, header::difat)) + 4 * sector; }
  std::size_t miniFatEntry(std::uint32_t miniSector) const {
    return sectorAt(load32(bytes, header::firstMiniFatSector)) + 4 * miniSector;
  }
  std::size_t entryAt(std::uint32_t id) const {
    return sectorAt(load32(bytes, header::firstDirectorySector)) + std::size_t{id} * kDirectoryEntrySize;
  }
  void set16(std::size_t at, std::uint16_t v) { store16(bytes, at, v); }
  void set32(std::size_t at, std::uint32_t v) { store32(bytes, at, v); }
  void set64(std::size_t at, std::uint64_t v) { store64(bytes, at, v); }
};

// Opens the file and reads every stream; returns the first error, or nothing.
std::optional<CompoundFileError> firstError(std::vector<std::uint8_t> bytes) {
  auto file = CompoundFile::fromBytes(std::move(bytes));
  if (!file) return file.error();
  auto names = file.value().streamNames();
  if (!names) return names.error();
  for (const auto& name : names.value()) {
    auto data = file.value().readStream(name);
    if (!data) return data.error();
  }
  return std::nullopt;
}

struct DamageCase {
  const char* label;
  std::function<void(Damaged&)> damage;
  CompoundFileErrc code;
  const char* messagePart;
};

class CompoundFileDamage : public testing::TestWithParam<DamageCase> {};

TEST_P(CompoundFileDamage, IsRejectedWithAClearError) {
  Damaged file;
  ASSERT_FALSE(firstError(file.bytes).has_value()) << "the undamaged file must read";
  GetParam().damage(file);
  const auto error = firstError(file.bytes);
  ASSERT_TRUE(error.has_value()) << "damage went unnoticed";
  EXPECT_EQ(error->code, GetParam().code) << error->message;
  EXPECT_NE(error->message.find(GetParam().messagePart), std::string::npos) << error->message;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CompoundFileDamage,
    testing::Values(
        DamageCase{"badSignature", [](Damaged& f) { f.bytes[3] ^= 0x01; }, CompoundFileErrc::notCompoundFile, "подписи"},
        DamageCase{"tooShortForSignature", [](Damaged& f) { f.bytes.resize(5); }, CompoundFileErrc::notCompoundFile,
                   "подписи"},
        DamageCase{"headerCut", [](Damaged& f) { f.bytes.resize(300); }, CompoundFileErrc::malformed, "заголовк"},
        DamageCase{"lastSectorCut", [](Damaged& f) { f.bytes.resize(f.bytes.size() - 1); },
                   CompoundFileErrc::malformed, "за концом файла"},
        DamageCase{"halfTheFileCut", [](Damaged& f) { f.bytes.resize(f.bytes.size() / 2); },
                   CompoundFileErrc::malformed, "а в файле"},
        DamageCase{"byteOrder", [](Damaged& f) { f.set16(header::byteOrder, 0xFEFF); }, CompoundFileErrc::unsupported,
                   "порядка байтов"},
        DamageCase{"version", [](Damaged& f) { f.set16(header::majorVersion, 5); }, CompoundFileErrc::unsupported,
                   "версия 5"},
        DamageCase{"sectorShiftOfVersion4", [](Damaged& f) { f.set16(header::sectorShift, 12); },
                   CompoundFileErrc::unsupported, "сдвиг сектора 12"},
        DamageCase{"sectorShiftHuge", [](Damaged& f) { f.set16(header::sectorShift, 0xFFFF); },
                   CompoundFileErrc::unsupported, "сдвиг сектора"},
        DamageCase{"miniSectorShift", [](Damaged& f) { f.set16(header::miniSectorShift, 7); },
                   CompoundFileErrc::unsupported, "сдвиг мини-сектора"},
        DamageCase{"cutoff", [](Damaged& f) { f.set32(header::miniStreamCutoff, 100); }, CompoundFileErrc::unsupported,
                   "порог мини-потока"},
        DamageCase{"fatCountHuge", [](Damaged& f) { f.set32(header::fatSectorCount, 0x7FFFFFFF); },
                   CompoundFileErrc::malformed, "секторов FAT"},
        DamageCase{"fatCountZero", [](Damaged& f) { f.set32(header::fatSectorCount, 0); }, CompoundFileErrc::malformed,
                   "нет секторов FAT"},
        DamageCase{"fatSectorOutside", [](Damaged& f) { f.set32(header::difat, 100000); }, CompoundFileErrc::malformed,
                   "за концом файла"},
        DamageCase{"fatSectorMissing", [](Damaged& f) { f.set32(header::fatSectorCount, 2); },
                   CompoundFileErrc::malformed, "помещен в сектор 4294967295"},
        DamageCase{"streamChainLoops",
                   [](Damaged& f) {
                     const std::uint32_t start = f.entries[1].startSector;
                     f.set32(f.fatEntry(start + 4), start + 1);
                   },
                   CompoundFileErrc::malformed, "зацикливается"},
        DamageCase{"streamChainLeavesFile",
                   [](Damaged& f) { f.set32(f.fatEntry(f.entries[1].startSector + 2), 90000); },
                   CompoundFileErrc::malformed, "за концом файла"},
        DamageCase{"streamChainReachesFreeMark",
                   [](Damaged& f) { f.set32(f.fatEntry(f.entries[1].startSector + 2), kFreeSector); },
                   CompoundFileErrc::malformed, "метки 0xFFFFFFFF"},
        DamageCase{"streamStartOutside", [](Damaged& f) { f.set32(f.entryAt(1) + entry::startSector, 70000); },
                   CompoundFileErrc::malformed, "за концом файла"},
        DamageCase{"streamChainShort",
                   [](Damaged& f) { f.set32(f.fatEntry(f.entries[1].startSector + 3), kEndOfChain); },
                   CompoundFileErrc::malformed, "кончается после 4 из 10"},
        DamageCase{"streamChainLong", [](Damaged& f) { f.set64(f.entryAt(1) + entry::size, 4600); },
                   CompoundFileErrc::malformed, "длиннее, чем нужно по размеру"},
        DamageCase{"streamSizeHuge", [](Damaged& f) { f.set64(f.entryAt(1) + entry::size, 0xFFFFFFF0u); },
                   CompoundFileErrc::malformed, "а в файле"},
        DamageCase{"miniChainLoops",
                   [](Damaged& f) {
                     const std::uint32_t start = f.entries[2].startSector;
                     f.set32(f.miniFatEntry(start + 2), start);
                   },
                   CompoundFileErrc::malformed, "зацикливается на мини-секторе"},
        DamageCase{"miniChainLeavesMiniStream",
                   [](Damaged& f) { f.set32(f.miniFatEntry(f.entries[2].startSector), 5000); },
                   CompoundFileErrc::malformed, "за концом мини-потока"},
        DamageCase{"miniStreamSizeHuge", [](Damaged& f) { f.set64(f.entryAt(0) + entry::size, 0x10000000); },
                   CompoundFileErrc::malformed, "мини-поток: нужно"},
        DamageCase{"miniFatCountHuge", [](Damaged& f) { f.set32(header::miniFatSectorCount, 0x40000000); },
                   CompoundFileErrc::malformed, "мини-FAT: нужно"},
        DamageCase{"directoryChainLoops",
                   [](Damaged& f) {
                     const std::uint32_t directory = load32(f.bytes, header::firstDirectorySector);
                     f.set32(f.fatEntry(directory), directory);
                   },
                   CompoundFileErrc::malformed, "каталог: цепочка зацикливается"},
        DamageCase{"directoryStartOutside", [](Damaged& f) { f.set32(header::firstDirectorySector, 123456); },
                   CompoundFileErrc::malformed, "за концом файла"},
        DamageCase{"rootChildOutside", [](Damaged& f) { f.set32(f.entryAt(0) + entry::child, 4000); },
                   CompoundFileErrc::malformed, "вне каталога"},
        DamageCase{"siblingLoop",
                   [](Damaged& f) {
                     const std::uint32_t top = f.entries[0].child;
                     f.set32(f.entryAt(top) + entry::leftSibling, top);
                   },
                   CompoundFileErrc::malformed, "зацикливается на записи"},
        DamageCase{"siblingToUnusedEntry",
                   [](Damaged& f) { f.set32(f.entryAt(f.entries[0].child) + entry::rightSibling, 0); },
                   CompoundFileErrc::malformed, "не поток и не хранилище"},
        DamageCase{"nameLength", [](Damaged& f) { f.set16(f.entryAt(2) + entry::nameLength, 66); },
                   CompoundFileErrc::malformed, "неверное имя"},
        DamageCase{"unknownType", [](Damaged& f) { f.bytes[f.entryAt(3) + entry::type] = 9; },
                   CompoundFileErrc::malformed, "неизвестный тип"},
        DamageCase{"secondRoot", [](Damaged& f) { f.bytes[f.entryAt(3) + entry::type] = 5; },
                   CompoundFileErrc::malformed, "вторым корнем"},
        DamageCase{"noRoot", [](Damaged& f) { f.bytes[f.entryAt(0) + entry::type] = 1; }, CompoundFileErrc::malformed,
                   "не корень"}),
    [](const testing::TestParamInfo<DamageCase>& param) { return std::string(param.param.label); });

TEST(CompoundFile, DifatDamageIsRejected) {
  const auto pristine = build({{"big", std::vector<std::uint8_t>(8u << 20, 1)}});
  ASSERT_FALSE(firstError(pristine).has_value());
  auto bytes = pristine;
  store32(bytes, header::difatSectorCount, 0);
  auto error = firstError(bytes);
  ASSERT_TRUE(error.has_value());
  EXPECT_NE(error->message.find("DIFAT кончается после 109 из"), std::string::npos) << error->message;

  bytes = pristine;
  store32(bytes, header::firstDifatSector, 999999);
  error = firstError(bytes);
  ASSERT_TRUE(error.has_value());
  EXPECT_NE(error->message.find("сектор DIFAT 999999 лежит за концом"), std::string::npos) << error->message;

  bytes = pristine;
  const std::uint32_t difat = load32(bytes, header::firstDifatSector);
  ASSERT_EQ(load32(bytes, header::difatSectorCount), 1u);
  // Ask for more FAT sectors than the one DIFAT sector lists and let that sector name itself as next.
  store32(bytes, header::fatSectorCount, load32(bytes, header::fatSectorCount) + 200);
  store32(bytes, header::difatSectorCount, 3);
  store32(bytes, (std::size_t{difat} + 1) * 512 + 508, difat);
  error = firstError(bytes);
  ASSERT_TRUE(error.has_value());
  EXPECT_NE(error->message.find("цепочка DIFAT зацикливается"), std::string::npos) << error->message;
}

TEST(CompoundFile, StorageIsNotAStream) {
  Damaged file;
  file.bytes[file.entryAt(3) + entry::type] = 1;
  auto opened = CompoundFile::fromBytes(file.bytes);
  ASSERT_TRUE(opened.ok());
  auto stream = opened.value().openStream("kvtr.tree");
  ASSERT_FALSE(stream.ok());
  EXPECT_EQ(stream.code(), CompoundFileErrc::streamNotFound);
  EXPECT_NE(stream.message().find("хранилище"), std::string::npos);
}

TEST(CompoundFile, Version3IgnoresTheUpperHalfOfSizes) {
  Damaged file;
  const std::uint64_t size = load64(file.bytes, file.entryAt(3) + entry::size);
  file.set64(file.entryAt(3) + entry::size, size | (std::uint64_t{0xDEAD} << 32));
  auto opened = CompoundFile::fromBytes(file.bytes);
  ASSERT_TRUE(opened.ok());
  auto data = opened.value().readStream("kvtr.tree");
  ASSERT_TRUE(data.ok()) << data.message();
  EXPECT_EQ(data.value().size(), 100u);
}

TEST(CompoundFile, Version4HugeSizeIsAnErrorNotAnAllocation) {
  auto bytes = build({{"s", randomBytes(5000, 1)}}, 4);
  const std::size_t at = (std::size_t{load32(bytes, header::firstDirectorySector)} + 1) * 4096 + kDirectoryEntrySize;
  store64(bytes, at + entry::size, std::uint64_t{1} << 62);
  const auto error = firstError(bytes);
  ASSERT_TRUE(error.has_value());
  EXPECT_NE(error->message.find("а в файле"), std::string::npos) << error->message;
}

// Every single damaged byte in the header, the FAT and the directory ends in a result: a clean
// read or an error, never a crash, a hang or a read past the buffer (the sanitizer build checks).
TEST(CompoundFile, EverySingleByteDamageEndsInAResult) {
  const Damaged pristine;
  std::size_t errors = 0;
  const std::size_t end = pristine.entryAt(0) + 4 * kDirectoryEntrySize;
  for (std::size_t at = 0; at < end; ++at) {
    for (const std::uint8_t value : {std::uint8_t{0x00}, std::uint8_t{0xFF}, std::uint8_t{0x7F}}) {
      auto bytes = pristine.bytes;
      if (bytes[at] == value) continue;
      bytes[at] = value;
      if (firstError(std::move(bytes)).has_value()) ++errors;
    }
  }
  // The signature alone accounts for 8 * 3 errors; most header fields are checked too.
  EXPECT_GT(errors, 100u);
}

}  // namespace
}  // namespace kvtr
