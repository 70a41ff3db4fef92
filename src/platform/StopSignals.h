// SIGINT and SIGTERM taken by a thread that waits for them, instead of by a handler: a program
// that serves until interrupted checks for them between its own steps.
#pragma once

#include <signal.h>

#include <cstdint>

namespace remcons {

class StopSignals {
 public:
  // Blocks both in the calling thread and so in every thread it starts afterwards; they stay
  // blocked after this object is gone.
  StopSignals();
  // Waits up to ms for either; its number, or 0 when none came.
  int Wait(uint32_t ms);

 private:
  sigset_t signals_;
};

}  // namespace remcons
