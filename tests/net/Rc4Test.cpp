#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "Oracle.h"
#include "net/Net.h"

namespace remcons {
namespace {

using testing::LoadLegacyProvider;
using testing::OsslChainStep;
using testing::OsslMd5;
using testing::OsslRc4;

std::vector<uint8_t> FromHex(const std::string& text) {
  std::vector<uint8_t> bytes;
  int high = -1;
  for (char c : text) {
    int v;
    if (c >= '0' && c <= '9') {
      v = c - '0';
    } else if (c >= 'a' && c <= 'f') {
      v = c - 'a' + 10;
    } else {
      continue;
    }
    if (high < 0) {
      high = v;
    } else {
      bytes.push_back(static_cast<uint8_t>(high * 16 + v));
      high = -1;
    }
  }
  return bytes;
}

// RFC 6229: keystream bytes at some of the published offsets, both sides of 256 and 4,096.
struct Rfc6229Key {
  const char* key;
  // "offset: 16 bytes" rows.
  std::vector<std::pair<size_t, const char*>> rows;
};

const std::vector<Rfc6229Key>& Rfc6229() {
  static const std::vector<Rfc6229Key> keys = {
      {"0102030405",
       {{0x0000, "b2396305f03dc027ccc3524a0a1118a8"},
        {0x0010, "6982944f18fc82d589c403a47a0d0919"},
        {0x00f0, "28cb1132c96ce286421dcaadb8b69eae"},
        {0x0100, "1cfcf62b03eddb641d77dfcf7f8d8c93"},
        {0x0ff0, "068326a2118416d21f9d04b2cd1ca050"},
        {0x1000, "ff25b58995996707e51fbdf08b34d875"}}},
      {"0102030405060708",
       {{0x0000, "97ab8a1bf0afb96132f2f67258da15a8"},
        {0x0010, "8263efdb45c4a18684ef87e6b19e5b09"},
        {0x00f0, "9636ebc9841926f4f7d1f362bddf6e18"},
        {0x0100, "d0a990ff2c05fef5b90373c9ff4b870a"},
        {0x0ff0, "d5fa5a3469d29aaaf83d23589db8c85b"},
        {0x1000, "3fb46e2c8f0f068edce8cdcd7dfc5862"}}},
      {"0102030405060708090a0b0c0d0e0f10",
       {{0x0000, "9ac7cc9a609d1ef7b2932899cde41b97"},
        {0x0010, "5248c4959014126a6e8a84f11d1a9e1c"},
        {0x00f0, "065902e4b620f6cc36c8589f66432f2b"},
        {0x0100, "d39d566bc6bce3010768151549f3873f"},
        {0x0ff0, "ff38265c1642c1abe8d3c2fe5e572bf8"},
        {0x1000, "a36a4c301ae8ac13610ccbc12256cacc"}}},
      {"0102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f20",
       {{0x0000, "eaa6bd25880bf93d3f5d1e4ca2611d91"},
        {0x0010, "cfa45c9f7e714b54bdfa80027cb14380"},
        {0x00f0, "114ae344ded71b35f2e60febad727fd8"},
        {0x0100, "02e1e7056b0f623900496422943e97b6"},
        {0x0ff0, "a13a7c79c7e119b5ab0296ab28c300b9"},
        {0x1000, "f3e4c0a2e02d1d01f7f0a74618af2b48"}}},
  };
  return keys;
}

TEST(Rc4, Rfc6229Vectors) {
  for (const Rfc6229Key& k : Rfc6229()) {
    SCOPED_TRACE(k.key);
    const std::vector<uint8_t> key = FromHex(k.key);
    // The keystream through Apply in uneven pieces and through NextByte must agree.
    Rc4 bulk, single;
    bulk.SetKey(key.data(), key.size());
    single.SetKey(key.data(), key.size());
    std::vector<uint8_t> stream(0x1010, 0);
    size_t at = 0, piece = 1;
    while (at < stream.size()) {
      const size_t n = std::min(piece, stream.size() - at);
      bulk.Apply(stream.data() + at, n);
      at += n;
      piece = piece * 3 % 1021 + 1;
    }
    for (size_t n = 0; n < stream.size(); ++n) {
      ASSERT_EQ(single.NextByte(), stream[n]) << "offset " << n;
    }
    for (const auto& [offset, hex] : k.rows) {
      const std::vector<uint8_t> expected = FromHex(hex);
      ASSERT_EQ(expected.size(), 16u);
      EXPECT_EQ(std::vector<uint8_t>(stream.begin() + offset, stream.begin() + offset + 16),
                expected)
          << "offset " << offset;
    }
  }
}

TEST(Rc4, MatchesOpensslForRandomKeys) {
  if (!LoadLegacyProvider()) GTEST_SKIP() << "OpenSSL legacy provider (RC4) not available";
  std::mt19937 rng(6229);
  for (int round = 0; round < 40; ++round) {
    std::vector<uint8_t> key(1 + rng() % 32);
    for (auto& b : key) b = static_cast<uint8_t>(rng());
    Rc4 ours;
    ours.SetKey(key.data(), key.size());
    OsslRc4 theirs(key.data(), key.size());
    std::vector<uint8_t> a(1 + rng() % 3000);
    for (auto& b : a) b = static_cast<uint8_t>(rng());
    std::vector<uint8_t> b = a;
    ours.Apply(a.data(), a.size());
    theirs.Xor(b.data(), b.size());
    ASSERT_EQ(a, b) << "key length " << key.size();
  }
}

// The keys of an RC4Stream's generations, computed with OpenSSL's MD5.
std::vector<std::array<uint8_t, 16>> ChainKeys(const uint8_t* sessionKey, int generations) {
  std::vector<std::array<uint8_t, 16>> keys;
  std::array<uint8_t, 16> previous{};
  for (int g = 0; g < generations; ++g) {
    previous = OsslChainStep(sessionKey, previous.data());
    keys.push_back(previous);
  }
  return keys;
}

std::vector<uint8_t> StreamBytes(RC4Stream& stream, size_t n) {
  std::vector<uint8_t> bytes(n, 0);
  stream.Apply(bytes.data(), n);
  return bytes;
}

TEST(RC4Stream, KeyChainGenerationsMatchOpenssl) {
  if (!LoadLegacyProvider()) GTEST_SKIP() << "OpenSSL legacy provider (RC4) not available";
  const uint8_t sessionKey[16] = {0x3c, 0x91, 0x00, 0x7f, 0xe2, 0x18, 0x55, 0xa0,
                                  0x01, 0xff, 0x42, 0x9d, 0x6b, 0x30, 0xc7, 0x84};
  const auto keys = ChainKeys(sessionKey, 3);
  RC4Stream stream(sessionKey);
  for (int generation = 0; generation < 3; ++generation) {
    SCOPED_TRACE("generation " + std::to_string(generation));
    if (generation > 0) {
      // Part of the current keystream is used first: a re-key must still start the new key's
      // keystream at its first byte.
      StreamBytes(stream, 77);
      stream.Rekey();
    }
    OsslRc4 oracle(keys[generation].data(), 16);
    EXPECT_EQ(StreamBytes(stream, 4096), oracle.Keystream(4096));
  }
  stream.Restart();
  OsslRc4 first(keys[0].data(), 16);
  EXPECT_EQ(StreamBytes(stream, 1000), first.Keystream(1000));
}

TEST(RC4Stream, ZeroSessionKey) {
  if (!LoadLegacyProvider()) GTEST_SKIP() << "OpenSSL legacy provider (RC4) not available";
  const uint8_t zeros[32] = {};
  const auto key = OsslMd5(zeros, sizeof zeros);
  OsslRc4 oracle(key.data(), 16);
  RC4Stream stream(zeros);
  EXPECT_EQ(stream.NextByte(), oracle.Keystream(1)[0]);
}

}  // namespace
}  // namespace remcons
