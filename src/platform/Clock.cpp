#include "platform/Clock.h"

#include <time.h>

#include <algorithm>
#if defined(__x86_64__) || defined(__i386__)
#include <x86intrin.h>
#endif

namespace remcons {
namespace {

class MonotonicClock : public Clock {
 public:
  uint32_t NowMs() override {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint32_t>(static_cast<uint64_t>(ts.tv_sec) * 1000u +
                                 static_cast<uint64_t>(ts.tv_nsec) / 1000000u);
  }

  bool SleepMs(uint32_t ms, const std::atomic<bool>* stop) override {
    // Short slices so a stop request ends the wait promptly.
    const uint32_t start = NowMs();
    for (;;) {
      if (stop && stop->load()) return false;
      const uint32_t elapsed = NowMs() - start;
      if (elapsed >= ms) return true;
      const uint32_t slice = std::min<uint32_t>(ms - elapsed, stop ? 10u : ms - elapsed);
      timespec ts{static_cast<time_t>(slice / 1000), static_cast<long>(slice % 1000) * 1000000L};
      nanosleep(&ts, nullptr);
    }
  }
};

}  // namespace

Clock& SystemClock() {
  static MonotonicClock clock;
  return clock;
}

uint64_t CycleCounter() {
#if defined(__x86_64__) || defined(__i386__)
  return __rdtsc();
#else
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC_RAW, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000000000ull + static_cast<uint64_t>(ts.tv_nsec);
#endif
}

}  // namespace remcons
