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

// Each row sits on a boundary where the UTF-8 form grows by a byte.
TEST(TextEncoding, CodePointsEncodeAndDecodeAtEveryLength) {
  const struct {
    std::uint32_t cp;
    std::string utf8;
  } rows[] = {
      {0x7F, "\x7F"},
      {0x80, "\xC2\x80"},
      {0x7FF, "\xDF\xBF"},
      {0x800, "\xE0\xA0\x80"},
      {0xFFFF, "\xEF\xBF\xBF"},
      {0x10000, "\xF0\x90\x80\x80"},
      {0x10FFFF, "\xF4\x8F\xBF\xBF"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.cp);
    std::string out = "x";
    appendUtf8(out, row.cp);
    EXPECT_EQ(out, "x" + row.utf8);
    std::size_t pos = 1;
    EXPECT_EQ(decodeUtf8(out, pos), static_cast<long>(row.cp));
    EXPECT_EQ(pos, out.size());
  }
  std::size_t pos = 0;
  EXPECT_EQ(decodeUtf8("\xF4\x90\x80\x80", pos), -1);  // past U+10FFFF
  EXPECT_EQ(pos, 1u);
}

TEST(TextEncoding, Utf16PairsJoinAndLoneSurrogatesAreReplaced) {
  const std::string replacement = "\xEF\xBF\xBD";
  EXPECT_EQ(utf16ToUtf8(u"Вход 1"), "Вход 1");
  EXPECT_EQ(utf16ToUtf8(std::u16string{0xD83D, 0xDE00}), "\xF0\x9F\x98\x80");
  EXPECT_EQ(utf16ToUtf8(std::u16string{0xD83D, u'a'}), replacement + "a");
  EXPECT_EQ(utf16ToUtf8(std::u16string{u'a', 0xDE00}), "a" + replacement);
  EXPECT_EQ(utf16ToUtf8(std::u16string{0xDE00, 0xD83D}), replacement + replacement);
}

}  // namespace
}  // namespace kvtr
