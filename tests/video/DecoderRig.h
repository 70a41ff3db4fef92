// A decoder with its frame buffer, video modes and a recording session, fed from a byte string.
#pragma once

#include <deque>
#include <memory>
#include <utility>
#include <vector>

#include "support/FakeHost.h"
#include "video/VideoDecoder.h"
#include "video/VideoFakes.h"

namespace remcons::testing {

struct DecoderRig {
  using Runs = std::vector<std::pair<int, uint16_t>>;  // (count, colour) in pixel order

  explicit DecoderRig(uint32_t width = 1280, uint32_t height = 1024) {
    frameBuffer.CreateSurfaces(&width, &height);
  }

  // Decodes bytes, read in the given sizes, from a fresh session start until the stream ends.
  DecodeEnd Run(std::vector<uint8_t> bytes, DecoderRole role = {}, std::deque<int> chunks = {}) {
    source = std::make_unique<MemorySource>(std::move(bytes));
    source->SetChunks(std::move(chunks));
    decoder.reader().SetSource(source.get());
    decoder.Start(role);
    return decoder.Decode();
  }

  // The 256 pixels of block (bx, by) of the frame.
  std::vector<Pixel> Block(int bx, int by) {
    std::vector<Pixel> out;
    const Surface& f = frameBuffer.frame();
    for (int y = 0; y < 16; ++y) {
      for (int x = 0; x < 16; ++x) out.push_back(f.At(bx * 16 + x, by * 16 + y) & 0xFFFFFFu);
    }
    return out;
  }
  // The first n pixels of the block being assembled.
  std::vector<Pixel> Assembled(size_t n) {
    std::vector<Pixel> out(frameBuffer.block_pixels(), frameBuffer.block_pixels() + n);
    for (Pixel& p : out) p &= 0xFFFFFFu;
    return out;
  }
  static std::vector<Pixel> Colors(const Runs& runs) {
    std::vector<Pixel> out;
    for (auto [count, color] : runs) out.insert(out.end(), count, ExpandColor(color) & 0xFFFFFFu);
    return out;
  }
  static std::vector<Pixel> Solid(uint16_t color) { return Colors({{256, color}}); }

  FakeHost host;
  FakePainter painter;
  FakeEvents events;
  FrameBuffer frameBuffer{host, painter};
  VideoModes modes{host, events};
  VideoDecoder decoder{frameBuffer, modes, events};
  std::unique_ptr<MemorySource> source;
};

}  // namespace remcons::testing
