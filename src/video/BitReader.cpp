#include "video/BitReader.h"

#include "platform/Trace.h"

namespace remcons {

BitReader::BitReader() = default;

void BitReader::StartSession() {
  for (int b = 0; b < 256; ++b) {
    uint8_t reversed = 0;
    for (int i = 0; i < 8; ++i) {
      if (b & (1 << i)) reversed |= static_cast<uint8_t>(0x80 >> i);
    }
    reverse_[b] = reversed;
    uint8_t leading = 8, trailing = 8;
    for (int i = 7; i >= 0; --i) {
      if (b & (1 << i)) {
        leading = static_cast<uint8_t>(7 - i);
        break;
      }
    }
    for (int i = 0; i < 8; ++i) {
      if (b & (1 << i)) {
        trailing = static_cast<uint8_t>(i);
        break;
      }
    }
    leading_zeros_[b] = leading;
    trailing_zeros_[b] = trailing;
  }
  window_ = 0;
  count_ = 0;
  zero_run_ = 0;
  markPending_ = false;
  code_ = 0;
}

int BitReader::Refill() {
  position_ = 0;
  int got = source_ ? source_->Read(buffer_.data(), kBufferSize) : 0;
  // A source never hands out more than asked; anything else counts as a failed read.
  length_ = (got > 0 && got <= kBufferSize) ? static_cast<uint32_t>(got) : 0;
  if (length_ != 0 && observer_) observer_->OnRefill(buffer_.data(), static_cast<int>(length_));
  return static_cast<int>(length_);
}

int BitReader::Load(uint32_t n) {
  while (count_ < n) {
    // The byte completing a mark is the next one needed: the mark takes effect now.
    if (markPending_) return Resync();
    if (position_ == length_ && Refill() == 0) {
      RC_TRACE("GetBit: %d bytes returned from ReadByte.\n", 0);
      return kSourceFailed;
    }
    TakeBuffered();
  }
  return kOk;
}

int BitReader::Resync() {
  markPending_ = false;
  uint8_t byte = 0;
  ReadByte(&byte);  // the completing byte, still in the buffer
  while (byte == 0) {
    const int got = ReadByte(&byte);
    if (got != 1) {
      RC_TRACE("GetBit: ReadByte error %d\n", got);
      return kSourceFailed;
    }
  }
  window_ = 0;
  count_ = 0;
  zero_run_ = trailing_zeros_[byte];
  return kResync;
}

void BitReader::DropBufferedBits() {
  // The whole bytes of the window are still in the buffer (it is refilled only when the window
  // holds no whole byte): give them back, they are read afresh with the zero count cleared.
  position_ -= static_cast<uint32_t>(count_ / 8);
  window_ = 0;
  count_ = 0;
  zero_run_ = 0;
  markPending_ = false;
}

}  // namespace remcons
