// The leader's writer of bit messages into a joiner's stream (qelbit_put): codes go in most
// significant bit first, and each bit lands in the lowest free bit of its byte, as the video
// decoder's bit reader takes them. Messages: the sync (the reader's resynchronisation mark) and
// text records on a channel.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace remcons {

class BitWriter {
 public:
  static constexpr size_t kBufferSize = 4098;

  // Back to the start of the buffer, nothing pending.
  void Reset();
  // Appends the low length bits of code (length 1 to 16; others append nothing).
  void Put(int length, uint32_t code);
  // Nine zero bytes and 80: whatever the decoder was doing, it restarts after them.
  void PutSync();
  // A text record on channel, ended by a zero character and padded to a whole byte with the
  // time-out path (45 in 6 bits) and zero bits.
  void PutTextMessage(uint8_t channel, std::string_view text);

  const uint8_t* data() const { return buffer_.data(); }
  size_t size() const { return count_; }

 private:
  std::array<uint8_t, kBufferSize> buffer_{};
  size_t count_ = 0;
  uint8_t pending_ = 0;
  int pendingBits_ = 0;
  bool overflowReported_ = false;
};

}  // namespace remcons
