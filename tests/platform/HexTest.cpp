#include "platform/Hex.h"

#include <gtest/gtest.h>

#include <array>

namespace remcons {
namespace {

// Exactly 32 digits of either case; a refused text leaves the key alone.
TEST(ParseHexKeyStrict, ExactlyThirtyTwoDigitsOfEitherCase) {
  std::array<uint8_t, 16> key{};
  ASSERT_TRUE(ParseHexKeyStrict("F0e1D2c3B4a5968778695A4B3C2D1E0f", key.data()));
  EXPECT_EQ(HexBytes(key.data(), key.size()), "f0e1d2c3b4a5968778695a4b3c2d1e0f");
  EXPECT_EQ(HexBytes(key.data(), 0), "");
  for (const char* bad :
       {"", "0001", "000102030405060708090a0b0c0d0e0", "000102030405060708090a0b0c0d0e0f0",
        "zz0102030405060708090a0b0c0d0e0f", "000102030405060708090a0b0c0d0e0g",
        " 00102030405060708090a0b0c0d0e0f", "0x0102030405060708090a0b0c0d0e0f"}) {
    const std::array<uint8_t, 16> before = key;
    EXPECT_FALSE(ParseHexKeyStrict(bad, key.data())) << bad;
    EXPECT_EQ(key, before) << bad;
  }
}

}  // namespace
}  // namespace remcons
