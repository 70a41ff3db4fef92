#include "sim/StreamEncoder.h"

#include <algorithm>

namespace remcons::sim {
namespace {

// The zero bits that may precede a block's first code: a block can open with up to 15 zero bits
// (START 0, an explicit grey 0 pixel without repeat, then a grey 1), and 31 would be a mark.
constexpr uint32_t kMaxZeroRunBeforeBlock = 15;

constexpr std::array<uint8_t, 256> kReversed = [] {
  std::array<uint8_t, 256> table{};
  for (int b = 0; b < 256; ++b) {
    int r = 0;
    for (int i = 0; i < 8; ++i) {
      if (b & (1 << i)) r |= 0x80 >> i;
    }
    table[static_cast<size_t>(b)] = static_cast<uint8_t>(r);
  }
  return table;
}();

uint32_t Reverse16(uint32_t v) {
  return (static_cast<uint32_t>(kReversed[v & 0xFF]) << 8) | kReversed[(v >> 8) & 0xFF];
}

}  // namespace

void StreamBitWriter::Put(uint32_t value, int n) {
  if (n <= 0) return;
  value &= (1u << n) - 1;
  acc_ |= (Reverse16(value) >> (16 - n)) << nbits_;
  nbits_ += static_cast<uint32_t>(n);
  while (nbits_ >= 8) {
    bytes_.push_back(static_cast<uint8_t>(acc_));
    acc_ >>= 8;
    nbits_ -= 8;
  }
  zeroRun_ = value == 0 ? zeroRun_ + static_cast<uint32_t>(n)
                        : static_cast<uint32_t>(__builtin_ctz(value));
}

void StreamBitWriter::PadByte(bool one) {
  if (nbits_ == 0) return;
  const int n = 8 - static_cast<int>(nbits_);
  Put(one ? (1u << n) - 1 : 0, n);
}

std::vector<uint8_t> StreamBitWriter::Take() {
  std::vector<uint8_t> out;
  out.swap(bytes_);
  taken_ += out.size();
  return out;
}

void StreamBitWriter::Restore(const Mark& m) {
  bytes_.resize(m.bytes);
  acc_ = m.acc;
  nbits_ = m.nbits;
  zeroRun_ = m.zeroRun;
}

StreamEncoder::StreamEncoder() = default;

// --- Commands ---

void StreamEncoder::BeginCommand() {
  FlushRepeats();
}

void StreamEncoder::WriteMode(int widthBlocks, int heightBlocks, int extraLines) {
  BeginCommand();
  // START 1, CMD 0, CMD0 1, EXTCMD 1, EXTCMD1 0, EXTCMD2 0, then MODE0, MODE1, MODE2.
  writer_.Put(0b101100, 6);
  writer_.Put(static_cast<uint32_t>(widthBlocks), 7);
  writer_.Put(static_cast<uint32_t>(heightBlocks), 7);
  writer_.Put(static_cast<uint32_t>(extraLines), 4);
  if (widthBlocks != 0 && heightBlocks != 0) {
    serverPower_ = 1;
    widthBlocks_ = widthBlocks;
    heightBlocks_ = heightBlocks;
  } else if (serverPower_ != 0) {
    serverPower_ = 0;
    widthBlocks_ = 50;
    heightBlocks_ = 38;
  }
  extraLines_ = extraLines;
  modeSent_ = true;
  x_ = y_ = 0;
  cache_.cache_clear();
}

bool StreamEncoder::SetMode(int width, int height) {
  if (width < 16 || width > 127 * 16 || width % 16 != 0 || height < 16 || height > 127 * 16 + 15) {
    return false;
  }
  WriteMode(width / 16, height / 16, height % 16);
  return true;
}

void StreamEncoder::ModePowerOff() {
  WriteMode(0, 0, 0);
}

void StreamEncoder::Firmware(const std::vector<uint8_t>& operands, uint8_t command) {
  BeginCommand();
  // START 1, CMD 0, CMD0 1, EXTCMD 1, EXTCMD1 1; each byte is followed by CORP: 1 when another
  // byte follows, 0 to execute. The console keeps 256 operands at most.
  writer_.Put(0b10111, 5);
  const size_t count = std::min<size_t>(operands.size(), 256);
  for (size_t i = 0; i < count; ++i) {
    writer_.Put(operands[i], 8);
    writer_.Put(1, 1);
  }
  writer_.Put(command, 8);
  writer_.Put(0, 1);
  switch (command) {
    case kPowerOn:
      serverPower_ = 1;
      break;
    case kPowerOff:
      serverPower_ = 0;
      break;
    case kKeyChange:
      // The console drops the rest of the byte; ones keep the zero count short.
      writer_.PadByte(true);
      break;
    default:
      break;
  }
}

uint64_t StreamEncoder::KeyChange() {
  Firmware({}, kKeyChange);
  return writer_.bit_count() / 8;
}

void StreamEncoder::Text(uint8_t channel, std::string_view text) {
  Firmware({}, kText);
  writer_.Put(channel, 8);
  size_t written = 0;
  for (char c : text) {
    if (c == 0) continue;
    if (written == 255) break;
    writer_.Put(static_cast<uint8_t>(c), 8);
    ++written;
  }
  writer_.Put(0, 8);
}

void StreamEncoder::Align() {
  BeginCommand();
  // START 1, CMD 0, CMD0 1, EXTCMD 1, EXTCMD1 0, EXTCMD2 1: the rest of the byte is dropped.
  writer_.Put(0b101101, 6);
  writer_.PadByte(true);
  ++stats_.alignments;
}

void StreamEncoder::Resync() {
  BeginCommand();
  // Zero bits to the end of the byte (read as codes from START they add at most one pixel and
  // then latch, so nothing reaches the screen), four zero bytes (32 zero bits whatever came
  // before), and a closing byte that the console drops.
  writer_.PadByte(false);
  for (int i = 0; i < 4; ++i) writer_.Put(0, 8);
  writer_.Put(0xFF, 8);
  cache_.cache_clear();
  x_ = y_ = 0;
  lastBlockValid_ = false;  // the bits before the mark may have touched the block pixels
  ++stats_.resyncs;
}

void StreamEncoder::MoveTo(int blockX, int blockY) {
  BeginCommand();
  blockX &= 127;
  blockY &= 127;
  if (blockY == y_ && blockX > x_ && blockX - x_ <= 8) {
    // START 1, CMD 0, CMD0 0, CMDX 0: skip n + 1 blocks.
    writer_.Put(0b1000, 4);
    writer_.Put(static_cast<uint32_t>(blockX - x_ - 1), 3);
  } else if (blockY == y_) {
    // START 1, CMD 0, CMD0 0, CMDX 1: column.
    writer_.Put(0b1001, 4);
    writer_.Put(static_cast<uint32_t>(blockX), 7);
  } else {
    // START 1, CMD 1: column and row.
    writer_.Put(0b11, 2);
    writer_.Put(static_cast<uint32_t>(blockX), 7);
    writer_.Put(static_cast<uint32_t>(blockY), 7);
  }
  x_ = blockX;
  y_ = blockY;
}

void StreamEncoder::RepeatBlock(int count) {
  BeginCommand();
  pendingRepeats_ = count;
  for (int i = 0; i < count; ++i) Advance();
  FlushRepeats();
}

void StreamEncoder::FlushRepeats() {
  int count = pendingRepeats_;
  pendingRepeats_ = 0;
  while (count > 0) {
    const int n = std::min(count, 127);
    if (n == 1) {
      // START 1, CMD 0, CMD0 1, EXTCMD 0, BLKRPT 0.
      writer_.Put(0b10100, 5);
    } else if (n <= 9) {
      // ... BLKRPT 1, BLKRPT1 0: n - 2.
      writer_.Put(0b101010, 6);
      writer_.Put(static_cast<uint32_t>(n - 2), 3);
    } else {
      // ... BLKRPT 1, BLKRPT1 1: n.
      writer_.Put(0b101011, 6);
      writer_.Put(static_cast<uint32_t>(n), 7);
    }
    stats_.repeatedBlocks += static_cast<uint64_t>(n);
    count -= n;
  }
}

void StreamEncoder::Flush() {
  FlushRepeats();
  if (!writer_.aligned()) Align();
}

// --- Frames ---

void StreamEncoder::Advance() {
  if (++x_ >= widthBlocks_) {
    x_ = 0;
    if (++y_ == heightBlocks_) y_ = 0;
  }
}

void StreamEncoder::GatherBlock(const ColorFrame& frame, int bx, int by, Block* block) {
  // Rows and columns past the frame's edge repeat its last row and column.
  const int x0 = bx * 16;
  for (int y = 0; y < 16; ++y) {
    const int fy = std::min(by * 16 + y, frame.height() - 1);
    const uint16_t* row = frame.Row(fy);
    uint16_t* out = block->data() + y * 16;
    if (x0 + 16 <= frame.width()) {
      std::copy_n(row + x0, 16, out);
    } else {
      for (int x = 0; x < 16; ++x) out[x] = row[std::min(x0 + x, frame.width() - 1)];
    }
  }
}

void StreamEncoder::PositionAt(int bx, int by) {
  if (bx != x_ || by != y_) MoveTo(bx, by);
}

bool StreamEncoder::PutColor(uint16_t color) {
  const int32_t active = cache_.active();
  int found = -1;
  for (int i = 0; i < active; ++i) {
    if (cache_.entry(i).color == color) {
      found = i;
      break;
    }
  }
  if (found < 0) {
    const uint16_t r = color >> 8, g = (color >> 4) & 0xF, b = color & 0xF;
    if (r == g && g == b) {
      // PIXELS 0, PIXFAN 0, PIXSPEC 0, PIXGREY.
      writer_.Put(0b000, 3);
      writer_.Put(g, 4);
    } else {
      // PIXELS 0, PIXFAN 0, PIXSPEC 1, PIXRGBR, PIXRGBG, PIXRGBB.
      writer_.Put(0b001, 3);
      writer_.Put(color, 12);
    }
    cache_.cache_lru(color);
    return true;
  }
  // The console finds a rank's first entry in index order; another entry of the same rank
  // shadows this one.
  const uint32_t rank = cache_.entry(found).rank;
  for (int i = 0; i < found; ++i) {
    if (cache_.entry(i).rank == rank) return false;
  }
  if (active == 1 || rank == 1) {
    // PIXELS 1, PIXLRU1: rank 1, or rank 0 when only one colour is cached.
    if (active == 1 && rank != 0) return false;
    writer_.Put(1, 1);
  } else {
    // PIXELS 0, PIXFAN 1, then an index of the cache's width (none with two colours).
    const int bits = ColorCache::IndexBitsFor(active);
    const uint32_t index = rank == 0 ? 0 : rank - 1;
    if (bits == 0 ? rank != 0 : index >= (1u << bits)) return false;
    writer_.Put(0b01, 2);
    writer_.Put(index, bits);
  }
  uint16_t check;
  cache_.cache_find(rank, &check);
  return true;
}

void StreamEncoder::PutRepeat(uint32_t more) {
  if (more == 0) {
    writer_.Put(0, 1);  // PIXRPT 0
  } else if (more == 1) {
    writer_.Put(0b10, 2);  // PIXRPT 1, PIXRPT1 0: PIXDUP
  } else if (more <= 7) {
    writer_.Put(0b11, 2);  // PIXRPT1 1, PIXRPTSTD1 0-5
    writer_.Put(more - 2, 3);
  } else if (more <= 15) {
    writer_.Put(0b11110, 5);  // PIXRPTSTD1 6, PIXRPTSTD2
    writer_.Put(more - 8, 3);
  } else {
    writer_.Put(0b11111, 5);  // PIXRPTSTD1 7, PIXRPTNSTD
    writer_.Put(more, 8);
  }
}

bool StreamEncoder::TryPixels(const Block& block) {
  writer_.Put(0, 1);  // START 0
  size_t i = 0;
  while (i < block.size()) {
    size_t end = i + 1;
    while (end < block.size() && block[end] == block[i]) ++end;
    if (!PutColor(block[i])) return false;
    PutRepeat(static_cast<uint32_t>(end - i - 1));
    i = end;
  }
  return true;
}

void StreamEncoder::EncodeBlock(const Block& block) {
  if (writer_.zero_run() > kMaxZeroRunBeforeBlock) Align();
  const StreamBitWriter::Mark mark = writer_.Save();
  const ColorCache saved = cache_;
  if (!TryPixels(block)) {
    // A cached colour that no code can address (not met in a stream written from the start by
    // this encoder): start afresh from a mark with an empty cache.
    writer_.Restore(mark);
    cache_ = saved;
    const int bx = x_, by = y_;
    Resync();
    PositionAt(bx, by);
    if (writer_.zero_run() > kMaxZeroRunBeforeBlock) Align();
    TryPixels(block);
  }
  cache_.cache_prune();
  lastBlock_ = block;
  lastBlockValid_ = true;
  ++stats_.blocks;
  Advance();
}

bool StreamEncoder::EncodeBlocks(const ColorFrame& frame, const ColorFrame* previous) {
  // The first frame always comes with its mode, so that the console sizes its window for it.
  if (!modeSent_ || frame.width() != widthBlocks_ * 16 ||
      frame.height() != heightBlocks_ * 16 + extraLines_) {
    if (!SetMode(frame.width(), frame.height())) return false;
    previous = nullptr;  // a new mode: everything is drawn
  }
  if (previous && (previous->width() != frame.width() || previous->height() != frame.height())) {
    previous = nullptr;
  }
  const int rows = heightBlocks_ + (extraLines_ > 0 ? 1 : 0);
  Block block, before;
  for (int by = 0; by < rows; ++by) {
    for (int bx = 0; bx < widthBlocks_; ++bx) {
      GatherBlock(frame, bx, by, &block);
      if (previous) {
        GatherBlock(*previous, bx, by, &before);
        if (block == before) {
          ++stats_.skippedBlocks;
          continue;
        }
      }
      if (lastBlockValid_ && block == lastBlock_) {
        // The console still holds these pixels: a block repeat draws them again.
        if (bx != x_ || by != y_) {
          FlushRepeats();
          PositionAt(bx, by);
        }
        ++pendingRepeats_;
        Advance();
        continue;
      }
      FlushRepeats();
      PositionAt(bx, by);
      EncodeBlock(block);
    }
  }
  FlushRepeats();
  return true;
}

bool StreamEncoder::EncodeFullFrame(const ColorFrame& frame) {
  return EncodeBlocks(frame, nullptr);
}

bool StreamEncoder::EncodeFrame(const ColorFrame& frame, const ColorFrame& previous) {
  return EncodeBlocks(frame, &previous);
}

}  // namespace remcons::sim
