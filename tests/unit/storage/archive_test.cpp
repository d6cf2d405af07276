#include "storage/archive.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace kvtr {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::array<ArchiveClass, 5> kCatalog = {{
    {"CZRP8Doc", ""},
    {"ObjectWithParameters", ""},
    {"InvisibleElement", "ObjectWithParameters"},
    {"DescBranch", "InvisibleElement"},
    {"MyConverter", ""},
}};

Bytes concat(const Bytes& head, const std::string& tail) {
  Bytes out = head;
  out.insert(out.end(), tail.begin(), tail.end());
  return out;
}

TEST(Archive, FieldsAreLittleEndian) {
  ArchiveWriter w;
  w.writeByte(0xA5);
  w.writeWord(0x1234);
  w.writeDword(0xDEADBEEF);
  EXPECT_EQ(w.bytes(), (Bytes{0xA5, 0x34, 0x12, 0xEF, 0xBE, 0xAD, 0xDE}));
  ArchiveReader r(w.bytes(), kCatalog);
  EXPECT_EQ(r.readByte(), 0xA5);
  EXPECT_EQ(r.readWord(), 0x1234);
  EXPECT_EQ(r.readDword(), 0xDEADBEEFu);
  EXPECT_TRUE(r.atEnd());
}

// The escape changes exactly where a shorter length field would collide with a marker:
// 255 is the byte escape, 65534 the wide-text marker, 65535 the dword escape.
TEST(Archive, TextLengthEscapesAtTheirBoundaries) {
  struct Row {
    std::size_t length;
    Bytes header;
  };
  const Row rows[] = {
      {0, {0x00}},
      {1, {0x01}},
      {254, {0xFE}},
      {255, {0xFF, 0xFF, 0x00}},
      {256, {0xFF, 0x00, 0x01}},
      {65533, {0xFF, 0xFD, 0xFF}},
      {65534, {0xFF, 0xFF, 0xFF, 0xFE, 0xFF, 0x00, 0x00}},
      {65535, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00}},
      {70000, {0xFF, 0xFF, 0xFF, 0x70, 0x11, 0x01, 0x00}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.length);
    const std::string text(row.length, 'x');
    ArchiveWriter w;
    w.writeText(text);
    ASSERT_EQ(w.bytes().size(), row.header.size() + row.length);
    EXPECT_EQ(Bytes(w.bytes().begin(), w.bytes().begin() + static_cast<long>(row.header.size())), row.header);
    ArchiveReader r(w.bytes(), kCatalog);
    EXPECT_EQ(r.readText(), text);
    EXPECT_TRUE(r.atEnd());
  }
}

TEST(Archive, TextsAreWindows1251InTheFile) {
  ArchiveWriter w;
  w.writeText("Нет данных");
  EXPECT_EQ(w.bytes(), concat({10}, "\xCD\xE5\xF2 \xE4\xE0\xED\xED\xFB\xF5"));
  ArchiveReader r(w.bytes(), kCatalog);
  EXPECT_EQ(r.readText(), "Нет данных");
}

TEST(Archive, WideTextsAreConverted) {
  struct Row {
    const char* what;
    Bytes bytes;
    std::string text;
  };
  const Row rows[] = {
      {"byte length", {0xFF, 0xFE, 0xFF, 0x02, 'A', 0x00, 0x16, 0x04}, "AЖ"},
      {"word length after the marker", {0xFF, 0xFE, 0xFF, 0xFF, 0x01, 0x00, 0x16, 0x21}, "№"},
      {"surrogate pair", {0xFF, 0xFE, 0xFF, 0x02, 0x3D, 0xD8, 0x00, 0xDE}, "\xF0\x9F\x98\x80"},
      {"lone surrogate", {0xFF, 0xFE, 0xFF, 0x01, 0x00, 0xDC}, "\xEF\xBF\xBD"},
      {"empty", {0xFF, 0xFE, 0xFF, 0x00}, ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    ArchiveReader r(row.bytes, kCatalog);
    EXPECT_EQ(r.readText(), row.text);
    EXPECT_TRUE(r.atEnd());
  }
}

TEST(Archive, ClassesAreNumberedInOrderOfFirstOccurrence) {
  ArchiveWriter w;
  w.writeClass("CZRP8Doc", 4);
  w.writeClass("DescBranch", 3);
  w.writeClass("MyConverter", 3);
  w.writeClass("DescBranch", 3);
  w.writeClass("CZRP8Doc", 4);
  w.writeClass("MyConverter", 3);
  Bytes want = concat({0xFF, 0xFF, 0x04, 0x00, 0x08, 0x00}, "CZRP8Doc");
  want = concat(concat(want, std::string("\xFF\xFF\x03\x00\x0A\x00", 6)), "DescBranch");
  want = concat(concat(want, std::string("\xFF\xFF\x03\x00\x0B\x00", 6)), "MyConverter");
  want.insert(want.end(), {0x02, 0x80, 0x01, 0x80, 0x03, 0x80});
  EXPECT_EQ(w.bytes(), want);

  ArchiveReader r(w.bytes(), kCatalog);
  const std::string_view names[] = {"CZRP8Doc", "DescBranch", "MyConverter", "DescBranch", "CZRP8Doc", "MyConverter"};
  const std::uint16_t schemas[] = {4, 3, 3, 3, 4, 3};
  for (int i = 0; i < 6; ++i) {
    const StoredClass stored = r.readClass();
    EXPECT_EQ(stored.name, names[i]) << i;
    EXPECT_EQ(stored.schema, schemas[i]) << i;
  }
  EXPECT_TRUE(r.atEnd());
}

// A later occurrence reports the schema stored with the first one, whatever was asked.
TEST(Archive, LaterOccurrenceCarriesTheFirstSchema) {
  const Bytes bytes = concat({0xFF, 0xFF, 0x07, 0x00, 0x0A, 0x00}, std::string("DescBranch\x01\x80", 12));
  ArchiveReader r(bytes, kCatalog);
  EXPECT_EQ(r.readClass("DescBranch"), 7);
  EXPECT_EQ(r.readClass("InvisibleElement"), 7);  // a descendant stands where its base is asked
}

TEST(Archive, MalformedClassTagsAreRejected) {
  struct Row {
    const char* what;
    Bytes bytes;
    ArchiveErrorKind kind;
    int classesBefore = 0;
  };
  const Bytes desc = concat({0xFF, 0xFF, 0x03, 0x00, 0x0A, 0x00}, "DescBranch");
  const Row rows[] = {
      {"object tag instead of a class tag", {0x34, 0x12}, ArchiveErrorKind::BadTag},
      {"class number 0", {0x00, 0x80}, ArchiveErrorKind::BadTag},
      {"class not read yet", {0x01, 0x80}, ArchiveErrorKind::BadTag},
      {"class number beyond those read", concat(desc, std::string("\x02\x80", 2)), ArchiveErrorKind::BadTag, 1},
      {"unknown name", concat({0xFF, 0xFF, 0x03, 0x00, 0x05, 0x00}, "CFoo1"), ArchiveErrorKind::UnknownClass},
      {"name cut short", concat({0xFF, 0xFF, 0x03, 0x00, 0x0A, 0x00}, "DescBr"), ArchiveErrorKind::PastTheEnd},
      {"name length past the end", {0xFF, 0xFF, 0x03, 0x00, 0xFF, 0xFF, 'D'}, ArchiveErrorKind::PastTheEnd},
      {"schema cut short", {0xFF, 0xFF, 0x03}, ArchiveErrorKind::PastTheEnd},
      {"tag cut short", {0xFF}, ArchiveErrorKind::PastTheEnd},
      {"base class where a descendant belongs", concat({0xFF, 0xFF, 0x03, 0x00, 0x10, 0x00}, "InvisibleElement"),
       ArchiveErrorKind::UnexpectedClass},
      {"unrelated class", concat({0xFF, 0xFF, 0x03, 0x00, 0x0B, 0x00}, "MyConverter"),
       ArchiveErrorKind::UnexpectedClass},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    ArchiveReader r(row.bytes, kCatalog);
    try {
      for (int i = 0; i < row.classesBefore; ++i) (void)r.readClass();
      (void)r.readClass("DescBranch");
      ADD_FAILURE() << "accepted";
    } catch (const ArchiveError& e) {
      EXPECT_EQ(e.kind(), row.kind) << e.what();
    }
  }
}

// Lengths are believed only when the bytes are there: a length of four gigabytes in a file of
// a dozen bytes is an error before any memory is taken for it.
TEST(Archive, TextLengthsPastTheEndAreErrors) {
  struct Row {
    const char* what;
    Bytes bytes;
  };
  const Row rows[] = {
      {"byte length", {0x05, 'a', 'b'}},
      {"word length", {0xFF, 0x00, 0x01, 'a'}},
      {"dword length", {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 'a', 'b'}},
      {"dword length just past", {0xFF, 0xFF, 0xFF, 0x03, 0x00, 0x00, 0x00, 'a', 'b'}},
      {"wide length counts characters", {0xFF, 0xFE, 0xFF, 0x02, 'a', 0x00, 'b'}},
      {"wide dword length", {0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F}},
      {"escape cut short", {0xFF, 0x00}},
      {"empty", {}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    ArchiveReader r(row.bytes, kCatalog);
    try {
      (void)r.readText();
      ADD_FAILURE() << "accepted";
    } catch (const ArchiveError& e) {
      EXPECT_EQ(e.kind(), ArchiveErrorKind::PastTheEnd);
      EXPECT_EQ(e.offset(), 0u) << "the error points at the start of the text";
    }
  }
}

TEST(Archive, FieldsPastTheEndAreErrors) {
  const Bytes three = {1, 2, 3};
  ArchiveReader r(three, kCatalog);
  std::uint32_t value = 0;
  EXPECT_FALSE(r.tryReadDword(value));
  EXPECT_EQ(r.offset(), 0u);
  EXPECT_THROW((void)r.readDword(), ArchiveError);
  EXPECT_EQ(r.readWord(), 0x0201);
  EXPECT_THROW((void)r.readWord(), ArchiveError);
  EXPECT_EQ(r.readByte(), 3);
  try {
    (void)r.readByte();
    ADD_FAILURE() << "read past the end";
  } catch (const ArchiveError& e) {
    EXPECT_EQ(e.kind(), ArchiveErrorKind::PastTheEnd);
    EXPECT_EQ(e.offset(), 3u);
  }
}

}  // namespace
}  // namespace kvtr
