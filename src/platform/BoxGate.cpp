#include "platform/BoxGate.h"

#include <mutex>

#include "platform/Host.h"
#include "platform/Trace.h"

namespace remcons {

struct BoxGate::State {
  std::string cause;
  std::mutex mutex;
  bool open = false;
  unsigned repeats = 0;
};

BoxGate::BoxGate(std::string cause) : state_(std::make_shared<State>()) {
  state_->cause = std::move(cause);
}

bool BoxGate::Show(Host& host, const std::string& text, const std::string& caption,
                   uint32_t style) {
  {
    std::lock_guard lock(state_->mutex);
    if (state_->open) {
      ++state_->repeats;
      return false;
    }
    state_->open = true;
  }
  // The state outlives this gate while the box is up; the host runs what it was posted only while
  // it lives itself.
  host.PostToUi([state = state_, host = &host, text, caption, style] {
    host->MessageBox(text, caption, style);
    std::lock_guard lock(state->mutex);
    if (state->repeats) {
      RC_TRACE("%s: %u more not shown while its box was open\n", state->cause.c_str(),
               state->repeats);
    }
    state->open = false;
    state->repeats = 0;
  });
  return true;
}

bool BoxGate::IsOpen() const {
  std::lock_guard lock(state_->mutex);
  return state_->open;
}

}  // namespace remcons
