// Where the bar's pieces lie for a window width, and which buttons each kind of console shows.
// The panels follow from these (the bar's tests click on both sides of their entries' edges).
#include <gtest/gtest.h>

#include "ui/MenuBarLayout.h"

namespace remcons {
namespace {

using B = BarButton;

TEST(MenuBarLayout, ButtonsAtTheirPlacesForCommonWidths) {
  // The bar's right edge R for each width, worked out by hand: (640 + width) / 2.
  struct Width {
    int width, r;
  };
  const Width widths[] = {{640, 640}, {800, 720}, {1024, 832}, {1280, 960}};
  // Each button as (R - left, top, R - right, bottom).
  struct Place {
    B button;
    int fromLeft, top, fromRight, bottom;
  };
  const Place places[] = {
      {B::kPin, 620, 2, 604, 18},        {B::kClose, 42, 2, 25, 19},
      {B::kPower, 62, 2, 44, 19},        {B::kMedia, 84, 2, 62, 19},
      {B::kKeys, 104, 2, 86, 23},        {B::kReplay, 129, 2, 113, 18},
      {B::kRecord, 147, 2, 131, 18},     {B::kControl, 206, 2, 190, 18},
      {B::kClientList, 170, 2, 154, 18}, {B::kLock, 188, 2, 172, 18},
      {B::kPlayPause, 135, 2, 107, 18},  {B::kStop, 105, 2, 77, 18},
      {B::kFastPlay, 75, 2, 46, 18},
  };
  for (const Width& w : widths) {
    EXPECT_EQ(layout::BarRight(w.width), w.r);
    EXPECT_EQ(layout::Bar(w.width), (Rect{w.r - 640, 0, w.r, 22})) << w.width;
    for (const Place& p : places) {
      EXPECT_EQ(layout::Button(p.button, w.width),
                (Rect{w.r - p.fromLeft, p.top, w.r - p.fromRight, p.bottom}))
          << "width " << w.width << " button " << static_cast<int>(p.button);
    }
  }
}

TEST(MenuBarLayout, WhichButtonsEachConsoleShows) {
  // Columns: pin close power media keys replay record control clientList lock play stop fast.
  struct Case {
    BarModes modes;
    const char* present;
  };
  const Case cases[] = {
      {{0, false, false, false}, "1111100000000"},
      {{0, true, false, false}, "1111110000000"},
      {{0, false, true, false}, "1111111000000"},
      {{1, false, false, false}, "1111100111000"},
      {{1, true, true, false}, "1111111111000"},
      // A joining console: no power, media, record or replay, but the control button.
      {{2, true, true, false}, "1100100100000"},
      // Replay mode: pin, close and the replay controls only.
      {{0, true, true, true}, "1100000000111"},
      {{1, true, true, true}, "1100000000111"},
  };
  for (const Case& c : cases) {
    std::string got;
    for (int b = 0; b < kBarButtonCount; ++b) {
      got += layout::Present(static_cast<B>(b), c.modes) ? '1' : '0';
    }
    EXPECT_EQ(got, c.present) << "muMode " << c.modes.muMode << " screen " << c.modes.screenCapture
                              << " client " << c.modes.clientCapture << " replay "
                              << c.modes.replayMode;
  }
}

}  // namespace
}  // namespace remcons
