// A full colour cache, in the state an ordinary stream gives and in one it never gives. Lookups,
// inserts and prunes of fewer colours are held to the hand-worked streams and the round trips.
#include "video/ColorCache.h"

#include <gtest/gtest.h>

namespace remcons {
namespace {

TEST(ColorCache, AFullCacheWithoutALeastRecentRankReplacesEntryZero) {
  std::array<CacheEntry, 17> entries{};
  for (int i = 0; i < 17; ++i) {
    entries[i] = {static_cast<uint16_t>(0x100 + i), static_cast<uint16_t>(i == 16 ? 0 : i + 1), 1};
  }
  // Ranks 1..16 on entries 0..15 and 0 on entry 16: rank 16 is entry 15.
  ColorCache cache;
  cache.Load(17, entries);
  EXPECT_EQ(cache.cache_lru(0xABC), 0);
  EXPECT_EQ(cache.entry(15).color, 0xABC);
  // Now without any entry of rank 16.
  for (int i = 0; i < 17; ++i) entries[i].rank = static_cast<uint16_t>(i % 8);
  cache.Load(17, entries);
  EXPECT_EQ(cache.cache_lru(0xDEF), 0);
  EXPECT_EQ(cache.entry(0).color, 0xDEF);
  EXPECT_EQ(cache.entry(0).rank, 0);
}

}  // namespace
}  // namespace remcons
