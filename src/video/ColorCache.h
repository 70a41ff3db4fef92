// The 17-entry most-recently-used colour table that the server mirrors. Stream pixels refer to
// cached colours by rank, so every rule here, its irregularities included, is stream format: ranks
// are not renumbered after a prune (gaps and even duplicates occur) and a lookup by rank takes the
// entry with the lowest index. The encoder of the simulator runs the same model.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

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
  int cache_find(uint32_t rank, uint16_t* color);
  // Lookup-or-insert by colour: 1 when it was cached already (a hit), 0 when inserted.
  int cache_lru(uint16_t color);
  // Ageing at the end of each pixel block: entries unused since the last prune leave.
  void cache_prune();

  // Puts the cache into a given state (tests, and the encoder's planning copies); the width rule
  // follows active, which is limited to 0 to 17.
  void Load(int32_t active, const std::array<CacheEntry, kEntries>& entries);

  int32_t active() const { return active_; }
  int32_t next_state() const { return next_state_; }
  const CacheEntry& entry(int index) const { return entries_[static_cast<size_t>(index)]; }

 private:
  void ApplyWidthRule() { next_state_ = NextStateFor(active_); }

  int32_t active_ = 0;
  std::array<CacheEntry, kEntries> entries_{};
  int32_t next_state_ = 38;  // LATCHED until a width rule applies
};

}  // namespace remcons
