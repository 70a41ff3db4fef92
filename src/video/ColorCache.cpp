#include "video/ColorCache.h"

#include "platform/trace.h"
#include "video/VideoStates.h"

namespace remcons {

int32_t ColorCache::NextStateFor(int32_t active) {
  using namespace vstate;
  if (active <= 1) return LATCHED;
  if (active == 2) return PIXLRU0;
  if (active == 3) return PIXCODE1;
  if (active <= 5) return PIXCODE2;
  if (active <= 9) return PIXCODE3;
  return PIXCODE4;
}

void ColorCache::Load(int32_t active, const std::array<CacheEntry, kEntries>& entries) {
  active_ = active < 0 ? 0 : (active > kEntries ? kEntries : active);
  entries_ = entries;
  ApplyWidthRule();
}

void ColorCache::cache_clear() {
  active_ = 0;
  for (CacheEntry& e : entries_) e.rank = 0;
}

int ColorCache::cache_find(uint32_t rank, uint16_t* color) {
  if (active_ > kEntries) {
    RC_TRACE("cache_find: active too large %d\n", active_);
    return 1;
  }
  int found = -1;
  for (int i = 0; i < active_; ++i) {
    if (entries_[i].rank == rank) {
      found = i;
      break;
    }
  }
  if (found < 0) return 1;
  *color = entries_[found].color;
  for (int i = 0; i < active_; ++i) {
    if (entries_[i].rank < rank) ++entries_[i].rank;
  }
  entries_[found].rank = 0;
  entries_[found].used = 1;
  return 0;
}

int ColorCache::cache_lru(uint16_t color) {
  if (active_ > kEntries) {
    RC_TRACE("cache_lru: active too large %d\n", active_);
    return 0;
  }
  int found = -1;
  int lru = 0;
  for (int i = 0; i < active_; ++i) {
    if (entries_[i].rank == static_cast<uint32_t>(active_ - 1)) lru = i;
    if (entries_[i].color == color) {
      found = i;
      break;
    }
  }
  int chosen;
  uint32_t threshold;
  int result;
  if (found >= 0) {
    chosen = found;
    threshold = entries_[found].rank;
    result = 1;
  } else {
    if (active_ < kEntries) {
      chosen = active_;
      threshold = static_cast<uint32_t>(active_);
      ++active_;
      ApplyWidthRule();
    } else {
      // The scan ran over every entry: lru is the last one ranked active - 1, entry 0 when none is.
      chosen = lru;
      threshold = entries_[lru].rank;
    }
    entries_[chosen].color = color;
    result = 0;
  }
  entries_[chosen].used = 1;
  for (int i = 0; i < active_; ++i) {
    if (entries_[i].rank < threshold) ++entries_[i].rank;
  }
  entries_[chosen].rank = 0;
  return result;
}

void ColorCache::cache_prune() {
  if (active_ > kEntries) {
    RC_TRACE("cache_prune: active too large %d\n", active_);
    return;
  }
  int i = 0;
  while (i < active_) {
    if (entries_[i].used != 0) {
      --entries_[i].used;
      ++i;
    } else {
      --active_;
      entries_[i] = entries_[active_];
    }
  }
  ApplyWidthRule();
}

}  // namespace remcons
