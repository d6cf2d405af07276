// The exported parameter list as a browser reads it: a headless Chromium loads the page of the
// shipped descriptor and prints the document it built. Skipped where Chromium is not installed
// (the build machines do not need it).
#include <gtest/gtest.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/html_export.h"
#include "common/atomic_file.h"
#include "common/user_interface.h"
#include "model/descriptor_loader.h"
#include "model/descriptor_storage.h"
#include "model/parameter_tree.h"
#include "unit/model/scratch_folder.h"

extern char** environ;

namespace kvtr {
namespace {

using testing_support::ScratchFolder;

std::optional<std::filesystem::path> findOnPath(std::string_view name) {
  const char* path = std::getenv("PATH");
  if (path == nullptr) return std::nullopt;
  std::string_view rest = path;
  while (!rest.empty()) {
    const std::size_t colon = rest.find(':');
    const std::filesystem::path candidate = std::filesystem::path(rest.substr(0, colon)) / name;
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
    if (colon == std::string_view::npos) break;
    rest.remove_prefix(colon + 1);
  }
  return std::nullopt;
}

// Runs the browser on the page with its document going to `dom`; its exit code, or -1. The
// browser gets two minutes: a first start on a loaded machine takes a while.
int dumpDocument(const std::filesystem::path& browser, const std::filesystem::path& page,
                 const std::filesystem::path& profile, const std::filesystem::path& dom) {
  const std::vector<std::string> args = {
      "timeout", "120", browser.string(), "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
      "--no-first-run", "--disable-background-networking", "--disable-component-update", "--disable-sync",
      "--user-data-dir=" + profile.string(), "--dump-dom", "file://" + page.string()};
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, dom.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  const int spawned = posix_spawnp(&pid, "timeout", &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return -1;
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::size_t count(const std::string& text, std::string_view what) {
  std::size_t n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size())) ++n;
  return n;
}

TEST(HtmlRender, BrowserReadsTheShippedPage) {
  std::optional<std::filesystem::path> browser = findOnPath("chromium");
  if (!browser) browser = findOnPath("chromium-browser");
  if (!browser) GTEST_SKIP() << "Chromium is not installed (apt-get install chromium); the page is not rendered";

  const DescriptorReadResult read = readDescriptorFile(std::filesystem::path(KVTR_BIN_DIR) / kDescriptorFileName);
  ASSERT_TRUE(read.ok()) << read.message;
  ParameterTree tree;
  SilentUserInterface ui;
  ASSERT_TRUE(LoadDescriptorText(tree, read.text, ui).complete);
  const auto fragment = LoadExportFragment(std::filesystem::path(KVTR_BIN_DIR) / kExportFragmentFileName);
  ASSERT_TRUE(fragment.has_value());

  ScratchFolder folder;
  const std::filesystem::path page = folder.path() / kParameterListFileName;
  std::string error;
  ASSERT_TRUE(WriteParameterList(page, tree, fragment, &error)) << error;
  const std::filesystem::path dom = folder.path() / "dom.html";
  ASSERT_EQ(dumpDocument(*browser, page, folder.path() / "profile", dom), 0);
  std::vector<std::uint8_t> bytes;
  ASSERT_TRUE(readWholeFile(dom, bytes));
  const std::string document(bytes.begin(), bytes.end());
  std::vector<std::uint8_t> pageBytes;
  ASSERT_TRUE(readWholeFile(page, pageBytes));
  const std::string source(pageBytes.begin(), pageBytes.end());

  // The browser printed the document in UTF-8: the page's code page was recognised.
  EXPECT_NE(document.find("<title>Список параметров прибора КВТР</title>"), std::string::npos);
  EXPECT_NE(document.find("Список оперативных параметров"), std::string::npos);
  EXPECT_NE(document.find("<b>Сетевые параметры</b>"), std::string::npos);
  // Three tables, each closed where it should be (the last by the page), and not a row lost.
  EXPECT_EQ(count(document, "<table"), 3u);
  EXPECT_EQ(count(document, "</table>"), 3u);
  EXPECT_EQ(count(document, "<tr"), count(source, "<tr"));
  EXPECT_EQ(count(document, "<ol start=\"0\">"), count(source, "<ol start=0>"));
  EXPECT_GT(count(document, "<ol start=\"0\">"), 0u);
}

}  // namespace
}  // namespace kvtr
