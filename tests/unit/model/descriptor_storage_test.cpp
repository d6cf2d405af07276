#include "model/descriptor_storage.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <random>

#include "common/atomic_file.h"
#include "model/compound_file_layout.h"
#include "model/compound_file_writer.h"
#include "model/text_encoding.h"
#include "model/zlib_codec.h"
#include "unit/model/scratch_folder.h"

namespace kvtr {
namespace {

using testing_support::ScratchFolder;

const std::string kText =
    "; описатель\r\n"
    "const Вх 4\n"
    "parameter bPS int:2 Скорость_обмена\n"
    "root Корень 1 0 0 bPS\n";

std::vector<std::uint8_t> fileWithStream(const std::string& name, std::vector<std::uint8_t> data) {
  auto bytes = buildCompoundFile(std::vector<CompoundStreamData>{{name, std::move(data)}});
  EXPECT_TRUE(bytes.ok()) << bytes.message();
  return bytes.ok() ? bytes.value() : std::vector<std::uint8_t>{};
}

std::vector<std::uint8_t> deflatedCp1251(std::string_view utf8) {
  const std::string cp = utf8ToCp1251(utf8);
  return deflateZlib(std::span(reinterpret_cast<const std::uint8_t*>(cp.data()), cp.size())).value();
}

std::vector<std::uint8_t> readAll(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeAll(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

TEST(DescriptorStorage, PackedTextReadsBackFromDisk) {
  const ScratchFolder scratch;
  const auto path = scratch.path() / kDescriptorFileName;
  auto packed = packDescriptor(kText);
  ASSERT_TRUE(packed.ok()) << packed.message();
  ASSERT_TRUE(writeFileAtomically(path, packed.value()));
  const auto result = readDescriptorFile(path);
  ASSERT_TRUE(result.ok()) << result.message;
  EXPECT_EQ(result.text, kText);

  // The stream holds Windows-1251, not UTF-8: one byte per Cyrillic letter.
  auto file = CompoundFile::open(path);
  ASSERT_TRUE(file.ok());
  auto stream = file.value().readStream(kDescriptorStreamName);
  ASSERT_TRUE(stream.ok());
  const auto inflated = inflateZlib(stream.value());
  ASSERT_TRUE(inflated.ok);
  EXPECT_EQ(inflated.data, utf8ToCp1251(kText));
  EXPECT_LT(inflated.data.size(), kText.size());
}

TEST(DescriptorStorage, TextLargerThanOneBlockInEveryDirection) {
  // Random letters compress poorly, so both the compressed stream and the text span many
  // 16384-byte blocks, and the stream lies in regular sectors.
  std::mt19937 generator(5);
  std::string text;
  const std::string letters = "абвгдеёжзийклмнопрстуфхцчшщъыьэюяABCxyz_ \n";
  std::vector<std::string> pieces;
  for (std::size_t i = 0; i < letters.size();) {
    const std::size_t length = (static_cast<unsigned char>(letters[i]) < 0x80) ? 1 : 2;
    pieces.push_back(letters.substr(i, length));
    i += length;
  }
  while (text.size() < 300000) text += pieces[generator() % pieces.size()];
  auto packed = packDescriptor(text);
  ASSERT_TRUE(packed.ok()) << packed.message();
  const auto result = readDescriptorBytes(packed.value());
  ASSERT_TRUE(result.ok()) << result.message;
  EXPECT_EQ(result.text, text);
}

TEST(DescriptorStorage, MissingFileIsReportedAndNotCreated) {
  const ScratchFolder scratch;
  const auto path = scratch.path() / kDescriptorFileName;
  const auto result = readDescriptorFile(path);
  EXPECT_EQ(result.status, DescriptorReadStatus::fileMissing);
  EXPECT_FALSE(std::filesystem::exists(path));
  EXPECT_EQ(descriptorReadFailureText(result.status), "Ошибка открытия файла дерева!");
}

TEST(DescriptorStorage, ForeignFileIsLeftUntouched) {
  const ScratchFolder scratch;
  const auto path = scratch.path() / kDescriptorFileName;
  const std::vector<std::uint8_t> foreign = {'n', 'o', 't', ' ', 'a', ' ', 'd', 'e', 's', 'c'};
  writeAll(path, foreign);
  const auto stamp = std::filesystem::last_write_time(path);
  const auto result = readDescriptorFile(path);
  EXPECT_EQ(result.status, DescriptorReadStatus::notCompoundFile) << result.message;
  EXPECT_EQ(readAll(path), foreign);
  EXPECT_EQ(std::filesystem::last_write_time(path), stamp);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(scratch.path()), std::filesystem::directory_iterator()), 1);
}

TEST(DescriptorStorage, FolderInPlaceOfTheFileIsUnreadable) {
  const ScratchFolder scratch;
  const auto path = scratch.path() / kDescriptorFileName;
  std::filesystem::create_directory(path);
  const auto result = readDescriptorFile(path);
  EXPECT_EQ(result.status, DescriptorReadStatus::storageUnreadable) << result.message;
}

struct StatusCase {
  const char* label;
  std::vector<std::uint8_t> file;
  DescriptorReadStatus status;
  const char* messagePart;
};

class DescriptorStorageStatus : public testing::TestWithParam<StatusCase> {};

TEST_P(DescriptorStorageStatus, ReadGivesTheRightStatus) {
  const StatusCase& c = GetParam();
  const auto result = readDescriptorBytes(c.file);
  EXPECT_EQ(result.status, c.status) << result.message;
  EXPECT_NE(result.message.find(c.messagePart), std::string::npos) << result.message;
  EXPECT_TRUE(result.text.empty());
}

std::vector<std::uint8_t> corruptZlib() {
  auto packed = deflatedCp1251(kText);
  packed[packed.size() / 2] ^= 0xFF;
  return packed;
}

std::vector<std::uint8_t> cutZlib() {
  auto packed = deflatedCp1251(kText);
  packed.resize(packed.size() - 6);
  return packed;
}

std::vector<std::uint8_t> brokenChain() {
  // A stream of its own sectors whose FAT entry ends the chain after the first sector.
  auto bytes = fileWithStream("kvtr.tree", std::vector<std::uint8_t>(6000, 'x'));
  auto file = CompoundFile::fromBytes(bytes);
  const std::uint32_t start = file.value().entries()[1].startSector;
  cfb::store32(bytes, 512 + 4 * start, cfb::kEndOfChain);
  return bytes;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DescriptorStorageStatus,
    testing::Values(
        StatusCase{"otherStream", fileWithStream("other", deflatedCp1251(kText)), DescriptorReadStatus::streamMissing,
                   "kvtr.tree"},
        StatusCase{"emptyStream", fileWithStream("kvtr.tree", {}), DescriptorReadStatus::emptyText, "пуст"},
        StatusCase{"emptyText", fileWithStream("kvtr.tree", deflatedCp1251("")), DescriptorReadStatus::emptyText,
                   "пуст"},
        StatusCase{"corruptZlib", fileWithStream("kvtr.tree", corruptZlib()), DescriptorReadStatus::streamUnreadable,
                   "повреждены"},
        StatusCase{"cutZlib", fileWithStream("kvtr.tree", cutZlib()), DescriptorReadStatus::streamUnreadable,
                   "оборваны"},
        StatusCase{"uncompressed", fileWithStream("kvtr.tree", {'r', 'o', 'o', 't'}),
                   DescriptorReadStatus::streamUnreadable, "повреждены"},
        StatusCase{"brokenChain", brokenChain(), DescriptorReadStatus::streamUnreadable, "кончается после 1 из 12"},
        StatusCase{"notCompound", {'a', 'b', 'c'}, DescriptorReadStatus::notCompoundFile, "подписи"},
        StatusCase{"damagedHeader", std::vector<std::uint8_t>(cfb::kSignature.begin(), cfb::kSignature.end()),
                   DescriptorReadStatus::storageUnreadable, "заголовк"}),
    [](const testing::TestParamInfo<StatusCase>& param) { return std::string(param.param.label); });

TEST(DescriptorStorage, FailureTexts) {
  EXPECT_EQ(descriptorReadFailureText(DescriptorReadStatus::ok), "");
  EXPECT_EQ(descriptorReadFailureText(DescriptorReadStatus::emptyText), "Не удалось создать дерево параметров");
  for (const auto status : {DescriptorReadStatus::fileMissing, DescriptorReadStatus::notCompoundFile,
                            DescriptorReadStatus::storageUnreadable, DescriptorReadStatus::streamMissing,
                            DescriptorReadStatus::streamUnreadable}) {
    EXPECT_EQ(descriptorReadFailureText(status), "Ошибка открытия файла дерева!");
  }
}

TEST(DescriptorStorage, StreamNameIsFoundWithoutRegardToCase) {
  const auto result = readDescriptorBytes(fileWithStream("KVTR.Tree", deflatedCp1251(kText)));
  ASSERT_TRUE(result.ok()) << result.message;
  EXPECT_EQ(result.text, kText);
  // Compressed data followed by anything else: the end of the compressed data ends the read.
  auto padded = deflatedCp1251(kText);
  padded.insert(padded.end(), 100, 0xAB);
  const auto trailing = readDescriptorBytes(fileWithStream("kvtr.tree", padded));
  ASSERT_TRUE(trailing.ok()) << trailing.message;
  EXPECT_EQ(trailing.text, kText);
}

TEST(DescriptorStorage, UnencodableTextNamesTheLine) {
  struct Case {
    std::string text;
    std::string expected;  // empty: storable
  };
  const std::vector<Case> cases = {
      {"Вход №1 € «»\n", ""},
      {"", ""},
      {"a\nb\nжук 日本\n", "строка 3: для символа «日» нет байта в Windows-1251"},
      {"x\n\xFF\n", "строка 2: текст — не правильный UTF-8 (байт 0xFF)"},
      {"x\n\n\n\xD0", "строка 4: текст — не правильный UTF-8 (байт 0xD0)"},
      {"\xC0\x80", "строка 1: текст — не правильный UTF-8 (байт 0xC0)"},
      {"ok\n\xF0\x9F\x98\x80", "строка 2: для символа «\xF0\x9F\x98\x80» нет байта в Windows-1251"},
      {"\xEF\xBB\xBF" "bom", "строка 1: для символа «\xEF\xBB\xBF» нет байта в Windows-1251"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(findUnencodableText(c.text), c.expected) << c.text;
    auto packed = packDescriptor(c.text);
    EXPECT_EQ(packed.ok(), c.expected.empty()) << c.text;
    if (!packed.ok()) {
      EXPECT_EQ(packed.code(), CompoundFileErrc::invalidArgument);
      EXPECT_EQ(packed.message(), c.expected);
    }
  }
}

}  // namespace
}  // namespace kvtr
