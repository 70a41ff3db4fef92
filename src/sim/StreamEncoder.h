// The server side of the video stream: turns 12-bit frames into a stream that the console's
// decoder draws pixel for pixel, and writes the stream's commands. It is written from the stream
// grammar; the only piece it shares with the console is the colour cache model, which is part of
// the format. The stream it writes never latches a conforming decoder and never contains a
// resynchronisation mark that was not asked for.
//
// Bits are written least significant bit of each byte first, each code with its most significant
// bit first. The decoder starts a session in RESET (empty cache, block 0,0, 50 x 37 blocks), which
// is where a new encoder starts too.
//
// Sending: TakeBytes() hands out the complete bytes written so far; the last, partial byte stays
// until more bits or Flush() complete it. Flush() pads with the alignment command so that a frame
// update can be sent whole and drawn at once.
//
// Key changes: KeyChange() writes the command, ends its byte and returns the stream offset where
// the new keystream begins. The console deciphers each network read as it arrives and switches
// keys for the reads after the one holding the command, so a server must
//   1. encipher every byte before that offset with the old keystream and send them,
//   2. send nothing more until the console has read them (pause, e.g. 200 ms, so that the next
//      bytes arrive in a read of their own),
//   3. step both of its keystreams to the next generation and encipher from the offset on with
//      the new one.
// If the console's read ever spans the offset it deciphers the following bytes with the wrong key
// and latches; sending a resynchronisation mark and a full frame after a key change limits the
// damage to that one update.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>
#include <vector>

#include "sim/ColorFrame.h"
#include "video/ColorCache.h"

namespace remcons::sim {

// Bits in stream order, least significant bit of each byte first.
class StreamBitWriter {
 public:
  // The low n bits of value (n up to 16), most significant first.
  void Put(uint32_t value, int n);
  // Completes the current byte with the given bit; nothing when it is complete.
  void PadByte(bool one);
  void PutByte(uint8_t byte) { Put(byte, 8); }

  bool aligned() const { return nbits_ == 0; }
  // Bits written so far.
  uint64_t bit_count() const { return (taken_ + bytes_.size()) * 8 + nbits_; }
  // Consecutive zero bits at the end of the stream.
  uint32_t zero_run() const { return zeroRun_; }
  // The complete bytes not yet taken.
  std::vector<uint8_t> Take();
  uint64_t taken() const { return taken_; }

  struct Mark {
    size_t bytes;
    uint32_t acc, nbits, zeroRun;
  };
  Mark Save() const { return {bytes_.size(), acc_, nbits_, zeroRun_}; }
  void Restore(const Mark& m);

 private:
  std::vector<uint8_t> bytes_;
  uint64_t taken_ = 0;
  uint32_t acc_ = 0;
  uint32_t nbits_ = 0;
  uint32_t zeroRun_ = 0;
};

struct EncoderStats {
  uint64_t blocks = 0;          // blocks drawn from pixel codes
  uint64_t repeatedBlocks = 0;  // blocks drawn by block repeats
  uint64_t skippedBlocks = 0;   // unchanged blocks passed over
  uint64_t resyncs = 0;         // marks written, asked for or as a way out
  uint64_t alignments = 0;      // alignment commands written
};

class StreamEncoder {
 public:
  // Firmware command numbers.
  enum Command : uint8_t {
    kExit = 1,
    kText = 2,
    kFrameRate = 3,
    kPowerOn = 4,
    kPowerOff = 5,
    kVideoSuspended = 6,
    kKeyChange = 9,
    kSeize = 10,
    kKill = 11,
  };

  StreamEncoder();

  // --- Screen ---
  // The mode command for a screen of width x height pixels; width a multiple of 16 up to 2032,
  // height up to 2047. False (nothing written) for other sizes. Clears the cache and puts the
  // block position at 0,0 on both sides.
  bool SetMode(int width, int height);
  // The mode command with a zero side: the console shows the server as powered off.
  void ModePowerOff();
  // Every block of the frame (a mode command first when its size is not the current mode's, and
  // always before the first frame).
  bool EncodeFullFrame(const ColorFrame& frame);
  // Only the blocks that differ from previous, the picture the console shows now.
  bool EncodeFrame(const ColorFrame& frame, const ColorFrame& previous);

  // --- Commands ---
  void Firmware(const std::vector<uint8_t>& operands, uint8_t command);
  void Exit() { Firmware({}, kExit); }
  void PowerOn() { Firmware({}, kPowerOn); }
  void PowerOff() { Firmware({}, kPowerOff); }
  void VideoSuspended() { Firmware({}, kVideoSuspended); }
  void Seize() { Firmware({}, kSeize); }
  void Kill() { Firmware({}, kKill); }
  void FrameRate(uint8_t rate) { Firmware({rate}, kFrameRate); }
  // The key change; returns the stream offset (bytes from the start) where the new key begins.
  uint64_t KeyChange();
  // A text record: zero bytes are left out and the text is cut at 255 characters.
  void Text(uint8_t channel, std::string_view text);
  // The alignment command: the next code starts at a byte boundary.
  void Align();
  // The resynchronisation mark: the console drops everything up to it and starts from RESET.
  void Resync();
  // Moves the block position (the next block goes there).
  void MoveTo(int blockX, int blockY);
  // Block repeats of the last block drawn, count at least 1.
  void RepeatBlock(int count);

  // --- Output ---
  // Makes every bit written sendable: the alignment command when a byte is open.
  void Flush();
  std::vector<uint8_t> TakeBytes() { return writer_.Take(); }
  // Bytes written so far, taken or not, counting an open byte.
  uint64_t offset() const { return (writer_.bit_count() + 7) / 8; }

  // --- The model of the console's state ---
  const ColorCache& cache() const { return cache_; }
  // Puts the cache model into a state (tests of the way out of an unaddressable colour).
  void LoadCacheModel(const ColorCache& cache) { cache_ = cache; }
  int block_x() const { return x_; }
  int block_y() const { return y_; }
  int width_blocks() const { return widthBlocks_; }
  int height_blocks() const { return heightBlocks_; }
  const EncoderStats& stats() const { return stats_; }

 private:
  using Block = std::array<uint16_t, 256>;

  void BeginCommand();
  void WriteMode(int widthBlocks, int heightBlocks, int extraLines);
  bool EncodeBlocks(const ColorFrame& frame, const ColorFrame* previous);
  static void GatherBlock(const ColorFrame& frame, int bx, int by, Block* block);
  void PositionAt(int bx, int by);
  void FlushRepeats();
  void EncodeBlock(const Block& block);
  bool TryPixels(const Block& block);
  bool PutColor(uint16_t color);
  void PutRepeat(uint32_t more);
  void Advance();

  StreamBitWriter writer_;
  ColorCache cache_;
  int x_ = 0, y_ = 0;
  int widthBlocks_ = 50, heightBlocks_ = 37;
  int extraLines_ = 0;
  int serverPower_ = 2;
  bool modeSent_ = false;
  Block lastBlock_{};
  bool lastBlockValid_ = false;
  int pendingRepeats_ = 0;
  EncoderStats stats_;
};

}  // namespace remcons::sim
