// The bit reader of the video stream: codes of 0 to 8 bits, least significant bit of each byte
// first, from a 4096-byte receive buffer that is refilled from a byte source (the console
// connection, a capture file). It also spots the resynchronisation mark: 31 or more zero bits,
// counted at byte granularity, ended by a non-zero byte.
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
  inline int GetBit(uint32_t n);

  // 1 with the next byte of the stream, 0 when a refill produced no bytes.
  inline int ReadByte(uint8_t* out);

  uint16_t code() const { return code_; }
  uint32_t nbits() const { return nbits_; }
  uint32_t acc() const { return acc_; }
  uint32_t zero_run() const { return zero_run_; }
  // Bytes held by the receive buffer and the next one to hand out.
  uint32_t length() const { return length_; }
  uint32_t position() const { return position_; }

  // Drops the bits left of the current byte: the next code starts at a byte boundary.
  void DiscardRestOfByte() {
    acc_ = 0;
    nbits_ = 0;
  }
  // Drops every buffered bit and the zero count (hunting for the stream after joining it).
  void DropBufferedBits() {
    acc_ = 0;
    nbits_ = 0;
    zero_run_ = 0;
  }

 private:
  int Refill();
  int SourceFailed(int got);
  int Resync(uint8_t byte);

  ByteSource* source_ = nullptr;
  RefillObserver* observer_ = nullptr;

  uint32_t acc_ = 0;
  uint32_t nbits_ = 0;
  uint32_t zero_run_ = 0;
  uint16_t code_ = 0;

  uint32_t length_ = 0;
  uint32_t position_ = 0;
  std::array<uint8_t, kBufferSize> buffer_{};

  std::array<uint8_t, 256> reverse_{};
  std::array<uint32_t, 256> leading_zeros_{};
  std::array<uint32_t, 256> trailing_zeros_{};
};

inline int BitReader::ReadByte(uint8_t* out) {
  if (position_ == length_ && Refill() == 0) return 0;
  *out = buffer_[position_++];
  return 1;
}

inline int BitReader::GetBit(uint32_t n) {
  if (n == 0) return kOk;
  if (nbits_ < n) {
    uint8_t byte;
    int got = ReadByte(&byte);
    if (got != 1) return SourceFailed(got);
    zero_run_ += trailing_zeros_[byte];
    if (zero_run_ >= 31) return Resync(byte);
    if (byte != 0) zero_run_ = leading_zeros_[byte];
    acc_ |= static_cast<uint32_t>(byte) << nbits_;
    nbits_ += 8;
  }
  const uint32_t v = acc_ & ((1u << n) - 1);
  nbits_ -= n;
  acc_ >>= n;
  code_ = static_cast<uint16_t>(reverse_[v] >> (8 - n));
  return kOk;
}

}  // namespace remcons
