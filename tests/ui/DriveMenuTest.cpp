// The drive menu as the bar shows and drives it: a sysfs of fake drives, real virtual media
// connections to the simulator's listener over loopback.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "UiFakes.h"
#include "support/FakeHost.h"
#include "support/TraceCapture.h"
#include "support/Wait.h"
#include "ui/MenuBar.h"
#include "vmedia/VmHarness.h"

namespace remcons {
namespace {

using testing::BarPainter;
using testing::FakeOwner;
using E = MenuBarMouse;
using Panel = CMenuBar::Panel;
using Strings = std::vector<std::string>;
namespace img = menubar::img;

constexpr int kWidth = 800;

class DriveMenuTest : public ::testing::Test {
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
  void Make(bool refused = false, uint16_t port = 0) {
    MenuBarConfig c;
    c.target = "127.0.0.1";
    c.width = kWidth;
    c.vmPort = port ? port : lb.server.Port();
    c.vmKey = lb.key;
    c.uniqueFeatures = 4 | 8;
    c.vmKeyRefused = refused;
    MenuBarServices s;
    s.vmControl = &lb.control;
    s.chooser = &chooser;
    s.roots = MediaRoots{dir / "sys", dir / "dev"};
    bar = std::make_unique<CMenuBar>(host, painter, owner, c, s);
    bar->Show();
  }
  // Opens the drive menu, or closes it when open.
  void ClickMedia() {
    const Rect media = layout::Button(BarButton::kMedia, kWidth);
    ASSERT_TRUE(bar->OnMouseButton(E::kLeftDown, media.left + 5, 10));
    ASSERT_TRUE(bar->OnMouseButton(E::kLeftUp, media.left + 5, 10));
  }
  void OpenMenu() {
    ClickMedia();
    ASSERT_EQ(bar->OpenPanel(), Panel::kDrives);
  }
  Rect Menu() const { return layout::DriveMenu(kWidth, bar->driveMenu().Count()); }
  // Presses and releases at x inside the menu, dy below a row's button top; true when the bar
  // took both.
  bool ClickRow(int row, int x = 70, int dy = 8) {
    const int y = Menu().top + layout::DriveButtonY(row) + dy;
    const bool down = bar->OnMouseButton(E::kLeftDown, Menu().left + x, y);
    return bar->OnMouseButton(E::kLeftUp, Menu().left + x, y) && down;
  }
  std::string ImageAt(int x, int y) {
    Surface s(kWidth, 300, BarPainter::kBackground);
    bar->Paint(s, kWidth);
    return painter.ImageAt(s, x, y);
  }
  // The image of a row's mount button.
  std::string ButtonImage(int row) {
    return ImageAt(Menu().left + 91, Menu().top + layout::DriveButtonY(row) + 8);
  }
  Strings Labels() {
    Strings labels;
    for (int k = 0; k < bar->driveMenu().Count(); ++k)
      labels.push_back(bar->driveMenu().Entry(k).label);
    return labels;
  }

  vmtest::TempDir dir;
  vmtest::Loopback lb;
  FixedTargetChooser chooser{dir / "f.img"};
  testing::FakeHost host;
  BarPainter painter;
  FakeOwner owner;
  std::unique_ptr<CMenuBar> bar;
  int before = 0;
};

// A refused key gives an empty menu: nothing below the bar belongs to it, and the media button
// shows the menu open.
TEST_F(DriveMenuTest, RefusedKeyGivesAnEmptyMenu) {
  AddDrive("sdb", 2880);
  testing::TraceCapture trace;
  Make(/*refused=*/true);
  EXPECT_TRUE(trace.Has("MenuBar:Setting VM Key unauthorized flag.\n"));
  OpenMenu();
  EXPECT_EQ(bar->driveMenu().Count(), 0);
  EXPECT_FALSE(bar->HitTest(layout::DriveMenu(kWidth, 1).left + 5, 40));
  EXPECT_EQ(bar->Area(), (Rect{layout::Bar(kWidth).left, 0, layout::Bar(kWidth).right, 23}));
  const Rect media = layout::Button(BarButton::kMedia, kWidth);
  EXPECT_EQ(ImageAt(media.left + 1, media.top + 1), img::kMediaPressed);
  EXPECT_EQ(ImageAt(layout::DriveMenu(kWidth, 1).left + 1, 40), "");
}

// Each row shows its icon through its mask and its mount button; drives that come and go show
// the next time the menu opens.
TEST_F(DriveMenuTest, RowsShowIconLabelAndButtonAndFollowTheDrives) {
  AddDrive("sdb", 2880);     // 1.44 MB: a floppy
  AddDrive("sdc", 8000000);  // a USB key
  AddDrive("sr0", 0, true);
  testing::TraceCapture trace;
  Make();
  EXPECT_TRUE(trace.Has("MenuBar:Clearing VM Key unauthorized flag.\n"));
  OpenMenu();
  ASSERT_EQ(Labels(), (Strings{"Image", "Folder", "Image", "sdb", "sdc", "sr0"}));
  const Rect m = Menu();
  EXPECT_EQ(m.Height(), 25 + 21 * 5);
  EXPECT_EQ(ImageAt(m.left, m.top), img::kDriveMenu[5]);
  const std::string_view icons[6] = {img::kIconFloppy, img::kIconFolder, img::kIconCdrom,
                                     img::kIconFloppy, img::kIconUsb,    img::kIconCdrom};
  for (int k = 0; k < 6; ++k) {
    const int y = m.top + layout::DriveIconY(k) + 8;
    // The icon's masked-out column shows the menu behind it.
    EXPECT_EQ(
        Strings({ImageAt(m.left + 13, y), ImageAt(m.left + 5, y), ButtonImage(k)}),
        Strings({std::string(icons[k]), std::string(img::kDriveMenu[5]), std::string(img::kMount)}))
        << k;
  }
  ClickMedia();  // closes
  AddDrive("sdd", 2880);
  std::filesystem::remove_all(dir / "sys/class/block/sdb");
  EXPECT_EQ(bar->driveMenu().Count(), 6);  // as it was until the menu opens again
  OpenMenu();
  const Strings labels = Labels();
  EXPECT_EQ(std::set<std::string>(labels.begin() + 3, labels.end()),
            (std::set<std::string>{"sdc", "sdd", "sr0"}));
}

// A press on a row's button mounts it at once and closes the menu (the release is the bar's too
// and does nothing more); pressed again it unmounts. The press area covers the visible button.
TEST_F(DriveMenuTest, MountsOnButtonDownAndOnlyThatRow) {
  AddDrive("sdb", 2880);
  AddDrive("sdc", 2880);
  Make();
  OpenMenu();
  // Left of the press area (the label), and the gap under a row: nothing, the menu stays.
  EXPECT_TRUE(ClickRow(4, 30));
  EXPECT_TRUE(ClickRow(4, 70, 17));
  EXPECT_EQ(bar->OpenPanel(), Panel::kDrives);
  EXPECT_EQ(CMenuBar::mountedDrives(), before);
  // Down at the right end of the button image.
  const int x = Menu().left + 103, y = Menu().top + layout::DriveButtonY(4) + 8;
  ASSERT_TRUE(bar->OnMouseButton(E::kLeftDown, x, y));
  EXPECT_EQ(bar->OpenPanel(), Panel::kNone);
  EXPECT_TRUE(bar->OnMouseButton(E::kLeftUp, x, y));
  EXPECT_EQ(CMenuBar::mountedDrives(), before + 1);
  for (int k : {0, 1, 2, 3}) EXPECT_FALSE(bar->driveMenu().Entry(k).mounted) << k;
  OpenMenu();
  EXPECT_EQ(ButtonImage(4) + " " + ButtonImage(3),
            std::string(img::kUnmount) + " " + std::string(img::kMount));
  // A second console starting in the same process must not forget the drive the first serves:
  // the count is what holds off the first console's idle time-out.
  {
    testing::FakeHost otherHost;
    BarPainter otherPainter;
    FakeOwner otherOwner;
    MenuBarConfig c;
    c.vmKeyRefused = true;
    CMenuBar other(otherHost, otherPainter, otherOwner, c);
  }
  EXPECT_EQ(CMenuBar::mountedDrives(), before + 1);
  // The start of the press area, over the label's end, unmounts; the count never goes below
  // where it started.
  ASSERT_TRUE(ClickRow(4, 45));
  EXPECT_FALSE(bar->driveMenu().Entry(4).mounted);
  // One connection was made, and it has ended.
  EXPECT_TRUE(lb.server.WaitSessions(1, 10000));
  EXPECT_EQ(lb.server.Sessions(), 1);
  bar->UnmountKind(VmKind::FloppyDrive);
  EXPECT_EQ(CMenuBar::mountedDrives(), before);
  EXPECT_GE(owner.restarts, 2);
  // The fixed entry mounts what the chooser gives, and the console's unmount command for its
  // kind ends it.
  OpenMenu();
  ASSERT_TRUE(ClickRow(0));
  EXPECT_EQ(CMenuBar::mountedDrives(), before + 1);
  testing::TraceCapture trace;
  bar->UnmountKind(VmKind::ImageFile);
  EXPECT_FALSE(bar->driveMenu().Entry(0).mounted);
  EXPECT_TRUE(trace.Has("Unmount command sent 3 device\n"));
}

// An unmount asked by a failing drive is carried out after its thread ended, and only for it.
TEST_F(DriveMenuTest, AnUnmountAskedByAFailingDriveIsCarriedOutAfterItsThreadEnded) {
  AddDrive("sr0", 0, true);
  AddDrive("sr1", 0, true);
  Make();
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

TEST_F(DriveMenuTest, FailedMountLeavesTheRowUnmounted) {
  AddDrive("sdb", 2880);
  Make(false, TcpSocket::Listen("127.0.0.1", 0)->LocalPort());  // a port nobody listens on
  OpenMenu();
  ASSERT_TRUE(ClickRow(3));
  EXPECT_EQ(CMenuBar::mountedDrives(), before);
  OpenMenu();
  EXPECT_EQ(ButtonImage(3), img::kMount);
}

}  // namespace
}  // namespace remcons
