// The desktop console on a real X server (Xvfb, started by the test main): the keyboard grab
// follows the focus and goes before a modal box, keys typed through the X server (XTest) reach the
// simulator (Alt+Tab and Ctrl+Alt+Q too, under the grab), two consoles hand the keyboard over, the
// mode search sees Xvfb's one mode, and the remcons program opens its window there (SIGTERM and
// SIGINT to it are in the Xorg tests).
#include <gtest/gtest.h>

#include "host/qt/DesktopUtil.h"
#include "host/qt/LocalDisplay.h"

#include <tuple>

// Xlib last: its macros (None, Bool, Status) would break the Qt headers.
#ifdef REMCONS_HAVE_XTEST
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#endif

namespace remcons {
namespace {

using testing::ConsoleRig;
using testing::PacketBytes;
using testing::ScratchDir;
using testing::WaitUntil;
using Bytes = std::vector<uint8_t>;

class OnXvfb : public ::testing::Test {
 protected:
  void SetUp() override {
    if (testing::TestDisplay().empty()) GTEST_SKIP() << testing::XServerMissing();
  }
  std::unique_ptr<ConsoleRig> Start(const PropertyBag& extra = {}) {
    auto rig = std::make_unique<ConsoleRig>(extra);
    EXPECT_TRUE(rig->Show());
    EXPECT_TRUE(rig->ShowsServerScreen());
    return rig;
  }
  // Makes the widget's window the one with the X input focus.
  static bool Focus(ConsoleRig& rig) {
    rig.widget()->activateWindow();
    rig.widget()->setFocus(Qt::ActiveWindowFocusReason);
    return WaitUntil([&] { return rig.widget()->hasFocus() && rig.widget()->KeyboardGrabbed(); });
  }
};

TEST_F(OnXvfb, TheKeyboardGrabFollowsTheFocusAndGoesBeforeAModalBox) {
  auto rig = Start();
  ASSERT_TRUE(Focus(*rig));
  rig->widget()->clearFocus();
  EXPECT_TRUE(WaitUntil([&] { return !rig->widget()->KeyboardGrabbed(); }));
  ASSERT_TRUE(Focus(*rig));
  // This box is for the user.
  rig->widget()->SetMessageBoxPolicy(nullptr);
  std::optional<bool> grabbedWhileShown;
  testing::BoxAnswer seen;
  testing::AnswerNextBox(&seen, "OK",
                         [&] { grabbedWhileShown = rig->widget()->KeyboardGrabbed(); });
  rig->control().ShowMessage("Virtual Media Not Authorized", "Warning", kMbOk | kMbIconWarning);
  EXPECT_EQ(grabbedWhileShown, std::optional<bool>(false));
  // The focus comes back, and the grab with it.
  EXPECT_TRUE(Focus(*rig));
}

#ifdef REMCONS_HAVE_XTEST
// Keys pressed on the X server's keyboard, as a user types them.
class XKeyboard {
 public:
  XKeyboard() : display_(XOpenDisplay(testing::TestDisplay().c_str())) {}
  ~XKeyboard() {
    if (display_) XCloseDisplay(display_);
  }
  bool ok() const { return display_ != nullptr; }
  void Key(int keycode, bool press) {
    XTestFakeKeyEvent(display_, static_cast<unsigned>(keycode), press ? True : False, 0);
    XFlush(display_);
  }
  void Tap(int keycode) {
    Key(keycode, true);
    Key(keycode, false);
  }

 private:
  Display* display_;
};

// Under the grab Alt+Tab and Ctrl+Alt+Q are the server's; Ctrl and Alt pressed together and let
// go give the keyboard back to the desktop; a click into the picture takes it again.
TEST_F(OnXvfb, KeysTypedThereReachTheServerAndTheCtrlAltChordReleasesTheGrabUntilAClick) {
  auto rig = Start({{"kbdMode", "1"}});
  rig->widget()->SetDesktopHotkeys(true);
  ASSERT_TRUE(Focus(*rig));
  XKeyboard keyboard;
  ASSERT_TRUE(keyboard.ok());
  keyboard.Tap(38);  // A
  keyboard.Key(64, true);
  keyboard.Tap(23);  // Tab
  keyboard.Key(64, false);
  ASSERT_TRUE(WaitUntil([&] { return rig->server().PacketCount("hid") >= 6; }));
  const Bytes none = {0xFF, 0xD6, 0, 0, 0, 0, 0, 0, 0, 0},
              alt = {0xFF, 0xD6, 4, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(PacketBytes(rig->server(), {"hid"}),
            (std::vector<Bytes>{{0xFF, 0xD6, 0, 0, 0x04, 0, 0, 0, 0, 0},
                                none,
                                alt,
                                {0xFF, 0xD6, 0x04, 0, 0x2B, 0, 0, 0, 0, 0},
                                alt,
                                none}));
  keyboard.Key(37, true);
  keyboard.Key(64, true);
  keyboard.Tap(24);  // Q
  keyboard.Key(64, false);
  keyboard.Key(37, false);
  ASSERT_TRUE(WaitUntil([&] { return rig->server().PacketCount("hid") >= 12; }));
  EXPECT_TRUE(rig->widget()->KeyboardGrabbed());
  keyboard.Key(37, true);
  keyboard.Key(64, true);
  keyboard.Key(64, false);
  keyboard.Key(37, false);
  EXPECT_TRUE(WaitUntil([&] { return !rig->widget()->KeyboardGrabbed(); }));
  testing::Click(rig->widget(), QPoint(300, 300));
  EXPECT_TRUE(WaitUntil([&] { return rig->widget()->KeyboardGrabbed(); }));
}

TEST_F(OnXvfb, TwoConsolesHandTheKeyboardOverWithTheFocus) {
  auto first = Start({{"kbdMode", "1"}});
  auto second = Start({{"kbdMode", "1"}});
  second->widget()->move(300, 200);
  XKeyboard keyboard;
  ASSERT_TRUE(keyboard.ok());

  ASSERT_TRUE(Focus(*first));
  EXPECT_FALSE(second->widget()->KeyboardGrabbed());
  keyboard.Tap(38);
  ASSERT_TRUE(WaitUntil([&] { return first->server().PacketCount("hid") >= 2; }));

  ASSERT_TRUE(Focus(*second));
  EXPECT_TRUE(WaitUntil([&] { return !first->widget()->KeyboardGrabbed(); }));
  keyboard.Tap(39);
  ASSERT_TRUE(WaitUntil([&] { return second->server().PacketCount("hid") >= 2; }));
  EXPECT_EQ(first->server().PacketCount("hid"), 2u);
  EXPECT_EQ(PacketBytes(second->server(), {"hid"}).front(),
            (Bytes{0xFF, 0xD6, 0, 0, 0x16, 0, 0, 0, 0, 0}));  // S
}
#endif

// XRandR on Xvfb: one mode, which switching to changes nothing. The search through many modes
// runs on Xorg; the box for no match on the offscreen platform.
TEST_F(OnXvfb, TheModeSearchSeesXvfbsOneMode) {
  LocalDisplay display(testing::TestDisplay());
  ASSERT_TRUE(display.Available());
  DisplayMode mode, none;
  ASSERT_TRUE(display.EnumMode(0, &mode));
  EXPECT_EQ(std::tuple(mode.width, mode.height, mode.bitsPerPixel, mode.orientation),
            std::tuple(1280, 1024, 32, 0));
  EXPECT_FALSE(display.EnumMode(1, &none));
  // The application's own display is the same server.
  EXPECT_TRUE(LocalDisplay::ForApplication()->Available());
  EXPECT_EQ(display.ChangeMode(&mode), kDispChangeSuccessful);
  EXPECT_EQ(display.ChangeMode(nullptr), kDispChangeSuccessful);
  EXPECT_EQ(display.CurrentMode()->width, 1280);
}

// --- The remcons program on this display ---

TEST_F(OnXvfb, TheProgramOpensItsWindowAndEndsWithItsSession) {
  ScratchDir dir;
  {
    std::ofstream script(dir / "script.txt");
    script << "wait-event OnResize 15000\nsleep 300\ntype dir\\n\nsleep 500\nstop\n";
  }
  const pid_t pid = testing::StartOnTestDisplay(
      {REMCONS_BINARY, "--demo", "--script", dir / "script.txt", "--events", dir / "events.json",
       "--snapshot", dir / "end.png", "--seconds", "20"},
      dir);
  const int status = testing::WaitProgram(pid, 60000);
  const std::string err = testing::ReadText(dir / "err.txt");
  EXPECT_EQ(status, 0) << err;
  // A window, not a headless run.
  EXPECT_EQ(err.find("headless"), std::string::npos) << err;
  const std::vector<std::string> names = testing::EventNamesIn(dir / "events.json");
  ASSERT_FALSE(names.empty());
  EXPECT_EQ(names.front(), "OnResize");
  EXPECT_EQ(names.back(), "OnShutdown");
  const std::optional<testing::RgbImage> image = testing::ReadPng(dir / "end.png");
  EXPECT_TRUE(image && image->width == 1024 && image->height == 768);
}

}  // namespace
}  // namespace remcons
