#include "platform/StopSignals.h"

#include <pthread.h>

#include <ctime>

namespace remcons {

StopSignals::StopSignals() {
  sigemptyset(&signals_);
  sigaddset(&signals_, SIGINT);
  sigaddset(&signals_, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &signals_, nullptr);
}

int StopSignals::Wait(uint32_t ms) {
  const timespec slice{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000};
  const int signal = sigtimedwait(&signals_, nullptr, &slice);
  return signal > 0 ? signal : 0;
}

}  // namespace remcons
