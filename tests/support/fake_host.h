// A Host for tests: no window; records what the core asked of it.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/host.h"

namespace remcons::testing {

class FakeHost : public Host {
 public:
  struct Box {
    std::string text, caption;
    uint32_t style;
  };
  struct Invalidation {
    bool whole;
    Rect rect;
    bool erase;
  };

  // Sent functions run at once on the calling thread, one at a time, as if the window thread ran
  // them; posted ones wait for RunPosted.
  bool IsUiThread() override { return true; }
  bool SendToUi(std::function<void()> fn) override;
  void PostToUi(std::function<void()> fn) override;
  // Runs the posted functions; returns how many ran.
  int RunPosted();

  void Invalidate(const Rect* r, bool erase) override;
  void StartTimer(int id, uint32_t ms) override;
  void StopTimer(int id) override;
  int MessageBox(const std::string& text, const std::string& caption, uint32_t style) override;
  bool EnumDisplayMode(int index, DisplayMode* mode) override;
  int ChangeDisplayMode(const DisplayMode* mode) override;
  std::optional<std::string> PageLocation() override { return pageLocation; }

  std::vector<Box> Boxes();
  std::vector<Invalidation> Invalidations();
  void ClearRecords();

  // Set by tests.
  std::vector<DisplayMode> displayModes;
  int displayChangeResult = kDispChangeSuccessful;
  std::optional<std::string> pageLocation;
  std::function<int(const Box&)> answer;  // default: kIdOk

  // Recorded.
  std::vector<std::optional<DisplayMode>> displayChanges;  // nullopt: restore
  std::map<int, uint32_t> timers;                          // running timers and periods

 private:
  std::recursive_mutex uiMutex_;
  std::mutex mutex_;
  std::deque<std::function<void()>> posted_;
  std::vector<Box> boxes_;
  std::vector<Invalidation> invalidations_;
};

}  // namespace remcons::testing
