// The replay source on its own: a broken record, and waits cut short by the controls. The
// recorded pauses at every speed are the session's round trip's; which records are broken the
// reader's test.
#include <gtest/gtest.h>

#include <tuple>

#include "capture/CaptureRig.h"
#include "vmedia/VmHarness.h"

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

// A broken record rewinds the file, which waits for play again.
TEST(ReplaySource, ABrokenRecordRewinds) {
  CaptureBuilder file;
  file.Add(1000, {1}).Add({2000, {2}, 0, 0, "ATAD"});
  Replay r(file);
  EXPECT_EQ(r.Read(), kMark);
  EXPECT_EQ(r.Read(), Bytes{1});
  EXPECT_EQ(r.Read(), Bytes{});
  EXPECT_EQ(r.link.rewinds, 1);
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
