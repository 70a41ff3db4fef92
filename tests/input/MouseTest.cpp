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

struct MoveCase {
  const char* name;
  int fromX, fromY, toX, toY, width, height;
  Strings sent;
};

class MoveTest : public ::testing::TestWithParam<MoveCase> {};

TEST_P(MoveTest, SendsStepAndGridPosition) {
  const MoveCase& c = GetParam();
  Recorder out;
  CMouse mouse(out.Writer());
  mouse.Enable();
  mouse.SetPosition(c.fromX, c.fromY);
  mouse.Move(c.toX, c.toY, c.width, c.height);
  EXPECT_EQ(out.Texts(), c.sent);
}

// Grid positions worked by hand: X = x * 3000 / width, Y = y * 3000 / height, truncated.
const MoveCase kMoveCases[] = {
    // dx 10, dy 10 (up is positive), X 322 = 0x142, Y 351 = 0x15F.
    {"Example", 100, 100, 110, 90, 1024, 768, {"FF D0 0A 0A 01 42 01 5F"}},
    // dx -5, dy -7; X = 95 * 3000 / 1024 = 278 = 0x116, Y = 107 * 3000 / 768 = 417 = 0x1A1.
    {"LeftAndDown", 100, 100, 95, 107, 1024, 768, {"FF D0 FB F9 01 16 01 A1"}},
    // 300 right: dx limited to 127; X = 400 * 3000 / 1280 = 937 = 0x3A9, Y = 100 * 3000 / 1024
    // = 292 = 0x124.
    {"JumpRight", 100, 100, 400, 100, 1280, 1024, {"FF D0 7F 00 03 A9 01 24"}},
    // 300 left: dx limited to -127 (0x81); X = 100 * 3000 / 1280 = 234 = 0xEA.
    {"JumpLeft", 400, 100, 100, 100, 1280, 1024, {"FF D0 81 00 00 EA 01 24"}},
    // 500 down: dy limited to -127; Y = 600 * 3000 / 1024 = 1757 = 0x6DD.
    {"JumpDown", 0, 100, 0, 600, 1280, 1024, {"FF D0 00 81 00 00 06 DD"}},
    {"JumpUp", 0, 600, 0, 100, 1280, 1024, {"FF D0 00 7F 00 00 01 24"}},
    {"SamePlace", 200, 150, 200, 150, 1024, 768, {}},
    // Bottom-right pixel of 800 × 600: X = 799 * 3000 / 800 = 2996 = 0xBB4, Y = 599 * 3000 /
    // 600 = 2995 = 0xBB3.
    {"BottomRight", 798, 598, 799, 599, 800, 600, {"FF D0 01 FF 0B B4 0B B3"}},
    // Outside the picture the position is that of the nearest edge pixel; the step is unchanged.
    {"LeftOfWindow", 3, 10, -6, 10, 1024, 768, {"FF D0 F7 00 00 00 00 27"}},
    {"AboveWindow", 10, 2, 10, -4, 1024, 768, {"FF D0 00 06 00 1D 00 00"}},
    // Window wider than the remote screen: x = 700 on a 640 × 480 screen counts as 639:
    // X = 639 * 3000 / 640 = 2995; Y = 10 * 3000 / 480 = 62 = 0x3E.
    {"PastTheRemoteScreen", 690, 10, 700, 10, 640, 480, {"FF D0 0A 00 0B B3 00 3E"}},
};

INSTANTIATE_TEST_SUITE_P(Moves, MoveTest, ::testing::ValuesIn(kMoveCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Mouse, NothingBeforeEnable) {
  Recorder out;
  CMouse mouse(out.Writer());
  mouse.Move(10, 10, 1024, 768);
  mouse.Press(kMouseLeft);
  mouse.Release(kMouseLeft);
  mouse.Click(kMouseRight, 2);
  EXPECT_TRUE(out.writes.empty());
  EXPECT_FALSE(mouse.enabled());
}

TEST(Mouse, EnableFromAnotherThread) {
  Recorder out;
  CMouse mouse(out.Writer());
  std::thread console([&] { mouse.Enable(); });
  console.join();
  mouse.Press(kMouseRight);
  EXPECT_EQ(out.Texts(), Strings{"FF D1 01"});
}

TEST(Mouse, ButtonsAndClick) {
  TraceCapture trace;
  Recorder out;
  CMouse mouse(out.Writer());
  mouse.Enable();
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

TEST(Mouse, SuccessiveMovesStepFromTheLast) {
  Recorder out;
  CMouse mouse(out.Writer());
  mouse.Enable();
  mouse.Move(10, 10, 1000, 1000);  // from (0, 0): dx 10, dy -10; X = Y = 30
  mouse.Move(12, 13, 1000, 1000);  // dx 2, dy -3; X 36, Y 39
  mouse.Move(12, 13, 1000, 1000);  // nothing
  EXPECT_EQ(out.Texts(), (Strings{"FF D0 0A F6 00 1E 00 1E", "FF D0 02 FD 00 24 00 27"}));
}

TEST(Mouse, ClampedJumpStillRecordsTheWholeMove) {
  Recorder out;
  CMouse mouse(out.Writer());
  mouse.Enable();
  mouse.SetPosition(0, 0);
  mouse.Move(300, 0, 1000, 1000);  // dx limited to 127
  mouse.Move(301, 0, 1000, 1000);  // the next step starts at 300, not at 127
  EXPECT_EQ(out.Texts(), (Strings{"FF D0 7F 00 03 84 00 00", "FF D0 01 00 03 87 00 00"}));
}

TEST(Mouse, RefusedWritesAreDropped) {
  Recorder out;
  out.refuse = true;
  CMouse mouse(out.Writer());
  mouse.Enable();
  mouse.Move(5, 5, 100, 100);
  out.refuse = false;
  mouse.Move(6, 5, 100, 100);
  EXPECT_EQ(out.Texts().back(), "FF D0 01 00 00 B4 00 96");
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

TEST_F(MouseMessagesTest, ClicksOnTheMenuBarAreNotForwarded) {
  for (int e = 0; e <= 5; ++e) messages.OnButton(static_cast<MenuBarMouse::Event>(e), 300, 10);
  EXPECT_TRUE(out.writes.empty());
  EXPECT_EQ(menuBar.calls,
            (Strings{"Button 0", "Button 1", "Button 2", "Button 3", "Button 4", "Button 5"}));
  // Still user activity, except the right button's release.
  EXPECT_EQ(countdown, 6);
  EXPECT_EQ(activity, 5);
  EXPECT_EQ(focus, 1);
}

TEST_F(MouseMessagesTest, ButtonsOffTheBarCountAsActivity) {
  // Down, up and double click of each button; the system follows a double click with an up.
  for (int e = 0; e <= 5; ++e) messages.OnButton(static_cast<MenuBarMouse::Event>(e), 300, 400);
  EXPECT_EQ(out.Texts(), (Strings{"FF D1 04", "FF D2 04", "FF D3 04 01", "FF D1 01", "FF D2 01",
                                  "FF D3 01 01"}));
  EXPECT_EQ(countdown, 6);
  EXPECT_EQ(activity, 5);
  EXPECT_EQ(focus, 1) << "only the left button takes the focus";
}

TEST_F(MouseMessagesTest, MoveOverTheBarSendsNothing) {
  messages.OnMove(300, 10, false);
  EXPECT_TRUE(out.writes.empty());
  EXPECT_EQ(menuBar.calls, Strings{"Show"});
  EXPECT_EQ(cursor, 1);
  EXPECT_EQ(countdown, 1);
  EXPECT_EQ(hover, 1);
  EXPECT_EQ(activity, 1);
}

TEST_F(MouseMessagesTest, MoveOffTheBarHidesItAndForwards) {
  mouse.SetPosition(100, 100);
  messages.OnMove(110, 90, false);
  EXPECT_EQ(menuBar.calls, Strings{"Hide"});
  EXPECT_EQ(out.Texts(), Strings{"FF D0 0A 0A 01 42 01 5F"});
  EXPECT_EQ(hover, 1);
  EXPECT_EQ(activity, 1);
}

TEST_F(MouseMessagesTest, UsesTheCurrentRemoteScreenSize) {
  remote = {640, 480};
  messages.OnMove(64, 48, false);  // X = 64 * 3000 / 640 = 300, Y = 48 * 3000 / 480 = 300
  EXPECT_EQ(out.Texts(), Strings{"FF D0 40 D0 01 2C 01 2C"});
}

TEST_F(MouseMessagesTest, ControlMoveRepositionsWithoutSending) {
  mouse.SetPosition(100, 100);
  messages.OnMove(500, 500, true);
  EXPECT_TRUE(out.writes.empty());
  // The next plain move sends only the step from where the pointer was put.
  messages.OnMove(502, 499, false);  // X = 502 * 3000 / 1024 = 1470, Y = 499 * 3000 / 768 = 1949
  EXPECT_EQ(out.Texts(), Strings{"FF D0 02 01 05 BE 07 9D"});
}

TEST_F(MouseMessagesTest, HoverGoesToTheMenuBar) {
  messages.OnHover(310, 12);
  EXPECT_EQ(menuBar.calls, Strings{"Hover 310,12"});
  EXPECT_EQ(cursor, 1);
  EXPECT_EQ(countdown, 1);
  EXPECT_EQ(activity, 1);
  EXPECT_TRUE(out.writes.empty());
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
