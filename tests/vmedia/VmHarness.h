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

// READ(12) or WRITE(12) style: blocks in 6-9.
inline std::array<uint8_t, 12> Rw12(uint8_t op, uint32_t lba, uint32_t blocks) {
  return Cdb({op, 0, uint8_t(lba >> 24), uint8_t(lba >> 16), uint8_t(lba >> 8), uint8_t(lba),
              uint8_t(blocks >> 24), uint8_t(blocks >> 16), uint8_t(blocks >> 8), uint8_t(blocks)});
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
    VmConnectionSettings s;
    s.server = "127.0.0.1";
    s.port = server.Port();
    s.key = key;
    s.host = &host;
    s.control = &control;
    s.chooser = chooser.get();
    s.clock = clock;
    s.roots = std::move(roots);
    return std::make_unique<VMConnection>(kind, s);
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

// True when the simulator logged a hello of this class.
inline bool SawHelloClass(const sim::VmSimServer& server, int cls) {
  for (auto& line : server.LogLines()) {
    if (line.find("\"class\":" + std::to_string(cls) + ",") != std::string::npos) return true;
  }
  return false;
}

}  // namespace remcons::vmtest
