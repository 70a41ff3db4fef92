// A decoder with its frame buffer, video modes and a recording session, fed from a byte string.
#pragma once

#include <memory>
#include <vector>

#include "support/FakeHost.h"
#include "video/VideoDecoder.h"
#include "video/VideoFakes.h"

namespace remcons::testing {

struct DecoderRig {
  explicit DecoderRig(uint32_t width = 1280, uint32_t height = 1024) {
    frameBuffer.CreateSurfaces(&width, &height);
  }

  // Decodes bytes from a fresh session start until the stream ends.
  DecodeEnd Run(std::vector<uint8_t> bytes, DecoderRole role = {}) {
    source = std::make_unique<MemorySource>(std::move(bytes));
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
  static std::vector<Pixel> Colors(const std::vector<uint16_t>& colors) {
    std::vector<Pixel> out;
    for (uint16_t c : colors) out.push_back(ExpandColor(c) & 0xFFFFFFu);
    return out;
  }
  static std::vector<Pixel> Solid(uint16_t color) {
    return Colors(std::vector<uint16_t>(256, color));
  }

  FakeHost host;
  FakePainter painter;
  FakeEvents events;
  FrameBuffer frameBuffer{host, painter};
  VideoModes modes{host, events};
  VideoDecoder decoder{frameBuffer, modes, events};
  std::unique_ptr<MemorySource> source;
};

}  // namespace remcons::testing
