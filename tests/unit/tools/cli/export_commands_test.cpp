// kvtr export-html, run as a user runs it.
// The scratch folder comes first: it names gtest's ::testing, which run_tool.h's kvtr::testing
// would hide.
#include "unit/model/scratch_folder.h"
#include "unit/tools/cli/run_tool.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/html_export.h"
#include "common/atomic_file.h"
#include "common/user_interface.h"
#include "model/descriptor_loader.h"
#include "model/descriptor_storage.h"
#include "model/parameter_tree.h"
#include "model/text_encoding.h"

namespace kvtr {
namespace {

using testing::runTool;
using testing_support::ScratchFolder;

std::string fileText(const std::filesystem::path& path) {
  std::vector<std::uint8_t> bytes;
  EXPECT_TRUE(readWholeFile(path, bytes)) << path;
  return {bytes.begin(), bytes.end()};
}

// The page the library makes of a descriptor text with the fragment beside the built programs.
std::string expectedPage(const std::string& descriptorText) {
  ParameterTree tree;
  SilentUserInterface ui;
  EXPECT_TRUE(LoadDescriptorText(tree, descriptorText, ui).complete);
  const auto fragment = LoadExportFragment(std::filesystem::path(KVTR_BIN_DIR) / kExportFragmentFileName);
  EXPECT_TRUE(fragment.has_value());
  const std::vector<std::uint8_t> page = ParameterListPage(tree, fragment);
  return {page.begin(), page.end()};
}

// Runs kvtr with its working folder set to `folder`; output goes nowhere. The exit code, or -1.
int runKvtrIn(const std::filesystem::path& folder, const std::vector<std::string>& args) {
  const std::string program = std::string(KVTR_BIN_DIR) + "/kvtr";
  std::vector<char*> argv{const_cast<char*>(program.c_str())};
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    const int null = open("/dev/null", O_WRONLY);
    if (null < 0 || chdir(folder.c_str()) != 0) _exit(127);
    dup2(null, 1);
    dup2(null, 2);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  int status = 0;
  if (pid < 0 || waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(KvtrExportHtml, ShippedDescriptorIntoAFile) {
  ScratchFolder folder;
  const std::string target = (folder.path() / "список.html").string();
  const auto run = runTool("kvtr", {"export-html", target});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out, target + "\n");
  EXPECT_EQ(run.err, "");
  const DescriptorReadResult read = readDescriptorFile(std::filesystem::path(KVTR_BIN_DIR) / kDescriptorFileName);
  ASSERT_TRUE(read.ok()) << read.message;
  const std::string page = fileText(target);
  EXPECT_EQ(page, expectedPage(read.text));
  EXPECT_NE(page.find(utf8ToCp1251("Список оперативных параметров")), std::string::npos);
}

TEST(KvtrExportHtml, DefaultNameInTheWorkingFolder) {
  ScratchFolder folder;
  ASSERT_EQ(runKvtrIn(folder.path(), {"export-html"}), 0);
  EXPECT_TRUE(std::filesystem::is_regular_file(folder.path() / "parlist.html"));
  EXPECT_EQ(fileText(folder.path() / "parlist.html").rfind("<html>\n<head>\n", 0), 0u);
}

TEST(KvtrExportHtml, DescriptorOption) {
  ScratchFolder folder;
  const std::string text =
      "type ONOFF выкл вкл\nparameter Sw ONOFF Переключатель\nparameter Md int Режим\n"
      "branch Вход 2 0 0 Sw Md\nroot Прибор 1 0 0 Вход\n";
  const auto packed = packDescriptor(text);
  ASSERT_TRUE(packed.ok());
  const std::filesystem::path descriptor = folder.path() / "своё.dat";
  ASSERT_TRUE(writeFileAtomically(descriptor, packed.value()));
  const std::string target = (folder.path() / "out.html").string();

  const auto run = runTool("kvtr", {"export-html", "--descriptor", descriptor.string(), target});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const std::string page = fileText(target);
  EXPECT_EQ(page, expectedPage(text));
  EXPECT_NE(page.find(utf8ToCp1251("<b>Вход №</b>")), std::string::npos);
}

TEST(KvtrExportHtml, Failures) {
  ScratchFolder folder;
  const std::string target = (folder.path() / "out.html").string();
  {
    const auto run = runTool("kvtr", {"export-html", target, target});
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_NE(run.err.find("задано больше одного файла"), std::string::npos) << run.err;
  }
  {
    const auto run = runTool("kvtr", {"export-html", "--descriptor", (folder.path() / "none.dat").string(), target});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("Ошибка открытия файла дерева!"), std::string::npos) << run.err;
  }
  {
    // A descriptor that stops half-way: the loader's own message, then the command's.
    const auto packed = packDescriptor("parameter A int Б\nfrobnicate x\nroot Прибор 1 0 0 A\n");
    ASSERT_TRUE(packed.ok());
    const std::filesystem::path descriptor = folder.path() / "broken.dat";
    ASSERT_TRUE(writeFileAtomically(descriptor, packed.value()));
    const auto run = runTool("kvtr", {"export-html", "--descriptor", descriptor.string(), target});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("Непонятная команда в описателе 'frobnicate x'"), std::string::npos) << run.err;
  }
  {
    const std::string nowhere = (folder.path() / "no such folder" / "out.html").string();
    const auto run = runTool("kvtr", {"export-html", nowhere});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("no such folder"), std::string::npos) << run.err;
  }
  EXPECT_FALSE(std::filesystem::exists(target));
}

TEST(KvtrExportHtml, Help) {
  const auto help = runTool("kvtr", {"--help"});
  EXPECT_NE(help.out.find("export-html [ФАЙЛ]"), std::string::npos) << help.out;
  const auto usage = runTool("kvtr", {"export-html", "--help"});
  EXPECT_EQ(usage.exitCode, 0);
  EXPECT_EQ(usage.out.rfind("Использование: kvtr export-html [ФАЙЛ] [--descriptor ПУТЬ]", 0), 0u) << usage.out;
}

}  // namespace
}  // namespace kvtr
