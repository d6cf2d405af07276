#include "app/named_event.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>

#include "unit/model/scratch_folder.h"

namespace kvtr {
namespace {

using namespace std::chrono_literals;

// Every test gets its own folder of events through XDG_RUNTIME_DIR.
class NamedEventTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* old = std::getenv("XDG_RUNTIME_DIR");
    if (old != nullptr) saved_ = old;
    hadOld_ = old != nullptr;
    ::setenv("XDG_RUNTIME_DIR", scratch_.path().c_str(), 1);
  }
  void TearDown() override {
    if (hadOld_) ::setenv("XDG_RUNTIME_DIR", saved_.c_str(), 1);
    else ::unsetenv("XDG_RUNTIME_DIR");
  }
  std::filesystem::path folder() const { return scratch_.path() / "kvtr-events"; }

  testing_support::ScratchFolder scratch_;
  std::string saved_;
  bool hadOld_ = false;
};

TEST_F(NamedEventTest, SetFromOutsideWakesTheHolder) {
  std::string error;
  auto event = NamedEvent::Open("Stop-Job", &error);
  ASSERT_NE(event, nullptr) << error;
  EXPECT_FALSE(event->signalled().isSet());
  EXPECT_EQ(namedEventFolder(), folder());
  struct stat st {};
  ASSERT_EQ(::lstat((folder() / "Stop-Job").c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  ASSERT_TRUE(SetNamedEvent("Stop-Job", &error)) << error;
  EXPECT_TRUE(event->signalled().wait(10s));
  // Manual reset: it stays set, and setting it again is no failure.
  EXPECT_TRUE(event->signalled().isSet());
  EXPECT_TRUE(SetNamedEvent("Stop-Job", &error)) << error;
}

TEST_F(NamedEventTest, NamesKeepTheirCase) {
  auto upper = NamedEvent::Open("Stop");
  auto lower = NamedEvent::Open("stop");
  ASSERT_NE(upper, nullptr);
  ASSERT_NE(lower, nullptr);
  ASSERT_TRUE(SetNamedEvent("stop"));
  EXPECT_TRUE(lower->signalled().wait(10s));
  EXPECT_FALSE(upper->signalled().isSet());
}

TEST_F(NamedEventTest, EveryHolderSeesTheSet) {
  auto first = NamedEvent::Open("shared");
  auto second = NamedEvent::Open("shared");
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  ASSERT_TRUE(first->Set());
  EXPECT_TRUE(first->signalled().wait(10s));
  EXPECT_TRUE(second->signalled().wait(10s));
  // A holder that opens the name after the set finds it set, as with an event that exists.
  auto late = NamedEvent::Open("shared");
  ASSERT_NE(late, nullptr);
  EXPECT_TRUE(late->signalled().wait(10s));
}

TEST_F(NamedEventTest, NobodyWaiting) {
  std::string error;
  EXPECT_FALSE(SetNamedEvent("nobody", &error));
  EXPECT_NE(error.find("не ждет ни одна программа"), std::string::npos) << error;
  // The FIFO of a run that has ended stays behind; it is no waiter, and a new run of the same
  // name does not inherit the old set.
  {
    auto old = NamedEvent::Open("again");
    ASSERT_NE(old, nullptr);
    ASSERT_TRUE(old->Set());
  }
  EXPECT_FALSE(SetNamedEvent("again", &error));
  auto fresh = NamedEvent::Open("again");
  ASSERT_NE(fresh, nullptr);
  EXPECT_FALSE(fresh->signalled().wait(200ms));
}

TEST_F(NamedEventTest, OpeningWithoutWritingWakesNobody) {
  auto event = NamedEvent::Open("probe");
  ASSERT_NE(event, nullptr);
  const int fd = ::open((folder() / "probe").c_str(), O_WRONLY | O_NONBLOCK);
  ASSERT_GE(fd, 0);
  ::close(fd);
  EXPECT_FALSE(event->signalled().wait(200ms));
  ASSERT_TRUE(SetNamedEvent("probe"));
  EXPECT_TRUE(event->signalled().wait(10s));
}

TEST_F(NamedEventTest, RefusesFoldersAndFilesThatAreNotTheUsersOwn) {
  std::string error;
  ASSERT_EQ(::mkdir(folder().c_str(), 0755), 0);
  EXPECT_EQ(NamedEvent::Open("x", &error), nullptr);
  EXPECT_NE(error.find("закрытая для других"), std::string::npos) << error;

  ASSERT_EQ(::chmod(folder().c_str(), 0700), 0);
  std::ofstream(folder() / "plain") << "not a fifo";
  EXPECT_EQ(NamedEvent::Open("plain", &error), nullptr);
  EXPECT_FALSE(SetNamedEvent("plain", &error));
  ASSERT_EQ(::symlink("/dev/null", (folder() / "link").c_str()), 0);
  EXPECT_EQ(NamedEvent::Open("link", &error), nullptr);
  EXPECT_FALSE(SetNamedEvent("link", &error));
}

TEST_F(NamedEventTest, NamesThatAreNoFileNamesAreEscaped) {
  auto event = NamedEvent::Open("../Global\\Выход");
  ASSERT_NE(event, nullptr);
  EXPECT_TRUE(std::filesystem::exists(folder() / namedEventFileName("../Global\\Выход")));
  ASSERT_TRUE(SetNamedEvent("../Global\\Выход"));
  EXPECT_TRUE(event->signalled().wait(10s));
  EXPECT_EQ(NamedEvent::Open(""), nullptr);
  EXPECT_EQ(NamedEvent::Open(std::string(300, 'a')), nullptr);
}

}  // namespace
}  // namespace kvtr
