// Fuzz target: any bytes as the reply to a BOOT or FAULT request, cut into pieces as a network
// would. The retrieval must never write past its buffer, never take more than the buffer's limit,
// and hand back either nothing or a buffer with its whole header.
//
// With libFuzzer, from the repository's top:
//   clang++ -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -Isrc fuzz/BufferReplyFuzz.cpp
//     src/capture/*.cpp src/video/*.cpp src/net/*.cpp src/platform/*.cpp -lz -o buffer_reply_fuzz
//     ./buffer_reply_fuzz fuzz/corpus/BufferReplyFuzz
// The tests run the same entry point over mutations of the seed corpus.
#include <cstddef>
#include <cstdint>

#include "Pieces.h"
#include "capture/BufferRetrieval.h"
#include "capture/CaptureFile.h"

namespace {

// The input after its first byte, in pieces chosen by that byte.
class PieceLink : public remcons::BufferLink {
 public:
  PieceLink(const uint8_t* data, size_t size, uint8_t pattern) : pieces_(data, size, pattern) {}
  bool Send(const uint8_t*, size_t size) override { return size == remcons::kBufferRequestSize; }
  int Receive(uint8_t* buffer, size_t size) override {
    return static_cast<int>(pieces_.Next(buffer, size));
  }

 private:
  Pieces pieces_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace remcons;
  if (size == 0) return 0;
  const BufferType type = data[0] & 1 ? BufferType::kFault : BufferType::kBoot;
  PieceLink link(data + 1, size - 1, data[0]);
  const std::vector<uint8_t> buffer = RetrieveBuffer(type, link);
  const size_t limit = type == BufferType::kBoot ? kBootBufferLimit : kFaultBufferLimit;
  if (!buffer.empty() &&
      (buffer.size() < kCaptureHeaderSize || buffer.size() > limit || buffer.size() > size - 1)) {
    __builtin_trap();
  }
  return 0;
}
