// The desktop console on a real X server (Xvfb, started by the test main): the keyboard grab
// follows the focus and goes before a modal box, keys typed through the X server (XTest) reach the
// simulator (Alt+Tab and Ctrl+Alt+Q too, under the grab), and XRandR's one mode. The mode switches
// and the remcons program's window run on Xorg.
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
using testing::WaitUntil;
using Bytes = std::vector<uint8_t>;

class OnXvfb : public ::testing::Test {
 protected:
  void SetUp() override {
    if (testing::TestDisplay().empty()) GTEST_SKIP() << testing::XServerMissing();
  }
  // Makes the widget's window the one with the X input focus.
  static bool Focus(ConsoleRig& rig) {
    rig.widget()->activateWindow();
    rig.widget()->setFocus(Qt::ActiveWindowFocusReason);
    return WaitUntil([&] { return rig.widget()->hasFocus() && rig.widget()->KeyboardGrabbed(); });
  }
};

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

// The grab follows the focus and goes while a modal box shows. Under it Alt+Tab and Ctrl+Alt+Q
// are the server's; Ctrl and Alt pressed together and let go give the keyboard back to the
// desktop; a click into the picture takes it again.
TEST_F(OnXvfb, TheGrabFollowsTheFocusAndKeysTypedThereReachTheServer) {
  auto rig = ConsoleRig::Started({{"kbdMode", "1"}});
  rig->widget()->SetDesktopHotkeys(true);
  ASSERT_TRUE(Focus(*rig));
  rig->widget()->clearFocus();
  EXPECT_TRUE(WaitUntil([&] { return !rig->widget()->KeyboardGrabbed(); }));
  ASSERT_TRUE(Focus(*rig));
  rig->widget()->SetMessageBoxPolicy(nullptr);  // this box is for the user
  std::optional<bool> grabbedWhileShown;
  testing::BoxAnswer seen;
  testing::AnswerNextBox(&seen, "OK",
                         [&] { grabbedWhileShown = rig->widget()->KeyboardGrabbed(); });
  rig->control().ShowMessage("Virtual Media Not Authorized", "Warning", kMbOk | kMbIconWarning);
  EXPECT_EQ(grabbedWhileShown, std::optional<bool>(false));
  ASSERT_TRUE(Focus(*rig));
  XKeyboard keyboard;
  ASSERT_TRUE(keyboard.ok());
  keyboard.Tap(38);  // A
  keyboard.Key(64, true);
  keyboard.Tap(23);  // Tab
  keyboard.Key(64, false);
  ASSERT_TRUE(WaitUntil([&] { return rig->server().PacketCount("hid") >= 6; }));
  // A, its release, Alt, then Tab with Alt held.
  EXPECT_EQ(PacketBytes(rig->server(), {"hid"}).at(3),
            (Bytes{0xFF, 0xD6, 4, 0, 0x2B, 0, 0, 0, 0, 0}));
  for (int key : {37, 64}) keyboard.Key(key, true);
  keyboard.Tap(24);  // Q
  for (int key : {64, 37}) keyboard.Key(key, false);
  ASSERT_TRUE(WaitUntil([&] { return rig->server().PacketCount("hid") >= 12; }));
  EXPECT_TRUE(rig->widget()->KeyboardGrabbed());
  for (int key : {37, 64}) keyboard.Key(key, true);
  for (int key : {64, 37}) keyboard.Key(key, false);
  EXPECT_TRUE(WaitUntil([&] { return !rig->widget()->KeyboardGrabbed(); }));
  testing::Click(rig->widget(), QPoint(300, 300));
  EXPECT_TRUE(WaitUntil([&] { return rig->widget()->KeyboardGrabbed(); }));
}

#endif

// XRandR on Xvfb: one mode, which switching to changes nothing.
TEST_F(OnXvfb, TheModeSearchSeesXvfbsOneMode) {
  LocalDisplay display(testing::TestDisplay());
  DisplayMode mode, none;
  ASSERT_TRUE(display.Available() && display.EnumMode(0, &mode));
  EXPECT_EQ(std::tuple(mode.width, mode.height, mode.bitsPerPixel), std::tuple(1280, 1024, 32));
  EXPECT_FALSE(display.EnumMode(1, &none));
  EXPECT_EQ(display.ChangeMode(&mode), kDispChangeSuccessful);
  EXPECT_EQ(display.ChangeMode(nullptr), kDispChangeSuccessful);
}

}  // namespace
}  // namespace remcons
