// The media tests' rig, shared by other folders' tests: temporary trees, files and external tools;
// a virtual drive served to the simulator's initiator over loopback, the command blocks it is
// sent, and the FAT tools that check a folder's image.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "platform/Clock.h"
#include "sim/VmInitiator.h"
#include "support/FakeHost.h"
#include "vmedia/VMConnection.h"

namespace remcons::vmtest {

// A temporary directory removed with everything in it when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Writes bytes to a file (creating its folders).
void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes);
void WriteText(const std::string& path, const std::string& text);
// A sparse file of this size.
void SparseFile(const std::string& path, uint64_t size);
std::vector<uint8_t> ReadFile(const std::string& path);
// Deterministic pseudo-random bytes.
std::vector<uint8_t> RandomBytes(size_t n, uint32_t seed);
void MakeDirs(const std::string& path);

// The flags (as /proc/self/fdinfo shows them) of each descriptor of this process open on path.
std::vector<int> DescriptorFlags(const std::string& path);
// Open descriptors and threads of this process.
int DescriptorCount();
int ThreadCount();

// True when the program is on PATH.
bool HaveTool(const std::string& name);
// Runs a shell command; returns its exit status and fills output with stdout and stderr.
int Run(const std::string& command, std::string* output = nullptr);
// Single-quoted for the shell.
std::string Quote(const std::string& text);

// A loopback port that never answers a connect: a listener whose backlog of one is filled by a
// connection of its own, so that the kernel drops every further SYN and the connect waits until
// it gives up (minutes). Tests check Silent() before they rely on it.
class UnansweredPort {
 public:
  UnansweredPort();
  ~UnansweredPort();
  UnansweredPort(const UnansweredPort&) = delete;
  UnansweredPort& operator=(const UnansweredPort&) = delete;
  uint16_t port() const { return port_; }
  // True when a further connect has had no answer within waitMs.
  bool Silent(int waitMs = 300) const;

 private:
  int listener_ = -1;
  int filler_ = -1;
  uint16_t port_ = 0;
};

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

inline Bytes Slice(const Bytes& b, size_t at, size_t n, size_t total = 0) {
  Bytes out(b.begin() + long(at), b.begin() + long(at + n));
  out.resize(std::max(total, n), 0);
  return out;
}

// A READ or WRITE command block: 10-byte layout (blocks in 7-8) for 0x28/0x2A/0x2E, else 12-byte
// (blocks in 6-9).
inline Bytes Rw(uint8_t op, uint32_t lba, uint32_t blocks) {
  Bytes c = {op, 0, uint8_t(lba >> 24), uint8_t(lba >> 16), uint8_t(lba >> 8), uint8_t(lba)};
  if (op == 0x28 || op == 0x2A || op == 0x2E) {
    c.insert(c.end(), {0, uint8_t(blocks >> 8), uint8_t(blocks)});
  } else {
    for (int shift : {24, 16, 8, 0}) c.push_back(uint8_t(blocks >> shift));
  }
  return c;
}
inline std::array<uint8_t, 12> Cdb(const Bytes& bytes) {
  std::array<uint8_t, 12> c{};
  std::copy(bytes.begin(), bytes.end(), c.begin());
  return c;
}
inline bool Command(sim::VmInitiator& in, const Bytes& cdb, sim::VmReply* r,
                    const Bytes& send = {}) {
  return in.Command(Cdb(cdb).data(), r, send.data(), send.size());
}
// A reply's sense key, ASC, ASCQ, length, medium byte and flags.
inline std::array<int, 6> Sense(const sim::VmReply& r) {
  return {r.key, r.asc, r.ascq, int(r.length), r.medium, int(r.flags)};
}

// One command of an exchange and the reply it must get: sense key and ASC (ASCQ 0), the data
// length, medium byte and flags unless negative, the data when given; send is the write data.
struct Step {
  Bytes cdb;
  int key = 0, asc = 0;
  int64_t length = -1;
  Bytes data = {};
  Bytes send = {};
  int medium = -1, flags = -1;
};

inline void RunSteps(sim::VmInitiator& in, const std::vector<Step>& steps) {
  for (size_t i = 0; i < steps.size(); ++i) {
    const Step& s = steps[i];
    SCOPED_TRACE("step " + std::to_string(i));
    sim::VmReply r;
    ASSERT_TRUE(Command(in, s.cdb, &r, s.send));
    const auto got = Sense(r);
    EXPECT_EQ(got, (std::array<int, 6>{s.key, s.asc, 0, s.length < 0 ? got[3] : int(s.length),
                                       s.medium < 0 ? got[4] : s.medium,
                                       s.flags < 0 ? got[5] : s.flags}));
    if (!s.data.empty()) {
      EXPECT_EQ(r.data, s.data);
    }
  }
}

// The unit made ready: the medium missing, then changed, then ready.
inline std::vector<Step> Ready(std::vector<Step> then) {
  std::vector<Step> steps = {{{0x00}, 2, 0x3A, 0}, {{0x00}, 6, 0x28, 0}, {{0x00}, 0, 0, 0}};
  steps.insert(steps.end(), then.begin(), then.end());
  return steps;
}

// A clock that moves 100 ms each time it is read: time-outs pass quickly but surely.
class SteppingClock : public Clock {
 public:
  uint32_t NowMs() override { return now_ += 100; }
  bool SleepMs(uint32_t ms, const std::atomic<bool>* stop) override {
    now_ += ms;
    return !(stop && stop->load());
  }

 private:
  std::atomic<uint32_t> now_{0};
};

class FakeControl : public VmControl {
 public:
  void OnVmActivity() override { ++activity; }
  void OnVmUnmountRequest(VmKind kind) override {
    std::lock_guard lock(mutex);
    unmounts.push_back(kind);
  }
  std::vector<VmKind> Unmounts() {
    std::lock_guard lock(mutex);
    return unmounts;
  }
  std::atomic<int> activity{0};
  std::mutex mutex;
  std::vector<VmKind> unmounts;
};

inline sim::VmSimOptions SimOptions() {
  sim::VmSimOptions o;
  o.enabled = true;
  for (int i = 0; i < 16; ++i) o.key[size_t(i)] = uint8_t(0xA0 + i);
  return o;
}

// The simulator, a connection to it and the fakes around the connection.
struct Loopback {
  // Each test is a new console to a new server: the hello chain starts from zeros.
  explicit Loopback(sim::VmSimOptions options = SimOptions()) : server(options), key(options.key) {
    VMConnection::ResetHandshakeChain();
  }
  bool Start() { return server.Start(); }
  std::unique_ptr<VMConnection> Connection(VmKind kind, const std::string& path,
                                           Clock* clock = nullptr,
                                           MediaRoots roots = DefaultMediaRoots()) {
    chooser = std::make_unique<FixedTargetChooser>(path);
    return std::make_unique<VMConnection>(kind, VmConnectionSettings{.server = "127.0.0.1",
                                                                     .port = server.Port(),
                                                                     .key = key,
                                                                     .host = &host,
                                                                     .control = &control,
                                                                     .chooser = chooser.get(),
                                                                     .clock = clock,
                                                                     .roots = std::move(roots)});
  }
  // True when the simulator logged a hello of this class.
  bool SawHelloClass(int cls) const {
    for (auto& line : server.LogLines()) {
      if (line.find("\"class\":" + std::to_string(cls) + ",") != std::string::npos) return true;
    }
    return false;
  }

  sim::VmSimServer server;
  VmKey key{};
  testing::FakeHost host;
  FakeControl control;
  std::unique_ptr<FixedTargetChooser> chooser;
};

// Mounts path as kind on lb, lets handler (or the simulator's script) run one session, then
// unmounts. Returns why serving ended.
inline std::string ServeOnce(Loopback& lb, VmKind kind, const std::string& path,
                             sim::VmSimServer::SessionHandler handler, Clock* clock = nullptr) {
  if (handler) lb.server.SetSessionHandler(std::move(handler));
  if (!lb.server.Start()) return "the simulator did not start";
  auto c = lb.Connection(kind, path, clock);
  std::mutex m;
  std::string reason;
  c->SetServeEndedCallback([&](const std::string& r) {
    std::lock_guard lock(m);
    reason = r;
  });
  const int result = c->Connect("x");
  EXPECT_EQ(result, 0) << c->LastMessage();
  // Serving may already have ended when the session was short: only its end is waited for.
  if (result == 0) {
    EXPECT_TRUE(lb.server.WaitSessions(1, 120000));
    EXPECT_TRUE(c->WaitServeEnded(10000));
  }
  c->Disconnect();
  std::lock_guard lock(m);
  return reason;
}

// Serves path as kind to an exchange of steps; returns why serving ended.
inline std::string ServeSteps(VmKind kind, const std::string& path, std::vector<Step> steps) {
  Loopback lb;
  return ServeOnce(lb, kind, path, [&](sim::VmInitiator& in) { RunSteps(in, steps); });
}

// A sysfs and /dev holding block devices, as drive discovery reads them.
struct FakeSysfs {
  // removable: "0" or "1"; type: the SCSI device type ("0" disk, "5" CD-ROM, "" none); sectors:
  // the size, if any; a USB disk sits below a USB port.
  void Add(const std::string& name, const char* removable, const char* type, uint64_t sectors = 0,
           bool usb = false) {
    const std::string real =
        dir / ("sys/devices/" + std::string(usb ? "pci0/usb1/1-1/" : "pci0/ata1/") + name);
    WriteText(real + "/removable", std::string(removable) + "\n");
    if (*type) WriteText(real + "/device/type", std::string(type) + "\n");
    if (sectors) WriteText(real + "/size", std::to_string(sectors) + "\n");
    fs::create_directories(dir / "sys/class/block");
    fs::create_directory_symlink(real, dir / ("sys/class/block/" + name));
    WriteText(dir / ("dev/" + name), "");
  }
  MediaRoots roots() const { return MediaRoots{dir / "sys", dir / "dev"}; }
  TempDir dir;
};

// Every file (with its bytes) and folder below root, by relative path.
inline std::map<std::string, Bytes> Tree(const std::string& root) {
  std::map<std::string, Bytes> out;
  for (auto& e : fs::recursive_directory_iterator(root)) {
    out[fs::relative(e.path(), root).string() + (e.is_directory() ? "/" : "")] =
        e.is_regular_file() ? ReadFile(e.path()) : Bytes{};
  }
  return out;
}

inline bool HaveFatTools() {
  return HaveTool("fsck.fat") && HaveTool("mdir") && HaveTool("mcopy");
}

// Checks a FAT image with fsck.fat, and (unless only the metadata counts) with mdir and mcopy
// against the folder it must show.
inline void CheckFatImage(const std::string& folder, const std::string& image, bool copy = true) {
  const std::string mtools = "LANG=C.UTF-8 LC_ALL=C.UTF-8 MTOOLS_SKIP_CHECK=1 ";
  std::string out;
  EXPECT_EQ(0, Run("fsck.fat -n " + Quote(image), &out)) << out;
  EXPECT_EQ(out.find("\n  "), std::string::npos) << "fsck.fat complained:\n" << out;
  const auto expected = Tree(folder);
  if (!copy || expected.empty()) return;
  // mdir lists every name below the root, by its long name; mcopy returns every file's bytes.
  ASSERT_EQ(0, Run(mtools + "mdir -/ -b -i " + Quote(image) + " ::", &out)) << out;
  std::set<std::string> listed, names;
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);) {
    while (line.ends_with('/')) line.pop_back();
    if (line.starts_with("::/")) listed.insert(line.substr(3));
  }
  for (auto& [path, bytes] : expected) names.insert(path.substr(0, path.find_last_not_of('/') + 1));
  EXPECT_EQ(listed, names);
  TempDir copied;
  ASSERT_EQ(0,
            Run(mtools + "mcopy -s -n -i " + Quote(image) + " ::/ " + Quote(copied.path()), &out))
      << out;
  EXPECT_TRUE(Tree(copied.path()) == expected) << "copied files differ";
}

}  // namespace remcons::vmtest
