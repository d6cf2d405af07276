// Vectors in these tables were computed with an independent script (a bit-by-bit CRC written
// from the protocol description) and written in by hand; none comes from the code under test.
#include "protocol/frame_codec.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kvtr {
namespace {

using Bytes = std::vector<std::uint8_t>;

std::string hexOf(std::span<const std::uint8_t> bytes) {
  std::string text;
  char buf[4];
  for (const auto b : bytes) {
    std::snprintf(buf, sizeof buf, text.empty() ? "%02X" : " %02X", b);
    text += buf;
  }
  return text;
}

struct HashCase {
  const char* name;
  std::uint16_t hash;
};

TEST(FrameCodec, HashName) {
  const HashCase cases[] = {
      {"n.Err", 0x0233},    {"APLY", 0x8403},   {"INIT", 0x00E9},  {"M.s.t.r.", 0x5EA0},
      {"CHAr", 0x3628},     {"CHAr*", 0x3628},  {"r.oe", 0xE894},  {"A.Len", 0x1ED2},
      {"ALen", 0x7A58},     {"Addr", 0x9F62},   {"bPS", 0xB760},   {"dev", 0xD681},
      {"ver", 0x2D5B},      {"exit", 0x92ED},   {"LEn", 0x523F},   {"PrtY", 0xE8C4},
      {"Sbit", 0xB72E},     {"1234", 0x30CB},   {"-_ 9", 0x543A},  {"A.B.C.D.E", 0x7429},
      // Only four significant characters count; case does not matter.
      {"ABCD", 0xDE1B},     {"ABCDE", 0xDE1B},  {"abcd", 0xDE1B},  {"12345678", 0x30CB},
      // A leading point has no character to mark and is skipped.
      {".Addr", 0x9F62},
      // Skipped characters ('*', '/', Cyrillic) do not take a slot.
      {"*Ad/dr", 0x9F62},   {"Аddr", 0xB6C5},
      // The empty name is 0; a name of skipped characters only is four fillers.
      {"", 0x0000},         {"*", 0x1DDE},      {"    ", 0x1DDE},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(hashName(c.name), c.hash) << '"' << c.name << '"';
  }
  // The constants the link relies on.
  EXPECT_EQ(hashName("n.Err"), kErrorReplyHash);
  EXPECT_EQ(hashName("APLY"), kApplyHash);
  EXPECT_EQ(hashName("INIT"), kInitHash);
  EXPECT_EQ(hashName("M.s.t.r."), kAttributesHash);
  EXPECT_EQ(hashName("CHAr*"), kNameCharHash);
}

TEST(FrameCodec, HashCountsCharactersNotBytes) {
  // Eight Cyrillic characters (16 UTF-8 bytes) use up the 8 characters, so the 'A' after them
  // is past the end; four of them leave room for it.
  EXPECT_EQ(hashName("ЖЖЖЖЖЖЖЖA"), 0x1DDE);
  EXPECT_EQ(hashName("ЖЖЖЖA"), 0xC36F);
  EXPECT_EQ(hashName("A"), 0xC36F);
}

TEST(FrameCodec, CrcOfKnownBytes) {
  const std::string abc = "abc";
  EXPECT_EQ(frameCrc(std::span(reinterpret_cast<const std::uint8_t*>(abc.data()), abc.size())), 0x4F8D);
  EXPECT_EQ(frameCrc({}), 0x0000);
  const Bytes roe = {0x10, 0x10, 0xE8, 0x94};
  EXPECT_EQ(frameCrc(roe), 0x1989);
  // A frame followed by its own CRC (high byte first) leaves a zero register.
  const Bytes withCrc = {0x10, 0x10, 0xE8, 0x94, 0x19, 0x89};
  EXPECT_EQ(frameCrc(withCrc), 0x0000);
  // The initial value carries a CRC over split buffers.
  EXPECT_EQ(frameCrc(Bytes{0xE8, 0x94}, frameCrc(Bytes{0x10, 0x10})), 0x1989);
}

TEST(FrameCodec, Tetrads) {
  struct Case {
    Bytes bytes;
    const char* text;
  };
  const Case cases[] = {
      {{0x00}, "GG"}, {{0xFF}, "VV"}, {{0x5A}, "LQ"}, {{0x10, 0x10, 0xE8, 0x94}, "HGHGUOPK"}, {{}, ""},
  };
  for (const auto& c : cases) {
    std::string out(2 * c.bytes.size(), '?');
    encodeTetrads(c.bytes, out);
    EXPECT_EQ(out, c.text);
    Bytes back(c.bytes.size(), 0xAA);
    EXPECT_TRUE(decodeTetrads(std::string_view(c.text), back));
    EXPECT_EQ(back, c.bytes);
  }
}

TEST(FrameCodec, TetradsOutsideTheAlphabetAreReported) {
  Bytes out(2, 0xAA);
  // 'W' is one past 'V', 'F' one before 'G', 'g' the lower-case letter.
  for (const char* text : {"GWGG", "FGGG", "gGGG", "GG\rG"}) {
    EXPECT_FALSE(decodeTetrads(std::string_view(text), out)) << text;
  }
  // The bad nibble contributes nothing; the good one still decodes.
  ASSERT_FALSE(decodeTetrads(std::string_view("WH"), out));
  EXPECT_EQ(out[0], 0x01);
  // An odd last character is ignored, not read past.
  Bytes one(1, 0xAA);
  EXPECT_TRUE(decodeTetrads(std::string_view("LQX"), one));
  EXPECT_EQ(one[0], 0x5A);
}

TEST(FrameCodec, FrameAddress) {
  EXPECT_EQ(frameAddress(16, 0), 16);
  EXPECT_EQ(frameAddress(16, 9), 25);
  EXPECT_EQ(frameAddress(16, -1), 255);
  EXPECT_EQ(frameAddress(1000, -1), 255);
}

struct RequestCase {
  const char* what;
  bool read;
  std::uint16_t hash;
  Bytes data;
  int address;
  int bits;
  const char* line;  // without the carriage return
};

TEST(FrameCodec, BuildRequest) {
  const RequestCase cases[] = {
      {"r.oe read", true, 0xE894, {}, 16, 8, "#HGHGUOPKHPOP"},
      {"r.oe read, 11-bit address 1000", true, 0xE894, {}, 1000, 11, "#NTHGUOPKIPII"},
      {"CHAr read with index 2", true, 0x3628, {0x00, 0x02}, 16, 8, "#HGHIJMIOGGGILKUI"},
      {"CHAr write of 0x14 at index 2", false, 0x3628, {0x14, 0x00, 0x02}, 16, 8, "#HGGJJMIOHKGGGIOJSJ"},
      {"11-bit address 2047", true, 0xE894, {}, 2047, 11, "#VVVGUOPKKLRT"},
      {"8-bit address 255", true, 0xE894, {}, 255, 8, "#VVHGUOPKVLLS"},
      // Only the low 8 bits of an address travel in 8-bit addressing.
      {"8-bit address 511", true, 0xE894, {}, 511, 8, "#VVHGUOPKVLLS"},
      {"15 data bytes", false, 0x1234,
       {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14}, 16, 8,
       "#HGGVHIJKGGGHGIGJGKGLGMGNGOGPGQGRGSGTGURULJ"},
  };
  for (const auto& c : cases) {
    const RequestLine line = buildRequest(c.read, c.hash, c.data, c.address, c.bits);
    const std::string expected = std::string(c.line) + "\r";
    EXPECT_EQ(line.text(), expected) << c.what;
    EXPECT_EQ(line.length, 2 * c.data.size() + 14) << c.what;
  }
}

TEST(FrameCodec, RequestLimits) {
  const Bytes tooMany(16, 0);
  EXPECT_EQ(buildRequest(true, 0xE894, tooMany, 16, 8).length, 0u);

  // The caller's buffer must hold the whole line; one character short writes nothing.
  std::string buffer(13, '-');
  EXPECT_EQ(buildRequest(true, 0xE894, {}, 16, 8, buffer), 0u);
  EXPECT_EQ(buffer, std::string(13, '-'));
  buffer.resize(14);
  EXPECT_EQ(buildRequest(true, 0xE894, {}, 16, 8, buffer), 14u);
  EXPECT_EQ(buffer, "#HGHGUOPKHPOP\r");

  // Address offset -1 and address 255 are the same frame.
  EXPECT_EQ(buildRequest(true, 0xE894, {}, frameAddress(16, -1), 8).text(),
            buildRequest(true, 0xE894, {}, 255, 8).text());
}

struct ResponseCase {
  const char* what;
  std::string received;
  std::uint16_t requestHash;
  ResponseStatus status;
  Bytes data;  // for Ok, DeviceError and OtherHash
};

TEST(FrameCodec, ParseResponse) {
  const std::uint16_t roe = 0xE894;
  const ResponseCase cases[] = {
      {"r.oe answer 3F C0 00", "#HGGJUOPKJVSGGGROQV\r", roe, ResponseStatus::Ok, {0x3F, 0xC0, 0x00}},
      {"the end character is not looked at", "#HGGJUOPKJVSGGGROQV\n", roe, ResponseStatus::Ok, {0x3F, 0xC0, 0x00}},
      {"request frame echoed back", "#HGHGUOPKHPOP\r", roe, ResponseStatus::Ok, {}},
      {"15 data bytes", "#HGGVHIJKVGVHVIVJVKVLVMVNVOVPVQVRVSVTVUJNPU\r", 0x1234, ResponseStatus::Ok,
       {0xF0, 0xF1, 0xF2, 0xF3, 0xF4, 0xF5, 0xF6, 0xF7, 0xF8, 0xF9, 0xFA, 0xFB, 0xFC, 0xFD, 0xFE}},
      {"error reply code 57", "#HGGHGIJJJPPSRG\r", roe, ResponseStatus::DeviceError, {57}},
      {"error reply while asking for bPS", "#HGGHGIJJJPPSRG\r", 0xB760, ResponseStatus::DeviceError, {57}},
      {"error reply without code", "#HGGGGIJJGRLI\r", roe, ResponseStatus::DeviceError, {}},
      {"asking for n.Err itself", "#HGGHGIJJJPPSRG\r", 0x0233, ResponseStatus::Ok, {57}},
      {"bPS answer to an r.oe request", "#HGGHRNMGGIHTOT\r", roe, ResponseStatus::OtherHash, {0x02}},
      {"empty", "", roe, ResponseStatus::LostFrameStart, {}},
      {"only '#'", "#", roe, ResponseStatus::LostFrameStart, {}},
      {"no '#'", "HGGJUOPKJVSGGGROQV\r", roe, ResponseStatus::LostFrameStart, {}},
      {"'#' not first", "x#HGGJUOPKJVSGGGROQV\r", roe, ResponseStatus::LostFrameStart, {}},
      {"'#' and end only", "#\r", roe, ResponseStatus::CrcError, {}},
      {"one bit off", "#HGGJUOPKJVSGGGROQU\r", roe, ResponseStatus::CrcError, {}},
      {"length nibble 2 for 3 bytes", "#HGGIUOPKJVSGGGQRVH\r", roe, ResponseStatus::CrcError, {}},
      // Bytes 10 00 E8 94 D4 2A 55: the CRC over all but the last two bytes is D42A, exactly
      // where a nibble of 0 puts the stored CRC. The module's check passes it, as a line would.
      {"length nibble agreeing by coincidence", "#HGGGUOPKTKIQLL\r", roe, ResponseStatus::Ok, {}},
      // The character count is rounded down: an odd last tetrad is not part of the frame.
      {"odd trailing character", "#HGHGUOPKHPOPG\r", roe, ResponseStatus::Ok, {}},
      {"trailing byte after the CRC", "#HGHGUOPKHPOPGG\r", roe, ResponseStatus::CrcError, {}},
      {"one character short", "#HGHGUOPKHPO\r", roe, ResponseStatus::CrcError, {}},
      {"lower-case tetrads", "#hghguopkhpop\r", roe, ResponseStatus::CrcError, {}},
      {"character outside G..V", "#HGHGUOPKHPOW\r", roe, ResponseStatus::CrcError, {}},
      // 22 zero bytes: the CRC of zeros is zero, so the check passes and the hash 0000 is foreign.
      {"longer than any frame", "#" + std::string(44, 'G') + "\r", roe, ResponseStatus::OtherHash, {}},
      {"stored CRC past the end", "#HGGVUOPKHPOP\r", roe, ResponseStatus::CrcError, {}},
  };
  for (const auto& c : cases) {
    const ParsedResponse r = parseResponse(c.received, c.requestHash);
    EXPECT_EQ(r.status, c.status) << c.what;
    if (r.status == ResponseStatus::Ok || r.status == ResponseStatus::DeviceError ||
        r.status == ResponseStatus::OtherHash) {
      EXPECT_EQ(hexOf(r.data()), hexOf(c.data)) << c.what;
    }
  }
}

TEST(FrameCodec, ResponseFields) {
  const ParsedResponse ok = parseResponse("#HGGJUOPKJVSGGGROQV\r", 0xE894);
  ASSERT_TRUE(ok.ok());
  EXPECT_EQ(ok.address, 0x10);
  EXPECT_EQ(ok.hash, 0xE894);
  EXPECT_EQ(ok.length, 3);
  EXPECT_FALSE(ok.hasDeviceErrorCode());

  // The module's code is a signed byte: 0xC8 is -56.
  const ParsedResponse negative = parseResponse("#HGGHGIJJSOMVTR\r", 0xE894);
  ASSERT_EQ(negative.status, ResponseStatus::DeviceError);
  ASSERT_TRUE(negative.hasDeviceErrorCode());
  EXPECT_EQ(negative.deviceErrorCode(), -56);

  const ParsedResponse empty = parseResponse("#HGGGGIJJGRLI\r", 0xE894);
  ASSERT_EQ(empty.status, ResponseStatus::DeviceError);
  EXPECT_FALSE(empty.hasDeviceErrorCode());
}

TEST(FrameCodec, ResponseMessages) {
  EXPECT_EQ(responseMessage(ResponseStatus::LostFrameStart), "Потеря начала посылки.");
  EXPECT_EQ(responseMessage(ResponseStatus::CrcError), "Ошибка в контрольной сумме ответа");
  EXPECT_EQ(responseMessage(ResponseStatus::OtherHash),
            "Пришла посылка с кодом команды, отличным от посланной и от n.Err.\n");
  EXPECT_EQ(responseMessage(ResponseStatus::Ok), "");
}

TEST(FrameCodec, EveryRequestParsesBack) {
  // A request has the layout of a response, so each one built must check and give back what
  // went in, for every length and both address widths.
  for (std::size_t n = 0; n <= kMaxFrameData; ++n) {
    Bytes data(n);
    for (std::size_t i = 0; i < n; ++i) data[i] = static_cast<std::uint8_t>(0x11 * i + 7);
    for (const int bits : {8, 11}) {
      const RequestLine line = buildRequest(n % 2 == 0, 0x4321, data, 2047 - static_cast<int>(n), bits);
      ASSERT_EQ(line.length, 2 * n + 14);
      const ParsedResponse r = parseResponse(line.text(), 0x4321);
      ASSERT_TRUE(r.ok()) << n << ' ' << bits;
      EXPECT_EQ(hexOf(r.data()), hexOf(data));
      EXPECT_EQ((r.control & 0x10) != 0, n % 2 == 0);
    }
  }
}

}  // namespace
}  // namespace kvtr
