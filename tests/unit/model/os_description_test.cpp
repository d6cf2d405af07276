#include "model/os_description.h"

#include <gtest/gtest.h>

namespace kvtr {
namespace {

TEST(OsDescription, PrettyNameFromOsRelease) {
  const struct {
    const char* content;
    const char* pretty;
  } rows[] = {
      {"NAME=\"Debian GNU/Linux\"\nPRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\nID=debian\n",
       "Debian GNU/Linux 12 (bookworm)"},
      {"PRETTY_NAME='Alpine Linux v3.19'", "Alpine Linux v3.19"},
      {"PRETTY_NAME=Plain\r\n", "Plain"},
      {"  PRETTY_NAME=\"Say \\\"hi\\\"\"\n", "Say \"hi\""},
      {"NAME=Debian\nID=debian\n", ""},
      {"", ""},
      {"XPRETTY_NAME=no\n", ""},
  };
  for (const auto& row : rows) EXPECT_EQ(PrettyNameFromOsRelease(row.content), row.pretty) << row.content;
}

TEST(OsDescription, ComposesDistributionAndKernel) {
  EXPECT_EQ(ComposeSystemDescription("Debian GNU/Linux 12 (bookworm)", "Linux", "6.1.0-18-amd64", "x86_64"),
            "Debian GNU/Linux 12 (bookworm), ядро Linux 6.1.0-18-amd64 x86_64");
  EXPECT_EQ(ComposeSystemDescription("", "Darwin", "23.1.0", "arm64"), "Darwin 23.1.0 arm64");
  EXPECT_EQ(ComposeSystemDescription("Some OS", "", "", ""), "Some OS");
  EXPECT_EQ(ComposeSystemDescription("", "", "", ""), "<неизвестно>");
}

TEST(OsDescription, WindowsVersionTexts) {
  const struct {
    unsigned platform, major, minor, build;
    const char* text;
  } rows[] = {
      {0, 3, 10, 42, "MS Windows 3.1x + Win32s Build   42"},
      {1, 4, 10, 2222, "Windows 9x/Me"},
      {2, 3, 51, 1057, "Windows NT 3.51 Build 1057"},
      {2, 4, 0, 1381, "Windows NT 4.xx Build 1381"},
      {2, 5, 1, 2600, "Windows 2000/XP Build 2600"},
      {2, 10, 0, 19045, "Windows NT/2k-подобная система"},
      {3, 10, 0, 1, "Тип системы неопределен"},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(DescribeWindowsVersion(row.platform, row.major, row.minor, row.build), row.text);
  }
}

TEST(OsDescription, DescribesTheRunningSystem) {
  const std::string text = DescribeOperatingSystem();
  EXPECT_FALSE(text.empty());
  EXPECT_NE(text, "<неизвестно>");
}

}  // namespace
}  // namespace kvtr
