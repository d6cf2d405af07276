#include "common/format.h"
#include "common/strings.h"

#include <gtest/gtest.h>

namespace kvtr {
namespace {

TEST(Strings, CaseInsensitiveOnlyForLatinLetters) {
  EXPECT_TRUE(equalsNoCase("A.Len", "a.lEN"));
  EXPECT_FALSE(equalsNoCase("A.Len", "A.Le"));
  EXPECT_FALSE(equalsNoCase("Вход", "ВХОД"));
  EXPECT_TRUE(startsWithNoCase("float:2", "FLOAT"));
}

TEST(Strings, TrimAndSplit) {
  EXPECT_EQ(trimRight("12\t \r\n"), "12");
  EXPECT_EQ(trim("  x "), "x");
  const auto tokens = splitTokens(" parameter\tbPS  int ", " \t");
  ASSERT_EQ(tokens.size(), 3u);
  EXPECT_EQ(tokens[0], "parameter");
  EXPECT_EQ(tokens[2], "int");
  EXPECT_EQ(replaceAll("Вход_№1_a", '_', ' '), "Вход №1 a");
  EXPECT_EQ(replaceAll("1, 0, 2", ", ", "."), "1.0.2");
}

TEST(Format, GrowsPastTheSmallBuffer) {
  EXPECT_EQ(strprintf("%.3f", 1.5), "1.500");
  EXPECT_EQ(strprintf("%i из %i", 3, 12), "3 из 12");
  const std::string longText(1000, 'x');
  EXPECT_EQ(strprintf("<%s>", longText.c_str()).size(), 1002u);
}

}  // namespace
}  // namespace kvtr
