#include "platform/Hex.h"

#include <gtest/gtest.h>

#include <array>
#include <string>

namespace remcons {
namespace {

TEST(HexBytes, TwoLowercaseDigitsPerByte) {
  const uint8_t bytes[] = {0x00, 0x0f, 0xa5, 0xff, 0x10};
  EXPECT_EQ(HexBytes(bytes, sizeof bytes), "000fa5ff10");
  EXPECT_EQ(HexBytes(bytes, 0), "");
}

TEST(ParseHexKey, ExactlyThirtyTwoDigitsOfEitherCase) {
  const std::array<uint8_t, 16> sentinel = {0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE,
                                            0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE};
  std::array<uint8_t, 16> key = sentinel;
  ASSERT_TRUE(ParseHexKey("000102030405060708090a0B0c0D0e0F", key.data()));
  for (size_t i = 0; i < 16; ++i) EXPECT_EQ(key[i], i);
  ASSERT_TRUE(ParseHexKey("F0e1D2c3B4a5968778695A4B3C2D1E0f", key.data()));
  EXPECT_EQ(HexBytes(key.data(), key.size()), "f0e1d2c3b4a5968778695a4b3c2d1e0f");
  for (const char* bad :
       {"", "0001", "000102030405060708090a0b0c0d0e0", "000102030405060708090a0b0c0d0e0f0",
        "zz0102030405060708090a0b0c0d0e0f", "000102030405060708090a0b0c0d0e0g",
        " 00102030405060708090a0b0c0d0e0f", "0x0102030405060708090a0b0c0d0e0f"}) {
    key = sentinel;
    EXPECT_FALSE(ParseHexKey(bad, key.data())) << bad;
    EXPECT_EQ(key, sentinel) << "a refused text changes nothing: " << bad;
  }
}

}  // namespace
}  // namespace remcons
