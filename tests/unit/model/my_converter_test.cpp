#include "model/my_converter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

#include "model/text_encoding.h"

namespace kvtr {
namespace {

using Bytes = std::vector<std::uint8_t>;

MyConverter converter(const std::string& name, const std::string& type) {
  MyConverter c(name);
  c.type = type;
  return c;
}

std::string hex(std::span<const std::uint8_t> bytes) {
  std::string out;
  for (std::uint8_t b : bytes) {
    char piece[4];
    std::snprintf(piece, sizeof piece, out.empty() ? "%02X" : " %02X", b);
    out += piece;
  }
  return out;
}

struct FromDataCase {
  const char* name;
  const char* type;
  Bytes data;
  int result;
  const char* text;  // expected text; for result 0 the text must stay untouched
};

void PrintTo(const FromDataCase& c, std::ostream* os) {
  *os << c.name << " [" << c.type << "] " << hex(c.data);
}

class ConvertFromDataTest : public ::testing::TestWithParam<FromDataCase> {};

TEST_P(ConvertFromDataTest, Decodes) {
  const FromDataCase& c = GetParam();
  const MyConverter conv = converter(c.name, c.type);
  std::string text = "untouched";
  EXPECT_EQ(conv.ConvertFromData(c.data, text), c.result) << c.name << " " << c.type << " " << hex(c.data);
  EXPECT_EQ(text, c.result == 0 ? std::string("untouched") : std::string(c.text));
}

const std::string kRegisterText = "Ошибки регистров ввода/вывода. Номеру сбившегося регистра :  ";

INSTANTIATE_TEST_SUITE_P(
    Table, ConvertFromDataTest,
    ::testing::Values(
        // floats: 4 bytes most significant first; "r.oe" sends the upper three
        FromDataCase{"Tmp", "float", {0x3F, 0xC0, 0x00, 0x00}, 1, "1.500"},
        FromDataCase{"Tmp", "FLOAT:2", {0xC0, 0x20, 0x00, 0x00}, 1, "-2.500"},
        FromDataCase{"Tmp", "float", {0x3F, 0xC0, 0x00, 0x00, 0x00, 0x05}, 1, "1.500"},
        FromDataCase{"Tmp", "float", {0x3F, 0xC0, 0x00}, 0, ""},
        FromDataCase{"Tmp", "float", {0x3F, 0xC0, 0x00, 0x00, 0x00}, 0, ""},
        FromDataCase{"r.oe", "float", {0x3F, 0xC0, 0x00}, 1, "1.500"},
        FromDataCase{"R.OE", "float", {0x3F, 0xC0, 0x00, 0x00, 0x07}, 1, "1.500"},
        FromDataCase{"r.oe", "float", {0x3F, 0xC0, 0x00, 0x00}, 0, ""},
        // integers: odd lengths are one value byte, even lengths two; the rest is the index
        FromDataCase{"cnt", "int", {0xFF}, 1, "255"},
        FromDataCase{"cnt", "int", {0x01, 0x00}, 1, "256"},
        FromDataCase{"cnt", "Int:2", {0x07, 0x00, 0x03}, 1, "7"},
        FromDataCase{"cnt", "int", {0x01, 0x00, 0x00, 0x03}, 1, "256"},
        FromDataCase{"cnt", "int", {1, 2, 3, 4, 5}, -1, "Ошибка; (Непонятная длина ответа:5)"},
        // time: seconds shown as minutes and seconds
        FromDataCase{"tm", "CLK_frm", {0x02, 0xD5}, 1, "12:05"},
        FromDataCase{"tm", "clk_frm:1", {0x3B}, 1, "00:59"},
        FromDataCase{"tm", "CLK_frm", {0x3B, 0x00, 0x01}, 1, "00:59"},
        FromDataCase{"tm", "CLK_frm", Bytes(6, 0), -1, "Ошибка; (Непонятная длина ответа:6)"},
        // network name: first character in the last byte, odd codes carry a point
        FromDataCase{"nm", "name", {0x4E, 0x18, 0x17, 0x14}, 1, "AB.C "},
        FromDataCase{"nm", "NAME", {0x4E, 0x18, 0x17, 0x14, 0x00, 0x02}, 1, "AB.C "},
        FromDataCase{"nm", "name", {0x4F, 0x4D, 0x4A, 0x49}, 1, "-._/. ."},
        FromDataCase{"nm", "name", {0x4E, 0x18, 0x50, 0x14}, -1, "Недопустимый код символа в сетевом имени"},
        FromDataCase{"nm", "name", {0x9E, 0x18, 0x17, 0x14}, -1, "Недопустимый код символа в сетевом имени"},
        FromDataCase{"nm", "name", {0x4E, 0x18, 0x17}, -1, "Ошибка; (Непонятная длина ответа:3)"},
        // enumerations: the position in the list, "_" shown as a blank
        FromDataCase{"sw", "OFF:ON", {0x01}, 1, "ON"},
        FromDataCase{"sw", "OFF:ON", {0x00, 0x00, 0x04}, 1, "OFF"},
        FromDataCase{"sw", "OFF:ON", {0x02}, 0, ""},
        FromDataCase{"sw", "Off_state::On", {0x01}, 1, "On"},
        FromDataCase{"sw", "Off_state:On", {0x00}, 1, "Off state"},
        // strings and the identification answers: characters, last one first
        FromDataCase{"dev", "", {'r', 't', '-', 'v', 'k'}, 1, "kv-tr"},
        FromDataCase{"VER", "int", {'3', '.', '1'}, 1, "1.3"},
        FromDataCase{"txt", "ASCI", {0xE9, 0xF6, 'a'}, 1, "aцй"},
        FromDataCase{"txt", "string", {'c', 'b', 'a', 0x00}, 1, "abc"},
        FromDataCase{"txt", "string", {0x00, 'b', 'a'}, 1, "ab"},
        // "exit": the module's address or its self-check code
        FromDataCase{"exit", "", {0x18, 0x00, 0x10}, 1, "Адрес прибора: 16"},
        FromDataCase{"exit", "", {0x18, 0x01, 0x2C}, 1, "Адрес прибора: 300"},
        FromDataCase{"exit", "", {0x00, 0x00, 0x07}, 1, "сброс по питанию"},
        FromDataCase{"exit", "", {0x00, 0x00, 0x0E}, 1, "Нештатный вход в программу контроля"},
        FromDataCase{"exit", "", {0x00, 0x00, 0x0F}, 1, "Повторная проверка обнаружила неисправимый код (Check_Segment)"},
        FromDataCase{"exit", "", {0x00, 0x00, 0x5F}, 1, "Сбой регистра SREG"},
        FromDataCase{"exit", "", {0x00, 0x00, 0x00}, 1, "Не найдено значение ошибки "},
        FromDataCase{"exit", "", {0x00, 0x00, 0x60}, 1, "Не найдено значение ошибки "},
        FromDataCase{"exit", "", {0x00, 0x00, 0x10}, 1, "Не найдено значение ошибки "},
        FromDataCase{"exit", "", {0x18, 0x00}, 0, ""},
        // network settings by name, whatever the type says
        FromDataCase{"bPS", "int", {0x00}, 1, "2400"},
        FromDataCase{"bps", "", {0x08}, 1, "115200"},
        FromDataCase{"bPS", "", {0x09}, 0, ""},
        FromDataCase{"LEn", "", {0x01}, 1, "8"},
        FromDataCase{"LEn", "", {0x02}, 0, ""},
        FromDataCase{"PrtY", "", {0x02}, 1, "Нечетность"},
        FromDataCase{"Sbit", "", {0x00}, 1, "1"},
        FromDataCase{"A.Len", "", {0x01}, 1, "11"},
        FromDataCase{"Addr", "int", {0x05}, 1, "5"},
        FromDataCase{"Addr", "int", {0x01, 0x2C}, 1, "300"},
        FromDataCase{"Addr", "int", {0x01, 0x2C, 0x00}, 0, ""},
        // no data at all
        FromDataCase{"APLY", "int", {}, 1, ""},
        FromDataCase{"INIT", "VOID", {}, 1, ""},
        FromDataCase{"cnt", "int", {}, 0, ""},
        FromDataCase{"INIT", "void", {0x00, 0x03}, 1, ""}));

TEST(ConvertFromData, ExitRegisterCodesCarryTheNumber) {
  const MyConverter conv = converter("exit", "");
  for (unsigned code : {32u, 61u, 94u}) {
    std::string text;
    ASSERT_EQ(conv.ConvertFromData(Bytes{0x00, 0x00, static_cast<std::uint8_t>(code)}, text), 1);
    EXPECT_EQ(text, kRegisterText + std::to_string(code));
  }
}

struct ToDataCase {
  const char* name;
  const char* type;
  const char* text;
  int result;
  Bytes data;
  const char* textAfter;  // nullptr: the scratch text stays as it was given
};

void PrintTo(const ToDataCase& c, std::ostream* os) { *os << c.name << " [" << c.type << "] '" << c.text << "'"; }

class ConvertToDataTest : public ::testing::TestWithParam<ToDataCase> {};

TEST_P(ConvertToDataTest, Encodes) {
  const ToDataCase& c = GetParam();
  const MyConverter conv = converter(c.name, c.type);
  std::string text = c.text;
  DataField out;
  out.push(0xAA);  // a stale byte must not survive
  EXPECT_EQ(conv.ConvertToData(text, out), c.result) << c.name << " " << c.type << " '" << c.text << "'";
  EXPECT_EQ(hex(out.view()), hex(c.data)) << c.name << " '" << c.text << "'";
  EXPECT_EQ(text, c.textAfter ? std::string(c.textAfter) : std::string(c.text));
}

INSTANTIATE_TEST_SUITE_P(
    Table, ConvertToDataTest,
    ::testing::Values(
        ToDataCase{"Tmp", "float", "1.5", 1, {0x3F, 0xC0, 0x00, 0x00}, nullptr},
        ToDataCase{"r.oe", "float", "1.5", 1, {0x3F, 0xC0, 0x00}, nullptr},
        ToDataCase{"Tmp", "float:3", "  -2.5\r\n", 1, {0xC0, 0x20, 0x00, 0x00}, nullptr},
        ToDataCase{"Tmp", "float", "1.5 kg", 1, {0x3F, 0xC0, 0x00, 0x00}, nullptr},
        ToDataCase{"r.oe", "float", "0,75", 1, {0x3F, 0x40, 0x00}, nullptr},
        ToDataCase{"Tmp", "float", "15e-1", 1, {0x3F, 0xC0, 0x00, 0x00}, nullptr},
        ToDataCase{"Tmp", "float", "Нет данных", 1, {0x00, 0x00, 0x00, 0x00}, nullptr},
        ToDataCase{"Tmp", "float", "1e39", 0, {}, nullptr},
        ToDataCase{"Tmp", "float", "-1e400", 0, {}, nullptr},
        ToDataCase{"cnt", "int", "255", 1, {0xFF}, nullptr},
        ToDataCase{"cnt", "int", "256", 1, {0x01, 0x00}, nullptr},
        ToDataCase{"cnt", "int", "0", 1, {0x00}, nullptr},
        ToDataCase{"cnt", "int", " 12abc", 1, {0x0C}, nullptr},
        ToDataCase{"cnt", "int", "7.9", 1, {0x07}, nullptr},
        ToDataCase{"cnt", "int", "70000", 1, {0x11, 0x70}, nullptr},
        ToDataCase{"cnt", "int", "-1", 1, {0xFF, 0xFF}, nullptr},
        ToDataCase{"Addr", "int", "5", 1, {0x00, 0x05}, nullptr},
        ToDataCase{"clb.k", "int", "1", 1, {0x00, 0x01}, nullptr},
        ToDataCase{"tHP", "int", "3", 1, {0x00, 0x03}, nullptr},
        ToDataCase{"tm", "CLK_frm", "12:05", 1, {0x02, 0xD5}, nullptr},
        ToDataCase{"tm", "CLK_frm", "12:34", 1, {0x02, 0xF2}, nullptr},
        ToDataCase{"tm", "CLK_frm", "0:59", 1, {0x3B}, nullptr},
        ToDataCase{"Alr.t", "CLK_frm", "0:59", 1, {0x00, 0x3B}, nullptr},
        ToDataCase{"tm", "CLK_frm", "1:5", 1, {0x41}, nullptr},
        ToDataCase{"tm", "CLK_frm", "1:5x", -1, {}, nullptr},
        ToDataCase{"tm", "CLK_frm", "", 1, {0x00}, nullptr},
        ToDataCase{"nm", "name", "AB.C", 1, {0x4E, 0x18, 0x17, 0x14}, nullptr},
        ToDataCase{"nm", "name", "ab.c", 1, {0x4E, 0x18, 0x17, 0x14}, nullptr},
        ToDataCase{"nm", "name", "1 2", 1, {0x4E, 0x04, 0x4E, 0x02}, nullptr},
        ToDataCase{"nm", "name", "ABCDE", 1, {0x1A, 0x18, 0x16, 0x14}, nullptr},
        ToDataCase{"nm", "name", "ABCD.", 1, {0x1B, 0x18, 0x16, 0x14}, nullptr},
        ToDataCase{"nm", "name", "-_ 9.", 1, {0x13, 0x4E, 0x4A, 0x48}, nullptr},
        ToDataCase{"nm", "name", "", -1, {}, "Сетевое имя пусто"},
        ToDataCase{"nm", "name", "ABCDEFGHI", -1, {}, "Сетевое имя слишком длинное"},
        ToDataCase{"nm", "name", ".AB", -1, {}, "Недопустимый символ в сетевом имени"},
        ToDataCase{"nm", "name", "A/B", -1, {}, "Недопустимый символ в сетевом имени"},
        ToDataCase{"nm", "name", "A..B", -1, {}, "Недопустимый символ в сетевом имени"},
        ToDataCase{"nm", "name", "ABCDЖ", -1, {}, "Недопустимый символ в сетевом имени"},
        ToDataCase{"nm", "name", "ЖЖЖЖЖЖЖЖ", -1, {}, "Недопустимый символ в сетевом имени"},
        ToDataCase{"sw", "OFF:ON", "OFF", 1, {0x00}, nullptr},
        ToDataCase{"sw", "OFF:ON", "on", 1, {0x01}, nullptr},
        ToDataCase{"sw", "OFF:ON", "maybe", 0, {}, nullptr},
        ToDataCase{"sw", "Off_state:On", "off STATE", 1, {0x00}, nullptr},
        ToDataCase{"PrtY", "Отсутствует:Четность:Нечетность", "Четность", 1, {0x01}, nullptr},
        ToDataCase{"PrtY", "Отсутствует:Четность:Нечетность", "четность", 0, {}, nullptr},
        ToDataCase{"txt", "string", "abc", 0, {}, nullptr},
        ToDataCase{"INIT", "void", "anything", 1, {}, nullptr},
        ToDataCase{"APLY", "int", "", 1, {}, nullptr},
        ToDataCase{"dev", "string", "kvtr", -1, {}, nullptr},
        ToDataCase{"VER", "string", "1", -1, {}, nullptr},
        ToDataCase{"exit", "int", "1", -1, {}, nullptr}));

// The value rules of typed text (and of a file's values before a write): what is taken, what
// is kept, and what a refusal says the value must be.
struct CheckCase {
  const char* name;
  const char* type;
  double minimum;
  double maximum;
  const char* text;
  bool accepted;
  const char* storedOrExpected;  // accepted: the text kept; refused: what the value must be
};

void PrintTo(const CheckCase& c, std::ostream* os) { *os << c.name << " [" << c.type << "] '" << c.text << "'"; }

class CheckTextTest : public ::testing::TestWithParam<CheckCase> {};

TEST_P(CheckTextTest, AppliesTheValueRules) {
  const CheckCase& c = GetParam();
  MyConverter conv = converter(c.name, c.type);
  conv.minimum = c.minimum;
  conv.maximum = c.maximum;
  const ValueCheck check = conv.CheckText(c.text);
  ASSERT_EQ(check.accepted, c.accepted);
  EXPECT_TRUE(check.writable);
  EXPECT_EQ(c.accepted ? check.stored : check.expected, c.storedOrExpected);
  if (!c.accepted) return;
  // What the rules take, the encoder can send.
  std::string scratch = check.stored;
  DataField out;
  EXPECT_EQ(conv.ConvertToData(scratch, out), 1);
}

INSTANTIATE_TEST_SUITE_P(
    Table, CheckTextTest,
    ::testing::Values(
        // a comma is the decimal point; nothing may follow the number
        CheckCase{"r.oe", "float", 0, 1, "0,7", true, "0.700"},
        CheckCase{"P.Hi", "float", 0, 100, "99.5", true, "99.500"},
        CheckCase{"P.Hi", "float", 0, 100, "99.5xyz", false, "числом от 0 до 100"},
        CheckCase{"P.Hi", "float", 0, 100, "99,5,1", false, "числом от 0 до 100"},
        CheckCase{"Tmp", "float", 0, 0, "1,5e3", true, "1500.000"},
        CheckCase{"Tmp", "float", 0, 0, "", false, "числом"},
        // integers and times fit the two bytes they travel in
        CheckCase{"r.Cou", "int", 0, 0, "65535", true, "65535"},
        CheckCase{"r.Cou", "int", 0, 0, "99999", false, "целым числом от 0 до 65535"},
        CheckCase{"r.Cou", "int", 0, 0, "ZZ", false, "целым числом от 0 до 65535"},
        CheckCase{"r.Cou", "int", 0, 0, "-1", false, "целым числом от 0 до 65535"},
        CheckCase{"I.Flt", "int", 0, 250, "20,0", true, "20,0"},
        CheckCase{"I.Flt", "int", 0, 250, "20,5", false, "целым числом от 0 до 250"},
        CheckCase{"t.Lnk", "CLK_frm", 0, 3600, "60:00", true, "60:00"},
        CheckCase{"t.Lnk", "CLK_frm", 0, 3600, "60:01", false, "временем ММ:СС от 00:00 до 60:00"},
        CheckCase{"tm", "CLK_frm", 0, 0, "1100:00", false, "временем ММ:СС"},
        // a choice of the list, letter case, "_" and blank alike, kept as the list writes it
        CheckCase{"C.Mod", "Выключен:Суммирование:Суммирование_с_автосбросом:<hide>Служебный", 0, 0,
                  "суммирование С_автосбросом", true, "Суммирование с автосбросом"},
        CheckCase{"C.Mod", "Выключен:Суммирование:Суммирование_с_автосбросом:<hide>Служебный", 0, 0,
                  "<hide>Служебный", true, "<hide>Служебный"},
        CheckCase{"C.Mod", "Выключен:Суммирование:Суммирование_с_автосбросом:<hide>Служебный", 0, 0, "Foo", false,
                  "одним из: Выключен, Суммирование, Суммирование с автосбросом"},
        CheckCase{"I.inv", "Нет:Да", 0, 0, "ДА", true, "Да"},
        // a network name: what the encoder can send
        CheckCase{"CHAr*", "name", 0, 0, "ab.c", true, "ab.c"},
        CheckCase{"CHAr*", "name", 0, 0, "A/B", false,
                  "сетевым именем: не более 4 знаков из букв A-Z, цифр, пробела, '-' и '_', после каждого может "
                  "стоять точка"},
        // a command without a value
        CheckCase{"INIT", "void", 0, 0, "x", false, "пустым"},
        CheckCase{"APLY", "неизвестен", 0, 0, "", true, ""}));

TEST(CheckText, TheModulesOwnTextsAreNeverWritten) {
  for (const auto& [name, type] : {std::pair{"dev", "string"}, std::pair{"vEr", "string"}, std::pair{"exit", "int"},
                                   std::pair{"txt", "ASCI"}}) {
    const ValueCheck check = converter(name, type).CheckText("1");
    EXPECT_FALSE(check.accepted) << name;
    EXPECT_FALSE(check.writable) << name;
    EXPECT_EQ(check.reason(), "параметр только читается из прибора");
  }
}

TEST(ConvertToData, EnumerationHoldsAtMost127Entries) {
  std::string type;
  for (int i = 0; i < 130; ++i) type += (i ? ":e" : "e") + std::to_string(i);
  const MyConverter conv = converter("sel", type);
  DataField out;
  std::string text = "e126";
  ASSERT_EQ(conv.ConvertToData(text, out), 1);
  EXPECT_EQ(hex(out.view()), "7E");
  text = "e127";
  EXPECT_EQ(conv.ConvertToData(text, out), 0);
  std::string shown;
  EXPECT_EQ(conv.ConvertFromData(Bytes{127}, shown), 0);
  EXPECT_EQ(conv.ConvertFromData(Bytes{126}, shown), 1);
  EXPECT_EQ(shown, "e126");
}

TEST(ConvertToData, RoundTripsThroughTheAnswer) {
  // What a write sends is what the module echoes back; decoding it gives the text again.
  const struct {
    const char* name;
    const char* type;
    const char* text;
    const char* shown;
  } rows[] = {
      {"Tmp", "float", "-12.25", "-12.250"}, {"r.oe", "float", "1.5", "1.500"},
      {"cnt", "int", "65535", "65535"},       {"tm", "CLK_frm", "59:59", "59:59"},
      {"tm", "CLK_frm", "1:5", "01:05"},
      {"nm", "name", "Z9.-", "Z9.- "},        {"sw", "a:b_c:d", "b c", "b c"},
  };
  for (const auto& row : rows) {
    const MyConverter conv = converter(row.name, row.type);
    std::string text = row.text;
    DataField out;
    ASSERT_EQ(conv.ConvertToData(text, out), 1) << row.text;
    std::string shown;
    ASSERT_EQ(conv.ConvertFromData(out.view(), shown), 1) << row.text;
    EXPECT_EQ(shown, row.shown);
  }
}

TEST(Converter, ClassifiesTypes) {
  EXPECT_EQ(ClassifyType("float"), ValueKind::Float);
  EXPECT_EQ(ClassifyType("Float:2"), ValueKind::Float);
  EXPECT_EQ(ClassifyType("int"), ValueKind::Integer);
  EXPECT_EQ(ClassifyType("INT:1"), ValueKind::Integer);
  EXPECT_EQ(ClassifyType("clk_FRM"), ValueKind::Time);
  EXPECT_EQ(ClassifyType("string"), ValueKind::String);
  EXPECT_EQ(ClassifyType("asci"), ValueKind::String);
  EXPECT_EQ(ClassifyType("Name"), ValueKind::NetworkName);
  EXPECT_EQ(ClassifyType("void"), ValueKind::Void);
  // Only the whole type text selects strings, names and void.
  EXPECT_EQ(ClassifyType("string:x"), ValueKind::Enumeration);
  EXPECT_EQ(ClassifyType("name:x"), ValueKind::Enumeration);
  EXPECT_EQ(ClassifyType("integer"), ValueKind::Enumeration);
  EXPECT_EQ(ClassifyType("STORED_DOT"), ValueKind::Enumeration);
  EXPECT_EQ(ClassifyType(""), ValueKind::Enumeration);
}

TEST(Converter, NewConverterHasNoValue) {
  const MyConverter named("bPS");
  EXPECT_EQ(named.value, "Нет данных");
  EXPECT_EQ(named.type, "неизвестен");
  EXPECT_FALSE(named.hasLimits());
  EXPECT_STREQ(named.GetRuntimeClassName(), "MyConverter");
}

TEST(Converter, ScratchLimitCountsCharactersAndKeepsUtf8Whole) {
  const std::string latin(600, 'x');
  EXPECT_EQ(LimitScratchText(latin).size(), 511u);
  std::string cyrillic;
  for (int i = 0; i < 600; ++i) cyrillic += "Ж";
  const std::string cut = LimitScratchText(cyrillic);
  EXPECT_EQ(cut.size(), 511u * 2);
  EXPECT_TRUE(isValidUtf8(cut));
  EXPECT_EQ(utf8ToCp1251(cut).size(), 511u);
  EXPECT_EQ(LimitScratchText("short"), "short");
}

TEST(Converter, LongValueIsCutBeforeEncoding) {
  const MyConverter conv = converter("sel", "a:b");
  std::string text(700, 'a');
  DataField out;
  EXPECT_EQ(conv.ConvertToData(text, out), 0);
  EXPECT_EQ(text.size(), 511u);
}

TEST(Converter, DecimalReadingIsLenientAndLocaleFree) {
  const struct {
    const char* text;
    bool ok;
    double value;
    std::size_t consumed;
  } rows[] = {
      {"1.5", true, 1.5, 3},   {"  -2.25xyz", true, -2.25, 7}, {"+7", true, 7.0, 2}, {".5", true, 0.5, 2},
      {"5.", true, 5.0, 2},    {"1e3", true, 1000.0, 3},       {"1e", true, 1.0, 1}, {"1,5", true, 1.0, 1},
      {"", false, 0.0, 0},     {"-", false, 0.0, 0},           {".", false, 0.0, 0}, {"abc", false, 0.0, 0},
  };
  for (const auto& row : rows) {
    const DecimalReading r = ReadDecimal(row.text);
    EXPECT_EQ(r.ok, row.ok) << row.text;
    EXPECT_DOUBLE_EQ(r.value, row.value) << row.text;
    EXPECT_EQ(r.consumed, row.consumed) << row.text;
  }
  EXPECT_EQ(ReadDecimal("1e3", false).consumed, 1u);
  EXPECT_TRUE(std::isinf(ReadDecimal("1e999999").value));
  EXPECT_EQ(ReadDecimal("1e-999999").value, 0.0);
  EXPECT_EQ(FormatFixed3(10.0005f), "10.000");
  EXPECT_EQ(FormatFixed3(-0.0625), "-0.062");
}

TEST(Converter, NetworkNameAlphabet) {
  EXPECT_EQ(NetworkNameIndex('0'), 0);
  EXPECT_EQ(NetworkNameIndex('z'), 35);
  EXPECT_EQ(NetworkNameIndex('/'), 38);
  EXPECT_EQ(NetworkNameIndex(' '), 39);
  EXPECT_EQ(NetworkNameIndex('.'), -1);
  EXPECT_EQ(NetworkNameIndex('*'), -1);
  for (int i = 0; i < 40; ++i) EXPECT_EQ(NetworkNameIndex(NetworkNameChar(static_cast<unsigned>(i))), i);
  EXPECT_EQ(NetworkNameChar(45), ' ');
}

}  // namespace
}  // namespace kvtr
