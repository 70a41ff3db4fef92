#include <gtest/gtest.h>

#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "Oracle.h"
#include "net/Net.h"
#include "platform/Hex.h"

namespace remcons {
namespace {

using testing::LoadLegacyProvider;
using testing::OsslChainRc4;
using testing::OsslRc4;

// RFC 6229: keystream bytes at some of the published offsets, both sides of 256 and 4,096, for the
// keys 01 02 ... n.
TEST(Rc4, Rfc6229Vectors) {
  const struct {
    size_t keyLength;
    const char* rows[6];  // at 0x0000, 0x0010, 0x00f0, 0x0100, 0x0ff0, 0x1000
  } keys[] = {
      {5,
       {"b2396305f03dc027ccc3524a0a1118a8", "6982944f18fc82d589c403a47a0d0919",
        "28cb1132c96ce286421dcaadb8b69eae", "1cfcf62b03eddb641d77dfcf7f8d8c93",
        "068326a2118416d21f9d04b2cd1ca050", "ff25b58995996707e51fbdf08b34d875"}},
      {8,
       {"97ab8a1bf0afb96132f2f67258da15a8", "8263efdb45c4a18684ef87e6b19e5b09",
        "9636ebc9841926f4f7d1f362bddf6e18", "d0a990ff2c05fef5b90373c9ff4b870a",
        "d5fa5a3469d29aaaf83d23589db8c85b", "3fb46e2c8f0f068edce8cdcd7dfc5862"}},
      {16,
       {"9ac7cc9a609d1ef7b2932899cde41b97", "5248c4959014126a6e8a84f11d1a9e1c",
        "065902e4b620f6cc36c8589f66432f2b", "d39d566bc6bce3010768151549f3873f",
        "ff38265c1642c1abe8d3c2fe5e572bf8", "a36a4c301ae8ac13610ccbc12256cacc"}},
      {32,
       {"eaa6bd25880bf93d3f5d1e4ca2611d91", "cfa45c9f7e714b54bdfa80027cb14380",
        "114ae344ded71b35f2e60febad727fd8", "02e1e7056b0f623900496422943e97b6",
        "a13a7c79c7e119b5ab0296ab28c300b9", "f3e4c0a2e02d1d01f7f0a74618af2b48"}},
  };
  const size_t offsets[6] = {0x0000, 0x0010, 0x00f0, 0x0100, 0x0ff0, 0x1000};
  for (const auto& k : keys) {
    SCOPED_TRACE(k.keyLength);
    std::vector<uint8_t> key(k.keyLength);
    std::iota(key.begin(), key.end(), uint8_t{1});
    // The keystream through Apply in uneven pieces and through NextByte must agree.
    Rc4 bulk, single;
    bulk.SetKey(key.data(), key.size());
    single.SetKey(key.data(), key.size());
    std::vector<uint8_t> stream(0x1010, 0);
    for (size_t at = 0, piece = 1, n; at < stream.size(); at += n, piece = piece * 3 % 1021 + 1) {
      n = std::min(piece, stream.size() - at);
      bulk.Apply(stream.data() + at, n);
    }
    for (size_t n = 0; n < stream.size(); ++n) ASSERT_EQ(single.NextByte(), stream[n]) << n;
    for (int r = 0; r < 6; ++r) EXPECT_EQ(HexBytes(&stream[offsets[r]], 16), k.rows[r]) << r;
  }
}

TEST(Rc4, MatchesOpensslForRandomKeys) {
  if (!LoadLegacyProvider()) GTEST_SKIP() << "OpenSSL legacy provider (RC4) not available";
  std::mt19937 rng(6229);
  for (int round = 0; round < 40; ++round) {
    std::vector<uint8_t> key(1 + rng() % 32), a(1 + rng() % 3000);
    for (auto& b : key) b = static_cast<uint8_t>(rng());
    for (auto& b : a) b = static_cast<uint8_t>(rng());
    Rc4 ours;
    ours.SetKey(key.data(), key.size());
    OsslRc4 theirs(key.data(), key.size());
    std::vector<uint8_t> b = a;
    ours.Apply(a.data(), a.size());
    theirs.Xor(b.data(), b.size());
    ASSERT_EQ(a, b) << "key length " << key.size();
  }
}

std::vector<uint8_t> StreamBytes(RC4Stream& stream, size_t n) {
  std::vector<uint8_t> bytes(n, 0);
  stream.Apply(bytes.data(), n);
  return bytes;
}

// The generations of the key chain, for a session key and for all zeros, against OpenSSL's MD5
// and RC4.
TEST(RC4Stream, KeyChainGenerationsMatchOpenssl) {
  if (!LoadLegacyProvider()) GTEST_SKIP() << "OpenSSL legacy provider (RC4) not available";
  const uint8_t sessionKey[16] = {0x3c, 0x91, 0x00, 0x7f, 0xe2, 0x18, 0x55, 0xa0,
                                  0x01, 0xff, 0x42, 0x9d, 0x6b, 0x30, 0xc7, 0x84};
  RC4Stream stream(sessionKey);
  for (int generation = 0; generation < 3; ++generation) {
    SCOPED_TRACE("generation " + std::to_string(generation));
    if (generation > 0) {
      // Part of the current keystream is used first: a re-key must still start the new key's
      // keystream at its first byte.
      StreamBytes(stream, 77);
      stream.Rekey();
    }
    EXPECT_EQ(StreamBytes(stream, 4096), OsslChainRc4(sessionKey, generation).Keystream(4096));
  }
  stream.Restart();
  EXPECT_EQ(StreamBytes(stream, 1000), OsslChainRc4(sessionKey, 0).Keystream(1000));
  const uint8_t zeros[16] = {};
  RC4Stream zero(zeros);
  EXPECT_EQ(zero.NextByte(), OsslChainRc4(zeros, 0).Keystream(1)[0]);
}

}  // namespace
}  // namespace remcons
