#include "model/zlib_codec.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <random>

namespace kvtr {
namespace {

std::vector<std::uint8_t> bytesOf(std::string_view text) { return {text.begin(), text.end()}; }

std::vector<std::uint8_t> compressible(std::size_t size) {
  std::mt19937 generator(11);
  std::vector<std::uint8_t> data(size);
  // Letters from a small alphabet: compressible, but not trivially so.
  for (auto& b : data) b = static_cast<std::uint8_t>('a' + generator() % 12);
  return data;
}

std::vector<std::uint8_t> deflated(const std::vector<std::uint8_t>& data) {
  auto out = deflateZlib(data);
  EXPECT_TRUE(out.has_value());
  return out.value_or(std::vector<std::uint8_t>{});
}

TEST(ZlibCodec, RoundTrips) {
  for (const std::size_t size : {std::size_t{0}, std::size_t{1}, std::size_t{16384}, std::size_t{200000}}) {
    const auto data = compressible(size);
    const auto packed = deflated(data);
    // The zlib header: deflate with a 32 KiB window (0x78) and a check value that makes it a multiple of 31.
    ASSERT_GE(packed.size(), 2u);
    EXPECT_EQ(packed[0], 0x78);
    EXPECT_EQ(((packed[0] << 8) | packed[1]) % 31, 0);
    const auto result = inflateZlib(packed);
    ASSERT_TRUE(result.ok) << result.error;
    EXPECT_EQ(result.data, std::string(data.begin(), data.end())) << size;
  }
}

TEST(ZlibCodec, ByteByByteFeedingGivesTheSameText) {
  const auto data = compressible(50000);
  const auto packed = deflated(data);
  ZlibInflater inflater;
  for (const std::uint8_t b : packed) ASSERT_TRUE(inflater.feed(std::span(&b, 1))) << inflater.error();
  ASSERT_TRUE(inflater.finish());
  EXPECT_EQ(inflater.output(), std::string(data.begin(), data.end()));
}

TEST(ZlibCodec, DataAfterTheEndIsIgnored) {
  auto packed = deflated(bytesOf("descriptor"));
  packed.insert(packed.end(), {0xDE, 0xAD, 0xBE, 0xEF});
  const auto result = inflateZlib(packed);
  ASSERT_TRUE(result.ok) << result.error;
  EXPECT_EQ(result.data, "descriptor");
}

TEST(ZlibCodec, DamageIsAnError) {
  const auto packed = deflated(compressible(30000));
  struct Case {
    const char* label;
    std::vector<std::uint8_t> bytes;
    const char* messagePart;
  };
  auto flippedBody = packed;
  flippedBody[packed.size() / 2] ^= 0x55;
  auto badChecksum = packed;
  badChecksum.back() ^= 0x01;
  auto badHeader = packed;
  badHeader[1] ^= 0x01;
  const std::vector<std::uint8_t> cut(packed.begin(), packed.begin() + static_cast<std::ptrdiff_t>(packed.size() / 2));
  const std::vector<std::uint8_t> rawDeflate(packed.begin() + 2, packed.end());
  const std::vector<Case> cases = {
      {"body", flippedBody, "повреждены"},        {"checksum", badChecksum, "повреждены"},
      {"header", badHeader, "повреждены"},        {"cut", cut, "оборваны"},
      {"rawDeflate", rawDeflate, "повреждены"},   {"empty", {}, "оборваны"},
      {"text", bytesOf("plain text, not compressed"), "повреждены"},
  };
  for (const Case& c : cases) {
    const auto result = inflateZlib(c.bytes);
    EXPECT_FALSE(result.ok) << c.label;
    EXPECT_TRUE(result.data.empty()) << c.label;
    EXPECT_NE(result.error.find(c.messagePart), std::string::npos) << c.label << ": " << result.error;
  }
}

TEST(ZlibCodec, PresetDictionaryIsRefused) {
  z_stream z{};
  ASSERT_EQ(deflateInit(&z, 9), Z_OK);
  const std::string dictionary = "parameter branch root";
  ASSERT_EQ(deflateSetDictionary(&z, reinterpret_cast<const Bytef*>(dictionary.data()),
                                 static_cast<uInt>(dictionary.size())),
            Z_OK);
  std::string input = "parameter parameter";
  std::vector<std::uint8_t> out(256);
  z.next_in = reinterpret_cast<Bytef*>(input.data());
  z.avail_in = static_cast<uInt>(input.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  ASSERT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
  out.resize(z.total_out);
  deflateEnd(&z);
  const auto result = inflateZlib(out);
  EXPECT_FALSE(result.ok);
  EXPECT_NE(result.error.find("словарь"), std::string::npos) << result.error;
}

TEST(ZlibCodec, OutputLimitStopsABomb) {
  // 8 MiB of zeros deflate to about 8 KiB.
  const auto packed = deflated(std::vector<std::uint8_t>(8u << 20, 0));
  ASSERT_LT(packed.size(), 20000u);
  const auto limited = inflateZlib(packed, 1u << 20);
  EXPECT_FALSE(limited.ok);
  EXPECT_NE(limited.error.find("больше чем в 1048576 байт"), std::string::npos) << limited.error;
  const auto exact = inflateZlib(packed, 8u << 20);
  ASSERT_TRUE(exact.ok) << exact.error;
  EXPECT_EQ(exact.data.size(), 8u << 20);
}

TEST(ZlibCodec, FailedInflaterStaysFailed) {
  ZlibInflater inflater;
  const auto garbage = bytesOf("garbage!");
  EXPECT_FALSE(inflater.feed(garbage));
  const auto good = deflated(bytesOf("x"));
  EXPECT_FALSE(inflater.feed(good));
  EXPECT_FALSE(inflater.finish());
  EXPECT_FALSE(inflater.error().empty());
}

}  // namespace
}  // namespace kvtr
