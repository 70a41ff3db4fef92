#include "support/FakeHost.h"

namespace remcons::testing {

bool FakeHost::SendToUi(std::function<void()> fn) {
  if (sendsClosed) return false;
  std::lock_guard lock(uiMutex_);
  fn();
  return true;
}

void FakeHost::PostToUi(std::function<void()> fn) {
  std::lock_guard lock(mutex_);
  posted_.push_back(std::move(fn));
}

int FakeHost::RunPosted() {
  int count = 0;
  for (;;) {
    std::function<void()> fn;
    {
      std::lock_guard lock(mutex_);
      if (posted_.empty()) return count;
      fn = std::move(posted_.front());
      posted_.pop_front();
    }
    std::lock_guard lock(uiMutex_);
    fn();
    ++count;
  }
}

void FakeHost::Invalidate(const Rect* r, bool erase) {
  std::lock_guard lock(mutex_);
  invalidations_.push_back({r == nullptr, r ? *r : Rect{}, erase});
}

void FakeHost::StartTimer(int id, uint32_t ms) {
  std::lock_guard lock(mutex_);
  timers[id] = ms;
}

void FakeHost::StopTimer(int id) {
  std::lock_guard lock(mutex_);
  timers.erase(id);
}

int FakeHost::MessageBox(const std::string& text, const std::string& caption, uint32_t style) {
  Box box{text, caption, style};
  {
    std::lock_guard lock(mutex_);
    boxes_.push_back(box);
  }
  return answer ? answer(box) : kIdOk;
}

bool FakeHost::EnumDisplayMode(int index, DisplayMode* mode) {
  if (index < 0 || static_cast<size_t>(index) >= displayModes.size()) return false;
  *mode = displayModes[static_cast<size_t>(index)];
  return true;
}

int FakeHost::ChangeDisplayMode(const DisplayMode* mode) {
  std::lock_guard lock(mutex_);
  displayChanges.push_back(mode ? std::optional<DisplayMode>(*mode) : std::nullopt);
  return mode ? displayChangeResult : kDispChangeSuccessful;
}

bool FakeHost::TimerRunning(int id, uint32_t* periodMs) {
  std::lock_guard lock(mutex_);
  auto it = timers.find(id);
  if (it == timers.end()) return false;
  if (periodMs) *periodMs = it->second;
  return true;
}

std::vector<FakeHost::Box> FakeHost::Boxes() {
  std::lock_guard lock(mutex_);
  return boxes_;
}

std::vector<FakeHost::Invalidation> FakeHost::Invalidations() {
  std::lock_guard lock(mutex_);
  return invalidations_;
}

void FakeHost::ClearRecords() {
  std::lock_guard lock(mutex_);
  boxes_.clear();
  invalidations_.clear();
  displayChanges.clear();
}

}  // namespace remcons::testing
