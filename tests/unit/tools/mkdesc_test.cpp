// Runs the built kvtr-mkdesc as the build does and checks what it leaves behind.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <iterator>

#include "model/descriptor_storage.h"
#include "unit/model/scratch_folder.h"

namespace kvtr {
namespace {

using testing_support::ScratchFolder;

std::string readText(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeText(const std::filesystem::path& path, std::string_view text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
}

struct ToolRun {
  int exitCode = -1;
  std::string errors;
};

ToolRun mkdesc(const ScratchFolder& scratch, const std::string& arguments) {
  const auto errors = scratch.path() / "stderr.txt";
  const std::string command = std::string("'") + KVTR_BIN_DIR + "/kvtr-mkdesc' " + arguments + " 2>'" +
                              errors.string() + "' >/dev/null";
  const int status = std::system(command.c_str());
  ToolRun run;
  run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  run.errors = readText(errors);
  return run;
}

std::string quoted(const std::filesystem::path& path) { return "'" + path.string() + "'"; }

TEST(Mkdesc, PacksTheSampleSoThatItReadsBack) {
  const ScratchFolder scratch;
  const auto input = std::filesystem::path(KVTR_TEST_DATA_DIR) / "mkdesc_sample.txt";
  const auto output = scratch.path() / "kvtr.tree.dat";
  writeText(output, "an older file to be replaced");
  const ToolRun run = mkdesc(scratch, quoted(input) + " " + quoted(output));
  ASSERT_EQ(run.exitCode, 0) << run.errors;
  const auto result = readDescriptorFile(output);
  ASSERT_TRUE(result.ok()) << result.message;
  EXPECT_EQ(result.text, readText(input));
}

TEST(Mkdesc, DropsAByteOrderMark) {
  const ScratchFolder scratch;
  writeText(scratch.path() / "in.txt", "\xEF\xBB\xBFroot Прибор 1 0 0\n");
  const ToolRun run = mkdesc(scratch, quoted(scratch.path() / "in.txt") + " " + quoted(scratch.path() / "out.dat"));
  ASSERT_EQ(run.exitCode, 0) << run.errors;
  EXPECT_EQ(readDescriptorFile(scratch.path() / "out.dat").text, "root Прибор 1 0 0\n");
}

TEST(Mkdesc, RefusesTextItCannotStoreAndKeepsTheOldFile) {
  struct Case {
    const char* text;
    const char* expected;
  };
  const Case cases[] = {
      {"root a 1 0 0\nparameter x int:1 \xFF\xFE\n", "in.txt: строка 2: текст — не правильный UTF-8 (байт 0xFF)"},
      {"; 1\n; 2\nparameter x int:1 温度\n", "in.txt: строка 3: для символа «温» нет байта в Windows-1251"},
      {"", "in.txt: the text is empty"},
  };
  for (const Case& c : cases) {
    const ScratchFolder scratch;
    writeText(scratch.path() / "in.txt", c.text);
    writeText(scratch.path() / "out.dat", "previous");
    const ToolRun run = mkdesc(scratch, quoted(scratch.path() / "in.txt") + " " + quoted(scratch.path() / "out.dat"));
    EXPECT_EQ(run.exitCode, 1) << c.text;
    EXPECT_NE(run.errors.find(c.expected), std::string::npos) << run.errors;
    EXPECT_EQ(readText(scratch.path() / "out.dat"), "previous");
  }
}

TEST(Mkdesc, UsageAndFileErrors) {
  const ScratchFolder scratch;
  EXPECT_EQ(mkdesc(scratch, "").exitCode, 2);
  EXPECT_EQ(mkdesc(scratch, "one two three").exitCode, 2);
  EXPECT_EQ(mkdesc(scratch, "--help").exitCode, 0);
  const ToolRun missing = mkdesc(scratch, quoted(scratch.path() / "none.txt") + " " + quoted(scratch.path() / "out.dat"));
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_NE(missing.errors.find("cannot read"), std::string::npos) << missing.errors;
  EXPECT_FALSE(std::filesystem::exists(scratch.path() / "out.dat"));
  writeText(scratch.path() / "in.txt", "root a 1 0 0\n");
  const ToolRun noFolder = mkdesc(scratch, quoted(scratch.path() / "in.txt") + " " + quoted(scratch.path() / "no" / "out.dat"));
  EXPECT_EQ(noFolder.exitCode, 1);
  EXPECT_NE(noFolder.errors.find((scratch.path() / "no" / "out.dat").string()), std::string::npos) << noFolder.errors;
}

}  // namespace
}  // namespace kvtr
