// A capture file played in a window on the offscreen platform: the pictures come at their
// recorded pace (on a clock the test owns, which the play moves), the last one stays, and a file
// that is no capture is refused with its reason.
#include <gtest/gtest.h>

#include <fstream>

#include "capture/CaptureRig.h"
#include "host/qt/CapturePlayer.h"
#include "host/qt/DesktopUtil.h"

namespace remcons {
namespace {

TEST(CapturePlayer, PlaysTheFileAtItsRecordedPace) {
  testing::ScratchDir dir;
  const testing::Bytes file = testing::CaptureBuilder()
                                  .Add(1000, testing::PictureStream(640, 480, 0x100))
                                  .Add(4000, testing::PictureStream(800, 600, 0x050))
                                  .Build();
  std::ofstream(dir / "session.kro", std::ios::binary)
      .write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
  ManualClock clock;
  CapturePlayer player(clock);
  std::string error;
  ASSERT_TRUE(player.Start(dir / "session.kro", &error)) << error;
  player.show();
  ASSERT_TRUE(testing::WaitUntil([&] { return player.finished(); }));
  EXPECT_EQ(player.ending(), "");
  // The second picture three recorded seconds after the first.
  EXPECT_GE(clock.NowMs(), 3000u);
  ASSERT_EQ(player.picture().width(), 800);
  EXPECT_TRUE(SameColor(player.picture().At(400, 10), Rgb(0x00, 0x50, 0x00)));
  EXPECT_TRUE(player.windowTitle().startsWith("session.kro | 0:0"))
      << player.windowTitle().toStdString();

  CapturePlayer refused(clock);
  std::ofstream(dir / "notes.kro") << "not a capture";
  EXPECT_FALSE(refused.Start(dir / "notes.kro", &error));
  EXPECT_EQ(error.rfind("cannot play " + dir / "notes.kro" + ": ", 0), 0u) << error;
}

}  // namespace
}  // namespace remcons
