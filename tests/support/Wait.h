// Bounded polling for conditions that another thread makes true.
#pragma once

#include <chrono>
#include <functional>
#include <thread>

namespace remcons::testing {

// Polls pred every 2 ms until it holds or timeoutMs passed.
inline bool WaitUntil(const std::function<bool()>& pred, int timeoutMs = 5000) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!pred()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

}  // namespace remcons::testing
