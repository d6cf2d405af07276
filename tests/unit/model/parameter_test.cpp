#include "model/parameter.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

namespace kvtr {
namespace {

struct TextCase {
  const char* name;
  const char* type;
  double minimum;
  double maximum;
  const char* text;
  bool accepted;
  const char* stored;  // value after an accepted text
};

void PrintTo(const TextCase& c, std::ostream* os) {
  *os << c.name << " [" << c.type << "] " << c.minimum << ".." << c.maximum << " '" << c.text << "'";
}

class SetValueFromTextTest : public ::testing::TestWithParam<TextCase> {};

TEST_P(SetValueFromTextTest, ChecksOperatorInput) {
  const TextCase& c = GetParam();
  Parameter p(c.name, c.type, "test");
  p.minimum = c.minimum;
  p.maximum = c.maximum;
  p.value = "old";
  EXPECT_EQ(p.SetValueFromText(c.text), c.accepted);
  if (c.accepted) {
    EXPECT_EQ(p.value, c.stored);
    EXPECT_EQ(p.valueChanged, 1);
  } else {
    EXPECT_EQ(p.value, "old");
    EXPECT_EQ(p.valueChanged, 0);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, SetValueFromTextTest,
    ::testing::Values(
        // floats: stored "%.3f"; limits met within 0.0009
        TextCase{"Tmp", "float", 0, 10, "10.0005", true, "10.000"},
        TextCase{"Tmp", "float", 0, 10, "10.001", false, ""},
        TextCase{"Tmp", "float", 0, 10, "-0.0008", true, "-0.001"},
        TextCase{"Tmp", "float", 0, 10, "-0.001", false, ""},
        TextCase{"Tmp", "float", 0, 0, "123456.5", true, "123456.500"},
        TextCase{"Tmp", "float", 0, 0, "-1e3", true, "-1000.000"},
        TextCase{"Tmp", "float:2", 0, 0, " 2.5", true, "2.500"},
        TextCase{"Tmp", "float:2", 0, 0, " 2.5 V", false, ""},
        TextCase{"Tmp", "float", 0, 0, "abc", false, ""},
        TextCase{"Tmp", "float", 0, 0, "", false, ""},
        TextCase{"Tmp", "float", 0, 0, "inf", false, ""},
        TextCase{"Tmp", "float", 0, 0, "1e39", false, ""},
        // time: minutes and seconds, limits in seconds, stored as typed
        TextCase{"tm", "CLK_frm", 0, 0, "12:05", true, "12:05"},
        TextCase{"tm", "CLK_frm", 0, 725, "12:05", true, "12:05"},
        TextCase{"tm", "CLK_frm", 0, 724, "12:05", false, ""},
        TextCase{"tm", "CLK_frm", 0, 724, "12:5", false, ""},
        TextCase{"tm", "CLK_frm", 0, 725, "12:5", true, "12:5"},
        TextCase{"tm", "CLK_frm", 60, 100, "0:59", false, ""},
        TextCase{"tm", "CLK_frm", 0, 0, "1:2x", false, ""},
        TextCase{"tm", "CLK_frm", 0, 0, "", false, ""},
        // integers: whole, within the limits, nothing left over
        TextCase{"cnt", "int", 0, 0, "255", true, "255"},
        TextCase{"cnt", "int", 0, 100, "100", true, "100"},
        TextCase{"cnt", "int", 0, 100, "101", false, ""},
        TextCase{"cnt", "int", 5, 100, "4", false, ""},
        TextCase{"cnt", "int", 0, 0, "-3", false, ""},
        TextCase{"cnt", "int", 0, 0, "12.5", false, ""},
        TextCase{"cnt", "int", 0, 0, "12.000001", true, "12.000001"},
        TextCase{"cnt", "int", 0, 0, "12a", false, ""},
        TextCase{"cnt", "int", 0, 0, "12 ", false, ""},
        TextCase{"cnt", "int", 0, 0, "1e3", false, ""},
        TextCase{"cnt", "int", 0, 0, "", false, ""},
        // the network-name parameter
        TextCase{"CHAr*", "int", 0, 0, "AB.C", true, "AB.C"},
        TextCase{"chAR*", "int", 0, 0, "a -_", true, "a -_"},
        TextCase{"chAR*", "int", 0, 0, "a/-_", false, ""},
        TextCase{"CHAr*", "int", 0, 0, "A.B.C.D.", true, "A.B.C.D."},
        TextCase{"CHAr*", "int", 0, 0, "ABCDE", false, ""},
        TextCase{"CHAr*", "int", 0, 0, "A..", false, ""},
        TextCase{"CHAr*", "int", 0, 0, ".A", false, ""},
        TextCase{"CHAr*", "int", 0, 0, "", false, ""},
        TextCase{"CHAr*", "int", 0, 0, "Ж", false, ""},
        // a choice of the list, kept as the list writes it; strings are never written
        TextCase{"sw", "OFF:ON", 0, 0, "on", true, "ON"},
        TextCase{"sw", "OFF:ON", 0, 0, "whatever", false, ""},
        TextCase{"txt", "string", 0, 0, "", false, ""},
        TextCase{"nm", "name", 0, 0, "too long for a name", false, ""}));

TEST(Parameter, StartsWithTheDefaults) {
  const Parameter p;
  EXPECT_EQ(p.value, "Нет данных");
  EXPECT_EQ(p.description, "<неизвестный параметр>");
  EXPECT_EQ(p.exchangeable, 1);
  EXPECT_EQ(p.editable, 1);
  EXPECT_EQ(p.ownerFirm, 0);
  EXPECT_EQ(p.scanPeriodMs, 1000);
  EXPECT_FALSE(p.scanArmed);
  EXPECT_FALSE(p.isPolled());
  EXPECT_FALSE(p.isChanged());
  EXPECT_STREQ(p.GetRuntimeClassName(), "Parameter");
  EXPECT_EQ(Parameter("dev").type, "неизвестен");
}

TEST(Parameter, AnyOfTheThreeFlagsMeansChanged) {
  for (int flag = 0; flag < 3; ++flag) {
    Parameter p;
    (flag == 0 ? p.valueChanged : flag == 1 ? p.accessChanged : p.ownerChanged) = 1;
    EXPECT_TRUE(p.isChanged()) << flag;
  }
}

TEST(Parameter, TakeAnswerKeepsTheValueWhenNothingDecodes) {
  Parameter p("sw", "OFF:ON", "switch");
  p.value = "ON";
  EXPECT_EQ(p.TakeAnswer(std::vector<std::uint8_t>{0x02}), 0);
  EXPECT_EQ(p.value, "ON");
  EXPECT_EQ(p.TakeAnswer(std::vector<std::uint8_t>{0x00}), 1);
  EXPECT_EQ(p.value, "OFF");

  Parameter counter("cnt", "int", "counter");
  EXPECT_EQ(counter.TakeAnswer(std::vector<std::uint8_t>(5, 1)), -1);
  EXPECT_EQ(counter.value, "Ошибка; (Непонятная длина ответа:5)");
}

TEST(Parameter, BuildRequestEncodesTheValue) {
  Parameter p("Tmp", "float", "temperature");
  p.value = "1.5";
  DataField out;
  ASSERT_EQ(p.BuildRequest(out), 1);
  ASSERT_EQ(out.length, 4u);
  EXPECT_EQ(out.bytes[0], 0x3F);
  EXPECT_EQ(out.bytes[1], 0xC0);
  EXPECT_EQ(p.value, "1.5");

  Parameter name("nm", "name", "network name");
  name.value = "A/B";
  std::string message;
  EXPECT_EQ(name.BuildRequest(out, &message), -1);
  EXPECT_EQ(message, "Недопустимый символ в сетевом имени");
  EXPECT_EQ(name.value, "A/B");  // the refusal goes to the caller, not into the value

  Parameter dev("dev");
  message.clear();
  EXPECT_EQ(dev.BuildRequest(out, &message), -1);
  EXPECT_EQ(message, "");
}

TEST(Parameter, AttributeByteCarriesEditableAndTheUserAsOwner) {
  const struct {
    std::uint8_t editable, ownerFirm, byte;
  } rows[] = {{1, 0, 3}, {0, 0, 2}, {1, 1, 1}, {0, 1, 0}};
  for (const auto& row : rows) {
    Parameter p;
    p.editable = row.editable;
    p.ownerFirm = row.ownerFirm;
    EXPECT_EQ(p.AttributeByte(), row.byte);

    Parameter back;
    back.accessChanged = back.ownerChanged = 1;
    back.TakeAttributeByte(row.byte | 0xF0);  // bits above 1 mean nothing here
    EXPECT_EQ(back.editable, row.editable);
    EXPECT_EQ(back.ownerFirm, row.ownerFirm);
    EXPECT_FALSE(back.isChanged());
  }
}

TEST(Parameter, ResetReturnsToNoData) {
  Parameter p("cnt", "int", "counter");
  p.value = "5";
  p.comment = "Таймаут при передаче данных (нет связи)";
  p.editable = 0;
  p.ownerFirm = 1;
  p.valueChanged = p.accessChanged = p.ownerChanged = 1;
  p.pendingText = "7";
  p.hasIndex = 1;
  p.index = 4;
  p.ResetParameter();
  EXPECT_EQ(p.value, "Нет данных");
  EXPECT_EQ(p.comment, "");
  EXPECT_EQ(p.editable, 1);
  EXPECT_EQ(p.ownerFirm, 0);
  EXPECT_FALSE(p.isChanged());
  // What the descriptor gave stays.
  EXPECT_EQ(p.pendingText, "7");
  EXPECT_EQ(p.index, 4);
}

TEST(Parameter, ViewRowColoursAndImages) {
  Parameter p("cnt", "int", "Счётчик");
  EXPECT_EQ(p.GetViewRow(false).colour, RowColour::Black);
  p.valueChanged = 1;
  EXPECT_EQ(p.GetViewRow(false).colour, RowColour::Green);
  p.comment = "Таймаут при передаче данных (нет связи)";
  EXPECT_EQ(p.GetViewRow(false).colour, RowColour::Red);
  p.comment = "Знач-е в приборе: '5',Ред-ый,польз.";
  EXPECT_EQ(p.GetViewRow(false).colour, RowColour::Blue);

  EXPECT_EQ(p.GetRowImage(), 27);
  p.type = "OFF:ON";
  EXPECT_EQ(p.GetRowImage(), 28);
  p.exchangeable = 0;
  EXPECT_EQ(p.GetRowImage(), 30);
}

TEST(Parameter, ViewRowTexts) {
  Parameter p("r.Cou", "int", "Счётчик");
  p.value = "12";
  p.hasIndex = 1;
  p.index = 3;
  ParameterRow row = p.GetViewRow(true);
  EXPECT_EQ(row.description, "Счётчик");
  EXPECT_EQ(row.name, "r.Cou:3");
  EXPECT_EQ(row.value, "12");
  EXPECT_EQ(row.access, "");
  EXPECT_EQ(row.owner, "");
  EXPECT_EQ(p.GetViewRow(false).name, "r.Cou");

  p.attributeMode = 1;
  p.editable = 0;
  p.ownerFirm = 1;
  row = p.GetViewRow(false);
  EXPECT_EQ(row.access, "Не редактируемый");
  EXPECT_EQ(row.owner, "Фирма");
  EXPECT_EQ(p.AttributeModeText(), "обычн. атрибуты");
  p.attributeMode = 4;
  EXPECT_EQ(p.AttributeModeText(), "дерево атр-ов обрезано (кратность индекcов 4)");
}

TEST(Parameter, DestroyingClearsItsOutputSlot) {
  Parameter* slot = nullptr;
  {
    Parameter p("POUt", "int", "output");
    slot = &p;
    p.outputSlot = &slot;
  }
  EXPECT_EQ(slot, nullptr);
}

TEST(Parameter, CloneCopiesTheDataButNotTheLinks) {
  Parameter* slot = nullptr;
  Parameter p("POUt", "int", "output");
  p.value = "3";
  p.minimum = 1;
  p.maximum = 9;
  p.hasIndex = 1;
  p.index = 6;
  p.attributeMode = 2;
  p.pendingText = "0";
  p.outputSlot = &slot;
  slot = &p;
  p.scanTimer = std::make_unique<ScanTimerHook>();
  p.scanArmed = true;
  const auto copy = p.Clone();
  EXPECT_EQ(copy->name, "POUt");
  EXPECT_EQ(copy->value, "3");
  EXPECT_EQ(copy->maximum, 9);
  EXPECT_EQ(copy->index, 6);
  EXPECT_EQ(copy->attributeMode, 2);
  EXPECT_EQ(copy->pendingText, "0");
  EXPECT_EQ(copy->outputSlot, nullptr);
  EXPECT_FALSE(copy->isPolled());
  EXPECT_FALSE(copy->scanArmed);
  EXPECT_EQ(slot, &p);
}

}  // namespace
}  // namespace kvtr
