// The bit reader of the video stream: codes of 0 to 8 bits, least significant bit of each byte
// first, from a 4096-byte receive buffer that is refilled from a byte source (the console
// connection, a capture file). It also spots the resynchronisation mark: 31 or more zero bits,
// counted at byte granularity, ended by a non-zero byte.
//
// For speed the reader holds up to eight bytes of the receive buffer in a 64-bit window, first
// stream bit at the top, taking them ahead of need but only from what the buffer already holds:
// a refill (a network read) still happens only when a code needs bits that are not there, and a
// mark still takes effect only when the byte that completes it would be fetched.
#pragma once

#include <array>
#include <cstdint>

namespace remcons {

// Where the stream's bytes come from.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // One read of at most size bytes into buffer: the count read, 0 when the source is closed or
  // failed (the stream ends).
  virtual int Read(uint8_t* buffer, int size) = 0;
  // The error of the last failed read (a socket error code), 0 when there is none.
  virtual int LastError() { return 0; }
};

// Sees every refill of the receive buffer, as read (capture recording, multi-user relay).
class RefillObserver {
 public:
  virtual ~RefillObserver() = default;
  virtual void OnRefill(const uint8_t* data, int length) = 0;
};

class BitReader {
 public:
  static constexpr int kBufferSize = 4096;
  // GetBit results.
  static constexpr int kOk = 0;
  static constexpr int kSourceFailed = 1;
  static constexpr int kResync = 4;

  BitReader();

  void SetSource(ByteSource* source) { source_ = source; }
  void SetRefillObserver(RefillObserver* observer) { observer_ = observer; }
  ByteSource* source() const { return source_; }
  // The byte source's last error, 0 without a source.
  int LastSourceError() const { return source_ ? source_->LastError() : 0; }

  // Session start: builds the bit tables and empties the accumulator. The receive buffer keeps
  // what it holds.
  void StartSession();

  // Reads the next n bits (n = 0 to 8) into code(), the first bit read as the most significant.
  // kOk, kSourceFailed when the source delivered nothing, kResync when a resynchronisation mark
  // was read (the bits buffered and the mark's closing byte are dropped).
  int GetBit(uint32_t n) {
    if (n == 0) return kOk;
    if (count_ < n) {
      const int result = Load(n);
      if (result != kOk) return result;
    }
    code_ = static_cast<uint16_t>(window_ >> (64 - n));
    window_ <<= n;
    count_ -= n;
    return kOk;
  }

  // 1 with the next byte of the receive buffer (refilling it when empty), 0 when a refill
  // produced no bytes. It reads past the bytes the window holds: use it with an empty window.
  int ReadByte(uint8_t* out) {
    if (position_ == length_ && Refill() == 0) return 0;
    *out = buffer_[position_++];
    return 1;
  }

  uint16_t code() const { return code_; }
  // Bits left of the current byte (0 to 7).
  uint32_t nbits() const { return static_cast<uint32_t>(count_ & 7); }
  // The zero bits counted up to the last byte taken from the buffer.
  uint32_t zero_run() const { return zero_run_; }
  // Bytes held by the receive buffer and the next one to take.
  uint32_t length() const { return length_; }
  uint32_t position() const { return position_; }

  // Drops the bits left of the current byte: the next code starts at a byte boundary.
  void DiscardRestOfByte() {
    const uint32_t rest = static_cast<uint32_t>(count_ & 7);
    window_ = rest == 0 ? window_ : window_ << rest;
    count_ -= rest;
  }
  // Drops the current byte's bits and the zero count (hunting for the stream after joining it):
  // decoding goes on with the next byte.
  void DropBufferedBits();

  // The window, for the decoder's inner loop, which keeps it in registers between out-of-line
  // calls.
  struct Window {
    uint64_t bits;
    uint64_t count;
  };
  Window window() const { return {window_, count_}; }
  void set_window(const Window& w) {
    window_ = w.bits;
    count_ = w.count;
  }
  // Makes at least n bits available (GetBit's slow path).
  int Load(uint32_t n);
  // Takes whole bytes that the receive buffer already holds into the window while they fit: no
  // refill, and nothing from a mark's closing byte on. The decoder looks several codes ahead
  // with it and falls back to Load when the window is still short.
  void TakeBuffered() {
    while (count_ <= 56 && position_ < length_) {
      const uint8_t byte = buffer_[position_];
      const uint32_t run = zero_run_ + trailing_zeros_[byte];
      if (run >= 31) {
        markPending_ = true;
        return;
      }
      zero_run_ = byte != 0 ? leading_zeros_[byte] : run;
      ++position_;
      window_ |= static_cast<uint64_t>(reverse_[byte]) << (56 - count_);
      count_ += 8;
    }
  }
  void set_code(uint16_t code) { code_ = code; }

 private:
  int Refill();
  int Resync();

  ByteSource* source_ = nullptr;
  RefillObserver* observer_ = nullptr;

  uint64_t window_ = 0;  // first stream bit at bit 63
  uint64_t count_ = 0;   // valid bits in window_
  uint32_t zero_run_ = 0;
  bool markPending_ = false;  // the byte at position_ completes a mark
  uint16_t code_ = 0;

  uint32_t length_ = 0;
  uint32_t position_ = 0;
  std::array<uint8_t, kBufferSize> buffer_{};

  std::array<uint8_t, 256> reverse_{};
  std::array<uint8_t, 256> leading_zeros_{};
  std::array<uint8_t, 256> trailing_zeros_{};
};

}  // namespace remcons
