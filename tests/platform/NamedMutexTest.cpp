#include "platform/NamedMutex.h"

#include <gtest/gtest.h>

#include <thread>

namespace remcons {
namespace {

TEST(NamedMutex, SameNameIsTheSameMutexProcessWide) {
  auto a = OpenNamedMutex("MutexNetwork");
  auto b = OpenNamedMutex("MutexNetwork");
  auto c = OpenNamedMutex("MutexToProtectVideo");
  EXPECT_EQ(a.get(), b.get());
  EXPECT_NE(a.get(), c.get());
}

TEST(NamedMutex, RecursiveAndBoundedWait) {
  auto m = OpenNamedMutex("test-bounded");
  TimedLock outer(*m, kWaitForever);
  ASSERT_TRUE(outer.owns());
  TimedLock inner(*m, 10);  // the same thread may take it again
  EXPECT_TRUE(inner.owns());
  bool otherOwned = true;
  std::thread t([&] {
    TimedLock other(*m, 30);
    otherOwned = other.owns();
  });
  t.join();
  EXPECT_FALSE(otherOwned);  // the wait ran out and the scope went on without the lock
}

}  // namespace
}  // namespace remcons
