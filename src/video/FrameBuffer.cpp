#include "video/FrameBuffer.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <stdexcept>

#include "platform/Strings.h"
#include "platform/Trace.h"

namespace remcons {
namespace {

// The system error of an allocation that failed (not enough memory).
constexpr unsigned long kErrorNotEnoughMemory = 8;

constexpr Pixel kIdleColor = Rgb(60, 60, 60);
constexpr Pixel kStatusTextColor = Rgb(0, 207, 0);
constexpr Pixel kStatusBackground = Rgb(0, 0, 0);

std::array<Pixel, 4096> BuildExpansionTable() {
  std::array<Pixel, 4096> table{};
  for (uint32_t c = 0; c < table.size(); ++c) table[c] = ExpandColor(static_cast<uint16_t>(c));
  return table;
}

std::string Truncated(std::string text) {
  if (text.size() > 79) text.resize(79);
  return text;
}

}  // namespace

const std::array<Pixel, 4096>& ColorExpansionTable() {
  static const std::array<Pixel, 4096> table = BuildExpansionTable();
  return table;
}

FrameBuffer::FrameBuffer(Host& host, Painter& painter, SurfaceFactory factory)
    : host_(host),
      painter_(painter),
      factory_(std::move(factory)),
      videoLock_(OpenNamedMutex(kVideoLockName)) {
  if (!factory_) {
    factory_ = [](int width, int height) { return std::make_unique<Surface>(width, height); };
  }
}

bool FrameBuffer::CreateSurfaces(uint32_t* width, uint32_t* height) {
  if (*width > kMaxFrameWidth || *height > kMaxFrameHeight) {
    *width = kMaxFrameWidth;
    *height = kMaxFrameHeight;
  }
  const int w = static_cast<int>(*width);
  const int h = static_cast<int>(*height);
  char text[128];
  auto make = [&](int sw, int sh) -> std::unique_ptr<Surface> {
    try {
      return factory_(sw, sh);
    } catch (const std::bad_alloc&) {
      return nullptr;
    } catch (const std::length_error&) {
      return nullptr;
    }
  };

  std::unique_ptr<Surface> frame = make(w, h);
  if (!frame) {
    std::snprintf(text, sizeof text,
                  "Out of Memory - Error 0x%08lx creating hScreenBitmap. Size is %d x %d",
                  kErrorNotEnoughMemory, w, h);
    failureText_ = Truncated(text);
    return false;
  }
  std::unique_ptr<Surface> block = make(kBlockSize, kBlockSize);
  if (!block) {
    std::snprintf(text, sizeof text, "Error 0x%08lx attempting to create hBlockBitmap.",
                  kErrorNotEnoughMemory);
    failureText_ = Truncated(text);
    return false;
  }
  std::unique_ptr<Surface> backPlane = make(w, h);
  if (!backPlane) {
    std::snprintf(text, sizeof text, "Error %08lx from try to create hMenuBitmap.",
                  kErrorNotEnoughMemory);
    failureText_ = Truncated(text);
    return false;
  }
  VideoLock lock(*videoLock_);
  frame_ = std::move(frame);
  block_ = std::move(block);
  backPlane_ = std::move(backPlane);
  failureText_.clear();
  return true;
}

inline void FrameBuffer::CopyBlock(int x, int y) {
  Surface& frame = *frame_;
  if (x >= 0 && y >= 0 && x + kBlockSize <= frame.width() && y + kBlockSize <= frame.height()) {
    // The row pointer and stride in locals: the copies may alias the surface's own fields.
    const Pixel* from = block_->data();
    Pixel* to = frame.Row(y) + x;
    const size_t stride = static_cast<size_t>(frame.width());
    for (int row = 0; row < kBlockSize; ++row, to += stride, from += kBlockSize) {
      std::memcpy(to, from, kBlockSize * sizeof(Pixel));
    }
  } else {
    frame.CopyFrom(*block_, block_->bounds(), x, y);
  }
}

void FrameBuffer::AddRepaint(int x, int y) {
  if (repaintCount_ != 0) {
    Rect& last = repaints_[repaintCount_ - 1];
    if (y == last.top && x == last.right) {
      last.right += kBlockSize;
      return;
    }
    if (repaintCount_ == repaints_.size()) {
      last = {std::min(last.left, x), std::min(last.top, y), std::max(last.right, x + kBlockSize),
              std::max(last.bottom, y + kBlockSize)};
      return;
    }
  }
  repaints_[repaintCount_++] = {x, y, x + kBlockSize, y + kBlockSize};
}

void FrameBuffer::EndBlocks() {
  if (ownsLock_) videoLock_->unlock();
  lockTaken_ = ownsLock_ = false;
  // Asked for without the lock: the window's handler may paint at once.
  for (size_t i = 0; i < repaintCount_; ++i) host_.Invalidate(&repaints_[i], false);
  repaintCount_ = 0;
}

void FrameBuffer::PutBlock(BlockPosition& pos, uint32_t count) {
  for (uint32_t i = 0; i < count; ++i) {
    const int x = kBlockSize * pos.block_x;
    const int y = kBlockSize * pos.block_y;
    // Taken once: when the lock cannot be had in time, these blocks are written without it.
    if (!lockTaken_) {
      lockTaken_ = true;
      ownsLock_ = TakeVideoLock(*videoLock_);
    }
    CopyBlock(x, y);
    ++pos.block_x;
    if (pos.block_x >= pos.width_blocks) {
      pos.block_x = 0;
      ++pos.block_y;
      if (pos.block_y == pos.height_blocks) pos.block_y = 0;
    }
    AddRepaint(x, y);
  }
  ++blocksFinished_;
  if (runDepth_ == 0) EndBlocks();
}

void FrameBuffer::ClearScreen(const BlockPosition& pos) {
  if (!frame_) return;
  {
    VideoLock lock(*videoLock_);
    frame_->Fill({0, 0, kBlockSize * pos.width_blocks, kBlockSize * pos.height_blocks}, kIdleColor);
  }
  host_.Invalidate(nullptr, true);
}

FontSpec FrameBuffer::StatusFont() {
  FontSpec font;
  font.face = JapaneseForms() ? "MS UI Gothic" : "Arial";
  font.pixelHeight = 24;
  return font;
}

void FrameBuffer::WriteStatusLine(std::string_view text) {
  if (!frame_) return;
  {
    VideoLock lock(*videoLock_);
    const FontSpec font = StatusFont();
    size_t start = 0;
    while (start < text.size()) {
      const size_t cr = text.find('\r', start);
      if (cr == std::string_view::npos) {
        painter_.DrawText(*frame_, 0, static_cast<int>(statusLineY_), text.substr(start), font,
                          kStatusTextColor, kStatusBackground);
        statusLineY_ += 40;
        break;
      }
      if (cr > start) {
        painter_.DrawText(*frame_, 0, static_cast<int>(statusLineY_),
                          text.substr(start, cr - start), font, kStatusTextColor,
                          kStatusBackground);
      }
      statusLineY_ += 20;
      start = cr + 1;
    }
  }
  host_.Invalidate(nullptr, true);
}

void FrameBuffer::Paint(const Rect& updateRect, Surface& window, const MenuBarOverlay* bar) {
  if (!frame_) return;
  VideoLock lock(*videoLock_);
  // Any overlap counts, not only a corner inside the bar: a repaint of the whole window would
  // otherwise wipe a pinned bar off the picture.
  if (bar && bar->visible && !updateRect.Intersect(bar->area).Empty()) {
    backPlane_->CopyFrom(*frame_, updateRect, updateRect.left, updateRect.top);
    if (bar->draw) bar->draw(*backPlane_);
    window.CopyFrom(*backPlane_, updateRect, updateRect.left, updateRect.top);
  } else {
    window.CopyFrom(*frame_, updateRect, updateRect.left, updateRect.top);
  }
}

Surface FrameBuffer::Snapshot() {
  VideoLock lock(*videoLock_);
  return frame_ ? *frame_ : Surface();
}

}  // namespace remcons
