#include "app/option_parser.h"

#include <gtest/gtest.h>

namespace kvtr {
namespace {

constexpr OptionSpec kSpecs[] = {
    {"write", 'w', OptionArgument::None},
    {"address", 'a', OptionArgument::Required},
    {"address-offset", 0, OptionArgument::Required},
    {"data", 0, OptionArgument::List},
};

ParsedOptions parse(std::vector<std::string> args, bool stop = false, OptionParseResult* result = nullptr) {
  ParsedOptions out;
  const OptionParseResult r = parseOptions(args, kSpecs, out, stop);
  if (result) *result = r;
  return out;
}

TEST(OptionParser, FormsOfOptions) {
  OptionParseResult r;
  const ParsedOptions o = parse({"r.oe", "--address=17", "-w", "--address-offset", "-1", "x"}, false, &r);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(o.operands, (std::vector<std::string>{"r.oe", "x"}));
  EXPECT_TRUE(o.has("write"));
  EXPECT_EQ(o.value("address"), "17");
  // A value that starts with '-' still belongs to its option.
  EXPECT_EQ(o.value("address-offset"), "-1");
  EXPECT_FALSE(o.has("data"));
  EXPECT_EQ(o.value("data"), std::nullopt);

  EXPECT_EQ(parse({"-a", "5"}).value("address"), "5");
  EXPECT_EQ(parse({"-a5"}).value("address"), "5");
  // The last of a repeated option counts; an empty value is a value.
  EXPECT_EQ(parse({"--address", "1", "--address=2"}).value("address"), "2");
  EXPECT_EQ(parse({"--address="}).value("address"), "");
}

TEST(OptionParser, ListsRunToTheNextOption) {
  const ParsedOptions o = parse({"--data", "00", "01 02", "--write", "name", "--data", "03"});
  EXPECT_EQ(o.values("data"), (std::vector<std::string>{"00", "01 02", "03"}));
  EXPECT_EQ(o.operands, (std::vector<std::string>{"name"}));
  EXPECT_TRUE(parse({"--data"}).has("data"));
  EXPECT_TRUE(parse({"--data"}).values("data").empty());
  // "-" alone is an operand, so it stays in the list.
  EXPECT_EQ(parse({"--data", "-", "00"}).values("data"), (std::vector<std::string>{"-", "00"}));
}

TEST(OptionParser, DoubleDashEndsTheOptions) {
  const ParsedOptions o = parse({"--write", "--", "--address", "-w", "--"});
  EXPECT_EQ(o.operands, (std::vector<std::string>{"--address", "-w", "--"}));
  EXPECT_FALSE(o.has("address"));
  const ParsedOptions list = parse({"--data", "00", "--", "-x"});
  EXPECT_EQ(list.values("data"), (std::vector<std::string>{"00"}));
  EXPECT_EQ(list.operands, (std::vector<std::string>{"-x"}));
}

TEST(OptionParser, StopsAtTheFirstOperand) {
  OptionParseResult r;
  parse({"-w", "frame", "--frob"}, true, &r);
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.next, 1u);
  parse({"--", "-w"}, true, &r);
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.next, 1u);
}

TEST(OptionParser, Errors) {
  struct Case {
    std::vector<std::string> args;
    const char* error;
  };
  const Case cases[] = {
      {{"--frob"}, "неизвестный параметр «--frob»"},
      {{"--frob=1"}, "неизвестный параметр «--frob»"},
      {{"-x"}, "неизвестный параметр «-x»"},
      {{"--addr", "1"}, "неизвестный параметр «--addr»"},
      {{"--address"}, "параметру «--address» нужно значение"},
      {{"-a"}, "параметру «-a» нужно значение"},
      {{"--write=yes"}, "параметр «--write» не принимает значения"},
      {{"-wq"}, "параметр «-w» не принимает значения"},
  };
  for (const auto& c : cases) {
    OptionParseResult r;
    parse(c.args, false, &r);
    EXPECT_FALSE(r.ok) << c.args[0];
    EXPECT_EQ(r.error, c.error);
  }
}

TEST(OptionParser, Numbers) {
  EXPECT_EQ(parseNumber("16", 0, 255), 16);
  EXPECT_EQ(parseNumber("0x7FF", 0, 2047), 2047);
  EXPECT_EQ(parseNumber("-1", -1, 10), -1);
  EXPECT_EQ(parseNumber("0", 0, 0), 0);
  for (const char* bad : {"", "-", "0x", "256", "-2", "1x", " 1", "1 ", "+1", "99999999999999999999", "1.0", "0xG"}) {
    EXPECT_EQ(parseNumber(bad, -1, 255), std::nullopt) << bad;
  }
  EXPECT_EQ(parseHashText("0x3628"), 0x3628);
  EXPECT_EQ(parseHashText("e894"), 0xE894);
  EXPECT_EQ(parseHashText("0X0"), 0);
  for (const char* bad : {"", "0x", "0x12345", "3628h", "-1", "0xZZ"}) {
    EXPECT_EQ(parseHashText(bad), std::nullopt) << bad;
  }
}

TEST(OptionParser, HexBytes) {
  struct Case {
    const char* text;
    std::vector<std::uint8_t> bytes;
  };
  const Case good[] = {
      {"00 02 1f", {0x00, 0x02, 0x1F}},
      {"00021F", {0x00, 0x02, 0x1F}},
      {"0x00 0XfF", {0x00, 0xFF}},
      {"\tAB  cd\t", {0xAB, 0xCD}},
      {"", {}},
  };
  for (const auto& c : good) {
    std::vector<std::uint8_t> out{0x99};
    EXPECT_TRUE(parseHexBytes(c.text, out)) << c.text;
    std::vector<std::uint8_t> expected{0x99};
    expected.insert(expected.end(), c.bytes.begin(), c.bytes.end());
    EXPECT_EQ(out, expected) << c.text;
  }
  for (const char* bad : {"0", "000", "0G", "00 1", "0x", "00,01", "x00", "00\n01"}) {
    std::vector<std::uint8_t> out{0x99};
    EXPECT_FALSE(parseHexBytes(bad, out)) << bad;
    EXPECT_EQ(out, std::vector<std::uint8_t>{0x99}) << bad;
  }
  EXPECT_EQ(formatHexBytes(std::vector<std::uint8_t>{0x00, 0x0A, 0xFF}), "00 0A FF");
  EXPECT_EQ(formatHexBytes({}), "");
}

}  // namespace
}  // namespace kvtr
