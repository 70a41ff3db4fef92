// Which buttons each kind of console shows (their places are the bar's tests', which click on both
// sides of their entries' edges).
#include <gtest/gtest.h>

#include "ui/MenuBarLayout.h"

namespace remcons {
namespace {

using B = BarButton;

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
