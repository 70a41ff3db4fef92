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
  void SetFocus() override { ++focusRequests; }
  bool GrabKeyboard(bool grab) override {
    keyboardGrabbed = grab;
    return grabSucceeds;
  }
  void SetCursor() override { ++cursorSets; }
  void TrackHover() override { ++hoverRequests; }
  // The Client List dialog: its source while open.
  bool OpenClientList(ClientListSource* source) override {
    clientList = source;
    return true;
  }
  void RefreshClientList() override { ++clientListRefreshes; }
  void CloseClientList() override { clientList = nullptr; }
  bool ClientListOpen() override { return clientList != nullptr; }
  // The file dialog answers with chosenFile; the Replay Menu keeps its choice function.
  std::optional<std::string> ChooseFile(const FileDialog& dialog) override {
    fileDialogs.push_back(dialog);
    return chosenFile;
  }
  bool ShowReplayMenu(std::function<void(int)> choice) override {
    replayMenu = std::move(choice);
    return true;
  }
  // After this, sends fail without running (as a window that is going away).
  void CloseSends() override { sendsClosed = true; }

  // Whether timer id runs, and its period (under the lock: the console thread starts timer 1).
  bool TimerRunning(int id, uint32_t* periodMs = nullptr);
  std::vector<Box> Boxes();
  std::vector<Invalidation> Invalidations();
  void ClearRecords();

  // Set by tests.
  std::vector<DisplayMode> displayModes;
  int displayChangeResult = kDispChangeSuccessful;
  std::optional<std::string> pageLocation;
  std::function<int(const Box&)> answer;  // default: kIdOk

  bool grabSucceeds = true;
  std::optional<std::string> chosenFile;
  std::vector<FileDialog> fileDialogs;
  std::function<void(int)> replayMenu;

  // Recorded.
  std::vector<std::optional<DisplayMode>> displayChanges;  // nullopt: restore
  std::map<int, uint32_t> timers;                          // running timers and periods
  std::atomic<int> focusRequests{0};
  std::atomic<bool> keyboardGrabbed{false};
  std::atomic<int> cursorSets{0};
  std::atomic<int> hoverRequests{0};
  std::atomic<bool> sendsClosed{false};
  std::atomic<ClientListSource*> clientList{nullptr};
  std::atomic<int> clientListRefreshes{0};

 private:
  std::recursive_mutex uiMutex_;
  std::mutex mutex_;
  std::deque<std::function<void()>> posted_;
  std::vector<Box> boxes_;
  std::vector<Invalidation> invalidations_;
};

}  // namespace remcons::testing
