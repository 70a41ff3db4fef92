#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "net/net.h"
#include "oracle.h"

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

// RFC 6229: keystream bytes at the published offsets.
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
        {0x01f0, "42b7d0cdd918a8a33dd51781c81f4041"},
        {0x0200, "6459844432a7da923cfb3eb4980661f6"},
        {0x02f0, "ec10327bde2beefd18f9277680457e22"},
        {0x0300, "eb62638d4f0ba1fe9fca20e05bf8ff2b"},
        {0x03f0, "45129048e6a0ed0b56b490338f078da5"},
        {0x0400, "30abbcc7c20b01609f23ee2d5f6bb7df"},
        {0x05f0, "3294f744d8f9790507e70f62e5bbceea"},
        {0x0600, "d8729db41882259bee4f825325f5a130"},
        {0x07f0, "1eb14a0c13b3bf47fa2a0ba93ad45b8b"},
        {0x0800, "cc582f8ba9f265e2b1be9112e975d2d7"},
        {0x0bf0, "f2e30f9bd102ecbf75aaade9bc35c43c"},
        {0x0c00, "ec0e11c479dc329dc8da7968fe965681"},
        {0x0ff0, "068326a2118416d21f9d04b2cd1ca050"},
        {0x1000, "ff25b58995996707e51fbdf08b34d875"}}},
      {"0102030405060708",
       {{0x0000, "97ab8a1bf0afb96132f2f67258da15a8"},
        {0x0010, "8263efdb45c4a18684ef87e6b19e5b09"},
        {0x00f0, "9636ebc9841926f4f7d1f362bddf6e18"},
        {0x0100, "d0a990ff2c05fef5b90373c9ff4b870a"},
        {0x01f0, "73239f1db7f41d80b643c0c52518ec63"},
        {0x0200, "163b319923a6bdb4527c626126703c0f"},
        {0x02f0, "49d6c8af0f97144a87df21d91472f966"},
        {0x0300, "44173a103b6616c5d5ad1cee40c863d0"},
        {0x03f0, "273c9c4b27f322e4e716ef53a47de7a4"},
        {0x0400, "c6d0e7b226259fa9023490b26167ad1d"},
        {0x05f0, "1fe8986713f07c3d9ae1c163ff8cf9d3"},
        {0x0600, "8369e1a965610be887fbd0c79162aafb"},
        {0x07f0, "0a0127abb44484b9fbef5abcae1b579f"},
        {0x0800, "c2cdadc6402e8ee866e1f37bdb47e42c"},
        {0x0bf0, "26b51ea37df8e1d6f76fc3b66a7429b3"},
        {0x0c00, "bc7683205d4f443dc1f29dda3315c87b"},
        {0x0ff0, "d5fa5a3469d29aaaf83d23589db8c85b"},
        {0x1000, "3fb46e2c8f0f068edce8cdcd7dfc5862"}}},
      {"0102030405060708090a0b0c0d0e0f10",
       {{0x0000, "9ac7cc9a609d1ef7b2932899cde41b97"},
        {0x0010, "5248c4959014126a6e8a84f11d1a9e1c"},
        {0x00f0, "065902e4b620f6cc36c8589f66432f2b"},
        {0x0100, "d39d566bc6bce3010768151549f3873f"},
        {0x01f0, "b6d1e6c4a5e4771cad79538df295fb11"},
        {0x0200, "c68c1d5c559a974123df1dbc52a43b89"},
        {0x02f0, "c5ecf88de897fd57fed301701b82a259"},
        {0x0300, "eccbe13de1fcc91c11a0b26c0bc8fa4d"},
        {0x03f0, "e7a72574f8782ae26aabcf9ebcd66065"},
        {0x0400, "bdf0324e6083dcc6d3cedd3ca8c53c16"},
        {0x05f0, "b40110c4190b5622a96116b0017ed297"},
        {0x0600, "ffa0b514647ec04f6306b892ae661181"},
        {0x07f0, "d03d1bc03cd33d70dff9fa5d71963ebd"},
        {0x0800, "8a44126411eaa78bd51e8d87a8879bf5"},
        {0x0bf0, "fabeb76028ade2d0e48722e46c4615a3"},
        {0x0c00, "c05d88abd50357f935a63c59ee537623"},
        {0x0ff0, "ff38265c1642c1abe8d3c2fe5e572bf8"},
        {0x1000, "a36a4c301ae8ac13610ccbc12256cacc"}}},
      {"0102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f20",
       {{0x0000, "eaa6bd25880bf93d3f5d1e4ca2611d91"},
        {0x0010, "cfa45c9f7e714b54bdfa80027cb14380"},
        {0x00f0, "114ae344ded71b35f2e60febad727fd8"},
        {0x0100, "02e1e7056b0f623900496422943e97b6"},
        {0x01f0, "91cb93c787964e10d9527d999c6f936b"},
        {0x0200, "49b18b42f8e8367cbeb5ef104ba1c7cd"},
        {0x02f0, "87084b3ba700bade955610672745b374"},
        {0x0300, "e7a7b9e9ec540d5ff43bdb12792d1b35"},
        {0x03f0, "c799b596738f6b018c76c74b1759bd90"},
        {0x0400, "7fec5bfd9f9b89ce6548309092d7e958"},
        {0x05f0, "40f250b26d1f096a4afd4c340a588815"},
        {0x0600, "3e34135c79db010200767651cf263073"},
        {0x07f0, "f656abccf88dd827027b2ce917d464ec"},
        {0x0800, "18b62503bfbc077fbabb98f20d98ab34"},
        {0x0bf0, "8aed95ee5b0dcbfbef4eb21d3a3f52f9"},
        {0x0c00, "625a1ab00ee39a5327346bddb01a9c18"},
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

TEST(RC4Stream, RestartRepeatsTheKeystreamAndEqualKeysAgree) {
  const uint8_t key[16] = {9, 8, 7, 6, 5, 4, 3, 2, 1, 0, 1, 2, 3, 4, 5, 6};
  RC4Stream a(key), b(key);
  const std::vector<uint8_t> fromA = StreamBytes(a, 500);
  std::vector<uint8_t> fromB(500);
  for (auto& byte : fromB) byte = b.NextByte();
  EXPECT_EQ(fromA, fromB);
  a.Rekey();
  a.Rekey();
  StreamBytes(a, 33);
  a.Restart();
  EXPECT_EQ(StreamBytes(a, 500), fromA);
  a.Rekey();
  EXPECT_NE(StreamBytes(a, 500), fromA);
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
