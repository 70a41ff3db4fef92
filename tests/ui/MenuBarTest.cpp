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
using Strings = std::vector<std::string>;
namespace img = menubar::img;

constexpr int kWidth = 1024;
constexpr int kR = 832;  // the bar's right edge at that width

struct Point {
  int x, y;
};

Point Center(const Rect& r) {
  return {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
}

MenuBarConfig Config(uint32_t muMode = 0, bool screenCapture = false, bool clientCapture = false) {
  MenuBarConfig c;
  c.target = "127.0.0.1";
  c.serverName = "srv-01";
  c.width = kWidth;
  c.uniqueFeatures = 4 | 8;  // virtual power and virtual media allowed
  c.muMode = muMode;
  c.screenCapture = screenCapture;
  c.clientCapture = clientCapture;
  c.vmKeyRefused = true;  // no drives: the drive menu has its own tests
  return c;
}

class MenuBarTest : public ::testing::Test {
 protected:
  void SetUp() override { Make(Config()); }
  void TearDown() override { SetUiLanguage(Language::kEnglish); }

  void Make(MenuBarConfig config, bool show = false) {
    bar.reset();
    bar = std::make_unique<CMenuBar>(host, painter, owner, std::move(config));
    if (show) bar->Show();
  }

  // A left click as the window delivers it; true when the bar took both halves.
  bool Click(Point p) {
    const bool down = bar->OnMouseButton(E::kLeftDown, p.x, p.y);
    const bool up = bar->OnMouseButton(E::kLeftUp, p.x, p.y);
    EXPECT_EQ(down, up);
    return down && up;
  }
  bool Click(B button) { return Click(Center(layout::Button(button, kWidth))); }
  bool Press(B button, E::Event e) {
    const Point p = Center(layout::Button(button, kWidth));
    return bar->OnMouseButton(e, p.x, p.y);
  }
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
  // The images of several buttons, for one comparison.
  Strings ImagesOf(std::initializer_list<B> buttons) {
    Strings images;
    for (B b : buttons) images.push_back(ImageOf(b));
    return images;
  }
  static Strings Ids(std::initializer_list<std::string_view> ids) {
    return Strings(ids.begin(), ids.end());
  }

  FakeHost host;
  FakePainter painter;
  FakeOwner owner;
  std::unique_ptr<CMenuBar> bar;
};

TEST_F(MenuBarTest, ShowingHidingAndPinning) {
  EXPECT_FALSE(bar->IsShown());
  EXPECT_FALSE(bar->IsPinned());
  host.ClearRecords();
  bar->Show();
  EXPECT_TRUE(bar->IsShown());
  // Showing asks for repaints of rectangles only; moving about on the shown bar, for none.
  bool sawBar = false;
  for (const auto& i : host.Invalidations()) {
    EXPECT_FALSE(i.whole || i.erase);
    sawBar |= i.rect == Rect{kR - 640, 0, kR, 23};
  }
  EXPECT_TRUE(sawBar);
  host.ClearRecords();
  bar->Show();
  EXPECT_TRUE(host.Invalidations().empty());
  bar->Hide();
  EXPECT_FALSE(bar->IsShown());
  // Pinned, it stays through a Hide; the pin button unpins it.
  bar->Pin();
  bar->Hide();
  EXPECT_TRUE(bar->IsShown());
  EXPECT_TRUE(Click(B::kPin));
  EXPECT_FALSE(bar->IsPinned());
  bar->Hide();
  EXPECT_FALSE(bar->IsShown());
}

TEST_F(MenuBarTest, WhichClicksTheBarTakes) {
  for (int e = 0; e <= 5; ++e) {
    EXPECT_FALSE(bar->OnMouseButton(static_cast<E::Event>(e), kR - 33, 10)) << e;
  }
  bar->Show();
  for (Point p : {Point{kR - 300, 5}, Point{kR - 640, 0}, Point{kR - 1, 21}}) EXPECT_TRUE(Click(p));
  // Just below, right and left of the bar, and the picture.
  for (Point p : {Point{kR - 300, 22}, Point{kR, 5}, Point{kR - 641, 5}, Point{kR - 300, 200}}) {
    EXPECT_FALSE(Click(p));
  }
  // Right and double clicks are swallowed without action.
  for (B button : {B::kClose, B::kPin, B::kPower, B::kKeys, B::kMedia}) {
    for (E::Event e : {E::kRightDown, E::kRightUp, E::kLeftDoubleClick, E::kRightDoubleClick}) {
      EXPECT_TRUE(Press(button, e) || e == E::kRightUp);
    }
  }
  EXPECT_FALSE(bar->IsPinned());
  EXPECT_EQ(bar->OpenPanel(), Panel::kNone);
  EXPECT_TRUE(host.Boxes().empty());
  // Pressed on the picture, released on the bar: the server saw the press, so it gets the
  // release, and the close button does nothing.
  Make(Config(), true);
  const Point close = Center(layout::Button(B::kClose, kWidth));
  EXPECT_FALSE(bar->OnMouseButton(E::kLeftDown, close.x, 300));
  EXPECT_FALSE(bar->OnMouseButton(E::kLeftUp, close.x, close.y));
  EXPECT_FALSE(bar->OnMouseButton(E::kRightDown, close.x, 300));
  EXPECT_FALSE(bar->OnMouseButton(E::kRightUp, close.x, close.y));
  // Pressed on close, released on the picture: both halves are the bar's and nothing happens;
  // the same release once more is not the bar's.
  EXPECT_TRUE(bar->OnMouseButton(E::kLeftDown, close.x, close.y));
  EXPECT_TRUE(bar->OnMouseButton(E::kLeftUp, close.x, 300));
  EXPECT_FALSE(bar->OnMouseButton(E::kLeftUp, close.x, 300));
  // A press on the bar whose release never came (a dialog it opened took it): the next press on
  // the picture is the server's, and so is its release.
  for (auto [down, up] : {std::pair{E::kLeftDown, E::kLeftUp}, {E::kRightDown, E::kRightUp}}) {
    EXPECT_TRUE(bar->OnMouseButton(down, close.x, close.y));
    EXPECT_FALSE(bar->OnMouseButton(down, close.x, 300));
    EXPECT_FALSE(bar->OnMouseButton(up, close.x, 300)) << down;
  }
  EXPECT_TRUE(owner.Quiet());
  EXPECT_TRUE(Click(B::kClose));
  EXPECT_EQ(owner.calls, Strings{"StopSession"});
  // A pinned bar takes clicks before any move.
  Make(Config());
  bar->Pin();
  EXPECT_TRUE(Click(B::kKeys));
  EXPECT_EQ(bar->OpenPanel(), Panel::kKeys);
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
      EXPECT_EQ(owner.inputs, Strings{expected[k]}) << "row " << k;
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

// Each entry sends its one command; power commands are not input.
TEST_F(MenuBarTest, PowerEntriesAndTheirEdges) {
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
    EXPECT_EQ(owner.writes, Strings{bytes[i]}) << "extended " << i;
    EXPECT_EQ(bar->OpenPanel(), Panel::kNone);
  }
  EXPECT_TRUE(owner.inputs.empty());
  // One pixel rows part the compact panel's entries, except 2 and 3, which meet at y 59; the
  // link's click area starts at 75.
  const struct {
    Point at;
    const char* sent;  // "" for nothing
  } cases[] = {
      {{12, 12}, "FF BA"}, {{11, 12}, ""},      {{113, 26}, "FF BA"}, {{30, 27}, ""},
      {{30, 28}, "FF BB"}, {{30, 42}, "FF BB"}, {{30, 43}, ""},       {{30, 44}, "FF BC"},
      {{30, 58}, "FF BC"}, {{30, 59}, "FF BD"}, {{30, 73}, "FF BD"},  {{30, 74}, ""},
      {{30, 11}, ""},      {{12, 75}, ""},      {{88, 89}, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.at.x) + "," + std::to_string(c.at.y));
    EXPECT_TRUE(Click(B::kPower));
    owner.writes.clear();
    EXPECT_TRUE(Click(In(compact, c.at.x, c.at.y)));
    EXPECT_EQ(owner.writes, *c.sent ? Strings{c.sent} : Strings{});
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
  // Per entry: '-' black text, 'g' grey (its text starts at (5, 2) inside its image).
  auto greying = [&] {
    std::string g;
    const Surface s = Painted();
    for (int i = 0; i < 4; ++i) {
      const layout::PowerEntryPlace& p = layout::kPowerEntryPlaces[i];
      const Pixel at = s.At(compact.left + p.compactX + 5, compact.top + p.compactY + 2) & 0xFFFFFF;
      g += at == (menubar::kMenuTextColor & 0xFFFFFF)       ? '-'
           : at == (menubar::kMenuGreyTextColor & 0xFFFFFF) ? 'g'
                                                            : '?';
      EXPECT_EQ(bar->EntryGreyed(i), g.back() == 'g') << i;
    }
    return g;
  };
  EXPECT_TRUE(Click(B::kPower));
  EXPECT_EQ(greying(), "----");
  bar->SetPowerOff();
  EXPECT_EQ(greying(), "--gg");
  owner.writes.clear();
  EXPECT_TRUE(Click(In(compact, 50, 51)));  // Cold Boot, grey
  EXPECT_EQ(owner.writes, Strings{"FF BC"});
  bar->SetPowerOn();
  EXPECT_TRUE(Click(B::kPower));
  EXPECT_EQ(greying(), "----");
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
  EXPECT_EQ(owner.writes, Strings{"FF BB"});
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
  Make(c, true);
  TraceCapture trace;
  EXPECT_TRUE(Click(B::kPower));
  EXPECT_TRUE(Click(B::kMedia));
  auto boxes = host.Boxes();
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[0].text, "Virtual Power Not Authorized");
  EXPECT_EQ(boxes[1].text, "Virtual Media Not Authorized");
  for (const auto& box : boxes) {
    EXPECT_EQ(box.caption, "Warning");
    EXPECT_EQ(box.style & kMbIconMask, uint32_t{kMbIconWarning});
    EXPECT_EQ(box.style & kMbButtonMask, uint32_t{kMbOk});
  }
  EXPECT_TRUE(trace.Has("CMenuBar::displaying power not authorized warning\n"));
  EXPECT_TRUE(trace.Has("CMenuBar::displaying not authorized warning\n"));
  EXPECT_EQ(bar->OpenPanel(), Panel::kNone);
  EXPECT_TRUE(owner.Quiet());
  // Each right alone.
  c.uniqueFeatures = 4;
  Make(c, true);
  host.ClearRecords();
  EXPECT_TRUE(Click(B::kPower));
  EXPECT_EQ(bar->OpenPanel(), Panel::kPowerCompact);
  EXPECT_TRUE(host.Boxes().empty());
  EXPECT_TRUE(Click(B::kMedia));
  ASSERT_EQ(host.Boxes().size(), 1u);
  EXPECT_EQ(host.Boxes()[0].text, "Virtual Media Not Authorized");
}

TEST_F(MenuBarTest, PanelsAreExclusiveAndPartOfTheBar) {
  const Rect keys = layout::KeysPanel(kWidth);
  const Point inside = In(keys, 40, 60);
  EXPECT_FALSE(bar->HitTest(inside.x, inside.y));
  bar->Show();
  EXPECT_TRUE(Click(B::kPower));
  EXPECT_TRUE(Click(B::kPower));
  EXPECT_EQ(bar->OpenPanel(), Panel::kNone);
  EXPECT_TRUE(Click(B::kPower));
  EXPECT_TRUE(Click(B::kMedia));
  EXPECT_EQ(bar->OpenPanel(), Panel::kDrives);
  EXPECT_TRUE(Click(B::kMedia));
  EXPECT_EQ(bar->OpenPanel(), Panel::kNone);
  EXPECT_TRUE(Click(B::kPower));
  EXPECT_TRUE(Click(B::kKeys));
  EXPECT_EQ(bar->OpenPanel(), Panel::kKeys);
  EXPECT_TRUE(bar->HitTest(inside.x, inside.y));
  EXPECT_FALSE(bar->HitTest(keys.right, inside.y));
  EXPECT_TRUE(bar->OverlapsBar(keys.left - 50, keys.top + 10, keys.left + 1, keys.top + 11));
  EXPECT_FALSE(bar->OverlapsBar(keys.left - 50, keys.top + 10, keys.left, keys.top + 11));
  EXPECT_EQ(bar->Area(), (Rect{kR - 640, 0, kR, keys.bottom}));
}

// ---- Multi-user and capture buttons ----

TEST_F(MenuBarTest, JoiningConsoleHasTheControlButtonOnly) {
  Make(Config(2, true, true), true);
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
  EXPECT_EQ(owner.calls, Strings{"RequestControl"});
  bar->ShowControlState(true);
  EXPECT_EQ(ImageOf(B::kControl), std::string(img::kControlHeld));
  EXPECT_TRUE(Click(B::kControl));
  EXPECT_EQ(bar->ControlState(), 0);
  EXPECT_EQ(owner.calls, (Strings{"RequestControl", "RelinquishControl"}));
}

// A leader holds control, takes it back at once, and locks the session; a single console has
// none of these buttons.
TEST_F(MenuBarTest, LeaderHoldsControlAndLocksTheSession) {
  bar->Show();
  for (B b : {B::kControl, B::kClientList, B::kLock}) EXPECT_TRUE(Click(b));
  EXPECT_EQ(ImagesOf({B::kControl, B::kClientList, B::kLock}),
            Ids({img::kBar, img::kBar, img::kBar}));
  EXPECT_TRUE(owner.Quiet());
  Make(Config(1), true);
  EXPECT_EQ(bar->ControlState(), 2);
  EXPECT_TRUE(Click(B::kControl));
  EXPECT_EQ(bar->ControlState(), 0);
  EXPECT_TRUE(Click(B::kControl));
  EXPECT_EQ(bar->ControlState(), 2);
  EXPECT_EQ(ImageOf(B::kLock), std::string(img::kLockOpen));
  EXPECT_TRUE(Click(B::kLock));
  EXPECT_EQ(ImageOf(B::kLock), std::string(img::kLockClosed));
  EXPECT_TRUE(Click(B::kLock));
  EXPECT_TRUE(Click(B::kClientList));
  EXPECT_EQ(owner.calls, (Strings{"RelinquishControl", "RequestControl", "SetAccepting 0",
                                  "SetAccepting 1", "ShowClientList"}));
}

// Record starts a capture (and asks for a whole picture), or shows idle when it cannot; the replay
// menu opens once until it closes.
TEST_F(MenuBarTest, RecordAndReplayMenu) {
  Make(Config(0, true, true), true);
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
  EXPECT_TRUE(Click(B::kReplay));
  EXPECT_EQ(ImageOf(B::kReplay), std::string(img::kReplayPressed));
  EXPECT_TRUE(Click(B::kReplay));
  bar->SetReplayMenuClosed();
  EXPECT_EQ(ImageOf(B::kReplay), std::string(img::kReplay));
  EXPECT_TRUE(Click(B::kReplay));
  EXPECT_EQ(owner.calls, (Strings{"StartCapture", "StartCapture", "DoCommand 18", "StopCapture",
                                  "OpenReplayMenu", "OpenReplayMenu"}));
}

TEST_F(MenuBarTest, ReplayControls) {
  Make(Config(0, true), true);
  bar->StartReplay("BOOT Buffer");
  EXPECT_TRUE(bar->IsReplaying());
  // The normal buttons give way: the power button's last column, which fast play does not cover.
  EXPECT_EQ(painter.ImageAt(Painted(), kR - 45, 10), std::string(img::kBar));
  EXPECT_EQ(ImageOf(B::kPlayPause), std::string(img::kPlay));
  // Fast play: 0 -> 1 -> 2 -> 3 -> 0, with the tooltip naming what the next click selects.
  const std::string_view tips[4] = {"349", "350", "351", "348"};
  const std::string_view images[4] = {"316", "316", "325", "326"};
  for (int i = 1; i <= 4; ++i) {
    EXPECT_TRUE(Click(B::kFastPlay));
    EXPECT_EQ(bar->SpeedIndex(), i % 4);
    EXPECT_TRUE(bar->TakeSpeedChanged());
    EXPECT_FALSE(bar->TakeSpeedChanged());
    EXPECT_EQ(bar->tooltip(), tips[i % 4]);
    EXPECT_EQ(ImageOf(B::kFastPlay), images[i % 4]);
  }
  EXPECT_TRUE(Press(B::kFastPlay, E::kLeftDown));
  EXPECT_EQ(ImageOf(B::kFastPlay), "315");
  EXPECT_TRUE(Press(B::kFastPlay, E::kLeftUp));
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
  EXPECT_EQ(owner.calls, Strings{"LeaveReplay"});
  EXPECT_EQ(ImageOf(B::kPower), std::string(img::kPowerOn));
}

TEST_F(MenuBarTest, TooltipOfTheButtonUnderThePointer) {
  Make(Config(1, false, true), true);
  const std::pair<B, std::string_view> cases[] = {
      {B::kRecord, "320"}, {B::kReplay, "321"},  {B::kPower, "322"},      {B::kMedia, "323"},
      {B::kKeys, "324"},   {B::kControl, "341"}, {B::kClientList, "342"}, {B::kLock, "370"},
      {B::kPin, ""},       {B::kClose, ""}};
  const Rect strip = layout::TooltipStrip(kWidth);
  for (const auto& [button, tip] : cases) {
    const Point p = Center(layout::Button(button, kWidth));
    bar->OnMouseMove(p.x, p.y);
    EXPECT_EQ(bar->tooltip(), tip) << static_cast<int>(button);
    EXPECT_EQ(painter.ImageAt(Painted(), strip.left + 30, strip.top + 4), std::string(tip));
  }
  bar->OnMouseMove(kR - 300, 10);
  EXPECT_EQ(bar->tooltip(), "");
  bar->OnMouseMove(Center(layout::Button(B::kPower, kWidth)).x, 10);
  bar->Hide();
  EXPECT_EQ(bar->tooltip(), "");
}

// ---- Painting ----

TEST_F(MenuBarTest, PaintsTheBarThroughItsMaskWithTheNameOrTheReplayTitle) {
  Surface s = Painted();
  const Rect barRect = layout::Bar(kWidth);
  const Pixel text = menubar::kBarTextColor & 0xFFFFFF;
  // The fake mask leaves the bar's first column and last row out.
  EXPECT_EQ(s.At(barRect.left, 5) & 0xFFFFFF, FakePainter::kBackground & 0xFFFFFF);
  EXPECT_EQ(s.At(barRect.left + 300, 21) & 0xFFFFFF, FakePainter::kBackground & 0xFFFFFF);
  EXPECT_EQ(painter.ImageAt(s, barRect.left + 1, 5), std::string(img::kBar));
  // The server name, "Arial" 12, centred, 1 pixel from the top, in the bar text colour.
  const int nameWidth = 6 * FakePainter::kAdvance;
  const int nameX = barRect.left + (640 - nameWidth) / 2;
  EXPECT_EQ(s.At(nameX, 1) & 0xFFFFFF, text);
  EXPECT_EQ(s.At(nameX - 1, 1) & 0xFFFFFF, painter.ColorOf(img::kBar) & 0xFFFFFF);
  EXPECT_EQ(s.At(nameX + nameWidth - 1, 1) & 0xFFFFFF, text);
  ASSERT_EQ(painter.texts.front().text, "srv-01");
  EXPECT_EQ(painter.texts.front().font.face, "Arial");
  EXPECT_EQ(painter.texts.front().font.pixelHeight, 12);
  EXPECT_EQ(painter.texts.front().y, 1);
  EXPECT_FALSE(painter.texts.front().opaque);
  // Normal console: pin out, close, power on, media, keys, and no record button.
  EXPECT_EQ(ImagesOf({B::kPin, B::kClose, B::kPower, B::kMedia, B::kKeys, B::kRecord}),
            Ids({img::kPinOut, img::kClose, img::kPowerOn, img::kMedia, img::kKeys, img::kBar}));
  // The replay title, 9 pixels from the top, replaces the name (they would run into each other)
  // until the replay ends.
  bar->StartReplay("BOOT Buffer");
  const int titleX = barRect.left + (640 - 11 * FakePainter::kAdvance) / 2;
  s = Painted();
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
  EXPECT_GE(name.x, 36);
  EXPECT_LE(name.x + painter.TextWidth(name.text, CMenuBar::NameFont()), 536);
}

TEST_F(MenuBarTest, ButtonImagesAndPanelsFollowState) {
  bar->Show();
  bar->SetPowerOff();
  EXPECT_EQ(ImageOf(B::kPower), std::string(img::kPowerOff));
  EXPECT_TRUE(Click(B::kPower));
  EXPECT_EQ(ImageOf(B::kPower), std::string(img::kPowerOffPressed));
  bar->SetPowerOn();
  EXPECT_EQ(ImageOf(B::kPower), std::string(img::kPowerOnPressed));
  const Rect compact = layout::PowerCompact(kWidth);
  Surface s = Painted();
  EXPECT_EQ(painter.ImageAt(s, compact.left, compact.top), std::string(img::kPowerCompact));
  EXPECT_EQ(painter.ImageAt(s, compact.left + 12 + 88, compact.top + 12 + 14),
            std::string(img::kEntry));
  EXPECT_EQ(painter.ImageAt(s, compact.left + 12 + 88, compact.top + 74 + 14),
            std::string(img::kEntry));  // the link
  EXPECT_TRUE(Click(B::kKeys));
  EXPECT_EQ(ImagesOf({B::kKeys, B::kPower}), Ids({img::kKeysPressed, img::kPowerOn}));
  const Rect keys = layout::KeysPanel(kWidth);
  s = Painted();
  EXPECT_EQ(painter.ImageAt(s, keys.left, keys.top), std::string(img::kKeysPanel));
  EXPECT_EQ(painter.ImageAt(s, keys.right - 1, keys.bottom - 1), std::string(img::kKeysPanel));
  // Pressed while the button is down.
  const Point close = Center(layout::Button(B::kClose, kWidth));
  EXPECT_TRUE(bar->OnMouseButton(E::kLeftDown, close.x, close.y));
  EXPECT_EQ(ImageOf(B::kClose), std::string(img::kClosePressed));
  EXPECT_TRUE(bar->OnMouseButton(E::kLeftUp, close.x, 300));
  EXPECT_EQ(ImageOf(B::kClose), std::string(img::kClose));
  EXPECT_TRUE(Click(B::kPin));
  EXPECT_EQ(ImageOf(B::kPin), std::string(img::kPinIn));
  // The large power panel, with the keys panel closed.
  EXPECT_TRUE(Click(B::kPower));
  EXPECT_TRUE(Click(In(compact, 20, 80)));
  const Rect extended = layout::PowerExtended(kWidth);
  s = Painted();
  EXPECT_EQ(painter.ImageAt(s, keys.left + 40, keys.top + 40), "");
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
  Strings entries;
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
  EXPECT_EQ((Strings{entries[0], entries[3], entries[6], entries[9], entries[12]}),
            (Strings{"瞬間的に押す", "押し続ける", "コールド ブート", "リセット システム",
                     "拡張メニュー"}));
  EXPECT_EQ(bar->menuFont().face, "MS UI Gothic");
  SetUiLanguage(Language::kEnglish);
  painter.texts.clear();
  Make(Config());
  EXPECT_EQ(bar->menuFont().face, "Arial");
  EXPECT_EQ(bar->menuFont().pixelHeight, 12);
  EXPECT_EQ(painter.texts[1].text, "Momentary Press");
  EXPECT_EQ(painter.texts.back().text, "Extended Menu");
}

// A missing bar picture is reported and keeps the bar out; a missing mask is traced only.
TEST(MenuBarStartup, MissingPictures) {
  for (const bool withBar : {false, true}) {
    FakeHost host;
    FakeOwner owner;
    TraceCapture trace;
    FakePainter painter(withBar, /*withMask=*/!withBar);
    CMenuBar bar(host, painter, owner, Config());
    EXPECT_FALSE(bar.HitTest(kR - 300, 5));
    if (withBar) {
      EXPECT_TRUE(trace.Has("Error 00000716 from LoadBitmap of hMenuMask.\n"));
      EXPECT_TRUE(host.Boxes().empty());
      continue;
    }
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
}

}  // namespace
}  // namespace remcons
