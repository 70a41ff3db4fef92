// Fuzz target: any byte string through the video stream decoder, in chunks of varying size, as a
// console or as a joining console. Nothing may be written outside the frame or the block, and the
// decoder must end when the bytes do.
//
// With libFuzzer, from the repository's top:
//   clang++ -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -Isrc
//     fuzz/VideoDecoderFuzz.cpp src/video/*.cpp src/platform/*.cpp -lz -o video_decoder_fuzz
// The tests run the same entry point over random and damaged streams.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "Pieces.h"
#include "video/OfflineVideo.h"
#include "video/VideoDecoder.h"

namespace {

using namespace remcons;

// The input after its first byte, in reads of 1 to 64 bytes or whole buffers.
class ChunkedSource : public ByteSource {
 public:
  ChunkedSource(const uint8_t* data, size_t size, uint8_t pattern) : pieces_(data, size, pattern) {}
  int Read(uint8_t* buffer, int size) override {
    return static_cast<int>(pieces_.Next(buffer, static_cast<size_t>(size)));
  }

 private:
  Pieces pieces_;
};

struct Fixture {
  Fixture() : frameBuffer(host, painter) {
    for (int i = 0; i < 3; ++i)
      host.displayModes.push_back({640 + 160 * i, 480 + 120 * i, 32, 60, 0});
    uint32_t width = 320, height = 240;
    frameBuffer.CreateSurfaces(&width, &height);
  }
  OfflineHost host;
  OfflinePainter painter{true};
  FrameBuffer frameBuffer;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint8_t options = data[0];
  // The surfaces are the costly part: made once, every input starts a new session on them.
  static Fixture fixture;
  OfflineHost& host = fixture.host;
  FrameBuffer& frameBuffer = fixture.frameBuffer;
  if (!frameBuffer.created()) return 0;
  OfflineEvents events;
  VideoModes modes(host, events);
  modes.SetFullScreen(options & 0x40);
  VideoDecoder decoder(frameBuffer, modes, events);
  ChunkedSource source(data + 1, size - 1, options);
  decoder.reader().SetSource(&source);
  DecoderRole role;
  role.multiUserClient = options & 1;
  role.sessionLeader = options & 2;
  decoder.Start(role);
  decoder.Decode();
  if (decoder.pixel_count() > 256) __builtin_trap();
  return 0;
}
