#include "net/Md5.h"

#include <algorithm>
#include <cstring>

#include "platform/ByteOrder.h"

namespace remcons {
namespace {

inline uint32_t Rotl(uint32_t v, int s) {
  return (v << s) | (v >> (32 - s));
}

// The four round functions in the forms with the fewest operations: F and G select, H is parity,
// I as in RFC 1321.
#define MD5_F(x, y, z) ((z) ^ ((x) & ((y) ^ (z))))
#define MD5_G(x, y, z) ((y) ^ ((z) & ((x) ^ (y))))
#define MD5_H(x, y, z) ((x) ^ (y) ^ (z))
#define MD5_I(x, y, z) ((y) ^ ((x) | ~(z)))
#define MD5_STEP(f, a, b, c, d, x, t, s) \
  a += f(b, c, d) + (x) + (t);           \
  a = Rotl(a, s) + (b)

}  // namespace

Md5::~Md5() {
  // The buffer may hold key material; do not leave it behind.
  volatile uint8_t* p = buffer_;
  for (size_t n = 0; n < sizeof buffer_; ++n) p[n] = 0;
}

void Md5::Reset() {
  state_[0] = 0x67452301u;
  state_[1] = 0xefcdab89u;
  state_[2] = 0x98badcfeu;
  state_[3] = 0x10325476u;
  length_ = 0;
  buffered_ = 0;
}

void Md5::Blocks(const uint8_t* p, size_t count) {
  uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3];
  for (; count > 0; --count, p += kBlockSize) {
    const uint32_t x0 = LoadLe32(p), x1 = LoadLe32(p + 4), x2 = LoadLe32(p + 8),
                   x3 = LoadLe32(p + 12), x4 = LoadLe32(p + 16), x5 = LoadLe32(p + 20),
                   x6 = LoadLe32(p + 24), x7 = LoadLe32(p + 28), x8 = LoadLe32(p + 32),
                   x9 = LoadLe32(p + 36), x10 = LoadLe32(p + 40), x11 = LoadLe32(p + 44),
                   x12 = LoadLe32(p + 48), x13 = LoadLe32(p + 52), x14 = LoadLe32(p + 56),
                   x15 = LoadLe32(p + 60);
    const uint32_t aa = a, bb = b, cc = c, dd = d;

    MD5_STEP(MD5_F, a, b, c, d, x0, 0xd76aa478u, 7);
    MD5_STEP(MD5_F, d, a, b, c, x1, 0xe8c7b756u, 12);
    MD5_STEP(MD5_F, c, d, a, b, x2, 0x242070dbu, 17);
    MD5_STEP(MD5_F, b, c, d, a, x3, 0xc1bdceeeu, 22);
    MD5_STEP(MD5_F, a, b, c, d, x4, 0xf57c0fafu, 7);
    MD5_STEP(MD5_F, d, a, b, c, x5, 0x4787c62au, 12);
    MD5_STEP(MD5_F, c, d, a, b, x6, 0xa8304613u, 17);
    MD5_STEP(MD5_F, b, c, d, a, x7, 0xfd469501u, 22);
    MD5_STEP(MD5_F, a, b, c, d, x8, 0x698098d8u, 7);
    MD5_STEP(MD5_F, d, a, b, c, x9, 0x8b44f7afu, 12);
    MD5_STEP(MD5_F, c, d, a, b, x10, 0xffff5bb1u, 17);
    MD5_STEP(MD5_F, b, c, d, a, x11, 0x895cd7beu, 22);
    MD5_STEP(MD5_F, a, b, c, d, x12, 0x6b901122u, 7);
    MD5_STEP(MD5_F, d, a, b, c, x13, 0xfd987193u, 12);
    MD5_STEP(MD5_F, c, d, a, b, x14, 0xa679438eu, 17);
    MD5_STEP(MD5_F, b, c, d, a, x15, 0x49b40821u, 22);

    MD5_STEP(MD5_G, a, b, c, d, x1, 0xf61e2562u, 5);
    MD5_STEP(MD5_G, d, a, b, c, x6, 0xc040b340u, 9);
    MD5_STEP(MD5_G, c, d, a, b, x11, 0x265e5a51u, 14);
    MD5_STEP(MD5_G, b, c, d, a, x0, 0xe9b6c7aau, 20);
    MD5_STEP(MD5_G, a, b, c, d, x5, 0xd62f105du, 5);
    MD5_STEP(MD5_G, d, a, b, c, x10, 0x02441453u, 9);
    MD5_STEP(MD5_G, c, d, a, b, x15, 0xd8a1e681u, 14);
    MD5_STEP(MD5_G, b, c, d, a, x4, 0xe7d3fbc8u, 20);
    MD5_STEP(MD5_G, a, b, c, d, x9, 0x21e1cde6u, 5);
    MD5_STEP(MD5_G, d, a, b, c, x14, 0xc33707d6u, 9);
    MD5_STEP(MD5_G, c, d, a, b, x3, 0xf4d50d87u, 14);
    MD5_STEP(MD5_G, b, c, d, a, x8, 0x455a14edu, 20);
    MD5_STEP(MD5_G, a, b, c, d, x13, 0xa9e3e905u, 5);
    MD5_STEP(MD5_G, d, a, b, c, x2, 0xfcefa3f8u, 9);
    MD5_STEP(MD5_G, c, d, a, b, x7, 0x676f02d9u, 14);
    MD5_STEP(MD5_G, b, c, d, a, x12, 0x8d2a4c8au, 20);

    MD5_STEP(MD5_H, a, b, c, d, x5, 0xfffa3942u, 4);
    MD5_STEP(MD5_H, d, a, b, c, x8, 0x8771f681u, 11);
    MD5_STEP(MD5_H, c, d, a, b, x11, 0x6d9d6122u, 16);
    MD5_STEP(MD5_H, b, c, d, a, x14, 0xfde5380cu, 23);
    MD5_STEP(MD5_H, a, b, c, d, x1, 0xa4beea44u, 4);
    MD5_STEP(MD5_H, d, a, b, c, x4, 0x4bdecfa9u, 11);
    MD5_STEP(MD5_H, c, d, a, b, x7, 0xf6bb4b60u, 16);
    MD5_STEP(MD5_H, b, c, d, a, x10, 0xbebfbc70u, 23);
    MD5_STEP(MD5_H, a, b, c, d, x13, 0x289b7ec6u, 4);
    MD5_STEP(MD5_H, d, a, b, c, x0, 0xeaa127fau, 11);
    MD5_STEP(MD5_H, c, d, a, b, x3, 0xd4ef3085u, 16);
    MD5_STEP(MD5_H, b, c, d, a, x6, 0x04881d05u, 23);
    MD5_STEP(MD5_H, a, b, c, d, x9, 0xd9d4d039u, 4);
    MD5_STEP(MD5_H, d, a, b, c, x12, 0xe6db99e5u, 11);
    MD5_STEP(MD5_H, c, d, a, b, x15, 0x1fa27cf8u, 16);
    MD5_STEP(MD5_H, b, c, d, a, x2, 0xc4ac5665u, 23);

    MD5_STEP(MD5_I, a, b, c, d, x0, 0xf4292244u, 6);
    MD5_STEP(MD5_I, d, a, b, c, x7, 0x432aff97u, 10);
    MD5_STEP(MD5_I, c, d, a, b, x14, 0xab9423a7u, 15);
    MD5_STEP(MD5_I, b, c, d, a, x5, 0xfc93a039u, 21);
    MD5_STEP(MD5_I, a, b, c, d, x12, 0x655b59c3u, 6);
    MD5_STEP(MD5_I, d, a, b, c, x3, 0x8f0ccc92u, 10);
    MD5_STEP(MD5_I, c, d, a, b, x10, 0xffeff47du, 15);
    MD5_STEP(MD5_I, b, c, d, a, x1, 0x85845dd1u, 21);
    MD5_STEP(MD5_I, a, b, c, d, x8, 0x6fa87e4fu, 6);
    MD5_STEP(MD5_I, d, a, b, c, x15, 0xfe2ce6e0u, 10);
    MD5_STEP(MD5_I, c, d, a, b, x6, 0xa3014314u, 15);
    MD5_STEP(MD5_I, b, c, d, a, x13, 0x4e0811a1u, 21);
    MD5_STEP(MD5_I, a, b, c, d, x4, 0xf7537e82u, 6);
    MD5_STEP(MD5_I, d, a, b, c, x11, 0xbd3af235u, 10);
    MD5_STEP(MD5_I, c, d, a, b, x2, 0x2ad7d2bbu, 15);
    MD5_STEP(MD5_I, b, c, d, a, x9, 0xeb86d391u, 21);

    a += aa;
    b += bb;
    c += cc;
    d += dd;
  }
  state_[0] = a;
  state_[1] = b;
  state_[2] = c;
  state_[3] = d;
}

#undef MD5_F
#undef MD5_G
#undef MD5_H
#undef MD5_I
#undef MD5_STEP

void Md5::Update(const void* data, size_t length) {
  const auto* p = static_cast<const uint8_t*>(data);
  length_ += length;
  if (buffered_ > 0) {
    const size_t take = std::min(length, kBlockSize - buffered_);
    std::memcpy(buffer_ + buffered_, p, take);
    buffered_ += take;
    p += take;
    length -= take;
    if (buffered_ < kBlockSize) return;
    Blocks(buffer_, 1);
    buffered_ = 0;
  }
  const size_t whole = length / kBlockSize;
  if (whole > 0) {
    Blocks(p, whole);
    p += whole * kBlockSize;
    length -= whole * kBlockSize;
  }
  if (length > 0) {
    std::memcpy(buffer_, p, length);
    buffered_ = length;
  }
}

void Md5::Final(uint8_t digest[kDigestSize]) {
  const uint64_t bits = length_ * 8;
  // Padding: 0x80, zeros up to 56 mod 64, then the bit length as a little-endian u64.
  buffer_[buffered_++] = 0x80;
  if (buffered_ > kBlockSize - 8) {
    std::memset(buffer_ + buffered_, 0, kBlockSize - buffered_);
    Blocks(buffer_, 1);
    buffered_ = 0;
  }
  std::memset(buffer_ + buffered_, 0, kBlockSize - 8 - buffered_);
  StoreLe32(buffer_ + 56, static_cast<uint32_t>(bits));
  StoreLe32(buffer_ + 60, static_cast<uint32_t>(bits >> 32));
  Blocks(buffer_, 1);
  for (int n = 0; n < 4; ++n) StoreLe32(digest + 4 * n, state_[n]);
  std::memset(buffer_, 0, sizeof buffer_);
  Reset();
}

Md5::Digest Md5::Final() {
  Digest digest;
  Final(digest.data());
  return digest;
}

Md5::Digest Md5::Hash(const void* data, size_t length) {
  Md5 md5;
  md5.Update(data, length);
  return md5.Final();
}

}  // namespace remcons
