#include "video/VideoModes.h"

#include <gtest/gtest.h>

#include <future>
#include <optional>

#include "video/FrameBuffer.h"

#include "support/FakeHost.h"
#include "video/VideoFakes.h"

namespace remcons {
namespace {

using testing::FakeEvents;
using testing::FakeHost;

struct Modes {
  FakeHost host;
  FakeEvents events;
  VideoModes modes{host, events};
};

DisplayMode M(int w, int h, int bpp = 32, int hz = 60, int orientation = 0) {
  return DisplayMode{w, h, bpp, hz, orientation};
}
template <typename... Ts>
std::vector<DisplayMode> Ms(Ts... modes) {
  return {modes...};
}

TEST(FindBestLocalMode, ChoosesByRateDepthSizeAndOrientation) {
  struct Case {
    const char* name;
    int w, h;
    std::optional<DisplayMode> expected;
    std::vector<DisplayMode> modes;
    std::string box = "";  // a warning shown, if any
  };
  const Case cases[] = {
      {"both bounds inclusive", 1024, 768, M(1008, 752),
       Ms(M(1008, 752, 32, 60), M(1040, 784, 32, 60))},
      {"never portrait or rotated", 1024, 768, M(1024, 768, 16, 60),
       Ms(M(768, 1024), M(1024, 768, 32, 60, 1), M(1024, 768, 16, 60), M(1024, 768, 32, 60, 2))},
      {"oversized remote mode", 1600, 1200, M(1280, 1024), Ms(M(1280, 1024), M(1600, 1200)),
       "Remote video mode exceeds capabilities of Corvane. Limiting client to 1280 by 1024."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Modes m;
    m.host.displayModes = c.modes;
    EXPECT_EQ(m.modes.FindBestLocalMode(c.w, c.h), c.expected);
    m.host.RunPosted();
    auto boxes = m.host.Boxes();
    ASSERT_EQ(boxes.size(), c.box.empty() ? 0u : 1u);
    if (!c.box.empty()) {
      EXPECT_EQ(boxes[0].text, c.box);
      EXPECT_EQ(boxes[0].caption, "Warning");
    }
  }
}

// Windowed: the size is recorded and a resize asked for (the menu bar redrawn on a new
// size); above 1280 x 1024 a warning each time.
TEST(SwitchVideoMode, WindowedRecordsTheSizeAndWarnsAbove1280x1024) {
  Modes m;
  m.modes.SwitchVideoMode(1024, 768);
  m.modes.SwitchVideoMode(1024, 768);
  EXPECT_EQ(std::tuple(m.modes.remote_width(), m.modes.remote_height()), std::tuple(1024u, 768u));
  EXPECT_EQ(m.events.Log(), (std::vector<std::string>{"resize", "menubar-redraw:1024", "resize"}));
  EXPECT_TRUE(m.host.displayChanges.empty());
  m.modes.SwitchVideoMode(1600, 1200);
  // The stream goes on while the box waits for the user: a server switching back and forth
  // meanwhile adds no box.
  for (int i = 0; i < 5; ++i) {
    m.modes.SwitchVideoMode(1024, 768);
    m.modes.SwitchVideoMode(1600, 1200);
  }
  EXPECT_EQ(m.host.RunPosted(), 1);
  auto boxes = m.host.Boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text,
            "Remote video mode exceeds capabilities of Corvane. Please adjust the remote video "
            "settings to 1280 by 1024 or less.");
  EXPECT_EQ(boxes[0].caption, "Warning");
  EXPECT_EQ(std::tuple(m.modes.remote_width(), m.modes.remote_height()), std::tuple(1600u, 1200u));
  // Once it is closed, the next such switch shows it again.
  m.modes.SwitchVideoMode(1024, 768);
  m.modes.SwitchVideoMode(1600, 1200);
  m.host.RunPosted();
  EXPECT_EQ(m.host.Boxes().size(), 2u);
}

TEST(SwitchVideoMode, BoxesAreShownWithoutHoldingTheVideoLock) {
  // While a box is up the window thread paints, and painting takes the video lock.
  Modes m;
  auto lock = OpenNamedMutex(kVideoLockName);
  std::vector<bool> paintable;
  m.host.answer = [&](const FakeHost::Box&) {
    paintable.push_back(std::async(std::launch::async, [&] {
                          const bool got = lock->try_lock();
                          if (got) lock->unlock();
                          return got;
                        }).get());
    return kIdOk;
  };
  m.modes.SwitchVideoMode(1600, 1200);  // windowed warning
  m.modes.SetFullScreen(true);
  m.host.displayModes = {M(1280, 1024)};
  m.host.displayChangeResult = kDispChangeFailed;
  m.modes.SwitchVideoMode(1920, 1200);  // limit warning, then the failed change
  m.host.displayModes = {};
  m.modes.SwitchVideoMode(1024, 768);  // no match
  m.host.RunPosted();
  EXPECT_EQ(paintable, (std::vector<bool>{true, true, true, true}));
  EXPECT_EQ(m.host.Boxes().size(), 4u);
}

TEST(SwitchVideoMode, AFailedDisplayChangeIsShown) {
  Modes m;
  m.modes.SetFullScreen(true);
  m.host.displayModes = {M(1024, 768)};
  m.host.displayChangeResult = kDispChangeBadMode;
  m.modes.SwitchVideoMode(1024, 768);
  auto boxes = m.host.Boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, "The graphics mode is not supported.");
  EXPECT_EQ(boxes[0].caption, "DEBUG");
  EXPECT_EQ(m.events.Log(), (std::vector<std::string>{"menubar-reposition:1024", "resize"}));

  // A result without a text of its own keeps the trace text.
  m.host.ClearRecords();
  m.host.displayChangeResult = 7;
  m.modes.SwitchVideoMode(1024, 769);
  boxes = m.host.Boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text,
            "Remote video mode: (1024x769), Best local match: (1024x768) 60Hz. Changing to this "
            "mode.\n");
}

}  // namespace
}  // namespace remcons
