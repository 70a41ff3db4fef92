// The menu bar with a fake painter, host and owner: showing and hiding, which clicks it takes,
// what each button and menu entry sends, and what it paints where; its drive menu over a sysfs of
// fake drives, with real virtual media connections to the simulator's listener over loopback.
#include "ui/MenuBar.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "UiFakes.h"
#include "support/FakeHost.h"
#include "support/Wait.h"
#include "vmedia/VmHarness.h"

namespace remcons {
namespace {

using testing::BarPainter;
using testing::FakeHost;
using testing::FakeOwner;
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

std::string Join(std::initializer_list<std::string_view> ids) {
  std::string s;
  for (std::string_view id : ids) s += (s.empty() ? "" : " ") + std::string(id);
  return s;
}

class MenuBarTest : public ::testing::Test {
 protected:
  void SetUp() override { Make(Config()); }

  void Make(MenuBarConfig config, bool show = false, MenuBarServices services = {}) {
    bar.reset();
    bar = std::make_unique<CMenuBar>(host, painter, owner, std::move(config), std::move(services));
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
  // A point in a panel, relative to its top left.
  static Point In(const Rect& panel, int x, int y) { return {panel.left + x, panel.top + y}; }
  Surface Painted() {
    Surface s(kWidth, 400, BarPainter::kBackground);
    bar->Paint(s, kWidth);
    return s;
  }
  std::string ImageAt(Point p) { return painter.ImageAt(Painted(), p.x, p.y); }
  // The image drawn at a button's top left corner.
  std::string ImageOf(B b) { return ImageAt({layout::Button(b, kWidth).left + 1, 3}); }

  FakeHost host;
  BarPainter painter;
  FakeOwner owner;
  std::unique_ptr<CMenuBar> bar;
};

// A release goes where its press went (which clicks land on the bar at all is the desktop tests').
TEST_F(MenuBarTest, AReleaseGoesWhereItsPressWent) {
  EXPECT_FALSE(Click(B::kClose));  // hidden
  bar->Show();
  // Pressed on the picture, released on the bar: the server saw the press, so it gets the
  // release, and the close button does nothing.
  const Point close = Center(layout::Button(B::kClose, kWidth));
  EXPECT_FALSE(bar->OnMouseButton(E::kLeftDown, close.x, 300));
  EXPECT_FALSE(bar->OnMouseButton(E::kLeftUp, close.x, close.y));
  // Pressed on close (shown pressed), released on the picture: both halves are the bar's and
  // nothing happens; the same release once more is not the bar's.
  EXPECT_TRUE(bar->OnMouseButton(E::kLeftDown, close.x, close.y));
  EXPECT_EQ(ImageOf(B::kClose), img::kClosePressed);
  EXPECT_TRUE(bar->OnMouseButton(E::kLeftUp, close.x, 300));
  EXPECT_FALSE(bar->OnMouseButton(E::kLeftUp, close.x, 300));
  // A press on the bar whose release never came (a dialog it opened took it): the next press on
  // the picture is the server's, and so is its release.
  for (auto [down, up] : {std::pair{E::kLeftDown, E::kLeftUp}, {E::kRightDown, E::kRightUp}}) {
    EXPECT_TRUE(bar->OnMouseButton(down, close.x, close.y));
    EXPECT_FALSE(bar->OnMouseButton(down, close.x, 300));
    EXPECT_FALSE(bar->OnMouseButton(up, close.x, 300)) << down;
  }
  EXPECT_TRUE(owner.Quiet() && host.Boxes().empty());
  EXPECT_TRUE(Click(B::kClose));
  EXPECT_EQ(owner.calls, Strings{"StopSession"});
}

// The keys rows send their bytes through the input path from their first (even rows) or last
// (odd rows) line; a click in a gap or a margin is the bar's and leaves the panel open.
TEST_F(MenuBarTest, KeysRowsSendTheirBytesAndGapsAreIgnored) {
  bar->Show();
  const Rect keys = layout::KeysPanel(kWidth);
  const char* expected[7] = {"1b5b321b5b7f", "14", "15", "16", "17", "18", "19"};
  for (int k = 0; k < 7; ++k) {
    EXPECT_TRUE(Click(B::kKeys));
    owner.inputs.clear();
    EXPECT_TRUE(Click(In(keys, 40, 18 * k + (k % 2 ? 19 : 5))));
    EXPECT_EQ(owner.inputs, Strings{expected[k]}) << "row " << k;  // and the panel closed
  }
  EXPECT_TRUE(Click(B::kKeys));
  EXPECT_EQ(Join({ImageOf(B::kKeys), ImageAt({keys.right - 1, keys.bottom - 1})}),
            Join({img::kKeysPressed, img::kKeysPanel}));
  owner.inputs.clear();
  for (Point p : {In(keys, 40, 4), In(keys, 40, 22 + 18 * 3), In(keys, 3, 10), In(keys, 76, 100)})
    EXPECT_TRUE(Click(p));
  EXPECT_TRUE(owner.inputs.empty() && owner.writes.empty());
  EXPECT_EQ(bar->OpenPanel(), Panel::kKeys);
}

// Each entry sends its one command (not as input). One pixel rows part the compact panel's
// entries, except 2 and 3, which meet at y 59; the link's click area starts at 75, and opens the
// large panel, whose entries send the same commands.
TEST_F(MenuBarTest, PowerEntriesAndTheirEdges) {
  bar->Show();
  const Rect compact = layout::PowerCompact(kWidth);
  const Rect extended = layout::PowerExtended(kWidth);
  const char* bytes[4] = {"ffba", "ffbb", "ffbc", "ffbd"};
  const int extendedY[4] = {75, 159, 213, 265};
  for (int i = 0; i < 4; ++i) {
    EXPECT_TRUE(Click(B::kPower));
    owner.writes.clear();
    EXPECT_TRUE(Click(In(compact, 50, 82)));
    ASSERT_EQ(bar->OpenPanel(), Panel::kPowerExtended);
    EXPECT_EQ(ImageAt(In(extended, 0, 0)), img::kPowerExtended);
    EXPECT_TRUE(Click(In(extended, 50, extendedY[i])));
    EXPECT_EQ(owner.writes, Strings{bytes[i]}) << "extended " << i;
  }
  const struct {
    Point at;
    const char* sent;  // "" for nothing
  } cases[] = {
      {{12, 12}, "ffba"}, {{11, 12}, ""},     {{113, 26}, "ffba"}, {{30, 27}, ""},
      {{30, 28}, "ffbb"}, {{30, 42}, "ffbb"}, {{30, 43}, ""},      {{30, 44}, "ffbc"},
      {{30, 58}, "ffbc"}, {{30, 59}, "ffbd"}, {{30, 73}, "ffbd"},  {{30, 74}, ""},
      {{30, 11}, ""},     {{12, 75}, ""},     {{88, 89}, ""},
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
    if (link) Click(B::kPower);  // closes the large panel
  }
  EXPECT_TRUE(owner.inputs.empty());
}

// Greying follows the power state and grey entries still send; a pressed entry shows its pressed
// image until released, or, released off the panel, until the panel closes.
TEST_F(MenuBarTest, GreyAndPressedEntries) {
  bar->Show();
  const Rect compact = layout::PowerCompact(kWidth);
  bar->SetPowerOff();
  EXPECT_EQ(ImageOf(B::kPower), img::kPowerOff);
  EXPECT_TRUE(Click(B::kPower));
  EXPECT_EQ(ImageOf(B::kPower), img::kPowerOffPressed);
  EXPECT_TRUE(!bar->EntryGreyed(1) && bar->EntryGreyed(2) && bar->EntryGreyed(3));
  // A grey entry's text (from (5, 2) in its image) is drawn grey.
  const layout::PowerEntryPlace& cold = layout::kPowerEntryPlaces[2];
  EXPECT_TRUE(
      SameColor(Painted().At(compact.left + cold.compactX + 5, compact.top + cold.compactY + 2),
                menubar::kMenuGreyTextColor));
  EXPECT_TRUE(Click(In(compact, 50, 51)));  // Cold Boot, grey
  EXPECT_EQ(owner.writes, Strings{"ffbc"});
  bar->SetPowerOn();
  EXPECT_TRUE(Click(B::kPower));
  EXPECT_EQ(ImageOf(B::kPower), img::kPowerOnPressed);
  EXPECT_FALSE(bar->EntryGreyed(2) || bar->EntryGreyed(3));
  const Point p = In(compact, 50, 30), q = In(compact, 50, 50);
  EXPECT_TRUE(bar->OnMouseButton(E::kLeftDown, p.x, p.y));
  EXPECT_EQ(ImageAt(In(compact, 72, 38)), img::kEntryPressed);
  EXPECT_TRUE(bar->OnMouseButton(E::kLeftUp, p.x, p.y));
  EXPECT_EQ(owner.writes, (Strings{"ffbc", "ffbb"}));
  EXPECT_TRUE(Click(B::kPower));
  EXPECT_TRUE(bar->OnMouseButton(E::kLeftDown, q.x, q.y));
  EXPECT_TRUE(bar->OnMouseButton(E::kLeftUp, q.x, 300));
  EXPECT_TRUE(bar->EntryPressed(2));
  // Closed by its button and opened again, the panel shows no stale press.
  EXPECT_TRUE(Click(B::kPower));
  EXPECT_TRUE(Click(B::kPower));
  EXPECT_EQ(ImageAt(In(compact, 72, 54)), img::kEntry);
  EXPECT_EQ(owner.writes.size(), 2u);
}

// Without the rights, power and media warn; with one right, only the other warns.
TEST_F(MenuBarTest, NotAuthorizedWarnings) {
  for (const uint32_t features : {0u, 4u}) {
    MenuBarConfig c = Config();
    c.uniqueFeatures = features;
    Make(c, true);
    host.ClearRecords();
    EXPECT_TRUE(Click(B::kPower) && Click(B::kMedia));
    EXPECT_EQ(bar->OpenPanel(), features ? Panel::kPowerCompact : Panel::kNone);
    Strings boxes;
    for (const auto& box : host.Boxes()) {
      EXPECT_EQ(box.style & (kMbIconMask | kMbButtonMask), kMbOk | kMbIconWarning);
      boxes.push_back(box.caption + ": " + box.text);
    }
    EXPECT_EQ(boxes, (features ? Strings{"Warning: Virtual Media Not Authorized"}
                               : Strings{"Warning: Virtual Power Not Authorized",
                                         "Warning: Virtual Media Not Authorized"}));
  }
}

// ---- Multi-user and replay buttons ----

// A joining console has the control button only: asking waits for the leader (a second click
// does nothing meanwhile), granted it holds control until it gives it back. A leader holds control
// from the start and takes it back at once. (The leader's other buttons are the desktop tests',
// record and replay the capture tests'.)
TEST_F(MenuBarTest, ControlButton) {
  Make(Config(2, true, true), true);
  for (B b : {B::kPower, B::kMedia, B::kRecord, B::kReplay}) EXPECT_TRUE(Click(b));
  EXPECT_TRUE(owner.Quiet() && host.Boxes().empty());
  EXPECT_EQ(bar->OpenPanel(), Panel::kNone);
  std::string images = ImageOf(B::kControl);
  EXPECT_TRUE(Click(B::kControl));
  EXPECT_EQ(bar->ControlState(), 1);
  images += " " + ImageOf(B::kControl);
  EXPECT_TRUE(Click(B::kControl));
  EXPECT_EQ(owner.calls, Strings{"RequestControl"});
  bar->ShowControlState(true);
  images += " " + ImageOf(B::kControl);
  EXPECT_TRUE(Click(B::kControl));
  EXPECT_EQ(bar->ControlState(), 0);
  EXPECT_EQ(images, Join({img::kControlNone, img::kControlRequested, img::kControlHeld}));
  owner.calls.clear();
  Make(Config(1), true);
  EXPECT_EQ(bar->ControlState(), 2);
  EXPECT_TRUE(Click(B::kControl) && bar->ControlState() == 0);
  EXPECT_TRUE(Click(B::kControl) && bar->ControlState() == 2);
  EXPECT_EQ(owner.calls, (Strings{"RelinquishControl", "RequestControl"}));
}

TEST_F(MenuBarTest, ReplayControls) {
  Make(Config(0, true), true);
  bar->StartReplay("BOOT Buffer");
  EXPECT_TRUE(bar->IsReplaying());
  // The normal buttons give way: the power button's last column, which fast play does not cover.
  EXPECT_EQ(ImageAt({kR - 45, 10}), img::kBar);
  // Fast play: 0 -> 1 -> 2 -> 3 -> 0, with the tooltip naming what the next click selects.
  std::string images = ImageOf(B::kPlayPause) + " " + ImageOf(B::kFastPlay);
  for (int i = 1; i <= 4; ++i) {
    EXPECT_TRUE(Click(B::kFastPlay));
    EXPECT_EQ(bar->SpeedIndex(), i % 4);
    EXPECT_TRUE(bar->TakeSpeedChanged() && !bar->TakeSpeedChanged());
    EXPECT_EQ(bar->tooltip(), img::kTipFastPlay[i % 4]);
    images += " " + ImageOf(B::kFastPlay);
  }
  const Point fast = Center(layout::Button(B::kFastPlay, kWidth));
  EXPECT_TRUE(bar->OnMouseButton(E::kLeftDown, fast.x, fast.y));
  images += " " + ImageOf(B::kFastPlay);
  EXPECT_TRUE(bar->OnMouseButton(E::kLeftUp, fast.x, fast.y));
  EXPECT_TRUE(Click(B::kPlayPause));
  EXPECT_TRUE(bar->IsPlaying());
  images += " " + ImageOf(B::kPlayPause);
  EXPECT_EQ(images, Join({img::kPlay, "316", "316", "325", "326", "316", "315", img::kPause}));
  EXPECT_EQ(bar->tooltip(), img::kTipPause);
  EXPECT_TRUE(Click(B::kStop));
  EXPECT_TRUE(bar->StopRequested() && !bar->IsPlaying() && bar->SpeedIndex() == 0);
  bar->ReplayRewound();
  EXPECT_FALSE(bar->StopRequested());
  // Close leaves the replay, not the session.
  EXPECT_TRUE(Click(B::kClose));
  EXPECT_FALSE(bar->IsReplaying());
  EXPECT_EQ(owner.calls, Strings{"LeaveReplay"});
  EXPECT_EQ(ImageOf(B::kPower), img::kPowerOn);
}

// ---- Painting ----

TEST_F(MenuBarTest, PaintsTheNameOrTheReplayTitle) {
  Surface s = Painted();
  const Rect barRect = layout::Bar(kWidth);
  const Pixel text = menubar::kBarTextColor & 0xFFFFFF;
  // The server name, "Arial" 12, centred, 1 pixel from the top, in the bar text colour.
  const int nameX = barRect.left + (640 - 6 * BarPainter::kAdvance) / 2;
  EXPECT_EQ(s.At(nameX, 1) & 0xFFFFFF, text);
  const BarPainter::Text& name = painter.texts.front();
  EXPECT_EQ(std::tie(name.text, name.font.face, name.font.pixelHeight, name.y, name.opaque),
            std::tuple("srv-01", "Arial", 12, 1, false));
  // The replay title replaces the name (they would run into each other) until the replay ends.
  bar->StartReplay("BOOT Buffer");
  EXPECT_NE(Painted().At(nameX, 1) & 0xFFFFFF, text);
  bar->EndReplayDisplay();
  EXPECT_EQ(Painted().At(nameX, 1) & 0xFFFFFF, text);
  // A long name is cut to the room between the pin (right edge 36) and the keys button (536).
  MenuBarConfig c = Config();
  c.serverName = std::string(200, 'n');
  painter.texts.clear();
  Make(c);
  const BarPainter::Text cut = painter.texts.front();
  EXPECT_TRUE(cut.text.starts_with("nnn") && cut.text.ends_with("\xE2\x80\xA6"));
  EXPECT_GE(cut.x, 36);
  EXPECT_LE(cut.x + painter.TextWidth(cut.text, CMenuBar::NameFont()), 536);
}

// ---- The drive menu ----

class DriveMenuTest : public MenuBarTest {
 protected:
  void SetUp() override {
    lb.server.SetSessionHandler([](sim::VmInitiator& in) { in.WaitClosed(20000); });
    ASSERT_TRUE(lb.Start());
    vmtest::SparseFile(dir / "f.img", 1474560);
    before = CMenuBar::mountedDrives();
  }
  void TearDown() override {
    bar.reset();
    // Every mount of a test ends with it.
    EXPECT_EQ(CMenuBar::mountedDrives(), before);
  }

  // A removable drive of this many 512-byte sectors (or a CD-ROM drive), with a device node.
  void AddDrive(const std::string& name, uint64_t sectors, bool cdrom = false) {
    const std::string base = dir / ("sys/class/block/" + name);
    vmtest::WriteText(base + "/removable", "1\n");
    vmtest::WriteText(base + "/size", std::to_string(sectors) + "\n");
    vmtest::WriteText(base + "/device/type", cdrom ? "5\n" : "0\n");
    vmtest::SparseFile(dir / ("dev/" + name), sectors * 512);
  }
  void MakeWithDrives(bool refused = false) {
    MenuBarConfig c = Config();
    c.vmPort = lb.server.Port();
    c.vmKey = lb.key;
    c.vmKeyRefused = refused;
    Make(c, true,
         {.vmControl = &lb.control, .chooser = &chooser, .roots = {dir / "sys", dir / "dev"}});
  }
  void OpenMenu() {
    EXPECT_TRUE(Click(B::kMedia));
    ASSERT_EQ(bar->OpenPanel(), Panel::kDrives);
  }
  Rect Menu() const { return layout::DriveMenu(kWidth, bar->driveMenu().Count()); }
  // A click at x inside the menu, dy below a row's button top; true when the bar took it.
  bool ClickRow(int row, int x = 70, int dy = 8) {
    return Click(In(Menu(), x, layout::DriveButtonY(row) + dy));
  }
  // The image of a row's mount button.
  std::string ButtonImage(int row) {
    return ImageAt(In(Menu(), 91, layout::DriveButtonY(row) + 8));
  }

  vmtest::TempDir dir;
  vmtest::Loopback lb;
  FixedTargetChooser chooser{dir / "f.img"};
  int before = 0;
};

// Each row shows its label, its icon through its mask and its mount button; drives that come and
// go show the next time the menu opens.
TEST_F(DriveMenuTest, RowsShowIconLabelAndButtonAndFollowTheDrives) {
  AddDrive("sdb", 2880);     // 1.44 MB: a floppy
  AddDrive("sdc", 8000000);  // a USB key
  AddDrive("sr0", 0, true);
  MakeWithDrives();
  OpenMenu();
  ASSERT_EQ(bar->driveMenu().Count(), 6);
  const Rect m = Menu();
  EXPECT_EQ(m.Height(), 25 + 21 * 5);
  EXPECT_EQ(ImageAt({m.left, m.top}), img::kDriveMenu[5]);
  const std::string_view labels[6] = {"Image", "Folder", "Image", "sdb", "sdc", "sr0"};
  const std::string_view icons[6] = {img::kIconFloppy, img::kIconFolder, img::kIconCdrom,
                                     img::kIconFloppy, img::kIconUsb,    img::kIconCdrom};
  for (int k = 0; k < 6; ++k) {
    const int y = m.top + layout::DriveIconY(k) + 8;
    EXPECT_EQ(bar->driveMenu().Entry(k).label, labels[k]);
    // The icon's masked-out column shows the menu behind it.
    EXPECT_EQ(Join({ImageAt({m.left + 13, y}), ImageAt({m.left + 5, y}), ButtonImage(k)}),
              Join({icons[k], img::kDriveMenu[5], img::kMount}))
        << k;
  }
  EXPECT_TRUE(Click(B::kMedia));  // closes
  AddDrive("sdd", 2880);
  std::filesystem::remove_all(dir / "sys/class/block/sdb");
  OpenMenu();
  EXPECT_EQ(Join({bar->driveMenu().Entry(3).label, bar->driveMenu().Entry(4).label,
                  bar->driveMenu().Entry(5).label}),
            "sdd sdc sr0");
}

// A press on a row's button mounts it at once and closes the menu (the release is the bar's too
// and does nothing more); pressed again it unmounts. The press area covers the visible button.
TEST_F(DriveMenuTest, MountsOnButtonDownAndOnlyThatRow) {
  AddDrive("sdb", 2880);
  AddDrive("sdc", 2880);
  MakeWithDrives();
  OpenMenu();
  // Left of the press area (the label): nothing, the menu stays.
  EXPECT_TRUE(ClickRow(4, 30));
  EXPECT_EQ(bar->OpenPanel(), Panel::kDrives);
  EXPECT_EQ(CMenuBar::mountedDrives(), before);
  // Down at the right end of the button image.
  const Point p = In(Menu(), 103, layout::DriveButtonY(4) + 8);
  ASSERT_TRUE(bar->OnMouseButton(E::kLeftDown, p.x, p.y));
  EXPECT_EQ(bar->OpenPanel(), Panel::kNone);
  EXPECT_TRUE(bar->OnMouseButton(E::kLeftUp, p.x, p.y));
  EXPECT_EQ(CMenuBar::mountedDrives(), before + 1);
  for (int k : {0, 1, 2, 3}) EXPECT_FALSE(bar->driveMenu().Entry(k).mounted) << k;
  OpenMenu();
  EXPECT_EQ(ButtonImage(4) + " " + ButtonImage(3), Join({img::kUnmount, img::kMount}));
  // A second console starting in the same process must not forget the drive the first serves:
  // the count is what holds off the first console's idle time-out.
  {
    FakeHost otherHost;
    BarPainter otherPainter;
    FakeOwner otherOwner;
    CMenuBar other(otherHost, otherPainter, otherOwner, Config());
  }
  EXPECT_EQ(CMenuBar::mountedDrives(), before + 1);
  // The start of the press area, over the label's end, unmounts.
  ASSERT_TRUE(ClickRow(4, 45));
  EXPECT_FALSE(bar->driveMenu().Entry(4).mounted);
  // The count never goes below where it started.
  bar->UnmountKind(VmKind::FloppyDrive);
  EXPECT_EQ(CMenuBar::mountedDrives(), before);
}

// An unmount asked by a failing drive is carried out after its thread ended, and only for it.
TEST_F(DriveMenuTest, AnUnmountAskedByAFailingDriveIsCarriedOutAfterItsThreadEnded) {
  AddDrive("sr0", 0, true);
  AddDrive("sr1", 0, true);
  MakeWithDrives();
  OpenMenu();
  ASSERT_TRUE(ClickRow(4));  // sr1 serves
  std::filesystem::remove(dir / "dev/sr0");
  OpenMenu();
  ASSERT_TRUE(ClickRow(3));  // sr0's drive cannot be opened: its device asks for the unmount
  ASSERT_TRUE(testing::WaitUntil([&] { return !lb.control.Unmounts().empty(); }, 20000));
  EXPECT_EQ(lb.control.Unmounts(), std::vector<VmKind>{VmKind::CdromDrive});
  // The window thread gets to the request only once the serve thread has closed its socket.
  ASSERT_TRUE(bar->driveMenu().Entry(3).connection->WaitServeEnded(20000));
  bar->UnmountKind(VmKind::CdromDrive);
  EXPECT_FALSE(bar->driveMenu().Entry(3).mounted);
  EXPECT_TRUE(bar->driveMenu().Entry(4).mounted);
  EXPECT_EQ(CMenuBar::mountedDrives(), before + 1);
}

}  // namespace
}  // namespace remcons
