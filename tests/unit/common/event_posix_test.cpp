#include <poll.h>

#include <gtest/gtest.h>

#include "common/event.h"

namespace kvtr {
namespace {

bool descriptorReadable(const Event& e) {
  pollfd p{static_cast<int>(e.nativeHandle()), POLLIN, 0};
  return ::poll(&p, 1, 0) == 1 && (p.revents & POLLIN) != 0;
}

// The serial port polls the stop event's descriptor beside the port: it must be readable exactly
// while the event is set.
TEST(EventPosix, DescriptorIsReadableExactlyWhileSet) {
  Event manual(EventReset::Manual);
  EXPECT_FALSE(descriptorReadable(manual));
  manual.set();
  EXPECT_TRUE(descriptorReadable(manual));
  EXPECT_TRUE(manual.wait(std::chrono::milliseconds(0)));
  EXPECT_TRUE(descriptorReadable(manual));
  manual.reset();
  EXPECT_FALSE(descriptorReadable(manual));

  Event automatic(EventReset::Automatic);
  automatic.set();
  EXPECT_TRUE(descriptorReadable(automatic));
  EXPECT_TRUE(automatic.wait(std::chrono::milliseconds(0)));
  EXPECT_FALSE(descriptorReadable(automatic));
}

}  // namespace
}  // namespace kvtr
