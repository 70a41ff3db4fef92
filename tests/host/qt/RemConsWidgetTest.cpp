// RemConsWidget against the simulator, as the window system drives it: the picture, keys with
// their native scan codes, the mouse over the picture and over the menu bar (its images drawn in
// place), paste, screenshots and a leader's bar. Built twice: on the offscreen
// platform and on an Xvfb server.
#include <gtest/gtest.h>

#include <QClipboard>
#include <QDateTime>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>

#include "host/qt/Artwork.h"
#include "host/qt/DesktopUtil.h"
#include "host/qt/QtPainter.h"
#include "multiuser/LinkRig.h"
#include "platform/Clock.h"
#include "support/TraceCapture.h"
#include "ui/MenuBarImages.h"
#include "ui/MenuBarLayout.h"

namespace remcons {
namespace {

using testing::Click;
using testing::ConsoleRig;
using testing::Move;
using testing::PacketBytes;
using testing::SendKey;
using testing::Tap;
using testing::WaitUntil;
namespace img = menubar::img;
using Bytes = std::vector<uint8_t>;
using Packets = std::vector<Bytes>;

// X keycodes of a pc105 keyboard (evdev + 8).
constexpr int kXKeyA = 38, kXShiftL = 50, kXControlL = 37, kXEscape = 9, kXKeyV = 55, kXAltL = 64;

Bytes Hid(uint8_t modifiers, uint8_t key) {
  return {0xFF, 0xD6, modifiers, 0, key, 0, 0, 0, 0, 0};
}

// Whether the widget shows the artwork image id at r's corner, once everything is painted.
bool Shows(ConsoleRig& rig, std::string_view id, const Rect& r) {
  static QtPainter* art = [] {
    auto* p = new QtPainter();
    RegisterMenuBarArtwork(*p);
    return p;
  }();
  const Surface* image = art->Image(id);
  return WaitUntil([&] {
    if (!rig.widget()->FlushPaint()) return false;
    const Surface shot = SurfaceFromImage(rig.widget()->grab().toImage());
    for (int y = 0; y < image->height(); ++y) {
      for (int x = 0; x < image->width(); ++x)
        if (!SameColor(shot.At(r.left + x, r.top + y), image->At(x, y))) return false;
    }
    return true;
  });
}

class DesktopWidget : public ::testing::Test {
 protected:
  void SetUp() override {
#if REMCONS_TEST_X_SERVER
    if (testing::TestDisplay().empty()) GTEST_SKIP() << testing::XServerMissing();
#endif
  }
  // Over the bar's button, then a click there.
  static void ClickBar(ConsoleRig& rig, BarButton b) {
    const QPoint p = testing::Center(layout::Button(b, rig.width()));
    Move(rig.widget(), p);
    Click(rig.widget(), p);
  }
};

// HID reports: a held key's repeat sends nothing; a key held when the focus goes is released on
// the server, and with none held nothing is sent. (Characters in mode 0 are the key translator's.)
TEST_F(DesktopWidget, KeysReachTheServerAsHidReports) {
  const Bytes none = Hid(0, 0);
  auto rig = ConsoleRig::Started({{"kbdMode", "1"}});
  QWidget* w = rig->widget();
  Tap(w, kXKeyA, Qt::Key_A, "a");
  SendKey(w, true, kXShiftL, Qt::Key_Shift);
  SendKey(w, true, kXKeyA, Qt::Key_A, "A", Qt::ShiftModifier);
  QKeyEvent repeat(QEvent::KeyPress, Qt::Key_A, Qt::ShiftModifier, kXKeyA, 0, 0, "A", true);
  QApplication::sendEvent(w, &repeat);
  SendKey(w, false, kXKeyA, Qt::Key_A, "A", Qt::ShiftModifier);
  SendKey(w, false, kXShiftL, Qt::Key_Shift);
  SendKey(w, true, kXKeyA, Qt::Key_A, "a");
  ASSERT_TRUE(rig->server().WaitForPackets("hid", 7, 5000));
  w->clearFocus();
  ASSERT_TRUE(rig->server().WaitForPackets("hid", 8, 5000));
  w->setFocus();
  w->clearFocus();
  w->setFocus();
  SendKey(w, false, kXKeyA, Qt::Key_A, "a");
  rig->server().WaitUntilSent(1000);
  EXPECT_EQ(PacketBytes(rig->server(), {"hid", "char"}),
            (Packets{Hid(0, 4), none, Hid(2, 0), Hid(2, 4), Hid(2, 0), none, Hid(0, 4), none}));
}

// Clicks on the picture reach the server as presses, releases and double clicks; hovering shows
// the bar (and hides it again), and resting over a button its tooltip. The bar's own clicks, its
// pin and its close button are the bar's tests and the Xorg test's.
TEST_F(DesktopWidget, TheMouseOverThePictureAndOverTheBar) {
  auto rig = ConsoleRig::Started();
  QWidget* w = rig->widget();
  const QPoint picture(300, 300);
  Move(w, QPoint(rig->width() / 2, 10));
  EXPECT_TRUE(rig->bar()->IsShown());
  EXPECT_TRUE(Shows(*rig, img::kPinOut, layout::Button(BarButton::kPin, rig->width())));
  Move(w, picture);
  EXPECT_FALSE(rig->bar()->IsShown());
  Click(w, picture, Qt::RightButton);
  testing::DoubleClick(w, picture);
  ASSERT_TRUE(rig->server().WaitForPackets("mouse-click", 1, 5000));
  ASSERT_TRUE(rig->server().WaitForPackets("mouse-release", 3, 5000));
  EXPECT_EQ(PacketBytes(rig->server(), {"mouse-press", "mouse-release", "mouse-click"}),
            (Packets{{0xFF, 0xD1, 0x01},
                     {0xFF, 0xD2, 0x01},
                     {0xFF, 0xD1, 0x04},
                     {0xFF, 0xD2, 0x04},
                     {0xFF, 0xD3, 0x04, 0x01},
                     {0xFF, 0xD2, 0x04}}));
  EXPECT_TRUE(rig->ShowsServerScreen());
  Move(w, testing::Center(layout::Button(BarButton::kPower, rig->width())));
  EXPECT_TRUE(WaitUntil([&] { return rig->bar()->tooltip() == img::kTipPower; }, 3000));
  EXPECT_TRUE(Shows(*rig, img::kTipPower, layout::TooltipStrip(rig->width())));
}

// The clipboard typed into the server: every stroke a pause after the last (on a clock the test
// moves), the exact bytes of each keyboard mode, no trace of what was typed, Escape stopping it
// with nothing left held, and a text with characters no US key types refused whole.
TEST_F(DesktopWidget, PasteTypesTheTextAsPacedKeystrokes) {
  const Bytes none = Hid(0, 0);
  const struct {
    const char* kbdMode;
    const char* kind;
    size_t before;  // packets before the typing: Ctrl, Alt and Shift down
    Packets typed;  // after the release of held keys that comes first
  } cases[] = {
      {"1",
       "hid",
       3,
       {none, Hid(0, 0x04), none, Hid(2, 0), Hid(2, 0x05), Hid(2, 0), none, Hid(0, 0x2C), none,
        Hid(0, 0x1E), none, Hid(0, 0x28), none}},
      {"0", "char", 0, {{'a'}, {'B'}, {' '}, {'1'}, {0x0D}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.kbdMode);
    auto rig = ConsoleRig::Started({{"kbdMode", c.kbdMode}});
    RemConsWidget* w = rig->widget();
    ManualClock clock;
    w->SetPasteClock(clock, 10);
    w->SetDesktopHotkeys(true);
    QGuiApplication::clipboard()->setText("aB 1\r\n");
    // Ctrl+Alt+Shift+V: the keys go down on the server, and are released before the typing.
    for (int key : {kXControlL, kXAltL, kXShiftL}) SendKey(w, true, key, Qt::Key_unknown);
    testing::TraceCapture trace;
    SendKey(w, true, kXKeyV, Qt::Key_V, "V", Qt::ShiftModifier);
    // The first stroke at once (after the release), the next only a full pause later.
    const size_t first = c.before > 0 ? c.before + 2 : 1;
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
    ASSERT_TRUE(rig->server().WaitForPackets(c.kind, c.before + c.typed.size(), 5000));
    rig->server().WaitUntilSent(1000);
    const Packets got = PacketBytes(rig->server(), {c.kind, "key"});
    ASSERT_EQ(got.size(), c.before + c.typed.size());
    EXPECT_EQ(Packets(got.begin() + static_cast<std::ptrdiff_t>(c.before), got.end()), c.typed);
    if (c.before == 0) continue;

    // Escape stops it: the key down for the character under way goes up, nothing more is typed.
    ASSERT_TRUE(w->PasteText("xyz"));
    SendKey(w, true, kXEscape, Qt::Key_Escape);
    EXPECT_FALSE(w->Pasting());
    clock.Advance(1000);
    for (int n = 0; n < 30; ++n) QCoreApplication::processEvents();
    ASSERT_TRUE(rig->server().WaitForPackets("hid", got.size() + 2, 5000));
    rig->server().WaitUntilSent(1000);
    const Packets hid = PacketBytes(rig->server(), {"hid"});
    ASSERT_EQ(hid.size(), got.size() + 2);
    EXPECT_EQ(Packets(hid.end() - 2, hid.end()), (Packets{Hid(0, 0x1B), none}));
    // Refused up front, with the characters named.
    EXPECT_FALSE(w->PasteText(QString::fromUtf8("na\u00efve \u20ac\u0007 \u00ef")));
    EXPECT_EQ(rig->boxes_,
              std::vector<std::string>{"Paste: Nothing was pasted: no key of the server's "
                                       "US keyboard types \u00ef (U+00EF), \u20ac "
                                       "(U+20AC), U+0007."});
    EXPECT_EQ(rig->server().PacketCount("hid"), got.size() + 2);
  }
}

// The widget follows the server's mode; the server's picture saved as PNG, named by the server and
// the time, without the pinned bar; scaled to the widget, the picture keeps its aspect and a
// point maps back to the picture's pixel it shows (bands beside it count as its edge).
TEST_F(DesktopWidget, ScreenshotsModesAndTheScaledPicture) {
  auto rig = ConsoleRig::Started({{"serverName", "../bmc 7"}});
  RemConsWidget* w = rig->widget();
  rig->server().SetMode(800, 600);
  ASSERT_TRUE(WaitUntil([&] { return w->width() == 800; }));
  EXPECT_EQ(rig->resizes_, 2);
  ASSERT_TRUE(rig->server().WaitFor(
      [&] { return rig->server().ScreenText().find("boot:") != std::string::npos; }, 10000));
  ASSERT_TRUE(rig->ShowsServerScreen());
  rig->bar()->Pin();
  testing::ScratchDir dir;
  QString path;
  QObject::connect(w, &RemConsWidget::ScreenshotSaved, w, [&](const QString& s) { path = s; });
  w->SaveScreenshot(QString::fromStdString(dir / "shots"));
  ASSERT_TRUE(WaitUntil([&] { return !path.isEmpty(); }));
  EXPECT_TRUE(
      QFileInfo(path).fileName().startsWith("_bmc_7-" + QDate::currentDate().toString("yyyyMMdd")))
      << path.toStdString();
  EXPECT_EQ(testing::DifferencesFromScreen(path.toStdString(), rig->server()), 0);
  const QDateTime when(QDate(2024, 3, 9), QTime(7, 5, 3));
  EXPECT_EQ(ScreenshotName("", when), "remcons-20240309-070503.png");

  w->SetScaleToWindow(true);
  const struct {
    QSize widget;
    QRect picture;
    std::vector<std::pair<QPoint, QPoint>> points;  // widget -> picture
  } cases[] = {
      {{400, 500},
       {0, 100, 400, 300},
       {{{0, 100}, {0, 0}},
        {{399, 399}, {799, 599}},
        {{100, 0}, {200, 0}},
        {{100, 499}, {200, 599}}}},
      {{900, 600},
       {50, 0, 800, 600},
       {{{50, 0}, {0, 0}}, {{849, 599}, {799, 599}}, {{450, 300}, {400, 300}}}},
  };
  for (const auto& c : cases) {
    w->resize(c.widget);
    EXPECT_EQ(w->PictureRect(), c.picture) << c.widget.width();
    for (const auto& [from, to] : c.points) EXPECT_EQ(w->ToPicture(from), to) << c.widget.width();
  }
  // The server's pointer goes where the picture's pixel is: its last pixel on the 3000 grid.
  Move(w, QPoint(849, 599));
  ASSERT_TRUE(rig->server().WaitForPackets("mouse-move", 1, 5000));
  const Bytes move = PacketBytes(rig->server(), {"mouse-move"}).back();
  EXPECT_EQ(Bytes(move.begin() + 4, move.end()),
            (Bytes{2996 >> 8, 2996 & 0xFF, 2995 >> 8, 2995 & 0xFF}));
  // Painted scaled: the server's updates land where the picture shows them.
  rig->server().WaitUntilSent(1000);
  EXPECT_TRUE(WaitUntil([&] { return w->FlushPaint(); }));
  EXPECT_EQ(w->grab().size(), QSize(900, 600));
}

// A session leader's bar: its lock closes and opens the session to joiners, and the Client List
// dialog shows a joined console, taken off by its Disconnect. (The bar's images per state are the
// bar's tests.)
TEST_F(DesktopWidget, LeaderBarAndClientList) {
  ConsoleRig rig({{"muMode", "1"}, {"muPort", "0"}, {"uniqueFeatures", "12"}});
  rig.widget()->SetLeaderServerOptions({"127.0.0.1", 0});
  rig.widget()->SetMessageBoxPolicy([](const std::string&, const std::string& caption, uint32_t) {
    return std::optional<int>(caption == "New User" ? kIdAccept : kIdOk);
  });
  rig.widget()->SetHoverTimeMs(1 << 30);
  ASSERT_TRUE(rig.Show());
  ASSERT_TRUE(rig.ShowsServerScreen());
  MUServer& server = *rig.control().leaderServer();
  ClickBar(rig, BarButton::kLock);
  EXPECT_FALSE(server.Accepting());
  ClickBar(rig, BarButton::kLock);
  ASSERT_TRUE(server.Accepting());

  // A console joins (the simulator names it, the user accepts) and shows in the list.
  RandomPool pool;
  testing::SeedPool(pool, 5);
  testing::TestJoiner joiner(server.port());
  ASSERT_TRUE(joiner.Join(pool));
  ASSERT_TRUE(WaitUntil([&] {
    auto client = server.SlotClient(0);
    return client && client->status() == MUClient::kAccepted && client->LookupDone();
  }));
  ClickBar(rig, BarButton::kClientList);
  ClientListDialog* dialog = rig.widget()->clientListDialog();
  ASSERT_TRUE(dialog && dialog->isVisible());
  auto row = [&] { return dialog->findChild<QLineEdit*>("client0")->text().toStdString(); };
  EXPECT_EQ(row(), "user (" + server.SlotClient(0)->HostText() + ")");
  QPushButton* disconnect[3];
  for (int i = 0; i < 3; ++i) {
    disconnect[i] = dialog->findChild<QPushButton*>(QString("disconnect%1").arg(i));
    EXPECT_EQ(disconnect[i]->isEnabled(), i == 0);
  }
  disconnect[0]->click();
  EXPECT_TRUE(joiner.WaitClosed());
  // Once its link has gone, the row is empty and its button disabled.
  EXPECT_TRUE(WaitUntil([&] { return row().empty(); }));
  EXPECT_FALSE(disconnect[0]->isEnabled());
}

}  // namespace
}  // namespace remcons
