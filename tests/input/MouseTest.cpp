#include "input/Mouse.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "input/Recorder.h"
#include "support/TraceCapture.h"

namespace remcons {
namespace {

using testing::Recorder;
using testing::TraceCapture;
using Strings = std::vector<std::string>;

TEST(Mouse, MovesSendStepAndGridPosition) {
  const struct {
    const char* name;
    int fromX, fromY, toX, toY, width, height;
    const char* sent;  // "" for nothing
  } cases[] = {
      // Grid positions worked by hand: X = x * 3000 / width, Y = y * 3000 / height, truncated.
      // dx 10, dy 10 (up is positive), X 322 = 0x142, Y 351 = 0x15F.
      {"Example", 100, 100, 110, 90, 1024, 768, "FF D0 0A 0A 01 42 01 5F"},
      // dx -5, dy -7; X = 95 * 3000 / 1024 = 278 = 0x116, Y = 107 * 3000 / 768 = 417 = 0x1A1.
      {"LeftAndDown", 100, 100, 95, 107, 1024, 768, "FF D0 FB F9 01 16 01 A1"},
      // 300 right: dx limited to 127; X = 400 * 3000 / 1280 = 937 = 0x3A9, Y = 100 * 3000 / 1024
      // = 292 = 0x124.
      {"JumpRight", 100, 100, 400, 100, 1280, 1024, "FF D0 7F 00 03 A9 01 24"},
      // 300 left: dx limited to -127 (0x81); X = 100 * 3000 / 1280 = 234 = 0xEA.
      {"JumpLeft", 400, 100, 100, 100, 1280, 1024, "FF D0 81 00 00 EA 01 24"},
      // 500 down: dy limited to -127; Y = 600 * 3000 / 1024 = 1757 = 0x6DD.
      {"JumpDown", 0, 100, 0, 600, 1280, 1024, "FF D0 00 81 00 00 06 DD"},
      {"JumpUp", 0, 600, 0, 100, 1280, 1024, "FF D0 00 7F 00 00 01 24"},
      {"SamePlace", 200, 150, 200, 150, 1024, 768, ""},
      // Bottom-right pixel of 800 x 600: X = 799 * 3000 / 800 = 2996 = 0xBB4, Y = 599 * 3000 /
      // 600 = 2995 = 0xBB3.
      {"BottomRight", 798, 598, 799, 599, 800, 600, "FF D0 01 FF 0B B4 0B B3"},
      // Outside the picture the position is that of the nearest edge pixel; the step is unchanged.
      {"LeftOfWindow", 3, 10, -6, 10, 1024, 768, "FF D0 F7 00 00 00 00 27"},
      {"AboveWindow", 10, 2, 10, -4, 1024, 768, "FF D0 00 06 00 1D 00 00"},
      // Window wider than the remote screen: x = 700 on a 640 x 480 screen counts as 639:
      // X = 639 * 3000 / 640 = 2995; Y = 10 * 3000 / 480 = 62 = 0x3E.
      {"PastTheRemoteScreen", 690, 10, 700, 10, 640, 480, "FF D0 0A 00 0B B3 00 3E"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Recorder out;
    CMouse mouse(out.Writer());
    mouse.Enable();
    mouse.SetPosition(c.fromX, c.fromY);
    mouse.Move(c.toX, c.toY, c.width, c.height);
    EXPECT_EQ(out.Texts(), *c.sent ? Strings{c.sent} : Strings{});
  }
}

// Nothing before Enable, which may come from another thread; then buttons and clicks.
TEST(Mouse, ButtonsAndClicksOnceEnabled) {
  TraceCapture trace;
  Recorder out;
  CMouse mouse(out.Writer());
  mouse.Move(10, 10, 1024, 768);
  mouse.Press(kMouseLeft);
  mouse.Release(kMouseLeft);
  mouse.Click(kMouseRight, 2);
  EXPECT_TRUE(out.writes.empty());
  EXPECT_FALSE(mouse.enabled());
  std::thread([&] { mouse.Enable(); }).join();
  mouse.Press(kMouseLeft);
  mouse.Release(kMouseLeft);
  mouse.Press(kMouseRight);
  mouse.Release(kMouseRight);
  mouse.Click(kMouseLeft, 2);
  mouse.Click(kMouseRight, 2);
  EXPECT_EQ(out.Texts(), (Strings{"FF D1 04", "FF D2 04", "FF D1 01", "FF D2 01", "FF D3 04 01",
                                  "FF D3 01 01"}));
  EXPECT_TRUE(trace.Has("Mouse clicks: 2\n"));
}

// Each step starts where the last move ended, even when the last step was clamped or its write
// refused.
TEST(Mouse, SuccessiveMovesStepFromTheLast) {
  Recorder out;
  CMouse mouse(out.Writer());
  mouse.Enable();
  mouse.Move(10, 10, 1000, 1000);  // from (0, 0): dx 10, dy -10; X = Y = 30
  mouse.Move(12, 13, 1000, 1000);  // dx 2, dy -3; X 36, Y 39
  mouse.Move(12, 13, 1000, 1000);  // nothing
  mouse.SetPosition(0, 0);
  mouse.Move(300, 0, 1000, 1000);  // dx limited to 127
  mouse.Move(301, 0, 1000, 1000);  // the next step starts at 300, not at 127
  out.refuse = true;
  mouse.Move(305, 5, 1000, 1000);
  out.refuse = false;
  mouse.Move(306, 5, 1000, 1000);
  EXPECT_EQ(out.Texts(), (Strings{"FF D0 0A F6 00 1E 00 1E", "FF D0 02 FD 00 24 00 27",
                                  "FF D0 7F 00 03 84 00 00", "FF D0 01 00 03 87 00 00",
                                  "FF D0 04 FB 03 93 00 0F", "FF D0 01 00 03 96 00 0F"}));
}

// ---- The window's mouse messages ----

class FakeMenuBar : public MenuBarMouse {
 public:
  bool HitTest(int x, int y) override { return bar.Contains(x, y); }
  void Show() override { calls.push_back("Show"); }
  void Hide() override { calls.push_back("Hide"); }
  void OnMouseMove(int x, int y) override {
    calls.push_back("Hover " + std::to_string(x) + "," + std::to_string(y));
  }
  bool OnMouseButton(Event event, int x, int y) override {
    calls.push_back("Button " + std::to_string(event));
    return bar.Contains(x, y);
  }

  struct {
    int left = 200, top = 0, right = 840, bottom = 22;
    bool Contains(int x, int y) const { return x >= left && x < right && y >= top && y < bottom; }
  } bar;
  Strings calls;
};

class MouseMessagesTest : public ::testing::Test {
 protected:
  MouseMessagesTest() : mouse(out.Writer()), messages(mouse, Window(), &menuBar) { mouse.Enable(); }

  MouseWindow Window() {
    MouseWindow w;
    w.setCursor = [this] { ++cursor; };
    w.restartIdleCountdown = [this] { ++countdown; };
    w.markActivity = [this] { ++activity; };
    w.trackHover = [this] { ++hover; };
    w.takeFocus = [this] { ++focus; };
    w.remoteScreenSize = [this] { return remote; };
    return w;
  }

  Recorder out;
  CMouse mouse;
  FakeMenuBar menuBar;
  MouseMessages messages;
  std::pair<int, int> remote{1024, 768};
  int cursor = 0, countdown = 0, activity = 0, hover = 0, focus = 0;
};

// Clicks on the bar are its own, elsewhere forwarded; both are user activity (except the right
// button's release), and only the left button takes the focus.
TEST_F(MouseMessagesTest, ButtonsGoToTheBarOrTheServer) {
  for (int y : {10, 400}) {
    for (int e = 0; e <= 5; ++e) messages.OnButton(static_cast<MenuBarMouse::Event>(e), 300, y);
  }
  // The system follows a double click with an up.
  EXPECT_EQ(out.Texts(), (Strings{"FF D1 04", "FF D2 04", "FF D3 04 01", "FF D1 01", "FF D2 01",
                                  "FF D3 01 01"}));
  Strings asked;  // the bar is asked about each
  for (int n = 0; n < 12; ++n) asked.push_back("Button " + std::to_string(n % 6));
  EXPECT_EQ(menuBar.calls, asked);
  EXPECT_EQ(countdown, 12);
  EXPECT_EQ(activity, 10);
  EXPECT_EQ(focus, 2);
}

// Over the bar a move shows it and a hover goes to it; off the bar a move hides it and is sent,
// in the current remote screen's grid, except with Control, which only repositions.
TEST_F(MouseMessagesTest, MovesAndHovers) {
  messages.OnMove(300, 10, false);
  messages.OnHover(310, 12);
  EXPECT_TRUE(out.writes.empty());
  EXPECT_EQ(menuBar.calls, (Strings{"Show", "Hover 310,12"}));
  EXPECT_EQ(cursor, 2);
  EXPECT_EQ(countdown, 2);
  EXPECT_EQ(activity, 2);
  EXPECT_EQ(hover, 1);
  mouse.SetPosition(100, 100);
  messages.OnMove(110, 90, false);
  EXPECT_EQ(menuBar.calls.back(), "Hide");
  EXPECT_EQ(hover, 2);
  EXPECT_EQ(activity, 3);
  messages.OnMove(500, 500, true);
  messages.OnMove(502, 499, false);  // X = 502 * 3000 / 1024 = 1470, Y = 499 * 3000 / 768 = 1949
  remote = {640, 480};
  mouse.SetPosition(0, 0);
  messages.OnMove(64, 48, false);  // X = 64 * 3000 / 640 = 300, Y = 48 * 3000 / 480 = 300
  EXPECT_EQ(out.Texts(), (Strings{"FF D0 0A 0A 01 42 01 5F", "FF D0 02 01 05 BE 07 9D",
                                  "FF D0 40 D0 01 2C 01 2C"}));
}

TEST(MouseMessagesDefaults, WithoutMenuBarOrCallbacks) {
  Recorder out;
  CMouse mouse(out.Writer());
  mouse.Enable();
  MouseMessages messages(mouse, MouseWindow{});
  messages.OnMove(128, 0, false);  // 1280 × 1024 until the first mode switch: X = 300
  messages.OnHover(1, 1);
  messages.OnButton(MenuBarMouse::kLeftDown, 5, 5);
  EXPECT_EQ(out.Texts(), (Strings{"FF D0 7F 00 01 2C 00 00", "FF D1 04"}));
}

}  // namespace
}  // namespace remcons
