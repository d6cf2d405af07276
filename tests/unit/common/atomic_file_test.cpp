#include "common/atomic_file.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace kvtr {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

Bytes bytesOf(const std::string& text) { return Bytes(text.begin(), text.end()); }

class AtomicFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::path(::testing::TempDir()) / "kvtr-atomic-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string contents(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }
  void put(const fs::path& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }
  std::vector<std::string> entries() {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir_)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
  mode_t modeOf(const fs::path& path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0);
    return st.st_mode & 0777;
  }

  fs::path dir_;
};

TEST_F(AtomicFileTest, CreatesANewFileWithTheUsualPermissions) {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  const fs::path target = dir_ / "new.kvtr";
  std::string error;
  ASSERT_TRUE(writeFileAtomically(target, bytesOf("abc"), &error)) << error;
  EXPECT_EQ(contents(target), "abc");
  EXPECT_EQ(modeOf(target), 0666 & ~mask);
  EXPECT_EQ(entries(), std::vector<std::string>{"new.kvtr"});
}

TEST_F(AtomicFileTest, ReplacesAnExistingFileAndKeepsItsPermissions) {
  const fs::path target = dir_ / "cfg.kvtr";
  put(target, "old contents, longer than the new ones");
  ASSERT_EQ(::chmod(target.c_str(), 0604), 0);
  std::string error;
  ASSERT_TRUE(writeFileAtomically(target, bytesOf("new"), &error)) << error;
  EXPECT_EQ(contents(target), "new");
  EXPECT_EQ(modeOf(target), 0604u);
  EXPECT_EQ(entries(), std::vector<std::string>{"cfg.kvtr"});
}

TEST_F(AtomicFileTest, FollowsALinkAndKeepsIt) {
  const fs::path real = dir_ / "real.kvtr";
  const fs::path link = dir_ / "link.kvtr";
  put(real, "old");
  fs::create_symlink("real.kvtr", link);
  std::string error;
  ASSERT_TRUE(writeFileAtomically(link, bytesOf("new"), &error)) << error;
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(contents(real), "new");
  EXPECT_EQ(entries(), (std::vector<std::string>{"link.kvtr", "real.kvtr"}));
}

TEST_F(AtomicFileTest, FailuresLeaveTheOldStateAndNameTheFile) {
  const fs::path folderTarget = dir_ / "sub";
  fs::create_directory(folderTarget);
  put(folderTarget / "inside", "x");
  const fs::path missingFolder = dir_ / "missing" / "cfg.kvtr";
  for (const fs::path& target : {folderTarget, missingFolder}) {
    SCOPED_TRACE(target.string());
    std::string error;
    EXPECT_FALSE(writeFileAtomically(target, bytesOf("data"), &error));
    EXPECT_NE(error.find(target.string()), std::string::npos) << error;
    EXPECT_EQ(checkSaveTarget(target), error) << "the check before the work says the same";
  }
  EXPECT_NE(checkSaveTarget(missingFolder).find("папки '" + missingFolder.parent_path().string() + "' нет"),
            std::string::npos);
  EXPECT_EQ(contents(folderTarget / "inside"), "x");
  EXPECT_EQ(entries(), std::vector<std::string>{"sub"});
}

// Only a regular file is ever replaced: a device, a FIFO or a socket under the name (or at the end
// of a link) is refused, names itself in the message and stays what it was. /dev/null is only
// looked at: the refusal comes before anything is opened.
TEST_F(AtomicFileTest, RefusesWhatIsNotARegularFile) {
  const fs::path fifo = dir_ / "pipe.kvtr";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const fs::path socketPath = dir_ / "sock.kvtr";
  const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(sock, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  ASSERT_LT(socketPath.string().size(), sizeof address.sun_path);
  std::strcpy(address.sun_path, socketPath.c_str());
  ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  fs::create_symlink(fifo, dir_ / "to-pipe.kvtr");
  fs::create_symlink("/dev/null", dir_ / "to-null.kvtr");
  struct stat nullBefore {};
  ASSERT_EQ(::stat("/dev/null", &nullBefore), 0);

  struct Row {
    fs::path target;
    const char* cause;
  };
  const Row rows[] = {
      {fifo, "это именованный канал, а не файл"},
      {socketPath, "это сокет, а не файл"},
      {"/dev/null", "это устройство, а не файл"},
      {dir_ / "to-pipe.kvtr", "это именованный канал, а не файл"},
      {dir_ / "to-null.kvtr", "(ссылка на '/dev/null'): это устройство, а не файл"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.target.string());
    std::string error;
    EXPECT_FALSE(writeFileAtomically(row.target, bytesOf("data"), &error));
    EXPECT_NE(error.find("Не удалось сохранить файл '" + row.target.string() + "'"), std::string::npos) << error;
    EXPECT_NE(error.find(row.cause), std::string::npos) << error;
    EXPECT_EQ(checkSaveTarget(row.target), error);
  }
  ::close(sock);
  EXPECT_TRUE(fs::is_fifo(fifo));
  EXPECT_TRUE(fs::is_socket(socketPath));
  EXPECT_TRUE(fs::is_symlink(dir_ / "to-null.kvtr"));
  struct stat nullAfter {};
  ASSERT_EQ(::stat("/dev/null", &nullAfter), 0);
  EXPECT_TRUE(S_ISCHR(nullAfter.st_mode));
  EXPECT_EQ(nullAfter.st_rdev, nullBefore.st_rdev);
  EXPECT_EQ(nullAfter.st_ino, nullBefore.st_ino);
  EXPECT_EQ(entries(), (std::vector<std::string>{"pipe.kvtr", "sock.kvtr", "to-null.kvtr", "to-pipe.kvtr"}))
      << "no temporary file is left behind";
}

// A link whose file is not there yet, and a link to a link, lead to the file at their end: it is
// made or replaced, the links stay links.
TEST_F(AtomicFileTest, WritesThroughChainsOfLinks) {
  fs::create_directory(dir_ / "real");
  fs::create_symlink("real/new.kvtr", dir_ / "dangling.kvtr");
  put(dir_ / "real" / "old.kvtr", "old");
  fs::create_symlink(dir_ / "real" / "old.kvtr", dir_ / "first.kvtr");
  fs::create_symlink("first.kvtr", dir_ / "second.kvtr");
  std::string error;
  ASSERT_TRUE(writeFileAtomically(dir_ / "dangling.kvtr", bytesOf("made"), &error)) << error;
  ASSERT_TRUE(writeFileAtomically(dir_ / "second.kvtr", bytesOf("replaced"), &error)) << error;
  EXPECT_EQ(contents(dir_ / "real" / "new.kvtr"), "made");
  EXPECT_EQ(contents(dir_ / "real" / "old.kvtr"), "replaced");
  for (const char* link : {"dangling.kvtr", "first.kvtr", "second.kvtr"}) EXPECT_TRUE(fs::is_symlink(dir_ / link)) << link;

  fs::create_symlink("loop-b", dir_ / "loop-a");
  fs::create_symlink("loop-a", dir_ / "loop-b");
  EXPECT_FALSE(writeFileAtomically(dir_ / "loop-a", bytesOf("x"), &error));
  EXPECT_NE(error.find("ссылки ведут по кругу"), std::string::npos) << error;
}

// The disk "fills up" half-way: a file-size limit makes write() fail with EFBIG after 4 KiB.
// The limit applies to the whole process, so the save runs in a child.
TEST_F(AtomicFileTest, AFailedWriteLeavesTheOldFileUntouched) {
  const fs::path target = dir_ / "cfg.kvtr";
  const std::string old = "the user's configuration";
  put(target, old);
  const Bytes big(64 * 1024, 0x5A);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{4096, 4096};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    std::string error;
    const bool saved = writeFileAtomically(target, big, &error);
    // 0: refused as it should be, with a message; 1: claimed success.
    ::_exit(saved ? 1 : (error.find("cfg.kvtr") != std::string::npos ? 0 : 2));
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(contents(target), old);
  EXPECT_EQ(entries(), std::vector<std::string>{"cfg.kvtr"}) << "no temporary file is left behind";
}

TEST_F(AtomicFileTest, ReadsWholeFilesAndRefusesOthers) {
  const fs::path file = dir_ / "a.bin";
  put(file, std::string("\x00\x01\xFF", 3));
  Bytes bytes;
  std::string error;
  ASSERT_TRUE(readWholeFile(file, bytes, &error)) << error;
  EXPECT_EQ(bytes, (Bytes{0x00, 0x01, 0xFF}));
  EXPECT_FALSE(readWholeFile(dir_ / "none", bytes, &error));
  EXPECT_NE(error.find("none"), std::string::npos);
  EXPECT_FALSE(readWholeFile(dir_, bytes, &error));
}

}  // namespace
}  // namespace kvtr
