// Mouse forwarding: movements as relative steps plus absolute positions on a 3000 × 3000 grid,
// buttons as press, release and double-click packets, written to the console connection. The
// window's mouse messages reach it through MouseMessages, which offers them to the menu bar first.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <utility>

#include "input/InputWriter.h"

namespace remcons {

enum MouseButton : uint8_t { kMouseRight = 1, kMouseLeft = 4 };

class CMouse {
 public:
  static constexpr int kGrid = 3000;

  explicit CMouse(InputWriter connection);
  CMouse(const CMouse&) = delete;
  CMouse& operator=(const CMouse&) = delete;

  // Pointer at window position (x, y) over a remote screen of width × height pixels.
  void Move(int x, int y, int width, int height);
  // Records the position without sending (the local pointer moves alone).
  void SetPosition(int x, int y);
  void Press(uint8_t button);
  void Release(uint8_t button);
  void Click(uint8_t button, int clicks);
  // Set from the console thread when a session has connected; nothing is sent before.
  void Enable() { enabled_.store(1); }
  bool enabled() const { return enabled_.load() != 0; }

 private:
  void Send(const uint8_t* data, size_t size);

  InputWriter connection_;
  std::atomic<uint8_t> enabled_{0};
  int32_t lastX_ = 0;
  int32_t lastY_ = 0;
};

// The menu bar's side of the mouse handling: it sees every mouse event first.
class MenuBarMouse {
 public:
  // Event codes of OnMouseButton.
  enum Event : int {
    kLeftDown = 0,
    kLeftUp = 1,
    kLeftDoubleClick = 2,
    kRightDown = 3,
    kRightUp = 4,
    kRightDoubleClick = 5,
  };

  virtual ~MenuBarMouse() = default;
  // True when (x, y) is on the bar or on one of its open menus.
  virtual bool HitTest(int x, int y) = 0;
  // The pointer moved onto the bar / off it.
  virtual void Show() = 0;
  virtual void Hide() = 0;
  // The pointer rests at (x, y): tooltips.
  virtual void OnMouseMove(int x, int y) = 0;
  // True when the bar consumed the event; it is then not forwarded.
  virtual bool OnMouseButton(Event event, int x, int y) = 0;
};

// What the console window does around each mouse message. Empty functions do nothing; an empty
// remoteScreenSize answers 1280 × 1024, the size before the first mode switch.
struct MouseWindow {
  std::function<void()> setCursor;
  std::function<void()> restartIdleCountdown;  // timeout × 60 s
  std::function<void()> markActivity;          // input seen since the last keep-alive
  std::function<void()> trackHover;            // ask for a hover notification
  std::function<void()> takeFocus;
  std::function<std::pair<int, int>()> remoteScreenSize;
};

// The console window's mouse message table, independent of the window system: the desktop and the
// headless host translate their events into these calls.
class MouseMessages {
 public:
  MouseMessages(CMouse& mouse, MouseWindow window, MenuBarMouse* menuBar = nullptr);

  void SetMenuBar(MenuBarMouse* menuBar) { menuBar_ = menuBar; }

  // controlHeld: the Control key was down with the move.
  void OnMove(int x, int y, bool controlHeld);
  void OnHover(int x, int y);
  void OnButton(MenuBarMouse::Event event, int x, int y);

 private:
  static void Call(const std::function<void()>& fn) {
    if (fn) fn();
  }

  CMouse& mouse_;
  MouseWindow window_;
  MenuBarMouse* menuBar_;
};

}  // namespace remcons
