#include "net/Md5.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "Oracle.h"
#include "platform/Hex.h"

namespace remcons {
namespace {

std::string Hex(const Md5::Digest& d) {
  return HexBytes(d.data(), d.size());
}

// The test suite of RFC 1321, appendix A.5, whole and one byte at a time; Final starts anew.
TEST(Md5, Rfc1321Suite) {
  const std::pair<const char*, const char*> cases[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
       "d174ab98d277d9f5a5611c2c9f419d9f"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "57edf4a22be3c955ac49da2e2107b67a"},
  };
  Md5 md5;
  md5.Update("a");
  md5.Reset();
  for (const auto& [message, digest] : cases) {
    SCOPED_TRACE(message);
    EXPECT_EQ(Hex(Md5::Hash(std::string_view(message))), digest);
    for (const char* p = message; *p; ++p) md5.Update(p, 1);
    EXPECT_EQ(Hex(md5.Final()), digest);
  }
}

// Every length around the padding boundaries (55, 56, 63, 64 ...) and a few large ones, fed in
// random pieces, against OpenSSL.
TEST(Md5, MatchesOpensslForAllLengthsAndSplits) {
  std::mt19937 rng(1321);
  std::vector<size_t> lengths;
  for (size_t n = 0; n <= 200; ++n) lengths.push_back(n);
  for (size_t n : {1000u, 4095u, 4096u, 4097u, 65536u, 100003u}) lengths.push_back(n);
  for (size_t length : lengths) {
    std::vector<uint8_t> data(length);
    for (auto& b : data) b = static_cast<uint8_t>(rng());
    const Md5::Digest expected = testing::OsslMd5(data.data(), data.size());
    ASSERT_EQ(Md5::Hash(data.data(), data.size()), expected) << "length " << length;
    Md5 md5;
    for (size_t at = 0, piece; at < length; at += piece) {
      piece = std::min<size_t>(length - at, rng() % 150);
      md5.Update(data.data() + at, piece);
    }
    ASSERT_EQ(md5.Final(), expected) << "length " << length << " in pieces";
  }
}

}  // namespace
}  // namespace remcons
