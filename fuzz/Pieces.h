// The fuzz targets' input handed out in pieces as a network cuts a stream: whole reads when the
// pattern byte's top bit is set, else pieces of 1 to 64 bytes in an order the pattern chooses.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

class Pieces {
 public:
  Pieces(const uint8_t* data, size_t size, uint8_t pattern)
      : data_(data), size_(size), pattern_(pattern) {}

  // The next piece, at most max bytes, into out; 0 at the end.
  size_t Next(uint8_t* out, size_t max) {
    const size_t want = pattern_ & 0x80 ? max : 1 + ((pattern_ * 31u + reads_ * 7u) & 63u);
    ++reads_;
    const size_t n = std::min({size_ - offset_, want, max});
    if (n) std::memcpy(out, data_ + offset_, n);
    offset_ += n;
    return n;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t offset_ = 0;
  uint8_t pattern_;
  uint32_t reads_ = 0;
};
