// Servers that fail at every phase of a mount (the hello, a request, write data, a long reply),
// stall without reading, or answer slowly, and image files that fail with EIO or fill the disk.
// Each time: the right result or message, serving ends by itself (or by the user's unmount), no
// thread or descriptor stays behind, and a write lands whole or not at all.
#include <gtest/gtest.h>
#include <poll.h>

#include <cerrno>
#include <optional>
#include <thread>

#include "FileFaults.h"
#include "VmHarness.h"
#include "VmTestUtil.h"
#include "platform/Socket.h"
#include "support/Wait.h"

namespace remcons {
namespace {

using sim::VmInitiator;
using sim::VmReply;
using vmtest::Cdb;
using vmtest::ExpectSense;
using vmtest::FileFault;
using vmtest::Rw10;
using Script = std::function<void(std::unique_ptr<TcpSocket>)>;

// A virtual-media server that runs a script on the one connection it accepts.
class FaultPeer {
 public:
  explicit FaultPeer(Script script) : listener_(TcpSocket::Listen("127.0.0.1", 0)) {
    thread_ = std::thread([this, script = std::move(script)] {
      if (auto s = listener_->Accept()) script(std::move(s));
    });
  }
  ~FaultPeer() {
    listener_->Close();
    thread_.join();
  }
  uint16_t port() const { return listener_->LocalPort(); }

 private:
  std::unique_ptr<TcpSocket> listener_;
  std::thread thread_;
};

bool ReadN(TcpSocket& s, size_t n) {
  std::vector<uint8_t> buffer(n);
  for (size_t got = 0; got < n;) {
    const int r = s.Receive(buffer.data() + got, n - got);
    if (r <= 0) return false;
    got += size_t(r);
  }
  return true;
}

// Waits (bounded) for the client to close, reading nothing.
void WaitHangUp(TcpSocket& s) {
  pollfd p{s.Descriptor(), POLLRDHUP, 0};
  ::poll(&p, 1, 20000);
}

// Reads the hello and accepts it (a byte at a time when slowly), then plays the server's side.
Script Accepting(std::function<void(VmInitiator&)> play, bool slowly = false) {
  return [play, slowly](std::unique_ptr<TcpSocket> s) {
    const uint8_t accept[4] = {0x20, 0, 0, 0};
    if (!ReadN(*s, 18)) return;
    for (int i = 0; i < 4; i += slowly ? 1 : 4) {
      if (slowly) std::this_thread::sleep_for(std::chrono::milliseconds(20));
      s->SendAll(accept + i, slowly ? 1 : 4);
    }
    VmInitiator in(std::move(s), 3, nullptr);
    VmReply r;
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(in.Command(Cdb({0x00}).data(), &r));
    ExpectSense(r, 0, 0, 0);
    play(in);
  };
}

struct Fault {
  int ops, error;
  uint64_t after;
};

struct Phase {
  const char* name;
  Script peer;
  int connect;                                // Connect's result
  const char* reason = "Connection closed.";  // why serving ended
  std::optional<Fault> fault = std::nullopt;
  std::function<void(std::vector<uint8_t>&)> lands = nullptr;  // the image afterwards
};

constexpr int kNoAnswer = VMConnection::kRefused - 0x10;  // the hello still in the buffer

TEST(FaultInjection, EveryPhaseEndsCleanly) {
  vmtest::TempDir dir;
  const std::string image = dir / "disk.img";
  const auto original = vmtest::RandomBytes(size_t(4) << 20, 31);  // 8,192 blocks
  const auto written = vmtest::RandomBytes(600 * 512, 32);
  std::atomic<bool> stalled{false};
  const Phase phases[] = {
      {"drops before reading the hello", [](auto) {}, kNoAnswer},
      {"drops after the hello", [](auto s) { ReadN(*s, 18); }, kNoAnswer},
      {"drops after one byte of its answer",
       [](auto s) {
         ReadN(*s, 18);
         s->SendAll("\x20", 1);
       },
       VMConnection::kRefused - 0x20},
      {"never reads the hello", [](auto s) { WaitHangUp(*s); }, kNoAnswer},
      {"answers a byte at a time",
       Accepting(
           [&](VmInitiator& in) {
             VmReply r;  // in step with the server: none of the answer is taken for a request
             ASSERT_TRUE(in.Command(Rw10(0x28, 3, 1).data(), &r));
             ExpectSense(r, 0, 0, 0, 512);
             EXPECT_TRUE(std::equal(r.data.begin(), r.data.end(), original.begin() + 1536));
           },
           true),
       0},
      {"drops in the middle of a request",
       Accepting([](VmInitiator& in) { in.SendRaw(Rw10(0x28, 0, 1).data(), 5); }), 0},
      {"drops while a long read is sent",
       Accepting([](VmInitiator& in) { in.SendRaw(Rw10(0x28, 0, 1000).data(), 12); }), 0},
      {"drops in the middle of write data beyond one buffer", Accepting([&](VmInitiator& in) {
         in.SendRaw(Rw10(0x2A, 10, 600).data(), 12);
         in.SendRaw(written.data(), 200 * 1024);
       }),
       0},
      {"stalls without reading its replies", Accepting([&](VmInitiator& in) {
         for (int i = 0; i < 40; ++i) in.SendRaw(Rw10(0x28, 0, 1000).data(), 12);  // 20 MB
         stalled = true;
         WaitHangUp(in.socket());
       }),
       0, "Unmounted."},
      {"a write that lands", Accepting([&](VmInitiator& in) {
         VmReply r;
         ASSERT_TRUE(in.Command(Rw10(0x2A, 10, 600).data(), &r, written.data(), written.size()));
         ExpectSense(r, 0, 0, 0, 0);
       }),
       0, "Connection closed.", std::nullopt,
       [&](auto& image) { std::copy(written.begin(), written.end(), image.begin() + 5120); }},
      {"EIO from the image: the read is a medium error and the next request is served",
       Accepting([](VmInitiator& in) {
         VmReply r;
         ASSERT_TRUE(in.Command(Rw10(0x28, 0, 8).data(), &r));
         ExpectSense(r, 3, 0x10, 0, 0);
         ASSERT_TRUE(in.Command(Cdb({0x00}).data(), &r));
       }),
       0, "Connection closed.", Fault{FileFault::kRead, EIO, 0}},
      {"EIO after the header promised good data: the connection ends",
       Accepting([](VmInitiator& in) {
         VmReply r;
         EXPECT_FALSE(in.Command(Rw10(0x28, 0, 1000).data(), &r));
       }),
       0, "Connection closed.", Fault{FileFault::kRead, EIO, 200 * 1024}},
      {"EIO on a write", Accepting([&](VmInitiator& in) {
         VmReply r;
         ASSERT_TRUE(in.Command(Rw10(0x2A, 10, 8).data(), &r, written.data(), 4096));
         ExpectSense(r, 3, 0x10, 0, 0);
         ASSERT_TRUE(in.Command(Cdb({0x00}).data(), &r));
       }),
       0, "Connection closed.", Fault{FileFault::kWrite, EIO, 0}},
      {"the disk fills up in the middle of a write", Accepting([&](VmInitiator& in) {
         VmReply r;
         ASSERT_TRUE(in.Command(Rw10(0x2A, 10, 64).data(), &r, written.data(), 32768));
         ExpectSense(r, 3, 0x10, 0, 0);
       }),
       0, "Connection closed.", Fault{FileFault::kWrite | FileFault::kReserve, ENOSPC, 4096}},
  };
  for (const Phase& p : phases) {
    SCOPED_TRACE(p.name);
    vmtest::WriteFile(image, original);
    stalled = false;
    const int descriptors = vmtest::DescriptorCount();
    const int threads = vmtest::ThreadCount();
    {
      std::optional<FileFault> fault;
      if (p.fault) fault.emplace(image, p.fault->ops, p.fault->error, p.fault->after);
      FaultPeer peer(p.peer);
      vmtest::SteppingClock clock;
      testing::FakeHost host;
      FixedTargetChooser chooser(image);
      VmConnectionSettings s;
      s.server = "127.0.0.1";
      s.port = peer.port();
      s.host = &host;
      s.chooser = &chooser;
      s.clock = &clock;
      VMConnection c(VmKind::ImageFile, s);
      std::mutex m;
      std::string reason;
      c.SetServeEndedCallback([&](const std::string& r) {
        std::lock_guard lock(m);
        reason = r;
      });
      ASSERT_EQ(c.Connect("x"), p.connect) << c.LastMessage();
      if (p.connect == 0) {
        if (std::string(p.reason) == "Unmounted.") {
          ASSERT_TRUE(testing::WaitUntil([&] { return stalled.load(); }, 20000));
          c.Disconnect();
        }
        EXPECT_TRUE(c.WaitServeEnded(20000));
        std::lock_guard lock(m);
        EXPECT_EQ(reason, p.reason);
      } else {
        EXPECT_EQ(c.LastMessage(), "Unable to connect to drive.");
        EXPECT_FALSE(c.IsServing());
      }
    }
    auto expected = original;
    if (p.lands) p.lands(expected);
    EXPECT_TRUE(vmtest::ReadFile(image) == expected) << "the image is not as it should be";
    EXPECT_TRUE(testing::WaitUntil([&] {
      return vmtest::DescriptorCount() == descriptors && vmtest::ThreadCount() == threads;
    })) << vmtest::DescriptorCount() - descriptors
        << " descriptors, " << vmtest::ThreadCount() - threads << " threads left";
  }
}

}  // namespace
}  // namespace remcons
