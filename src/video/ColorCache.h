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
    used_[static_cast<size_t>(i)] = 1;
    return 0;
  }
  // Lookup-or-insert by colour: 1 when it was cached already (a hit), 0 when inserted.
  int cache_lru(uint16_t color);
  // Ageing at the end of each pixel block: entries unused since the last prune leave.
  void cache_prune();

  // Puts the cache into a given state (tests, and the encoder's planning copies); the width rule
  // follows active, which is limited to 0 to 17.
  void Load(int32_t active, const std::array<CacheEntry, kEntries>& entries);

  int32_t active() const { return active_; }
  int32_t next_state() const { return next_state_; }
  CacheEntry entry(int index) const {
    const size_t i = static_cast<size_t>(index);
    return {colors_[i], ranks_[i], used_[i]};
  }

 private:
  void ApplyWidthRule() { next_state_ = NextStateFor(active_); }
  int TooLarge(const char* operation) const;
  // Bits of the active entries whose rank is rank (bit i for entry i).
  uint32_t RankMask(uint8_t rank) const;
  // Every active entry whose rank is below threshold gets rank + 1, and entry front gets rank 0,
  // in one write of the ranks (a byte written on its own after them would stall the next read).
  void RaiseRanksBelow(uint8_t threshold, int front);

  // 32 lanes each; only the first active ones mean anything.
  alignas(16) std::array<uint8_t, 32> ranks_{};
  alignas(16) std::array<uint16_t, 32> colors_{};
  std::array<uint8_t, 32> used_{};
  int32_t active_ = 0;
  int32_t next_state_ = 38;  // LATCHED until a width rule applies
};

inline uint32_t ColorCache::RankMask(uint8_t rank) const {
  const uint32_t active = (1u << active_) - 1;
#if defined(__SSE2__)
  const __m128i r = _mm_set1_epi8(static_cast<char>(rank));
  const __m128i lo = _mm_load_si128(reinterpret_cast<const __m128i*>(ranks_.data()));
  const __m128i hi = _mm_load_si128(reinterpret_cast<const __m128i*>(ranks_.data() + 16));
  const uint32_t mask = static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(lo, r))) |
                        static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(hi, r))) << 16;
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
  // Lanes past the active ones stay as they are. Ranks never exceed 17, so a signed compare does.
  static constexpr std::array<uint8_t, 96> kLanes = [] {
    std::array<uint8_t, 96> lanes{};
    for (size_t i = 0; i < 32; ++i) lanes[i] = 0xFF;  // active lanes, read from 32 - active
    lanes[64] = 0xFF;                                 // the front lane, read from 64 - front
    return lanes;
  }();
  const uint8_t* activeLanes = kLanes.data() + 32 - active_;
  const uint8_t* frontLane = kLanes.data() + 64 - front;
  const __m128i t = _mm_set1_epi8(static_cast<char>(threshold));
  for (size_t half = 0; half < 32; half += 16) {
    __m128i ranks = _mm_load_si128(reinterpret_cast<const __m128i*>(ranks_.data() + half));
    const __m128i lanes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(activeLanes + half));
    const __m128i first = _mm_loadu_si128(reinterpret_cast<const __m128i*>(frontLane + half));
    const __m128i below = _mm_and_si128(_mm_cmplt_epi8(ranks, t), lanes);
    ranks = _mm_andnot_si128(first, _mm_sub_epi8(ranks, below));  // below is -1 where a rank rises
    _mm_store_si128(reinterpret_cast<__m128i*>(ranks_.data() + half), ranks);
  }
#else
  for (int i = 0; i < active_; ++i) {
    if (ranks_[static_cast<size_t>(i)] < threshold) ++ranks_[static_cast<size_t>(i)];
  }
  ranks_[static_cast<size_t>(front)] = 0;
#endif
}

}  // namespace remcons
