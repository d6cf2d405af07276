// The file utilities of the kvtr tool (tree, new, show, edit), run as a user runs them, against
// a small descriptor packed for the test and against the shipped one.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "model/descriptor_storage.h"
#include "storage/configuration_file.h"
#include "unit/storage/configuration_test_support.h"
#include "unit/tools/cli/run_tool.h"

namespace kvtr {
namespace {

using testing::runTool;
using testing_support::kSmallDescriptor;
using testing_support::ScratchFolder;

std::string contents(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

class KvtrFileCommands : public ::testing::Test {
 protected:
  void SetUp() override {
    descriptor_ = folder_.path() / "small.tree.dat";
    auto packed = packDescriptor(kSmallDescriptor);
    ASSERT_TRUE(packed.ok());
    std::ofstream(descriptor_, std::ios::binary)
        .write(reinterpret_cast<const char*>(packed.value().data()), static_cast<std::streamsize>(packed.value().size()));
    file_ = (folder_.path() / "cfg.kvtr").string();
  }

  testing::ToolRun kvtr(std::vector<std::string> args) {
    args.push_back("--descriptor");
    args.push_back(descriptor_.string());
    return runTool("kvtr", args);
  }

  ScratchFolder folder_;
  std::filesystem::path descriptor_;
  std::string file_;
};

TEST_F(KvtrFileCommands, TreeListsBranchesAndParameters) {
  const auto run = kvtr({"tree"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out,
            "Прибор\n"
            "  CHAr*\tname\t-\tнет атрибутов\tИмя\n"
            "  INIT\tВыкл:Вкл\t-\tобычн. атрибуты\tРежим\n"
            "  Вход №1\n"
            "    r.oe:0\tfloat\t0..10\tобычн. атрибуты\tУставка\n"
            "    APLY:0\tvoid\t-\tнет атрибутов\tПрименить\n"
            "  Вход №2\n"
            "    r.oe:1\tfloat\t0..10\tобычн. атрибуты\tУставка\n"
            "    APLY:1\tvoid\t-\tнет атрибутов\tПрименить\n");
  EXPECT_EQ(run.err, "");

  const auto json = kvtr({"tree", "--json"});
  ASSERT_EQ(json.exitCode, 0) << json.err;
  for (const char* part : {"\"title\": \"Вход №2\"", "\"name\": \"r.oe\"", "\"maximum\": 10", "\"scanners\": null",
                           "\"type\": \"Выкл:Вкл\""}) {
    EXPECT_NE(json.out.find(part), std::string::npos) << part << "\n" << json.out;
  }
}

TEST_F(KvtrFileCommands, NewShowEditShow) {
  ASSERT_EQ(kvtr({"new", file_}).exitCode, 0);
  const auto fresh = kvtr({"show", file_});
  ASSERT_EQ(fresh.exitCode, 0) << fresh.err;
  EXPECT_NE(fresh.out.find("    r.oe:1 = Нет данных  [editable=1 ownerFirm=0]\n"), std::string::npos) << fresh.out;

  const auto edited = kvtr({"edit", file_, "r.oe:1=2.5", "INIT=Вкл"});
  ASSERT_EQ(edited.exitCode, 0) << edited.err;
  const auto shown = kvtr({"show", file_});
  ASSERT_EQ(shown.exitCode, 0) << shown.err;
  EXPECT_NE(shown.out.find("    r.oe:1 = 2.500  [editable=1 ownerFirm=0]  changed=value\n"), std::string::npos)
      << shown.out;
  EXPECT_NE(shown.out.find("    r.oe:0 = Нет данных  [editable=1 ownerFirm=0]\n"), std::string::npos);
  EXPECT_NE(shown.out.find("  INIT = Вкл  [editable=1 ownerFirm=0]  changed=value\n"), std::string::npos);

  const auto json = kvtr({"show", file_, "--json"});
  ASSERT_EQ(json.exitCode, 0);
  EXPECT_NE(json.out.find("\"value\": \"2.500\""), std::string::npos) << json.out;
  EXPECT_NE(json.out.find("\"valueChanged\": true"), std::string::npos);
  EXPECT_NE(json.out.find("\"descriptorSelector\": 3"), std::string::npos);

  // A value changed outside the program may hold any text: quotes, backslashes and line ends
  // must come out escaped.
  {
    testing_support::RecordingUi ui;
    OpenOptions open;
    open.loadDescriptor = DescriptorFromText(std::string(kSmallDescriptor));
    OpenResult opened = OpenConfigurationFile(file_, ui, open);
    ASSERT_TRUE(opened.ok() && opened.tree->root() != nullptr) << opened.detail;
    opened.tree->root()->FindParameter("INIT")->value = "a\"b\\c\nd\x01";
    ASSERT_TRUE(SaveConfigurationFile(*opened.tree, file_));
  }
  const auto escaped = kvtr({"show", file_, "--json"});
  EXPECT_NE(escaped.out.find("\"value\": \"a\\\"b\\\\c\\nd\\u0001\""), std::string::npos) << escaped.out;
}

// A refused value, a name that is not there or a malformed edit leaves the file byte for byte.
TEST_F(KvtrFileCommands, RefusedEditsLeaveTheFileAlone) {
  ASSERT_EQ(kvtr({"new", file_}).exitCode, 0);
  ASSERT_EQ(kvtr({"edit", file_, "r.oe:0=3"}).exitCode, 0);
  const std::string before = contents(file_);

  const auto refused = kvtr({"edit", file_, "r.oe:1=4", "r.oe:0=10.5"});
  EXPECT_EQ(refused.exitCode, 1);
  EXPECT_NE(refused.err.find("Неудалось изменить параметер: Параметеру 'r.oe' (Уставка)\nне может быть присвоено "
                             "значение '10.5'.\n (Значение этого параметра должно быть float и\n должно быть больше "
                             "0.000000 и меньше 10.000000)"),
            std::string::npos)
      << refused.err;
  EXPECT_EQ(kvtr({"edit", file_, "nope=1"}).exitCode, 1);
  EXPECT_EQ(kvtr({"edit", file_, "r.oe=1"}).exitCode, 1);
  EXPECT_EQ(kvtr({"edit", file_, "r.oe:1"}).exitCode, 2);
  EXPECT_EQ(kvtr({"edit", file_}).exitCode, 2);
  EXPECT_EQ(contents(file_), before);
}

TEST_F(KvtrFileCommands, NewDoesNotReplaceAFileUnlessTold) {
  std::ofstream(file_) << "keep me";
  const auto refused = kvtr({"new", file_});
  EXPECT_EQ(refused.exitCode, 1);
  EXPECT_EQ(contents(file_), "keep me");
  EXPECT_EQ(kvtr({"new", "--force", file_}).exitCode, 0);
  EXPECT_EQ(kvtr({"show", file_}).exitCode, 0);
}

TEST_F(KvtrFileCommands, BrokenFilesAreReported) {
  ASSERT_EQ(kvtr({"new", file_}).exitCode, 0);
  const std::string whole = contents(file_);
  for (const std::size_t length : {std::size_t{0}, std::size_t{5}, whole.size() / 2, whole.size() - 1}) {
    SCOPED_TRACE(length);
    std::ofstream(file_, std::ios::binary | std::ios::trunc) << whole.substr(0, length);
    const auto run = kvtr({"show", file_});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find("Предупреждение: Неверный формат данных! Возможно это устаревшая версия файла."),
              std::string::npos)
        << run.err;
    EXPECT_EQ(kvtr({"edit", file_, "INIT=Вкл"}).exitCode, 1);
    EXPECT_EQ(contents(file_), whole.substr(0, length));
  }
  const auto missing = kvtr({"show", (folder_.path() / "none.kvtr").string()});
  EXPECT_EQ(missing.exitCode, 1);
  const auto noDescriptor = runTool("kvtr", {"tree", "--descriptor", (folder_.path() / "none.dat").string()});
  EXPECT_EQ(noDescriptor.exitCode, 1);
  EXPECT_NE(noDescriptor.err.find("Ошибка открытия файла дерева!"), std::string::npos) << noDescriptor.err;
}

// One damaged byte in the header is an error in show (text and JSON) and edit; bytes after the
// end of a whole file are shown as a warning, and edit, whose save would drop them, refuses.
TEST_F(KvtrFileCommands, ADamagedHeaderAndDataAfterTheEndAreReported) {
  ASSERT_EQ(kvtr({"new", file_}).exitCode, 0);
  const std::string whole = contents(file_);
  std::string damaged = whole;
  damaged[0x10] ^= 0x55;
  const std::string tail = whole + "tail";
  struct Row {
    std::string bytes;
    std::vector<std::string> args;
    int exitCode;
    const char* says;
  };
  const Row rows[] = {
      {damaged, {"show", file_}, 1, "Ошибка открытия файла!: Данные в файле испорчены!\n"},
      {damaged, {"show", "--json", file_}, 1, "селектор описания 5570563 на позиции 14 не известен программе"},
      {damaged, {"edit", file_, "INIT=Вкл"}, 1, "Данные в файле испорчены!"},
      {tail, {"show", file_}, 0, "Предупреждение: После конца конфигурации в файле есть ещё 4 байт"},
      {tail, {"edit", file_, "INIT=Вкл"}, 1, "kvtr edit: файл '"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.args[0] + (row.bytes == tail ? " tail" : " damaged"));
    std::ofstream(file_, std::ios::binary | std::ios::trunc) << row.bytes;
    const auto run = kvtr(row.args);
    EXPECT_EQ(run.exitCode, row.exitCode) << run.err;
    EXPECT_NE(run.err.find(row.says), std::string::npos) << run.err;
    if (row.exitCode != 0) {
      EXPECT_EQ(run.out, "");
    }
    EXPECT_EQ(contents(file_), row.bytes);
  }
}

// Without --descriptor the tool takes the descriptor beside itself: the shipped one.
TEST(KvtrFileCommandsShipped, TheShippedTreeSavesAndShows) {
  ScratchFolder folder;
  const auto tree = runTool("kvtr", {"tree"});
  ASSERT_EQ(tree.exitCode, 0) << tree.err;
  EXPECT_NE(tree.out.find("Сетевые параметры"), std::string::npos);
  EXPECT_NE(tree.out.find("  bPS\t"), std::string::npos);

  const std::string file = (folder.path() / "shipped.kvtr").string();
  ASSERT_EQ(runTool("kvtr", {"new", file}).exitCode, 0);
  ASSERT_EQ(runTool("kvtr", {"edit", file, "Addr=17"}).exitCode, 0);
  const auto shown = runTool("kvtr", {"show", file});
  ASSERT_EQ(shown.exitCode, 0) << shown.err;
  EXPECT_NE(shown.out.find("\n    Addr = 17  [editable=1 ownerFirm=0]  changed=value\n"), std::string::npos) << shown.out;
}

// Typed values meet the value rules, the whole list before the file is saved: a choice must be
// one of the list, a parameter that is only read takes none, a comma is the decimal point.
TEST(KvtrFileCommandsShipped, EditsFollowTheValueRules) {
  ScratchFolder folder;
  const std::string file = (folder.path() / "shipped.kvtr").string();
  ASSERT_EQ(runTool("kvtr", {"new", file}).exitCode, 0);
  const std::string before = contents(file);
  const struct {
    const char* edit;
    const char* errPart;
  } refused[] = {
      {"C.Mod:0=Foo", "(Значение этого параметра должно быть одним из: Выключен, Суммирование, Вычитание, "
                      "Суммирование с автосбросом)"},
      {"dev=XYZ", "Параметр 'dev' (Тип прибора) только читается из прибора; его значение не может быть изменено"},
      {"P.Hi:0=99.5xyz", "не может быть присвоено значение '99.5xyz'"},
      {"C.Pre:0=99999", "не может быть присвоено значение '99999'"},
      {"I.Flt:12=5", "Параметр 'I.Flt:12' не найден"},
  };
  for (const auto& r : refused) {
    SCOPED_TRACE(r.edit);
    const auto run = runTool("kvtr", {"edit", file, "I.Flt:0=20", r.edit});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find(r.errPart), std::string::npos) << run.err;
    EXPECT_EQ(contents(file), before) << "nothing of the list is saved";
  }
  ASSERT_EQ(runTool("kvtr", {"edit", file, "C.Mod:0=суммирование_С_автосбросом", "P.Hi:0=99,5"}).exitCode, 0);
  const auto shown = runTool("kvtr", {"show", file});
  EXPECT_NE(shown.out.find("      C.Mod:0 = Суммирование с автосбросом  [editable=1 ownerFirm=0]  changed=value\n"),
            std::string::npos)
      << shown.out;
  EXPECT_NE(shown.out.find("P.Hi:0 = 99.500  [editable=1 ownerFirm=0]  changed=value\n"), std::string::npos);
}

}  // namespace
}  // namespace kvtr
