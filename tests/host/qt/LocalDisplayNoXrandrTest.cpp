// The display modes as a build without XRandR has them (LocalDisplay.cpp compiled here without
// it): no modes on any display, so full screen runs the console's no-match path and the desktop
// keeps its mode.
#include <gtest/gtest.h>

#include "host/qt/LocalDisplay.h"
#include "host/qt/ModeEvents.h"
#include "support/FakeHost.h"
#include "video/VideoModes.h"

namespace remcons {
namespace {

// The console's host with the modes of a LocalDisplay.
class DisplayHost : public testing::FakeHost {
 public:
  explicit DisplayHost(LocalDisplay& display) : display_(display) {}
  bool EnumDisplayMode(int index, DisplayMode* mode) override {
    return display_.EnumMode(index, mode);
  }
  int ChangeDisplayMode(const DisplayMode* mode) override {
    changes.push_back(mode ? std::optional<DisplayMode>(*mode) : std::nullopt);
    return display_.ChangeMode(mode);
  }
  std::vector<std::optional<DisplayMode>> changes;

 private:
  LocalDisplay& display_;
};

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

  DisplayHost host(display);
  testing::RecordingModeEvents events;
  VideoModes modes(host, events);
  modes.SetFullScreen(true);
  modes.SwitchVideoMode(1024, 768);
  ASSERT_EQ(host.Boxes().size(), 1u);
  EXPECT_EQ(host.Boxes()[0].text, "Unable to find a match for 800x600.");
  EXPECT_EQ(host.Boxes()[0].caption, "Warning");
  // The no-match path puts the desktop's mode back; nothing was switched.
  EXPECT_EQ(host.changes, (std::vector<std::optional<DisplayMode>>{std::nullopt}));
  EXPECT_EQ(events.resizes, 1);  // the size changed all the same
}

}  // namespace
}  // namespace remcons
