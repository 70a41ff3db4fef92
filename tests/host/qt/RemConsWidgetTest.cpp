// RemConsWidget against the simulator, as the window system drives it: the picture, keys with
// their native scan codes, the mouse over the picture and over the menu bar, the power panel and
// the close button. Built twice: on the offscreen platform and on an Xvfb server.
#include <gtest/gtest.h>

#include <QClipboard>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QLineEdit>
#include <QPushButton>
#include <cstdlib>
#include <map>
#include <sstream>

#include "host/qt/Artwork.h"
#include "host/qt/DesktopUtil.h"
#include "host/qt/QtImage.h"
#include "host/qt/QtPainter.h"
#include "multiuser/LinkRig.h"
#include "platform/Clock.h"
#include "support/TraceCapture.h"
#include "ui/MenuBarImages.h"
#include "ui/MenuBarLayout.h"

namespace remcons {
namespace {

using testing::Center;
using testing::Click;
using testing::ConsoleRig;
using testing::DoubleClick;
using testing::Grabbed;
using testing::Move;
using testing::PacketBytes;
using testing::ScreenshotDir;
using testing::SendKey;
using testing::Tap;
using testing::WaitUntil;
namespace img = menubar::img;

using Bytes = std::vector<uint8_t>;

// X keycodes of a pc105 keyboard (evdev + 8).
constexpr int kXKeyA = 38, kXKeyC = 54, kXKey2 = 11, kXShiftL = 50, kXControlL = 37;
constexpr int kXReturn = 36, kXUp = 111, kXF1 = 67;
constexpr int kXEscape = 9, kXKeyV = 55, kXAltL = 64;

// Where the tests run, for the screenshots' names.
constexpr const char* kPlatform = REMCONS_TEST_X_SERVER ? "xvfb" : "offscreen";

// The menu bar's artwork as the widget's painter draws it.
QtPainter& Art() {
  static QtPainter* painter = [] {
    auto* p = new QtPainter();
    RegisterMenuBarArtwork(*p);
    return p;
  }();
  return *painter;
}

// Pixels of image that differ from the picture at (x, y), over rows [rowFrom, rowTo) of the image.
long Differences(const Surface& picture, std::string_view id, int x, int y, int rowFrom = 0,
                 int rowTo = 1 << 20) {
  const Surface* image = Art().Image(id);
  if (!image) return -1;
  long differences = 0;
  for (int row = rowFrom; row < std::min(rowTo, image->height()); ++row) {
    for (int col = 0; col < image->width(); ++col) {
      if (x + col >= picture.width() || y + row >= picture.height()) return -1;
      differences += !SameColor(picture.At(x + col, y + row), image->At(col, row));
    }
  }
  return differences;
}

long CountColor(const Surface& picture, const Rect& r, Pixel color) {
  long n = 0;
  for (int y = r.top; y < r.bottom && y < picture.height(); ++y) {
    for (int x = r.left; x < r.right && x < picture.width(); ++x)
      n += SameColor(picture.At(x, y), color);
  }
  return n;
}

class DesktopWidget : public ::testing::Test {
 protected:
  void SetUp() override {
#if REMCONS_TEST_X_SERVER
    if (testing::TestDisplay().empty()) GTEST_SKIP() << testing::XServerMissing();
#endif
  }
  // The console shown, connected and showing the server's screen.
  std::unique_ptr<ConsoleRig> Start(const PropertyBag& extra = {}) {
    auto rig = std::make_unique<ConsoleRig>(extra);
    EXPECT_TRUE(rig->Show());
    EXPECT_TRUE(rig->ShowsServerScreen());
    return rig;
  }
  // Over the bar, then a click there.
  static void ClickBar(ConsoleRig& rig, QPoint p) {
    Move(rig.widget(), p);
    Click(rig.widget(), p);
  }
  static QPoint ButtonAt(ConsoleRig& rig, BarButton b) {
    return Center(layout::Button(b, rig.width()));
  }
};

TEST_F(DesktopWidget, ShowsTheServersScreenAtItsSize) {
  auto rig = Start();
  EXPECT_EQ(rig->widget()->size(), QSize(1024, 768));
  EXPECT_EQ(rig->resizes(), 1);
  // A mode change of the server: the control reports it, the widget follows, and the picture is
  // the server's again.
  rig->server().SetMode(800, 600);
  ASSERT_TRUE(WaitUntil([&] { return rig->widget()->width() == 800; }));
  EXPECT_TRUE(rig->ShowsServerScreen());
  EXPECT_EQ(rig->widget()->size(), QSize(800, 600));
}

TEST_F(DesktopWidget, HidKeysReachTheServerAsReports) {
  auto rig = Start({{"kbdMode", "1"}});
  QWidget* w = rig->widget();
  Tap(w, kXKeyA, Qt::Key_A, "a");
  SendKey(w, true, kXShiftL, Qt::Key_Shift);
  SendKey(w, true, kXKeyA, Qt::Key_A, "A", Qt::ShiftModifier);
  // The press repeats while held: the report does not change, nothing is sent.
  QKeyEvent repeat(QEvent::KeyPress, Qt::Key_A, Qt::ShiftModifier, kXKeyA, 0, 0, "A", true);
  QApplication::sendEvent(w, &repeat);
  SendKey(w, false, kXKeyA, Qt::Key_A, "A", Qt::ShiftModifier);
  SendKey(w, false, kXShiftL, Qt::Key_Shift);
  ASSERT_TRUE(rig->server().WaitForPackets("hid", 6, 5000));
  const Bytes none = {0xFF, 0xD6, 0, 0, 0, 0, 0, 0, 0, 0};
  const std::vector<Bytes> expected = {
      {0xFF, 0xD6, 0x00, 0, 0x04, 0, 0, 0, 0, 0}, none,
      {0xFF, 0xD6, 0x02, 0, 0x00, 0, 0, 0, 0, 0}, {0xFF, 0xD6, 0x02, 0, 0x04, 0, 0, 0, 0, 0},
      {0xFF, 0xD6, 0x02, 0, 0x00, 0, 0, 0, 0, 0}, none};
  EXPECT_EQ(PacketBytes(rig->server(), "hid"), expected);
  // HID mode types no characters: the keys are the server's.
  EXPECT_EQ(rig->server().PacketCount("char"), 0u);
}

TEST_F(DesktopWidget, TerminalKeysSendSequencesAndUsLayoutCharacters) {
  auto rig = Start({{"kbdMode", "0"}});
  QWidget* w = rig->widget();
  SendKey(w, true, kXUp, Qt::Key_Up);
  SendKey(w, false, kXUp, Qt::Key_Up);
  Tap(w, kXF1, Qt::Key_F1);
  // The key that types 'q' on the desktop's layout is A on the US layout the console uses.
  Tap(w, kXKeyA, Qt::Key_Q, "q");
  SendKey(w, true, kXShiftL, Qt::Key_Shift);
  Tap(w, kXKeyA, Qt::Key_Q, "Q", Qt::ShiftModifier);
  // Shift+2 is '"' on some layouts, '@' on the US one.
  Tap(w, kXKey2, Qt::Key_QuoteDbl, "\"", Qt::ShiftModifier);
  SendKey(w, false, kXShiftL, Qt::Key_Shift);
  Tap(w, kXReturn, Qt::Key_Return, "\r");
  SendKey(w, true, kXControlL, Qt::Key_Control, {}, Qt::ControlModifier);
  Tap(w, kXKeyC, Qt::Key_C, "\x03", Qt::ControlModifier);
  SendKey(w, false, kXControlL, Qt::Key_Control);
  ASSERT_TRUE(rig->server().WaitFor(
      [&] {
        return rig->server().PacketCount("char") >= 5 && rig->server().PacketCount("key") >= 2;
      },
      5000));
  const std::vector<Bytes> expected = {
      {0x1B, 0x5B, 0x41}, {0x1B, 0x5B, 0x4D}, {'a'}, {'A'}, {'@'}, {0x0D}, {0x03}};
  EXPECT_EQ(PacketBytes(rig->server(), {"char", "key"}), expected);
}

TEST_F(DesktopWidget, ClicksOnTheBarStayHereClicksElsewhereGoToTheServer) {
  auto rig = Start();
  QWidget* w = rig->widget();
  const QPoint picture(300, 300);
  Move(w, picture);
  Click(w, picture);
  ASSERT_TRUE(rig->server().WaitForPackets("mouse-release", 1, 5000));

  // The middle of the bar carries the server's name, no button; right and double clicks on a
  // button are swallowed.
  const QPoint bar(rig->width() / 2, 10);
  const QPoint pin = ButtonAt(*rig, BarButton::kPin);
  Move(w, bar);
  EXPECT_TRUE(rig->bar()->IsShown());
  Click(w, bar);
  Click(w, bar, Qt::RightButton);
  DoubleClick(w, bar);
  Move(w, pin);
  Click(w, pin, Qt::RightButton);
  DoubleClick(w, pin, Qt::RightButton);
  EXPECT_FALSE(rig->bar()->IsPinned());
  // Off the bar again: the next clicks go to the server, and only those arrive.
  Move(w, picture);
  EXPECT_FALSE(rig->bar()->IsShown());
  Click(w, picture, Qt::RightButton);
  DoubleClick(w, picture);
  ASSERT_TRUE(rig->server().WaitForPackets("mouse-click", 1, 5000));
  ASSERT_TRUE(rig->server().WaitForPackets("mouse-release", 4, 5000));
  EXPECT_EQ(PacketBytes(rig->server(), "mouse-press"),
            (std::vector<Bytes>{{0xFF, 0xD1, 0x04}, {0xFF, 0xD1, 0x01}, {0xFF, 0xD1, 0x04}}));
  EXPECT_EQ(PacketBytes(rig->server(), "mouse-release"),
            (std::vector<Bytes>{
                {0xFF, 0xD2, 0x04}, {0xFF, 0xD2, 0x01}, {0xFF, 0xD2, 0x04}, {0xFF, 0xD2, 0x04}}));
  EXPECT_EQ(PacketBytes(rig->server(), "mouse-click"),
            (std::vector<Bytes>{{0xFF, 0xD3, 0x04, 0x01}}));
}

TEST_F(DesktopWidget, HoverShowsAndHidesTheBarAndThePinKeepsIt) {
  auto rig = Start();
  QWidget* w = rig->widget();
  const Rect pin = layout::Button(BarButton::kPin, rig->width());
  auto pinShows = [&](std::string_view id) {
    return WaitUntil([&] {
      rig->widget()->FlushPaint();
      return Differences(Grabbed(w), id, pin.left, pin.top) == 0;
    });
  };
  Move(w, QPoint(rig->width() / 2, 10));
  EXPECT_TRUE(rig->bar()->IsShown());
  EXPECT_TRUE(pinShows(img::kPinOut));
  Move(w, QPoint(rig->width() / 2, 400));
  EXPECT_FALSE(rig->bar()->IsShown());
  EXPECT_TRUE(rig->ShowsServerScreen());

  // Resting over the power button shows its tooltip.
  const QPoint power = ButtonAt(*rig, BarButton::kPower);
  Move(w, power);
  EXPECT_TRUE(WaitUntil([&] { return rig->bar()->tooltip() == img::kTipPower; }, 3000));
  const Rect tip = layout::TooltipStrip(rig->width());
  EXPECT_TRUE(WaitUntil([&] {
    rig->widget()->FlushPaint();
    return Differences(Grabbed(w), img::kTipPower, tip.left, tip.top) == 0;
  }));

  ClickBar(*rig, Center(pin));
  EXPECT_TRUE(rig->bar()->IsPinned());
  Move(w, QPoint(rig->width() / 2, 400));
  EXPECT_TRUE(rig->bar()->IsShown());
  EXPECT_TRUE(pinShows(img::kPinIn));
  // Pinned, a click on the bar is the bar's even when the pointer comes straight from elsewhere.
  Click(w, Center(pin));
  EXPECT_FALSE(rig->bar()->IsPinned());
  EXPECT_EQ(rig->server().PacketCount("mouse-press"), 0u);
}

TEST_F(DesktopWidget, PowerEntriesSendOneCommandEachAndGreyWithThePower) {
  auto rig = Start({{"uniqueFeatures", "4"}});
  QWidget* w = rig->widget();
  const Rect panel = layout::PowerCompact(rig->width());
  auto entry = [&](int i) {
    const layout::PowerEntryPlace& p = layout::kPowerEntryPlaces[i];
    return Rect{panel.left + p.compactX, panel.top + p.compactY,
                panel.left + p.compactX + layout::kCompactClickWidth,
                panel.top + p.compactY + layout::kEntryClickHeight};
  };
  auto openPanel = [&] {
    ClickBar(*rig, ButtonAt(*rig, BarButton::kPower));
    return rig->bar()->OpenPanel() == CMenuBar::Panel::kPowerCompact;
  };
  auto greyPixels = [&](int i) {
    EXPECT_TRUE(WaitUntil([&] { return rig->widget()->FlushPaint(); }));
    return CountColor(Grabbed(w), entry(i), menubar::kMenuGreyTextColor);
  };

  ASSERT_TRUE(rig->bar()->IsPowerOn());
  ASSERT_TRUE(openPanel());
  EXPECT_EQ(greyPixels(2), 0);
  // Momentary Press: the simulated server switches off, and the console greys Cold Boot and
  // Reset System.
  ClickBar(*rig, Center(entry(0)));
  EXPECT_EQ(rig->bar()->OpenPanel(), CMenuBar::Panel::kNone);
  ASSERT_TRUE(rig->server().WaitForPackets("power-button", 1, 5000));
  ASSERT_TRUE(WaitUntil([&] { return !rig->bar()->IsPowerOn(); }));
  ASSERT_TRUE(openPanel());
  EXPECT_GT(greyPixels(2), 20);
  EXPECT_GT(greyPixels(3), 20);
  EXPECT_EQ(greyPixels(0), 0);
  // Press and Hold switches it on again.
  ClickBar(*rig, Center(entry(1)));
  ASSERT_TRUE(rig->server().WaitForPackets("power-button", 2, 5000));
  ASSERT_TRUE(WaitUntil([&] { return rig->bar()->IsPowerOn(); }));
  ASSERT_TRUE(openPanel());
  EXPECT_EQ(greyPixels(2), 0);
  ClickBar(*rig, Center(entry(2)));
  ASSERT_TRUE(openPanel());
  ClickBar(*rig, Center(entry(3)));
  ASSERT_TRUE(rig->server().WaitForPackets("power-button", 4, 5000));
  rig->server().WaitUntilSent(2000);
  EXPECT_EQ(PacketBytes(rig->server(), "power-button"),
            (std::vector<Bytes>{{0xFF, 0xBA}, {0xFF, 0xBB}, {0xFF, 0xBC}, {0xFF, 0xBD}}));
  // None of the clicks reached the server as a mouse button.
  EXPECT_EQ(rig->server().PacketCount("mouse-press"), 0u);
}

TEST_F(DesktopWidget, TheCloseButtonEndsTheSession) {
  auto rig = Start();
  ClickBar(*rig, ButtonAt(*rig, BarButton::kClose));
  EXPECT_TRUE(WaitUntil([&] { return rig->shutdowns() > 0; }));
  EXPECT_TRUE(rig->control().SessionStopped());
  EXPECT_EQ(rig->control().EndReason(), CRemCons::SessionEnd::kStopped);
  EXPECT_TRUE(rig->server().WaitForNoSession(5000));
  EXPECT_EQ(rig->server().PacketCount("mouse-press"), 0u);
}

// The bar with each panel open at the widths a server commonly shows, grabbed from the widget:
// every button at its place in the bar's layout, in the state it should show, and the panel at its
// place. The screenshots stay in REMCONS_SCREENSHOT_DIR (default /tmp/remcons-screenshots).
TEST_F(DesktopWidget, BarScreenshotsMatchTheLayoutAtEveryWidth) {
  auto rig = Start({{"uniqueFeatures", "12"}});
  QWidget* w = rig->widget();
  // No tooltips: the pointer rests on buttons here.
  rig->widget()->SetHoverTimeMs(1 << 30);
  const std::string dir = ScreenshotDir();
  struct Size {
    int width, height;
  };
  for (const Size size : {Size{640, 480}, Size{800, 600}, Size{1024, 768}, Size{1280, 1024}}) {
    SCOPED_TRACE(size.width);
    if (size.width != w->width()) {
      rig->server().SetMode(size.width, size.height);
      ASSERT_TRUE(WaitUntil([&] { return w->width() == size.width; }));
    }
    // Pinned from the first width on, the bar covers part of the picture.
    ASSERT_TRUE(rig->bar()->IsPinned() ? rig->Settle() : rig->ShowsServerScreen());
    const int width = size.width;
    if (!rig->bar()->IsPinned()) ClickBar(*rig, ButtonAt(*rig, BarButton::kPin));
    ASSERT_TRUE(rig->bar()->IsPinned());

    using Panel = CMenuBar::Panel;
    struct State {
      const char* name;
      Panel panel;
      BarButton opener;  // clicked to open it; kCount for none
    };
    for (const State& state : {State{"bar", Panel::kNone, BarButton::kCount},
                               State{"keys", Panel::kKeys, BarButton::kKeys},
                               State{"power", Panel::kPowerCompact, BarButton::kPower},
                               State{"power-extended", Panel::kPowerExtended, BarButton::kPower},
                               State{"drives", Panel::kDrives, BarButton::kMedia}}) {
      SCOPED_TRACE(state.name);
      if (rig->bar()->OpenPanel() != Panel::kNone) {
        // The open panel's button closes it.
        const Panel open = rig->bar()->OpenPanel();
        ClickBar(*rig, ButtonAt(*rig, open == Panel::kKeys     ? BarButton::kKeys
                                      : open == Panel::kDrives ? BarButton::kMedia
                                                               : BarButton::kPower));
      }
      ASSERT_EQ(rig->bar()->OpenPanel(), Panel::kNone);
      if (state.opener != BarButton::kCount) ClickBar(*rig, ButtonAt(*rig, state.opener));
      if (state.panel == Panel::kPowerExtended) {
        const Rect compact = layout::PowerCompact(width);
        ClickBar(*rig, QPoint(compact.left + 40, compact.top + 82));
      }
      ASSERT_EQ(rig->bar()->OpenPanel(), state.panel);
      Move(w, QPoint(width / 2, size.height - 10));
      ASSERT_TRUE(WaitUntil([&] { return rig->widget()->FlushPaint(); }));
      const Surface shot = Grabbed(w);
      ASSERT_EQ(shot.width(), width);
      const std::string file =
          dir + "/bar-" + std::to_string(width) + "-" + state.name + "-" + kPlatform + ".png";
      std::string error;
      EXPECT_TRUE(SavePng(shot, file, &error)) << error;

      auto at = [&](BarButton b) { return layout::Button(b, width); };
      const bool power =
          state.panel == Panel::kPowerCompact || state.panel == Panel::kPowerExtended;
      const std::pair<BarButton, std::string_view> buttons[] = {
          {BarButton::kPin, img::kPinIn},
          {BarButton::kClose, img::kClose},
          {BarButton::kPower, power ? img::kPowerOnPressed : img::kPowerOn},
          {BarButton::kMedia, state.panel == Panel::kDrives ? img::kMediaPressed : img::kMedia},
          {BarButton::kKeys, state.panel == Panel::kKeys ? img::kKeysPressed : img::kKeys},
      };
      for (const auto& [button, id] : buttons) {
        EXPECT_EQ(Differences(shot, id, at(button).left, at(button).top), 0)
            << "button " << static_cast<int>(button) << " image " << id << " in " << file;
      }
      switch (state.panel) {
        case Panel::kKeys: {
          const Rect r = layout::KeysPanel(width);
          EXPECT_EQ(Differences(shot, img::kKeysPanel, r.left, r.top), 0) << file;
          break;
        }
        case Panel::kPowerCompact:
        case Panel::kPowerExtended: {
          // Above the first entry the panel is its picture alone.
          const Rect r = state.panel == Panel::kPowerCompact ? layout::PowerCompact(width)
                                                             : layout::PowerExtended(width);
          const auto id =
              state.panel == Panel::kPowerCompact ? img::kPowerCompact : img::kPowerExtended;
          EXPECT_EQ(Differences(shot, id, r.left, r.top, 0, 12), 0) << file;
          break;
        }
        case Panel::kDrives: {
          const Rect r = layout::DriveMenu(width, 3);
          EXPECT_EQ(Differences(shot, img::kDriveMenu[2], r.left, r.top, 0, 4), 0) << file;
          break;
        }
        case Panel::kNone:
          break;
      }
    }
  }
}

// The clipboard typed into the server: every stroke a pause after the last (on a clock the test
// moves), the exact bytes of each keyboard mode, no trace of what was typed, Escape stopping it
// with nothing left held, and a text with characters no US key types refused whole.
TEST_F(DesktopWidget, PasteTypesTheTextAsPacedKeystrokes) {
  const Bytes none = {0xFF, 0xD6, 0, 0, 0, 0, 0, 0, 0, 0};
  auto report = [](uint8_t modifiers, uint8_t key) {
    return Bytes{0xFF, 0xD6, modifiers, 0, key, 0, 0, 0, 0, 0};
  };
  struct Case {
    const char* kbdMode;
    const char* kind;
    std::vector<Bytes> expected;  // after the release of held keys that comes first
  } cases[] = {
      {"1",
       "hid",
       {none, report(0, 0x04), none, report(2, 0), report(2, 0x05), report(2, 0), none,
        report(0, 0x2C), none, report(0, 0x1E), none, report(0, 0x28), none}},
      {"0", "char", {{'a'}, {'B'}, {' '}, {'1'}, {0x0D}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.kbdMode);
    auto rig = Start({{"kbdMode", c.kbdMode}});
    RemConsWidget* w = rig->widget();
    ManualClock clock;
    w->SetPasteClock(clock, 10);
    w->SetDesktopHotkeys(true);
    QGuiApplication::clipboard()->setText("aB 1\r\n");
    const size_t before = std::string(c.kind) == "hid" ? 3 : 0;  // Ctrl, Alt, Shift down
    // Ctrl+Alt+Shift+V: the keys go down on the server, and are released before the typing.
    for (int key : {kXControlL, kXAltL, kXShiftL}) SendKey(w, true, key, Qt::Key_unknown);
    testing::TraceCapture trace;
    SendKey(w, true, kXKeyV, Qt::Key_V, "V", Qt::ShiftModifier);
    ASSERT_TRUE(w->Pasting());
    // The first stroke at once (after the release), the next only a full pause later.
    const size_t first = std::string(c.kind) == "hid" ? before + 2 : 1;
    ASSERT_TRUE(rig->server().WaitForPackets(c.kind, first, 5000));
    clock.Advance(9);
    for (int n = 0; n < 30; ++n) QCoreApplication::processEvents();
    EXPECT_FALSE(rig->server().WaitForPackets(c.kind, first + 1, 200));
    EXPECT_TRUE(WaitUntil([&] {
      clock.Advance(10);
      return !w->Pasting();
    }));
    EXPECT_TRUE(trace.Lines().empty()) << trace.Lines().front();
    // The hotkey's keys let go: the server has had their releases already.
    for (int key : {kXKeyV, kXShiftL, kXAltL, kXControlL}) SendKey(w, false, key, Qt::Key_unknown);
    ASSERT_TRUE(rig->server().WaitForPackets(c.kind, before + c.expected.size(), 5000));
    rig->server().WaitUntilSent(1000);
    std::vector<Bytes> got = PacketBytes(rig->server(), c.kind);
    ASSERT_EQ(got.size(), before + c.expected.size());
    EXPECT_EQ(std::vector<Bytes>(got.begin() + before, got.end()), c.expected);
    EXPECT_EQ(rig->server().PacketCount("key"), 0u);
  }

  auto rig = Start({{"kbdMode", "1"}});
  RemConsWidget* w = rig->widget();
  ManualClock clock;
  w->SetPasteClock(clock, 10);
  // Escape stops it: the key down for the character under way goes up, nothing more is typed.
  ASSERT_TRUE(w->PasteText("xyz"));
  SendKey(w, true, kXEscape, Qt::Key_Escape);
  EXPECT_FALSE(w->Pasting());
  clock.Advance(1000);
  for (int n = 0; n < 30; ++n) QCoreApplication::processEvents();
  ASSERT_TRUE(rig->server().WaitForPackets("hid", 2, 5000));
  rig->server().WaitUntilSent(1000);
  EXPECT_EQ(PacketBytes(rig->server(), "hid"), (std::vector<Bytes>{report(0, 0x1B), none}));
  // Refused up front, with the characters named.
  EXPECT_FALSE(w->PasteText(QString::fromUtf8("na\u00efve \u20ac\u0007 \u00ef")));
  ASSERT_EQ(rig->boxes().size(), 1u);
  EXPECT_EQ(rig->boxes()[0].caption, "Paste");
  EXPECT_EQ(rig->boxes()[0].text,
            "Nothing was pasted: no key of the server's US keyboard types \u00ef (U+00EF), "
            "\u20ac (U+20AC), U+0007.");
  EXPECT_EQ(rig->server().PacketCount("hid"), 2u);
}

// A key held when the window loses the focus is released on the server; without one held,
// nothing is sent.
TEST_F(DesktopWidget, KeysHeldAreReleasedWhenTheFocusGoes) {
  auto rig = Start({{"kbdMode", "1"}});
  RemConsWidget* w = rig->widget();
  SendKey(w, true, kXKeyA, Qt::Key_A, "a");
  ASSERT_TRUE(rig->server().WaitForPackets("hid", 1, 5000));
  w->clearFocus();
  ASSERT_TRUE(rig->server().WaitForPackets("hid", 2, 5000));
  w->setFocus();
  w->clearFocus();
  w->setFocus();
  SendKey(w, false, kXKeyA, Qt::Key_A, "a");
  rig->server().WaitUntilSent(1000);
  EXPECT_EQ(PacketBytes(rig->server(), "hid"),
            (std::vector<Bytes>{{0xFF, 0xD6, 0, 0, 0x04, 0, 0, 0, 0, 0},
                                {0xFF, 0xD6, 0, 0, 0, 0, 0, 0, 0, 0}}));
}

// Scaled to the widget, the picture keeps its aspect and a point maps back to the picture's pixel
// it shows: the corners to the corners, the centre to the centre, bigger and smaller, with bands
// beside the picture counting as its edge.
TEST_F(DesktopWidget, TheScaledPictureMapsTheMouseBackExactly) {
  auto rig = Start();
  RemConsWidget* w = rig->widget();
  w->SetScaleToWindow(true);
  struct Case {
    QSize widget;
    QRect picture;
    std::vector<std::pair<QPoint, QPoint>> points;  // widget -> picture
  } cases[] = {
      {{2048, 1536},
       {0, 0, 2048, 1536},
       {{{0, 0}, {0, 0}}, {{2047, 1535}, {1023, 767}}, {{1024, 768}, {512, 384}}}},
      {{512, 600},
       {0, 108, 512, 384},
       {{{0, 108}, {0, 0}},
        {{511, 491}, {1023, 767}},
        {{100, 0}, {200, 0}},
        {{100, 599}, {200, 767}}}},
      {{1100, 768},
       {38, 0, 1024, 768},
       {{{38, 0}, {0, 0}}, {{1061, 767}, {1023, 767}}, {{550, 384}, {512, 384}}}},
  };
  for (const Case& c : cases) {
    w->resize(c.widget);
    EXPECT_EQ(w->PictureRect(), c.picture) << c.widget.width();
    for (const auto& [from, to] : c.points) EXPECT_EQ(w->ToPicture(from), to) << c.widget.width();
  }
  // The server's pointer goes where the picture's pixel is: its last pixel on the 3000 grid.
  Move(w, QPoint(1061, 767));
  ASSERT_TRUE(rig->server().WaitForPackets("mouse-move", 1, 5000));
  const Bytes move = PacketBytes(rig->server(), "mouse-move").back();
  EXPECT_EQ(Bytes(move.begin() + 4, move.end()),
            (Bytes{2997 >> 8, 2997 & 0xFF, 2996 >> 8, 2996 & 0xFF}));
}

// The server's picture saved as PNG, named by the server and the time, without the pinned bar.
TEST_F(DesktopWidget, AScreenshotIsTheServersPicture) {
  auto rig = Start({{"serverName", "../bmc 7"}});
  // The screen at rest: the boot prompt.
  ASSERT_TRUE(rig->server().WaitFor(
      [&] { return rig->server().ScreenText().find("boot:") != std::string::npos; }, 10000));
  ASSERT_TRUE(rig->ShowsServerScreen());
  rig->bar()->Pin();
  testing::ScratchDir dir;
  QString path;
  QObject::connect(rig->widget(), &RemConsWidget::ScreenshotSaved, rig->widget(),
                   [&](const QString& saved) { path = saved; });
  rig->widget()->SaveScreenshot(QString::fromStdString(dir / "shots"));
  ASSERT_TRUE(WaitUntil([&] { return !path.isEmpty(); }));
  EXPECT_TRUE(
      QFileInfo(path).fileName().startsWith("_bmc_7-" + QDate::currentDate().toString("yyyyMMdd")))
      << path.toStdString();
  std::optional<testing::RgbImage> image = testing::ReadPng(path.toStdString());
  ASSERT_TRUE(image);
  int width = 0, height = 0;
  const std::vector<uint32_t> screen = rig->server().ScreenPixels(&width, &height);
  EXPECT_EQ(testing::DifferencesFromScreen(*image, screen, width, height), 0);
  const QDateTime when(QDate(2024, 3, 9), QTime(7, 5, 3));
  EXPECT_EQ(ScreenshotName("", when), "remcons-20240309-070503.png");
  EXPECT_EQ(ScreenshotName(QString::fromUtf8("..\u00fc/x"), when), "__x-20240309-070503.png");
}

// Key sequences as words: a key (C Ctrl, A Alt, R right Alt, S Shift, D Delete, or a letter) and
// + for its press or - for its release, then =paste, =shot or =grab when that event completes it.
TEST(HotkeyWatch, ChordsAndCombinations) {
  const std::map<char, uint32_t> vk = {{'C', 0xA2}, {'A', 0xA4}, {'R', 0xA5}, {'S', 0xA0},
                                       {'D', 0x2E}, {'V', 'V'},  {'W', 'S'}};
  for (const std::string sequence : {
           // Ctrl and Alt together and let go: the grab goes, once.
           "C+ A+ A+ A-=grab C-",
           // Ctrl+Alt+Del is the server's, even when Ctrl repeats afterwards.
           "C+ R+ D+ C+ D- C- R-",
           "C+ A+ S+ V+=paste V- W+=shot W- S- A-",
           // Without Shift, V is the server's.
           "C+ A+ V+ V- A-",
       }) {
    HotkeyWatch watch;
    std::istringstream words(sequence);
    for (std::string w; words >> w;) {
      KeyEvent e;
      e.vkCode = vk.at(w[0]);
      e.keyUp = w[1] == '-';
      const std::string expected = w.size() > 2 ? w.substr(3) : "";
      const Hotkey got = watch.Feed(e);
      EXPECT_EQ(got == Hotkey::kPaste         ? "paste"
                : got == Hotkey::kScreenshot  ? "shot"
                : got == Hotkey::kReleaseGrab ? "grab"
                                              : "",
                expected)
          << sequence << " at " << w;
    }
  }
}

// A session leader's bar: the control, client list and lock buttons at their places in the states
// they show, and the Client List dialog with a joined console in it, taken off by its Disconnect.
// Screenshots of both stay in REMCONS_SCREENSHOT_DIR.
TEST_F(DesktopWidget, LeaderBarAndClientList) {
  ConsoleRig rig({{"muMode", "1"}, {"muPort", "0"}, {"uniqueFeatures", "12"}});
  rig.widget()->SetLeaderServerOptions({"127.0.0.1", 0});
  rig.widget()->SetMessageBoxPolicy([](const std::string&, const std::string& caption, uint32_t) {
    return std::optional<int>(caption == "New User" ? kIdAccept : kIdOk);
  });
  rig.widget()->SetHoverTimeMs(1 << 30);
  ASSERT_TRUE(rig.Show());
  ASSERT_TRUE(rig.ShowsServerScreen());
  QWidget* w = rig.widget();
  ClickBar(rig, ButtonAt(rig, BarButton::kPin));
  ClickBar(rig, ButtonAt(rig, BarButton::kLock));
  EXPECT_FALSE(rig.control().leaderServer()->Accepting());
  Move(w, QPoint(w->width() / 2, w->height() - 10));
  ASSERT_TRUE(WaitUntil([&] { return rig.widget()->FlushPaint(); }));
  const Surface shot = Grabbed(w);
  std::string error;
  EXPECT_TRUE(SavePng(shot, ScreenshotDir() + "/bar-leader-" + kPlatform + ".png", &error));
  for (const auto& [button, id] : {std::pair{BarButton::kControl, img::kControlHeld},
                                   std::pair{BarButton::kClientList, img::kClientList},
                                   std::pair{BarButton::kLock, img::kLockClosed}}) {
    const Rect at = layout::Button(button, w->width());
    EXPECT_EQ(Differences(shot, id, at.left, at.top), 0) << id;
  }
  ClickBar(rig, ButtonAt(rig, BarButton::kLock));
  ASSERT_TRUE(rig.control().leaderServer()->Accepting());

  // A console joins (the simulator names it, the user accepts) and shows in the list.
  RandomPool pool;
  testing::SeedPool(pool, 5);
  testing::TestJoiner joiner(rig.control().leaderServer()->port());
  ASSERT_TRUE(joiner.Join(pool));
  ASSERT_TRUE(WaitUntil([&] {
    auto client = rig.control().leaderServer()->SlotClient(0);
    return client && client->status() == MUClient::kAccepted && client->LookupDone();
  }));
  ClickBar(rig, ButtonAt(rig, BarButton::kClientList));
  ClientListDialog* dialog = rig.widget()->clientListDialog();
  ASSERT_TRUE(dialog && dialog->isVisible());
  const std::string host = rig.control().leaderServer()->SlotClient(0)->HostText();
  EXPECT_EQ(dialog->findChild<QLineEdit*>("client0")->text().toStdString(), "user (" + host + ")");
  QPushButton* disconnect[3];
  for (int i = 0; i < 3; ++i) {
    disconnect[i] = dialog->findChild<QPushButton*>(QString("disconnect%1").arg(i));
    EXPECT_EQ(disconnect[i]->isEnabled(), i == 0);
  }
  QImage image = dialog->grab().toImage();
  EXPECT_TRUE(
      image.save(QString::fromStdString(ScreenshotDir() + "/client-list-" + kPlatform + ".png")));
  disconnect[0]->click();
  EXPECT_TRUE(joiner.WaitClosed());
  // Once its link has gone, the row is empty and its button disabled.
  EXPECT_TRUE(
      WaitUntil([&] { return dialog->findChild<QLineEdit*>("client0")->text().isEmpty(); }));
  EXPECT_FALSE(disconnect[0]->isEnabled());
}

}  // namespace
}  // namespace remcons
