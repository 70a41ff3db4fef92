// The local copy of the remote screen: the frame surface that blocks, clears and status lines are
// written to on the console thread, the 16 x 16 block surface whose pixels the decoder assembles,
// the back plane on which the menu bar is composed over the frame, and the painting of the frame
// into the window on the window thread. The video lock keeps the two threads apart.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "platform/Host.h"
#include "platform/NamedMutex.h"
#include "platform/Painter.h"
#include "platform/Surface.h"

namespace remcons {

inline constexpr int kBlockSize = 16;
inline constexpr int kBlockPixels = kBlockSize * kBlockSize;
inline constexpr int kMaxFrameWidth = 1280;
inline constexpr int kMaxFrameHeight = 1024;
inline constexpr uint32_t kVideoLockWaitMs = 5000;
inline constexpr const char* kVideoLockName = "MutexToProtectVideo";

// A 12-bit stream colour (red bits 11-8, green 7-4, blue 3-0) as a pixel: each 4-bit component
// times 16, so 0xF becomes 240.
constexpr Pixel ExpandColor(uint16_t color) {
  return Rgb(static_cast<uint8_t>((color >> 4) & 0xF0), static_cast<uint8_t>(color & 0xF0),
             static_cast<uint8_t>((color & 0xF) << 4));
}
// The 4096 expansions, indexed by colour.
const std::array<Pixel, 4096>& ColorExpansionTable();

// Where the next block goes, and the remote screen's size in blocks (shared with the decoder).
struct BlockPosition {
  uint16_t block_x = 0;
  uint16_t block_y = 0;
  uint16_t width_blocks = 50;
  uint16_t height_blocks = 37;
};

// Takes the video lock, waiting at most 5000 ms; false when it could not be had.
inline bool TakeVideoLock(NamedMutex& mutex) {
  return mutex.try_lock() || mutex.try_lock_for(std::chrono::milliseconds(kVideoLockWaitMs));
}

// Takes the video lock for a scope, waiting at most 5000 ms; after that the scope runs without it.
class VideoLock {
 public:
  explicit VideoLock(NamedMutex& mutex) : mutex_(mutex), owns_(TakeVideoLock(mutex)) {}
  ~VideoLock() {
    if (owns_) mutex_.unlock();
  }
  VideoLock(const VideoLock&) = delete;
  VideoLock& operator=(const VideoLock&) = delete;
  bool owns() const { return owns_; }

 private:
  NamedMutex& mutex_;
  bool owns_ = false;
};

// The menu bar as painting sees it: whether it shows, the area it covers, and how it draws itself
// onto the back plane.
struct MenuBarOverlay {
  bool visible = false;
  Rect area;
  std::function<void(Surface& backPlane)> draw;
};

class FrameBuffer {
 public:
  // Makes a surface of the given size; may throw std::bad_alloc (tests inject failures).
  using SurfaceFactory = std::function<std::unique_ptr<Surface>(int width, int height)>;

  FrameBuffer(Host& host, Painter& painter, SurfaceFactory factory = {});

  // Creates the frame surface, the block surface and the back plane. A width above 1280 or a
  // height above 1024 makes both 1280 x 1024 (written back). On false, failureText() says why
  // (at most 79 characters) and no surface exists.
  bool CreateSurfaces(uint32_t* width, uint32_t* height);
  const std::string& failureText() const { return failureText_; }
  bool created() const { return frame_ != nullptr; }

  // The block surface's pixels: 256 pixels, row-major from the top-left. The decoder writes them.
  Pixel* block_pixels() { return block_->data(); }

  // Writes the block count times at consecutive block positions, advancing pos, under the video
  // lock and clipped to the frame surface, and asks for the repaints (one rectangle per row).
  // Count 0 draws nothing. Every call counts one finished block. Inside a BlockRun the lock and
  // the repaints wait for the run's end.
  void PutBlock(BlockPosition& pos, uint32_t count);

  // Holds the video lock, taken at the first block put, across the blocks put while it lives,
  // and asks for their repaints when it ends. The decoder keeps one over the blocks it decodes
  // from bytes already received, so painting waits at most for one buffer's decoding and not
  // for the network. Console thread only.
  class BlockRun {
   public:
    explicit BlockRun(FrameBuffer& frameBuffer) : frameBuffer_(frameBuffer) {
      ++frameBuffer_.runDepth_;
    }
    ~BlockRun() {
      if (--frameBuffer_.runDepth_ == 0) frameBuffer_.EndBlocks();
    }
    BlockRun(const BlockRun&) = delete;
    BlockRun& operator=(const BlockRun&) = delete;

   private:
    FrameBuffer& frameBuffer_;
  };
  // Fills the remote screen's area with dark grey and asks for a repaint of the whole window.
  void ClearScreen(const BlockPosition& pos);
  // Writes text onto the frame at statusLineY in the status font, green on black; each carriage
  // return starts a new line 20 pixels lower, and the text's last line moves statusLineY by 40.
  void WriteStatusLine(std::string_view text);

  // The paint handler: copies updateRect of the frame to the window's pixels, composing the menu
  // bar over it on the back plane when the bar shows and overlaps the rectangle.
  void Paint(const Rect& updateRect, Surface& window, const MenuBarOverlay* bar = nullptr);

  // A copy of the frame surface taken under the video lock.
  Surface Snapshot();
  // The frame surface itself; callers hold the video lock.
  const Surface& frame() const { return *frame_; }
  NamedMutex& videoLock() { return *videoLock_; }

  uint32_t blocks_finished() const { return blocksFinished_; }
  uint32_t statusLineY() const { return statusLineY_; }
  static FontSpec StatusFont();

 private:
  void CopyBlock(int x, int y);
  void AddRepaint(int x, int y);
  // Releases the lock the blocks took and asks for their repaints.
  void EndBlocks();

  Host& host_;
  Painter& painter_;
  SurfaceFactory factory_;
  std::shared_ptr<NamedMutex> videoLock_;
  std::unique_ptr<Surface> frame_;
  std::unique_ptr<Surface> block_;
  std::unique_ptr<Surface> backPlane_;
  std::string failureText_;
  uint32_t blocksFinished_ = 0;
  uint32_t statusLineY_ = 0;
  // Blocks put since the last EndBlocks: the lock they took and their repaints, a rectangle per
  // row (beyond the last slot the rows are asked for as one).
  uint32_t runDepth_ = 0;
  bool lockTaken_ = false;
  bool ownsLock_ = false;
  std::array<Rect, 8> repaints_{};
  size_t repaintCount_ = 0;
};

}  // namespace remcons
