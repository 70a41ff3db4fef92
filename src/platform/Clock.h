// The time seam: every millisecond count and every sleep of the core goes through a Clock, so tests
// can run minute-long rules in milliseconds.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace remcons {

class Clock {
 public:
  virtual ~Clock() = default;
  // Milliseconds since an arbitrary start; wraps; compare by unsigned subtraction.
  virtual uint32_t NowMs() = 0;
  // Sleeps ms milliseconds, or less when stop becomes true (checked at least every 10 ms of real
  // time). Returns false when woken by stop.
  virtual bool SleepMs(uint32_t ms, const std::atomic<bool>* stop = nullptr) = 0;
};

// CLOCK_MONOTONIC.
Clock& SystemClock();

// Time that moves only when told to (tests). Sleeping advances it at once; Advance wakes nobody,
// because nobody waits on it.
class ManualClock : public Clock {
 public:
  explicit ManualClock(uint32_t startMs = 0) : now_(startMs) {}
  uint32_t NowMs() override { return now_.load(); }
  bool SleepMs(uint32_t ms, const std::atomic<bool>* stop = nullptr) override {
    if (stop && stop->load()) return false;
    now_ += ms;
    return true;
  }
  void Advance(uint32_t ms) { now_ += ms; }

 private:
  std::atomic<uint32_t> now_;
};

// Processor cycle counter (random pool seeding).
uint64_t CycleCounter();

}  // namespace remcons
