#include "app/named_event.h"

#include <gtest/gtest.h>

namespace kvtr {
namespace {

TEST(NamedEventFileName, EscapesWhatIsNoPlainFileName) {
  struct Row {
    std::string_view name;
    std::string_view file;
  };
  const Row rows[] = {
      {"kvtr-stop_1.job", "kvtr-stop_1.job"},
      {"Stop", "Stop"},
      {"..", "%2E."},
      {".hidden", "%2Ehidden"},
      {"a/b", "a%2Fb"},
      {"Global\\Stop", "Global%5CStop"},
      {"a b%", "a%20b%25"},
      {"Я", "%D0%AF"},
      {"", ""},
  };
  for (const Row& row : rows) EXPECT_EQ(namedEventFileName(row.name), row.file) << row.name;
  // Distinct names stay distinct: "%" itself is escaped.
  EXPECT_NE(namedEventFileName("a%2Fb"), namedEventFileName("a/b"));
  EXPECT_EQ(namedEventFileName(std::string(255, 'x')).size(), 255u);
  EXPECT_EQ(namedEventFileName(std::string(86, '/')), "");  // 258 bytes escaped
}

}  // namespace
}  // namespace kvtr
