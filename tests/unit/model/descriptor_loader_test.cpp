#include "model/descriptor_loader.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "model/branch_view.h"
#include "common/strings.h"
#include "model/descriptor_storage.h"
#include "protocol/frame_codec.h"
#include "protocol/network_settings.h"
#include "recording_user_interface.h"
#include "scratch_folder.h"

namespace kvtr {
namespace {

using testing_support::RecordingUserInterface;
using testing_support::ScratchFolder;
using Lines = std::vector<std::string>;

const std::string kTreeFailed = "Ошибка: Не удалось создать дерево параметров";
const std::string kNoRoot = "Ошибка: Не опредена корневая ветвь";

struct Loaded {
  ParameterTree tree;
  RecordingUserInterface ui;
  DescriptorLoadResult result;
};

std::unique_ptr<Loaded> load(const std::string& text, const DescriptorLoadOptions& options = {}) {
  auto l = std::make_unique<Loaded>();
  l->result = LoadDescriptorText(l->tree, text, l->ui, options);
  return l;
}

// "title: name name ..." per branch, depth first, to compare whole trees at a glance.
void outline(const DescBranch& b, std::vector<std::string>& out, int depth = 0) {
  std::string line = std::string(static_cast<std::size_t>(depth) * 2, ' ') + b.title + ":";
  for (const auto& p : b.parameters()) {
    line += " " + p->name;
    if (p->hasIndex) line += "[" + std::to_string(p->index) + "]";
  }
  out.push_back(line);
  for (const auto& c : b.children) outline(*c, out, depth + 1);
}
Lines outline(const DescBranch* b) {
  Lines out;
  if (b != nullptr) outline(*b, out);
  return out;
}

// ------------------------------------------------------------------ every statement

const char* const kEveryStatement =
    "; комментарий\n"
    "' тоже комментарий\n"
    "const N 2\n"
    "type ONOFF Off On\n"
    "type onoff Выкл Вкл\n"
    "parameter @A int Первый noattr\n"
    "parameter !B ONOFF Второй_параметр table2+ 4\n"
    "parameter C float:2 Третий table9* x\n"
    "parameter D CLK_frm Четвертый table5\n"
    "rule A 1 10.5\n"
    "init !B Вкл\n"
    "init d 00:10\n"
    "branch Лист N 3 4 C\n"
    "branch Ветвь 1 5 6 A Лист !B\n"
    "root Корень 1 1 2 Ветвь D\n"
    "scanners Скан 1 7 8 A\n";

TEST(DescriptorLoader, EveryStatementBuildsTheExpectedTree) {
  auto l = load(kEveryStatement);
  EXPECT_EQ(l->ui.lines(), Lines{});
  EXPECT_TRUE(l->result.streamRead);
  EXPECT_TRUE(l->result.complete);

  // Templates stay with the tree, in file order.
  const auto& t = l->tree.templates();
  ASSERT_EQ(t.size(), 4u);
  EXPECT_EQ(t[0].name, "A");  // "@" removed
  EXPECT_EQ(t[0].type, "int");
  EXPECT_EQ(t[0].hasAttributes, 0);
  EXPECT_EQ(t[0].minimum, 1.0);
  EXPECT_EQ(t[0].maximum, 10.5);
  EXPECT_EQ(t[1].name, "!B");  // "!" kept in the template
  EXPECT_EQ(t[1].type, "Выкл:Вкл");  // the later definition of the type, looked up without case
  EXPECT_EQ(t[1].description, "Второй_параметр");
  EXPECT_EQ(t[1].hasAttributes, 1);
  EXPECT_EQ(t[1].attributeTable, 2);
  EXPECT_EQ(t[1].attributeMark, 1);
  EXPECT_EQ(t[1].indexMultiplicity, 4);
  EXPECT_EQ(t[1].pendingText, "Вкл");
  EXPECT_EQ(t[2].type, "float:2");  // not a type name: kept as written
  EXPECT_EQ(t[2].attributeTable, 0);  // "table9" is no table
  EXPECT_EQ(t[2].attributeMark, 2);
  EXPECT_EQ(t[2].indexMultiplicity, 0);
  EXPECT_EQ(t[3].attributeTable, 0);  // a fifth word alone is ignored unless it is "noattr"
  EXPECT_EQ(t[3].hasAttributes, 1);
  EXPECT_EQ(t[3].pendingText, "00:10");
  EXPECT_NE(l->tree.FindTemplate("!b"), nullptr);
  EXPECT_EQ(l->tree.FindTemplate("B"), nullptr);

  ASSERT_TRUE(l->tree.hasTree());
  EXPECT_EQ(outline(l->tree.root()), (Lines{"Корень: D", "  Ветвь: A B", "    Лист №1: C[0]", "    Лист №2: C[1]"}));
  EXPECT_EQ(outline(l->tree.scanners()), (Lines{"Скан: A"}));

  const DescBranch& root = *l->tree.root();
  EXPECT_EQ(root.firstNumber, 1);
  EXPECT_EQ(root.secondNumber, 2);
  EXPECT_EQ(root.order, (std::vector<std::uint8_t>{1, 0}));
  const DescBranch& branch = *root.children[0];
  EXPECT_EQ(branch.order, (std::vector<std::uint8_t>{0, 1, 1, 0}));
  EXPECT_EQ(branch.firstNumber, 5);
  const DescBranch& leaf2 = *branch.children[1];
  EXPECT_EQ(leaf2.instanceCount, 2);
  EXPECT_EQ(leaf2.instanceNumber, 2);
  EXPECT_EQ(leaf2.firstNumber, 3);
  EXPECT_EQ(leaf2.secondNumber, 4);

  const Parameter& a = *branch.parameters()[0];
  EXPECT_EQ(a.description, "Первый");
  EXPECT_EQ(a.attributeMode, 0);
  EXPECT_EQ(a.hasIndex, 0);
  EXPECT_EQ(a.exchangeable, 1);
  EXPECT_EQ(a.minimum, 1.0);
  EXPECT_EQ(a.maximum, 10.5);
  EXPECT_EQ(a.value, "Нет данных");
  const Parameter& b = *branch.parameters()[1];
  EXPECT_EQ(b.name, "B");
  EXPECT_EQ(b.exchangeable, 0);
  EXPECT_EQ(b.description, "Второй параметр");
  EXPECT_EQ(b.attributeMode, 1);
  EXPECT_EQ(b.attributeMark, 1);
  EXPECT_EQ(b.pendingText, "Вкл");
  const Parameter& c = *leaf2.parameters()[0];
  EXPECT_EQ(c.type, "float");
  EXPECT_EQ(c.precision, 2u);
  EXPECT_EQ(c.description, "Лист №2");  // a branch of one parameter lends it its title
  EXPECT_EQ(c.attributeMark, 2);
  EXPECT_EQ(root.parameters()[0]->pendingText, "00:10");

  // The rows of the view: a branch of one parameter shows as that parameter.
  RecordingUserInterface ui;
  std::vector<std::string> rows;
  for (const auto& r : InsertBranchIntoView(*l->tree.root(), false, ui)) {
    rows.push_back(std::to_string(r.depth) + " " + (r.kind == TreeRowKind::Branch ? r.node.title : r.cells.description));
  }
  EXPECT_EQ(rows, (Lines{"0 Корень", "1 Ветвь", "2 Первый", "2 Лист №1", "2 Лист №2", "2 Второй параметр", "1 Четвертый"}));
}

TEST(DescriptorLoader, ScannersArePreparedAfterExpansion) {
  std::vector<std::string> prepared;
  DescriptorLoadOptions options;
  options.prepareScanner = [&](Parameter& p) { prepared.push_back(p.name + ":" + std::to_string(p.index)); };
  auto l = load(
      "parameter r.Cn int Входы noattr\nparameter r.Cou int Счетчик noattr\nparameter X int Х\n"
      "branch Счетчик 3 0 0 r.Cou\nroot R 1 0 0 X\nscanners S 1 0 0 r.Cn Счетчик\n",
      options);
  EXPECT_EQ(prepared, (Lines{"r.Cn:0", "r.Cou:0", "r.Cou:1", "r.Cou:2"}));
  EXPECT_EQ(l->ui.lines(), Lines{});
}

// ------------------------------------------------------------------ messages

struct MessageCase {
  const char* what;
  std::string text;
  Lines expected;
};

class LoaderMessages : public testing::TestWithParam<MessageCase> {};

TEST_P(LoaderMessages, ShowsTheTextsAndCaptions) {
  const MessageCase& c = GetParam();
  auto l = load(c.text);
  EXPECT_EQ(l->ui.lines(), c.expected) << c.what;
  EXPECT_FALSE(l->result.complete) << c.what;
  for (const auto& m : l->ui.messages) EXPECT_EQ(m.icon, MessageIcon::Stop) << c.what;
}

const char* const kRootFirst = "root R 1 0 0\n";

INSTANTIATE_TEST_SUITE_P(
    All, LoaderMessages,
    testing::Values(
        MessageCase{"unknown statement", std::string(kRootFirst) + "ветка X 1 0 0\n",
                    {"Ошибка в описателе: Непонятная команда в описателе 'ветка X 1 0 0'", kTreeFailed}},
        MessageCase{"comment mark glued to the text", std::string(kRootFirst) + ";без пробела\n",
                    {"Ошибка в описателе: Непонятная команда в описателе ';без пробела'", kTreeFailed}},
        MessageCase{"rule for no template", std::string(kRootFirst) + "rule Nope 1 2\n",
                    {"Ошибка описателя: Параметр 'Nope' не определен.", kTreeFailed}},
        MessageCase{"init for no template", std::string(kRootFirst) + "init Nope 1\n",
                    {"Ошибка описателя: Параметр 'Nope' не определен.", kTreeFailed}},
        MessageCase{"the \"!\" mark is part of a template's name",
                    std::string(kRootFirst) + "parameter !X int Х\ninit X 1\n",
                    {"Ошибка описателя: Параметр 'X' не определен.", kTreeFailed}},
        MessageCase{"constant defined twice, names without case", std::string(kRootFirst) + "const n 1\nconst N 2\n",
                    {"Ошибка в описателе: Константа 'N' уже определена!", kTreeFailed}},
        MessageCase{"unknown child", std::string(kRootFirst) + "branch B 1 0 0 Nothing\n",
                    {"Ошибка в описателе: Что такое 'Nothing', не ясно!", kTreeFailed}},
        MessageCase{"parameter without description", std::string(kRootFirst) + "parameter X int\n",
                    {"Ошибка в описателе: Недостаточно слов в строке описателя 'parameter X int'", kTreeFailed}},
        MessageCase{"rule without maximum", std::string(kRootFirst) + "parameter X int Х\nrule X 1\n",
                    {"Ошибка в описателе: Недостаточно слов в строке описателя 'rule X 1'", kTreeFailed}},
        MessageCase{"branch without images", std::string(kRootFirst) + "branch B 1 0\n",
                    {"Ошибка в описателе: Недостаточно слов в строке описателя 'branch B 1 0'", kTreeFailed}},
        MessageCase{"const without value", std::string(kRootFirst) + "const N\n",
                    {"Ошибка в описателе: Недостаточно слов в строке описателя 'const N'", kTreeFailed}},
        MessageCase{"type without words", std::string(kRootFirst) + "type T\n",
                    {"Ошибка в описателе: Недостаточно слов в строке описателя 'type T'", kTreeFailed}},
        MessageCase{"init without text", std::string(kRootFirst) + "parameter X int Х\ninit X\n",
                    {"Ошибка в описателе: Недостаточно слов в строке описателя 'init X'", kTreeFailed}},
        MessageCase{"no root", "parameter X int Х\nbranch B 1 0 0 X\n", {kNoRoot}},
        MessageCase{"only comments", "; a\n' b\n\n", {kNoRoot}},
        MessageCase{"empty text", "", {kTreeFailed}},
        MessageCase{"failure before the root", "bad line\nroot R 1 0 0\n",
                    {"Ошибка в описателе: Непонятная команда в описателе 'bad line'", kTreeFailed, kNoRoot}}));

TEST(DescriptorLoader, LinesBeforeAFailureStayAppliedAndTheRootIsExpanded) {
  auto l = load("parameter X int Х\nroot R 1 0 0 X\nwrong statement\nparameter Y int У\n");
  EXPECT_EQ(outline(l->tree.root()), (Lines{"R: X"}));
  EXPECT_EQ(l->tree.templates().size(), 1u);  // the line after the failure was not read
}

TEST(DescriptorLoader, AFailedRootLineKeepsThePreviousRoot) {
  auto l = load("parameter X int Х\nroot Old 1 0 0 X\nroot New 1 0 0 X Missing\n");
  EXPECT_EQ(outline(l->tree.root()), (Lines{"Old: X"}));
}

// ------------------------------------------------------------------ edge cases

TEST(DescriptorLoader, BlankCommentAndOneWordLinesChangeNothing) {
  const std::string body = "parameter X int Х\nroot R 1 0 0 X\n";
  auto plain = load(body);
  auto noisy = load("\n\r\n;\n; parameter Y int У\n' root Q 1 0 0\nlonely\n\t  \n" + body + "\r\n   ;  trailing\n");
  EXPECT_EQ(noisy->ui.lines(), Lines{});
  EXPECT_EQ(outline(noisy->tree.root()), outline(plain->tree.root()));
  EXPECT_EQ(noisy->tree.templates().size(), 1u);
}

TEST(DescriptorLoader, WordsSplitAtTabsAndLinesAtCarriageReturns) {
  auto l = load("PARAMETER\tX\tint\tХ\r\rRoot R\t1 0 0 x\r");
  EXPECT_EQ(l->ui.lines(), Lines{});
  EXPECT_EQ(outline(l->tree.root()), (Lines{"R: X"}));
}

TEST(DescriptorLoader, CountsFromNumbersAndConstants) {
  auto l = load(
      "const Three 3\nconst Big 2.9\nconst Neg -1\nparameter X int Х\n"
      "branch A three 0 0 X\n"  // a constant, looked up without case
      "branch B Big 0 0 X\n"    // truncated to 2
      "branch C 0 0 0 Whatever\n"  // nothing is created, and the unknown child is never looked at
      "branch D Neg 0 0 X\n"
      "branch E -4 0 0 X\n"
      "branch F 2abc 0 0 X\n"    // leading digits, as the numbers read
      "branch G Unknown 0 0 X\n"
      "root R 1 0 0 A B F\n"
      "branch H 1 0 0 C\n");  // C, D, E and G do not exist: this is the one error
  EXPECT_EQ(l->ui.lines(), (Lines{"Ошибка в описателе: Что такое 'C', не ясно!", kTreeFailed}));
  EXPECT_EQ(outline(l->tree.root()), (Lines{"R:", "  A №1: X[0]", "  A №2: X[1]", "  A №3: X[2]", "  B №1: X[0]",
                                            "  B №2: X[1]", "  F №1: X[0]", "  F №2: X[1]"}));
}

TEST(DescriptorLoader, ATokenNamingATemplateAndABranchAddsBothTemplateFirst) {
  auto l = load("parameter Same int Параметр\nparameter Other int Другой\nbranch Same 1 0 0 Other\nroot R 1 0 0 same\n");
  EXPECT_EQ(l->ui.lines(), Lines{});
  const DescBranch& root = *l->tree.root();
  EXPECT_EQ(root.order, (std::vector<std::uint8_t>{0, 1}));
  EXPECT_EQ(outline(&root), (Lines{"R: Same", "  Same: Other"}));
}

TEST(DescriptorLoader, EveryMatchOfAChildTokenIsCopied) {
  // Two templates of one name and two branches of one title: all four go in, in file order.
  auto l = load(
      "parameter P int Первый\nparameter p int Второй\nparameter Q int Q\n"
      "branch B 1 1 0 Q\nbranch B 1 2 0 Q\nroot R 1 0 0 P B\n");
  const DescBranch& root = *l->tree.root();
  ASSERT_EQ(root.ParameterCount(), 2u);
  EXPECT_EQ(root.parameters()[0]->description, "Первый");
  EXPECT_EQ(root.parameters()[1]->description, "Второй");
  ASSERT_EQ(root.children.size(), 2u);
  EXPECT_EQ(root.children[0]->firstNumber, 1);
  EXPECT_EQ(root.children[1]->firstNumber, 2);
  // A rule reaches the first template of the name only.
  auto ruled = load("parameter P int Первый\nparameter P int Второй\nrule p 1 2\nroot R 1 0 0\n");
  EXPECT_EQ(ruled->tree.templates()[0].maximum, 2.0);
  EXPECT_EQ(ruled->tree.templates()[1].maximum, 0.0);
}

TEST(DescriptorLoader, ALaterTypeDefinitionServesLaterParametersOnly) {
  auto l = load("type T A B\nparameter X T Х\ntype t C D E\nparameter Y T У\nroot R 1 0 0 X Y\n");
  EXPECT_EQ(l->tree.root()->parameters()[0]->type, "A:B");
  EXPECT_EQ(l->tree.root()->parameters()[1]->type, "C:D:E");
}

TEST(DescriptorLoader, RuleAndInitAfterTheBranchDoNotReachItsCopies) {
  auto l = load(
      "parameter X int Х\nrule X 1 5\ninit X 3\nbranch B 1 0 0 X\nrule X 10 20\ninit X 15\nroot R 1 0 0 B X\n");
  const DescBranch& root = *l->tree.root();
  const Parameter& inBranch = *root.children[0]->parameters()[0];
  EXPECT_EQ(inBranch.minimum, 1.0);
  EXPECT_EQ(inBranch.maximum, 5.0);
  EXPECT_EQ(inBranch.pendingText, "3");
  const Parameter& inRoot = *root.parameters()[0];  // the root line came after the changes
  EXPECT_EQ(inRoot.minimum, 10.0);
  EXPECT_EQ(inRoot.pendingText, "15");
}

TEST(DescriptorLoader, InitTurnsUnderscoresIntoBlanksAndNumbersReadLeniently) {
  auto l = load("parameter X int Х\nrule X -2.5abc x\ninit X Как_до_отключения\nroot R 1 0 0 X\n");
  const Parameter& x = *l->tree.root()->parameters()[0];
  EXPECT_EQ(x.minimum, -2.5);
  EXPECT_EQ(x.maximum, 0.0);
  EXPECT_EQ(x.pendingText, "Как до отключения");
}

TEST(DescriptorLoader, TheNetworkSettingsRoleFollowsTheCopies) {
  const std::string params = "parameter bPS 2400:9600 Скорость\nparameter Addr int Адрес\n";
  // Declared and placed into the root: the copy inside the root is the node.
  auto direct = load(params + "branch Сетевые_параметры 1 0 0 bPS Addr\nroot R 1 0 0 Сетевые_параметры\n");
  ASSERT_NE(direct->tree.networkSettings(), nullptr);
  EXPECT_EQ(direct->tree.networkSettings(), direct->tree.root()->children[0].get());
  EXPECT_EQ(direct->tree.networkSettings()->FindParameter("ADDR")->name, "Addr");
  EXPECT_TRUE(direct->tree.IsNetworkSettingsNode(direct->tree.root()->children[0].get()));
  EXPECT_FALSE(direct->tree.IsNetworkSettingsNode(direct->tree.root()));

  // Inside another branch that the root holds.
  auto nested =
      load(params + "branch Сетевые_параметры 1 0 0 bPS Addr\nbranch Связь 1 0 0 Сетевые_параметры\nroot R 1 0 0 Связь\n");
  ASSERT_NE(nested->tree.networkSettings(), nullptr);
  EXPECT_EQ(nested->tree.networkSettings(), nested->tree.root()->children[0]->children[0].get());

  // Copied twice: the first copy takes the role, and the declared branch no longer holds it when
  // the second copy is made.
  auto twice = load(params + "branch Сетевые_параметры 1 0 0 bPS\nroot R 1 0 0 Сетевые_параметры Сетевые_параметры\n");
  EXPECT_EQ(twice->tree.networkSettings(), twice->tree.root()->children[0].get());

  // Declared but kept out of the tree: no node rather than one that has gone.
  auto outside = load(params + "branch Сетевые_параметры 1 0 0 bPS Addr\nroot R 1 0 0 bPS\n");
  EXPECT_EQ(outside->tree.networkSettings(), nullptr);

  // Another title gives no role.
  auto other = load(params + "branch Сеть 1 0 0 bPS Addr\nroot R 1 0 0 Сеть\n");
  EXPECT_EQ(other->tree.networkSettings(), nullptr);
}

TEST(DescriptorLoader, SeveralInstancesOfALineSeeTheEarlierOnes) {
  // The second instance of A finds the first among the branches created so far.
  ParameterTree tree;
  RecordingUserInterface ui;
  DescriptorLoader loader(tree, ui);
  ASSERT_TRUE(loader.ParseText("parameter X int Х\nbranch A 1 0 0 X\nbranch A 2 0 0 A\n"));
  ASSERT_EQ(loader.branches().size(), 3u);
  EXPECT_EQ(loader.branches()[1]->children.size(), 1u);
  EXPECT_EQ(loader.branches()[2]->children.size(), 2u);
  EXPECT_EQ(loader.nodeCount(), 2u + 3u + 6u);  // A (1 + X), A #1 (1 + copy of A), A #2 (1 + A + A #1)
}

TEST(DescriptorLoader, TablesAreDroppedAfterLoading) {
  RecordingUserInterface ui;
  ParameterTree tree;
  DescriptorLoader loader(tree, ui);
  ASSERT_TRUE(loader.ParseText("const N 2\ntype T A B\nparameter X T Х\nbranch B N 0 0 X\nroot R 1 0 0 B\n"));
  EXPECT_EQ(loader.constants().size(), 1u);
  EXPECT_EQ(loader.types().size(), 1u);
  EXPECT_EQ(loader.branches().size(), 3u);
  EXPECT_TRUE(loader.Finish());
  EXPECT_TRUE(loader.constants().empty());
  EXPECT_TRUE(loader.types().empty());
  EXPECT_TRUE(loader.branches().empty());
  EXPECT_EQ(tree.templates().size(), 1u);
  EXPECT_EQ(outline(tree.root()), (Lines{"R:", "  B №1: X[0]", "  B №2: X[1]"}));
}

// ------------------------------------------------------------------ limits

TEST(DescriptorLoader, DoublingBranchesStopAtTheNodeLimit) {
  // Each line holds the previous branch twice: 2^n nodes after n lines.
  std::string text = "parameter X int Х\nbranch B0 1 0 0 X X\n";
  for (int i = 1; i <= 40; ++i) {
    text += "branch B" + std::to_string(i) + " 1 0 0 B" + std::to_string(i - 1) + " B" + std::to_string(i - 1) + "\n";
  }
  text += "root R 1 0 0 X\n";
  DescriptorLoadOptions options;
  options.maxNodes = 10'000;
  auto l = load(text, options);
  EXPECT_EQ(l->ui.lines(),
            (Lines{"Ошибка в описателе: Описатель задает больше 10000 ветвей и параметров: дерево не будет построено.",
                   kTreeFailed, kNoRoot}));
}

TEST(DescriptorLoader, HugeCountsStopAtTheNodeLimit) {
  DescriptorLoadOptions options;
  options.maxNodes = 1'000;
  auto l = load("parameter X int Х\nconst Many 1e300\nbranch B Many 0 0 X\nroot R 1 0 0 B\n", options);
  EXPECT_EQ(l->ui.lines().front(),
            "Ошибка в описателе: Описатель задает больше 1000 ветвей и параметров: дерево не будет построено.");
  EXPECT_FALSE(l->tree.hasTree());

  // A count written with more digits than an int holds, and one as far below zero.
  auto digits = load("parameter X int Х\nbranch B 99999999999999999999 0 0 X\nroot R 1 0 0 B\n", options);
  EXPECT_EQ(digits->ui.lines().front(), l->ui.lines().front());
  auto negative = load("parameter X int Х\nbranch B -99999999999999999999 0 0 X\nroot R 1 0 0 X\n", options);
  EXPECT_EQ(negative->ui.lines(), Lines{});
}

TEST(DescriptorLoader, DeepNestingStopsAtTheDepthLimit) {
  std::string text = "parameter X int Х\nbranch B0 1 0 0 X\n";
  for (int i = 1; i <= 10; ++i) text += "branch B" + std::to_string(i) + " 1 0 0 B" + std::to_string(i - 1) + "\n";
  DescriptorLoadOptions options;
  options.maxDepth = 8;
  auto l = load(text + "root R 1 0 0 B6\n", options);
  EXPECT_EQ(l->ui.lines().front(),
            "Ошибка в описателе: Ветви описателя вложены глубже 8 уровней: дерево не будет построено.");
  // B7 (8 levels) was the last one allowed; B8 would have been 9.
  auto fits = load(text.substr(0, text.find("branch B8")) + "root R 1 0 0 X\n", options);
  EXPECT_EQ(fits->ui.lines(), Lines{});
}

// ------------------------------------------------------------------ the descriptor file

std::vector<std::uint8_t> packed(const std::string& text) {
  auto bytes = packDescriptor(text);
  EXPECT_TRUE(bytes.ok());
  return bytes.ok() ? std::move(bytes).value() : std::vector<std::uint8_t>{};
}

void writeFile(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::set<std::string> folderListing(const std::filesystem::path& folder) {
  std::set<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(folder)) names.insert(e.path().filename().string());
  return names;
}

TEST(DescriptorFile, LoadsTheStreamOfTheSelector) {
  ScratchFolder folder;
  const auto file = folder.path() / "kvtr.tree.dat";
  writeFile(file, packed("parameter X int Х\nroot Корень 1 0 0 X\n"));

  ParameterTree tree;
  RecordingUserInterface ui;
  const auto result = LoadDescriptor(tree, file, ui);
  EXPECT_TRUE(result.streamRead);
  EXPECT_TRUE(result.complete);
  EXPECT_EQ(ui.lines(), Lines{});
  EXPECT_EQ(outline(tree.root()), (Lines{"Корень: X"}));

  // Any other selector loads nothing, silently, and leaves no tree behind.
  tree.descriptorSelector = kDescriptorSelectorNone;
  const auto none = LoadDescriptor(tree, file, ui);
  EXPECT_FALSE(none.streamRead);
  EXPECT_FALSE(tree.hasTree());
  EXPECT_TRUE(tree.templates().empty());
  EXPECT_EQ(ui.lines(), Lines{});
  EXPECT_EQ(DescriptorStreamName(3), "kvtr.tree");
  EXPECT_EQ(DescriptorStreamName(4), "");
}

TEST(DescriptorFile, AMissingFileIsReportedAndNothingIsCreated) {
  ScratchFolder folder;
  ParameterTree tree;
  RecordingUserInterface ui;
  const auto result = LoadDescriptor(tree, folder.path() / "kvtr.tree.dat", ui);
  EXPECT_FALSE(result.streamRead);
  EXPECT_FALSE(result.detail.empty());
  EXPECT_EQ(ui.lines(), (Lines{"Конфигуратор КВТР: Ошибка открытия файла дерева!"}));
  EXPECT_EQ(ui.messages[0].icon, MessageIcon::Stop);
  EXPECT_TRUE(folderListing(folder.path()).empty());
}

TEST(DescriptorFile, UnreadableFilesAreReportedAndLeftAsTheyWere) {
  ScratchFolder folder;
  const auto file = folder.path() / "kvtr.tree.dat";
  const std::vector<std::uint8_t> notCompound = {'n', 'o', 't', ' ', 'a', ' ', 'c', 'f', 'b'};
  writeFile(file, notCompound);
  ParameterTree tree;
  RecordingUserInterface ui;
  EXPECT_FALSE(LoadDescriptor(tree, file, ui).streamRead);
  EXPECT_EQ(ui.lines(), (Lines{"Конфигуратор КВТР: Ошибка открытия файла дерева!"}));
  EXPECT_EQ(std::filesystem::file_size(file), notCompound.size());

  // A compound file without the stream.
  auto other = packDescriptor("root R 1 0 0\n", "other.stream");
  ASSERT_TRUE(other.ok());
  writeFile(file, other.value());
  RecordingUserInterface ui2;
  EXPECT_FALSE(LoadDescriptor(tree, file, ui2).streamRead);
  EXPECT_EQ(ui2.lines(), (Lines{"Конфигуратор КВТР: Ошибка открытия файла дерева!"}));

  // An empty stream.
  writeFile(file, packed(""));
  RecordingUserInterface ui3;
  const auto empty = LoadDescriptor(tree, file, ui3);
  EXPECT_TRUE(empty.streamRead);
  EXPECT_FALSE(empty.complete);
  EXPECT_EQ(ui3.lines(), (Lines{kTreeFailed}));
}

TEST(DescriptorFile, FoundBesideTheProgramFirst) {
  ScratchFolder folder;
  // Nothing there: the place beside the program is named, so that the failure names it.
  EXPECT_EQ(FindDescriptorFile(folder.path()), folder.path() / "kvtr.tree.dat");
  writeFile(folder.path() / "kvtr.tree.dat", packed("root R 1 0 0\n"));
  EXPECT_EQ(FindDescriptorFile(folder.path()), folder.path() / "kvtr.tree.dat");
  EXPECT_EQ(FindDescriptorFile(KVTR_BIN_DIR), std::filesystem::path(KVTR_BIN_DIR) / "kvtr.tree.dat");
}

// ------------------------------------------------------------------ the module's own descriptor

class ShippedDescriptor : public testing::Test {
 protected:
  void SetUp() override {
    DescriptorLoadOptions options;
    options.prepareScanner = [this](Parameter&) { ++prepared; };
    result = LoadDescriptor(tree, std::filesystem::path(KVTR_BIN_DIR) / "kvtr.tree.dat", ui, options);
  }

  // Every parameter under a branch with its (hash, index) key; fails on the first repeated key.
  static void collect(DescBranch& branch, std::map<std::pair<unsigned, int>, std::string>& keys) {
    ParameterTree::ForEachParameter(branch, [&](Parameter& p) {
      const std::pair<unsigned, int> k{hashName(p.name), p.hasIndex ? p.index : -1};
      const auto [it, inserted] = keys.emplace(k, p.name);
      EXPECT_TRUE(inserted) << p.name << " collides with " << it->second << " at index " << k.second;
    });
  }

  std::vector<int> indexesOf(DescBranch& branch, std::string_view name) {
    std::vector<int> out;
    ParameterTree::ForEachParameter(branch, [&](Parameter& p) {
      if (equalsNoCase(p.name, name)) out.push_back(p.hasIndex ? p.index : -1);
    });
    return out;
  }

  static std::vector<int> range(int n) {
    std::vector<int> v;
    for (int i = 0; i < n; ++i) v.push_back(i);
    return v;
  }

  ParameterTree tree;
  RecordingUserInterface ui;
  DescriptorLoadResult result;
  int prepared = 0;
};

TEST_F(ShippedDescriptor, LoadsWithoutAMessage) {
  EXPECT_EQ(ui.lines(), Lines{});
  EXPECT_TRUE(result.complete);
  ASSERT_TRUE(tree.hasTree());
  ASSERT_NE(tree.scanners(), nullptr);
  const auto rootCounts = ParameterTree::CountNodes(*tree.root());
  EXPECT_EQ(rootCounts.branches, 68u);
  EXPECT_EQ(rootCounts.parameters, 150u);
  const auto scanCounts = ParameterTree::CountNodes(*tree.scanners());
  EXPECT_EQ(scanCounts.branches, 21u);
  EXPECT_EQ(scanCounts.parameters, 22u);
  EXPECT_EQ(prepared, 22);
}

TEST_F(ShippedDescriptor, AddressesEveryParameterUniquely) {
  std::map<std::pair<unsigned, int>, std::string> keys;
  collect(*tree.root(), keys);
  collect(*tree.scanners(), keys);
  EXPECT_EQ(keys.size(), 172u);
}

TEST_F(ShippedDescriptor, ShortNamesFitTheModulesAlphabet) {
  // At most four significant characters from 0-9 A-Z - _ blank, each optionally followed by ".";
  // "!" and "@" marks are gone after loading and "CHAr*" is the network name.
  const auto check = [](Parameter& p) {
    std::string_view n = p.name;
    if (n == "CHAr*") n = "CHAr";
    int significant = 0;
    for (std::size_t i = 0; i < n.size(); ++i) {
      const char c = toUpperAscii(n[i]);
      if (c == '.') {
        EXPECT_TRUE(i > 0 && n[i - 1] != '.') << p.name;
        continue;
      }
      EXPECT_TRUE((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || c == '-' || c == '_' || c == ' ') << p.name;
      ++significant;
    }
    EXPECT_GE(significant, 1) << p.name;
    EXPECT_LE(significant, 4) << p.name;
  };
  ParameterTree::ForEachParameter(*tree.root(), check);
  ParameterTree::ForEachParameter(*tree.scanners(), check);
}

TEST_F(ShippedDescriptor, HoldsTheParametersTheProgramReliesOn) {
  // Network settings, in the branch that acts as the module's network node.
  DescBranch* net = tree.networkSettings();
  ASSERT_NE(net, nullptr);
  EXPECT_EQ(net->title, "Сетевые параметры");
  for (const char* name : {"bPS", "LEn", "PrtY", "Sbit", "A.Len", "Addr", "Prot", "CHAr*"}) {
    EXPECT_NE(net->FindParameter(name), nullptr) << name;
  }
  EXPECT_EQ(net->FindParameter("bPS")->type, "2400:4800:9600:14400:19200:28800:38400:57600:115200");
  EXPECT_EQ(net->FindParameter("PrtY")->type, "Отсутствует:Четность:Нечетность");
  EXPECT_EQ(net->FindParameter("A.Len")->type, "8:11");
  // The native protocol is the first choice: the checks of the network settings rely on it.
  EXPECT_TRUE(net->FindParameter("Prot")->type.starts_with("ДОРВ:"));

  // Service commands are templates for the single-parameter dialog; APLY and INIT must not be
  // reachable by a walk over the tree.
  for (const char* name : {"dev", "ver", "exit", "APLY", "INIT", "CHAr"}) {
    bool found = false;
    for (const auto& t : tree.templates()) {
      std::string_view n = t.name;
      if (n.starts_with('!')) n.remove_prefix(1);
      found = found || equalsNoCase(n, name);
    }
    EXPECT_TRUE(found) << name;
  }
  for (const char* name : {"APLY", "INIT", "CHAr"}) {
    EXPECT_TRUE(indexesOf(*tree.root(), name).empty()) << name;
    EXPECT_TRUE(indexesOf(*tree.scanners(), name).empty()) << name;
  }
  // "dev", "ver" and "exit" cannot be written: they are read, never sent in a write.
  ParameterTree::ForEachParameter(*tree.root(), [](Parameter& p) {
    if (equalsNoCase(p.name, "dev") || equalsNoCase(p.name, "ver") || equalsNoCase(p.name, "exit")) {
      EXPECT_EQ(p.exchangeable, 0) << p.name;
    }
  });

  // Inputs, outputs and calibration.
  EXPECT_EQ(indexesOf(*tree.root(), "I.Flt"), range(12));
  EXPECT_EQ(indexesOf(*tree.root(), "C.Lim"), range(12));
  EXPECT_EQ(indexesOf(*tree.root(), "POUt"), range(8));
  EXPECT_EQ(indexesOf(*tree.root(), "P.Per"), range(8));
  EXPECT_EQ(indexesOf(*tree.root(), "clb.k"), range(16));
  ParameterTree::ForEachParameter(*tree.root(), [](Parameter& p) {
    if (equalsNoCase(p.name, "clb.k")) {
      EXPECT_EQ(p.exchangeable, 1);
      EXPECT_FALSE(p.pendingText.empty());  // the initialising pass writes it
    }
  });
  ASSERT_EQ(tree.outputTable().size(), 8u);
  for (int i = 0; i < 8; ++i) {
    ASSERT_NE(tree.OutputParameter(i), nullptr);
    EXPECT_EQ(tree.OutputParameter(i)->index, i);
  }

  // The inputs and outputs window.
  EXPECT_EQ(indexesOf(*tree.scanners(), "r.cn"), std::vector<int>{-1});
  EXPECT_EQ(indexesOf(*tree.scanners(), "r.cou"), range(12));
  EXPECT_EQ(indexesOf(*tree.scanners(), "r.oe"), range(8));
  EXPECT_EQ(indexesOf(*tree.scanners(), "r.oe.s"), std::vector<int>{-1});
}

TEST_F(ShippedDescriptor, TheNetworkBranchServesAsTheModulesNetworkNode) {
  DescBranch& net = *tree.networkSettings();
  ASSERT_EQ(net.SetValueByName("A.Len", "8"), SetValueResult::Stored);
  ASSERT_EQ(net.SetValueByName("Prot", "ДОРВ"), SetValueResult::Stored);
  ASSERT_EQ(net.SetValueByName("Addr", "16"), SetValueResult::Stored);
  EXPECT_FALSE(CheckNetworkValue(net, "Addr", "300"));  // 8-bit addresses
  ASSERT_EQ(net.SetValueByName("A.Len", "11"), SetValueResult::Stored);
  EXPECT_TRUE(CheckNetworkValue(net, "Addr", "300"));
  ASSERT_EQ(net.SetValueByName("Prot", "Modbus RTU"), SetValueResult::Stored);
  EXPECT_FALSE(CheckNetworkValue(net, "Addr", "300"));  // another protocol keeps addresses to 255
  ASSERT_EQ(net.SetValueByName("PrtY", "Четность"), SetValueResult::Stored);
  ASSERT_EQ(net.SetValueByName("LEn", "8"), SetValueResult::Stored);
  EXPECT_FALSE(CheckFrameFormat(net, "Sbit", "2"));

  // The module's settings reach the program's port node, unknown values aside.
  NetRS485prg program;
  const std::string programBaud = program.GetValueByName("bPS");
  ASSERT_EQ(net.SetValueByName("Addr", "17"), SetValueResult::Stored);
  CopyNetworkSettings(net, program);
  EXPECT_EQ(program.GetValueByName("Addr"), "17");
  EXPECT_EQ(program.GetValueByName("PrtY"), "Четность");
  EXPECT_EQ(program.GetValueByName("bPS"), programBaud);  // "Нет данных" in the module's node
}

TEST_F(ShippedDescriptor, FactoryValuesAreAcceptedByTheirParameters) {
  // Every initial value must pass the parameter's own input check, or the initialising pass
  // would send values the operator could not have typed.
  int checked = 0;
  const auto check = [&](Parameter& p) {
    if (p.pendingText.empty()) return;
    std::string stored;
    EXPECT_TRUE(p.AcceptsText(p.pendingText, stored)) << p.name << " = " << p.pendingText;
    if (p.kind() == ValueKind::Enumeration) {
      DataField field;
      std::string text = p.pendingText;
      EXPECT_EQ(p.ConvertToData(text, field), 1) << p.name << " = " << p.pendingText;
    }
    ++checked;
  };
  ParameterTree::ForEachParameter(*tree.root(), check);
  EXPECT_GT(checked, 100);
}

}  // namespace
}  // namespace kvtr
