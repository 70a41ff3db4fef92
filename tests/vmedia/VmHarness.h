// A virtual drive served to the simulator's initiator over loopback.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <filesystem>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "VmTestUtil.h"
#include "platform/Clock.h"
#include "sim/VmInitiator.h"
#include "support/FakeHost.h"
#include "vmedia/VMConnection.h"

namespace remcons::vmtest {

using Bytes = std::vector<uint8_t>;

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

inline Bytes Slice(const Bytes& b, size_t at, size_t n, size_t total = 0) {
  Bytes out(b.begin() + long(at), b.begin() + long(at + n));
  out.resize(std::max(total, n), 0);
  return out;
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

// A reply's sense, length, medium byte and flags.
inline std::array<int, 6> Sense(const sim::VmReply& r) {
  return {r.key, r.asc, r.ascq, int(r.length), r.medium, int(r.flags)};
}

inline void RunSteps(sim::VmInitiator& in, const std::vector<Step>& steps) {
  for (size_t i = 0; i < steps.size(); ++i) {
    const Step& s = steps[i];
    SCOPED_TRACE("step " + std::to_string(i));
    std::array<uint8_t, 12> cdb{};
    std::copy(s.cdb.begin(), s.cdb.end(), cdb.begin());
    sim::VmReply r;
    ASSERT_TRUE(in.Command(cdb.data(), &r, s.send.data(), s.send.size()));
    const auto got = Sense(r);  // what the step leaves open, as it came
    EXPECT_EQ(got, (std::array<int, 6>{s.key, s.asc, 0, s.length < 0 ? got[3] : int(s.length),
                                       s.medium < 0 ? got[4] : s.medium,
                                       s.flags < 0 ? got[5] : s.flags}));
    if (!s.data.empty()) {
      EXPECT_EQ(r.data, s.data);
    }
  }
}

// A 12-byte command block from its leading bytes.
inline std::array<uint8_t, 12> Cdb(std::initializer_list<uint8_t> bytes) {
  std::array<uint8_t, 12> c{};
  size_t i = 0;
  for (uint8_t b : bytes) c[i++] = b;
  return c;
}

// READ(10) or WRITE(10) style: address in bytes 2-5, blocks in 7-8.
inline std::array<uint8_t, 12> Rw10(uint8_t op, uint32_t lba, uint16_t blocks) {
  return Cdb({op, 0, uint8_t(lba >> 24), uint8_t(lba >> 16), uint8_t(lba >> 8), uint8_t(lba), 0,
              uint8_t(blocks >> 8), uint8_t(blocks)});
}

// Checks a reply's sense, and its data length unless length is negative.
inline void ExpectSense(const sim::VmReply& r, uint8_t key, uint8_t asc, uint8_t ascq,
                        int64_t length = -1) {
  EXPECT_EQ(r.key, key);
  EXPECT_EQ(r.asc, asc);
  EXPECT_EQ(r.ascq, ascq);
  if (length >= 0) {
    EXPECT_EQ(int64_t(r.length), length);
  }
}

// A clock that moves 100 ms each time it is read: time-outs pass quickly but surely.
class SteppingClock : public Clock {
 public:
  uint32_t NowMs() override { return now_ += 100; }
  bool SleepMs(uint32_t ms, const std::atomic<bool>* stop) override {
    if (stop && stop->load()) return false;
    now_ += ms;
    return true;
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
  explicit Loopback(sim::VmSimOptions options = SimOptions()) : server(options) {
    key = options.key;
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

  sim::VmSimServer server;
  VmKey key{};
  testing::FakeHost host;
  FakeControl control;
  std::unique_ptr<FixedTargetChooser> chooser;
};

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
    MakeDirs(dir / "sys/class/block");
    std::filesystem::create_directory_symlink(real, dir / ("sys/class/block/" + name));
    WriteText(dir / ("dev/" + name), "");
  }
  MediaRoots roots() const { return MediaRoots{dir / "sys", dir / "dev"}; }
  TempDir dir;
};

// Mounts path as kind on lb, lets handler (or the simulator's script) run one session, then
// unmounts. Returns why serving ended.
inline std::string ServeOnce(Loopback& lb, VmKind kind, const std::string& path,
                             sim::VmSimServer::SessionHandler handler, Clock* clock = nullptr) {
  if (handler) lb.server.SetSessionHandler(std::move(handler));
  if (!lb.Start()) {
    ADD_FAILURE() << "the simulator did not start";
    return "";
  }
  auto c = lb.Connection(kind, path, clock);
  std::mutex m;
  std::string reason;
  c->SetServeEndedCallback([&](const std::string& r) {
    std::lock_guard lock(m);
    reason = r;
  });
  const int result = c->Connect("x");
  EXPECT_EQ(result, 0) << c->LastMessage();
  if (result == 0) {
    EXPECT_TRUE(c->IsConnected());
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

// The unit made ready: the medium missing, then changed, then ready.
inline std::vector<Step> Ready(std::vector<Step> then) {
  std::vector<Step> steps = {{{0x00}, 2, 0x3A, 0}, {{0x00}, 6, 0x28, 0}, {{0x00}, 0, 0, 0}};
  steps.insert(steps.end(), then.begin(), then.end());
  return steps;
}

// True when the simulator logged a hello of this class.
inline bool SawHelloClass(const sim::VmSimServer& server, int cls) {
  for (auto& line : server.LogLines()) {
    if (line.find("\"class\":" + std::to_string(cls) + ",") != std::string::npos) return true;
  }
  return false;
}

// Checks a FAT image of folder with fsck.fat, mdir and mcopy; the folder is the oracle.
void CheckFatImage(const std::string& folder, const std::string& image, const TempDir& work);
bool HaveFatTools();

}  // namespace remcons::vmtest
