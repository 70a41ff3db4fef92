// MD5 and RC4 against RFC 1321 and RFC 6229 and against OpenSSL; the key chain against OpenSSL is
// the connection's test.
#include <gtest/gtest.h>

#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "Oracle.h"
#include "net/Md5.h"
#include "net/Net.h"
#include "platform/Hex.h"

namespace remcons {
namespace {

using testing::LoadLegacyProvider;

// The suite of RFC 1321, appendix A.5, whole and one byte at a time (Final starts anew), then
// every length around the padding boundaries and a few large ones, fed in random pieces, against
// OpenSSL.
TEST(Md5, Rfc1321SuiteAndOpensslForAllLengthsAndSplits) {
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
    const Md5::Digest whole = Md5::Hash(std::string_view(message));
    EXPECT_EQ(HexBytes(whole.data(), 16), digest) << message;
    for (const char* p = message; *p; ++p) md5.Update(p, 1);
    EXPECT_EQ(md5.Final(), whole) << message;
  }
  std::mt19937 rng(1321);
  std::vector<size_t> lengths(201);
  std::iota(lengths.begin(), lengths.end(), 0);
  lengths.insert(lengths.end(), {1000, 4095, 4096, 4097, 65536, 100003});
  for (size_t length : lengths) {
    std::vector<uint8_t> data(length);
    for (auto& b : data) b = static_cast<uint8_t>(rng());
    const Md5::Digest expected = testing::OsslMd5(data.data(), data.size());
    ASSERT_EQ(Md5::Hash(data.data(), data.size()), expected) << "length " << length;
    for (size_t at = 0, piece; at < length; at += piece) {
      piece = std::min<size_t>(length - at, rng() % 150);
      md5.Update(data.data() + at, piece);
    }
    ASSERT_EQ(md5.Final(), expected) << "length " << length << " in pieces";
  }
}

// RFC 6229: keystream bytes at offsets 0, 0xf0 and 0x1000 for the keys 01 02 ... n, through Apply
// in uneven pieces and through NextByte; then random keys and lengths against OpenSSL.
TEST(Rc4, Rfc6229VectorsAndOpenssl) {
  const std::pair<size_t, std::vector<std::string>> keys[] = {
      {5,
       {"b2396305f03dc027ccc3524a0a1118a8", "28cb1132c96ce286421dcaadb8b69eae",
        "ff25b58995996707e51fbdf08b34d875"}},
      {16,
       {"9ac7cc9a609d1ef7b2932899cde41b97", "065902e4b620f6cc36c8589f66432f2b",
        "a36a4c301ae8ac13610ccbc12256cacc"}},
  };
  for (const auto& [keyLength, rows] : keys) {
    std::vector<uint8_t> key(keyLength), stream(0x1010, 0);
    std::iota(key.begin(), key.end(), uint8_t{1});
    Rc4 bulk, single;
    bulk.SetKey(key.data(), key.size());
    single.SetKey(key.data(), key.size());
    for (size_t at = 0, piece = 1, n; at < stream.size(); at += n, piece = piece * 3 % 1021 + 1) {
      n = std::min(piece, stream.size() - at);
      bulk.Apply(stream.data() + at, n);
    }
    for (size_t n = 0; n < stream.size(); ++n) ASSERT_EQ(single.NextByte(), stream[n]) << n;
    EXPECT_EQ((std::vector<std::string>{HexBytes(&stream[0], 16), HexBytes(&stream[0xf0], 16),
                                        HexBytes(&stream[0x1000], 16)}),
              rows)
        << keyLength;
  }
  if (!LoadLegacyProvider()) GTEST_SKIP() << "OpenSSL legacy provider (RC4) not available";
  std::mt19937 rng(6229);
  for (int round = 0; round < 40; ++round) {
    std::vector<uint8_t> key(1 + rng() % 32), a(1 + rng() % 3000);
    for (auto& b : key) b = static_cast<uint8_t>(rng());
    for (auto& b : a) b = static_cast<uint8_t>(rng());
    Rc4 ours;
    ours.SetKey(key.data(), key.size());
    testing::OsslRc4 theirs(key.data(), key.size());
    std::vector<uint8_t> b = a;
    ours.Apply(a.data(), a.size());
    theirs.Xor(b.data(), b.size());
    ASSERT_EQ(a, b) << "key length " << key.size();
  }
}

}  // namespace
}  // namespace remcons
