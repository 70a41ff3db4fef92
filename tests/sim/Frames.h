// Pictures for the simulator's tests, and the check that a decoded picture is the one sent.
#pragma once

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "sim/ColorFrame.h"
#include "video/FrameBuffer.h"

namespace remcons::sim::testing {

// Rows of runs 1 to maxRun long, each of a colour drawn from palette.
inline ColorFrame Runs(int width, int height, std::mt19937& rng,
                       const std::vector<uint16_t>& palette, int maxRun) {
  ColorFrame f(width, height);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width;) {
      const int run = 1 + static_cast<int>(rng() % static_cast<unsigned>(maxRun));
      f.Fill(x, y, x + run, y + 1, palette[rng() % palette.size()]);
      x += run;
    }
  }
  return f;
}

// Few colours and many zero bits in short runs (grey 0, 800, grey 1 and their like): codes that
// look like the zeros of a mark.
inline ColorFrame ZeroHeavy(int width, int height, std::mt19937& rng) {
  return Runs(width, height, rng, {0x000, 0x800, 0x111, 0x080, 0x008, 0x100, 0x010, 0x001}, 20);
}

// The first pixel where the decoded picture differs from the frame sent, or "" when none does.
inline std::string Mismatch(const Surface& shown, const ColorFrame& frame) {
  for (int y = 0; y < frame.height(); ++y) {
    for (int x = 0; x < frame.width(); ++x) {
      if ((shown.At(x, y) & 0xFFFFFF) != (ExpandColor(frame.At(x, y)) & 0xFFFFFF)) {
        char text[96];
        std::snprintf(text, sizeof text, "pixel (%d,%d): shown %06X, sent %03X", x, y,
                      shown.At(x, y) & 0xFFFFFF, frame.At(x, y));
        return text;
      }
    }
  }
  return "";
}

}  // namespace remcons::sim::testing
