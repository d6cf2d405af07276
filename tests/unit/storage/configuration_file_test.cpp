#include "storage/configuration_file.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <thread>

#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <string>
#include <vector>

#include "common/atomic_file.h"
#include "common/utf8_path.h"
#include "model/text_encoding.h"
#include "unit/storage/configuration_test_support.h"

namespace kvtr {
namespace {

using testing_support::kSmallDescriptor;
using testing_support::Layout;
using testing_support::RecordingUi;
using Bytes = std::vector<std::uint8_t>;

// Hashes of the names the small descriptor uses; the name hash is the module's own and these are
// its published values for them.
constexpr std::uint32_t kHashRoe = 0xE894;
constexpr std::uint32_t kHashChar = 0x3628;
constexpr std::uint32_t kHashInit = 0x00E9;
constexpr std::uint32_t kHashAply = 0x8403;

OpenOptions smallOptions(bool batchSilent = false) {
  OpenOptions options;
  options.loadDescriptor = DescriptorFromText(std::string(kSmallDescriptor));
  options.batchSilent = batchSilent;
  return options;
}

std::unique_ptr<ParameterTree> smallTree() {
  auto tree = std::make_unique<ParameterTree>();
  RecordingUi ui;
  DescriptorFromText(std::string(kSmallDescriptor))(*tree, ui);
  EXPECT_TRUE(ui.messages.empty()) << ui.messages.front().text;
  EXPECT_NE(tree->root(), nullptr);
  return tree;
}

DescBranch& child(ParameterTree& tree, std::size_t i) { return *tree.root()->children.at(i); }
Parameter& param(const ObjectWithParameters& branch, std::size_t i) { return *branch.parameters().at(i); }

// The edits of the byte-for-byte test, so that the file holds more than defaults.
void editSmallTree(ParameterTree& tree) {
  Parameter& name = param(*tree.root(), 0);
  name.value = "AB.C";
  name.valueChanged = 1;
  Parameter& mode = param(*tree.root(), 1);
  mode.value = "Вкл";
  mode.comment = "Таймаут";
  mode.editable = 0;
  mode.ownerFirm = 1;
  mode.accessChanged = 1;
  mode.ownerChanged = 1;
  mode.scanId = 7;
  mode.attributeMark = 2;
  Parameter& setpoint = param(child(tree, 1), 0);
  setpoint.value = "1.500";
  setpoint.comment = "Знач-е в приборе: 2.000";
}

// The parameter form as the layout describes it.
struct StoredParameter {
  std::string name;
  std::string value = "Нет данных";
  std::string description;
  std::uint8_t hasIndex = 0;
  std::uint32_t index = 0;
  std::uint32_t scanId = 0;
  std::uint8_t exchangeable = 1;
  std::string comment;
  std::uint8_t valueChanged = 0, accessChanged = 0, ownerChanged = 0, editable = 1, ownerFirm = 0;
  std::uint32_t attributeMark = 0;
};

// Class numbers as the small file assigns them: CZRP8Doc 1, DescBranch 2, MyConverter 3,
// Parameter 4. `first` writes the full tags of the first parameter in the file.
void putParameter(Layout& file, const StoredParameter& p, bool first = false) {
  if (first) {
    file.newClass(3, "MyConverter");
  } else {
    file.oldClass(3);
  }
  file.text(p.name).text(p.value);
  if (first) {
    file.newClass(1, "Parameter");
  } else {
    file.oldClass(4);
  }
  file.text(p.description).byte(p.hasIndex).dword(p.index).dword(p.scanId).byte(p.exchangeable).text(p.comment);
  file.byte(p.valueChanged).byte(p.accessChanged).byte(p.ownerChanged).byte(p.editable).byte(p.ownerFirm);
  file.dword(p.attributeMark);
}

std::uint32_t key(std::uint32_t hash, std::uint32_t index) { return hash | (index << 16); }
std::uint32_t keyNoIndex(std::uint32_t hash) { return hash | 0xFFFF0000u; }

// The file of the edited small tree, written field by field from the layout.
Bytes handBuiltSmallFile() {
  Layout file;
  file.newClass(4, "CZRP8Doc").dword(3);
  file.newClass(3, "DescBranch").text("Прибор").dword(2);
  StoredParameter name{.name = "CHAr*", .value = "AB.C", .description = "Имя"};
  name.valueChanged = 1;
  file.dword(keyNoIndex(kHashChar));
  putParameter(file, name, true);
  StoredParameter mode{.name = "INIT", .value = "Вкл", .description = "Режим", .scanId = 7, .comment = "Таймаут"};
  mode.accessChanged = 1;
  mode.ownerChanged = 1;
  mode.editable = 0;
  mode.ownerFirm = 1;
  mode.attributeMark = 2;
  file.dword(keyNoIndex(kHashInit));
  putParameter(file, mode);
  file.dword(1).dword(1);
  for (std::uint32_t i = 0; i < 2; ++i) {
    file.oldClass(2).text(i == 0 ? "Вход №1" : "Вход №2").dword(2);
    StoredParameter setpoint{.name = "r.oe", .description = "Уставка", .hasIndex = 1, .index = i};
    if (i == 1) {
      setpoint.value = "1.500";
      setpoint.comment = "Знач-е в приборе: 2.000";
    }
    file.dword(key(kHashRoe, i));
    putParameter(file, setpoint);
    file.dword(key(kHashAply, i));
    putParameter(file, {.name = "APLY", .description = "Применить", .hasIndex = 1, .index = i});
    file.dword(2).dword(i + 1);
  }
  return file.bytes;
}

void expectSameParameter(const Parameter& a, const Parameter& b) {
  SCOPED_TRACE(a.name);
  EXPECT_EQ(a.name, b.name);
  EXPECT_EQ(a.value, b.value);
  EXPECT_EQ(a.description, b.description);
  EXPECT_EQ(a.hasIndex, b.hasIndex);
  EXPECT_EQ(a.index, b.index);
  EXPECT_EQ(a.scanId, b.scanId);
  EXPECT_EQ(a.exchangeable, b.exchangeable);
  EXPECT_EQ(a.comment, b.comment);
  EXPECT_EQ(a.valueChanged, b.valueChanged);
  EXPECT_EQ(a.accessChanged, b.accessChanged);
  EXPECT_EQ(a.ownerChanged, b.ownerChanged);
  EXPECT_EQ(a.editable, b.editable);
  EXPECT_EQ(a.ownerFirm, b.ownerFirm);
  EXPECT_EQ(a.attributeMark, b.attributeMark);
}

void expectSameBranch(const DescBranch& a, const DescBranch& b) {
  SCOPED_TRACE(a.title);
  EXPECT_EQ(a.title, b.title);
  EXPECT_EQ(a.instanceCount, b.instanceCount);
  EXPECT_EQ(a.instanceNumber, b.instanceNumber);
  ASSERT_EQ(a.ParameterCount(), b.ParameterCount());
  for (std::size_t i = 0; i < a.ParameterCount(); ++i) expectSameParameter(*a.parameters()[i], *b.parameters()[i]);
  ASSERT_EQ(a.children.size(), b.children.size());
  for (std::size_t i = 0; i < a.children.size(); ++i) expectSameBranch(*a.children[i], *b.children[i]);
}

TEST(ConfigurationFile, SavesExactlyTheDocumentedLayout) {
  auto tree = smallTree();
  editSmallTree(*tree);
  EXPECT_EQ(SerializeConfiguration(*tree), handBuiltSmallFile());
}

TEST(ConfigurationFile, OpensAHandBuiltFile) {
  RecordingUi ui;
  const OpenResult opened = OpenConfiguration(handBuiltSmallFile(), ui, smallOptions());
  ASSERT_EQ(opened.status, OpenStatus::Opened) << opened.detail;
  EXPECT_TRUE(ui.messages.empty());
  auto expected = smallTree();
  editSmallTree(*expected);
  expectSameBranch(*opened.tree->root(), *expected->root());
  EXPECT_EQ(opened.tree->descriptorSelector, 3u);
}

// Every field of every parameter survives, also texts that need the longer length forms and
// characters of the whole code page.
TEST(ConfigurationFile, SaveAndOpenGiveTheSameTree) {
  auto tree = smallTree();
  std::uint8_t bits = 0;
  int n = 0;
  auto vary = [&](Parameter& p) {
    ++n;
    p.value = "значение " + std::to_string(n);
    p.comment = std::string(n % 2 ? 300 : 3, static_cast<char>('a' + n)) + " Ёё№";
    p.description = "описание " + std::to_string(n);
    p.valueChanged = (bits >> 0) & 1;
    p.accessChanged = (bits >> 1) & 1;
    p.ownerChanged = (bits >> 2) & 1;
    p.editable = (bits >> 3) & 1;
    p.ownerFirm = (bits >> 4) & 1;
    p.exchangeable = (bits >> 5) & 1;
    p.scanId = 0x01020304u * static_cast<std::uint32_t>(n);
    p.attributeMark = n % 3;
    bits = static_cast<std::uint8_t>(bits * 5 + 7);
  };
  ParameterTree::ForEachParameter(*tree->root(), vary);
  tree->root()->title = "Прибор с длинным названием " + std::string(70000, 'x');
  child(*tree, 1).instanceNumber = 9;

  const Bytes saved = SerializeConfiguration(*tree);
  RecordingUi ui;
  const OpenResult opened = OpenConfiguration(saved, ui, smallOptions());
  ASSERT_EQ(opened.status, OpenStatus::Opened) << opened.detail;
  EXPECT_TRUE(ui.messages.empty());
  expectSameBranch(*opened.tree->root(), *tree->root());
  EXPECT_EQ(SerializeConfiguration(*opened.tree), saved);
}

TEST(ConfigurationFile, ABranchLackingAParameterLeavesItWithoutData) {
  Layout file;
  file.newClass(4, "CZRP8Doc").dword(3);
  // The root stores only INIT; CHAr* is missing.
  file.newClass(3, "DescBranch").text("Прибор").dword(1).dword(keyNoIndex(kHashInit));
  putParameter(file, {.name = "INIT", .value = "Вкл", .description = "Режим"}, true);
  file.dword(1).dword(1);
  for (std::uint32_t i = 0; i < 2; ++i) {
    file.oldClass(2).text("Вход").dword(1).dword(key(kHashRoe, i));
    putParameter(file, {.name = "r.oe", .value = std::to_string(i) + ".000", .description = "Уставка",
                        .hasIndex = 1, .index = i});
    file.dword(2).dword(i + 1);
  }
  RecordingUi ui;
  const OpenResult opened = OpenConfiguration(file.bytes, ui, smallOptions());
  ASSERT_EQ(opened.status, OpenStatus::Opened) << opened.detail;
  ParameterTree& tree = *opened.tree;
  EXPECT_EQ(param(*tree.root(), 0).value, "Нет данных");
  EXPECT_EQ(param(*tree.root(), 1).value, "Вкл");
  EXPECT_EQ(param(child(tree, 0), 0).value, "0.000");
  EXPECT_EQ(param(child(tree, 1), 0).value, "1.000");
  EXPECT_EQ(param(child(tree, 1), 1).value, "Нет данных");
  EXPECT_EQ(child(tree, 1).title, "Вход");
}

// An entry the descriptor no longer has is read in full and dropped: what follows it is read
// in the right place.
TEST(ConfigurationFile, AnUnknownStoredParameterIsReadAndDropped) {
  Layout file;
  file.newClass(4, "CZRP8Doc").dword(3);
  file.newClass(3, "DescBranch").text("Прибор").dword(3);
  file.dword(keyNoIndex(0x1234));
  putParameter(file, {.name = "OLd", .value = "старое", .description = "Удален", .comment = "x"}, true);
  file.dword(keyNoIndex(kHashChar));
  putParameter(file, {.name = "CHAr*", .value = "AB", .description = "Имя"});
  file.dword(key(kHashInit, 5));  // INIT is stored with an index the descriptor does not give it
  putParameter(file, {.name = "INIT", .value = "Вкл", .description = "Режим", .hasIndex = 1, .index = 5});
  file.dword(1).dword(1);
  for (std::uint32_t i = 0; i < 2; ++i) {
    file.oldClass(2).text("Вход").dword(0).dword(2).dword(i + 1);
  }
  RecordingUi ui;
  const OpenResult opened = OpenConfiguration(file.bytes, ui, smallOptions());
  ASSERT_EQ(opened.status, OpenStatus::Opened) << opened.detail;
  EXPECT_TRUE(ui.messages.empty());
  ParameterTree& tree = *opened.tree;
  ASSERT_EQ(tree.root()->ParameterCount(), 2u);
  EXPECT_EQ(param(*tree.root(), 0).value, "AB");
  EXPECT_EQ(param(*tree.root(), 1).value, "Нет данных");
  EXPECT_EQ(param(*tree.root(), 1).hasIndex, 0);
  EXPECT_EQ(child(tree, 1).instanceNumber, 2);
}

// Two parameters of one name without index have one key: the later one holds the map, so both
// stored entries are read into it and the earlier keeps the descriptor's state.
TEST(ConfigurationFile, SameNameParametersShareAKey) {
  const std::string descriptor =
      "parameter Addr int Адрес\n"
      "root Прибор 1 2 3 Addr Addr\n";
  auto tree = std::make_unique<ParameterTree>();
  RecordingUi ui;
  DescriptorFromText(descriptor)(*tree, ui);
  ASSERT_EQ(tree->root()->ParameterCount(), 2u);
  param(*tree->root(), 0).value = "1";
  param(*tree->root(), 1).value = "2";
  const Bytes saved = SerializeConfiguration(*tree);

  OpenOptions options;
  options.loadDescriptor = DescriptorFromText(descriptor);
  const OpenResult opened = OpenConfiguration(saved, ui, options);
  ASSERT_EQ(opened.status, OpenStatus::Opened) << opened.detail;
  EXPECT_EQ(param(*opened.tree->root(), 0).value, "Нет данных");
  EXPECT_EQ(param(*opened.tree->root(), 1).value, "2");
}

TEST(ConfigurationFile, DocumentSchemasOtherThanTheCurrentOne) {
  struct Row {
    std::uint16_t schema;
    OpenStatus status;
    const char* message;  // nullptr: none
  };
  const Row rows[] = {
      {1, OpenStatus::Outdated, "Невозможно открыть по причине устаревшей версии файла!"},
      {0xFFFF, OpenStatus::Outdated, "Невозможно открыть по причине устаревшей версии файла!"},
      {2, OpenStatus::Corrupt, "Данные в файле испорчены!"},
      {5, OpenStatus::Corrupt, "Данные в файле испорчены!"},
      {3, OpenStatus::NoTree, nullptr},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.schema);
    Layout file;
    // Whatever follows the tag is not read: here, something that would not parse.
    file.newClass(row.schema, "CZRP8Doc").raw({0x13});
    RecordingUi ui;
    const OpenResult opened = OpenConfiguration(file.bytes, ui, smallOptions());
    EXPECT_EQ(opened.status, row.status);
    if (row.message == nullptr) {
      EXPECT_TRUE(ui.messages.empty());
      ASSERT_NE(opened.tree, nullptr);
      EXPECT_FALSE(opened.tree->hasTree());
      EXPECT_EQ(opened.tree->descriptorSelector, 19u);
    } else {
      ASSERT_EQ(ui.messages.size(), 1u);
      EXPECT_EQ(ui.messages[0].text, row.message);
      EXPECT_EQ(ui.messages[0].caption, "Ошибка открытия файла!");
      EXPECT_EQ(ui.messages[0].icon, MessageIcon::Exclamation);
      EXPECT_EQ(opened.tree, nullptr) << "the document keeps its tree";
      EXPECT_FALSE(opened.ok());
    }
  }
}

// Every file cut short, at every length, is reported, and no half-read tree is handed over.
TEST(ConfigurationFile, EveryTruncationIsReported) {
  const Bytes whole = handBuiltSmallFile();
  for (std::size_t length = 0; length < whole.size(); ++length) {
    SCOPED_TRACE(length);
    const Bytes cut(whole.begin(), whole.begin() + static_cast<long>(length));
    RecordingUi ui;
    const OpenResult opened = OpenConfiguration(cut, ui, smallOptions());
    ASSERT_EQ(opened.status, OpenStatus::Malformed);
    EXPECT_FALSE(opened.ok());
    EXPECT_EQ(opened.tree, nullptr);
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].text, "Неверный формат данных! Возможно это устаревшая версия файла.");
    EXPECT_EQ(ui.messages[0].caption, "Предупреждение");
  }
}

// One damaged byte in the selector leaves a document that names no descriptor, followed by a
// whole tree: damaged, not a document without a tree. Bytes after a whole file are read as far
// as the configuration goes and reported.
TEST(ConfigurationFile, ADamagedSelectorAndDataAfterTheEndAreReported) {
  Bytes damaged = handBuiltSmallFile();
  damaged[0x10] ^= 0x55;
  Bytes tail = handBuiltSmallFile();
  const std::size_t end = tail.size();
  tail.insert(tail.end(), {'x', 'y', 'z'});
  Layout withoutTree;
  withoutTree.newClass(4, "CZRP8Doc").dword(19);

  RecordingUi ui;
  OpenResult opened = OpenConfiguration(damaged, ui, smallOptions());
  EXPECT_EQ(opened.status, OpenStatus::Corrupt);
  EXPECT_FALSE(opened.ok());
  EXPECT_EQ(opened.tree, nullptr);
  EXPECT_NE(opened.detail.find("селектор описания 5570563"), std::string::npos) << opened.detail;
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0].text, "Данные в файле испорчены!");

  ui.messages.clear();
  opened = OpenConfiguration(tail, ui, smallOptions());
  ASSERT_EQ(opened.status, OpenStatus::Opened) << opened.detail;
  EXPECT_EQ(opened.trailingBytes, 3u);
  EXPECT_EQ(param(*opened.tree->root(), 0).value, "AB.C") << "the configuration itself is read";
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0].text, "После конца конфигурации в файле есть ещё 3 байт (с позиции " + std::to_string(end) +
                                     ").\nПрограмма их не читает; при сохранении файла они будут потеряны.");
  EXPECT_EQ(ui.messages[0].caption, "Предупреждение");

  ui.messages.clear();
  opened = OpenConfiguration(withoutTree.bytes, ui, smallOptions());
  EXPECT_EQ(opened.status, OpenStatus::Opened) << "a document without a tree ends after its selector";
  EXPECT_EQ(opened.trailingBytes, 0u);
  EXPECT_TRUE(ui.messages.empty());
}

TEST(ConfigurationFile, MalformedArchivesAreReported) {
  struct Row {
    const char* what;
    Bytes bytes;
    const char* detail;
  };
  auto withRoot = [](std::initializer_list<int> afterTitle) {
    Layout file;
    file.newClass(4, "CZRP8Doc").dword(3).newClass(3, "DescBranch").text("Прибор").raw(afterTitle);
    return file.bytes;
  };
  Layout unknownClass;
  unknownClass.newClass(4, "CZRP8Doc").dword(3).newClass(3, "DescBranch").text("x").dword(1).dword(0);
  unknownClass.newClass(3, "MyConverted");
  Layout wrongDocument;
  wrongDocument.newClass(3, "DescBranch");
  Layout hugeText;
  hugeText.newClass(4, "CZRP8Doc").dword(3).newClass(3, "DescBranch").raw({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F});
  Layout parameterAsBranch;
  parameterAsBranch.newClass(4, "CZRP8Doc").dword(3).newClass(1, "Parameter");
  const Row rows[] = {
      {"unknown class", unknownClass.bytes, "неизвестный класс"},
      {"document of another class", wrongDocument.bytes, "неожиданный класс"},
      {"parameter where the root belongs", parameterAsBranch.bytes, "неожиданный класс"},
      {"text length of 2 GB", hugeText.bytes, "за концом данных"},
      {"class number never announced", withRoot({1, 0, 0, 0, 0x28, 0x36, 0xFF, 0xFF, 0x07, 0x80}), "неверная метка класса"},
      {"object tag", withRoot({1, 0, 0, 0, 0x28, 0x36, 0xFF, 0xFF, 0x01, 0x00}), "неверная метка класса"},
      {"empty file", {}, "за концом данных"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    RecordingUi ui;
    const OpenResult opened = OpenConfiguration(row.bytes, ui, smallOptions());
    EXPECT_EQ(opened.status, OpenStatus::Malformed);
    EXPECT_NE(opened.detail.find(row.detail), std::string::npos) << opened.detail;
    EXPECT_EQ(opened.tree, nullptr);
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].caption, "Предупреждение");
  }
}

// In a silent batch run a malformed file leaves the document without a tree, as schema 3 does.
TEST(ConfigurationFile, SilentBatchClearsTheDocumentOnAMalformedFile) {
  Bytes cut = handBuiltSmallFile();
  cut.resize(cut.size() / 2);
  RecordingUi ui;
  const OpenResult opened = OpenConfiguration(cut, ui, smallOptions(true));
  EXPECT_EQ(opened.status, OpenStatus::Malformed);
  ASSERT_NE(opened.tree, nullptr);
  EXPECT_FALSE(opened.tree->hasTree());
  EXPECT_EQ(opened.tree->descriptorSelector, 19u);
  EXPECT_EQ(ui.messages.size(), 1u);
}

// A branch class stored with another schema: nothing of any branch itself is read (the schema
// belongs to the class), but the children are still visited.
TEST(ConfigurationFile, OtherBranchSchemaSkipsTheBranchItself) {
  Layout file;
  file.newClass(4, "CZRP8Doc").dword(3).newClass(2, "DescBranch").oldClass(2).oldClass(2);
  RecordingUi ui;
  const OpenResult opened = OpenConfiguration(file.bytes, ui, smallOptions());
  ASSERT_EQ(opened.status, OpenStatus::Opened) << opened.detail;
  EXPECT_EQ(opened.tree->root()->title, "Прибор");
  EXPECT_EQ(child(*opened.tree, 1).title, "Вход №2");
}

// Parts of a parameter stored with other schemas are skipped part by part.
TEST(ConfigurationFile, ParameterPartsAreReadByTheirSchemas) {
  Layout file;
  file.newClass(4, "CZRP8Doc").dword(3).newClass(3, "DescBranch").text("Прибор").dword(2);
  file.dword(keyNoIndex(kHashChar)).newClass(2, "MyConverter").newClass(1, "Parameter");
  file.text("описание").byte(0).dword(0).dword(0).byte(1).text("коммент").raw({1, 0, 0, 1, 0}).dword(0);
  file.dword(keyNoIndex(kHashInit)).oldClass(3).newClass(2, "Parameter");  // both parts skipped
  file.dword(1).dword(1);
  file.oldClass(2).text("Вход").dword(0).dword(2).dword(1);
  file.oldClass(2).text("Вход").dword(0).dword(2).dword(2);
  RecordingUi ui;
  const OpenResult opened = OpenConfiguration(file.bytes, ui, smallOptions());
  ASSERT_EQ(opened.status, OpenStatus::Opened) << opened.detail;
  const Parameter& name = param(*opened.tree->root(), 0);
  EXPECT_EQ(name.value, "Нет данных");
  EXPECT_EQ(name.description, "описание");
  EXPECT_EQ(name.comment, "коммент");
  EXPECT_EQ(name.valueChanged, 1);
  EXPECT_EQ(param(*opened.tree->root(), 1).description, "Режим");
}

// A stored name replaces the descriptor's only when it addresses the same parameter.
TEST(ConfigurationFile, AStoredNameCannotRetargetAParameter) {
  for (const auto& [stored, expected] : {std::pair{"char", "char"}, std::pair{"Addr", "CHAr*"}}) {
    Layout file;
    file.newClass(4, "CZRP8Doc").dword(3).newClass(3, "DescBranch").text("Прибор").dword(1);
    file.dword(keyNoIndex(kHashChar));
    putParameter(file, {.name = stored, .value = "AB", .description = "Имя"}, true);
    file.dword(1).dword(1).oldClass(2).text("Вход").dword(0).dword(2).dword(1);
    file.oldClass(2).text("Вход").dword(0).dword(2).dword(2);
    RecordingUi ui;
    const OpenResult opened = OpenConfiguration(file.bytes, ui, smallOptions());
    ASSERT_EQ(opened.status, OpenStatus::Opened) << opened.detail;
    EXPECT_EQ(param(*opened.tree->root(), 0).name, expected);
    EXPECT_EQ(param(*opened.tree->root(), 0).value, "AB");
  }
}

// Titled nodes other than descriptor branches are stored by position; the program's own port
// settings keep their values, any other node is reset first.
TEST(ConfigurationFile, PositionalNodes) {
  NetRS485 module;
  module.RebuildParameters();
  ASSERT_GT(module.ParameterCount(), 2u);
  for (const auto& p : module.parameters()) {
    p->value = "из файла " + p->name;
    p->comment = "c";
  }
  module.title = "Сеть модуля";
  ArchiveWriter writer;
  SerializeNode(writer, module);
  const Bytes bytes = writer.takeBytes();

  NetRS485 target;
  target.RebuildParameters();
  param(target, 0).valueChanged = 1;
  ArchiveReader reader(bytes, ConfigurationClasses());
  ReadNode(reader, target);
  EXPECT_TRUE(reader.atEnd());
  EXPECT_EQ(target.title, "Сеть модуля");
  for (std::size_t i = 0; i < target.ParameterCount(); ++i) expectSameParameter(param(target, i), param(module, i));

  NetRS485prg stored;
  stored.RebuildParameters();
  for (const auto& p : stored.parameters()) {
    p->value = "из файла";
    p->comment = "c";
  }
  ArchiveWriter programWriter;
  SerializeNode(programWriter, stored);
  const Bytes programBytes = programWriter.takeBytes();
  NetRS485prg program;
  program.RebuildParameters();
  for (const auto& p : program.parameters()) p->value = "компьютер";
  ArchiveReader again(programBytes, ConfigurationClasses());
  ReadNode(again, program);
  EXPECT_TRUE(again.atEnd());
  for (const auto& p : program.parameters()) {
    EXPECT_EQ(p->value, "компьютер") << p->name;
    EXPECT_EQ(p->comment, "c") << p->name;
  }
}

TEST(ConfigurationFile, FilesAreSavedWholeOrNotAtAll) {
  testing_support::ScratchFolder folder;
  auto tree = smallTree();
  editSmallTree(*tree);
  const auto path = folder.path() / "cfg.kvtr";
  std::string error;
  ASSERT_TRUE(SaveConfigurationFile(*tree, path, &error)) << error;
  RecordingUi ui;
  const OpenResult opened = OpenConfigurationFile(path, ui, smallOptions());
  ASSERT_EQ(opened.status, OpenStatus::Opened);
  expectSameBranch(*opened.tree->root(), *tree->root());

  EXPECT_FALSE(SaveConfigurationFile(*tree, folder.path() / "missing" / "cfg.kvtr", &error));
  EXPECT_NE(error.find("missing"), std::string::npos);

  const OpenResult missing = OpenConfigurationFile(folder.path() / "none.kvtr", ui, smallOptions());
  EXPECT_EQ(missing.status, OpenStatus::Unreadable);
  EXPECT_EQ(ui.messages.back().caption, "Ошибка открытия файла!");
}

// A configuration file named in Cyrillic with blanks, in a folder named so, is saved, listed under
// the same name, opened again, and named as typed in the messages about it.
TEST(ConfigurationFile, AFileNamedInCyrillicWithBlanksIsSavedAndOpened) {
  testing_support::ScratchFolder folder;
  const std::string folderName = "Шкаф 3";
  const std::string fileName = "модуль входов.kvtr";
  const std::filesystem::path cabinet = folder.path() / pathFromUtf8(folderName);
  ASSERT_TRUE(std::filesystem::create_directory(cabinet));
  const std::filesystem::path path = cabinet / pathFromUtf8(fileName);
  EXPECT_EQ(utf8FromPath(path.filename()), fileName);
  const std::string separator = utf8FromPath(std::filesystem::path("/").make_preferred());
  EXPECT_EQ(utf8FromPath(path), utf8FromPath(folder.path()) + separator + folderName + separator + fileName);

  auto tree = smallTree();
  editSmallTree(*tree);
  std::string error;
  ASSERT_TRUE(SaveConfigurationFile(*tree, path, &error)) << error;
  std::vector<std::string> listed;
  for (const auto& entry : std::filesystem::directory_iterator(cabinet)) listed.push_back(utf8FromPath(entry.path().filename()));
  EXPECT_EQ(listed, std::vector<std::string>{fileName});
  RecordingUi ui;
  const OpenResult opened = OpenConfigurationFile(pathFromUtf8(utf8FromPath(path)), ui, smallOptions());
  ASSERT_EQ(opened.status, OpenStatus::Opened) << opened.detail;
  expectSameBranch(*opened.tree->root(), *tree->root());

  const std::filesystem::path missing = cabinet / pathFromUtf8("нет папки");
  EXPECT_FALSE(SaveConfigurationFile(*tree, missing / pathFromUtf8(fileName), &error));
  EXPECT_NE(error.find(utf8FromPath(missing)), std::string::npos) << error;
}

// A save killed at any moment leaves the old file or the new one, whole, and whatever temporary
// file it left behind is gone after the next save. KVTR_KILL_TRIALS sets how many saves are killed.
TEST(ConfigurationFile, ASaveKilledAtAnyMomentLeavesTheOldOrTheNewFile) {
  testing_support::ScratchFolder folder;
  const auto path = folder.path() / "cfg.kvtr";
  auto tree = smallTree();
  ASSERT_TRUE(SaveConfigurationFile(*tree, path));
  Bytes current;
  ASSERT_TRUE(readWholeFile(path, current));

  const char* env = std::getenv("KVTR_KILL_TRIALS");
  const int trials = env != nullptr ? std::atoi(env) : 100;
  std::mt19937 random(20261209);
  // Kill moments spread over a little more than a whole fork-save-exit, whatever this disk takes.
  auto started = std::chrono::steady_clock::now();
  const pid_t probe = fork();
  if (probe == 0) _exit(SaveConfigurationFile(*tree, path) ? 0 : 1);
  waitpid(probe, nullptr, 0);
  const auto span = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - started);
  std::uniform_int_distribution<long> moment(0, span.count() * 3 / 2 + 1);

  int keptOld = 0, gotNew = 0, broken = 0, leftBehind = 0, leftAfterNextSave = 0;
  for (int trial = 0; trial < trials; ++trial) {
    tree->root()->title = "Прибор " + std::to_string(trial) + std::string(random() % 20000, 'x');
    const Bytes next = SerializeConfiguration(*tree);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) _exit(SaveConfigurationFile(*tree, path) ? 0 : 1);
    std::this_thread::sleep_for(std::chrono::microseconds(moment(random)));
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);

    Bytes found;
    ASSERT_TRUE(readWholeFile(path, found));
    if (found == current) ++keptOld;
    else if (found == next) ++gotNew;
    else ++broken;
    leftBehind += static_cast<int>(temporariesOf(path).size());

    ASSERT_TRUE(SaveConfigurationFile(*tree, path));
    current = next;
    std::size_t others = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder.path())) others += entry.path() != path;
    leftAfterNextSave += static_cast<int>(others);
  }
  std::printf("kill trials: %d, broken files: %d, leftovers after the next save: %d, kills that left the old file: "
              "%d, the new file: %d, a temporary file: %d\n",
              trials, broken, leftAfterNextSave, keptOld, gotNew, leftBehind);
  EXPECT_EQ(broken, 0);
  EXPECT_EQ(leftAfterNextSave, 0);
}

}  // namespace
}  // namespace kvtr
