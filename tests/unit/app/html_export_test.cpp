// The HTML parameter list. The expected page is written out by hand from the page's layout rules;
// hashes are the independently computed ones of the frame codec's tests.
#include "app/html_export.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "common/atomic_file.h"
#include "common/format.h"
#include "model/descriptor_loader.h"
#include "model/descriptor_storage.h"
#include "model/parameter_tree.h"
#include "model/text_encoding.h"
#include "protocol/frame_codec.h"
#include "unit/model/recording_user_interface.h"
#include "unit/model/scratch_folder.h"

namespace kvtr {
namespace {

using testing_support::RecordingUserInterface;
using testing_support::ScratchFolder;

// Every kind of statement that shows on the page: numbered series with and without a blank after
// the number, a series shifted by "+4", enumerations with "_" and angle brackets, limits (also
// equal ones), "noattr", a "!" name, precision digits, the plain type words in any case, lone
// parameters, and a scanners branch that shares a name with the root.
const char* const kDescriptor = R"(
const NIN 2
type ONOFF выкл вкл
type MODE Режим_<A> Режим_B
parameter !ver   string       Версия           noattr
parameter Addr   int          Адрес_<прибора>
parameter LEn    int:2        Задержка,_мс
parameter A.Len  STORED_DOT:2 Коэффициент
parameter ALen   DEC_dot      Десятичный
parameter PrtY   ONOFF        Переключатель    table1 4
parameter bPS    MODE         Режим
parameter APLY   void         Пуск             noattr
parameter r.oe   Float        Плавающий
parameter r.Cou  int          Счет             noattr
parameter exit   CLK_frm:1    Время
parameter dev    ASCI         Строка
parameter Sbit   name         Имя
parameter ABCD   int          Дополнительный
rule Addr  1 247
rule r.oe  -1.5 2.25
rule r.Cou 5 5
branch Сведения         1   0 0  !ver Addr LEn
branch Одиночный        1   0 0  APLY
branch Настройка        1   0 0  bPS r.oe
branch Вход#_(счетчик)  NIN 0 0  PrtY Настройка
branch Точка            2   0 0  r.Cou
branch Выход            2   0 0  A.Len Точка
branch Доп+4            2   0 0  ABCD
branch Прочее           1   0 0  ALen exit dev Sbit
root Прибор 1 0 0  Сведения Одиночный Вход#_(счетчик) Выход Доп+4 Прочее
branch Скан             3   0 0  PrtY
scanners Оперативные 1 0 0  Скан
)";

const std::string kHead =
    "<html>\n<head>\n<meta HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=windows-1251\">\n"
    "\t<title>Список параметров прибора КВТР</title>\n"
    "</head>\n\n<body>\n"
    "<h4>Список обычных (неоперативных) параметров</h4>\n"
    "<table border=1 width=\"100%\" style=\"font-size=12px\">\n";

const std::string kColumns =
    "<tr>\n"
    "<td><strong><b>№</b></strong></td>\n"
    "<td><strong><b>Команда</b></strong></td>\n"
    "<td><strong><b>Хеш</b></strong></td>\n"
    "<td><strong><b>Описание</b></strong></td>\n"
    "<td><strong><b>Тип</b></strong></td>\n"
    "<td><strong><b>Индексация</b></strong></td>\n"
    "<td><strong><b>Диапазон значений</b></strong></td>\n"
    "<td><strong><b>Атрибуты</b></strong></td>\n"
    "</tr>\n";

const std::string kTables =
    "<tr><td colspan=8 bgColor=\"#ffffaa\"><b>Сведения</b></td></tr>\n" + kColumns +
    "<tr>\n\t<td>1\t</td>\n\t<td>ver\t</td>\n\t<td>2D5B\t</td>\n\t<td>Версия\t</td>\n\t<td>string\t</td>\n"
    "\t<td>без индекса\t</td>\n\t<td>нет ограничений\t</td>\n\t<td>нет атрибутов\t</td>\n</tr>\n"
    "<tr>\n\t<td>2\t</td>\n\t<td>Addr\t</td>\n\t<td>9F62\t</td>\n\t<td>Адрес &lt;прибора&gt;\t</td>\n"
    "\t<td>int\t</td>\n\t<td>без индекса\t</td>\n\t<td>от 1.000 до 247.000\t</td>\n"
    "\t<td>обычн. атрибуты\t</td>\n</tr>\n"
    "<tr>\n\t<td>3\t</td>\n\t<td>LEn\t</td>\n\t<td>523F\t</td>\n\t<td>Задержка, мс\t</td>\n\t<td>int\t</td>\n"
    "\t<td>без индекса\t</td>\n\t<td>нет ограничений\t</td>\n\t<td>обычн. атрибуты\t</td>\n</tr>\n"
    // A lone parameter: no header of its own, the next number of the list above.
    "<tr>\n\t<td>4\t</td>\n\t<td>APLY\t</td>\n\t<td>8403\t</td>\n\t<td>Одиночный\t</td>\n"
    "\t<td>\n\t<ol start=0>\n\t\t<li> void\n\t</ol>\t</td>\n"
    "\t<td>без индекса\t</td>\n\t<td>нет ограничений\t</td>\n\t<td>нет атрибутов\t</td>\n</tr>\n"
    // The series "Вход №1 (счетчик)", "Вход №2 (счетчик)" once; three indexes counting the scanners'.
    "<tr><td colspan=8 bgColor=\"#ffffaa\"><b>Вход №... (счетчик)</b></td></tr>\n" + kColumns +
    "<tr>\n\t<td>5\t</td>\n\t<td>PrtY\t</td>\n\t<td>E8C4\t</td>\n\t<td>Переключатель\t</td>\n"
    "\t<td>\n\t<ol start=0>\n\t\t<li> выкл\n\t\t<li> вкл\n\t</ol>\t</td>\n"
    "\t<td>0,0..3\t</td>\n\t<td>нет ограничений\t</td>\n\t<td>обычн. атрибуты\t</td>\n</tr>\n"
    // Below it: the path, and numbers from 1 again.
    "<tr><td colspan=8 bgColor=\"#ffffaa\"><b>Вход №... (счетчик)\\Настройка</b></td></tr>\n" + kColumns +
    "<tr>\n\t<td>1\t</td>\n\t<td>bPS\t</td>\n\t<td>B760\t</td>\n\t<td>Режим\t</td>\n"
    "\t<td>\n\t<ol start=0>\n\t\t<li> Режим &lt;A&gt;\n\t\t<li> Режим B\n\t</ol>\t</td>\n"
    "\t<td>0,0..2\t</td>\n\t<td>нет ограничений\t</td>\n\t<td>обычн. атрибуты\t</td>\n</tr>\n"
    "<tr>\n\t<td>2\t</td>\n\t<td>r.oe\t</td>\n\t<td>E894\t</td>\n\t<td>Плавающий\t</td>\n\t<td>Float\t</td>\n"
    "\t<td>0,0..2\t</td>\n\t<td>от -1.500 до 2.250\t</td>\n\t<td>обычн. атрибуты\t</td>\n</tr>\n"
    // "Выход №1" has no blank after its number: everything after the sign goes.
    "<tr><td colspan=8 bgColor=\"#ffffaa\"><b>Выход №</b></td></tr>\n" + kColumns +
    "<tr>\n\t<td>6\t</td>\n\t<td>A.Len\t</td>\n\t<td>1ED2\t</td>\n\t<td>Коэффициент\t</td>\n"
    "\t<td>STORED_DOT\t</td>\n\t<td>0,0..2\t</td>\n\t<td>нет ограничений\t</td>\n"
    "\t<td>обычн. атрибуты\t</td>\n</tr>\n"
    // Four points in all (two per output); equal limits are no limits.
    "<tr>\n\t<td>1\t</td>\n\t<td>r.Cou\t</td>\n\t<td>2517\t</td>\n\t<td>Точка №1\t</td>\n\t<td>int\t</td>\n"
    "\t<td>0,0..4\t</td>\n\t<td>нет ограничений\t</td>\n\t<td>нет атрибутов\t</td>\n</tr>\n"
    // A series shifted by 4: indexes 4 and 5.
    "<tr>\n\t<td>7\t</td>\n\t<td>ABCD\t</td>\n\t<td>DE1B\t</td>\n\t<td>Доп №5\t</td>\n\t<td>int\t</td>\n"
    "\t<td>0,4..2\t</td>\n\t<td>нет ограничений\t</td>\n\t<td>обычн. атрибуты\t</td>\n</tr>\n"
    "<tr><td colspan=8 bgColor=\"#ffffaa\"><b>Прочее</b></td></tr>\n" + kColumns +
    "<tr>\n\t<td>8\t</td>\n\t<td>ALen\t</td>\n\t<td>7A58\t</td>\n\t<td>Десятичный\t</td>\n\t<td>DEC_dot\t</td>\n"
    "\t<td>без индекса\t</td>\n\t<td>нет ограничений\t</td>\n\t<td>обычн. атрибуты\t</td>\n</tr>\n"
    "<tr>\n\t<td>9\t</td>\n\t<td>exit\t</td>\n\t<td>92ED\t</td>\n\t<td>Время\t</td>\n\t<td>CLK_frm\t</td>\n"
    "\t<td>без индекса\t</td>\n\t<td>нет ограничений\t</td>\n\t<td>обычн. атрибуты\t</td>\n</tr>\n"
    "<tr>\n\t<td>10\t</td>\n\t<td>dev\t</td>\n\t<td>D681\t</td>\n\t<td>Строка\t</td>\n\t<td>ASCI\t</td>\n"
    "\t<td>без индекса\t</td>\n\t<td>нет ограничений\t</td>\n\t<td>обычн. атрибуты\t</td>\n</tr>\n"
    "<tr>\n\t<td>11\t</td>\n\t<td>Sbit\t</td>\n\t<td>B72E\t</td>\n\t<td>Имя\t</td>\n\t<td>name\t</td>\n"
    "\t<td>без индекса\t</td>\n\t<td>нет ограничений\t</td>\n"
    "\t<td>дерево атр-ов обрезано (кратность индекcов 3)\t</td>\n</tr>\n";

const std::string kFragment = "<h4>Фрагмент №1</h4>\n<table>\n<tr><td>x</td></tr>\n";
const std::string kTail = "</table>\n\n<br>\n";
const std::string kEnd = "</TABLE>\n</body>\n</html>";

struct Loaded {
  ParameterTree tree;
  RecordingUserInterface ui;
  DescriptorLoadResult result;
};

std::unique_ptr<Loaded> load(const std::string& text) {
  auto l = std::make_unique<Loaded>();
  l->result = LoadDescriptorText(l->tree, text, l->ui);
  return l;
}

std::unique_ptr<Loaded> loadSample() {
  auto l = load(kDescriptor);
  EXPECT_TRUE(l->result.complete);
  EXPECT_TRUE(l->ui.messages.empty());
  // A cut attribute tree does not come from a descriptor line; it is set here to see its text.
  if (l->tree.root() != nullptr) {
    for (const auto& branch : l->tree.root()->children) {
      if (Parameter* p = branch->FindParameter("Sbit")) p->attributeMode = 3;
    }
  }
  return l;
}

std::string bytesText(const std::vector<std::uint8_t>& bytes) { return {bytes.begin(), bytes.end()}; }

TEST(HtmlExport, PageOfEveryStatementKind) {
  const auto l = loadSample();
  EXPECT_EQ(ParameterListPageText(l->tree, kFragment), kHead + kTables + kTail + kFragment + kEnd);
  bool lossless = false;
  const std::string bytes = bytesText(ParameterListPage(l->tree, kFragment, &lossless));
  EXPECT_TRUE(lossless);
  EXPECT_EQ(bytes, utf8ToCp1251(kHead + kTables + kTail + kFragment + kEnd));
  // The file is Windows-1251 through and through: "№" is the one byte B9, "Список" starts D1 EF.
  EXPECT_NE(bytes.find("<td><strong><b>\xB9</b></strong></td>"), std::string::npos);
  EXPECT_NE(bytes.find("<title>\xD1\xEF\xE8\xF1\xEE\xEA "), std::string::npos);
  EXPECT_EQ(bytes.find("\xE2\x84\x96"), std::string::npos) << "a UTF-8 \"№\" was left in the page";
}

TEST(HtmlExport, WithoutFragmentThePageStillCloses) {
  const auto l = loadSample();
  EXPECT_EQ(ParameterListPageText(l->tree, std::nullopt), kHead + kTables + kTail + kEnd);
}

TEST(HtmlExport, TreeWithoutBranches) {
  ParameterTree empty;
  EXPECT_EQ(ParameterListPageText(empty, std::nullopt), kHead + kTail + kEnd);
  // The root's own parameters are not listed; only its branches are.
  const auto l = load("parameter Addr int Адрес\nroot Прибор 1 0 0 Addr\n");
  ASSERT_TRUE(l->result.complete);
  EXPECT_EQ(ParameterListPageText(l->tree, kFragment), kHead + kTail + kFragment + kEnd);
}

TEST(HtmlExport, SeriesCaption) {
  const struct {
    const char* title;
    const char* caption;
  } cases[] = {
      {"Вход №1 (счетчик)", "Вход №... (счетчик)"},
      {"Вход №12 (счетчик) и еще", "Вход №... (счетчик) и еще"},
      {"Выход №7", "Выход №"},
      {"Выход №", "Выход №"},
      {"Выход № 3", "Выход №... 3"},
      {"№5 и №6 здесь", "№... и №6 здесь"},
      {"Сетевые параметры", "Сетевые параметры"},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(SeriesCaption(c.title), c.caption) << c.title;
}

TEST(HtmlExport, SeriesOfOneTitleListedOnceEvenWhenApart) {
  // Only a branch right after one of the same caption is left out; the same caption further on
  // is listed again, with its own header.
  const auto l = load(
      "parameter A int Первый\nparameter B int Второй\n"
      "branch Вход 2 0 0 A B\nbranch Прочее 1 0 0 A B\n"
      "root Прибор 1 0 0 Вход Прочее Вход\n");
  ASSERT_TRUE(l->result.complete);
  const std::string page = ParameterListPageText(l->tree, std::nullopt);
  std::size_t headers = 0;
  for (std::size_t at = page.find("<b>Вход №</b>"); at != std::string::npos; at = page.find("<b>Вход №</b>", at + 1)) {
    ++headers;
  }
  EXPECT_EQ(headers, 2u);
  // Rows 1-2 (Вход), 3-4 (Прочее), 5-6 (the second Вход) in one running count.
  EXPECT_NE(page.find("<tr>\n\t<td>6\t</td>\n\t<td>B\t</td>"), std::string::npos);
  EXPECT_EQ(page.find("<tr>\n\t<td>7\t</td>"), std::string::npos);
}

TEST(HtmlExport, LookupIndexRange) {
  const auto l = loadSample();
  const struct {
    const char* name;
    int count;
    int first;
  } cases[] = {
      {"PrtY", 3, 0},   // 0, 1 in the root; 0, 1, 2 in the scanners branch
      {"prty", 3, 0},   // names compare without regard to case
      {"r.Cou", 4, 0},  // two points under each of two outputs
      {"A.Len", 2, 0},  // indexes 0 and 2
      {"ABCD", 2, 4},   // a series shifted by 4
      {"Addr", 0, 0},   // not indexed
      {"nothing", 0, 0},
  };
  for (const auto& c : cases) {
    const IndexRange range = LookupIndexRange(l->tree, c.name);
    EXPECT_EQ(range.count, c.count) << c.name;
    EXPECT_EQ(range.first, c.first) << c.name;
  }
}

TEST(HtmlExport, FragmentFiles) {
  ScratchFolder folder;
  const auto write = [&](const std::string& name, const std::string& bytes) {
    std::ofstream(folder.path() / name, std::ios::binary) << bytes;
    return folder.path() / name;
  };
  const std::string text = "<h4>Список оперативных параметров</h4>\n";
  std::string error;
  // UTF-8 as shipped, with or without a byte-order mark; Windows-1251 as the program's code page.
  EXPECT_EQ(LoadExportFragment(write("utf8.html", text), &error), text);
  EXPECT_EQ(LoadExportFragment(write("bom.html", "\xEF\xBB\xBF" + text), &error), text);
  EXPECT_EQ(LoadExportFragment(write("cp1251.html", utf8ToCp1251(text)), &error), text);
  EXPECT_EQ(LoadExportFragment(write("empty.html", ""), &error), "");
  error.clear();
  EXPECT_EQ(LoadExportFragment(folder.path() / "missing.html", &error), std::nullopt);
  EXPECT_NE(error.find("missing.html"), std::string::npos) << error;

  // Beside the program wins.
  write(std::string(kExportFragmentFileName), text);
  EXPECT_EQ(FindExportFragment(folder.path()), folder.path() / kExportFragmentFileName);
}

TEST(HtmlExport, WriteReplacesTheFileWhole) {
  ScratchFolder folder;
  const auto l = loadSample();
  const std::filesystem::path target = folder.path() / kParameterListFileName;
  std::ofstream(target, std::ios::binary) << std::string(100000, 'x');
  std::string error;
  ASSERT_TRUE(WriteParameterList(target, l->tree, kFragment, &error)) << error;
  std::vector<std::uint8_t> bytes;
  ASSERT_TRUE(readWholeFile(target, bytes));
  EXPECT_EQ(bytesText(bytes), utf8ToCp1251(kHead + kTables + kTail + kFragment + kEnd));

  // A folder that does not exist: a failure that names the file.
  const std::filesystem::path nowhere = folder.path() / "no such folder" / "parlist.html";
  EXPECT_FALSE(WriteParameterList(nowhere, l->tree, kFragment, &error));
  EXPECT_NE(error.find("no such folder"), std::string::npos) << error;
  EXPECT_FALSE(std::filesystem::exists(nowhere.parent_path()));
}

// ------------------------------------------------------------------ what the program ships

std::string shippedFragment() {
  std::vector<std::uint8_t> bytes;
  EXPECT_TRUE(readWholeFile(std::filesystem::path(KVTR_SOURCE_DIR) / "resources" / kExportFragmentFileName, bytes));
  return bytesText(bytes);
}

TEST(HtmlExport, ShippedFragment) {
  const std::string fragment = shippedFragment();
  ASSERT_TRUE(isValidUtf8(fragment));
  bool lossless = false;
  (void)utf8ToCp1251(fragment, &lossless);
  EXPECT_TRUE(lossless) << "the fragment holds characters without a Windows-1251 byte";
  EXPECT_NE(fragment.find("charset=windows-1251"), std::string::npos);
  EXPECT_NE(fragment.find("Список оперативных параметров"), std::string::npos);
  // The hashes it lists are those of the names it lists.
  for (const char* name : {"r.oe", "r.Cn", "r.Cou"}) {
    const std::string row = std::string("<td>") + name + "</td>\n\t<td>" +
                            strprintf("%04X", static_cast<unsigned>(hashName(name))) + "</td>";
    EXPECT_NE(fragment.find(row), std::string::npos) << row;
  }
  // The page closes the fragment's last table: one more opened than closed.
  const auto count = [&](const std::string& tag) {
    std::size_t n = 0;
    for (std::size_t at = fragment.find(tag); at != std::string::npos; at = fragment.find(tag, at + 1)) ++n;
    return n;
  };
  EXPECT_EQ(count("<table"), count("</table>") + 1);
  // The copy beside the built programs is the same file.
  std::vector<std::uint8_t> built;
  ASSERT_TRUE(readWholeFile(std::filesystem::path(KVTR_BIN_DIR) / kExportFragmentFileName, built));
  EXPECT_EQ(bytesText(built), fragment);
}

TEST(HtmlExport, ShippedDescriptorExports) {
  const DescriptorReadResult read = readDescriptorFile(std::filesystem::path(KVTR_BIN_DIR) / kDescriptorFileName);
  ASSERT_TRUE(read.ok()) << read.message;
  const auto l = load(read.text);
  ASSERT_TRUE(l->result.complete);
  EXPECT_TRUE(l->ui.messages.empty());

  bool lossless = false;
  const std::string page = cp1251ToUtf8(bytesText(ParameterListPage(l->tree, shippedFragment(), &lossless)));
  EXPECT_TRUE(lossless);
  EXPECT_EQ(page.rfind(kHead, 0), 0u);
  EXPECT_TRUE(page.ends_with(shippedFragment() + kEnd));
  // Series are listed once, but every parameter of the root appears in a row of its own.
  std::set<std::string> names;
  l->tree.root()->ForEachBranch([&](DescBranch& b) {
    if (&b == l->tree.root()) return;
    for (const auto& p : b.parameters()) names.insert(p->name);
  });
  ASSERT_FALSE(names.empty());
  for (const std::string& name : names) {
    const std::string cell = "\t<td>" + name + "\t</td>\n\t<td>" +
                             strprintf("%04X", static_cast<unsigned>(hashName(name))) + "\t</td>";
    EXPECT_NE(page.find(cell), std::string::npos) << name;
  }
}

}  // namespace
}  // namespace kvtr
