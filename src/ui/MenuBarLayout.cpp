#include "ui/MenuBarLayout.h"

#include "ui/MenuBarImages.h"

namespace remcons::layout {
namespace {

// Rectangles as offsets from the bar's right edge R: (R - left, top, R - right, bottom).
struct FromRight {
  int left, top, right, bottom;
  Rect At(int r) const { return {r - left, top, r - right, bottom}; }
};

constexpr FromRight kButtons[kBarButtonCount] = {
    {620, 2, 604, 18},  // pin
    {42, 2, 25, 19},    // close
    {62, 2, 44, 19},    // power
    {84, 2, 62, 19},    // virtual media
    {104, 2, 86, 23},   // keys
    {129, 2, 113, 18},  // replay
    {147, 2, 131, 18},  // record
    {206, 2, 190, 18},  // control
    {170, 2, 154, 18},  // client list
    {188, 2, 172, 18},  // lock
    {135, 2, 107, 18},  // play / pause
    {105, 2, 77, 18},   // stop
    {75, 2, 46, 18},    // fast play
};

}  // namespace

Rect Bar(int windowWidth) {
  const int r = BarRight(windowWidth);
  return {r - menubar::kBarWidth, 0, r, menubar::kBarHeight};
}

Rect Button(BarButton button, int windowWidth) {
  return kButtons[static_cast<int>(button)].At(BarRight(windowWidth));
}

bool Present(BarButton button, const BarModes& m) {
  const bool capture = m.screenCapture || m.clientCapture;
  switch (button) {
    case BarButton::kPin:
    case BarButton::kClose:
      return true;
    case BarButton::kPlayPause:
    case BarButton::kStop:
    case BarButton::kFastPlay:
      return m.replayMode;
    default:
      break;
  }
  if (m.replayMode) return false;
  switch (button) {
    case BarButton::kPower:
    case BarButton::kMedia:
      return m.muMode != 2;
    case BarButton::kKeys:
      return true;
    case BarButton::kReplay:
      return m.muMode != 2 && capture;
    case BarButton::kRecord:
      return m.muMode != 2 && m.clientCapture;
    case BarButton::kControl:
      return m.muMode != 0;
    case BarButton::kClientList:
    case BarButton::kLock:
      return m.muMode == 1;
    default:
      return false;
  }
}

Rect TooltipStrip(int windowWidth) {
  return FromRight{102, 23, 35, 32}.At(BarRight(windowWidth));
}

Rect KeysPanel(int windowWidth) {
  return FromRight{94, 31, 14, 163}.At(BarRight(windowWidth));
}

Rect PowerCompact(int windowWidth) {
  return FromRight{300, 31, 186, 125}.At(BarRight(windowWidth));
}

Rect PowerExtended(int windowWidth) {
  return FromRight{480, 31, 156, 319}.At(BarRight(windowWidth));
}

Rect DriveMenu(int windowWidth, int entries) {
  if (entries <= 0) return {};
  return FromRight{200, 31, 90, 31 + menubar::DriveMenuHeight(entries)}.At(BarRight(windowWidth));
}

int KeysRowAt(int x, int y) {
  if (x < 4 || x >= 76) return -1;
  for (int k = 0; k < 7; ++k) {
    if (y > 4 + 18 * k && y < 20 + 18 * k) return k;
  }
  return -1;
}

Rect DriveButtonClick(int row) {
  // The press area runs from the label's end over the whole button image, so that a press anywhere
  // on the visible button counts.
  return {45, DriveButtonY(row), kDriveButtonX + menubar::kMountWidth,
          DriveButtonY(row) + menubar::kMountHeight};
}

}  // namespace remcons::layout
