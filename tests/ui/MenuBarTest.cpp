// The menu bar with a fake painter, host and owner: showing and hiding, which clicks it takes,
// what each button and menu entry sends, and what it paints where.
#include "ui/MenuBar.h"

#include <gtest/gtest.h>

#include "UiFakes.h"
#include "platform/Strings.h"
#include "support/FakeHost.h"
#include "support/TraceCapture.h"

namespace remcons {
namespace {

using testing::FakeHost;
using testing::FakeOwner;
using testing::FakePainter;
using testing::TraceCapture;
using B = BarButton;
using E = MenuBarMouse;
using Panel = CMenuBar::Panel;
namespace img = menubar::img;

constexpr int kWidth = 1024;
constexpr int kR = 832;  // the bar's right edge at that width

struct Point {
  int x, y;
};

Point Center(const Rect& r) {
  return {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
}

MenuBarConfig Config(uint32_t muMode = 0) {
  MenuBarConfig c;
  c.target = "127.0.0.1";
  c.serverName = "srv-01";
  c.width = kWidth;
  c.uniqueFeatures = 4 | 8;  // virtual power and virtual media allowed
  c.muMode = muMode;
  c.vmKeyRefused = true;  // no drives: the drive menu has its own tests
  return c;
}

class MenuBarTest : public ::testing::Test {
 protected:
  void SetUp() override { Make(Config()); }
  void TearDown() override { SetUiLanguage(Language::kEnglish); }

  void Make(MenuBarConfig config) {
    bar.reset();
    bar = std::make_unique<CMenuBar>(host, painter, owner, std::move(config));
  }

  // A left click as the window delivers it; true when the bar took both halves.
  bool Click(Point p) {
    const bool down = bar->OnMouseButton(E::kLeftDown, p.x, p.y);
    const bool up = bar->OnMouseButton(E::kLeftUp, p.x, p.y);
    EXPECT_EQ(down, up);
    return down && up;
  }
  bool Click(B button) { return Click(Center(layout::Button(button, kWidth))); }
  // A point in a panel, relative to its top left.
  static Point In(const Rect& panel, int x, int y) { return {panel.left + x, panel.top + y}; }

  Surface Painted() {
    Surface s(kWidth, 400, FakePainter::kBackground);
    bar->Paint(s, kWidth);
    return s;
  }
  // The image drawn at a button's top left.
  std::string ImageOf(B button) {
    const Rect r = layout::Button(button, kWidth);
    return painter.ImageAt(Painted(), r.left + 1, r.top + 1);
  }

  FakeHost host;
  FakePainter painter;
  FakeOwner owner;
  std::unique_ptr<CMenuBar> bar;
};

// ---- Showing ----

TEST_F(MenuBarTest, StartsHiddenAndFollowsTheMouse) {
  EXPECT_FALSE(bar->IsShown());
  EXPECT_FALSE(bar->IsPinned());
  bar->Show();
  EXPECT_TRUE(bar->IsShown());
  bar->Hide();
  EXPECT_FALSE(bar->IsShown());
  // Pinned, it stays through a Hide.
  bar->Pin();
  bar->Hide();
  EXPECT_TRUE(bar->IsShown());
  // The pin button unpins it.
  bar->Show();
  EXPECT_TRUE(Click(B::kPin));
  EXPECT_FALSE(bar->IsPinned());
  bar->Hide();
  EXPECT_FALSE(bar->IsShown());
}

TEST_F(MenuBarTest, ShowingAsksForRepaintsOfRectanglesOnly) {
  host.ClearRecords();
  bar->Show();
  auto inv = host.Invalidations();
  ASSERT_FALSE(inv.empty());
  bool sawBar = false;
  for (const auto& i : inv) {
    EXPECT_FALSE(i.whole);
    EXPECT_FALSE(i.erase);
    sawBar |= i.rect == Rect{kR - 640, 0, kR, 23};
  }
  EXPECT_TRUE(sawBar);
  // Moving about on the shown bar repaints nothing more.
  host.ClearRecords();
  bar->Show();
  EXPECT_TRUE(host.Invalidations().empty());
}

// ---- Which clicks the bar takes ----

TEST_F(MenuBarTest, ClicksOnTheShownBarAreConsumedAndElsewhereOrHiddenNot) {
  for (int e = 0; e <= 5; ++e) {
    EXPECT_FALSE(bar->OnMouseButton(static_cast<E::Event>(e), kR - 33, 10)) << e;
  }
  bar->Show();
  EXPECT_TRUE(Click({kR - 300, 5}));     // plain bar
  EXPECT_TRUE(Click({kR - 640, 0}));     // its first pixel
  EXPECT_TRUE(Click({kR - 1, 21}));      // its last
  EXPECT_FALSE(Click({kR - 300, 22}));   // just below
  EXPECT_FALSE(Click({kR, 5}));          // just right
  EXPECT_FALSE(Click({kR - 641, 5}));    // just left
  EXPECT_FALSE(Click({kR - 300, 200}));  // the picture
  EXPECT_TRUE(owner.Quiet());
}

TEST_F(MenuBarTest, PinnedBarTakesClicksBeforeAnyMove) {
  bar->Pin();
  EXPECT_TRUE(Click(B::kKeys));
  EXPECT_EQ(bar->OpenPanel(), Panel::kKeys);
}

TEST_F(MenuBarTest, RightAndDoubleClicksAreSwallowedWithoutAction) {
  bar->Show();
  for (B button : {B::kClose, B::kPin, B::kPower, B::kKeys, B::kMedia}) {
    const Point p = Center(layout::Button(button, kWidth));
    for (E::Event e : {E::kRightDown, E::kRightUp, E::kLeftDoubleClick, E::kRightDoubleClick}) {
      EXPECT_TRUE(bar->OnMouseButton(e, p.x, p.y) || e == E::kRightUp);
    }
  }
  EXPECT_TRUE(owner.Quiet());
  EXPECT_FALSE(bar->IsPinned());
  EXPECT_EQ(bar->OpenPanel(), Panel::kNone);
  EXPECT_TRUE(host.Boxes().empty());
}

TEST_F(MenuBarTest, AReleaseGoesWhereItsPressWent) {
  bar->Show();
  const Point close = Center(layout::Button(B::kClose, kWidth));
  // Pressed on the picture, released on the bar: the server saw the press, so it gets the
  // release, and the close button does nothing.
  EXPECT_FALSE(bar->OnMouseButton(E::kLeftDown, close.x, 300));
  EXPECT_FALSE(bar->OnMouseButton(E::kLeftUp, close.x, close.y));
  EXPECT_FALSE(bar->OnMouseButton(E::kRightDown, close.x, 300));
  EXPECT_FALSE(bar->OnMouseButton(E::kRightUp, close.x, close.y));
  // Pressed on close, released on the picture: both halves are the bar's and nothing happens.
  EXPECT_TRUE(bar->OnMouseButton(E::kLeftDown, close.x, close.y));
  EXPECT_TRUE(bar->OnMouseButton(E::kLeftUp, close.x, 300));
  EXPECT_TRUE(owner.Quiet());
  // The same release once more is not the bar's.
  EXPECT_FALSE(bar->OnMouseButton(E::kLeftUp, close.x, 300));
  // A press on the bar whose release never came (a dialog it opened took it): the next press on
  // the picture is the server's, and so is its release.
  for (auto [down, up] : {std::pair{E::kLeftDown, E::kLeftUp}, {E::kRightDown, E::kRightUp}}) {
    EXPECT_TRUE(bar->OnMouseButton(down, close.x, close.y));
    EXPECT_FALSE(bar->OnMouseButton(down, close.x, 300));
    EXPECT_FALSE(bar->OnMouseButton(up, close.x, 300)) << down;
  }
  EXPECT_TRUE(owner.Quiet());
}

// ---- Buttons ----

TEST_F(MenuBarTest, CloseEndsTheSession) {
  bar->Show();
  EXPECT_TRUE(Click(B::kClose));
  EXPECT_EQ(owner.calls, (std::vector<std::string>{"StopSession"}));
}

TEST_F(MenuBarTest, KeysRowsSendTheirBytesAndGapsAreIgnored) {
  bar->Show();
  const Rect keys = layout::KeysPanel(kWidth);
  const char* expected[7] = {"1B 5B 32 1B 5B 7F", "14", "15", "16", "17", "18", "19"};
  for (int k = 0; k < 7; ++k) {
    for (int dy : {5, 19}) {  // the first and last y of the row
      EXPECT_TRUE(Click(B::kKeys));
      ASSERT_EQ(bar->OpenPanel(), Panel::kKeys);
      owner.inputs.clear();
      EXPECT_TRUE(Click(In(keys, 40, 18 * k + dy)));
      EXPECT_EQ(owner.inputs, (std::vector<std::string>{expected[k]})) << "row " << k;
      EXPECT_EQ(bar->OpenPanel(), Panel::kNone);
    }
  }
  // A click in a gap or a margin (every one is in the layout's tests) is the bar's and leaves the
  // panel open.
  EXPECT_TRUE(Click(B::kKeys));
  owner.inputs.clear();
  for (Point p : {In(keys, 40, 4), In(keys, 40, 22 + 18 * 3), In(keys, 3, 10), In(keys, 76, 100)})
    EXPECT_TRUE(Click(p));
  EXPECT_TRUE(owner.inputs.empty());
  EXPECT_EQ(bar->OpenPanel(), Panel::kKeys);
  // Keys go through the input path only; the command path stays untouched.
  EXPECT_TRUE(owner.writes.empty());
}

// Each entry of the large panel sends its one command (the compact panel's are in the edges below).
TEST_F(MenuBarTest, EachExtendedPowerEntrySendsExactlyOneCommand) {
  bar->Show();
  const Rect compact = layout::PowerCompact(kWidth);
  const Rect extended = layout::PowerExtended(kWidth);
  const char* bytes[4] = {"FF BA", "FF BB", "FF BC", "FF BD"};
  const int extendedY[4] = {75, 159, 213, 265};
  for (int i = 0; i < 4; ++i) {
    EXPECT_TRUE(Click(B::kPower));
    owner.writes.clear();
    // "Extended Menu" sends nothing and opens the large panel.
    EXPECT_TRUE(Click(In(compact, 50, 82)));
    EXPECT_TRUE(owner.writes.empty());
    ASSERT_EQ(bar->OpenPanel(), Panel::kPowerExtended);
    EXPECT_TRUE(Click(In(extended, 50, extendedY[i])));
    EXPECT_EQ(owner.writes, (std::vector<std::string>{bytes[i]})) << "extended " << i;
    EXPECT_EQ(bar->OpenPanel(), Panel::kNone);
  }
  // Power commands are not input.
  EXPECT_TRUE(owner.inputs.empty());
}

TEST_F(MenuBarTest, PowerEntryEdges) {
  bar->Show();
  const Rect compact = layout::PowerCompact(kWidth);
  struct Case {
    Point at;
    const char* sent;  // "" for nothing
  };
  // One pixel rows part the entries, except 2 and 3, which meet at y 59; the link's click area
  // starts at 75.
  const Case cases[] = {
      {{12, 12}, "FF BA"}, {{11, 12}, ""},      {{113, 26}, "FF BA"}, {{30, 27}, ""},
      {{30, 28}, "FF BB"}, {{30, 42}, "FF BB"}, {{30, 43}, ""},       {{30, 44}, "FF BC"},
      {{30, 58}, "FF BC"}, {{30, 59}, "FF BD"}, {{30, 73}, "FF BD"},  {{30, 74}, ""},
      {{30, 11}, ""},      {{12, 75}, ""},      {{88, 89}, ""},
  };
  for (const Case& c : cases) {
    EXPECT_TRUE(Click(B::kPower));
    owner.writes.clear();
    EXPECT_TRUE(Click(In(compact, c.at.x, c.at.y)));
    if (*c.sent) {
      EXPECT_EQ(owner.writes, (std::vector<std::string>{c.sent})) << c.at.x << "," << c.at.y;
    } else {
      EXPECT_TRUE(owner.writes.empty()) << c.at.x << "," << c.at.y;
    }
    // Every release in the compact panel closes it; only the link opens the large one.
    const bool link = c.at.x >= 12 && c.at.x < 89 && c.at.y >= 75 && c.at.y < 90;
    EXPECT_EQ(bar->OpenPanel(), link ? Panel::kPowerExtended : Panel::kNone);
    if (link) {
      EXPECT_TRUE(Click(B::kPower));  // closes the large panel
    }
    EXPECT_EQ(bar->OpenPanel(), Panel::kNone);
  }
}

TEST_F(MenuBarTest, GreyingFollowsThePowerStateAndGreyEntriesStillSend) {
  bar->Show();
  const Rect compact = layout::PowerCompact(kWidth);
  auto textColorAt = [&](int entry) {
    const layout::PowerEntryPlace& p = layout::kPowerEntryPlaces[entry];
    // The entry's text starts at (5, 2) inside its image.
    return Painted().At(compact.left + p.compactX + 5, compact.top + p.compactY + 2) & 0xFFFFFF;
  };
  const Pixel black = menubar::kMenuTextColor & 0xFFFFFF;
  const Pixel grey = menubar::kMenuGreyTextColor & 0xFFFFFF;
  EXPECT_TRUE(Click(B::kPower));
  for (int i = 0; i < 4; ++i) EXPECT_FALSE(bar->EntryGreyed(i));
  for (int i = 0; i < 4; ++i) EXPECT_EQ(textColorAt(i), black) << i;

  bar->SetPowerOff();
  EXPECT_FALSE(bar->EntryGreyed(0));
  EXPECT_FALSE(bar->EntryGreyed(1));
  EXPECT_TRUE(bar->EntryGreyed(2));
  EXPECT_TRUE(bar->EntryGreyed(3));
  EXPECT_EQ(textColorAt(0), black);
  EXPECT_EQ(textColorAt(1), black);
  EXPECT_EQ(textColorAt(2), grey);
  EXPECT_EQ(textColorAt(3), grey);
  owner.writes.clear();
  EXPECT_TRUE(Click(In(compact, 50, 51)));  // Cold Boot, grey
  EXPECT_EQ(owner.writes, (std::vector<std::string>{"FF BC"}));

  bar->SetPowerOn();
  EXPECT_TRUE(Click(B::kPower));
  for (int i = 0; i < 4; ++i) EXPECT_EQ(textColorAt(i), black) << i;
}

TEST_F(MenuBarTest, PressedEntriesShowTheirPressedImageUntilReleasedOrClosed) {
  bar->Show();
  const Rect compact = layout::PowerCompact(kWidth);
  EXPECT_TRUE(Click(B::kPower));
  const Point p = In(compact, 50, 30);
  EXPECT_TRUE(bar->OnMouseButton(E::kLeftDown, p.x, p.y));
  EXPECT_TRUE(bar->EntryPressed(1));
  EXPECT_FALSE(bar->EntryPressed(0));
  EXPECT_EQ(painter.ImageAt(Painted(), compact.left + 12 + 60, compact.top + 28 + 10),
            std::string(img::kEntryPressed));
  EXPECT_TRUE(bar->OnMouseButton(E::kLeftUp, p.x, p.y));
  EXPECT_FALSE(bar->EntryPressed(1));
  EXPECT_EQ(owner.writes, (std::vector<std::string>{"FF BB"}));

  // Pressed on "Cold Boot", released off the panel: nothing is sent and the mark stays while
  // the panel is open.
  owner.writes.clear();
  EXPECT_TRUE(Click(B::kPower));
  const Point q = In(compact, 50, 50);
  EXPECT_TRUE(bar->OnMouseButton(E::kLeftDown, q.x, q.y));
  EXPECT_TRUE(bar->OnMouseButton(E::kLeftUp, q.x, 300));
  EXPECT_TRUE(bar->EntryPressed(2));
  EXPECT_TRUE(owner.writes.empty());
  // Closed by its button and opened again, the panel shows no stale press.
  EXPECT_TRUE(Click(B::kPower));
  EXPECT_TRUE(Click(B::kPower));
  EXPECT_FALSE(bar->EntryPressed(2));
  EXPECT_EQ(painter.ImageAt(Painted(), compact.left + 12 + 60, compact.top + 44 + 10),
            std::string(img::kEntry));
}

TEST_F(MenuBarTest, NotAuthorizedWarnings) {
  MenuBarConfig c = Config();
  c.uniqueFeatures = 0;
  Make(c);
  bar->Show();
  TraceCapture trace;
  EXPECT_TRUE(Click(B::kPower));
  EXPECT_TRUE(Click(B::kMedia));
  auto boxes = host.Boxes();
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[0].text, "Virtual Power Not Authorized");
  EXPECT_EQ(boxes[0].caption, "Warning");
  EXPECT_EQ(boxes[0].style & kMbIconMask, uint32_t{kMbIconWarning});
  EXPECT_EQ(boxes[0].style & kMbButtonMask, uint32_t{kMbOk});
  EXPECT_EQ(boxes[1].text, "Virtual Media Not Authorized");
  EXPECT_EQ(boxes[1].caption, "Warning");
  EXPECT_EQ(boxes[1].style & kMbIconMask, uint32_t{kMbIconWarning});
  EXPECT_TRUE(trace.Has("CMenuBar::displaying power not authorized warning\n"));
  EXPECT_TRUE(trace.Has("CMenuBar::displaying not authorized warning\n"));
  EXPECT_EQ(bar->OpenPanel(), Panel::kNone);
  EXPECT_TRUE(owner.Quiet());

  // Each right alone.
  c.uniqueFeatures = 4;
  Make(c);
  bar->Show();
  host.ClearRecords();
  EXPECT_TRUE(Click(B::kPower));
  EXPECT_EQ(bar->OpenPanel(), Panel::kPowerCompact);
  EXPECT_TRUE(host.Boxes().empty());
  EXPECT_TRUE(Click(B::kMedia));
  ASSERT_EQ(host.Boxes().size(), 1u);
  EXPECT_EQ(host.Boxes()[0].text, "Virtual Media Not Authorized");
}

TEST_F(MenuBarTest, PanelsAreExclusive) {
  bar->Show();
  EXPECT_TRUE(Click(B::kPower));
  EXPECT_TRUE(Click(B::kPower));
  EXPECT_EQ(bar->OpenPanel(), Panel::kNone);
  EXPECT_TRUE(Click(B::kPower));
  EXPECT_TRUE(Click(B::kKeys));
  EXPECT_EQ(bar->OpenPanel(), Panel::kKeys);
  EXPECT_TRUE(Click(B::kMedia));
  EXPECT_EQ(bar->OpenPanel(), Panel::kDrives);
  EXPECT_TRUE(Click(B::kMedia));
  EXPECT_EQ(bar->OpenPanel(), Panel::kNone);
}

TEST_F(MenuBarTest, OpenPanelIsPartOfTheBar) {
  const Rect keys = layout::KeysPanel(kWidth);
  const Point inside = In(keys, 40, 60);
  EXPECT_FALSE(bar->HitTest(inside.x, inside.y));
  bar->Show();
  EXPECT_TRUE(Click(B::kKeys));
  EXPECT_TRUE(bar->HitTest(inside.x, inside.y));
  EXPECT_FALSE(bar->HitTest(keys.right, inside.y));
  EXPECT_TRUE(bar->OverlapsBar(keys.left - 50, keys.top + 10, keys.left + 1, keys.top + 11));
  EXPECT_FALSE(bar->OverlapsBar(keys.left - 50, keys.top + 10, keys.left, keys.top + 11));
  const Rect area = bar->Area();
  EXPECT_EQ(area.bottom, keys.bottom);
  EXPECT_EQ(area.right, kR);
  EXPECT_EQ(area.left, kR - 640);
}

// ---- Multi-user and capture buttons ----

TEST_F(MenuBarTest, JoiningConsoleHasTheControlButtonOnly) {
  MenuBarConfig c = Config(2);
  c.screenCapture = c.clientCapture = true;
  Make(c);
  bar->Show();
  EXPECT_EQ(bar->ControlState(), 0);
  for (B b : {B::kPower, B::kMedia, B::kRecord, B::kReplay}) EXPECT_TRUE(Click(b));
  EXPECT_TRUE(owner.Quiet());
  EXPECT_TRUE(host.Boxes().empty());
  EXPECT_EQ(bar->OpenPanel(), Panel::kNone);
  EXPECT_EQ(ImageOf(B::kControl), std::string(img::kControlNone));

  // Asking for control waits for the leader; a second click does nothing meanwhile.
  EXPECT_TRUE(Click(B::kControl));
  EXPECT_EQ(bar->ControlState(), 1);
  EXPECT_EQ(ImageOf(B::kControl), std::string(img::kControlRequested));
  EXPECT_TRUE(Click(B::kControl));
  EXPECT_EQ(owner.calls, (std::vector<std::string>{"RequestControl"}));
  bar->ShowControlState(true);
  EXPECT_EQ(ImageOf(B::kControl), std::string(img::kControlHeld));
  EXPECT_TRUE(Click(B::kControl));
  EXPECT_EQ(bar->ControlState(), 0);
  EXPECT_EQ(owner.calls, (std::vector<std::string>{"RequestControl", "RelinquishControl"}));
}

TEST_F(MenuBarTest, LeaderHoldsControlAndLocksTheSession) {
  Make(Config(1));
  bar->Show();
  EXPECT_EQ(bar->ControlState(), 2);
  EXPECT_TRUE(Click(B::kControl));
  EXPECT_EQ(bar->ControlState(), 0);
  EXPECT_TRUE(Click(B::kControl));
  EXPECT_EQ(bar->ControlState(), 2);  // a leader takes it at once
  EXPECT_EQ(ImageOf(B::kLock), std::string(img::kLockOpen));
  EXPECT_TRUE(Click(B::kLock));
  EXPECT_EQ(ImageOf(B::kLock), std::string(img::kLockClosed));
  EXPECT_TRUE(Click(B::kLock));
  EXPECT_TRUE(Click(B::kClientList));
  EXPECT_EQ(owner.calls,
            (std::vector<std::string>{"RelinquishControl", "RequestControl", "SetAccepting 0",
                                      "SetAccepting 1", "ShowClientList"}));
}

TEST_F(MenuBarTest, SingleConsoleHasNoMultiUserButtons) {
  bar->Show();
  for (B b : {B::kControl, B::kClientList, B::kLock}) {
    EXPECT_TRUE(Click(b));
    EXPECT_EQ(ImageOf(b), std::string(img::kBar)) << static_cast<int>(b);
  }
  EXPECT_TRUE(owner.Quiet());
}

TEST_F(MenuBarTest, RecordStartsWithARefreshAndStops) {
  MenuBarConfig c = Config();
  c.clientCapture = true;
  Make(c);
  bar->Show();
  owner.captureStarts = false;
  EXPECT_TRUE(Click(B::kRecord));
  EXPECT_FALSE(bar->IsRecording());
  EXPECT_EQ(ImageOf(B::kRecord), std::string(img::kRecordIdle));
  owner.captureStarts = true;
  EXPECT_TRUE(Click(B::kRecord));
  EXPECT_TRUE(bar->IsRecording());
  EXPECT_EQ(ImageOf(B::kRecord), std::string(img::kRecording));
  EXPECT_TRUE(Click(B::kRecord));
  EXPECT_FALSE(bar->IsRecording());
  EXPECT_EQ(owner.calls, (std::vector<std::string>{"StartCapture", "StartCapture", "DoCommand 18",
                                                   "StopCapture"}));
}

TEST_F(MenuBarTest, ReplayMenuOpensOnceUntilItCloses) {
  MenuBarConfig c = Config();
  c.screenCapture = true;
  Make(c);
  bar->Show();
  EXPECT_TRUE(Click(B::kReplay));
  EXPECT_EQ(ImageOf(B::kReplay), std::string(img::kReplayPressed));
  EXPECT_TRUE(Click(B::kReplay));
  bar->SetReplayMenuClosed();
  EXPECT_EQ(ImageOf(B::kReplay), std::string(img::kReplay));
  EXPECT_TRUE(Click(B::kReplay));
  EXPECT_EQ(owner.calls, (std::vector<std::string>{"OpenReplayMenu", "OpenReplayMenu"}));
}

// ---- Replay mode ----

TEST_F(MenuBarTest, ReplayControls) {
  MenuBarConfig c = Config();
  c.screenCapture = true;
  Make(c);
  bar->Show();
  bar->StartReplay("BOOT Buffer");
  EXPECT_TRUE(bar->IsReplaying());
  // The normal buttons give way: the power button's last column, which fast play does not cover.
  EXPECT_EQ(painter.ImageAt(Painted(), kR - 45, 10), std::string(img::kBar));
  EXPECT_EQ(ImageOf(B::kPlayPause), std::string(img::kPlay));

  // Fast play: 0 -> 1 -> 2 -> 3 -> 0, with the tooltip naming what the next click selects.
  const Point fast = Center(layout::Button(B::kFastPlay, kWidth));
  const std::string_view tips[4] = {"349", "350", "351", "348"};
  const std::string_view images[4] = {"316", "316", "325", "326"};
  for (int i = 1; i <= 4; ++i) {
    EXPECT_TRUE(Click(fast));
    EXPECT_EQ(bar->SpeedIndex(), i % 4);
    EXPECT_TRUE(bar->TakeSpeedChanged());
    EXPECT_FALSE(bar->TakeSpeedChanged());
    EXPECT_EQ(bar->tooltip(), tips[i % 4]);
    EXPECT_EQ(ImageOf(B::kFastPlay), images[i % 4]);
  }
  const Point fastDown = Center(layout::Button(B::kFastPlay, kWidth));
  EXPECT_TRUE(bar->OnMouseButton(E::kLeftDown, fastDown.x, fastDown.y));
  EXPECT_EQ(ImageOf(B::kFastPlay), "315");
  EXPECT_TRUE(bar->OnMouseButton(E::kLeftUp, fastDown.x, fastDown.y));

  EXPECT_TRUE(Click(B::kPlayPause));
  EXPECT_TRUE(bar->IsPlaying());
  EXPECT_EQ(ImageOf(B::kPlayPause), std::string(img::kPause));
  EXPECT_EQ(bar->tooltip(), std::string(img::kTipPause));
  EXPECT_TRUE(Click(B::kStop));
  EXPECT_TRUE(bar->StopRequested());
  EXPECT_FALSE(bar->IsPlaying());
  EXPECT_EQ(bar->SpeedIndex(), 0);
  bar->ReplayRewound();
  EXPECT_FALSE(bar->StopRequested());

  // Close leaves the replay, not the session.
  EXPECT_TRUE(Click(B::kClose));
  EXPECT_FALSE(bar->IsReplaying());
  EXPECT_EQ(owner.calls, (std::vector<std::string>{"LeaveReplay"}));
  EXPECT_EQ(ImageOf(B::kPower), std::string(img::kPowerOn));
}

// ---- Tooltips ----

TEST_F(MenuBarTest, TooltipOfTheButtonUnderThePointer) {
  MenuBarConfig c = Config(1);
  c.clientCapture = true;
  Make(c);
  bar->Show();
  struct Case {
    B button;
    std::string_view tip;
  };
  const Case cases[] = {{B::kRecord, "320"},     {B::kReplay, "321"}, {B::kPower, "322"},
                        {B::kMedia, "323"},      {B::kKeys, "324"},   {B::kControl, "341"},
                        {B::kClientList, "342"}, {B::kLock, "370"},   {B::kPin, ""},
                        {B::kClose, ""}};
  const Rect strip = layout::TooltipStrip(kWidth);
  for (const Case& c : cases) {
    const Point p = Center(layout::Button(c.button, kWidth));
    bar->OnMouseMove(p.x, p.y);
    EXPECT_EQ(bar->tooltip(), c.tip) << static_cast<int>(c.button);
    EXPECT_EQ(painter.ImageAt(Painted(), strip.left + 30, strip.top + 4), std::string(c.tip));
  }
  bar->OnMouseMove(kR - 300, 10);
  EXPECT_EQ(bar->tooltip(), "");
  bar->OnMouseMove(Center(layout::Button(B::kPower, kWidth)).x, 10);
  bar->Hide();
  EXPECT_EQ(bar->tooltip(), "");
}

// ---- Painting ----

TEST_F(MenuBarTest, PaintsTheBarThroughItsMaskWithTheName) {
  const Surface s = Painted();
  const Rect barRect = layout::Bar(kWidth);
  // The fake mask leaves the bar's first column and last row out.
  EXPECT_EQ(s.At(barRect.left, 5) & 0xFFFFFF, FakePainter::kBackground & 0xFFFFFF);
  EXPECT_EQ(s.At(barRect.left + 300, 21) & 0xFFFFFF, FakePainter::kBackground & 0xFFFFFF);
  EXPECT_EQ(painter.ImageAt(s, barRect.left + 1, 5), std::string(img::kBar));
  // The server name, "Arial" 12, centred, 1 pixel from the top, in the bar text colour.
  const int nameWidth = 6 * FakePainter::kAdvance;
  const int x = barRect.left + (640 - nameWidth) / 2;
  EXPECT_EQ(s.At(x, 1) & 0xFFFFFF, menubar::kBarTextColor & 0xFFFFFF);
  EXPECT_EQ(s.At(x - 1, 1) & 0xFFFFFF, painter.ColorOf(img::kBar) & 0xFFFFFF);
  EXPECT_EQ(s.At(x + nameWidth - 1, 1) & 0xFFFFFF, menubar::kBarTextColor & 0xFFFFFF);
  bool found = false;
  for (const auto& t : painter.texts) {
    if (t.text != "srv-01") continue;
    found = true;
    EXPECT_EQ(t.font.face, "Arial");
    EXPECT_EQ(t.font.pixelHeight, 12);
    EXPECT_EQ(t.y, 1);
    EXPECT_FALSE(t.opaque);
  }
  EXPECT_TRUE(found);
  // Normal console: pin out, close, power on, media, keys.
  EXPECT_EQ(ImageOf(B::kPin), std::string(img::kPinOut));
  EXPECT_EQ(ImageOf(B::kClose), std::string(img::kClose));
  EXPECT_EQ(ImageOf(B::kPower), std::string(img::kPowerOn));
  EXPECT_EQ(ImageOf(B::kMedia), std::string(img::kMedia));
  EXPECT_EQ(ImageOf(B::kKeys), std::string(img::kKeys));
  EXPECT_EQ(ImageOf(B::kRecord), std::string(img::kBar));
}

TEST_F(MenuBarTest, ReplayTitleTakesTheNamesPlace) {
  // Both centred, the name 1 pixel and the title 9 pixels from the top: drawn together they
  // would run into each other, so the title replaces the name until the replay ends.
  bar->StartReplay("BOOT Buffer");
  const Rect barRect = layout::Bar(kWidth);
  const int nameX = barRect.left + (640 - 6 * FakePainter::kAdvance) / 2;
  const int titleX = barRect.left + (640 - 11 * FakePainter::kAdvance) / 2;
  Surface s = Painted();
  const Pixel text = menubar::kBarTextColor & 0xFFFFFF;
  EXPECT_EQ(s.At(titleX, 9) & 0xFFFFFF, text);
  EXPECT_NE(s.At(nameX, 1) & 0xFFFFFF, text);
  bar->EndReplayDisplay();
  s = Painted();
  EXPECT_EQ(s.At(nameX, 1) & 0xFFFFFF, text);
  EXPECT_NE(s.At(titleX, 9) & 0xFFFFFF, text);
}

TEST_F(MenuBarTest, LongServerNamesAreCutToTheRoomBetweenTheButtons) {
  MenuBarConfig c = Config();
  c.serverName = std::string(200, 'n');
  painter.texts.clear();
  Make(c);
  const FakePainter::Text name = painter.texts.front();
  ASSERT_TRUE(name.text.starts_with("nnn"));
  EXPECT_TRUE(name.text.ends_with("\xE2\x80\xA6"));
  // Centred and clear of the pin (right edge 36) and the keys button (left edge 536).
  const int width = painter.TextWidth(name.text, CMenuBar::NameFont());
  const int x = name.x;
  EXPECT_GE(x, 36);
  EXPECT_LE(x + width, 536);
}

TEST_F(MenuBarTest, ButtonImagesFollowState) {
  bar->Show();
  EXPECT_EQ(ImageOf(B::kPower), std::string(img::kPowerOn));
  bar->SetPowerOff();
  EXPECT_EQ(ImageOf(B::kPower), std::string(img::kPowerOff));
  EXPECT_TRUE(Click(B::kPower));
  EXPECT_EQ(ImageOf(B::kPower), std::string(img::kPowerOffPressed));
  bar->SetPowerOn();
  EXPECT_EQ(ImageOf(B::kPower), std::string(img::kPowerOnPressed));
  EXPECT_TRUE(Click(B::kKeys));
  EXPECT_EQ(ImageOf(B::kKeys), std::string(img::kKeysPressed));
  EXPECT_EQ(ImageOf(B::kPower), std::string(img::kPowerOn));
  // Pressed while the button is down.
  const Point close = Center(layout::Button(B::kClose, kWidth));
  EXPECT_TRUE(bar->OnMouseButton(E::kLeftDown, close.x, close.y));
  EXPECT_EQ(ImageOf(B::kClose), std::string(img::kClosePressed));
  EXPECT_TRUE(bar->OnMouseButton(E::kLeftUp, close.x, 300));
  EXPECT_EQ(ImageOf(B::kClose), std::string(img::kClose));
  EXPECT_TRUE(Click(B::kPin));
  EXPECT_EQ(ImageOf(B::kPin), std::string(img::kPinIn));
}

TEST_F(MenuBarTest, PaintsTheOpenPanels) {
  bar->Show();
  EXPECT_TRUE(Click(B::kKeys));
  const Rect keys = layout::KeysPanel(kWidth);
  Surface s = Painted();
  EXPECT_EQ(painter.ImageAt(s, keys.left, keys.top), std::string(img::kKeysPanel));
  EXPECT_EQ(painter.ImageAt(s, keys.right - 1, keys.bottom - 1), std::string(img::kKeysPanel));

  EXPECT_TRUE(Click(B::kPower));
  const Rect compact = layout::PowerCompact(kWidth);
  s = Painted();
  EXPECT_EQ(painter.ImageAt(s, compact.left, compact.top), std::string(img::kPowerCompact));
  EXPECT_EQ(painter.ImageAt(s, compact.left + 12 + 88, compact.top + 12 + 14),
            std::string(img::kEntry));
  EXPECT_EQ(painter.ImageAt(s, compact.left + 12 + 88, compact.top + 74 + 14),
            std::string(img::kEntry));                               // the link
  EXPECT_EQ(painter.ImageAt(s, keys.left + 40, keys.top + 40), "");  // keys panel closed

  EXPECT_TRUE(Click(In(compact, 20, 80)));
  const Rect extended = layout::PowerExtended(kWidth);
  s = Painted();
  EXPECT_EQ(painter.ImageAt(s, extended.left, extended.top), std::string(img::kPowerExtended));
  for (const auto& p : layout::kPowerEntryPlaces) {
    EXPECT_EQ(painter.ImageAt(s, extended.left + p.extendedX + 88, extended.top + p.extendedY),
              std::string(img::kEntry));
  }
}

TEST_F(MenuBarTest, JapaneseFormsUseTheirTextsAndFont) {
  SetUiLanguage(Language::kJapanese);
  painter.texts.clear();
  Make(Config());
  std::vector<std::string> entries;
  for (const auto& t : painter.texts) {
    if (t.text == "srv-01") {
      EXPECT_EQ(t.font.face, "Arial");  // the name is always "Arial" 12
      continue;
    }
    EXPECT_EQ(t.font.face, "MS UI Gothic");
    EXPECT_EQ(t.font.pixelHeight, 10);
    EXPECT_EQ(t.x, 5);
    EXPECT_EQ(t.y, 2);
    entries.push_back(t.text);
  }
  // Normal, pressed and grey image of each entry, then the link.
  ASSERT_EQ(entries.size(), 13u);
  EXPECT_EQ(entries[0], "瞬間的に押す");
  EXPECT_EQ(entries[3], "押し続ける");
  EXPECT_EQ(entries[6], "コールド ブート");
  EXPECT_EQ(entries[9], "リセット システム");
  EXPECT_EQ(entries[12], "拡張メニュー");
  EXPECT_EQ(bar->menuFont().face, "MS UI Gothic");

  SetUiLanguage(Language::kEnglish);
  painter.texts.clear();
  Make(Config());
  EXPECT_EQ(bar->menuFont().face, "Arial");
  EXPECT_EQ(bar->menuFont().pixelHeight, 12);
  EXPECT_EQ(painter.texts[1].text, "Momentary Press");
  EXPECT_EQ(painter.texts.back().text, "Extended Menu");
}

// ---- Start-up failures ----

TEST(MenuBarStartup, MissingBarPictureIsReportedAndTheBarStaysOut) {
  FakeHost host;
  FakeOwner owner;
  TraceCapture trace;
  FakePainter painter(/*withBar=*/false);
  CMenuBar bar(host, painter, owner, Config());
  EXPECT_TRUE(trace.Has("Error 00000716 from LoadBitmap of hMenu.\n"));
  ASSERT_EQ(host.Boxes().size(), 1u);
  EXPECT_EQ(host.Boxes()[0].text, "MenuBarInit - Error from LoadBitmap of hMenu");
  EXPECT_EQ(host.Boxes()[0].caption, "Warning");
  bar.Pin();
  EXPECT_FALSE(bar.HitTest(kR - 300, 5));
  EXPECT_FALSE(bar.OnMouseButton(E::kLeftDown, kR - 33, 10));
  Surface s(kWidth, 100, FakePainter::kBackground);
  bar.Paint(s, kWidth);
  EXPECT_EQ(s.At(kR - 300, 5), FakePainter::kBackground);
}

TEST(MenuBarStartup, MissingMaskIsTracedOnly) {
  FakeHost host;
  FakeOwner owner;
  TraceCapture trace;
  FakePainter painter(/*withBar=*/true, /*withMask=*/false);
  CMenuBar bar(host, painter, owner, Config());
  EXPECT_TRUE(trace.Has("Error 00000716 from LoadBitmap of hMenuMask.\n"));
  EXPECT_TRUE(host.Boxes().empty());
  EXPECT_FALSE(bar.HitTest(kR - 300, 5));
}

}  // namespace
}  // namespace remcons
