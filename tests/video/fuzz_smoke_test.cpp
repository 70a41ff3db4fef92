// The decoder's fuzz target over random bytes and over real streams with damage: a bounded run
// in every test pass, under the sanitizers in CI.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "video/video_fakes.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace remcons {
namespace {

using testing::Bits;
using testing::Field;

void Feed(const std::vector<uint8_t>& bytes) {
  ASSERT_EQ(LLVMFuzzerTestOneInput(bytes.data(), bytes.size()), 0);
}

TEST(DecoderFuzz, RandomBytes) {
  std::mt19937 rng(20240601);
  for (int round = 0; round < 300; ++round) {
    std::vector<uint8_t> bytes(1 + rng() % 3000);
    // Mostly ones, mostly zeros, or even: each reaches other parts of the machine.
    const unsigned bias = round % 3;
    for (auto& b : bytes) {
      b = static_cast<uint8_t>(rng());
      if (bias == 1) b |= static_cast<uint8_t>(rng());
      if (bias == 2) b &= static_cast<uint8_t>(rng());
    }
    Feed(bytes);
  }
}

TEST(DecoderFuzz, DamagedStreams) {
  // A stream with every kind of code: modes, pixels of all forms, repeats, moves, commands, long
  // text records and firmware commands, and a mark.
  std::string s = "1 0 1 1 0 0 0101000 0011110 0000 ";  // 40 x 30 blocks
  for (int block = 0; block < 20; ++block) {
    s += "0 0 0 1 " + Field(static_cast<uint32_t>(block * 77 % 4096), 12) + " 1 1 110 111 ";
    s += "0 0 0 0 " + Field(static_cast<uint32_t>(block % 16), 4) + " 1 0 ";
    s += "1 1 1 111 " + Field(200, 8) + " ";
    for (int i = 0; i < 37; ++i) s += "0 1 " + std::string(i % 2 ? "1" : "0") + " 0 ";
  }
  s += "1 0 1 0 1 1 1111111 1 1 1111111 1111111 1 0 0 0 111 1 0 0 1 1010101 ";
  s += "1 0 1 1 1 ";
  for (int i = 0; i < 300; ++i) s += Field(static_cast<uint32_t>(i % 255 + 1), 8) + " 1 ";
  s += "00000011 0 1 0 1 1 1 00000010 0 00000010 ";
  for (int i = 0; i < 300; ++i) s += Field('a' + i % 26, 8) + " ";
  s += "00000000 1 0 1 1 0 1 ";
  std::vector<uint8_t> stream = Bits(s, true);
  for (int i = 0; i < 4; ++i) stream.push_back(0);
  stream.push_back(0x01);
  const std::vector<uint8_t> tail = Bits("1 1 0000000 0000000 0 0 0 1 111100001111 0", true);
  stream.insert(stream.end(), tail.begin(), tail.end());

  std::mt19937 rng(77);
  for (int round = 0; round < 400; ++round) {
    std::vector<uint8_t> bytes = {static_cast<uint8_t>(rng())};
    bytes.insert(bytes.end(), stream.begin(), stream.end());
    const int damage = static_cast<int>(rng() % 6);
    for (int d = 0; d < damage; ++d) {
      const size_t at = 1 + rng() % (bytes.size() - 1);
      switch (rng() % 3) {
        case 0:
          bytes[at] ^= static_cast<uint8_t>(1u << (rng() % 8));
          break;
        case 1:
          bytes.erase(bytes.begin() + static_cast<std::ptrdiff_t>(at));
          break;
        default:
          bytes.insert(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                       static_cast<uint8_t>(rng()));
          break;
      }
    }
    Feed(bytes);
  }
}

}  // namespace
}  // namespace remcons
