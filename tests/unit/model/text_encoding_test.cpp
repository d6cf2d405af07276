#include "model/text_encoding.h"

#include <gtest/gtest.h>

namespace kvtr {
namespace {

TEST(TextEncoding, RoundTripsEveryAssignedByte) {
  std::string all;
  for (int b = 1; b < 256; ++b) {
    if (b != 0x98) all.push_back(static_cast<char>(b));
  }
  bool lossless = false;
  EXPECT_EQ(utf8ToCp1251(cp1251ToUtf8(all), &lossless), all);
  EXPECT_TRUE(lossless);
}

TEST(TextEncoding, KnownCharacters) {
  // "Нет данных" as the module sends it, and a few punctuation marks from the upper half.
  const std::string cp = "\xCD\xE5\xF2 \xE4\xE0\xED\xED\xFB\xF5";
  EXPECT_EQ(cp1251ToUtf8(cp), "Нет данных");
  EXPECT_EQ(utf8ToCp1251("Нет данных"), cp);
  EXPECT_EQ(utf8ToCp1251("№"), "\xB9");
  EXPECT_EQ(utf8ToCp1251("Ёё"), "\xA8\xB8");
  EXPECT_EQ(cp1251ToUtf8("\x98"), "\xEF\xBF\xBD");
}

TEST(TextEncoding, UnmappableAndMalformedBecomeQuestionMarks) {
  bool lossless = true;
  EXPECT_EQ(utf8ToCp1251("a\xE2\x82\xACz", &lossless), "a\x88z");  // the euro sign exists
  EXPECT_TRUE(lossless);
  EXPECT_EQ(utf8ToCp1251("日本", &lossless), "??");
  EXPECT_FALSE(lossless);
  EXPECT_EQ(utf8ToCp1251("\xC3", &lossless), "?");            // cut sequence
  EXPECT_EQ(utf8ToCp1251("\xC0\x80", &lossless), "??");       // overlong NUL
  EXPECT_EQ(utf8ToCp1251("\xED\xA0\x80x", &lossless), "???x");  // surrogate
  EXPECT_FALSE(isValidUtf8("\xE0\x80"));
  EXPECT_TRUE(isValidUtf8("Вход №1"));
}

}  // namespace
}  // namespace kvtr
