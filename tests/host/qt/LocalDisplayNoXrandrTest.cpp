// The display modes as a build without XRandR has them (LocalDisplay.cpp compiled here without
// it): no modes on any display, so full screen takes the console's no-match path (as on the
// offscreen platform) and the desktop keeps its mode.
#include <gtest/gtest.h>

#include "host/qt/LocalDisplay.h"

namespace remcons {
namespace {

TEST(LocalDisplayWithoutXRandR, OffersNoModesAndFullScreenKeepsTheDesktopsMode) {
  EXPECT_FALSE(LocalDisplay::CompiledWithXRandR());
  // Whatever display it is given, even one that exists.
  LocalDisplay display(":0");
  EXPECT_FALSE(display.Available());
  DisplayMode mode{1024, 768, 32, 60, 0};
  EXPECT_FALSE(display.EnumMode(0, &mode));
  EXPECT_EQ(display.ChangeMode(&mode), kDispChangeBadMode);
  EXPECT_EQ(display.ChangeMode(nullptr), kDispChangeSuccessful);
  EXPECT_FALSE(display.CurrentMode());
}

}  // namespace
}  // namespace remcons
