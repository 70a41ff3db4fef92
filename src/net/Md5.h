// MD5 message digest (RFC 1321): keys the console's RC4 streams and answers the virtual-media
// hello.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace remcons {

class Md5 {
 public:
  static constexpr size_t kDigestSize = 16;
  static constexpr size_t kBlockSize = 64;
  using Digest = std::array<uint8_t, kDigestSize>;

  Md5() { Reset(); }
  ~Md5();
  Md5(const Md5&) = default;
  Md5& operator=(const Md5&) = default;

  // Starts a new message.
  void Reset();
  void Update(const void* data, size_t length);
  void Update(std::string_view text) { Update(text.data(), text.size()); }
  // Finishes the message, writes its 16-byte digest and starts a new message.
  void Final(uint8_t digest[kDigestSize]);
  Digest Final();

  // The digest of one message.
  static Digest Hash(const void* data, size_t length);
  static Digest Hash(std::string_view text) { return Hash(text.data(), text.size()); }

 private:
  // Compresses count consecutive 64-byte blocks into state_.
  void Blocks(const uint8_t* data, size_t count);

  uint32_t state_[4];
  uint64_t length_;  // message bytes so far
  uint8_t buffer_[kBlockSize];
  size_t buffered_;
};

}  // namespace remcons
