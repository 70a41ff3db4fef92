#include "host/qt/DesktopHost.h"

#include "host/qt/CaptureDialogs.h"

namespace remcons {

bool DesktopHost::EnumDisplayMode(int index, DisplayMode* mode) {
  return display_.EnumMode(index, mode);
}

int DesktopHost::ChangeDisplayMode(const DisplayMode* mode) {
  return display_.ChangeMode(mode);
}

void DesktopHost::OnWindowThread(const std::function<void()>& fn) {
  if (!fn) return;
  if (IsUiThread()) {
    fn();
  } else {
    PostToUi(fn);
  }
}

void DesktopHost::SetFocus() {
  OnWindowThread(window_.setFocus);
}

bool DesktopHost::GrabKeyboard(bool grab) {
  // A grab belongs to the window thread; the session only asks for it there.
  if (!window_.grabKeyboard || !IsUiThread()) return false;
  return window_.grabKeyboard(grab);
}

void DesktopHost::SetCursor() {
  OnWindowThread(window_.setCursor);
}

void DesktopHost::TrackHover() {
  OnWindowThread(window_.trackHover);
}

std::optional<std::string> DesktopHost::ChooseFile(const FileDialog& dialog) {
  if (!IsUiThread()) return std::nullopt;
  // A grabbed keyboard would keep its keys from the dialog.
  GrabKeyboard(false);
  return RunCaptureFileDialog(window_.dialogParent, dialog);
}

bool DesktopHost::ShowReplayMenu(std::function<void(int)> choice) {
  if (!IsUiThread()) return false;
  new ReplayMenuDialog(window_.dialogParent, std::move(choice));
  return true;
}

}  // namespace remcons
