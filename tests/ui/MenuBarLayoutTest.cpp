// Where the bar lies for a window width, and which buttons each kind of console shows. The
// buttons' and panels' places follow from these (the bar's tests click on both sides of their
// entries' edges).
#include <gtest/gtest.h>

#include "ui/MenuBarLayout.h"

namespace remcons {
namespace {

using B = BarButton;

TEST(MenuBarLayout, BarAndOutermostButtonsForCommonWidths) {
  // The bar's right edge R, worked out by hand: (640 + width) / 2.
  for (const auto& [width, r] : {std::pair{640, 640}, {800, 720}, {1024, 832}, {1281, 960}}) {
    EXPECT_EQ(layout::Bar(width), (Rect{r - 640, 0, r, 22})) << width;
    EXPECT_EQ(layout::Button(B::kPin, width), (Rect{r - 620, 2, r - 604, 18})) << width;
    EXPECT_EQ(layout::Button(B::kClose, width), (Rect{r - 42, 2, r - 25, 19})) << width;
  }
}

TEST(MenuBarLayout, WhichButtonsEachConsoleShows) {
  // Columns: pin close power media keys replay record control clientList lock play stop fast.
  const std::pair<BarModes, const char*> cases[] = {
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
  for (const auto& [modes, present] : cases) {
    std::string got;
    for (int b = 0; b < kBarButtonCount; ++b)
      got += layout::Present(static_cast<B>(b), modes) ? '1' : '0';
    EXPECT_EQ(got, present) << "muMode " << modes.muMode << " screen " << modes.screenCapture
                            << " client " << modes.clientCapture << " replay " << modes.replayMode;
  }
}

}  // namespace
}  // namespace remcons
