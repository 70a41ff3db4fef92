// Local media: image files and their header, reads and writes at the edges, drive discovery on a
// fake sysfs, and real block devices (loop devices, as root).
#include "vmedia/Media.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>

#include "VmHarness.h"

namespace remcons {
namespace {

using namespace vmtest;

// Images up to the floppy limit may carry a header that reads and writes skip; larger ones are
// not examined for one.
TEST(CMedia, HeaderOfSmallImagesIsSkipped) {
  for (const auto& [size, offset] : {std::pair<size_t, size_t>{1478656, 0x1000}, {1478657, 0}}) {
    TempDir dir;
    auto bytes = RandomBytes(size, uint32_t(size));
    std::memcpy(bytes.data(), "ORVELHDR", 8);
    bytes[14] = 0x00;  // the header's length, 0x1000
    bytes[15] = 0x10;
    WriteFile(dir / "h.img", bytes);
    CMedia media;
    ASSERT_EQ(media.Open(dir / "h.img"), 0);
    EXPECT_EQ(media.GetKind(), CMedia::kImageFile);
    EXPECT_EQ(media.HeaderOffset(), offset);
    EXPECT_EQ(media.GetSize(), size - offset);
    EXPECT_FALSE(media.IsWriteProtected());
    Bytes out(1024);
    ASSERT_EQ(media.Read(0, 1024, out.data()), 0);
    EXPECT_EQ(out, Slice(bytes, offset, 1024));
    const Bytes block(512, 0x5C);
    media.Write(512, 512, block.data());
    media.Release();
    EXPECT_EQ(Slice(ReadFile(dir / "h.img"), offset + 512, 512), block);
  }
}

TEST(CMedia, ReadsPastTheEndAreZerosAndWritesNeverGrowTheImage) {
  TempDir dir;
  const auto bytes = RandomBytes(1000, 3);
  WriteFile(dir / "odd.img", bytes);
  CMedia media;
  ASSERT_EQ(media.Open(dir / "odd.img"), 0);
  Bytes out(1024, 0xCC);
  ASSERT_EQ(media.Read(512, 1024, out.data()), 0);
  EXPECT_EQ(out, Slice(bytes, 512, 488, 1024));
  const Bytes block(512, 1);
  EXPECT_THROW(media.Write(512, 512, block.data()), CMedia::IoError);
  EXPECT_THROW(media.Write(uint64_t(1) << 40, 512, block.data()), CMedia::IoError);
  media.Write(0, 512, block.data());
  media.Release();
  auto expected = bytes;
  std::copy(block.begin(), block.end(), expected.begin());
  EXPECT_EQ(ReadFile(dir / "odd.img"), expected);
}

TEST(CMedia, ReadOnlyFilesAndIsoImagesAreWriteProtectedAndOthersDoNotOpen) {
  TempDir dir;
  WriteFile(dir / "ro.img", RandomBytes(4096, 4));
  WriteFile(dir / "disc.Iso", RandomBytes(4096, 5));
  ::chmod((dir / "ro.img").c_str(), 0444);
  for (const char* name : {"ro.img", "disc.Iso"}) {
    CMedia media;
    ASSERT_EQ(media.Open(dir / name), 0);
    if (std::string(name) == "ro.img" && ::geteuid() == 0) continue;  // root may write anyway
    EXPECT_TRUE(media.IsWriteProtected()) << name;
    const Bytes block(512, 1);
    EXPECT_THROW(media.Write(0, 512, block.data()), CMedia::IoError);
  }
  ASSERT_EQ(0, ::mkfifo((dir / "fifo").c_str(), 0644));
  MakeDirs(dir / "folder");
  for (const std::string& name : {dir / "fifo", dir / "folder", dir / "missing", std::string()}) {
    CMedia media;
    EXPECT_EQ(media.Open(name), -2) << name;  // and never blocks
    EXPECT_EQ(media.GetSize(), 0u);
  }
}

// An image is served as a drive is: held against a second mount and written through. A CD image
// is shared with readers only.
TEST(CMedia, ImagesAreHeldAndWrittenThrough) {
  TempDir dir;
  vmtest::WriteFile(dir / "a.img", vmtest::RandomBytes(4096, 8));
  vmtest::WriteFile(dir / "disc.iso", vmtest::RandomBytes(4096, 9));
  std::filesystem::create_symlink(dir / "disc.iso", dir / "disc.img");
  CMedia image, second;
  ASSERT_EQ(image.Open(dir / "a.img"), 0);
  const auto flags = vmtest::DescriptorFlags(dir / "a.img");
  ASSERT_EQ(flags.size(), 1u);
  EXPECT_EQ(flags[0] & O_ACCMODE, O_RDWR);
  EXPECT_EQ(flags[0] & O_DSYNC, O_DSYNC);
  EXPECT_EQ(second.Open(dir / "a.img"), -2);
  EXPECT_EQ(second.LastOpenError(), EBUSY);
  FixedTargetChooser chooser(dir / "a.img");
  VmConnectionSettings settings;
  settings.chooser = &chooser;
  VMConnection mount(VmKind::ImageFile, settings);
  EXPECT_EQ(mount.Connect("x"), VMConnection::kCancelled);
  EXPECT_EQ(mount.LastMessage(), "The file " + dir / "a.img" + " is in use on this computer.");
  image.Release();
  EXPECT_EQ(second.Open(dir / "a.img"), 0);
  CMedia disc, again, writer;
  ASSERT_EQ(disc.Open(dir / "disc.iso"), 0);
  EXPECT_EQ(again.Open(dir / "disc.iso"), 0);
  EXPECT_EQ(writer.Open(dir / "disc.img"), -2);
}

// A CD-ROM drive is opened for reading and writing, which the kernel's pass-through filter asks
// for commands such as PREVENT ALLOW MEDIUM REMOVAL, and for reading where writing is refused.
TEST(CMedia, CdromDrivesOpenForWritingOrElseForReading) {
  vmtest::FakeSysfs s;
  s.Add("sr0", "1", "5");
  s.Add("sr1", "1", "5");
  // A node that refuses writers even to root.
  std::filesystem::remove(s.dir / "dev/sr1");
  std::filesystem::create_symlink("/sys/devices/system/cpu/online", s.dir / "dev/sr1");
  for (const auto& [name, mode] : {std::pair{"sr0", O_RDWR}, {"sr1", O_RDONLY}}) {
    CMedia drive(s.roots());
    ASSERT_EQ(drive.Open(name), 0) << name;
    const auto flags = vmtest::DescriptorFlags(s.dir / ("dev/" + std::string(name)));
    ASSERT_EQ(flags.size(), 1u) << name;
    EXPECT_EQ(flags[0] & O_ACCMODE, mode) << name;
    EXPECT_EQ(flags[0] & O_NONBLOCK, O_NONBLOCK) << name;
  }
}

TEST(CMedia, FolderImageIsWriteProtectedAndSurvivesReopen) {
  TempDir dir;
  WriteText(dir / "src/a.txt", "a");
  CMedia media;
  media.AttachFolder(FATFile::Create(dir / "src"));
  EXPECT_EQ(media.GetKind(), CMedia::kFolderImage);
  EXPECT_TRUE(media.IsWriteProtected());
  EXPECT_EQ(media.GetSize(), 16732160u);
  media.Close();
  EXPECT_EQ(media.Open("anything"), 0);
  EXPECT_EQ(media.GetSize(), 16732160u);
  const std::vector<uint8_t> block(512, 1);
  EXPECT_THROW(media.Write(0, 512, block.data()), CMedia::IoError);
  media.Release();
  EXPECT_EQ(media.FolderImage(), nullptr);
}

TEST(CMedia, DrivesAreFoundThroughSysfs) {
  FakeSysfs s;
  s.Add("sda", "0", "0");
  s.Add("sdb", "1", "0");
  s.Add("sdc", "0", "0", 0, true);  // a USB hard disk that says it is not removable
  s.Add("sr0", "1", "5");
  s.Add("loop0", "0", "");
  s.Add("sdb1", "1", "");
  WriteText(s.dir / "sys/class/block/sdb1/partition", "1\n");
  const MediaRoots roots = s.roots();
  EXPECT_EQ(CMedia::GetDriveType("sda", roots), CMedia::kFixed);
  EXPECT_EQ(CMedia::GetDriveType("sdb", roots), CMedia::kRemovable);
  EXPECT_EQ(CMedia::GetDriveType("sdc", roots), CMedia::kRemovable);
  EXPECT_EQ(CMedia::GetDriveType("sr0", roots), CMedia::kCdrom);
  EXPECT_EQ(CMedia::GetDriveType(roots.dev + "/sr0", roots), CMedia::kCdrom);
  EXPECT_EQ(CMedia::GetDriveType("loop0", roots), CMedia::kFixed);
  EXPECT_EQ(CMedia::GetDriveType("nope", roots), CMedia::kUnknown);
  EXPECT_EQ(CMedia::GetDriveType("../x", roots), CMedia::kUnknown);
  auto drives = CMedia::ListDrives(roots);
  ASSERT_EQ(drives.size(), 3u);
  EXPECT_EQ(drives[0].name, "sdb");
  EXPECT_EQ(drives[1].name, "sdc");
  EXPECT_EQ(drives[2].name, "sr0");
  EXPECT_EQ(drives[2].type, CMedia::kCdrom);
  EXPECT_TRUE(CMedia::IsDriveName("sdb", roots));
  EXPECT_FALSE(CMedia::IsDriveName("sdb.img", roots));
  EXPECT_FALSE(CMedia::IsDriveName("/tmp/sdb", roots));
}

// ---- Loop devices (root) ----

class LoopDevice {
 public:
  LoopDevice(const std::string& file, bool readOnly) {
    std::string out;
    if (::geteuid() != 0 || !HaveTool("losetup")) return;
    if (vmtest::Run("losetup -f --show " + std::string(readOnly ? "-r " : "") + Quote(file),
                    &out) != 0) {
      return;
    }
    while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
    if (out.rfind("/dev/", 0) == 0) path_ = out;
  }
  ~LoopDevice() {
    if (!path_.empty()) vmtest::Run("losetup -d " + path_);
  }
  bool ok() const { return !path_.empty(); }
  std::string name() const { return path_.substr(5); }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

TEST(CMediaLoop, BlockDevicesReadExclusivelyAndReadOnlyOnesAreWriteProtected) {
  TempDir dir;
  const auto bytes = RandomBytes(4u << 20, 6);
  WriteFile(dir / "disk", bytes);
  LoopDevice loop(dir / "disk", false);
  if (!loop.ok()) GTEST_SKIP() << "loop devices need root and losetup";
  CMedia media(MediaRoots{});
  ASSERT_EQ(media.Open(loop.name()), 0) << loop.name();
  EXPECT_EQ(media.GetKind(), CMedia::kFixed);
  EXPECT_EQ(media.GetSize(), bytes.size());
  EXPECT_EQ(media.BytesPerSector(), 512u);
  EXPECT_EQ(media.TracksPerCylinder(), 255u);  // loop devices have no geometry of their own
  EXPECT_FALSE(media.IsWriteProtected());
  EXPECT_TRUE(media.CheckMedia());
  Bytes out(8192);
  ASSERT_EQ(media.Read(4096, 8192, out.data()), 0);
  EXPECT_EQ(out, Slice(bytes, 4096, 8192));
  // A served drive is held exclusively, and a drive in use here is not served.
  CMedia second(MediaRoots{});
  EXPECT_EQ(second.Open(loop.path()), -2);
  testing::FakeHost host;
  VMConnection c(
      VmKind::FloppyDrive,
      {.server = "127.0.0.1", .port = 9, .host = &host, .roots = MediaRoots{}});  // never reached
  EXPECT_EQ(c.Connect(loop.name()), VMConnection::kCancelled);
  EXPECT_EQ(c.LastMessage(),
            "The drive " + loop.name() + " is in use on this computer. Unmount it here first.");
  media.Release();
  EXPECT_EQ(second.Open(loop.path()), 0);
  // A read-only device is write protected.
  WriteFile(dir / "ro", RandomBytes(1u << 20, 7));
  LoopDevice readOnly(dir / "ro", true);
  ASSERT_TRUE(readOnly.ok());
  CMedia ro(MediaRoots{});
  ASSERT_EQ(ro.Open(readOnly.name()), 0);
  EXPECT_TRUE(ro.IsWriteProtected());
  const Bytes block(512, 1);
  EXPECT_THROW(ro.Write(0, 512, block.data()), CMedia::IoError);
}

TEST(CMediaLoop, DriveSizeChoosesFloppyOrLargeDiskAndServesExactly) {
  TempDir dir;
  const std::pair<uint64_t, int> cases[] = {{2949120, 1}, {2949632, 3}};
  for (auto [size, expectedClass] : cases) {
    const auto bytes = RandomBytes(size, uint32_t(size));
    WriteFile(dir / "disk", bytes);
    LoopDevice loop(dir / "disk", false);
    if (!loop.ok()) GTEST_SKIP() << "loop devices need root and losetup";
    auto options = SimOptions();
    options.dumpFile = dir / "dump";
    Loopback lb(options);
    ASSERT_TRUE(lb.Start());
    auto c = lb.Connection(VmKind::FloppyDrive, "", nullptr, MediaRoots{});
    ASSERT_EQ(c->Connect(loop.name()), 0) << c->LastMessage();
    ASSERT_TRUE(lb.server.WaitSessions(1, 60000));
    c->Disconnect();
    EXPECT_EQ(c->GetKind(), expectedClass == 1 ? VmKind::FloppyDrive : VmKind::LargeDisk);
    EXPECT_TRUE(SawHelloClass(lb.server, expectedClass));
    EXPECT_TRUE(lb.server.LastSummary().ok) << lb.server.LastSummary().error;
    EXPECT_EQ(ReadFile(dir / "dump"), bytes);
  }
}

}  // namespace
}  // namespace remcons
