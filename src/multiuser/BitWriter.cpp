#include "multiuser/BitWriter.h"

#include "platform/Trace.h"

namespace remcons {
namespace {

// START, CMD, CMD0, EXTCMD, EXTCMD1 to FIRMWARE, then the firmware byte 2: a text record follows.
constexpr uint32_t kTextRecordPath = 0x1702;
constexpr int kTextRecordPathBits = 13;
// The path to TIMEOUT, which drops the rest of the byte.
constexpr uint32_t kTimeoutPath = 45;
constexpr int kTimeoutPathBits = 6;

}  // namespace

void BitWriter::Reset() {
  count_ = 0;
  pending_ = 0;
  pendingBits_ = 0;
  overflowReported_ = false;
}

void BitWriter::Put(int length, uint32_t code) {
  if (length <= 0 || length > 16) {
    RC_TRACE("qelbit_put(%d,%#x): length error\n", length, code);
    return;
  }
  if (code >> length) RC_TRACE("qelbit_put error: len %d, code was %#x\n", length, code);
  for (int i = length; i-- > 0;) {
    pending_ = static_cast<uint8_t>(pending_ >> 1 | ((code >> i) & 1) << 7);
    if (++pendingBits_ < 8) continue;
    if (count_ < buffer_.size()) {
      buffer_[count_++] = pending_;
    } else if (!overflowReported_) {
      overflowReported_ = true;
      RC_TRACE("qelbit_put: buffer full, bits dropped\n");
    }
    pending_ = 0;
    pendingBits_ = 0;
  }
}

void BitWriter::PutSync() {
  for (int i = 0; i < 4; ++i) Put(16, 0);
  Put(16, 1);
}

void BitWriter::PutTextMessage(uint8_t channel, std::string_view text) {
  Put(kTextRecordPathBits, kTextRecordPath);
  Put(1, 0);
  Put(8, channel);
  for (char c : text) Put(8, static_cast<uint8_t>(c));
  Put(8, 0);
  if (pendingBits_ != 0) {
    Put(kTimeoutPathBits, kTimeoutPath);
    if (pendingBits_ != 0) Put(8 - pendingBits_, 0);
  }
}

}  // namespace remcons
