#include "platform/Clock.h"

#include <gtest/gtest.h>

#include <thread>

namespace remcons {
namespace {

TEST(Clock, SystemSleepEndsEarlyOnStopAndManualClockMovesOnlyWhenTold) {
  std::atomic<bool> stop{false};
  std::thread stopper([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    stop = true;
  });
  const uint32_t start = SystemClock().NowMs();
  EXPECT_FALSE(SystemClock().SleepMs(10000, &stop));
  EXPECT_LT(SystemClock().NowMs() - start, 1000u);
  stopper.join();
  ManualClock clock(0xFFFFFF00u);
  EXPECT_TRUE(clock.SleepMs(0x200));
  EXPECT_EQ(clock.NowMs() - 0xFFFFFF00u, 0x200u);  // wraps, compared by subtraction
  EXPECT_FALSE(clock.SleepMs(5, &stop));
}

}  // namespace
}  // namespace remcons
