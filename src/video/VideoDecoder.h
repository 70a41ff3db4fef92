// The video stream decoder: a table-driven machine of 48 states that turns the server's bit stream
// into 16 x 16 pixel blocks, block repeats, moves, mode changes, text records and firmware
// commands. It is the console thread's main loop; the session wraps it (connect before Start,
// close and notices after Decode).
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <string_view>

#include "video/BitReader.h"
#include "video/ColorCache.h"
#include "video/FrameBuffer.h"
#include "video/VideoEvents.h"
#include "video/VideoModes.h"
#include "video/VideoStates.h"

namespace remcons {

// Where this console stands in a multi-user session.
struct DecoderRole {
  // A joining console: starts hunting for the running stream, and its texts name the leader.
  bool multiUserClient = false;
  // A session leader: text channel 0x80 carries the answers to join requests.
  bool sessionLeader = false;
};

// Sees the stream's commands as they are decoded (offline tools, tests); called on the console
// thread, never per pixel.
class StreamObserver {
 public:
  virtual ~StreamObserver() = default;
  // A mode command: the remote screen in pixels.
  virtual void OnMode(int /*width*/, int /*height*/) {}
  // A complete text record (at most 255 characters).
  virtual void OnText(uint8_t /*channel*/, std::string_view /*text*/) {}
  // A firmware command other than the text record's, before it is carried out; operands 1 to
  // count (at most 256 are kept).
  virtual void OnFirmware(uint32_t /*command*/, const uint32_t* /*operands*/, uint32_t /*count*/) {}
  // A resynchronisation mark.
  virtual void OnResync() {}
};

// Why Decode returned.
enum class DecodeEnd {
  kStopped,         // the stop flag was set (session stop, text channel 6)
  kExit,            // the stream reached EXIT (exit, seize or kill command)
  kConnectionLost,  // the byte source ended; the user has been told unless stopping
};

class VideoDecoder {
 public:
  static constexpr uint8_t kRefreshRequest[3] = {0x1B, 0x5B, 0x7E};
  static constexpr uint32_t kMaxFirmwareOperands = 256;
  static constexpr uint32_t kMaxTextLength = 255;

  VideoDecoder(FrameBuffer& frameBuffer, VideoModes& modes, VideoEvents& events);

  // The bit reader, whose byte source and refill observer the session sets before Start.
  BitReader& reader() { return reader_; }
  void SetObserver(StreamObserver* observer) { observer_ = observer; }

  // The decoder's part of a session start: bit tables, an empty colour cache, RESET (HUNT for a
  // multi-user client), a remote screen of 50 x 37 blocks. False when the frame surfaces do not
  // exist.
  bool Start(const DecoderRole& role);
  // Runs the machine until the stop flag, EXIT or the end of the byte source. Traces
  // "State Machine Exiting" at its end.
  DecodeEnd Decode();

  // Asks Decode to leave its loop after the current step (any thread).
  void RequestStop() {
    stop_.store(true, std::memory_order_relaxed);
    interrupt_.store(true, std::memory_order_release);
  }
  void ClearStop() { stop_.store(false, std::memory_order_relaxed); }
  bool stop_requested() const { return stop_.load(std::memory_order_relaxed); }
  // Puts the machine back to RESET before its next step (after a replay; any thread).
  void RequestReset() {
    resetRequested_.store(true, std::memory_order_release);
    interrupt_.store(true, std::memory_order_release);
  }

  // State for the capture records and for tests; console thread only.
  int32_t state() const { return state_; }
  int32_t next_state() const { return next_state_; }
  const BlockPosition& position() const { return pos_; }
  uint32_t pixel_count() const { return pixel_count_; }
  uint16_t last_color() const { return last_color_; }
  uint16_t extra_lines() const { return extra_lines_; }
  int32_t server_power() const { return server_power_; }
  uint32_t latch_count() const { return latch_count_; }
  uint32_t step_count() const { return step_count_; }
  uint32_t fw_count() const { return fw_count_; }
  uint32_t fw_arg(uint32_t index) const { return fw_args_[index]; }
  const ColorCache& cache() const { return cache_; }
  const vstate::StateTable& table() const { return table_; }

 private:
  // How RunPixels left the machine.
  enum class RunEnd {
    kRan,          // (within RunPixels) a run or a block was taken
    kOneStep,      // in PIXELS: the next run is taken one state at a time
    kLatched,      // a colour was refused: LATCHED follows
    kStart,        // a block was put: START reads its code
    kInterrupted,  // a stop or a reset is asked for; next_state_ says where to go on
  };
  // RunPixels' registers, in memory for its rarer paths.
  struct RunState {
    BitReader::Window w;
    uint32_t pixels;
    uint32_t steps;
    uint16_t code;
    ColorCache::RankRegister ranks;
  };
  RunEnd RunPixels();
  [[gnu::noinline]] RunEnd OtherRun(RunState& s);
  [[gnu::noinline]] RunEnd FinishBlock(RunState& s);
  void Act(uint16_t code);
  void ExplicitHit(uint16_t color, uint32_t steps);
  // In the header: the loop and Act, in two files, both want it inlined.
  void PutBlock(uint32_t count) {
    next_state_ = vstate::START;
    pixel_count_ = 0;
    frameBuffer_.PutBlock(pos_, count);
  }
  void Latched();
  void RequestRefresh();
  void ModeSize(uint16_t code);
  void ModeSwitch(uint16_t code);
  void StoreFirmwareByte(uint16_t code);
  void RunFirmwareCommand();
  void EndTextRecord();
  void StatusLine(const char* text, bool write);
  DecodeEnd ConnectionLost();

  FrameBuffer& frameBuffer_;
  VideoModes& modes_;
  VideoEvents& events_;
  BitReader reader_;
  ColorCache cache_;
  vstate::StateTable table_ = vstate::kStateTable;
  const Pixel* expand_;
  Pixel* block_pixels_ = nullptr;
  DecoderRole role_;
  StreamObserver* observer_ = nullptr;

  int32_t state_ = vstate::RESET;
  int32_t next_state_ = vstate::RESET;
  BlockPosition pos_;
  uint16_t extra_lines_ = 0;
  uint16_t temp_ = 0;
  uint32_t pixel_count_ = 0;
  uint16_t last_color_ = 0;
  uint16_t red_ = 0;
  uint16_t green_ = 0;
  int32_t server_power_ = 2;  // unknown until the stream says
  uint32_t fw_count_ = 0;
  uint32_t fw_last_ = 0;
  std::array<uint32_t, kMaxFirmwareOperands + 1> fw_args_{};  // operands 1 to 256
  uint8_t print_channel_ = 0;
  std::array<char, kMaxTextLength + 1> print_text_{};
  uint32_t print_len_ = 0;
  uint32_t latch_count_ = 0;
  uint16_t latched_x_ = 0;
  uint16_t latched_y_ = 0;
  uint32_t step_count_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<bool> resetRequested_{false};
  std::atomic<bool> interrupt_{false};  // a stop or a reset is asked for
};

}  // namespace remcons
