#include "video/VideoDecoder.h"

#include <algorithm>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#include <cstring>
#include <string_view>

#include "platform/Host.h"
#include "platform/Strings.h"
#include "platform/Trace.h"

namespace remcons {

using namespace vstate;

namespace {

// Refresh requests of a latched decoder: at its 41st step, then when the count reaches these.
constexpr uint32_t kLatchFirstRequest = 40;
constexpr uint32_t kLatchSecondRequest = 120000;
constexpr uint32_t kLatchThirdRequest = 12000000;

// Firmware command numbers.
enum FirmwareCommand : uint32_t {
  kFwExit = 1,
  kFwText = 2,
  kFwFrameRate = 3,
  kFwPowerOn = 4,
  kFwPowerOff = 5,
  kFwVideoSuspended = 6,
  kFwKeyChange = 9,
  kFwSeize = 10,
  kFwKill = 11,
};

// The bits of the longest pixel run: an explicit colour (15), its flag and an 8-bit repeat (12).
constexpr uint64_t kLongestRun = 28;

// Steps from PIXELS up to the state that reads a run's repeat flag, by the flag's place: PIXLRU1
// (1), PIXLRU0 (2), PIXCODE1 to PIXCODE4 and PIXRPT (3 to 6), PIXGREY and PIXRPT (7), the
// explicit RGB states and PIXRPT (15).
constexpr std::array<uint8_t, 16> kStepsToFlag = {0, 2, 3, 4, 4, 4, 4, 5, 0, 0, 0, 0, 0, 0, 0, 7};

// The repeat after a pixel's colour, by the five bits from its flag on: the flag (PIXRPT, or the
// cached state that reads it), PIXRPT1 and PIXRPTSTD1.
struct RepeatForm {
  uint8_t bits;        // the flag and the repeat's codes with the count field
  uint8_t steps;       // states after the flag's
  uint8_t pixels;      // pixels with the first, without the count field
  uint8_t fieldShift;  // the count field, with the flag at bit 63: (bits >> fieldShift) & fieldMask
  uint8_t fieldMask;   // 0xFF after PIXRPTNSTD, 7 after PIXRPTSTD2, 0 without a count field
  uint8_t code;        // the last code read, without the count field
  uint8_t leastField;  // a smaller count field is traced (PIXRPTNSTD below 16)
  uint8_t unused;
};
constexpr std::array<RepeatForm, 32> kRepeatForms = [] {
  std::array<RepeatForm, 32> forms{};
  for (uint32_t i = 0; i < 32; ++i) {
    const uint8_t std1 = static_cast<uint8_t>(i & 7);
    if (i < 16) {
      forms[i] = {1, 0, 1, 0, 0, 0, 0, 0};  // no repeat
    } else if (i < 24) {
      forms[i] = {2, 2, 2, 0, 0, 0, 0, 0};  // PIXRPT1 0 > PIXDUP
    } else if (std1 < 6) {
      forms[i] = {5, 2, static_cast<uint8_t>(std1 + 3), 0, 0, std1, 0, 0};
    } else if (std1 == 6) {
      forms[i] = {8, 3, 9, 56, 7, 0, 0, 0};  // > PIXRPTSTD2
    } else {
      forms[i] = {13, 3, 1, 51, 0xFF, 0, 16, 0};  // > PIXRPTNSTD
    }
  }
  return forms;
}();

// count copies of p, not one more: the block's later pixels may still be put again.
inline void FillPixels(Pixel* out, Pixel p, uint32_t count) {
#if defined(__SSE2__)
  // Overlapping stores from both ends: the short runs of text take no loop.
  if (count >= 4) {
    const __m128i v = _mm_set1_epi32(static_cast<int>(p));
    const auto store = [&](uint32_t at) {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + at), v);
    };
    if (count <= 8) {
      store(0);
      store(count - 4);
      return;
    }
    for (uint32_t i = 0; i + 8 < count; i += 8) {
      store(i);
      store(i + 4);
    }
    store(count - 8);
    store(count - 4);
    return;
  }
#endif
  for (uint32_t i = 0; i < count; ++i) out[i] = p;
}

}  // namespace

VideoDecoder::VideoDecoder(FrameBuffer& frameBuffer, VideoModes& modes, VideoEvents& events)
    : frameBuffer_(frameBuffer),
      modes_(modes),
      events_(events),
      expand_(ColorExpansionTable().data()) {}

bool VideoDecoder::Start(const DecoderRole& role) {
  if (!frameBuffer_.created()) return false;
  block_pixels_ = frameBuffer_.block_pixels();
  role_ = role;
  reader_.StartSession();
  cache_.cache_clear();
  state_ = next_state_ = role.multiUserClient ? HUNT : RESET;
  pos_.width_blocks = 50;
  pos_.height_blocks = 37;
  red_ = green_ = 0;
  print_channel_ = 0;
  print_len_ = 0;
  print_text_.fill(0);
  resetRequested_.store(false, std::memory_order_relaxed);
  return true;
}

void VideoDecoder::ExplicitHit(uint16_t color, uint32_t steps) {
  if (steps <= 6) {
    RC_TRACE("Possible reset underway. Color %3x\n", color);
  } else {
    RC_TRACE("color %3x generated a hit\n", color);
  }
}

void VideoDecoder::PutBlock(uint32_t count) {
  next_state_ = START;
  pixel_count_ = 0;
  frameBuffer_.PutBlock(pos_, count);
}

void VideoDecoder::RequestRefresh() {
  if (events_.Replaying()) return;
  events_.Write(kRefreshRequest, sizeof kRefreshRequest);
}

void VideoDecoder::Latched() {
  if (latch_count_ == 0) {
    latched_x_ = pos_.block_x;
    latched_y_ = pos_.block_y;
  }
  if (latch_count_ == kLatchFirstRequest) {
    RC_TRACE("Latched: byte count %d ", step_count_);
    RC_TRACE(" current block at %d %d.\n", latched_x_, latched_y_);
    RequestRefresh();
  }
  ++latch_count_;
  if (latch_count_ == kLatchSecondRequest) {
    RC_TRACE("Requesting refresh1\n");
    RequestRefresh();
  }
  if (latch_count_ == kLatchThirdRequest) {
    RC_TRACE("Requesting refresh2\n");
    RequestRefresh();
    latch_count_ = kLatchFirstRequest + 1;
  }
}

void VideoDecoder::ModeSize(uint16_t code) {
  if (temp_ != 0 && code != 0) {
    // A picture means the server has power.
    if (server_power_ != 1) {
      events_.SetPowerOn();
      server_power_ = 1;
    }
    pos_.width_blocks = temp_;
    pos_.height_blocks = code;
    return;
  }
  if (server_power_ == 0) return;
  server_power_ = 0;
  events_.SetPowerOff();
  frameBuffer_.ClearScreen(pos_);
  pos_.width_blocks = 50;
  pos_.height_blocks = 38;
}

void VideoDecoder::ModeSwitch(uint16_t code) {
  pos_.block_x = pos_.block_y = 0;
  pixel_count_ = 0;
  cache_.cache_clear();
  extra_lines_ = code;
  const int width = pos_.width_blocks * kBlockSize;
  const int height = pos_.height_blocks * kBlockSize + extra_lines_;
  RC_TRACE("\nS[%d %d]\n", width, height);
  if (observer_) observer_->OnMode(width, height);
  modes_.SwitchVideoMode(width, height);
}

void VideoDecoder::StoreFirmwareByte(uint16_t code) {
  // Operands beyond the 256th are dropped; the command number is always the last byte.
  if (fw_count_ != 0 && fw_count_ <= kMaxFirmwareOperands) fw_args_[fw_count_] = fw_last_;
  if (fw_count_ <= kMaxFirmwareOperands) ++fw_count_;
  fw_last_ = code;
}

void VideoDecoder::StatusLine(const char* text, bool write) {
  events_.SetStatusText(text);
  if (write) frameBuffer_.WriteStatusLine(text);
}

void VideoDecoder::RunFirmwareCommand() {
  if (observer_ && fw_last_ != kFwText) {
    observer_->OnFirmware(fw_last_, fw_args_.data() + 1, fw_count_ == 0 ? 0 : fw_count_ - 1);
  }
  switch (fw_last_) {
    case kFwExit:
      RC_TRACE("Exit cmd, set next_state to EXIT\n");
      next_state_ = EXIT;
      break;
    case kFwText:
      next_state_ = PRINT0;
      break;
    case kFwFrameRate:
      RC_TRACE("Framerate: %d\n", fw_args_[1]);
      break;
    case kFwPowerOn:
      if (server_power_ != 1) {
        events_.SetPowerOn();
        server_power_ = 1;
      }
      break;
    case kFwPowerOff:
      if (server_power_ != 0) {
        server_power_ = 0;
        events_.SetPowerOff();
        frameBuffer_.ClearScreen(pos_);
      }
      break;
    case kFwVideoSuspended:
      frameBuffer_.ClearScreen(pos_);
      StatusLine(LoadString(132), true);
      events_.NotifyStatusChanged();
      break;
    case 7:
    case 8:
      break;
    case kFwKeyChange:
      RC_TRACE("Key Change Cmd!!!!!!!!\n");
      reader_.DiscardRestOfByte();
      events_.ChangeKeys();
      break;
    case kFwSeize:
      RC_TRACE("qel: received seize command.\n");
      frameBuffer_.ClearScreen(pos_);
      StatusLine(LoadString(110), true);
      events_.NotifyDialog();
      next_state_ = EXIT;
      events_.NotifySessionClosed();
      break;
    case kFwKill:
      RC_TRACE("qel: received kill command.\n");
      frameBuffer_.ClearScreen(pos_);
      StatusLine(LoadString(111), false);
      events_.NotifyDialog();
      next_state_ = EXIT;
      events_.NotifySessionClosed();
      break;
    default:
      RC_TRACE("qel: unknown firmware command %d\n", fw_last_);
      break;
  }
  fw_count_ = 0;
}

void VideoDecoder::EndTextRecord() {
  const std::string_view text(print_text_.data(), print_len_);
  const char* shown = print_text_.data();
  if (observer_) observer_->OnText(print_channel_, text);
  switch (print_channel_) {
    case 1:
    case 3:
      RC_TRACE("CH%d: %s\n", print_channel_, shown);
      break;
    case 2:
      RC_TRACE("CH2: %s\n", shown);
      events_.SetStatusText(text);
      events_.NotifyStatusChanged();
      break;
    case 4:
      RC_TRACE("CH4: %s\n", shown);
      events_.SetStatusText(text);
      events_.NotifyDialog();
      break;
    case 5:
      RC_TRACE("CH5: %s\n", shown);
      events_.SetStatusText2(text);
      break;
    case 6:
      RC_TRACE("CH6: %s\n", shown);
      events_.SetStatusText(text);
      events_.NotifyDialog();
      RequestStop();
      events_.NotifySessionClosed();
      break;
    case 0x80:
      RC_TRACE("CH0x80: %s\n", shown);
      if (role_.sessionLeader) events_.OnJoinAnswer(text);
      break;
    case 0x81:
      RC_TRACE("CH0x81: %s\n", shown);
      if (role_.multiUserClient) events_.SetInputEnabled(!text.empty() && text[0] == '1');
      break;
    default:
      RC_TRACE("PRINT1: ch=0x%x %s\n", print_channel_, shown);
      break;
  }
  next_state_ = START;
}

void VideoDecoder::Act(uint16_t code) {
  switch (state_) {
    case RESET:
      RC_TRACE("StateMachine: RESET\n");
      cache_.cache_clear();
      pixel_count_ = 0;
      pos_.block_x = pos_.block_y = 0;
      latch_count_ = 0;
      red_ = green_ = 0;
      break;
    case MOVEXY0:
    case MODE0:
      temp_ = code;
      break;
    case MOVEXY1:
      pos_.block_x = temp_;
      pos_.block_y = code;
      break;
    case MOVESHORTX:
      pos_.block_x = static_cast<uint16_t>((pos_.block_x + code + 1) & 127);
      break;
    case MOVELONGX:
      pos_.block_x = static_cast<uint16_t>(code & 127);
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
      ModeSize(code);
      break;
    case MODE2:
      ModeSwitch(code);
      break;
    case TIMEOUT:
      reader_.DiscardRestOfByte();
      break;
    case FIRMWARE:
      StoreFirmwareByte(code);
      break;
    case CORP:
      if (code == 0) RunFirmwareCommand();
      break;
    case PRINT0:
      print_channel_ = static_cast<uint8_t>(code);
      print_text_.fill(0);
      print_len_ = 0;
      break;
    case PRINT1:
      if (code == 0) {
        EndTextRecord();
      } else if (print_len_ < kMaxTextLength) {
        // Characters past the 255th are dropped.
        print_text_[print_len_++] = static_cast<char>(code);
      }
      break;
    case LATCHED:
      Latched();
      break;
    case HUNT:
      RC_TRACE("StateMachine: HUNT\n");
      if (code != 0) {
        reader_.DropBufferedBits();
        step_count_ = 0;
      }
      break;
    default:
      // The command prefixes only branch; EXIT never acts (the loop ends before it reads); the
      // pixel states are handled in Decode.
      break;
  }
}

DecodeEnd VideoDecoder::ConnectionLost() {
  RC_TRACE("Network disconnect %d\n", reader_.LastSourceError());
  if (!stop_requested()) {
    const char* text = LoadString(role_.multiUserClient ? 136 : 135);
    events_.SetStatusText(text);
    events_.ShowMessage(text, "Network Error", kMbOk | kMbIconWarning);
  }
  return DecodeEnd::kConnectionLost;
}

// A run of any form but the commonest (RunPixels takes that itself): its colour code, the repeat
// flag and the repeat in one step, or nothing when the run must be taken one state at a time.
VideoDecoder::RunEnd VideoDecoder::OtherRun(RunState& s) {
  const uint64_t b = s.w.bits;
  // Where the repeat flag follows the colour code tells the forms apart.
  uint32_t flagAt;
  uint32_t rank = 0;
  uint16_t color = 0;
  if (static_cast<int64_t>(b) < 0) {
    // PIXELS 1 > PIXLRU1, which reads the flag: rank 1, or rank 0 with one colour cached.
    flagAt = 1;
    rank = cache_.active() == 1 ? 0u : 1u;
  } else if ((b >> 62) & 1) {
    // PIXELS 0 > PIXFAN 1 > the state that reads an index of the cache's width.
    const int32_t select = table_[PIXFAN].next1;
    if (select == PIXLRU0) {
      flagAt = 2;  // rank 0, and PIXLRU0 reads the flag
    } else {
      const uint32_t width = CacheIndexBits(select);
      if (width == 0) return RunEnd::kOneStep;
      // Rank 1 has a code of its own, so index 1 means rank 2. Then PIXRPT reads the flag.
      const uint32_t index = static_cast<uint32_t>((b << 2) >> (64 - width));
      rank = cache_.active() == 1 ? 0u : (index == 0 ? 0u : index + 1u);
      flagAt = 2 + width;
    }
  } else if ((b >> 61) & 1) {
    // PIXELS 0 > PIXFAN 0 > PIXSPEC 1 > PIXRGBR > PIXRGBG > PIXRGBB, then PIXRPT.
    flagAt = 15;
    color = static_cast<uint16_t>((b >> 49) & 0xFFF);
  } else {
    // PIXELS 0 > PIXFAN 0 > PIXSPEC 0 > PIXGREY, then PIXRPT.
    flagAt = 7;
    color = static_cast<uint16_t>(((b >> 57) & 0xF) * 0x111);
  }

  // The flag and the repeat.
  const uint64_t rest = b << flagAt;
  const RepeatForm& form = kRepeatForms[rest >> 59];
  const uint32_t field = static_cast<uint32_t>(rest >> form.fieldShift) & form.fieldMask;
  const uint32_t bits = flagAt + form.bits;
  const uint32_t count = form.pixels + field;
  if (bits > s.w.count || s.pixels + count > kBlockPixels || field < form.leastField) {
    return RunEnd::kOneStep;
  }

  // The colour.
  bool refused;
  if (flagAt >= 7) {
    cache_.StoreRanks(s.ranks);
    refused = cache_.cache_lru(color) != 0;
    s.ranks = cache_.LoadRanks();
    table_[PIXFAN].next1 = cache_.next_state();
    if (flagAt == 15) {
      red_ = static_cast<uint16_t>(color & 0xF00);
      green_ = static_cast<uint16_t>(color & 0x0F0);
    }
    if (refused) ExplicitHit(color, s.steps + kStepsToFlag[flagAt] - 2);
  } else {
    refused = cache_.FindInRegister(s.ranks, rank, &color) != 0;
    if (refused) RC_TRACE("could not find color for LRU %d\n", rank);
  }
  if (refused) {
    // The bits and steps up to the state that looked the colour up; the machine latches. PIXLRU1
    // and PIXLRU0 read the flag themselves.
    const bool ownFlag = flagAt <= 2;
    const uint32_t taken = ownFlag ? flagAt + 1 : flagAt;
    s.steps += kStepsToFlag[flagAt] - (ownFlag ? 1u : 2u);
    if (ownFlag) {
      s.code = static_cast<uint16_t>(rest >> 63);
    } else if (flagAt >= 7) {
      s.code = static_cast<uint16_t>((b >> (64 - flagAt)) & 0xF);
    } else {
      s.code = static_cast<uint16_t>((b << 2) >> (66 - flagAt));
    }
    s.w.bits = b << taken;
    s.w.count -= taken;
    return RunEnd::kLatched;
  }

  FillPixels(block_pixels_ + s.pixels, expand_[color], count);
  s.pixels += count;
  last_color_ = color;
  s.w.bits = b << bits;
  s.w.count -= bits;
  s.steps += kStepsToFlag[flagAt] + form.steps - 1u;
  s.code = static_cast<uint16_t>(form.code | field);
  return RunEnd::kRan;
}

// A full block: it is put and the cache aged; then START's code, when the window holds it and it
// says that pixels follow, is taken too.
VideoDecoder::RunEnd VideoDecoder::FinishBlock(RunState& s) {
  pixel_count_ = s.pixels;
  PutBlock(1);
  cache_.StoreRanks(s.ranks);
  cache_.cache_prune();
  s.ranks = cache_.LoadRanks();
  table_[PIXFAN].next1 = cache_.next_state();
  s.pixels = 0;
  if (interrupt_.load(std::memory_order_relaxed)) {
    next_state_ = START;
    return RunEnd::kInterrupted;
  }
  if (s.w.count == 0) {
    reader_.set_window(s.w);
    reader_.TakeBuffered();
    s.w = reader_.window();
  }
  // A command, or a byte still to be read: the machine reads START's code.
  if (s.w.count == 0 || static_cast<int64_t>(s.w.bits) < 0) return RunEnd::kStart;
  // START 0: pixels follow.
  s.w.bits <<= 1;
  s.w.count -= 1;
  s.code = 0;
  ++s.steps;
  return RunEnd::kRan;
}

// The pixel runs of blocks, each in one step: its colour code, the repeat flag and the repeat
// together, with the steps they stand for counted. A run is taken so only when the window
// already holds all of its bits (no read from the source, no mark, is brought forward), the block
// has room for all of its pixels and no trace but a cache miss's is due; at a full block the
// block is put and, when START's code says pixels follow, the next block's runs go on. Anything
// else is left to the machine, one state at a time. The commonest run, the colour ranked 1 (two
// colours taking turns, as in text), is taken here; the others in OtherRun.
VideoDecoder::RunEnd VideoDecoder::RunPixels() {
  RunState s{reader_.window(), pixel_count_, step_count_, reader_.code(), cache_.LoadRanks()};
  uint64_t bits = s.w.bits, have = s.w.count;
  uint32_t pixels = s.pixels, steps = s.steps;
  uint16_t code = s.code;
  ColorCache::RankRegister ranks = s.ranks;
  // In locals: the pixel stores may alias any member, which would be reloaded after each one.
  Pixel* const block = block_pixels_;
  const Pixel* const expand = expand_;
  bool rankOneCoded = cache_.active() != 1;  // PIXLRU1 reads rank 1, not rank 0
  RunEnd end;
  for (;;) {
    if (have < kLongestRun) {
      reader_.set_window({bits, have});
      reader_.TakeBuffered();
      const BitReader::Window w = reader_.window();
      bits = w.bits;
      have = w.count;
    }
    bool taken = false;
    // PIXELS 1 > PIXLRU1, which reads the flag, and the repeat.
    if (static_cast<int64_t>(bits) < 0 && rankOneCoded) {
      const uint64_t rest = bits << 1;
      const RepeatForm& form = kRepeatForms[rest >> 59];
      const uint32_t field = static_cast<uint32_t>(rest >> form.fieldShift) & form.fieldMask;
      const uint32_t used = 1u + form.bits;
      const uint32_t count = form.pixels + field;
      uint16_t color;
      if (used <= have && pixels + count <= kBlockPixels && field >= form.leastField &&
          cache_.FindInRegister(ranks, 1, &color) == 0) {
        FillPixels(block + pixels, expand[color], count);
        pixels += count;
        last_color_ = color;
        bits <<= used;
        have -= used;
        steps += 1u + form.steps;
        code = static_cast<uint16_t>(form.code | field);
        taken = true;
      }
    }
    if (!taken) {
      s = {{bits, have}, pixels, steps, code, ranks};
      end = OtherRun(s);
      bits = s.w.bits;
      have = s.w.count;
      pixels = s.pixels;
      steps = s.steps;
      code = s.code;
      ranks = s.ranks;
      rankOneCoded = cache_.active() != 1;
      if (end != RunEnd::kRan) break;
    }
    if (pixels == kBlockPixels) {
      s = {{bits, have}, pixels, steps, code, ranks};
      end = FinishBlock(s);
      bits = s.w.bits;
      have = s.w.count;
      pixels = s.pixels;
      steps = s.steps;
      code = s.code;
      ranks = s.ranks;
      rankOneCoded = cache_.active() != 1;
      if (end != RunEnd::kRan) break;
    }
    if (interrupt_.load(std::memory_order_relaxed)) {
      next_state_ = PIXELS;
      end = RunEnd::kInterrupted;
      break;
    }
    ++steps;
  }
  cache_.StoreRanks(ranks);
  reader_.set_window({bits, have});
  reader_.set_code(code);
  pixel_count_ = pixels;
  step_count_ = steps;
  return end;
}

// The loop keeps the state, the pixel count and the bit window in locals: the pixel stores would
// otherwise make the compiler reload every 32-bit member after each one. Each state has its own
// handler that reads its record of the table and ends in its own jump to the next state's
// handler, which the processor predicts far better than one shared jump. The pixel states act
// here; the others go through Act with the members brought up to date around it.
DecodeEnd VideoDecoder::Decode() {
  static void* const kHandlers[kStateCount] = {
      &&h_other,      &&h_start,   &&h_pixels,  &&h_pixlru1, &&h_pixlru0, &&h_pixcode, &&h_pixcode,
      &&h_pixcode,    &&h_pixgrey, &&h_pixrgbr, &&h_pixrpt,  &&h_pixrpt1, &&h_std1,    &&h_std2,
      &&h_nstd,       &&h_branch,  &&h_branch,  &&h_other,   &&h_branch,  &&h_branch,  &&h_other,
      &&h_other,      &&h_branch,  &&h_branch,  &&h_other,   &&h_branch,  &&h_other,   &&h_other,
      &&h_branch,     &&h_other,   &&h_other,   &&h_pixfan,  &&h_pixcode, &&h_pixdup,  &&h_other,
      &&h_pixcodesel, &&h_pixspec, &&h_exit,    &&h_other,   &&h_other,   &&h_other,   &&h_pixrgbg,
      &&h_pixrgbb,    &&h_other,   &&h_other,   &&h_other,   &&h_other,   &&h_other,
  };

  DecodeEnd end = DecodeEnd::kStopped;
  int32_t state = state_;
  int32_t next = next_state_;
  uint32_t pixels = pixel_count_;
  uint32_t steps = step_count_;
  Pixel* const block = block_pixels_;
  const Pixel* const expand = expand_;
  BitReader::Window w = reader_.window();
  uint16_t code = reader_.code();
  int result = BitReader::kOk;
  RunEnd run = RunEnd::kRan;
  const std::atomic<bool>* const interrupt = &interrupt_;

// The helpers are macros, not lambdas: a lambda that takes the locals by reference keeps them in
// memory for the whole loop.
#define REMCONS_SAVE()      \
  do {                      \
    state_ = state;         \
    next_state_ = next;     \
    pixel_count_ = pixels;  \
    step_count_ = steps;    \
    reader_.set_window(w);  \
    reader_.set_code(code); \
  } while (0)
#define REMCONS_LOAD()     \
  do {                     \
    state = state_;        \
    next = next_state_;    \
    pixels = pixel_count_; \
    steps = step_count_;   \
    w = reader_.window();  \
  } while (0)
// The decoder's AddPixel: a 257th pixel latches.
#define REMCONS_ADD_PIXEL(color)                                                    \
  do {                                                                              \
    const uint16_t added = (color);                                                 \
    if (pixels == kBlockPixels) {                                                   \
      RC_TRACE("Too many pixels in block (LRU pixel).  pixel_count: %x\n", pixels); \
      next = LATCHED;                                                               \
    } else {                                                                        \
      block[pixels++] = expand[added];                                              \
      last_color_ = added;                                                          \
    }                                                                               \
  } while (0)
#define REMCONS_REPEAT(count)                                      \
  do {                                                             \
    const uint32_t wanted = (count);                               \
    const uint32_t fits = std::min(wanted, kBlockPixels - pixels); \
    const Pixel p = expand[last_color_];                           \
    for (uint32_t i = 0; i < fits; ++i) block[pixels + i] = p;     \
    pixels += fits;                                                \
    for (uint32_t surplus = fits; surplus < wanted; ++surplus) {   \
      REMCONS_ADD_PIXEL(last_color_);                              \
    }                                                              \
  } while (0)
#define REMCONS_CACHED(which)                                  \
  do {                                                         \
    const uint32_t rank = cache_.active() == 1 ? 0u : (which); \
    uint16_t found = 0;                                        \
    if (cache_.cache_find(rank, &found) == 0) {                \
      REMCONS_ADD_PIXEL(found);                                \
    } else {                                                   \
      RC_TRACE("could not find color for LRU %d\n", rank);     \
      next = LATCHED;                                          \
    }                                                          \
  } while (0)
#define REMCONS_EXPLICIT(value)                 \
  do {                                          \
    const uint16_t color = (value);             \
    const int hit = cache_.cache_lru(color);    \
    table_[PIXFAN].next1 = cache_.next_state(); \
    if (hit == 0) {                             \
      REMCONS_ADD_PIXEL(color);                 \
    } else {                                    \
      ExplicitHit(color, steps);                \
      next = LATCHED;                           \
    }                                           \
  } while (0)

// Reads the current state's code from its record and picks the successor.
#define REMCONS_READ_CODE(S)                                            \
  do {                                                                  \
    const vstate::StateRecord& record = table_[static_cast<size_t>(S)]; \
    const uint32_t n = static_cast<uint32_t>(record.bits);              \
    if (n != 0) {                                                       \
      if (w.count < n) {                                                \
        reader_.set_window(w);                                          \
        result = reader_.Load(n);                                       \
        w = reader_.window();                                           \
        if (result != BitReader::kOk) goto read_failed;                 \
      }                                                                 \
      code = static_cast<uint16_t>(w.bits >> (64 - n));                 \
      w.bits <<= n;                                                     \
      w.count -= n;                                                     \
    }                                                                   \
    next = code == 0 ? record.next0 : record.next1;                     \
  } while (0)

// Block completion, then on to the next state's handler. The tail is kept short so that each
// handler gets a jump of its own.
#define REMCONS_NEXT_STEP()                                            \
  do {                                                                 \
    if (next == PIXELS && pixels == kBlockPixels) goto complete_block; \
    state = next;                                                      \
    if (interrupt->load(std::memory_order_relaxed)) goto top;          \
    ++steps;                                                           \
    goto* kHandlers[static_cast<size_t>(state)];                       \
  } while (0)

top:
  interrupt_.store(false, std::memory_order_relaxed);
  if (stop_requested()) goto done;
  if (resetRequested_.load(std::memory_order_relaxed) &&
      resetRequested_.exchange(false, std::memory_order_acquire)) {
    state = next = RESET;
  }
  ++steps;
  goto* kHandlers[static_cast<size_t>(state)];

h_start:
  REMCONS_READ_CODE(START);
  REMCONS_NEXT_STEP();

// Pixel runs are read ahead whole while they can be (RunPixels); it leaves the machine in PIXELS
// (the next run is to be taken one state at a time), START or LATCHED.
h_pixels:
  REMCONS_SAVE();
  {
    // RunPixels decodes only bytes already received: the video lock is held over its blocks.
    FrameBuffer::BlockRun blockRun(frameBuffer_);
    run = RunPixels();
  }
  switch (run) {
    case RunEnd::kRan:  // not returned
    case RunEnd::kOneStep:
      REMCONS_LOAD();
      goto pixels_one_step;
    case RunEnd::kLatched:
      REMCONS_LOAD();
      next = LATCHED;
      break;
    case RunEnd::kStart:
      REMCONS_LOAD();
      next = START;
      break;
    case RunEnd::kInterrupted:
      REMCONS_LOAD();
      state = next;
      goto top;
  }
  code = reader_.code();
  REMCONS_NEXT_STEP();

pixels_one_step:
  REMCONS_READ_CODE(PIXELS);
  REMCONS_NEXT_STEP();

h_pixfan:
  REMCONS_READ_CODE(PIXFAN);
  REMCONS_NEXT_STEP();

h_pixspec:
  REMCONS_READ_CODE(PIXSPEC);
  REMCONS_NEXT_STEP();

h_pixrpt:
  REMCONS_READ_CODE(PIXRPT);
  REMCONS_NEXT_STEP();

h_pixrpt1:
  REMCONS_READ_CODE(PIXRPT1);
  REMCONS_NEXT_STEP();

h_branch:
  REMCONS_READ_CODE(state);
  REMCONS_NEXT_STEP();

h_pixlru1:
  REMCONS_READ_CODE(PIXLRU1);
  REMCONS_CACHED(1u);
  REMCONS_NEXT_STEP();

h_pixlru0:
  REMCONS_READ_CODE(PIXLRU0);
  REMCONS_CACHED(0u);
  REMCONS_NEXT_STEP();

h_pixcode:
  REMCONS_READ_CODE(state);
  // Rank 1 has a code of its own, so index 1 means rank 2.
  REMCONS_CACHED(code == 0 ? 0u : code + 1u);
  REMCONS_NEXT_STEP();

h_pixcodesel:
  REMCONS_READ_CODE(PIXCODE);
  next = cache_.next_state();
  REMCONS_NEXT_STEP();

h_pixgrey:
  REMCONS_READ_CODE(PIXGREY);
  REMCONS_EXPLICIT(static_cast<uint16_t>(code * 0x111));
  REMCONS_NEXT_STEP();

h_pixrgbr:
  REMCONS_READ_CODE(PIXRGBR);
  red_ = static_cast<uint16_t>(code << 8);
  REMCONS_NEXT_STEP();

h_pixrgbg:
  REMCONS_READ_CODE(PIXRGBG);
  green_ = static_cast<uint16_t>(code << 4);
  REMCONS_NEXT_STEP();

h_pixrgbb:
  REMCONS_READ_CODE(PIXRGBB);
  REMCONS_EXPLICIT(static_cast<uint16_t>(red_ | green_ | code));
  REMCONS_NEXT_STEP();

h_pixdup:
  REMCONS_READ_CODE(PIXDUP);
  REMCONS_ADD_PIXEL(last_color_);
  REMCONS_NEXT_STEP();

h_std1:
  REMCONS_READ_CODE(PIXRPTSTD1);
  if (code == 7) {
    next = PIXRPTNSTD;
  } else if (code == 6) {
    next = PIXRPTSTD2;
  } else {
    REMCONS_REPEAT(code + 2u);
  }
  REMCONS_NEXT_STEP();

h_std2:
  REMCONS_READ_CODE(PIXRPTSTD2);
  REMCONS_REPEAT(code + 8u);
  REMCONS_NEXT_STEP();

h_nstd:
  REMCONS_READ_CODE(PIXRPTNSTD);
  if (code < 16) RC_TRACE("qel:non-std repeat misused\n");
  REMCONS_REPEAT(code);
  REMCONS_NEXT_STEP();

h_other:
  REMCONS_READ_CODE(state);
  REMCONS_SAVE();
  Act(code);
  REMCONS_LOAD();
  REMCONS_NEXT_STEP();

h_exit:
  end = DecodeEnd::kExit;
  goto done;

complete_block:
  REMCONS_SAVE();
  PutBlock(1);
  cache_.cache_prune();
  table_[PIXFAN].next1 = cache_.next_state();
  REMCONS_LOAD();
  state = next;
  goto top;

read_failed:
  if (result == BitReader::kResync) {
    RC_TRACE("Status=4, causes reset state.\n");
    if (observer_) observer_->OnResync();
    state = next = RESET;
    goto top;
  }
  REMCONS_SAVE();
  end = ConnectionLost();

done:
#undef REMCONS_READ_CODE
#undef REMCONS_NEXT_STEP
#undef REMCONS_EXPLICIT
#undef REMCONS_CACHED
#undef REMCONS_REPEAT
#undef REMCONS_ADD_PIXEL
#undef REMCONS_LOAD
  REMCONS_SAVE();
#undef REMCONS_SAVE
  RC_TRACE("State Machine Exiting\n");
  return end;
}

}  // namespace remcons
