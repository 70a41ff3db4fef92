// The replay source on its own: the chunks it hands out, the recorded pauses on a driven clock at
// every speed, rewinds at the end and at broken records, and waits cut short by the controls.
#include <gtest/gtest.h>

#include <tuple>

#include "capture/CaptureRig.h"
#include "support/Wait.h"
#include "vmedia/VmTestUtil.h"

namespace remcons {
namespace {

using testing::Bytes;
using testing::CaptureBuilder;
using testing::FakeReplayLink;
using testing::HookedClock;

struct Replay {
  vmtest::TempDir dir;
  FakeReplayLink link;
  HookedClock clock;
  std::atomic<bool> stop{false};
  ReplaySource source{link, clock, stop};
  uint8_t buffer[4096] = {};

  explicit Replay(const CaptureBuilder& file) {
    vmtest::WriteFile(dir / "c.kro", file.Build());
    if (source.Open(dir / "c.kro") != ReplaySource::kOk) throw std::runtime_error("open");
  }
  Bytes Read() {
    const int n = source.Read(buffer, sizeof buffer);
    return Bytes(buffer, buffer + std::max(n, 0));
  }
};

const Bytes kMark = {0, 0, 0, 0, 0xFF};

TEST(ReplaySource, PacesTheRecordsAsRecordedAtEverySpeed) {
  CaptureBuilder file;
  file.Add(1000, {1}).Add({1000, {}}).Add(1800, {2, 2}).Add({21800, {3}, 1});
  for (int speed = 0; speed < 4; ++speed) {
    Replay r(file);
    r.link.speed = speed;
    r.link.drained = 7;
    EXPECT_EQ(r.Read(), kMark);
    EXPECT_EQ(r.Read(), Bytes{1});
    const uint32_t start = r.clock.NowMs();
    // The empty record is passed over.
    EXPECT_EQ(r.Read(), (Bytes{2, 2}));
    EXPECT_EQ(r.clock.NowMs() - start, 800u >> speed);
    // 20 s of quiet is replayed as 5 s; a key-update record as 30 zero bytes.
    EXPECT_EQ(r.Read(), Bytes(30, 0));
    EXPECT_EQ(r.clock.NowMs() - start, (800u >> speed) + (5000u >> speed));
    EXPECT_EQ(r.link.elapsed, (std::vector<double>{0, 0.8, 5.8}));
    // The end rewinds and stops playing.
    EXPECT_EQ(r.Read(), Bytes{});
    EXPECT_EQ(std::tuple(r.link.rewinds.load(), r.link.playing.load(), r.source.elapsedMs()),
              std::tuple(1, false, 0.0));
  }
}

TEST(ReplaySource, ABrokenOrCutRecordRewindsAndThePassStartsAgainWithAMark) {
  CaptureBuilder badMarker;
  badMarker.Add(1000, {1}).Add({2000, {2}, 0, 0, "ATAD"});
  CaptureBuilder cut;
  cut.Add(1000, {1}).Add({2000, {2}, 0, 0, "DATA", 900});
  for (const CaptureBuilder* file : {&badMarker, &cut}) {
    Replay r(*file);
    r.link.keepFlag = true;
    EXPECT_EQ(r.Read(), kMark);
    EXPECT_EQ(r.Read(), Bytes{1});
    // The bad record rewinds the file, which waits for play again.
    std::thread press([&] {
      testing::WaitUntil([&] { return r.link.rewinds > 0; });
      r.link.playing = true;
    });
    EXPECT_EQ(r.Read(), kMark);
    press.join();
    EXPECT_EQ(r.link.rewinds, 1);
    EXPECT_EQ(r.Read(), Bytes{1});
  }
}

TEST(ReplaySource, StopLeaveAndTheStopControlEndAPauseAtOnce) {
  CaptureBuilder file;
  file.Add(1000, {1}).Add(61000, {2}).Add(62000, {3});
  enum Action { kStop, kLeave, kStopControl };
  for (Action action : {kStop, kLeave, kStopControl}) {
    Replay r(file);
    EXPECT_EQ(r.Read(), kMark);
    EXPECT_EQ(r.Read(), Bytes{1});
    int sleeps = 0;
    r.clock.onSleep = [&] {
      if (++sleeps > 1) return;
      if (action == kStop) r.stop = true;
      if (action == kLeave) r.link.flag = false;
      if (action == kStopControl) {
        r.link.rewind = true;
        r.link.playing = false;
      }
    };
    // The record waited for is not shown; the stop control rewinds.
    EXPECT_EQ(r.Read(), Bytes{});
    EXPECT_EQ(std::tuple(sleeps, r.link.elapsed.size(), r.link.rewinds.load()),
              std::tuple(1, size_t{1}, action == kStopControl ? 1 : 0));
  }
}

}  // namespace
}  // namespace remcons
