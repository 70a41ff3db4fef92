// Where the menu bar's buttons, tooltip strip and panels lie for a window width, and which buttons
// a console shows. The bar is centred; every position counts from its right edge R.
#pragma once

#include <cstdint>

#include "platform/Surface.h"

namespace remcons {

enum class BarButton : int {
  kPin,
  kClose,
  kPower,
  kMedia,
  kKeys,
  kReplay,
  kRecord,
  kControl,
  kClientList,
  kLock,
  // Replay controls.
  kPlayPause,
  kStop,
  kFastPlay,
  kCount,
};
inline constexpr int kBarButtonCount = static_cast<int>(BarButton::kCount);

// What decides which buttons a console has.
struct BarModes {
  uint32_t muMode = 0;  // 0 single, 1 session leader, 2 joining console
  bool screenCapture = false;
  bool clientCapture = false;
  bool replayMode = false;
};

namespace layout {

// The bar's right edge for a window width.
constexpr int BarRight(int windowWidth) {
  return (640 + windowWidth) / 2;
}
Rect Bar(int windowWidth);
Rect Button(BarButton button, int windowWidth);
bool Present(BarButton button, const BarModes& modes);
Rect TooltipStrip(int windowWidth);
Rect KeysPanel(int windowWidth);
Rect PowerCompact(int windowWidth);
Rect PowerExtended(int windowWidth);
// Empty for no entries.
Rect DriveMenu(int windowWidth, int entries);

// Keys menu: the row (0 to 6) at a point relative to the panel's top left, or -1 in a gap or
// outside the rows.
int KeysRowAt(int x, int y);

// Power menu entries relative to their panel.
struct PowerEntryPlace {
  int compactX, compactY;
  int extendedX, extendedY;
};
inline constexpr PowerEntryPlace kPowerEntryPlaces[4] = {
    {12, 12, 15, 68}, {12, 28, 15, 152}, {12, 44, 15, 206}, {12, 59, 15, 258}};
inline constexpr int kCompactClickWidth = 114;
inline constexpr int kExtendedClickWidth = 89;
inline constexpr int kEntryClickHeight = 15;
// The "Extended Menu" link: its image's place and its click area, in the compact panel.
inline constexpr int kLinkX = 12;
inline constexpr int kLinkY = 74;
inline constexpr Rect kLinkClick{12, 75, 89, 90};

// Drive menu rows relative to the menu: icon, label and button places of row k.
constexpr int DriveIconY(int row) {
  return 5 + 21 * row;
}
inline constexpr int kDriveIconX = 5;
inline constexpr int kDriveLabelX = 25;
inline constexpr int kDriveButtonX = 61;
constexpr int DriveButtonY(int row) {
  return 4 + 21 * row;
}
// The area in which a press mounts or unmounts row k.
Rect DriveButtonClick(int row);

}  // namespace layout
}  // namespace remcons
