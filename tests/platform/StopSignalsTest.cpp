#include "platform/StopSignals.h"

#include <gtest/gtest.h>
#include <pthread.h>

#include <thread>

namespace remcons {
namespace {

// On a thread of its own: the signals stay blocked there only, and go to it alone.
TEST(StopSignals, TakenByTheWaitingThreadAndInheritedByItsThreads) {
  std::thread([] {
    StopSignals signals;
    EXPECT_EQ(signals.Wait(20), 0);
    for (int signal : {SIGTERM, SIGINT}) {
      ASSERT_EQ(pthread_kill(pthread_self(), signal), 0);
      EXPECT_EQ(signals.Wait(5000), signal);
    }
    EXPECT_EQ(signals.Wait(0), 0);
    bool inherited = false;
    std::thread([&] {
      sigset_t mask;
      pthread_sigmask(SIG_BLOCK, nullptr, &mask);
      inherited = sigismember(&mask, SIGINT) == 1 && sigismember(&mask, SIGTERM) == 1;
    }).join();
    EXPECT_TRUE(inherited);
  }).join();
}

}  // namespace
}  // namespace remcons
