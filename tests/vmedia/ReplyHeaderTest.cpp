// The reply header's bytes, worked out by hand from its layout.
#include "vmedia/ReplyHeader.h"

#include <gtest/gtest.h>

#include <cstring>

namespace remcons {
namespace {

TEST(CReplyHeader, Bytes) {
  CReplyHeader h;
  uint8_t out[16];
  h.Fill(out);
  const uint8_t empty[16] = {0xDE, 0xC0, 0xAD, 0x0B, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(0, std::memcmp(out, empty, 16));
  h.Setflags(true);
  h.SetMediumByte(0x24);
  h.SetSense({5, 0x21, 0x01}, 0x12345678);
  h.SetKeepalive(true);
  h.Fill(out);
  const uint8_t full[16] = {0xDE, 0xC0, 0xAD, 0x0B, 0x03, 0,    0,    0,
                            0x24, 0x05, 0x21, 0x01, 0x78, 0x56, 0x34, 0x12};
  EXPECT_EQ(0, std::memcmp(out, full, 16));
  h.SetKeepalive(false);
  h.Setflags(false);
  EXPECT_EQ(h.flags(), 0u);
  // Without a socket nothing is sent.
  EXPECT_FALSE(h.Send(nullptr));
  const uint8_t ping[12] = {0xFE};
  EXPECT_FALSE(h.SendPingReply(nullptr, ping));
}

}  // namespace
}  // namespace remcons
