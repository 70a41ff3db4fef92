// The decoder's fuzz target over random bytes: a bounded run in every test pass, under the
// sanitizers in CI. Damaged encoder streams are run by the simulator's round trips.
#include <gtest/gtest.h>

#include <random>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace remcons {
namespace {

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

}  // namespace
}  // namespace remcons
