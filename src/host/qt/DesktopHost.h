// The Host seam for a console window on the desktop: Qt's event loop as the window thread (the
// QtHost it extends), the local display's modes through XRandR, and the window's focus, keyboard
// grab, cursor and hover notices, which the window that owns the host carries out.
#pragma once

#include <functional>
#include <utility>

#include "host/qt/LocalDisplay.h"
#include "host/qt/QtHost.h"

class QWidget;

namespace remcons {

class DesktopHost : public QtHost {
 public:
  // What the console's window does for the session (window thread). Empty functions do nothing.
  struct WindowCalls {
    std::function<void()> setFocus;
    std::function<bool(bool grab)> grabKeyboard;
    std::function<void()> setCursor;
    std::function<void()> trackHover;
    // The console's widget: dialogs belong to its window.
    QWidget* dialogParent = nullptr;
  };

  // Made on the window thread. display is not owned and outlives the host.
  explicit DesktopHost(LocalDisplay& display) : display_(display) {}

  void SetWindowCalls(WindowCalls calls) { window_ = std::move(calls); }
  LocalDisplay& display() { return display_; }

  // Any thread.
  bool EnumDisplayMode(int index, DisplayMode* mode) override;
  int ChangeDisplayMode(const DisplayMode* mode) override;
  // Window thread; from another thread the focus and cursor calls are queued for it.
  void SetFocus() override;
  bool GrabKeyboard(bool grab) override;
  void SetCursor() override;
  void TrackHover() override;
  // Qt's file dialog and the Replay Menu over the console (window thread).
  std::optional<std::string> ChooseFile(const FileDialog& dialog) override;
  bool ShowReplayMenu(std::function<void(int choice)> choice) override;

 private:
  // Runs fn now on the window thread, else queues it there.
  void OnWindowThread(const std::function<void()>& fn);

  LocalDisplay& display_;
  WindowCalls window_;
};

}  // namespace remcons
