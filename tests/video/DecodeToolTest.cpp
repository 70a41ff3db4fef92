// The decode command of remcons-tool run as scripts run it, its picture read back with libpng.
#include <gtest/gtest.h>
#include <png.h>

#include <sys/wait.h>
#include <unistd.h>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>

#include "video/VideoFakes.h"

namespace remcons {
namespace {

struct Image {
  int width = 0, height = 0;
  std::vector<uint8_t> rgb;
};

// Reads a PNG with libpng, as 8-bit RGB.
bool ReadPng(const std::string& path, Image* out) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path.c_str())) return false;
  image.format = PNG_FORMAT_RGB;
  out->width = static_cast<int>(image.width);
  out->height = static_cast<int>(image.height);
  out->rgb.resize(PNG_IMAGE_SIZE(image));
  const bool ok = png_image_finish_read(&image, nullptr, out->rgb.data(), 0, nullptr) != 0;
  png_image_free(&image);
  return ok;
}

std::string TempPath(const std::string& name) {
  const char* dir = std::getenv("TMPDIR");
  return std::string(dir && *dir ? dir : "/tmp") + "/remcons-video-" + std::to_string(getpid()) +
         "-" + name;
}

// Runs a command; returns its exit status and what it printed on stdout.
int RunTool(const std::string& command, std::string* output) {
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), &pclose);
  if (!pipe) return -1;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe.get())) > 0) output->append(buffer, n);
  const int status = pclose(pipe.release());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

#ifndef REMCONS_TOOL
#define REMCONS_TOOL ""
#endif

TEST(DecodeTool, DrawsTheStreamAndListsItsCommands) {
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
  {
    std::ofstream file(in, std::ios::binary);
    file.write(reinterpret_cast<const char*>(stream.data()),
               static_cast<std::streamsize>(stream.size()));
  }
  std::string printed;
  const int status = RunTool(
      std::string(REMCONS_TOOL) + " decode " + in + " " + out + " --size 640x480", &printed);
  std::remove(in.c_str());
  ASSERT_EQ(status, 0);
  EXPECT_EQ(printed, "mode 800x600\ntext 2 OK\nfirmware 3 frame-rate 25\nfirmware 1 exit\n");
  Image image;
  ASSERT_TRUE(ReadPng(out, &image));
  std::remove(out.c_str());
  ASSERT_EQ(image.width, 640);
  ASSERT_EQ(image.height, 480);
  auto at = [&](int x, int y) {
    const uint8_t* p = &image.rgb[static_cast<size_t>((y * 640 + x) * 3)];
    return std::vector<int>{p[0], p[1], p[2]};
  };
  EXPECT_EQ(at(0, 0), (std::vector<int>{0, 240, 0}));
  EXPECT_EQ(at(47, 15), (std::vector<int>{0, 240, 0}));
  EXPECT_EQ(at(48, 0), (std::vector<int>{0, 0, 0}));
  EXPECT_EQ(at(0, 16), (std::vector<int>{0, 0, 0}));
}

TEST(DecodeTool, RefusesBadArguments) {
  if (std::string(REMCONS_TOOL).empty()) GTEST_SKIP() << "remcons-tool is not built";
  std::string printed;
  EXPECT_EQ(RunTool(std::string(REMCONS_TOOL) + " decode 2>/dev/null", &printed), 2);
  EXPECT_EQ(RunTool(std::string(REMCONS_TOOL) + " decode a b --size 12 2>/dev/null", &printed), 2);
  EXPECT_EQ(RunTool(std::string(REMCONS_TOOL) + " decode /nonexistent/s.bin /tmp/x.png 2>/dev/null",
                    &printed),
            1);
  EXPECT_TRUE(printed.empty());
}

}  // namespace
}  // namespace remcons
