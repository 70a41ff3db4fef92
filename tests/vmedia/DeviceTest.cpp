// Local media and drives: a CD-ROM drive on a fake pass-through backend (its split reads and
// reads near the disc's end are exercised by the CD-ROM fuzz target only), image files and their
// header, drive discovery on a fake sysfs, real block devices (loop devices, as root), and the
// command-line mounts and the drive menu.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <future>
#include <thread>

#include "VmHarness.h"
#include "platform/Hex.h"
#include "platform/Socket.h"
#include "support/TraceCapture.h"
#include "support/Wait.h"
#include "vmedia/Media.h"
#include "vmedia/ScsiCdrom.h"
#include "vmedia/VmCommandLine.h"
#include "vmedia/VmDrives.h"

namespace remcons {
namespace {

using namespace vmtest;
using sim::VmReply;
using Key = std::array<uint32_t, 3>;  // a reply's sense key, ASC and data length

// A CScsiCdrom on a fake sr0 whose pass-through calls respond answers, its socket's far end held
// by an initiator. respond gets the command block, the data buffer and length, and the sense
// buffer; it returns the bytes moved, or -1.
class Cdrom {
 public:
  using Respond = std::function<int(const uint8_t* cdb, uint8_t* data, uint32_t length, uint8_t*)>;
  explicit Cdrom(Respond r) : respond(std::move(r)) {
    sysfs_.Add("sr0", "1", "5");
    auto listener = TcpSocket::Listen("127.0.0.1", 0);
    EXPECT_TRUE(client_->Connect("127.0.0.1", listener->LocalPort()));
    initiator_ = std::make_unique<sim::VmInitiator>(listener->Accept(), 2, nullptr);
    device_ = std::make_unique<CScsiCdrom>(client_.get(), "sr0",
                                           ScsiContext{.host = &host, .roots = sysfs_.roots()},
                                           std::make_unique<Fake>(this));
  }
  // Sends a request and lets the device answer it.
  Key Request(const Bytes& bytes, VmReply* reply = nullptr) {
    VmReply r;
    std::thread device([this] { device_->process(); });
    EXPECT_TRUE(initiator_->Command(Cdb(bytes).data(), &r, nullptr, 0, 10000));
    device.join();
    if (reply) *reply = r;
    return {r.key, r.asc, r.length};
  }

  Respond respond;
  int calls = 0;  // pass-through commands the drive got
  uint32_t changeCount = 0;
  testing::FakeHost host;

 private:
  struct Fake : ScsiPassThrough {
    explicit Fake(Cdrom* h) : h(h) {}
    int Execute(const uint8_t* cdb, int, int, uint8_t* data, uint32_t length, uint8_t* sense,
                uint32_t, uint32_t* senseLength) override {
      ++h->calls;
      std::memset(sense, 0, 18);
      const int moved = h->respond(cdb, data, length, sense);
      *senseLength = sense[2] ? 18 : 0;
      return moved;
    }
    bool MediaChangeCount(uint32_t* count) override {
      *count = h->changeCount;
      return true;
    }
    Cdrom* h;
  };
  FakeSysfs sysfs_;
  std::unique_ptr<TcpSocket> client_ = TcpSocket::Create();
  std::unique_ptr<sim::VmInitiator> initiator_;
  std::unique_ptr<CScsiCdrom> device_;
};

uint8_t Pattern(uint32_t lba, size_t i) {
  return uint8_t(lba * 13 + i);
}
// Reads get the pattern of their blocks; READ CAPACITY says the disc ends at block last.
int Serve(const uint8_t* cdb, uint8_t* data, uint32_t length, uint32_t last) {
  const uint32_t lba = LoadBe32(cdb + 2);
  if (cdb[0] == 0x25) {
    const uint8_t answer[8] = {
        uint8_t(last >> 24), uint8_t(last >> 16), uint8_t(last >> 8), uint8_t(last), 0, 0, 8, 0};
    return int(std::copy_n(answer, 8, data) - data);
  }
  for (uint32_t i = 0; i < length; ++i) data[i] = Pattern(lba + i / 2048, i % 2048);
  return int(length);
}

// Medium errors are retried eleven times under one box, then refused; a power-on reset is retried;
// any other check condition is passed on; the media change is synthesized once.
TEST(CScsiCdrom, ErrorsAreRetriedOrPassedOnAndTheChangeSynthesized) {
  int reads = 0;
  uint8_t key = 3, asc = 0x11;
  Cdrom h([&](const uint8_t* cdb, uint8_t* data, uint32_t length, uint8_t* sense) {
    reads += cdb[0] == 0x28;
    if (key == 0 || (key == 6 && reads > 1)) return Serve(cdb, data, length, 5000);
    sense[0] = 0x70;
    sense[2] = key;
    sense[7] = 10;
    sense[12] = asc;
    return 0;
  });
  testing::TraceCapture trace;
  EXPECT_EQ(h.Request({0x28, 0, 0, 0, 0, 1, 0, 0, 1}), (Key{5, 0x20, 0}));
  EXPECT_EQ(reads, 11);
  // The box waits for the window thread; the retries under it are counted. Once it is closed, the
  // next error has its own.
  EXPECT_TRUE(h.host.Boxes().empty());
  EXPECT_EQ(h.host.RunPosted(), 1);
  EXPECT_TRUE(trace.Contains("10 more not shown"));
  EXPECT_EQ(h.Request({0x28, 0, 0, 0, 0, 1, 0, 0, 1}), (Key{5, 0x20, 0}));
  EXPECT_EQ(h.host.RunPosted(), 1);
  EXPECT_EQ(h.host.Boxes().size(), 2u);
  EXPECT_EQ(h.host.Boxes()[1].text, "The CDROM drive reports a media error:\n");
  reads = 0;
  key = 6;
  asc = 0x29;
  EXPECT_EQ(h.Request({0x28, 0, 0, 0, 0, 7, 0, 0, 2}), (Key{0, 0, 4096}));
  EXPECT_EQ(reads, 2);
  key = 2;
  asc = 0x3A;
  EXPECT_EQ(h.Request({0x00}), (Key{2, 0x3A, 0}));
  key = 0;
  h.changeCount = 3;
  for (const auto& [request, expected] : {std::pair{Bytes{0x25}, Key{6, 0x28, 0}},
                                          {Bytes{0x25}, Key{0, 0, 8}},
                                          {Bytes{0x00}, Key{6, 0x28, 0}},
                                          {Bytes{0x00}, Key{0, 0, 0}}}) {
    if (request[0] == 0x00) h.changeCount = 4;
    EXPECT_EQ(h.Request(request), expected) << int(request[0]);
  }
}

// Commands outside the table or the buffer never reach the drive; MODE SENSE takes the medium byte
// only from what the drive returned (a short answer keeps the last, a count beyond the allocation
// sends no more than was asked); START STOP UNIT is done without data whatever the drive said.
TEST(CScsiCdrom, OutsideTheTableAndModeSenseShortReplies) {
  int count = 8;  // what the drive says it transferred
  Cdrom h([&](const uint8_t* cdb, uint8_t* data, uint32_t length, uint8_t*) {
    if (cdb[0] == 0x28) return Serve(cdb, data, length, 5000);
    const uint8_t header[8] = {0, 6, 0, 0x70};  // a drive writes no more than it returns
    std::memcpy(data, header, size_t(std::clamp(count, 0, 8)));
    return count;
  });
  for (const Bytes& request :
       {Bytes{0x2A, 0, 0, 0, 0, 0, 0, 0, 1}, Bytes{0x28, 0, 0, 0, 0, 0, 0, 0, 65},
        Bytes{0xA8, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF},
        Bytes{0xBE, 0, 0, 0, 0, 0, 0, 1, 0}})  // READ CD of 256 blocks
    EXPECT_EQ(h.Request(request), (Key{5, 0x20, 0})) << int(request[0]);
  EXPECT_EQ(h.calls, 0);
  for (auto [given, length] :
       {std::pair{8, 8u}, {2, 2u}, {3, 3u}, {100000, 8u}, {0x7FFFFFFF, 8u}}) {
    VmReply r;
    h.Request({0x28, 0, 0, 0, 0, 5, 0, 0, 1});  // leaves Pattern(5, 3) at byte 3
    count = given;
    EXPECT_EQ(h.Request({0x5A, 0, 0x2A, 0, 0, 0, 0, 0, 8}, &r), (Key{0, 0, length})) << given;
    EXPECT_EQ(r.medium, 0x70) << given;
    count = 8;
  }
  EXPECT_EQ(h.Request({0x1B, 0, 0, 0, 2}), (Key{0, 0, 0}));
}

// Images up to the floppy limit may carry a header, larger ones are not examined for one. Reads
// and writes past a header and at the end are the image header fuzz target's (its images are
// small).
TEST(CMedia, ImageHeadersUpToTheFloppyLimit) {
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
    EXPECT_EQ(media.GetSize(), size - offset);
  }
}

// Read-only files and ISO images are write protected, folders and FIFOs do not open (and never
// block); an image is held against a second mount and written through; a CD image is shared with
// readers only.
TEST(CMedia, ProtectionHoldingAndSharing) {
  TempDir dir;
  WriteFile(dir / "ro.img", RandomBytes(4096, 4));
  WriteFile(dir / "disc.iso", RandomBytes(4096, 9));
  WriteFile(dir / "a.img", RandomBytes(4096, 8));
  ::chmod((dir / "ro.img").c_str(), 0444);
  fs::create_symlink(dir / "disc.iso", dir / "disc.img");
  ASSERT_EQ(0, ::mkfifo((dir / "fifo").c_str(), 0644));
  for (const std::string& name : {std::string("ro.img"), std::string("disc.iso")}) {
    CMedia media;
    ASSERT_EQ(media.Open(dir / name), 0);
    if (name == "ro.img" && ::geteuid() == 0) continue;  // root may write anyway
    EXPECT_TRUE(media.IsWriteProtected()) << name;
    const Bytes block(512, 1);
    EXPECT_THROW(media.Write(0, 512, block.data()), CMedia::IoError);
  }
  for (const std::string& name : {dir / "fifo", dir.path(), dir / "missing", std::string()}) {
    CMedia media;
    EXPECT_EQ(media.Open(name), -2) << name;
  }
  CMedia image, second, disc, again, writer;
  ASSERT_EQ(image.Open(dir / "a.img"), 0);
  const auto flags = DescriptorFlags(dir / "a.img");
  ASSERT_EQ(flags.size(), 1u);
  EXPECT_EQ(flags[0] & (O_ACCMODE | O_DSYNC), O_RDWR | O_DSYNC);
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
  ASSERT_EQ(disc.Open(dir / "disc.iso"), 0);
  EXPECT_EQ(again.Open(dir / "disc.iso"), 0);
  EXPECT_EQ(writer.Open(dir / "disc.img"), -2);
}

// Drives are found through sysfs (a USB disk that says it is not removable is removable, names
// that lead elsewhere are not drives); a CD-ROM drive opens for reading and writing, which the
// kernel's pass-through filter asks for, and for reading where writing is refused.
TEST(CMedia, DrivesFoundThroughSysfs) {
  FakeSysfs s;
  s.Add("sda", "0", "0");
  s.Add("sdb", "1", "0");
  s.Add("sdc", "0", "0", 0, true);
  s.Add("sr0", "1", "5");
  s.Add("sr1", "1", "5");
  s.Add("loop0", "0", "");
  s.Add("sdb1", "1", "");
  WriteText(s.dir / "sys/class/block/sdb1/partition", "1\n");
  const MediaRoots roots = s.roots();
  const std::pair<std::string, int> types[] = {
      {"sda", CMedia::kFixed},     {"sdb", CMedia::kRemovable},
      {"sdc", CMedia::kRemovable}, {roots.dev + "/sr0", CMedia::kCdrom},
      {"loop0", CMedia::kFixed},   {"nope", CMedia::kUnknown},
      {"../x", CMedia::kUnknown}};
  for (const auto& [name, type] : types) EXPECT_EQ(CMedia::GetDriveType(name, roots), type) << name;
  std::vector<std::string> names;
  for (const auto& d : CMedia::ListDrives(roots)) names.push_back(d.name);
  EXPECT_EQ(names, (std::vector<std::string>{"sdb", "sdc", "sr0", "sr1"}));
  EXPECT_FALSE(CMedia::IsDriveName("sdb.img", roots) || CMedia::IsDriveName("/tmp/sdb", roots));
  fs::remove(s.dir / "dev/sr1");  // a node that refuses writers even to root
  fs::create_symlink("/sys/devices/system/cpu/online", s.dir / "dev/sr1");
  for (const auto& [name, mode] : {std::pair{"sr0", O_RDWR}, {"sr1", O_RDONLY}}) {
    CMedia drive(roots);
    ASSERT_EQ(drive.Open(name), 0) << name;
    const auto flags = DescriptorFlags(s.dir / ("dev/" + std::string(name)));
    ASSERT_EQ(flags.size(), 1u) << name;
    EXPECT_EQ(flags[0] & (O_ACCMODE | O_NONBLOCK), mode | O_NONBLOCK) << name;
  }
}

// Loop devices (as root): read exclusively, and a drive in use here is not served; read-only ones
// are write protected; the size chooses the floppy or the large disk class, served exactly.
TEST(CMediaLoop, BlockDevices) {
  if (::geteuid() != 0 || !HaveTool("losetup")) GTEST_SKIP() << "loop devices need root";
  struct Loop {
    Loop(const std::string& file, bool readOnly) {
      vmtest::Run("losetup -f --show " + std::string(readOnly ? "-r " : "") + Quote(file), &path);
      path = path.substr(0, path.find_first_of("\n "));
    }
    ~Loop() {
      if (path.starts_with("/dev/")) vmtest::Run("losetup -d " + path);
    }
    std::string name() const { return path.substr(5); }
    std::string path;
  };
  TempDir dir;
  for (auto [size, helloClass] : {std::pair<uint64_t, int>{2949120, 1}, {2949632, 3}}) {
    const auto bytes = RandomBytes(size, uint32_t(size));
    WriteFile(dir / "disk", bytes);
    WriteFile(dir / "ro", bytes);
    Loop device(dir / "disk", false), readOnly(dir / "ro", true);
    if (!device.path.starts_with("/dev/")) GTEST_SKIP() << device.path;
    CMedia media(MediaRoots{}), second(MediaRoots{}), ro(MediaRoots{});
    ASSERT_EQ(media.Open(device.name()), 0);
    EXPECT_EQ(media.GetKind(), CMedia::kFixed);
    EXPECT_EQ(media.GetSize(), size);
    EXPECT_EQ(media.TracksPerCylinder(), 255u);  // loop devices have no geometry of their own
    EXPECT_TRUE(media.CheckMedia() && !media.IsWriteProtected());
    EXPECT_EQ(second.Open(device.path), -2);
    VMConnection c(VmKind::FloppyDrive, {.server = "127.0.0.1", .port = 9, .roots = MediaRoots{}});
    EXPECT_EQ(c.Connect(device.name()), VMConnection::kCancelled);
    EXPECT_EQ(c.LastMessage(),
              "The drive " + device.name() + " is in use on this computer. Unmount it here first.");
    media.Release();
    ASSERT_EQ(ro.Open(readOnly.name()), 0);
    EXPECT_TRUE(ro.IsWriteProtected());
    auto options = SimOptions();
    options.dumpFile = dir / "dump";
    options.write = true;  // after the dump, block 1 written and read back
    options.writeLba = 1;
    Loopback lb(options);
    ASSERT_TRUE(lb.server.Start());
    auto served = lb.Connection(VmKind::FloppyDrive, "", nullptr, MediaRoots{});
    ASSERT_EQ(served->Connect(device.name()), 0) << served->LastMessage();
    ASSERT_TRUE(lb.server.WaitSessions(1, 60000));
    served->Disconnect();
    EXPECT_EQ(served->GetKind(), helloClass == 1 ? VmKind::FloppyDrive : VmKind::LargeDisk);
    EXPECT_TRUE(lb.SawHelloClass(helloClass));
    EXPECT_EQ(ReadFile(dir / "dump"), bytes);
    EXPECT_TRUE(lb.server.LastSummary().writeVerified);
  }
}

// ---- The command line and the drive menu ----

// The events' JSON lines, the one-line reasons and a drive that is none are the program's tests.
TEST(VmMountSpec, Parses) {
  FakeSysfs s;
  s.Add("sdb", "1", "0", 2880);
  s.Add("sr0", "1", "5");
  const struct {
    const char* text;
    VmKind kind;  // LargeDisk: refused
    const char* path;
    bool followLinks = false;
  } cases[] = {
      {"folder=/x/d,follow-links", VmKind::Folder, "/x/d", true},
      {"folder=/x/dir=1", VmKind::Folder, "/x/dir=1"},
      {"drive=sdb", VmKind::FloppyDrive, "sdb"},
      {"drive=sr0", VmKind::CdromDrive, "sr0"},
      {"floppy=/x", VmKind::LargeDisk, ""},
      {"image", VmKind::LargeDisk, ""},
      {"image=", VmKind::LargeDisk, ""},
  };
  for (const auto& c : cases) {
    VmMountSpec mount;
    std::string error;
    const bool ok = c.kind != VmKind::LargeDisk;
    EXPECT_EQ(ParseVmMountSpec(c.text, &mount, &error, s.roots()), ok) << c.text;
    EXPECT_EQ(error.empty(), ok) << c.text;
    if (ok) {
      EXPECT_TRUE(mount.kind == c.kind && mount.path == c.path &&
                  mount.followLinks == c.followLinks)
          << c.text;
    }
  }
}

// The events as the JSON lines they render as.
struct Events {
  std::vector<std::string> Lines() {
    std::lock_guard lock(mutex);
    return lines;
  }
  std::mutex mutex;
  std::vector<std::string> lines;
};

VmCommandLineMounts::Settings CliSettings(Loopback& lb, Events* events) {
  return {.target = "127.0.0.1",
          .vmPort = lb.server.Port(),
          .vmKey = HexBytes(lb.key.data(), lb.key.size()),
          .events = [events](const VmMountEvent& e) {
            std::lock_guard lock(events->mutex);
            events->lines.push_back(VmMountEventJson(e));
          }};
}

// UnmountAll ends serving, and a served mount keeps the console from timing out; a session that
// closes at once still reports its Mount before its Unmount (each time); UnmountAll from another
// thread gives up a mount whose server never answers the connect or the hello, and every mount
// after it.
TEST(VmCommandLine, UnmountAll) {
  TempDir dir;
  WriteFile(dir / "f.img", RandomBytes(4096, 34));
  WriteFile(dir / "g.img", RandomBytes(4096, 38));
  Loopback lb;
  std::atomic<bool> hold{true};
  lb.server.SetSessionHandler([&](sim::VmInitiator& in) {
    if (hold) in.WaitClosed(20000);
  });
  ASSERT_TRUE(lb.server.Start());
  const int before = VmMountedDrives();
  for (int i = 0; i < 21; ++i) {
    Events events;
    VmCommandLineMounts mounts(CliSettings(lb, &events));
    ASSERT_EQ(mounts.Mount({{"image", VmKind::ImageFile, dir / "f.img"}}), 1);
    if (hold) {
      EXPECT_EQ(VmMountedDrives(), before + 1);
      mounts.UnmountAll();
    }
    ASSERT_TRUE(mounts.WaitAllEnded(5000));
    EXPECT_EQ(VmMountedDrives(), before);
    auto lines = events.Lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_TRUE(lines[0].starts_with(R"({"event":"Mount")")) << lines[0];
    EXPECT_NE(lines[1].find(hold ? R"("reason":"Unmounted.")" : R"("event":"Unmount")"),
              std::string::npos)
        << lines[1];
    hold = false;
  }
  // A server that never answers the connect, and one that never answers the hello (a listener
  // that accepts nothing, on a clock that stands still).
  UnansweredPort unanswered;
  if (!unanswered.Silent()) GTEST_SKIP() << "loopback answered a connect to a full backlog";
  const auto mute = TcpSocket::Listen("127.0.0.1", 0);
  struct StillClock : Clock {
    uint32_t NowMs() override { return 0; }
    bool SleepMs(uint32_t, const std::atomic<bool>* stop) override { return !(stop && *stop); }
  } clock;
  for (const uint16_t port : {unanswered.port(), mute->LocalPort()}) {
    Events events;
    auto settings = CliSettings(lb, &events);
    settings.vmPort = port;
    settings.clock = &clock;
    VmCommandLineMounts mounts(settings);
    auto served = std::async(std::launch::async, [&] {
      return mounts.Mount({{"image", VmKind::ImageFile, dir / "f.img"},
                           {"image", VmKind::ImageFile, dir / "g.img"}});
    });
    struct GiveUp {
      VmCommandLineMounts& mounts;
      ~GiveUp() { mounts.UnmountAll(); }
    } giveUp{mounts};
    // Connecting: counted as served, so that a console does not time out meanwhile.
    ASSERT_TRUE(testing::WaitUntil([&] { return mounts.Serving() == 1; }, 10000));
    EXPECT_EQ(served.wait_for(std::chrono::milliseconds(200)), std::future_status::timeout);
    mounts.UnmountAll();
    ASSERT_EQ(served.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_EQ(served.get(), 0);
    EXPECT_EQ(VmMountedDrives(), before);
    const auto lines = events.Lines();
    ASSERT_EQ(lines.size(), 2u);
    for (size_t i = 0; i < 2; ++i) {
      EXPECT_EQ(lines[i], R"({"event":"Mount","kind":"image","path":")" +
                              dir / (i ? "g.img" : "f.img") +
                              R"(","result":"Unmounted before it was served."})");
    }
  }
}

}  // namespace
}  // namespace remcons
