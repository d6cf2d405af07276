#include "app/startup_options.h"

#include <gtest/gtest.h>

#include <limits>

namespace kvtr {
namespace {

const std::filesystem::path kCwd = "/home/user/work";

CommandLine parse(std::vector<std::string> args, CommandLineSyntax syntax = CommandLineSyntax::Posix) {
  return parseCommandLine(args, kCwd, syntax);
}

TEST(ScanInteger, ReadsAsPercentIDoes) {
  struct Row {
    std::string_view text;
    std::optional<std::int64_t> value;
  };
  const Row rows[] = {
      {"9600", 9600},
      {"0x10", 16},
      {"0X1f", 31},
      {"010", 8},
      {"0", 0},
      {"08", 0},  // octal: the 8 ends the number
      {"0x", 0},  // "0" is read, "x" ends it
      {"0xg", 0},
      {"19200baud", 19200},
      {"  42", 42},
      {"-5", -5},
      {"+7", 7},
      {"-0x10", -16},
      {"", std::nullopt},
      {"abc", std::nullopt},
      {"x10", std::nullopt},
      {"-", std::nullopt},
      {"- 5", std::nullopt},
      {"99999999999999999999999", std::numeric_limits<std::int64_t>::max()},
      {"-99999999999999999999999", std::numeric_limits<std::int64_t>::min()},
  };
  for (const Row& row : rows) EXPECT_EQ(scanInteger(row.text), row.value) << row.text;
}

TEST(StartupOptions, TokensSplitAtSlashesAndKeysIgnoreCase) {
  const CommandLine c = parse({"/port:3/bps:9600//write/", "-READ", "-Close"});
  const StartupOptions& o = c.options;
  EXPECT_EQ(o.port, 3);
  EXPECT_EQ(o.baudRate, 9600u);
  EXPECT_EQ(o.flags, startup_flag::kPortSettings | startup_flag::kWriteJob | startup_flag::kReadJob |
                         startup_flag::kClose | startup_flag::kBatch);
  EXPECT_TRUE(c.warnings.empty());
  EXPECT_TRUE(c.filePath.empty());
}

TEST(StartupOptions, NumbersAsPercentIAndUnsetWhenNotANumber) {
  EXPECT_EQ(parse({"/port:0x10"}).options.port, 16);
  EXPECT_EQ(parse({"/port:010"}).options.port, 8);
  EXPECT_EQ(parse({"/PORT:0X10"}).options.port, 16);

  const CommandLine bad = parse({"/bps:fast"});
  EXPECT_EQ(bad.options.baudRate, 0u);
  EXPECT_FALSE(bad.options.has(startup_flag::kPortSettings));
  EXPECT_TRUE(bad.options.batchMode());
  EXPECT_EQ(bad.warnings.size(), 1u);

  // A port number that does not fit the record's byte is refused rather than wrapped to
  // another port (300 would otherwise become COM44).
  const CommandLine wide = parse({"/port:300"});
  EXPECT_EQ(wide.options.port, 0);
  EXPECT_FALSE(wide.options.has(startup_flag::kPortSettings));
  EXPECT_EQ(parse({"/len:-1"}).options.dataBits, 0);
  EXPECT_EQ(parse({"/bps:-9600"}).options.baudRate, 0u);

  // port:0 parses: the settings count as given, and applying skips the zero.
  const CommandLine zero = parse({"/port:0"});
  EXPECT_TRUE(zero.options.has(startup_flag::kPortSettings));
  EXPECT_EQ(zero.options.port, 0);
}

TEST(StartupOptions, EveryFieldOfTheTable) {
  const CommandLine c = parse({"/addr:17/len:7/sbit:2/alen:11/prty:ODD/rs485:on",
                               "/x:10/y:-20/w:800/h:600/autoread:off/autowrite:On/aply/calibrate/test"});
  const StartupOptions& o = c.options;
  EXPECT_EQ(o.address, "17");
  EXPECT_EQ(o.dataBits, 7);
  EXPECT_EQ(o.stopBits, "2");
  EXPECT_EQ(o.addressLength, 11);
  EXPECT_EQ(o.parity, kStartupParityOdd);
  EXPECT_EQ(o.rs485, kRs485On);
  EXPECT_EQ(o.x, 10);
  EXPECT_EQ(o.y, -20);
  EXPECT_EQ(o.w, 800);
  EXPECT_EQ(o.h, 600);
  EXPECT_EQ(o.windowFlags, window_flag::kX | window_flag::kY | window_flag::kW | window_flag::kH);
  EXPECT_EQ(o.modeFlags, mode_flag::kAutoReadOff | mode_flag::kAutoWriteOn | mode_flag::kTest);
  EXPECT_EQ(o.flags, startup_flag::kPortSettings | startup_flag::kApply | startup_flag::kCalibrateJob |
                         startup_flag::kBatch);
  EXPECT_TRUE(c.warnings.empty()) << c.warnings.front();
}

TEST(StartupOptions, KeywordValues) {
  struct Row {
    std::string arg;
    std::uint8_t parity;
    std::uint8_t rs485;
    bool portSettings;
  };
  const Row rows[] = {
      {"/prty:even", kStartupParityEven, 0, true},
      {"/prty:odd", kStartupParityOdd, 0, true},
      {"/prty:no", kStartupParityNone, 0, true},
      {"/prty:mark", 0, 0, false},
      {"/prty:none", 0, 0, false},
      {"/rs485:auto", 0, kRs485Auto, false},
      {"/rs485:OFF", 0, kRs485Off, false},
      {"/rs485:on", 0, kRs485On, false},
      {"/rs485:semi", 0, 0, false},
  };
  for (const Row& row : rows) {
    const StartupOptions o = parse({row.arg}).options;
    EXPECT_EQ(o.parity, row.parity) << row.arg;
    EXPECT_EQ(o.rs485, row.rs485) << row.arg;
    EXPECT_EQ(o.has(startup_flag::kPortSettings), row.portSettings) << row.arg;
    EXPECT_TRUE(o.batchMode()) << row.arg;
  }
}

TEST(StartupOptions, SilentSetsThreeModeBits) {
  EXPECT_EQ(parse({"/silent"}).options.modeFlags, 0x2A);
  EXPECT_EQ(parse({"/silent/autoread:on"}).options.modeFlags, 0x2B);
}

TEST(StartupOptions, TextsOfTheRecordAndTheirLimits) {
  EXPECT_EQ(parse({"/addr:2047"}).options.address, "2047");
  const CommandLine tooLong = parse({"/addr:123456/sbit:12345"});
  EXPECT_TRUE(tooLong.options.address.empty());
  EXPECT_TRUE(tooLong.options.stopBits.empty());
  EXPECT_FALSE(tooLong.options.has(startup_flag::kPortSettings));
  EXPECT_EQ(tooLong.warnings.size(), 2u);
  // An empty address is not a given address.
  EXPECT_FALSE(parse({"/addr:"}).options.has(startup_flag::kPortSettings));
}

TEST(StartupOptions, UnknownKeysStillMeanBatchMode) {
  const CommandLine c = parse({"-frob"});
  EXPECT_EQ(c.options.flags, startup_flag::kBatch);
  ASSERT_EQ(c.warnings.size(), 1u);
  EXPECT_NE(c.warnings[0].find("frob"), std::string::npos);
  EXPECT_EQ(parse({"/frob"}, CommandLineSyntax::Windows).options.flags, startup_flag::kBatch);
  // No option at all: no batch mode.
  EXPECT_FALSE(parse({"file.kvtr"}).options.batchMode());
  EXPECT_FALSE(parse({}).options.batchMode());
}

TEST(StartupOptions, PathsAndEventNamesKeepTheirCase) {
  const CommandLine c = parse({"-ELOG:\"Logs/Errors.TXT\"", "/exitevent:StopKVTR", "Module.KVTR"});
  EXPECT_EQ(c.errorLogPath, kCwd / "Logs/Errors.TXT");
  EXPECT_EQ(c.exitEventName, "StopKVTR");
  EXPECT_EQ(c.filePath, kCwd / "Module.KVTR");
}

TEST(StartupOptions, PathOrOptionOnPosix) {
  struct Row {
    std::string arg;
    bool option;
  };
  const Row rows[] = {
      {"/read", true},
      {"/READ/Close", true},
      {"/port:3/bps:9600/write", true},
      {"/elog:/tmp/kvtr.log", true},
      {"/port:/dev/ttyUSB0", true},
      {"-anything", true},
      {"-/home/user/x.kvtr", true},
      {"/home/user/Module A.kvtr", false},
      {"/x/data.kvtr", false},  // "x" is a keyword, "data.kvtr" is not
      {"/read/home", false},
      {"/tmp", false},
      {"Module.kvtr", false},
      {"./-odd.kvtr", false},
      {"", false},
  };
  for (const Row& row : rows) EXPECT_EQ(isOptionArgument(row.arg, CommandLineSyntax::Posix), row.option) << row.arg;
  EXPECT_TRUE(isOptionArgument("/home/user/x.kvtr", CommandLineSyntax::Windows));
}

TEST(StartupOptions, ReadJobWithAnAbsolutePathHoldingABlank) {
  const CommandLine c = parse({"/read", "/home/user/Module A.kvtr"});
  EXPECT_EQ(c.options.flags, startup_flag::kReadJob | startup_flag::kBatch);
  EXPECT_EQ(c.filePath, std::filesystem::path("/home/user/Module A.kvtr"));
  EXPECT_TRUE(c.warnings.empty());
}

TEST(StartupOptions, RelativePathsFromTheCallersFolder) {
  const CommandLine c = parse({"-elog:err.log", "sub/conf.kvtr", "/write"});
  EXPECT_EQ(c.filePath, kCwd / "sub/conf.kvtr");
  EXPECT_EQ(c.errorLogPath, kCwd / "err.log");
  EXPECT_TRUE(c.filePath.is_absolute());
  // The last plain argument wins.
  EXPECT_EQ(parse({"a.kvtr", "/read", "b.kvtr"}).filePath, kCwd / "b.kvtr");
}

TEST(StartupOptions, PathValuesTakeTheRestOfTheirArgumentOnPosix) {
  const CommandLine c = parse({"/read/elog:/var/log/Kvtr Errors.log", "-port:/dev/serial/by-id/usb-X/close"});
  EXPECT_EQ(c.errorLogPath, std::filesystem::path("/var/log/Kvtr Errors.log"));
  EXPECT_EQ(c.options.portPath, "/dev/serial/by-id/usb-X/close");
  EXPECT_TRUE(c.options.has(startup_flag::kReadJob));
  EXPECT_TRUE(c.options.has(startup_flag::kPortSettings));
  EXPECT_FALSE(c.options.has(startup_flag::kClose));

  // On Windows every value ends at the next "/".
  const CommandLine w = parse({"/elog:c:\\Log.txt/close"}, CommandLineSyntax::Windows);
  EXPECT_TRUE(w.errorLogPath.string().ends_with("c:\\Log.txt")) << w.errorLogPath;
  EXPECT_TRUE(w.options.has(startup_flag::kClose));

  // A numbered port after a device path takes its place, and the other way round.
  EXPECT_TRUE(parse({"-port:/dev/ttyS1", "-port:4"}).options.portPath.empty());
}

TEST(StartupOptions, AGatewaysPortNameRunsToTheSlashAfterItsScheme) {
  for (const auto syntax : {CommandLineSyntax::Posix, CommandLineSyntax::Windows}) {
    const CommandLine c = parse({"/port:tcp://192.168.1.50:4001/bps:19200/read"}, syntax);
    EXPECT_EQ(c.options.portPath, "tcp://192.168.1.50:4001");
    EXPECT_EQ(c.options.baudRate, 19200u);
    EXPECT_TRUE(c.options.has(startup_flag::kReadJob));
    EXPECT_TRUE(c.warnings.empty());
  }
  EXPECT_EQ(parse({"-port:RFC2217://[fe80::1]:4001"}).options.portPath, "RFC2217://[fe80::1]:4001");
}

TEST(StartupOptions, EmptyNamesAreWarnedAbout) {
  const CommandLine c = parse({"-elog:\"\"", "-exitevent:"});
  EXPECT_TRUE(c.errorLogPath.empty());
  EXPECT_TRUE(c.exitEventName.empty());
  EXPECT_EQ(c.warnings.size(), 2u);
}

TEST(StartupOptions, RecordClearsToNothingGiven) {
  CommandLine c = parse({"/read/port:2/silent"});
  EXPECT_NE(c.options, StartupOptions{});
  c.options = {};
  EXPECT_FALSE(c.options.batchMode());
  EXPECT_EQ(c.options.port, 0);
}

}  // namespace
}  // namespace kvtr
