#include "model/object_with_parameters.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/user_interface.h"
#include "model/tree_nodes.h"

namespace kvtr {
namespace {

class RecordingUserInterface : public SilentUserInterface {
 public:
  void showMessage(const std::string& text, const std::string& caption, MessageIcon icon) override {
    messages.push_back(caption + "|" + text);
    icons.push_back(icon);
  }
  std::vector<std::string> messages;
  std::vector<MessageIcon> icons;
};

TEST(ObjectWithParameters, FindsByNameWithoutRegardToCase) {
  ObjectWithParameters node;
  node.AddParameter("Addr", "int", "first").value = "16";
  node.AddParameter("ADDR", "int", "second").value = "17";
  EXPECT_EQ(node.FindParameter("aDDr")->description, "first");
  EXPECT_EQ(node.GetValueByName("addr"), "16");
  EXPECT_EQ(node.FindParameter("bPS"), nullptr);
  EXPECT_EQ(node.GetValueByName("bPS"), "");
}

TEST(ObjectWithParameters, SetValueByNameMarksOnlyRealChanges) {
  ObjectWithParameters node;
  Parameter& p = node.AddParameter("cnt", "int", "counter");
  p.value = "5";
  EXPECT_EQ(node.SetValueByName("CNT", "5"), SetValueResult::Stored);
  EXPECT_EQ(p.valueChanged, 0);
  EXPECT_EQ(node.SetValueByName("cnt", "6"), SetValueResult::Stored);
  EXPECT_EQ(p.value, "6");
  EXPECT_EQ(p.valueChanged, 1);
  // The same text again leaves the flag as it was, set or clear.
  EXPECT_EQ(node.SetValueByName("cnt", "6"), SetValueResult::Stored);
  EXPECT_EQ(p.valueChanged, 1);
  // No checks: the text is stored as it comes.
  EXPECT_EQ(node.SetValueByName("cnt", "not a number"), SetValueResult::Stored);
  EXPECT_EQ(p.value, "not a number");

  EXPECT_EQ(node.SetValueByName("missing", "1"), SetValueResult::NotFound);
  EXPECT_EQ(node.ParameterCount(), 1u);
  EXPECT_EQ(node.SetValueByName("Название", "x"), SetValueResult::NotFound);
}

TEST(ObjectWithParameters, TitledNodesTakeTheTitleByName) {
  InvisibleElement node("Старое");
  node.AddParameter("Название", "string", "a parameter of that name");
  EXPECT_EQ(node.SetValueByName("Название", "Новое"), SetValueResult::TitleSet);
  EXPECT_EQ(node.title, "Новое");
  EXPECT_EQ(node.parameters()[0]->value, "Нет данных");
}

TEST(ObjectWithParameters, ChangeStateAndReset) {
  ObjectWithParameters node;
  Parameter& a = node.AddParameter("a", "int", "A");
  node.AddParameter("b", "int", "B");
  EXPECT_EQ(node.GetChangeState(), 0);
  a.ownerChanged = 1;
  EXPECT_EQ(node.GetChangeState(), 2);
  a.value = "1";
  a.comment = "x";
  node.ResetValues();
  EXPECT_EQ(node.GetChangeState(), 0);
  EXPECT_EQ(a.value, "Нет данных");
  EXPECT_EQ(a.comment, "");
}

TEST(ObjectWithParameters, ParametersKeepTheirAddresses) {
  ObjectWithParameters node;
  Parameter* first = &node.AddParameter("p0", "int", "");
  for (int i = 1; i < 200; ++i) node.AddParameter("p" + std::to_string(i), "int", "");
  EXPECT_EQ(node.parameters()[0].get(), first);
  EXPECT_EQ(node.FindParameter("p0"), first);
  node.RebuildParameters();
  EXPECT_EQ(node.ParameterCount(), 0u);
}

TEST(LinearIndex, TakenFromTheFirstIndexedParameter) {
  RecordingUserInterface ui;
  ObjectWithParameters node;
  node.AddParameter("plain", "int", "");
  Parameter& a = node.AddParameter("a", "int", "A");
  a.hasIndex = 1;
  a.index = 4;
  Parameter& b = node.AddParameter("b", "int", "Второй");
  b.hasIndex = 1;
  b.index = 5;
  EXPECT_EQ(node.GetLinearIndex(ui), 4);
  EXPECT_EQ(node.linearIndex, 4);
  EXPECT_TRUE(ui.messages.empty());

  // Once known, an indexed parameter with another index is suspicious.
  EXPECT_EQ(node.GetLinearIndex(ui), 4);
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0], "Предупреждение|Параметер 'b' (Второй) имеет подозрительный линейный индекс.");
  EXPECT_EQ(ui.icons[0], MessageIcon::Exclamation);

  node.SetLinearIndex(7);
  EXPECT_EQ(a.index, 7);
  EXPECT_EQ(b.index, 7);
  EXPECT_EQ(node.parameters()[0]->index, 0);
  EXPECT_EQ(node.LinearIndexText(true, ui), "(7)");
  EXPECT_EQ(ui.messages.size(), 1u);
}

TEST(LinearIndex, ColumnIsEmptyWhenNotAskedOrUnknown) {
  RecordingUserInterface ui;
  ObjectWithParameters node;
  node.AddParameter("plain", "int", "");
  EXPECT_EQ(node.LinearIndexText(true, ui), "");
  EXPECT_EQ(node.linearIndex, -1);

  Parameter& a = node.AddParameter("a", "int", "A");
  a.hasIndex = 1;
  node.linearIndex = 3;
  // Not asked for: the index is not even looked at, so no warning either.
  EXPECT_EQ(node.LinearIndexText(false, ui), "");
  EXPECT_TRUE(ui.messages.empty());
  EXPECT_EQ(node.LinearIndexText(true, ui), "(3)");
  EXPECT_EQ(ui.messages.size(), 1u);
}

TEST(DeviceMismatch, ErrorsCountAndCompareResultsOnlyWithTheFlag) {
  ObjectWithParameters node;
  Parameter& a = node.AddParameter("a", "int", "A");
  node.AddParameter("b", "int", "B");
  EXPECT_FALSE(node.HasDeviceMismatch(false));
  EXPECT_FALSE(node.HasDeviceMismatch(true));
  a.comment = "Знач-е в приборе: '3',Ред-ый,польз.";
  EXPECT_FALSE(node.HasDeviceMismatch(false));
  EXPECT_TRUE(node.HasDeviceMismatch(true));
  a.comment = "Таймаут при передаче данных (нет связи)";
  EXPECT_TRUE(node.HasDeviceMismatch(false));
  EXPECT_TRUE(node.HasDeviceMismatch(true));
}

TEST(TreeNodes, ClassNamesKindsAndFixedAnswers) {
  ObjectWithParameters plain;
  InvisibleElement element("Элемент");
  DescBranch branch("Ветвь", 1, 1, 11, 12);
  CommonParams common;
  NetRS485 net;
  NetRS485prg prg;
  const struct {
    const ObjectWithParameters* node;
    const char* className;
    NodeKind kind;
  } rows[] = {
      {&plain, "ObjectWithParameters", NodeKind::ObjectWithParameters},
      {&element, "InvisibleElement", NodeKind::InvisibleElement},
      {&branch, "DescBranch", NodeKind::DescBranch},
      {&common, "CommonParams", NodeKind::CommonParams},
      {&net, "NetRS485", NodeKind::NetRS485},
      {&prg, "NetRS485prg", NodeKind::NetRS485prg},
  };
  for (const auto& row : rows) {
    EXPECT_STREQ(row.node->GetRuntimeClassName(), row.className);
    EXPECT_EQ(row.node->GetNodeKind(), row.kind) << row.className;
  }

  EXPECT_EQ(element.GetKindName(), "Невизуальный элемент");
  EXPECT_EQ(common.GetKindName(), "Сервисные параметры программы");
  EXPECT_EQ(net.GetKindName(), "Сеть RS-485");
  EXPECT_EQ(prg.GetKindName(), "Сеть RS-485");
  EXPECT_EQ(prg.GetFullTitle(), "Сетевые параметры программы (Сеть RS-485)");
  EXPECT_EQ(element.GetOrdinal(), -999);
  EXPECT_EQ(element.GetSchemeGroup(), "Не относящиеся ко схеме");
  for (std::uint32_t counter : element.GetZeroTotals().counters) EXPECT_EQ(counter, 0u);
  EXPECT_EQ(element.GetImage(), 0);
  EXPECT_EQ(common.GetImage(), 20);
  EXPECT_EQ(common.GetSelectedImage(), 20);
  EXPECT_EQ(branch.GetImage(), 11);
  EXPECT_EQ(branch.GetSelectedImage(), 12);
}

TEST(TreeNodes, TitledWalksLogTheirHeaderEvenWithoutParameters) {
  class Steps : public ParameterSteps {
   public:
    int ReadParameter(Parameter&) override { return 0; }
    int WriteParameter(Parameter&, int) override { return 0; }
    int CompareParameter(Parameter&) override { return 0; }
    bool aborted() override { return false; }
    void LogLine(const std::string& line) override { lines.push_back(line); }
    std::vector<std::string> lines;
  } steps;
  InvisibleElement element("Пусто");
  element.ReadFromDevice(steps);
  element.CompareWithDevice(steps);
  element.WriteToDevice(steps, 1);
  element.WriteToDevice(steps, 0);
  EXPECT_EQ(steps.lines, (std::vector<std::string>{"Читаем ветвь 'Пусто'", "Сравниваем ветвь 'Пусто'", "Пишем ветвь 'Пусто'"}));

  // A node without a title has no header at all.
  ObjectWithParameters plain;
  plain.AddParameter("a", "int", "");
  steps.lines.clear();
  EXPECT_EQ(plain.ReadFromDevice(steps), (WalkCounts{1, 0}));
  EXPECT_TRUE(steps.lines.empty());
}

}  // namespace
}  // namespace kvtr
