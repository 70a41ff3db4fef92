// A Host for tests: no window; records what the core asked of it.
#pragma once

#include <atomic>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

#include "platform/Host.h"

namespace remcons::testing {

class FakeHost : public Host {
 public:
  struct Box {
    std::string text, caption;
    uint32_t style;
    bool operator==(const Box&) const = default;
    friend void PrintTo(const Box& b, std::ostream* os) {
      *os << b.caption << ": \"" << b.text << "\" style " << b.style;
    }
  };
  struct Invalidation {
    bool whole;
    Rect rect;
    bool erase;
  };

  // Sent functions run at once on the calling thread, one at a time, as if the window thread ran
  // them; posted ones wait for RunPosted. After CloseSends, sends fail without running.
  bool IsUiThread() override { return true; }
  bool SendToUi(std::function<void()> fn) override {
    if (sendsClosed_) return false;
    std::lock_guard lock(uiMutex_);
    fn();
    return true;
  }
  void PostToUi(std::function<void()> fn) override {
    std::lock_guard lock(mutex_);
    posted_.push_back(std::move(fn));
  }
  void CloseSends() override { sendsClosed_ = true; }
  // Runs the posted functions; returns how many ran.
  int RunPosted() {
    int count = 0;
    for (;; ++count) {
      std::function<void()> fn;
      {
        std::lock_guard lock(mutex_);
        if (posted_.empty()) return count;
        fn = std::move(posted_.front());
        posted_.pop_front();
      }
      std::lock_guard lock(uiMutex_);
      fn();
    }
  }

  void Invalidate(const Rect* r, bool erase) override {
    std::lock_guard lock(mutex_);
    invalidations_.push_back({r == nullptr, r ? *r : Rect{}, erase});
  }
  void StartTimer(int id, uint32_t ms) override {
    std::lock_guard lock(mutex_);
    timers_[id] = ms;
  }
  void StopTimer(int id) override {
    std::lock_guard lock(mutex_);
    timers_.erase(id);
  }
  int MessageBox(const std::string& text, const std::string& caption, uint32_t style) override {
    const Box box{text, caption, style};
    {
      std::lock_guard lock(mutex_);
      boxes_.push_back(box);
    }
    return answer ? answer(box) : kIdOk;
  }
  bool EnumDisplayMode(int index, DisplayMode* mode) override {
    if (index < 0 || static_cast<size_t>(index) >= displayModes.size()) return false;
    *mode = displayModes[static_cast<size_t>(index)];
    return true;
  }
  int ChangeDisplayMode(const DisplayMode* mode) override {
    std::lock_guard lock(mutex_);
    displayChanges.push_back(mode ? std::optional<DisplayMode>(*mode) : std::nullopt);
    return mode ? displayChangeResult : kDispChangeSuccessful;
  }
  std::optional<std::string> PageLocation() override { return std::nullopt; }
  bool GrabKeyboard(bool grab) override {
    keyboardGrabbed = grab;
    return true;
  }
  // The file dialog answers with chosenFile; the Replay Menu keeps its choice function.
  std::optional<std::string> ChooseFile(const FileDialog& dialog) override {
    fileDialogs.push_back(dialog);
    return chosenFile;
  }
  bool ShowReplayMenu(std::function<void(int)> choice) override {
    replayMenu = std::move(choice);
    return true;
  }

  // Whether timer id runs, and its period (under the lock: the console thread starts timer 1).
  bool TimerRunning(int id, uint32_t* periodMs = nullptr) {
    std::lock_guard lock(mutex_);
    auto it = timers_.find(id);
    if (it != timers_.end() && periodMs) *periodMs = it->second;
    return it != timers_.end();
  }
  std::vector<Box> Boxes() {
    std::lock_guard lock(mutex_);
    return boxes_;
  }
  std::vector<Invalidation> Invalidations() {
    std::lock_guard lock(mutex_);
    return invalidations_;
  }
  void ClearRecords() {
    std::lock_guard lock(mutex_);
    boxes_.clear();
    invalidations_.clear();
    displayChanges.clear();
  }

  // Set by tests.
  std::vector<DisplayMode> displayModes;
  int displayChangeResult = kDispChangeSuccessful;
  std::function<int(const Box&)> answer;  // default: kIdOk
  std::optional<std::string> chosenFile;
  std::vector<FileDialog> fileDialogs;
  std::function<void(int)> replayMenu;

  // Recorded.
  std::vector<std::optional<DisplayMode>> displayChanges;  // nullopt: restore
  std::atomic<bool> keyboardGrabbed{false};

 private:
  std::recursive_mutex uiMutex_;
  std::mutex mutex_;
  std::deque<std::function<void()>> posted_;
  std::vector<Box> boxes_;
  std::vector<Invalidation> invalidations_;
  std::map<int, uint32_t> timers_;  // running timers and their periods
  std::atomic<bool> sendsClosed_{false};
};

}  // namespace remcons::testing
