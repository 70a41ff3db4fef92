// The decoder's hot loop: Decode and the pixel runs it takes whole. What runs here runs once per
// state or per pixel, and is written for speed rather than looks; what runs once per command is in
// VideoDecoder.cpp.
// - Each state's handler is a label that ends in a computed goto of its own (a GNU extension): one
//   jump per handler is predicted far better than the single shared jump of a switch. The file is
//   built with -fno-crossjumping, or GCC merges those jumps back into one.
// - The handlers' shared steps are macros, not lambdas: a lambda that takes the loop's locals by
//   reference keeps them in memory for the whole loop.
// - The state, the pixel count and the bit window live in locals, written back around any call that
//   reads the members: the pixel stores may alias any member, which would be reloaded after each.
#include "video/VideoDecoder.h"

#include <algorithm>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "platform/Trace.h"

namespace remcons {

using namespace vstate;

namespace {

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

// Each state's handler in Decode, in the order of enum VideoState: the order is checked below, so a
// state added or renumbered fails to build rather than jumping to another state's handler.
#define REMCONS_STATE_HANDLERS(X) \
  X(RESET, h_other)               \
  X(START, h_start)               \
  X(PIXELS, h_pixels)             \
  X(PIXLRU1, h_pixlru1)           \
  X(PIXLRU0, h_pixlru0)           \
  X(PIXCODE1, h_pixcode)          \
  X(PIXCODE2, h_pixcode)          \
  X(PIXCODE3, h_pixcode)          \
  X(PIXGREY, h_pixgrey)           \
  X(PIXRGBR, h_pixrgbr)           \
  X(PIXRPT, h_pixrpt)             \
  X(PIXRPT1, h_pixrpt1)           \
  X(PIXRPTSTD1, h_std1)           \
  X(PIXRPTSTD2, h_std2)           \
  X(PIXRPTNSTD, h_nstd)           \
  X(CMD, h_branch)                \
  X(CMD0, h_branch)               \
  X(MOVEXY0, h_other)             \
  X(EXTCMD, h_branch)             \
  X(CMDX, h_branch)               \
  X(MOVESHORTX, h_other)          \
  X(MOVELONGX, h_other)           \
  X(BLKRPT, h_branch)             \
  X(EXTCMD1, h_branch)            \
  X(FIRMWARE, h_other)            \
  X(EXTCMD2, h_branch)            \
  X(MODE0, h_other)               \
  X(TIMEOUT, h_other)             \
  X(BLKRPT1, h_branch)            \
  X(BLKRPTSTD, h_other)           \
  X(BLKRPTNSTD, h_other)          \
  X(PIXFAN, h_pixfan)             \
  X(PIXCODE4, h_pixcode)          \
  X(PIXDUP, h_pixdup)             \
  X(BLKDUP, h_other)              \
  X(PIXCODE, h_pixcodesel)        \
  X(PIXSPEC, h_pixspec)           \
  X(EXIT, h_exit)                 \
  X(LATCHED, h_other)             \
  X(MOVEXY1, h_other)             \
  X(MODE1, h_other)               \
  X(PIXRGBG, h_pixrgbg)           \
  X(PIXRGBB, h_pixrgbb)           \
  X(HUNT, h_other)                \
  X(PRINT0, h_other)              \
  X(PRINT1, h_other)              \
  X(CORP, h_other)                \
  X(MODE2, h_other)

#define REMCONS_SLOT_STATE(state, handler) state,
constexpr VideoState kHandlerSlots[] = {REMCONS_STATE_HANDLERS(REMCONS_SLOT_STATE)};
#undef REMCONS_SLOT_STATE

// The first slot whose state's number is not its index; kStateCount when every slot matches.
constexpr int FirstMisplacedSlot() {
  for (int slot = 0; slot < static_cast<int>(std::size(kHandlerSlots)); ++slot) {
    if (kHandlerSlots[slot] != slot) return slot;
  }
  return static_cast<int>(std::size(kHandlerSlots));
}
static_assert(std::size(kHandlerSlots) == kStateCount, "one handler slot per state");
static_assert(FirstMisplacedSlot() == kStateCount, "a handler slot is not at its state's number");

}  // namespace

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
// The locals go out to a call that takes the run state, and come back from it.
#define REMCONS_RUN_CALL(step)                    \
  s = {{bits, have}, pixels, steps, code, ranks}; \
  end = step(s);                                  \
  bits = s.w.bits;                                \
  have = s.w.count;                               \
  pixels = s.pixels;                              \
  steps = s.steps;                                \
  code = s.code;                                  \
  ranks = s.ranks;                                \
  rankOneCoded = cache_.active() != 1
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
      REMCONS_RUN_CALL(OtherRun);
      if (end != RunEnd::kRan) break;
    }
    if (pixels == kBlockPixels) {
      REMCONS_RUN_CALL(FinishBlock);
      if (end != RunEnd::kRan) break;
    }
    if (interrupt_.load(std::memory_order_relaxed)) {
      next_state_ = PIXELS;
      end = RunEnd::kInterrupted;
      break;
    }
    ++steps;
  }
#undef REMCONS_RUN_CALL
  cache_.StoreRanks(ranks);
  reader_.set_window({bits, have});
  reader_.set_code(code);
  pixel_count_ = pixels;
  step_count_ = steps;
  return end;
}

// Each state's handler reads its record of the table and jumps to the next state's handler. The
// pixel states act here; the others go through Act with the members brought up to date around it.
DecodeEnd VideoDecoder::Decode() {
#define REMCONS_SLOT_HANDLER(state, handler) &&handler,
  static void* const kHandlers[kStateCount] = {REMCONS_STATE_HANDLERS(REMCONS_SLOT_HANDLER)};
#undef REMCONS_SLOT_HANDLER
#undef REMCONS_STATE_HANDLERS

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
