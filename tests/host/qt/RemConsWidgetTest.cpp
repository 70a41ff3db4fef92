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

using testing::Center;
using testing::Click;
using testing::ConsoleRig;
using testing::Grabbed;
using testing::Move;
using testing::PacketBytes;
using testing::ScreenshotDir;
using testing::SendKey;
using testing::Tap;
using testing::WaitUntil;
namespace img = menubar::img;
using Bytes = std::vector<uint8_t>;
using Packets = std::vector<Bytes>;

// X keycodes of a pc105 keyboard (evdev + 8).
constexpr int kXKeyA = 38, kXKeyC = 54, kXKey2 = 11, kXShiftL = 50, kXControlL = 37;
constexpr int kXReturn = 36, kXUp = 111, kXF1 = 67, kXEscape = 9, kXKeyV = 55, kXAltL = 64;

// Where the tests run, for the screenshots' names.
constexpr const char* kPlatform = REMCONS_TEST_X_SERVER ? "xvfb" : "offscreen";

Bytes Hid(uint8_t modifiers, uint8_t key) {
  return {0xFF, 0xD6, modifiers, 0, key, 0, 0, 0, 0, 0};
}

// Pixels of the artwork image id that differ from the picture at (x, y).
long Differences(const Surface& picture, std::string_view id, int x, int y) {
  static QtPainter* art = [] {
    auto* p = new QtPainter();
    RegisterMenuBarArtwork(*p);
    return p;
  }();
  const Surface* image = art->Image(id);
  if (!image) return -1;
  long differences = 0;
  for (int row = 0; row < image->height(); ++row) {
    for (int col = 0; col < image->width(); ++col) {
      if (x + col >= picture.width() || y + row >= picture.height()) return -1;
      differences += !SameColor(picture.At(x + col, y + row), image->At(col, row));
    }
  }
  return differences;
}

class DesktopWidget : public ::testing::Test {
 protected:
  void SetUp() override {
#if REMCONS_TEST_X_SERVER
    if (testing::TestDisplay().empty()) GTEST_SKIP() << testing::XServerMissing();
#endif
  }
  // The console shown, connected and showing the server's screen.
  static std::unique_ptr<ConsoleRig> Start(const PropertyBag& extra = {}) {
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
  // The widget's picture once everything pending is painted.
  static Surface Shot(ConsoleRig& rig) {
    EXPECT_TRUE(WaitUntil([&] { return rig.widget()->FlushPaint(); }));
    return Grabbed(rig.widget());
  }
};

TEST_F(DesktopWidget, ShowsTheServersScreenAtItsSize) {
  auto rig = Start();
  EXPECT_EQ(rig->widget()->size(), QSize(1024, 768));
  EXPECT_EQ(rig->resizes(), 1);
  // A mode change of the server: the widget follows, and the picture is the server's again.
  rig->server().SetMode(800, 600);
  ASSERT_TRUE(WaitUntil([&] { return rig->widget()->width() == 800; }));
  EXPECT_TRUE(rig->ShowsServerScreen());
  EXPECT_EQ(rig->widget()->size(), QSize(800, 600));
}

// HID reports in mode 1 (a held key's repeat sends nothing; a key held when the focus goes is
// released on the server, and with none held nothing is sent); sequences and the US layout's
// characters in mode 0.
TEST_F(DesktopWidget, KeysReachTheServerInEachKeyboardMode) {
  const Bytes none = Hid(0, 0);
  for (const bool hid : {true, false}) {
    SCOPED_TRACE(hid);
    auto rig = Start({{"kbdMode", hid ? "1" : "0"}});
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
      EXPECT_EQ(PacketBytes(rig->server(), {"hid"}),
                (Packets{Hid(0, 4), none, Hid(2, 0), Hid(2, 4), Hid(2, 0), none, Hid(0, 4), none}));
      // HID mode types no characters: the keys are the server's.
      EXPECT_EQ(rig->server().PacketCount("char"), 0u);
      continue;
    }
    Tap(w, kXUp, Qt::Key_Up);
    Tap(w, kXF1, Qt::Key_F1);
    // The key that types 'q' on the desktop's layout is A on the US layout the console uses;
    // Shift+2 is '"' on some layouts, '@' on the US one.
    Tap(w, kXKeyA, Qt::Key_Q, "q");
    SendKey(w, true, kXShiftL, Qt::Key_Shift);
    Tap(w, kXKeyA, Qt::Key_Q, "Q", Qt::ShiftModifier);
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
    EXPECT_EQ(
        PacketBytes(rig->server(), {"char", "key"}),
        (Packets{{0x1B, 0x5B, 0x41}, {0x1B, 0x5B, 0x4D}, {'a'}, {'A'}, {'@'}, {0x0D}, {0x03}}));
  }
}

// Clicks on the bar stay here (the bar's own tests say what it does with them); clicks on the
// picture reach the server as presses, releases and double clicks.
TEST_F(DesktopWidget, ClicksOnTheBarStayHereClicksElsewhereGoToTheServer) {
  auto rig = Start();
  QWidget* w = rig->widget();
  const QPoint picture(300, 300), bar(rig->width() / 2, 10);
  Move(w, bar);
  EXPECT_TRUE(rig->bar()->IsShown());
  Click(w, bar);
  Click(w, bar, Qt::RightButton);
  testing::DoubleClick(w, bar);
  Move(w, picture);
  EXPECT_FALSE(rig->bar()->IsShown());
  Click(w, picture, Qt::RightButton);
  testing::DoubleClick(w, picture);
  ASSERT_TRUE(rig->server().WaitForPackets("mouse-click", 1, 5000));
  ASSERT_TRUE(rig->server().WaitForPackets("mouse-release", 3, 5000));
  EXPECT_EQ(PacketBytes(rig->server(), {"mouse-press"}),
            (Packets{{0xFF, 0xD1, 0x01}, {0xFF, 0xD1, 0x04}}));
  EXPECT_EQ(PacketBytes(rig->server(), {"mouse-release"}),
            (Packets{{0xFF, 0xD2, 0x01}, {0xFF, 0xD2, 0x04}, {0xFF, 0xD2, 0x04}}));
  EXPECT_EQ(PacketBytes(rig->server(), {"mouse-click"}), (Packets{{0xFF, 0xD3, 0x04, 0x01}}));
}

TEST_F(DesktopWidget, HoverShowsTheBarAndItsTooltipsThePinKeepsItTheCloseButtonEnds) {
  auto rig = Start();
  QWidget* w = rig->widget();
  const Rect pin = layout::Button(BarButton::kPin, rig->width());
  auto shows = [&](std::string_view id, const Rect& r) {
    return WaitUntil([&] { return Differences(Shot(*rig), id, r.left, r.top) == 0; });
  };
  Move(w, QPoint(rig->width() / 2, 10));
  EXPECT_TRUE(rig->bar()->IsShown());
  EXPECT_TRUE(shows(img::kPinOut, pin));
  Move(w, QPoint(rig->width() / 2, 400));
  EXPECT_FALSE(rig->bar()->IsShown());
  EXPECT_TRUE(rig->ShowsServerScreen());
  // Resting over the power button shows its tooltip.
  Move(w, ButtonAt(*rig, BarButton::kPower));
  EXPECT_TRUE(WaitUntil([&] { return rig->bar()->tooltip() == img::kTipPower; }, 3000));
  EXPECT_TRUE(shows(img::kTipPower, layout::TooltipStrip(rig->width())));

  ClickBar(*rig, Center(pin));
  EXPECT_TRUE(rig->bar()->IsPinned());
  Move(w, QPoint(rig->width() / 2, 400));
  EXPECT_TRUE(rig->bar()->IsShown());
  EXPECT_TRUE(shows(img::kPinIn, pin));
  // Pinned, a click on the bar is the bar's even when the pointer comes straight from elsewhere.
  Click(w, Center(pin));
  EXPECT_FALSE(rig->bar()->IsPinned());

  ClickBar(*rig, ButtonAt(*rig, BarButton::kClose));
  EXPECT_TRUE(WaitUntil([&] { return rig->shutdowns() > 0; }));
  EXPECT_TRUE(rig->control().SessionStopped());
  EXPECT_EQ(rig->control().EndReason(), CRemCons::SessionEnd::kStopped);
  EXPECT_TRUE(rig->server().WaitForNoSession(5000));
  EXPECT_EQ(rig->server().PacketCount("mouse-press"), 0u);
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
    auto rig = Start({{"kbdMode", c.kbdMode}});
    RemConsWidget* w = rig->widget();
    ManualClock clock;
    w->SetPasteClock(clock, 10);
    w->SetDesktopHotkeys(true);
    QGuiApplication::clipboard()->setText("aB 1\r\n");
    // Ctrl+Alt+Shift+V: the keys go down on the server, and are released before the typing.
    for (int key : {kXControlL, kXAltL, kXShiftL}) SendKey(w, true, key, Qt::Key_unknown);
    testing::TraceCapture trace;
    SendKey(w, true, kXKeyV, Qt::Key_V, "V", Qt::ShiftModifier);
    ASSERT_TRUE(w->Pasting());
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
    const Packets got = PacketBytes(rig->server(), {c.kind});
    ASSERT_EQ(got.size(), c.before + c.typed.size());
    EXPECT_EQ(Packets(got.begin() + static_cast<std::ptrdiff_t>(c.before), got.end()), c.typed);
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
  EXPECT_EQ(PacketBytes(rig->server(), {"hid"}), (Packets{Hid(0, 0x1B), none}));
  // Refused up front, with the characters named.
  EXPECT_FALSE(w->PasteText(QString::fromUtf8("na\u00efve \u20ac\u0007 \u00ef")));
  ASSERT_EQ(rig->boxes().size(), 1u);
  EXPECT_EQ(rig->boxes()[0].caption, "Paste");
  EXPECT_EQ(rig->boxes()[0].text,
            "Nothing was pasted: no key of the server's US keyboard types \u00ef (U+00EF), "
            "\u20ac (U+20AC), U+0007.");
  EXPECT_EQ(rig->server().PacketCount("hid"), 2u);
}

// Scaled to the widget, the picture keeps its aspect and a point maps back to the picture's pixel
// it shows: the corners to the corners, the centre to the centre, bigger and smaller, with bands
// beside the picture counting as its edge.
TEST_F(DesktopWidget, TheScaledPictureMapsTheMouseBackExactly) {
  auto rig = Start();
  RemConsWidget* w = rig->widget();
  w->SetScaleToWindow(true);
  const struct {
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
  for (const auto& c : cases) {
    w->resize(c.widget);
    EXPECT_EQ(w->PictureRect(), c.picture) << c.widget.width();
    for (const auto& [from, to] : c.points) EXPECT_EQ(w->ToPicture(from), to) << c.widget.width();
  }
  // The server's pointer goes where the picture's pixel is: its last pixel on the 3000 grid.
  Move(w, QPoint(1061, 767));
  ASSERT_TRUE(rig->server().WaitForPackets("mouse-move", 1, 5000));
  const Bytes move = PacketBytes(rig->server(), {"mouse-move"}).back();
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
  EXPECT_EQ(testing::DifferencesFromScreen(path.toStdString(), rig->server()), 0);
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
  MUServer& server = *rig.control().leaderServer();
  ClickBar(rig, ButtonAt(rig, BarButton::kPin));
  ClickBar(rig, ButtonAt(rig, BarButton::kLock));
  EXPECT_FALSE(server.Accepting());
  Move(w, QPoint(w->width() / 2, w->height() - 10));
  const Surface shot = Shot(rig);
  EXPECT_TRUE(SavePng(shot, ScreenshotDir() + "/bar-leader-" + kPlatform + ".png"));
  for (const auto& [button, id] : {std::pair{BarButton::kControl, img::kControlHeld},
                                   {BarButton::kClientList, img::kClientList},
                                   {BarButton::kLock, img::kLockClosed}}) {
    const Rect at = layout::Button(button, w->width());
    EXPECT_EQ(Differences(shot, id, at.left, at.top), 0) << id;
  }
  ClickBar(rig, ButtonAt(rig, BarButton::kLock));
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
  ClickBar(rig, ButtonAt(rig, BarButton::kClientList));
  ClientListDialog* dialog = rig.widget()->clientListDialog();
  ASSERT_TRUE(dialog && dialog->isVisible());
  auto row = [&] { return dialog->findChild<QLineEdit*>("client0")->text().toStdString(); };
  EXPECT_EQ(row(), "user (" + server.SlotClient(0)->HostText() + ")");
  QPushButton* disconnect[3];
  for (int i = 0; i < 3; ++i) {
    disconnect[i] = dialog->findChild<QPushButton*>(QString("disconnect%1").arg(i));
    EXPECT_EQ(disconnect[i]->isEnabled(), i == 0);
  }
  EXPECT_TRUE(dialog->grab().save(
      QString::fromStdString(ScreenshotDir() + "/client-list-" + kPlatform + ".png")));
  disconnect[0]->click();
  EXPECT_TRUE(joiner.WaitClosed());
  // Once its link has gone, the row is empty and its button disabled.
  EXPECT_TRUE(WaitUntil([&] { return row().empty(); }));
  EXPECT_FALSE(disconnect[0]->isEnabled());
}

}  // namespace
}  // namespace remcons
