// RemConsWidget against the simulator, as the window system drives it: the picture, keys with
// their native scan codes, the mouse over the picture and over the menu bar (its images drawn in
// place), the close button, paste, screenshots and a leader's bar. Built twice: on the offscreen
// platform and on an Xvfb server.
#include <gtest/gtest.h>

#include <QClipboard>
#include <QDateTime>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <map>
#include <sstream>

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
constexpr int kXKeyA = 38, kXKeyC = 54, kXKey2 = 11, kXShiftL = 50, kXControlL = 37;
constexpr int kXUp = 111, kXEscape = 9, kXKeyV = 55, kXAltL = 64;

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
    const Surface shot = testing::Grabbed(rig.widget());
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

// HID reports in mode 1 (a held key's repeat sends nothing; a key held when the focus goes is
// released on the server, and with none held nothing is sent); sequences and the US layout's
// characters in mode 0.
TEST_F(DesktopWidget, KeysReachTheServerInEachKeyboardMode) {
  const Bytes none = Hid(0, 0);
  for (const bool hid : {true, false}) {
    SCOPED_TRACE(hid);
    auto rig = ConsoleRig::Started({{"kbdMode", hid ? "1" : "0"}});
    QWidget* w = rig->widget();
    if (hid) {
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
      continue;
    }
    // The key that types 'q' on the desktop's layout is A on the US layout the console uses;
    // Shift+2 is '"' on some layouts, '@' on the US one.
    Tap(w, kXUp, Qt::Key_Up);
    Tap(w, kXKeyA, Qt::Key_Q, "q");
    SendKey(w, true, kXShiftL, Qt::Key_Shift);
    Tap(w, kXKey2, Qt::Key_QuoteDbl, "\"", Qt::ShiftModifier);
    SendKey(w, false, kXShiftL, Qt::Key_Shift);
    SendKey(w, true, kXControlL, Qt::Key_Control, {}, Qt::ControlModifier);
    Tap(w, kXKeyC, Qt::Key_C, "\x03", Qt::ControlModifier);
    SendKey(w, false, kXControlL, Qt::Key_Control);
    ASSERT_TRUE(rig->server().WaitForPackets("char", 3, 5000));
    rig->server().WaitUntilSent(1000);
    EXPECT_EQ(PacketBytes(rig->server(), {"char", "key"}),
              (Packets{{0x1B, 0x5B, 0x41}, {'a'}, {'@'}, {0x03}}));
  }
}

// Clicks on the bar stay here; clicks on the picture reach the server as presses, releases and
// double clicks. Hovering shows the bar and its tooltips, the pin keeps it (and, pinned, a click
// on it is the bar's even when the pointer comes straight from elsewhere), the close button ends.
TEST_F(DesktopWidget, TheMouseOverThePictureAndOverTheBar) {
  auto rig = ConsoleRig::Started();
  QWidget* w = rig->widget();
  const QPoint picture(300, 300), bar(rig->width() / 2, 10);
  const Rect pin = layout::Button(BarButton::kPin, rig->width());
  Move(w, bar);
  EXPECT_TRUE(rig->bar()->IsShown());
  EXPECT_TRUE(Shows(*rig, img::kPinOut, pin));
  Click(w, bar);
  Click(w, bar, Qt::RightButton);
  testing::DoubleClick(w, bar);
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
  // Resting over the power button shows its tooltip.
  Move(w, testing::Center(layout::Button(BarButton::kPower, rig->width())));
  EXPECT_TRUE(WaitUntil([&] { return rig->bar()->tooltip() == img::kTipPower; }, 3000));
  EXPECT_TRUE(Shows(*rig, img::kTipPower, layout::TooltipStrip(rig->width())));
  ClickBar(*rig, BarButton::kPin);
  Move(w, picture);
  EXPECT_TRUE(rig->bar()->IsShown() && rig->bar()->IsPinned());
  EXPECT_TRUE(Shows(*rig, img::kPinIn, pin));
  Click(w, testing::Center(pin));
  EXPECT_FALSE(rig->bar()->IsPinned());
  const size_t presses = rig->server().PacketCount("mouse-press");
  ClickBar(*rig, BarButton::kClose);
  EXPECT_TRUE(WaitUntil([&] { return rig->shutdowns_ > 0; }));
  EXPECT_EQ(rig->control().EndReason(), CRemCons::SessionEnd::kStopped);
  EXPECT_TRUE(rig->server().WaitForNoSession(5000));
  EXPECT_EQ(rig->server().PacketCount("mouse-press"), presses);
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
  EXPECT_EQ(ScreenshotName(QString::fromUtf8("..\u00fc/x"), when), "__x-20240309-070503.png");

  w->SetScaleToWindow(true);
  const struct {
    QSize widget;
    QRect picture;
    std::vector<std::pair<QPoint, QPoint>> points;  // widget -> picture
  } cases[] = {
      {{1600, 1200}, {0, 0, 1600, 1200}, {{{0, 0}, {0, 0}}, {{1599, 1199}, {799, 599}}}},
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
      const Hotkey got = watch.Feed(KeyEvent{.vkCode = vk.at(w[0]), .keyUp = w[1] == '-'});
      EXPECT_EQ(got == Hotkey::kPaste         ? "=paste"
                : got == Hotkey::kScreenshot  ? "=shot"
                : got == Hotkey::kReleaseGrab ? "=grab"
                                              : "",
                w.substr(2))
          << sequence << " at " << w;
    }
  }
}

// A session leader's bar: the control, client list and lock buttons at their places in the states
// they show, and the Client List dialog with a joined console in it, taken off by its Disconnect.
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
  ClickBar(rig, BarButton::kPin);
  ClickBar(rig, BarButton::kLock);
  EXPECT_FALSE(server.Accepting());
  Move(rig.widget(), QPoint(rig.width() / 2, rig.widget()->height() - 10));
  for (const auto& [button, id] : {std::pair{BarButton::kControl, img::kControlHeld},
                                   {BarButton::kClientList, img::kClientList},
                                   {BarButton::kLock, img::kLockClosed}}) {
    EXPECT_TRUE(Shows(rig, id, layout::Button(button, rig.width()))) << id;
  }
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
