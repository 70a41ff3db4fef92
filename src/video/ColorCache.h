// The 17-entry most-recently-used colour table that the server mirrors. Stream pixels refer to
// cached colours by rank, so every rule here, its irregularities included, is stream format: ranks
// are not renumbered after a prune (gaps and even duplicates occur) and a lookup by rank takes the
// entry with the lowest index. The encoder of the simulator runs the same model.
//
// The entries are kept as arrays (colours, ranks, used flags) so that the rank updates of a
// lookup, which touch every entry, are a few vector operations.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace remcons {

struct CacheEntry {
  uint16_t color = 0;  // 12-bit stream colour
  uint16_t rank = 0;   // 0 = most recently used
  uint32_t used = 0;   // 1 when used since the last prune
};

class ColorCache {
 public:
  static constexpr int kEntries = 17;

  // The decoder state that reads a cache index of the right width for a count of active entries.
  static int32_t NextStateFor(int32_t active);
  // The bits of a cache index in the stream for a count of active entries (0: none is sent).
  static int IndexBitsFor(int32_t active);

  // active = 0, every rank 0; colours, used and next_state stay as they are.
  void cache_clear();
  // Lookup by rank: 0 with the colour when found (the entry becomes rank 0), 1 when not.
  int cache_find(uint32_t rank, uint16_t* color) {
    if (active_ > kEntries) return TooLarge("cache_find");
    if (rank > 255) return 1;
    const uint32_t found = RankMask(static_cast<uint8_t>(rank));
    if (found == 0) return 1;
    const int i = __builtin_ctz(found);
    *color = colors_[static_cast<size_t>(i)];
    if (rank != 0) RaiseRanksBelow(static_cast<uint8_t>(rank), i);
    used_ |= 1u << i;
    return 0;
  }
  // Lookup-or-insert by colour: 1 when it was cached already (a hit), 0 when inserted.
  int cache_lru(uint16_t color);
  // Ageing at the end of each pixel block: entries unused since the last prune leave.
  void cache_prune();

  // Lookups by rank in a run with nothing else touching the cache (the decoder's pixel runs): the
  // ranks of entries 0 to 15 stay in a register between them, the lanes of inactive entries
  // holding a rank no lookup asks for. The cache's other operations need them stored back first,
  // and then loaded afresh.
  struct RankRegister {
#if defined(__SSE2__)
    __m128i ranks;
#endif
    bool full;  // entry 16 is active: lookups take cache_find
  };
  [[gnu::always_inline]] RankRegister LoadRanks() const;
  [[gnu::always_inline]] void StoreRanks(const RankRegister& r);
  // cache_find with the ranks in r.
  [[gnu::always_inline]] int FindInRegister(RankRegister& r, uint32_t rank, uint16_t* color);

  // Puts the cache into a given state (tests, and the encoder's planning copies); the width rule
  // follows active, which is limited to 0 to 17.
  void Load(int32_t active, const std::array<CacheEntry, kEntries>& entries);

  int32_t active() const {
    return active_;
  }
  int32_t next_state() const {
    return next_state_;
  }
  CacheEntry entry(int index) const {
    const size_t i = static_cast<size_t>(index);
    return {colors_[i], ranks_[i], (used_ >> index) & 1u};
  }

 private:
  void ApplyWidthRule() {
    next_state_ = NextStateFor(active_);
  }
  int TooLarge(const char* operation) const;
  // Bits of the active entries whose rank is rank (bit i for entry i).
  uint32_t RankMask(uint8_t rank) const;
  // Every active entry whose rank is below threshold gets rank + 1, and entry front gets rank 0,
  // in one write of the ranks (a byte written on its own after them would stall the next read).
  void RaiseRanksBelow(uint8_t threshold, int front);
  // FindInRegister for a full cache: through memory.
  int FindOutsideRegister(RankRegister& r, uint32_t rank, uint16_t* color);

  // 32 lanes each; only the first active ones mean anything.
  alignas(16) std::array<uint8_t, 32> ranks_{};
  alignas(16) std::array<uint16_t, 32> colors_{};
  uint32_t used_ = 0;  // bit i: entry i was used since the last prune
  int32_t active_ = 0;
  int32_t next_state_ = 38;  // LATCHED until a width rule applies
};

#if defined(__SSE2__)
namespace color_cache_lanes {
// 0xFF for lanes below n, read 16 bytes from kActive + 16 - n; 0xFF for lane i alone, read from
// kOne + 16 - i (zero for i = 16).
alignas(16) inline constexpr std::array<uint8_t, 32> kActive = [] {
  std::array<uint8_t, 32> lanes{};
  for (size_t i = 0; i < 16; ++i) lanes[i] = 0xFF;
  return lanes;
}();
alignas(16) inline constexpr std::array<uint8_t, 48> kOne = [] {
  std::array<uint8_t, 48> lanes{};
  lanes[16] = 0xFF;
  return lanes;
}();
inline __m128i Active(int32_t n) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(kActive.data() + 16 - n));
}
inline __m128i One(int i) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(kOne.data() + 16 - i));
}
}  // namespace color_cache_lanes
#endif

inline uint32_t ColorCache::RankMask(uint8_t rank) const {
  const uint32_t active = (1u << active_) - 1;
#if defined(__SSE2__)
  // Entries 0 to 15 in one vector; entry 16 is in use only in a full cache.
  const __m128i lo = _mm_load_si128(reinterpret_cast<const __m128i*>(ranks_.data()));
  uint32_t mask = static_cast<uint32_t>(
      _mm_movemask_epi8(_mm_cmpeq_epi8(lo, _mm_set1_epi8(static_cast<char>(rank)))));
  if (active_ > 16) mask |= static_cast<uint32_t>(ranks_[16] == rank) << 16;
  return mask & active;
#else
  uint32_t mask = 0;
  for (int i = 0; i < active_; ++i) {
    if (ranks_[static_cast<size_t>(i)] == rank) mask |= 1u << i;
  }
  return mask & active;
#endif
}

inline void ColorCache::RaiseRanksBelow(uint8_t threshold, int front) {
#if defined(__SSE2__)
  using namespace color_cache_lanes;
  // Lanes past the active ones stay as they are. Ranks never exceed 17, so a signed compare does.
  const __m128i lanes = Active(active_ > 16 ? 16 : active_);
  __m128i ranks = _mm_load_si128(reinterpret_cast<const __m128i*>(ranks_.data()));
  const __m128i below =
      _mm_and_si128(_mm_cmplt_epi8(ranks, _mm_set1_epi8(static_cast<char>(threshold))), lanes);
  ranks = _mm_andnot_si128(One(front), _mm_sub_epi8(ranks, below));  // below is -1 where it rises
  _mm_store_si128(reinterpret_cast<__m128i*>(ranks_.data()), ranks);
  if (active_ > 16) {
    if (ranks_[16] < threshold) ++ranks_[16];
    if (front == 16) ranks_[16] = 0;
  }
#else
  for (int i = 0; i < active_; ++i) {
    if (ranks_[static_cast<size_t>(i)] < threshold) ++ranks_[static_cast<size_t>(i)];
  }
  ranks_[static_cast<size_t>(front)] = 0;
#endif
}

inline ColorCache::RankRegister ColorCache::LoadRanks() const {
  RankRegister r;
#if defined(__SSE2__)
  const __m128i active = color_cache_lanes::Active(active_ > 16 ? 16 : active_);
  const __m128i ranks = _mm_load_si128(reinterpret_cast<const __m128i*>(ranks_.data()));
  r.ranks =
      _mm_or_si128(_mm_and_si128(ranks, active), _mm_andnot_si128(active, _mm_set1_epi8(0x7F)));
#endif
  r.full = active_ > 16;
  return r;
}

inline void ColorCache::StoreRanks([[maybe_unused]] const RankRegister& r) {
#if defined(__SSE2__)
  // The inactive entries keep their ranks.
  const __m128i active = color_cache_lanes::Active(active_ > 16 ? 16 : active_);
  __m128i* const lanes = reinterpret_cast<__m128i*>(ranks_.data());
  _mm_store_si128(lanes, _mm_or_si128(_mm_and_si128(r.ranks, active),
                                      _mm_andnot_si128(active, _mm_load_si128(lanes))));
#endif
}

inline int ColorCache::FindInRegister(RankRegister& r, uint32_t rank, uint16_t* color) {
#if defined(__SSE2__)
  if (__builtin_expect(!r.full && rank < 17, 1)) {
    const __m128i wanted = _mm_set1_epi8(static_cast<char>(rank));
    const uint32_t found =
        static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(r.ranks, wanted)));
    if (found == 0) return 1;
    const int i = __builtin_ctz(found);
    *color = colors_[static_cast<size_t>(i)];
    // Every active entry ranked below rises by one (below is -1 there); the found one becomes 0.
    const __m128i below = _mm_cmplt_epi8(r.ranks, wanted);
    r.ranks = _mm_andnot_si128(color_cache_lanes::One(i), _mm_sub_epi8(r.ranks, below));
    used_ |= 1u << i;
    return 0;
  }
#endif
  return FindOutsideRegister(r, rank, color);
}

}  // namespace remcons
