// The drive menu as the bar shows and drives it: a sysfs of fake drives, real virtual media
// connections to the simulator's listener over loopback.
#include <gtest/gtest.h>

#include <filesystem>

#include "UiFakes.h"
#include "support/FakeHost.h"
#include "support/TraceCapture.h"
#include "support/Wait.h"
#include "ui/MenuBar.h"
#include "vmedia/VmHarness.h"
#include "vmedia/VmTestUtil.h"

namespace remcons {
namespace {

using testing::FakeOwner;
using testing::FakePainter;
using E = MenuBarMouse;
using Panel = CMenuBar::Panel;
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
  void RemoveDrive(const std::string& name) {
    std::filesystem::remove_all(dir / ("sys/class/block/" + name));
  }

  void Make(bool refused = false, uint16_t port = 0) {
    MenuBarConfig c;
    c.target = "127.0.0.1";
    c.serverName = "srv";
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
    const int x = (media.left + media.right) / 2;
    ASSERT_TRUE(bar->OnMouseButton(E::kLeftDown, x, 10));
    ASSERT_TRUE(bar->OnMouseButton(E::kLeftUp, x, 10));
  }
  void OpenMenu() {
    ClickMedia();
    ASSERT_EQ(bar->OpenPanel(), Panel::kDrives);
  }
  Rect Menu() const { return layout::DriveMenu(kWidth, bar->driveMenu().Count()); }
  // Presses and releases at x inside the menu, dy below a row's button top; true when the bar
  // took both.
  bool ClickRow(int row, int x = 70, int dy = 8) {
    const Rect m = Menu();
    const int y = m.top + layout::DriveButtonY(row) + dy;
    const bool down = bar->OnMouseButton(E::kLeftDown, m.left + x, y);
    return bar->OnMouseButton(E::kLeftUp, m.left + x, y) && down;
  }
  // The image of a row's mount button.
  std::string ButtonImage(int row) {
    return painter.ImageAt(Painted(), Menu().left + 61 + 30, Menu().top + 4 + 21 * row + 8);
  }
  std::vector<std::string> Labels() {
    std::vector<std::string> labels;
    for (int k = 0; k < bar->driveMenu().Count(); ++k) {
      labels.push_back(bar->driveMenu().Entry(k).label);
    }
    return labels;
  }
  Surface Painted() {
    Surface s(kWidth, 300, FakePainter::kBackground);
    bar->Paint(s, kWidth);
    return s;
  }

  vmtest::TempDir dir;
  vmtest::Loopback lb;
  FixedTargetChooser chooser{dir / "f.img"};
  testing::FakeHost host;
  FakePainter painter;
  FakeOwner owner;
  std::unique_ptr<CMenuBar> bar;
  int before = 0;
};

TEST_F(DriveMenuTest, RefusedKeyGivesAnEmptyMenu) {
  AddDrive("sdb", 2880);
  testing::TraceCapture trace;
  Make(/*refused=*/true);
  EXPECT_TRUE(trace.Has("MenuBar:Setting VM Key unauthorized flag.\n"));
  OpenMenu();
  EXPECT_EQ(bar->driveMenu().Count(), 0);
  EXPECT_TRUE(Menu().Empty());
  // Nothing below the bar belongs to it; the media button shows the menu open.
  EXPECT_FALSE(bar->HitTest(layout::DriveMenu(kWidth, 1).left + 5, 40));
  EXPECT_EQ(bar->Area(), (Rect{layout::Bar(kWidth).left, 0, layout::Bar(kWidth).right, 23}));
  const Rect media = layout::Button(BarButton::kMedia, kWidth);
  const Surface s = Painted();
  EXPECT_EQ(painter.ImageAt(s, media.left + 1, media.top + 1), std::string(img::kMediaPressed));
  EXPECT_EQ(painter.ImageAt(s, layout::DriveMenu(kWidth, 1).left + 1, 40), "");
}

TEST_F(DriveMenuTest, RowsShowIconLabelAndButton) {
  AddDrive("sdb", 2880);     // 1.44 MB: a floppy
  AddDrive("sdc", 8000000);  // a USB key
  AddDrive("sr0", 0, true);
  testing::TraceCapture trace;
  Make();
  EXPECT_TRUE(trace.Has("MenuBar:Clearing VM Key unauthorized flag.\n"));
  painter.texts.clear();
  OpenMenu();
  ASSERT_EQ(Labels(), (std::vector<std::string>{"Image", "Folder", "Image", "sdb", "sdc", "sr0"}));
  const Rect m = Menu();
  EXPECT_EQ(m.Height(), 25 + 21 * 5);
  const Surface s = Painted();
  EXPECT_EQ(painter.ImageAt(s, m.left, m.top), std::string(img::kDriveMenu[5]));
  const std::string_view icons[6] = {img::kIconFloppy, img::kIconFolder, img::kIconCdrom,
                                     img::kIconFloppy, img::kIconUsb,    img::kIconCdrom};
  for (int k = 0; k < 6; ++k) {
    const int y = m.top + layout::DriveIconY(k);
    EXPECT_EQ(painter.ImageAt(s, m.left + 5 + 8, y + 8), std::string(icons[k])) << k;
    // Drawn through its mask: the icon's masked-out column shows the menu behind it.
    EXPECT_EQ(painter.ImageAt(s, m.left + 5, y + 8), std::string(img::kDriveMenu[5])) << k;
    EXPECT_EQ(painter.ImageAt(s, m.left + 61 + 30, m.top + layout::DriveButtonY(k) + 8),
              std::string(img::kMount));
  }
  std::vector<std::string> drawn;
  for (const auto& t : painter.texts) {
    const int k = static_cast<int>(drawn.size());
    EXPECT_EQ(t.x, m.left + 25);
    EXPECT_EQ(t.y, m.top + 5 + 21 * k);
    EXPECT_EQ(t.color, menubar::kMenuTextColor);
    drawn.push_back(t.text);
  }
  EXPECT_EQ(drawn, Labels());
}

TEST_F(DriveMenuTest, DrivesThatComeAndGoShowTheNextTimeTheMenuOpens) {
  AddDrive("sdb", 2880);
  AddDrive("sdc", 2880);
  Make();
  OpenMenu();
  EXPECT_EQ(Labels(), (std::vector<std::string>{"Image", "Folder", "Image", "sdb", "sdc"}));
  ClickMedia();  // closes
  EXPECT_EQ(bar->OpenPanel(), Panel::kNone);
  AddDrive("sdd", 2880);
  RemoveDrive("sdb");
  // Still as it was until the menu opens again.
  EXPECT_EQ(bar->driveMenu().Count(), 5);
  OpenMenu();
  const auto labels = Labels();
  ASSERT_EQ(labels.size(), 5u);
  EXPECT_EQ(std::set<std::string>(labels.begin() + 3, labels.end()),
            (std::set<std::string>{"sdc", "sdd"}));
  EXPECT_EQ(painter.ImageAt(Painted(), Menu().left, Menu().top), std::string(img::kDriveMenu[4]));
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
  EXPECT_TRUE(bar->driveMenu().Entry(4).mounted);
  EXPECT_TRUE(bar->OnMouseButton(E::kLeftUp, x, y));
  EXPECT_EQ(CMenuBar::mountedDrives(), before + 1);
  for (int k : {0, 1, 2, 3}) EXPECT_FALSE(bar->driveMenu().Entry(k).mounted) << k;
  OpenMenu();
  EXPECT_EQ(ButtonImage(4), std::string(img::kUnmount));
  EXPECT_EQ(ButtonImage(3), std::string(img::kMount));
  // A second console starting in the same process must not forget the drive the first serves:
  // the count is what holds off the first console's idle time-out.
  {
    testing::FakeHost otherHost;
    FakePainter otherPainter;
    FakeOwner otherOwner;
    MenuBarConfig c;
    c.width = kWidth;
    c.vmKeyRefused = true;
    CMenuBar other(otherHost, otherPainter, otherOwner, c);
    EXPECT_EQ(CMenuBar::mountedDrives(), before + 1);
  }
  EXPECT_EQ(CMenuBar::mountedDrives(), before + 1);
  // The start of the press area, over the label's end; the count never goes below where it
  // started.
  ASSERT_TRUE(ClickRow(4, 45));
  EXPECT_FALSE(bar->driveMenu().Entry(4).mounted);
  EXPECT_EQ(CMenuBar::mountedDrives(), before);
  // One connection was made, and it has ended.
  EXPECT_TRUE(lb.server.WaitSessions(1, 10000));
  EXPECT_EQ(lb.server.Sessions(), 1);
  bar->UnmountKind(VmKind::FloppyDrive);
  EXPECT_EQ(CMenuBar::mountedDrives(), before);
  EXPECT_GE(owner.restarts, 2);
}

// The fixed entry mounts what the chooser gives, and the console's unmount command for its kind
// ends it.
TEST_F(DriveMenuTest, FixedEntryMountsWhatTheChooserGives) {
  Make();
  OpenMenu();
  ASSERT_EQ(bar->driveMenu().Count(), 3);
  ASSERT_TRUE(ClickRow(0));
  EXPECT_TRUE(bar->driveMenu().Entry(0).mounted);
  EXPECT_EQ(CMenuBar::mountedDrives(), before + 1);
  testing::TraceCapture trace;
  bar->UnmountKind(VmKind::ImageFile);
  EXPECT_FALSE(bar->driveMenu().Entry(0).mounted);
  EXPECT_EQ(CMenuBar::mountedDrives(), before);
  EXPECT_TRUE(trace.Has("Unmount command sent 3 device\n"));
}

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
  // A port nobody listens on.
  const uint16_t closed = TcpSocket::Listen("127.0.0.1", 0)->LocalPort();
  AddDrive("sdb", 2880);
  Make(false, closed);
  OpenMenu();
  ASSERT_TRUE(ClickRow(3));
  EXPECT_FALSE(bar->driveMenu().Entry(3).mounted);
  EXPECT_EQ(CMenuBar::mountedDrives(), before);
  OpenMenu();
  EXPECT_EQ(ButtonImage(3), std::string(img::kMount));
}

}  // namespace
}  // namespace remcons
