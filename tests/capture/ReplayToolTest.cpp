// remcons-tool replay and info run as a user runs them, their output checked from the outside:
// the pictures at their times (the last one the picture asked for), the videos measured by
// ffprobe. What a picture shows is the
// session's round trip's, the PNG writer's bytes the snapshot test's (libpng the oracle).
#include <gtest/gtest.h>

#include <filesystem>

#include "capture/CaptureRig.h"
#include "sim/BufferService.h"
#include "vmedia/VmHarness.h"

namespace remcons {
namespace {

using vmtest::Quote;

const std::string kTool = REMCONS_TOOL_PATH;

// Frames and seconds of a video as ffprobe counts them.
std::string Probe(const std::string& video) {
  std::string out;
  vmtest::Run(
      "ffprobe -v error -count_frames -select_streams v:0 -show_entries "
      "stream=nb_read_frames:format=duration -of default=nw=1 " +
          Quote(video),
      &out);
  return out;
}

TEST(ReplayTool, ExportsThePicturesAndVideosOfABuffer) {
  if (!vmtest::HaveTool("ffmpeg") || !vmtest::HaveTool("ffprobe")) GTEST_SKIP() << "no ffmpeg";
  vmtest::TempDir dir;
  sim::BufferServiceOptions options;
  options.key = {9, 8, 7, 6, 5};
  vmtest::WriteFile(dir / "fault.kro", sim::RecordFaultBuffer(options));
  std::string out;
  ASSERT_EQ(vmtest::Run(Quote(kTool) + " replay " + Quote(dir / "fault.kro") + " " +
                            Quote(dir / "last.png") + " --frames " + Quote(dir / "frames") +
                            " --video " + Quote(dir / "f.mp4"),
                        &out),
            0)
      << out;
  // The boot, two commands 1.5 s apart, and the crash after 20 s of quiet, replayed as 5 s.
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir / "frames")) {
    names.push_back(entry.path().filename());
  }
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"000000.000.png", "000001.500.png", "000003.000.png",
                                             "000008.000.png"}));
  EXPECT_TRUE(vmtest::ReadFile(dir / "last.png") ==
              vmtest::ReadFile(dir / "frames/000008.000.png"));
  // 1.5 + 1.5 + 5 s and one frame of the crash, 10 frames a second.
  EXPECT_EQ(Probe(dir / "f.mp4"), "nb_read_frames=81\nduration=8.100000\n");
  ASSERT_EQ(vmtest::Run(Quote(kTool) + " replay " + Quote(dir / "fault.kro") + " " +
                        Quote(dir / "l.png") + " --speed 2 --video " + Quote(dir / "f.webm")),
            0);
  EXPECT_EQ(Probe(dir / "f.webm"), "nb_read_frames=41\nduration=4.100000\n");
}

TEST(InfoTool, SaysWhatAFileHoldsAndWhereItBreaks) {
  vmtest::TempDir dir;
  testing::CaptureBuilder file;
  file.header.description = "web01";
  file.Add(1000, testing::PictureStream(64, 48, 0x135)).Add(31000, {0});
  vmtest::WriteFile(dir / "clean.kro", file.Build());
  testing::Bytes broken = file.Build();
  broken[broken.size() - 33] = 'X';  // the second record's marker
  vmtest::WriteFile(dir / "broken.kro", broken);
  std::string out;
  EXPECT_EQ(vmtest::Run(Quote(kTool) + " info " + Quote(dir / "clean.kro"), &out), 0);
  for (const char* line :
       {"description: \"web01\"\n", "records: 2 ", "modes: 64x48\n", "end: clean\n",
        "duration: 30.000 s by the time stamps, 5.000 s as replayed"}) {
    EXPECT_NE(out.find(line), std::string::npos) << line << " in\n" << out;
  }
  EXPECT_EQ(vmtest::Run(Quote(kTool) + " info " + Quote(dir / "broken.kro"), &out), 1);
  const std::string end =
      "end: broken record at offset " + std::to_string(broken.size() - 33) + ": no DATA marker";
  EXPECT_NE(out.find(end), std::string::npos) << out;
}

}  // namespace
}  // namespace remcons
