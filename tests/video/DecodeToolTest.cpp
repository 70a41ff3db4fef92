// The decode command of remcons-tool run as scripts run it, its picture read back with libpng.
#include <gtest/gtest.h>
#include <png.h>

#include <unistd.h>
#include <cstdio>
#include <fstream>
#include <string>
#include <tuple>
#include <vector>

#include "support/Child.h"
#include "video/VideoFakes.h"

namespace remcons {
namespace {

#ifndef REMCONS_TOOL
#define REMCONS_TOOL ""
#endif

std::string TempPath(const std::string& name) {
  return ::testing::TempDir() + "remcons-video-" + std::to_string(getpid()) + "-" + name;
}

// Runs remcons-tool: its exit status, and what it printed on stdout in *printed.
int RunTool(std::vector<std::string> args, std::string* printed) {
  args.insert(args.begin(), REMCONS_TOOL);
  const std::string out = TempPath("out.txt");
  const int status = testing::WaitProgram(testing::StartProgram(args, {}, out, ""), 10000);
  *printed = testing::ReadText(out);
  std::remove(out.c_str());
  return status;
}

TEST(DecodeTool, DrawsTheStreamListsItsCommandsAndRefusesBadArguments) {
  if (std::string(REMCONS_TOOL).empty()) GTEST_SKIP() << "remcons-tool is not built";
  using testing::Bits;
  using testing::Field;
  // The mode 8D 49 1A (800 x 600), then by hand: a block of 0F0, the block again twice,
  // a text record on channel 2, a frame rate of 25, and exit.
  std::vector<uint8_t> stream = {0x8D, 0x49, 0x1A};
  std::string s = "0 0 0 1 0000 1111 0000 1 1 111 11111111 ";
  s += "1 0 1 0 1 0 000 ";
  s += "1 0 1 1 1 00000010 0 00000010 " + Field('O', 8) + " " + Field('K', 8) + " 00000000 ";
  s += "1 0 1 1 1 " + Field(25, 8) + " 1 00000011 0 ";
  s += "1 0 1 1 1 00000001 0";
  const auto bits = Bits(s, true);
  stream.insert(stream.end(), bits.begin(), bits.end());
  const std::string in = TempPath("stream.bin"), out = TempPath("frame.png");
  std::ofstream(in, std::ios::binary)
      .write(reinterpret_cast<const char*>(stream.data()),
             static_cast<std::streamsize>(stream.size()));
  std::string printed;
  ASSERT_EQ(RunTool({"decode", in, out, "--size", "640x480"}, &printed), 0);
  std::remove(in.c_str());
  EXPECT_EQ(printed, "mode 800x600\ntext 2 OK\nfirmware 3 frame-rate 25\nfirmware 1 exit\n");
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  ASSERT_TRUE(png_image_begin_read_from_file(&image, out.c_str()));
  image.format = PNG_FORMAT_RGB;
  std::vector<uint8_t> rgb(PNG_IMAGE_SIZE(image));
  ASSERT_TRUE(png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr));
  std::remove(out.c_str());
  ASSERT_EQ(std::pair(image.width, image.height), std::pair(640u, 480u));
  auto at = [&](int x, int y) {
    const size_t i = static_cast<size_t>(y * 640 + x) * 3;
    return std::tuple(rgb[i], rgb[i + 1], rgb[i + 2]);
  };
  const std::tuple<uint8_t, uint8_t, uint8_t> green(0, 240, 0), black(0, 0, 0);
  EXPECT_EQ(std::tuple(at(0, 0), at(47, 15), at(48, 0), at(0, 16)),
            std::tuple(green, green, black, black));
  // Usage errors end with 2, a stream that cannot be read with 1; nothing on stdout.
  EXPECT_EQ(RunTool({"decode"}, &printed), 2);
  EXPECT_EQ(RunTool({"decode", "a", "b", "--size", "12"}, &printed), 2);
  EXPECT_EQ(RunTool({"decode", "/nonexistent/s.bin", out}, &printed), 1);
  EXPECT_EQ(printed, "");
}

}  // namespace
}  // namespace remcons
