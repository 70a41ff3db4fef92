// A second decoder of the video stream, written plainly from the grammar for the tests to hold the
// fast one against: one GetBit per state, one byte at a time from a 4096-byte buffer, the colour
// cache as 17 records scanned in index order, a frame of its own. It keeps nothing in common with
// the console's decoder but the constant state table, so a fast path that drifts from the format
// (a pixel too many, a read too early, a mark seen a byte late) shows as a difference in the
// picture, the decoder's state, the reads or the trace.
#pragma once

#include <array>
#include <bit>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/Surface.h"
#include "video/BitReader.h"
#include "video/VideoStates.h"

namespace remcons::testing {

class ReferenceDecoder {
 public:
  enum class End { kStopped, kExit, kConnectionLost };
  struct Entry {
    uint16_t color = 0;
    uint16_t rank = 0;
    uint32_t used = 0;
  };

  ReferenceDecoder(int frameWidth, int frameHeight)
      : width(frameWidth),
        height(frameHeight),
        frame(static_cast<size_t>(frameWidth) * frameHeight, Rgb(0, 0, 0)) {}

  void SetSource(ByteSource* source) { source_ = source; }

  void Start(bool multiUserClient) {
    CacheClear();
    acc_ = nbits_ = zeroRun_ = 0;
    code_ = 0;
    state = next_state = multiUserClient ? vstate::HUNT : vstate::RESET;
    width_blocks = 50;
    height_blocks = 37;
  }

  End Decode() {
    using namespace vstate;
    for (;;) {
      ++step_count;
      if (state == EXIT) return End::kExit;
      const int result = GetBit(static_cast<uint32_t>(table_[static_cast<size_t>(state)].bits));
      if (result == 1) return End::kConnectionLost;
      if (result == 4) {
        trace.push_back("Status=4, causes reset state.\n");
        events.push_back("resync");
      } else {
        const auto& record = table_[static_cast<size_t>(state)];
        next_state = code_ == 0 ? record.next0 : record.next1;
        skipCompletion_ = false;
        Act();
        if (!skipCompletion_ && next_state == PIXELS && pixel_count == 256) {
          PutBlock(1);
          CachePrune();
          table_[PIXFAN].next1 = cacheNextState;
        }
      }
      state = next_state;
      if (stop_) return End::kStopped;
    }
  }

  // The picture and the machine's state after Decode.
  int width, height;
  std::vector<Pixel> frame;
  std::array<Pixel, 256> block{};
  int32_t state = vstate::RESET, next_state = vstate::RESET;
  uint16_t block_x = 0, block_y = 0, width_blocks = 50, height_blocks = 37, extra_lines = 0;
  uint32_t pixel_count = 0, step_count = 0, latch_count = 0, blocks_finished = 0;
  uint16_t last_color = 0;
  int32_t server_power = 2;
  int32_t active = 0;
  std::array<Entry, 17> entries{};
  int32_t cacheNextState = vstate::LATCHED;
  uint32_t refreshRequests = 0;
  int32_t pixfan_next1() const { return table_[vstate::PIXFAN].next1; }
  // The decoder's own trace lines (texts as the console writes them) and the stream's commands.
  std::vector<std::string> trace;
  std::vector<std::string> events;

 private:
  static Pixel Expand(uint16_t c) {
    return Rgb(static_cast<uint8_t>(((c >> 8) & 0xF) * 16),
               static_cast<uint8_t>(((c >> 4) & 0xF) * 16), static_cast<uint8_t>((c & 0xF) * 16));
  }
  template <typename... Args>
  void Trace(const char* format, Args... args) {
    char text[128];
    std::snprintf(text, sizeof text, format, args...);
    trace.push_back(text);
  }

  // --- Bits ---
  int ReadByte(uint8_t* out) {
    if (position_ == length_) {
      position_ = 0;
      const int got = source_ ? source_->Read(buffer_.data(), BitReader::kBufferSize) : 0;
      length_ = got > 0 ? static_cast<uint32_t>(got) : 0;
    }
    if (length_ == 0) return 0;
    *out = buffer_[position_++];
    return 1;
  }
  int GetBit(uint32_t n) {
    if (n == 0) return 0;
    if (nbits_ < n) {
      uint8_t byte = 0;
      if (ReadByte(&byte) == 0) {
        Trace("GetBit: %d bytes returned from ReadByte.\n", 0);
        return 1;
      }
      zeroRun_ += static_cast<uint32_t>(std::countr_zero(byte));
      if (zeroRun_ >= 31) {
        while (byte == 0) {
          const int got = ReadByte(&byte);
          if (got != 1) {
            Trace("GetBit: ReadByte error %d\n", got);
            return 1;
          }
        }
        nbits_ = 0;
        acc_ = 0;
        zeroRun_ = static_cast<uint32_t>(std::countr_zero(byte));
        state = next_state = vstate::RESET;
        return 4;
      }
      if (byte != 0) zeroRun_ = static_cast<uint32_t>(std::countl_zero(byte));
      acc_ |= static_cast<uint32_t>(byte) << nbits_;
      nbits_ += 8;
    }
    // The first bit read is the code's most significant.
    code_ = 0;
    for (uint32_t i = 0; i < n; ++i, acc_ >>= 1)
      code_ = static_cast<uint16_t>(code_ << 1 | (acc_ & 1));
    nbits_ -= n;
    return 0;
  }
  void DiscardRestOfByte() {
    acc_ >>= nbits_ % 8;
    nbits_ -= nbits_ % 8;
  }

  // --- Colour cache ---
  Entry& E(int i) { return entries[static_cast<size_t>(i)]; }
  void WidthRule() {
    using namespace vstate;
    cacheNextState = active <= 1   ? LATCHED
                     : active == 2 ? PIXLRU0
                     : active == 3 ? PIXCODE1
                     : active <= 5 ? PIXCODE2
                     : active <= 9 ? PIXCODE3
                                   : PIXCODE4;
  }
  void CacheClear() {
    active = 0;
    for (auto& e : entries) e.rank = 0;
  }
  bool CacheFind(uint32_t rank, uint16_t* color) {
    int found = -1;
    for (int i = 0; i < active; ++i) {
      if (E(i).rank == rank) {
        found = i;
        break;
      }
    }
    if (found < 0) return false;
    *color = E(found).color;
    for (int i = 0; i < active; ++i) {
      if (E(i).rank < rank) ++E(i).rank;
    }
    E(found).rank = 0;
    E(found).used = 1;
    return true;
  }
  // True on a hit.
  bool CacheLru(uint16_t color) {
    int found = -1, lru = 0;
    for (int i = 0; i < active; ++i) {
      if (E(i).rank == static_cast<uint32_t>(active - 1)) lru = i;
      if (found < 0 && E(i).color == color) found = i;
    }
    int chosen;
    uint32_t threshold;
    if (found >= 0) {
      chosen = found;
      threshold = E(found).rank;
    } else if (active < 17) {
      chosen = active;
      threshold = static_cast<uint32_t>(active);
      ++active;
      WidthRule();
    } else {
      chosen = lru;
      threshold = E(lru).rank;
    }
    if (found < 0) E(chosen).color = color;
    E(chosen).used = 1;
    for (int i = 0; i < active; ++i) {
      if (E(i).rank < threshold) ++E(i).rank;
    }
    E(chosen).rank = 0;
    return found >= 0;
  }
  void CachePrune() {
    int i = 0;
    while (i < active) {
      auto& e = E(i);
      if (e.used != 0) {
        --e.used;
        ++i;
      } else {
        --active;
        e = E(active);
      }
    }
    WidthRule();
  }

  // --- Frame ---
  void AddPixel(uint16_t color) {
    if (pixel_count == 256) {
      Trace("Too many pixels in block (LRU pixel).  pixel_count: %x\n", pixel_count);
      next_state = vstate::LATCHED;
      return;
    }
    block[pixel_count++] = Expand(color);
    last_color = color;
  }
  void Repeat(uint32_t count) {
    for (uint32_t i = 0; i < count; ++i) AddPixel(last_color);
  }
  void PutBlock(uint32_t count) {
    next_state = vstate::START;
    pixel_count = 0;
    for (uint32_t n = 0; n < count; ++n) {
      for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 16; ++x) {
          const int fx = block_x * 16 + x, fy = block_y * 16 + y;
          if (fx < width && fy < height) {
            frame[static_cast<size_t>(fy) * static_cast<size_t>(width) + static_cast<size_t>(fx)] =
                block[static_cast<size_t>(y * 16 + x)];
          }
        }
      }
      if (++block_x >= width_blocks) {
        block_x = 0;
        if (++block_y == height_blocks) block_y = 0;
      }
    }
    ++blocks_finished;
  }
  void ClearScreen() {
    for (int y = 0; y < std::min(height, height_blocks * 16); ++y) {
      for (int x = 0; x < std::min(width, width_blocks * 16); ++x) {
        frame[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)] =
            Rgb(60, 60, 60);
      }
    }
  }
  void Cached(uint32_t rank) {
    if (active == 1) rank = 0;
    uint16_t color = 0;
    if (CacheFind(rank, &color)) {
      AddPixel(color);
    } else {
      Trace("could not find color for LRU %d\n", rank);
      next_state = vstate::LATCHED;
      skipCompletion_ = true;
    }
  }
  void Explicit(uint16_t color) {
    const bool hit = CacheLru(color);
    table_[vstate::PIXFAN].next1 = cacheNextState;
    if (!hit) {
      AddPixel(color);
      return;
    }
    if (step_count <= 6) {
      Trace("Possible reset underway. Color %3x\n", color);
    } else {
      Trace("color %3x generated a hit\n", color);
    }
    next_state = vstate::LATCHED;
    skipCompletion_ = true;
  }

  void Firmware() {
    std::string text = "fw " + std::to_string(fwBytes_.back());
    for (size_t i = 0; i + 1 < fwBytes_.size() && i < 256; ++i) {
      text += " " + std::to_string(fwBytes_[i]);
    }
    const uint32_t command = fwBytes_.back();
    fwBytes_.clear();
    if (command != 2) events.push_back(text);
    switch (command) {
      case 1:
      case 10:
      case 11:
        if (command != 1) ClearScreen();
        next_state = vstate::EXIT;
        break;
      case 2:
        next_state = vstate::PRINT0;
        break;
      case 4:
        if (server_power != 1) events.push_back("power-on");
        server_power = 1;
        break;
      case 5:
        if (server_power != 0) {
          server_power = 0;
          events.push_back("power-off");
          ClearScreen();
        }
        break;
      case 6:
        ClearScreen();
        break;
      case 9:
        DiscardRestOfByte();
        break;
      default:
        break;
    }
  }

  void Act() {
    using namespace vstate;
    const uint16_t code = code_;
    switch (state) {
      case RESET:
        trace.push_back("StateMachine: RESET\n");
        CacheClear();
        pixel_count = 0;
        block_x = block_y = 0;
        latch_count = 0;
        red_ = green_ = 0;
        break;
      case PIXLRU1:
        Cached(1);
        break;
      case PIXLRU0:
        Cached(0);
        break;
      case PIXCODE1:
      case PIXCODE2:
      case PIXCODE3:
      case PIXCODE4:
        Cached(code == 0 ? 0u : code + 1u);
        break;
      case PIXCODE:
        next_state = cacheNextState;
        break;
      case PIXGREY:
        Explicit(static_cast<uint16_t>(code * 0x111));
        break;
      case PIXRGBR:
        red_ = static_cast<uint16_t>(code << 8);
        break;
      case PIXRGBG:
        green_ = static_cast<uint16_t>(code << 4);
        break;
      case PIXRGBB:
        Explicit(static_cast<uint16_t>(red_ | green_ | code));
        break;
      case PIXDUP:
        AddPixel(last_color);
        break;
      case PIXRPTSTD1:
        if (code == 7) {
          next_state = PIXRPTNSTD;
          skipCompletion_ = true;
        } else if (code == 6) {
          next_state = PIXRPTSTD2;
          skipCompletion_ = true;
        } else {
          Repeat(code + 2u);
        }
        break;
      case PIXRPTSTD2:
        Repeat(code + 8u);
        break;
      case PIXRPTNSTD:
        if (code < 16) trace.push_back("qel:non-std repeat misused\n");
        Repeat(code);
        break;
      case MOVEXY0:
      case MODE0:
        temp_ = code;
        break;
      case MOVEXY1:
        block_x = temp_;
        block_y = code;
        break;
      case MOVESHORTX:
        block_x = static_cast<uint16_t>((block_x + code + 1) & 127);
        break;
      case MOVELONGX:
        block_x = static_cast<uint16_t>(code & 127);
        break;
      case BLKDUP:
        PutBlock(1);
        break;
      case BLKRPTSTD:
        PutBlock(code + 2u);
        break;
      case BLKRPTNSTD:
        PutBlock(code);
        break;
      case MODE1:
        if (temp_ != 0 && code != 0) {
          if (server_power != 1) events.push_back("power-on");
          server_power = 1;
          width_blocks = temp_;
          height_blocks = code;
        } else if (server_power != 0) {
          server_power = 0;
          events.push_back("power-off");
          ClearScreen();
          width_blocks = 50;
          height_blocks = 38;
        }
        break;
      case MODE2:
        block_x = block_y = 0;
        pixel_count = 0;
        CacheClear();
        extra_lines = code;
        events.push_back("mode " + std::to_string(width_blocks * 16) + " " +
                         std::to_string(height_blocks * 16 + extra_lines));
        break;
      case TIMEOUT:
        DiscardRestOfByte();
        break;
      case FIRMWARE:
        fwBytes_.push_back(code);
        break;
      case CORP:
        if (code == 0) Firmware();
        break;
      case PRINT0:
        printChannel_ = code;
        printText_.clear();
        break;
      case PRINT1:
        if (code != 0) {
          if (printText_.size() < 255) printText_ += static_cast<char>(code);
          break;
        }
        events.push_back("text " + std::to_string(printChannel_) + " " + printText_);
        if (printChannel_ == 6) stop_ = true;
        next_state = START;
        skipCompletion_ = true;
        break;
      case LATCHED:
        if (latch_count == 0) {
          latchedX_ = block_x;
          latchedY_ = block_y;
        }
        if (latch_count == 40) {
          Trace("Latched: byte count %d ", step_count);
          Trace(" current block at %d %d.\n", latchedX_, latchedY_);
          ++refreshRequests;
        }
        ++latch_count;
        if (latch_count == 120000) {
          trace.push_back("Requesting refresh1\n");
          ++refreshRequests;
        }
        if (latch_count == 12000000) {
          trace.push_back("Requesting refresh2\n");
          ++refreshRequests;
          latch_count = 41;
        }
        break;
      case HUNT:
        trace.push_back("StateMachine: HUNT\n");
        if (code != 0) {
          nbits_ = acc_ = zeroRun_ = 0;
          step_count = 0;
        }
        break;
      default:
        break;
    }
  }

  vstate::StateTable table_ = vstate::kStateTable;
  ByteSource* source_ = nullptr;
  std::array<uint8_t, BitReader::kBufferSize> buffer_{};
  uint32_t length_ = 0, position_ = 0;
  uint32_t acc_ = 0, nbits_ = 0, zeroRun_ = 0;
  uint16_t code_ = 0;
  bool skipCompletion_ = false;
  bool stop_ = false;
  uint16_t temp_ = 0, red_ = 0, green_ = 0;
  uint16_t latchedX_ = 0, latchedY_ = 0;
  std::vector<uint32_t> fwBytes_;
  uint32_t printChannel_ = 0;
  std::string printText_;
};

}  // namespace remcons::testing
