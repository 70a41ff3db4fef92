// In-memory pixel surfaces: 32-bit pixels, bytes blue, green, red, x in memory (QImage RGB32 on
// little-endian), rows top-down.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

namespace remcons {

using Pixel = uint32_t;

// Opaque pixel from 8-bit components. The x byte is always written as 0xFF and never read.
constexpr Pixel Rgb(uint8_t r, uint8_t g, uint8_t b) {
  return 0xFF000000u | (uint32_t{r} << 16) | (uint32_t{g} << 8) | uint32_t{b};
}
constexpr uint8_t RedOf(Pixel p) {
  return static_cast<uint8_t>(p >> 16);
}
constexpr uint8_t GreenOf(Pixel p) {
  return static_cast<uint8_t>(p >> 8);
}
constexpr uint8_t BlueOf(Pixel p) {
  return static_cast<uint8_t>(p);
}
// Compares colour only, ignoring the x byte.
constexpr bool SameColor(Pixel a, Pixel b) {
  return ((a ^ b) & 0x00FFFFFFu) == 0;
}

// A rectangle with exclusive right and bottom edges.
struct Rect {
  int left = 0, top = 0, right = 0, bottom = 0;

  int Width() const { return right - left; }
  int Height() const { return bottom - top; }
  bool Empty() const { return right <= left || bottom <= top; }
  bool Contains(int x, int y) const { return x >= left && x < right && y >= top && y < bottom; }
  Rect Intersect(const Rect& o) const {
    return {std::max(left, o.left), std::max(top, o.top), std::min(right, o.right),
            std::min(bottom, o.bottom)};
  }
  Rect Offset(int dx, int dy) const { return {left + dx, top + dy, right + dx, bottom + dy}; }
  friend bool operator==(const Rect&, const Rect&) = default;
};

class Surface {
 public:
  Surface() = default;
  Surface(int width, int height, Pixel fill = Rgb(0, 0, 0))
      : width_(width), height_(height), pixels_(static_cast<size_t>(width) * height, fill) {}

  int width() const { return width_; }
  int height() const { return height_; }
  Rect bounds() const { return {0, 0, width_, height_}; }
  // Pixels per row.
  int stride() const { return width_; }
  Pixel* data() { return pixels_.data(); }
  const Pixel* data() const { return pixels_.data(); }
  Pixel* Row(int y) { return pixels_.data() + static_cast<size_t>(y) * width_; }
  const Pixel* Row(int y) const { return pixels_.data() + static_cast<size_t>(y) * width_; }
  Pixel At(int x, int y) const { return Row(y)[x]; }
  void Set(int x, int y, Pixel p) { Row(y)[x] = p; }

  // Solid fill of r clipped to the surface.
  void Fill(const Rect& r, Pixel p);
  // Copies srcRect of src to (dx, dy), clipped to both surfaces.
  void CopyFrom(const Surface& src, const Rect& srcRect, int dx, int dy);
  // Copies the pixels of srcRect of src whose mask pixel (same coordinates in mask, which has src's
  // size) is not black, to (dx, dy), clipped.
  void CopyMasked(const Surface& src, const Surface& mask, const Rect& srcRect, int dx, int dy);
  // A copy of the surface's top-left width x height pixels (clipped to the surface).
  Surface Crop(int width, int height) const;
  // The same size and colours (x bytes aside).
  bool SameColors(const Surface& other) const;

 private:
  int width_ = 0;
  int height_ = 0;
  std::vector<Pixel> pixels_;
};

}  // namespace remcons
