#include "video/ColorCache.h"

#include "platform/Trace.h"
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

int ColorCache::IndexBitsFor(int32_t active) {
  return static_cast<int>(vstate::CacheIndexBits(NextStateFor(active)));
}

int ColorCache::TooLarge(const char* operation) const {
  RC_TRACE("%s: active too large %d\n", operation, active_);
  return 1;
}

void ColorCache::Load(int32_t active, const std::array<CacheEntry, kEntries>& entries) {
  active_ = active < 0 ? 0 : (active > kEntries ? kEntries : active);
  for (size_t i = 0; i < entries.size(); ++i) {
    colors_[i] = entries[i].color;
    ranks_[i] = static_cast<uint8_t>(entries[i].rank > 255 ? 255 : entries[i].rank);
  }
  used_ = 0;
  for (size_t i = 0; i < entries.size(); ++i) used_ |= (entries[i].used != 0 ? 1u : 0u) << i;
  ApplyWidthRule();
}

int ColorCache::FindOutsideRegister(RankRegister& r, uint32_t rank, uint16_t* color) {
  StoreRanks(r);
  const int result = cache_find(rank, color);
  r = LoadRanks();
  return result;
}

void ColorCache::cache_clear() {
  active_ = 0;
  ranks_.fill(0);
}

int ColorCache::cache_lru(uint16_t color) {
  if (active_ > kEntries) {
    TooLarge("cache_lru");
    return 0;
  }
  int found = -1;
  for (int i = 0; i < active_; ++i) {
    if (colors_[static_cast<size_t>(i)] == color) {
      found = i;
      break;
    }
  }
  int chosen;
  uint8_t threshold;
  int result;
  if (found >= 0) {
    chosen = found;
    threshold = ranks_[static_cast<size_t>(found)];
    result = 1;
  } else {
    if (active_ < kEntries) {
      chosen = active_;
      threshold = static_cast<uint8_t>(active_);
      ++active_;
      ApplyWidthRule();
    } else {
      // The least recently used: the last entry ranked active - 1, entry 0 when none is.
      const uint32_t lru = RankMask(static_cast<uint8_t>(active_ - 1));
      chosen = lru == 0 ? 0 : 31 - __builtin_clz(lru);
      threshold = ranks_[static_cast<size_t>(chosen)];
    }
    colors_[static_cast<size_t>(chosen)] = color;
    result = 0;
  }
  used_ |= 1u << chosen;
  RaiseRanksBelow(threshold, chosen);
  return result;
}

void ColorCache::cache_prune() {
  if (active_ > kEntries) {
    TooLarge("cache_prune");
    return;
  }
  int i = 0;
  while (i < active_) {
    const size_t at = static_cast<size_t>(i);
    if ((used_ >> i) & 1u) {
      used_ &= ~(1u << i);
      ++i;
    } else {
      --active_;
      const size_t last = static_cast<size_t>(active_);
      colors_[at] = colors_[last];
      ranks_[at] = ranks_[last];
      used_ = (used_ & ~(1u << i)) | (((used_ >> active_) & 1u) << i);
    }
  }
  ApplyWidthRule();
}

}  // namespace remcons
