// Full screen on a display that can switch modes: Xorg with the dummy video driver (started by the
// test main, as root). The modes it lists, a switch and the way back (the console's choice among
// them is the video tests'), the widget following the server's mode changes and restoring the
// desktop's mode when its session ends, and the remcons program's window restoring it when SIGTERM
// or SIGINT ends it.
#include <gtest/gtest.h>
#include <signal.h>

#include <set>
#include <tuple>

#include "host/qt/DesktopHost.h"
#include "host/qt/DesktopUtil.h"
#include "host/qt/LocalDisplay.h"
#include "ui/MenuBarLayout.h"

// Xlib last: its macros (None, Bool, Status) would break the Qt headers.
#include <X11/Xlib.h>

namespace remcons {
namespace {

using testing::Center;
using testing::ConsoleRig;
using testing::ScratchDir;
using testing::WaitUntil;

// The root window's size as a fresh client sees it.
std::pair<int, int> RootSize() {
  Display* d = XOpenDisplay(testing::TestDisplay().c_str());
  if (!d) return {0, 0};
  Window root;
  int x, y;
  unsigned int w = 0, h = 0, border, depth;
  XGetGeometry(d, DefaultRootWindow(d), &root, &x, &y, &w, &h, &border, &depth);
  XCloseDisplay(d);
  return {static_cast<int>(w), static_cast<int>(h)};
}

class OnXorg : public ::testing::Test {
 protected:
  void SetUp() override {
    if (testing::TestDisplay().empty()) GTEST_SKIP() << testing::XServerMissing();
    display_ = std::make_unique<LocalDisplay>(testing::TestDisplay());
    ASSERT_TRUE(display_->Available());
  }
  void TearDown() override {
    // Every test leaves the desktop's mode as it found it.
    if (display_) {
      EXPECT_EQ(Current(), "1280x1024");
    }
    EXPECT_EQ(RootSize(), (std::pair{1280, 1024}));
  }
  std::string Current() {
    const std::optional<DisplayMode> m = display_->CurrentMode();
    return m ? std::to_string(m->width) + "x" + std::to_string(m->height) : "none";
  }
  bool ModeBecomes(const std::string& mode, int ms = 15000) {
    return WaitUntil([&] { return Current() == mode; }, ms);
  }
  std::unique_ptr<LocalDisplay> display_;
};

// The widget follows the server's mode: the picture's size is reported once the display has
// switched. The close button pressed then, while the console thread waits for the window (inside
// the resize notice it sent), finds the thread busy: the stop gives it 100 ms and reports it has
// not ended. The thread's own closing notice must still bring the desktop's mode back.
TEST_F(OnXorg, TheWidgetFollowsTheServerAndABusyStopStillRestoresTheMode) {
  ConsoleRig rig(PropertyBag{{"fullScreen", "1"}});
  // The widget uses the application's display, which is this server.
  ASSERT_TRUE(rig.Show());
  ASSERT_TRUE(ModeBecomes("1024x768"));
  bool stopCompleted = true;
  std::string modeAtResize;
  QObject::connect(rig.widget(), &RemConsWidget::OnResize, rig.widget(), [&](int cx, int) {
    if (cx != 800) return;
    modeAtResize = Current();
    const QPoint close = Center(layout::Button(BarButton::kClose, 800));
    rig.widget()->resize(800, 600);
    testing::Move(rig.widget(), close);
    testing::Click(rig.widget(), close);
    stopCompleted = rig.control().SessionStopped();
  });
  rig.server().SetMode(800, 600);
  EXPECT_TRUE(
      WaitUntil([&] { return rig.shutdowns_ > 0 && !rig.control().ConsoleThreadRunning(); }));
  EXPECT_EQ(modeAtResize, "800x600");
  EXPECT_FALSE(stopCompleted);
  EXPECT_TRUE(rig.boxes_.empty());
  // The widget (and its session's objects) still exist: the mode came back with the session's end.
  EXPECT_TRUE(ModeBecomes("1280x1024", 5000));
}

TEST_F(OnXorg, TheProgramPutsTheModeBackWhenInterrupted) {
  for (int signal : {SIGTERM, SIGINT}) {
    SCOPED_TRACE(signal);
    ScratchDir dir;
    const pid_t pid = testing::StartProgram(
        {REMCONS_BINARY, "--demo", "--param", "fullScreen=1", "--events", dir / "events.json"},
        {"DISPLAY=" + testing::TestDisplay(), "QT_QPA_PLATFORM=xcb"}, "/dev/null", dir / "err.txt");
    ASSERT_GT(pid, 0);
    const bool switched = ModeBecomes("1024x768", 20000);
    kill(pid, signal);
    const int status = testing::WaitProgram(pid, 20000);
    const std::string err = testing::ReadText(dir / "err.txt");
    ASSERT_TRUE(switched) << err;
    EXPECT_EQ(status, 0) << err;
    EXPECT_EQ(err.find("headless"), std::string::npos) << err;  // a window, not a headless run
    EXPECT_TRUE(ModeBecomes("1280x1024", 5000));
    const std::vector<std::string> names =
        testing::EventNames(testing::ReadJsonLines(dir / "events.json"));
    EXPECT_TRUE(names.size() >= 2 && names[0] == "OnResize" && names.back() == "OnShutdown");
  }
}

}  // namespace
}  // namespace remcons
