#include "platform/Surface.h"

#include <algorithm>
#include <cstring>

namespace remcons {
namespace {

// Clips a copy of srcRect to (dx, dy) against both surfaces; false when nothing remains.
bool ClipCopy(const Rect& srcBounds, const Rect& dstBounds, Rect* srcRect, int* dx, int* dy) {
  Rect s = srcRect->Intersect(srcBounds);
  int ox = *dx + (s.left - srcRect->left);
  int oy = *dy + (s.top - srcRect->top);
  Rect d = Rect{ox, oy, ox + s.Width(), oy + s.Height()}.Intersect(dstBounds);
  if (d.Empty() || s.Empty()) return false;
  *srcRect = Rect{s.left + (d.left - ox), s.top + (d.top - oy), 0, 0};
  srcRect->right = srcRect->left + d.Width();
  srcRect->bottom = srcRect->top + d.Height();
  *dx = d.left;
  *dy = d.top;
  return true;
}

}  // namespace

void Surface::Fill(const Rect& r, Pixel p) {
  Rect c = r.Intersect(bounds());
  if (c.Empty()) return;
  for (int y = c.top; y < c.bottom; ++y) std::fill(Row(y) + c.left, Row(y) + c.right, p);
}

void Surface::CopyFrom(const Surface& src, const Rect& srcRect, int dx, int dy) {
  Rect s = srcRect;
  if (!ClipCopy(src.bounds(), bounds(), &s, &dx, &dy)) return;
  const size_t bytes = static_cast<size_t>(s.Width()) * sizeof(Pixel);
  for (int y = 0; y < s.Height(); ++y) {
    std::memmove(Row(dy + y) + dx, src.Row(s.top + y) + s.left, bytes);
  }
}

void Surface::CopyMasked(const Surface& src, const Surface& mask, const Rect& srcRect, int dx,
                         int dy) {
  Rect s = srcRect;
  if (!ClipCopy(src.bounds().Intersect(mask.bounds()), bounds(), &s, &dx, &dy)) return;
  for (int y = 0; y < s.Height(); ++y) {
    const Pixel* from = src.Row(s.top + y) + s.left;
    const Pixel* m = mask.Row(s.top + y) + s.left;
    Pixel* to = Row(dy + y) + dx;
    for (int x = 0; x < s.Width(); ++x) {
      if ((m[x] & 0x00FFFFFFu) != 0) to[x] = from[x];
    }
  }
}

Surface Surface::Crop(int width, int height) const {
  Surface part(std::min(width, width_), std::min(height, height_));
  part.CopyFrom(*this, part.bounds(), 0, 0);
  return part;
}

bool Surface::SameColors(const Surface& other) const {
  if (width_ != other.width_ || height_ != other.height_) return false;
  for (size_t i = 0; i < pixels_.size(); ++i) {
    if (!SameColor(pixels_[i], other.pixels_[i])) return false;
  }
  return true;
}

}  // namespace remcons
