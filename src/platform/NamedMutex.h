// Process-wide recursive timed mutexes found by name, so every console in the process shares
// "MutexNetwork", "MutexToProtectVideo" and "MutexClientList".
#pragma once

#include <chrono>
#include <memory>
#include <mutex>
#include <string>

namespace remcons {

using NamedMutex = std::recursive_timed_mutex;

// The mutex of that name, created on first use; it lives while anyone holds the pointer.
std::shared_ptr<NamedMutex> OpenNamedMutex(const std::string& name);

inline constexpr uint32_t kWaitForever = 0xFFFFFFFFu;

// Takes a named mutex for a scope with a bounded wait. When the wait times out the scope runs
// without the lock (owns() is false), as the callers of a bounded wait expect.
class TimedLock {
 public:
  TimedLock(NamedMutex& mutex, uint32_t timeoutMs) : mutex_(mutex) {
    if (timeoutMs == kWaitForever) {
      mutex_.lock();
      owns_ = true;
    } else {
      owns_ = mutex_.try_lock_for(std::chrono::milliseconds(timeoutMs));
    }
  }
  ~TimedLock() {
    if (owns_) mutex_.unlock();
  }
  TimedLock(const TimedLock&) = delete;
  TimedLock& operator=(const TimedLock&) = delete;
  bool owns() const { return owns_; }

 private:
  NamedMutex& mutex_;
  bool owns_ = false;
};

}  // namespace remcons
