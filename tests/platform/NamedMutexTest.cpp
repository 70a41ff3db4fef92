#include "platform/NamedMutex.h"

#include <gtest/gtest.h>

#include <thread>

namespace remcons {
namespace {

// One mutex per name, process-wide; recursive, and a bounded wait goes on without it.
TEST(NamedMutex, SameNameSameMutexRecursiveAndBoundedWait) {
  auto m = OpenNamedMutex("MutexNetwork");
  EXPECT_EQ(OpenNamedMutex("MutexNetwork").get(), m.get());
  EXPECT_NE(OpenNamedMutex("MutexToProtectVideo").get(), m.get());
  TimedLock outer(*m, kWaitForever);
  ASSERT_TRUE(outer.owns());
  TimedLock inner(*m, 10);
  EXPECT_TRUE(inner.owns());
  bool otherOwned = true;
  std::thread([&] { otherOwned = TimedLock(*m, 30).owns(); }).join();
  EXPECT_FALSE(otherOwned);
}

}  // namespace
}  // namespace remcons
