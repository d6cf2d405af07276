#include <gtest/gtest.h>

#include <limits>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "model/branch_expansion.h"
#include "model/branch_view.h"
#include "model/parameter_tree.h"
#include "recording_user_interface.h"

namespace kvtr {
namespace {

using testing_support::RecordingUserInterface;
using Lines = std::vector<std::string>;

ParamTemplate tmpl(std::string name, std::string type = "int", std::string description = "Описание") {
  ParamTemplate t;
  t.name = std::move(name);
  t.type = std::move(type);
  t.description = std::move(description);
  return t;
}

// The instances 1..count of one declared branch, each holding the given templates.
std::vector<std::unique_ptr<DescBranch>> instances(const std::string& title, int count,
                                                   const std::vector<ParamTemplate>& templates = {tmpl("P")}) {
  std::vector<std::unique_ptr<DescBranch>> out;
  for (int n = 1; n <= count; ++n) {
    auto b = std::make_unique<DescBranch>(title, count, n, 0, 0);
    for (const auto& t : templates) b->AddTemplate(t);
    out.push_back(std::move(b));
  }
  return out;
}

void addAll(DescBranch& parent, std::vector<std::unique_ptr<DescBranch>> children) {
  for (auto& c : children) parent.AddChild(std::move(c));
}

std::unique_ptr<DescBranch> rootWith(std::vector<std::unique_ptr<DescBranch>> children) {
  auto root = std::make_unique<DescBranch>("Корень", 1, 1, 0, 0);
  addAll(*root, std::move(children));
  return root;
}

struct Expanded {
  RecordingUserInterface ui;
  ParameterTree tree;
  int result = 0;
};

std::unique_ptr<Expanded> expand(std::unique_ptr<DescBranch> root) {
  auto e = std::make_unique<Expanded>();
  e->tree.SetRoot(std::move(root));
  ExpansionContext context;
  context.tree = &e->tree;
  context.ui = &e->ui;
  e->result = Expand(*e->tree.root(), context, false, 0);
  return e;
}

Lines childTitles(const DescBranch& b) {
  Lines out;
  for (const auto& c : b.children) out.push_back(c->title);
  return out;
}

std::vector<int> indexes(const DescBranch& b) {
  std::vector<int> out;
  for (const auto& p : b.parameters()) out.push_back(p->hasIndex ? p->index : -1);
  return out;
}

// ------------------------------------------------------------------ numbering

TEST(Expand, InstancesAreNumbered) {
  auto e = expand(rootWith(instances("Вход", 3)));
  EXPECT_EQ(childTitles(*e->tree.root()), (Lines{"Вход №1", "Вход №2", "Вход №3"}));
  EXPECT_EQ(e->tree.root()->title, "Корень");  // one instance: no number
}

TEST(Expand, TitleSuffixesAndMarks) {
  struct Case {
    const char* declared;
    int count;
    Lines titles;
    std::vector<int> positions;  // index of each instance's parameter
  };
  const Case cases[] = {
      {"Выход#_(ключ)", 2, {"Выход №1 (ключ)", "Выход №2 (ключ)"}, {0, 1}},
      {"#-й_канал", 2, {" №1-й канал", " №2-й канал"}, {0, 1}},
      {"X*3", 2, {"X №1", "X №2"}, {0, 3}},
      {"Y+5", 2, {"Y №6", "Y №7"}, {5, 6}},
      {"K20+2", 2, {"K20 №1", "K20 №2"}, {2, 3}},  // the number shown stays
      {"Z+1*2", 2, {"Z №2", "Z №3"}, {1, 3}},      // "*" is read first, then "+"
      {"Z*2+1", 2, {"Z*2 №2", "Z*2 №3"}, {1, 2}},  // so this "*" stays in the title
      {"W*x", 2, {"W №1", "W №2"}, {0, 0}},  // a suffix that is no digit reads as 0
      {"Ш*Ж", 2, {"Ш №1", "Ш №2"}, {0, 0}},  // a letter of two bytes still counts as one character
      {"V+3", 1, {"V"}, {-1}},              // one instance: not numbered, not indexed
      {"Состояние_дополнительного_ВЭ", 2, {"Состояние дополнительного ВЭ №9", "Состояние дополнительного ВЭ №10"}, {0, 1}},
      {"Состояние_дополнительного_ВЭ#", 2, {"Состояние дополнительного ВЭ №1", "Состояние дополнительного ВЭ №2"}, {0, 1}},
      {"*", 2, {"* №1", "* №2"}, {0, 1}},  // too short for a suffix
  };
  for (const Case& c : cases) {
    auto e = expand(rootWith(instances(c.declared, c.count)));
    EXPECT_EQ(childTitles(*e->tree.root()), c.titles) << c.declared;
    std::vector<int> got;
    for (const auto& child : e->tree.root()->children) got.push_back(indexes(*child).front());
    EXPECT_EQ(got, c.positions) << c.declared;
  }
}

// ------------------------------------------------------------------ indexes

TEST(Expand, NestedCountsMultiplyTheIndexes) {
  // A branch of count 4 holding a branch of count 2: its own parameters take 0, 2, 4, 6 and the
  // inner ones 0..7.
  auto outer = instances("Внешняя", 4);
  for (auto& o : outer) addAll(*o, instances("Внутренняя", 2, {tmpl("Q")}));
  auto e = expand(rootWith(std::move(outer)));
  EXPECT_EQ(e->result, 8);
  std::vector<int> own;
  std::vector<int> inner;
  for (const auto& o : e->tree.root()->children) {
    own.push_back(indexes(*o).front());
    for (const auto& i : o->children) inner.push_back(indexes(*i).front());
  }
  EXPECT_EQ(own, (std::vector<int>{0, 2, 4, 6}));
  EXPECT_EQ(inner, (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7}));
  EXPECT_TRUE(indexes(*e->tree.root()).empty());
}

TEST(Expand, SingleInstancesBelowAnIndexedBranchAreIndexed) {
  auto outer = instances("Вход", 3, {tmpl("A")});
  for (auto& o : outer) addAll(*o, instances("Счетчик", 1, {tmpl("B"), tmpl("C")}));
  auto plain = instances("Общие", 1, {tmpl("D")});
  auto children = std::move(outer);
  children.push_back(std::move(plain.front()));
  auto e = expand(rootWith(std::move(children)));
  const auto& kids = e->tree.root()->children;
  EXPECT_EQ(indexes(*kids[2]->children[0]), (std::vector<int>{2, 2}));
  EXPECT_EQ(kids[2]->children[0]->title, "Счетчик");
  EXPECT_EQ(indexes(*kids[3]), std::vector<int>{-1});
  EXPECT_EQ(e->result, 3);  // the widest child spans three indexes
}

TEST(Expand, CountsInTheMillionsSaturateInsteadOfOverflowing) {
  // Nothing here is created a million times: the counts only enter the arithmetic.
  auto root = std::make_unique<DescBranch>("Корень", 1, 1, 0, 0);
  auto& mid = root->AddChild(std::make_unique<DescBranch>("A*9", 2'000'000'000, 2'000'000'000, 0, 0));
  mid.AddTemplate(tmpl("P"));
  auto& leaf = mid.AddChild(std::make_unique<DescBranch>("B", 2'000'000'000, 2'000'000'000, 0, 0));
  leaf.AddTemplate(tmpl("Q"));
  auto e = expand(std::move(root));
  EXPECT_EQ(e->result, std::numeric_limits<int>::max());
  EXPECT_EQ(indexes(*e->tree.root()->children[0]).front(), std::numeric_limits<int>::max());
  EXPECT_EQ(indexes(*e->tree.root()->children[0]->children[0]).front(), std::numeric_limits<int>::max());
}

// ------------------------------------------------------------------ parameters

TEST(Expand, ParametersTakeTheirTemplate) {
  ParamTemplate full = tmpl("!r.oe", "float:3", "Состояние_ВЭ");
  full.minimum = -1;
  full.maximum = 1;
  full.hasAttributes = 0;
  full.pendingText = "0.5";
  full.attributeMark = 2;
  auto e = expand(rootWith(instances("Ветвь", 1, {full, tmpl("X", "int:2"), tmpl("T", "CLK_frm:1")})));
  const DescBranch& b = *e->tree.root()->children[0];
  const Parameter& p = *b.parameters()[0];
  EXPECT_EQ(p.name, "r.oe");
  EXPECT_EQ(p.exchangeable, 0);
  EXPECT_EQ(p.description, "Состояние ВЭ");
  EXPECT_EQ(p.type, "float");
  EXPECT_EQ(p.precision, 3u);
  EXPECT_EQ(p.minimum, -1.0);
  EXPECT_EQ(p.maximum, 1.0);
  EXPECT_EQ(p.attributeMode, 0);
  EXPECT_EQ(p.pendingText, "0.5");
  EXPECT_EQ(p.attributeMark, 2);
  EXPECT_EQ(p.value, "Нет данных");
  EXPECT_EQ(b.parameters()[1]->exchangeable, 1);
  EXPECT_EQ(b.parameters()[1]->attributeMode, 1);
  EXPECT_EQ(b.parameters()[2]->type, "CLK_frm");
  EXPECT_EQ(b.parameters()[2]->precision, 1u);
}

TEST(Expand, PrecisionDigitsFollowOnlyTheNumericTypes) {
  struct Case {
    const char* declared;
    const char* type;
    unsigned precision;
  };
  const Case cases[] = {
      {"int:2", "int", 2},     {"INT:1", "INT", 1},     {"Float:3", "Float", 3}, {"clk_frm:2", "clk_frm", 2},
      {"int:4", "int:4", 0},   {"int:0", "int:0", 0},   {"int:12", "int:12", 0}, {"int:2:3", "int:2:3", 0},
      {"Off:On", "Off:On", 0}, {"string", "string", 0}, {"int:", "int:", 0},
  };
  std::vector<ParamTemplate> templates;
  for (const Case& c : cases) templates.push_back(tmpl("P", c.declared));
  auto e = expand(rootWith(instances("Ветвь", 1, templates)));
  const auto& params = e->tree.root()->children[0]->parameters();
  ASSERT_EQ(params.size(), std::size(cases));
  for (std::size_t i = 0; i < params.size(); ++i) {
    EXPECT_EQ(params[i]->type, cases[i].type) << cases[i].declared;
    EXPECT_EQ(params[i]->precision, cases[i].precision) << cases[i].declared;
  }
}

TEST(Expand, OnlyABranchOfExactlyOneParameterLendsItsTitle) {
  auto children = instances("Один_параметр", 1, {tmpl("A")});
  auto two = instances("Два", 1, {tmpl("B"), tmpl("C")});
  children.push_back(std::move(two.front()));
  auto withChild = instances("С_веткой", 1, {tmpl("D")});
  addAll(*withChild.front(), instances("Лист", 1, {}));
  children.push_back(std::move(withChild.front()));
  auto e = expand(rootWith(std::move(children)));
  const auto& kids = e->tree.root()->children;
  EXPECT_EQ(kids[0]->parameters()[0]->description, "Один параметр");
  EXPECT_EQ(kids[1]->parameters()[0]->description, "Описание");
  EXPECT_EQ(kids[2]->parameters()[0]->description, "Описание");
}

TEST(Expand, OutputParametersEnterTheOutputTable) {
  auto e = expand(rootWith(instances("Выход", 3, {tmpl("pout"), tmpl("X")})));
  ASSERT_EQ(e->tree.outputTable().size(), 3u);
  for (int i = 0; i < 3; ++i) {
    Parameter* p = e->tree.OutputParameter(i);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p, e->tree.root()->children[static_cast<std::size_t>(i)]->parameters()[0].get());
  }
  EXPECT_EQ(e->tree.OutputParameter(3), nullptr);
  e->tree.Clear();
  EXPECT_TRUE(e->tree.outputTable().empty());
}

TEST(Expand, ALaterOutputAtTheSamePositionReplacesTheEarlierOne) {
  ParameterTree tree;
  auto first = std::make_unique<Parameter>("POUt");
  auto second = std::make_unique<Parameter>("POUt");
  tree.EnterOutput(*first, 4);
  tree.EnterOutput(*second, 4);
  EXPECT_EQ(tree.OutputParameter(4), second.get());
  // The replaced parameter no longer points into the table: destroying it leaves the entry.
  first.reset();
  EXPECT_EQ(tree.OutputParameter(4), second.get());
  // Moving a parameter to another position frees the old one.
  tree.EnterOutput(*second, 5);
  EXPECT_EQ(tree.OutputParameter(4), nullptr);
  EXPECT_EQ(tree.OutputParameter(5), second.get());
  second.reset();
  EXPECT_EQ(tree.OutputParameter(5), nullptr);
}

TEST(Expand, RunningOutOfMemorySkipsTheTemplateWithAMessage) {
  auto root = rootWith(instances("Ветвь", 1, {tmpl("A"), tmpl("B"), tmpl("C")}));
  RecordingUserInterface ui;
  ParameterTree tree;
  tree.SetRoot(std::move(root));
  int made = 0;
  ExpansionContext context;
  context.tree = &tree;
  context.ui = &ui;
  context.makeParameter = [&made]() -> std::unique_ptr<Parameter> {
    if (++made == 2) throw std::bad_alloc();
    return std::make_unique<Parameter>();
  };
  Expand(*tree.root(), context, false, 0);
  EXPECT_EQ(ui.lines(), Lines{"Ошибка: Серьезная нехватка памяти"});
  const DescBranch& b = *tree.root()->children[0];
  ASSERT_EQ(b.ParameterCount(), 2u);
  EXPECT_EQ(b.parameters()[0]->name, "A");
  EXPECT_EQ(b.parameters()[1]->name, "C");
  // The view walks what exists: the order list still names three parameters.
  RecordingUserInterface viewUi;
  EXPECT_EQ(InsertBranchIntoView(*tree.root(), false, viewUi).size(), 4u);
}

// ------------------------------------------------------------------ view rows

TEST(BranchView, RowsFollowTheDeclarationOrder) {
  auto root = std::make_unique<DescBranch>("Корень", 1, 1, 1, 2);
  root->AddTemplate(tmpl("A", "int", "Первый"));
  addAll(*root, instances("Лист", 2, {tmpl("L", "Off:On", "Лист")}));
  auto& inner = root->AddChild(std::make_unique<DescBranch>("Ветвь", 1, 1, 4, 5));
  inner.AddTemplate(tmpl("!B", "int", "Второй"));
  inner.AddTemplate(tmpl("C", "int", "Третий"));
  root->AddTemplate(tmpl("D", "int", "Четвертый"));
  auto e = expand(std::move(root));

  RecordingUserInterface ui;
  Lines rows;
  for (const auto& r : InsertBranchIntoView(*e->tree.root(), true, ui)) {
    if (r.kind == TreeRowKind::Branch) {
      rows.push_back(std::to_string(r.depth) + " [" + r.node.title + "] " + r.node.indexText + " " +
                     std::to_string(r.node.image) + "/" + std::to_string(r.node.selectedImage));
    } else {
      rows.push_back(std::to_string(r.depth) + " " + r.cells.description + " " + r.cells.name + " " +
                     std::to_string(r.cells.image));
    }
  }
  EXPECT_EQ(rows, (Lines{"0 [Корень]  1/2", "1 Первый A 27", "1 Лист №1 L:0 28", "1 Лист №2 L:1 28",
                         "1 [Ветвь]  4/5", "2 Второй B 30", "2 Третий C 27", "1 Четвертый D 27"}));
  EXPECT_EQ(ui.lines(), Lines{});
}

TEST(BranchView, IndexedBranchesShowTheirLinearIndex) {
  auto e = expand(rootWith(instances("Вход", 2, {tmpl("A"), tmpl("B")})));
  RecordingUserInterface ui;
  const auto rows = InsertBranchIntoView(*e->tree.root(), true, ui);
  ASSERT_EQ(rows.size(), 7u);
  EXPECT_EQ(rows[4].node.title, "Вход №2");
  EXPECT_EQ(rows[4].node.indexText, "(1)");
  EXPECT_EQ(rows[6].cells.name, "B:1");
  EXPECT_EQ(InsertBranchIntoView(*e->tree.root(), false, ui)[4].node.indexText, "");
}

TEST(BranchView, ActuatorBranchesPastTheEighthGetTheExtraRow) {
  auto e = expand(rootWith(instances("БУИМ", 10, {tmpl("A"), tmpl("B")})));
  RecordingUserInterface ui;
  int extra = 0;
  std::string lastBranch;
  for (const auto& r : InsertBranchIntoView(*e->tree.root(), false, ui)) {
    if (r.kind == TreeRowKind::Branch) lastBranch = r.node.title;
    if (r.kind == TreeRowKind::Extra) {
      ++extra;
      EXPECT_TRUE(lastBranch == "БУИМ №9" || lastBranch == "БУИМ №10") << lastBranch;
      EXPECT_EQ(r.cells.description, "Тип исполнительного механизма");
      EXPECT_EQ(r.cells.value, "2 позиционный ИМ");
      EXPECT_EQ(r.parameter, nullptr);
      EXPECT_EQ(r.depth, 2);
    }
  }
  EXPECT_EQ(extra, 2);
}

}  // namespace
}  // namespace kvtr
