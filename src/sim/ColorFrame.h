// A screen of 12-bit stream colours (red bits 11-8, green 7-4, blue 3-0): what the simulated server
// shows and what the stream encoder sends.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

namespace remcons::sim {

class ColorFrame {
 public:
  ColorFrame() = default;
  ColorFrame(int width, int height, uint16_t fill = 0)
      : width_(width),
        height_(height),
        pixels_(static_cast<size_t>(width) * height, static_cast<uint16_t>(fill & 0xFFF)) {}

  int width() const { return width_; }
  int height() const { return height_; }
  uint16_t At(int x, int y) const { return pixels_[static_cast<size_t>(y) * width_ + x]; }
  void Set(int x, int y, uint16_t color) {
    pixels_[static_cast<size_t>(y) * width_ + x] = static_cast<uint16_t>(color & 0xFFF);
  }
  // A filled rectangle, clipped to the frame; right and bottom are exclusive.
  void Fill(int left, int top, int right, int bottom, uint16_t color) {
    left = std::max(left, 0);
    top = std::max(top, 0);
    right = std::min(right, width_);
    bottom = std::min(bottom, height_);
    for (int y = top; y < bottom; ++y) {
      std::fill(Row(y) + left, Row(y) + std::max(left, right),
                static_cast<uint16_t>(color & 0xFFF));
    }
  }
  uint16_t* Row(int y) { return pixels_.data() + static_cast<size_t>(y) * width_; }
  const uint16_t* Row(int y) const { return pixels_.data() + static_cast<size_t>(y) * width_; }
  const std::vector<uint16_t>& pixels() const { return pixels_; }
  friend bool operator==(const ColorFrame&, const ColorFrame&) = default;

 private:
  int width_ = 0;
  int height_ = 0;
  std::vector<uint16_t> pixels_;
};

}  // namespace remcons::sim
