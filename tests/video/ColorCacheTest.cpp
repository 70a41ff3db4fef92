// The colour cache in states no ordinary stream produces. Ordinary lookups, inserts and prunes
// are held to the pictures sent by the simulator's round trips through encoder and decoder.
#include "video/ColorCache.h"

#include <gtest/gtest.h>

#include "video/VideoStates.h"

namespace remcons {
namespace {

using namespace vstate;

std::vector<uint16_t> Ranks(const ColorCache& c) {
  std::vector<uint16_t> ranks;
  for (int i = 0; i < c.active(); ++i) ranks.push_back(c.entry(i).rank);
  return ranks;
}

TEST(ColorCache, PruneLeavesRankGapsAndLookupsTakeTheLowestIndex) {
  // A state no ordinary sequence produces (a stream joined midway, a replay): a removed entry
  // ranked below the survivors.
  std::array<CacheEntry, 17> entries{};
  entries[0] = {0x111, 0, 0};  // unused: goes
  entries[1] = {0x222, 2, 1};
  entries[2] = {0x333, 3, 0};  // unused: goes
  entries[3] = {0x444, 1, 1};
  ColorCache cache;
  cache.Load(4, entries);
  cache.cache_prune();
  ASSERT_EQ(cache.active(), 2);
  // The last entry moved into the first hole, which was then examined again.
  EXPECT_EQ(cache.entry(0).color, 0x444);
  EXPECT_EQ(cache.entry(1).color, 0x222);
  EXPECT_EQ(Ranks(cache), (std::vector<uint16_t>{1, 2}));  // not renumbered
  EXPECT_EQ(cache.next_state(), PIXLRU0);
  uint16_t color;
  EXPECT_EQ(cache.cache_find(0, &color), 1);
  // An insert raises only the ranks below the old count (2): 0x444 joins 0x222 at rank 2.
  EXPECT_EQ(cache.cache_lru(0x555), 0);
  EXPECT_EQ(Ranks(cache), (std::vector<uint16_t>{2, 2, 0}));
  ASSERT_EQ(cache.cache_find(2, &color), 0);
  EXPECT_EQ(color, 0x444);  // the lower index of the two
  EXPECT_EQ(Ranks(cache), (std::vector<uint16_t>{0, 2, 1}));
  ASSERT_EQ(cache.cache_find(2, &color), 0);
  EXPECT_EQ(color, 0x222);
}

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

TEST(ColorCache, AnExplicitColourHitsItsFirstActiveEntryWherever) {
  // Every entry of a full cache and of partly filled ones, with a copy of the colour further on
  // and the colour left in a lane past the active entries: the first active copy is the hit.
  for (int active : {1, 2, 8, 9, 16, 17}) {
    for (int at = 0; at <= 17; ++at) {
      SCOPED_TRACE(std::to_string(active) + " active, colour at " + std::to_string(at));
      std::array<CacheEntry, 17> entries{};
      for (int i = 0; i < 17; ++i) {
        entries[i] = {static_cast<uint16_t>(0x100 + i), static_cast<uint16_t>(i), 0};
      }
      if (at < 17) entries[static_cast<size_t>(at)].color = 0xABC;
      if (at + 2 < 17) entries[static_cast<size_t>(at + 2)].color = 0xABC;
      ColorCache cache;
      cache.Load(active, entries);
      const bool cached = at < active;
      EXPECT_EQ(cache.cache_lru(0xABC), cached ? 1 : 0);
      if (cached) {
        EXPECT_EQ(cache.active(), active);
        EXPECT_EQ(cache.entry(at).rank, 0);
        EXPECT_EQ(cache.entry(at).used, 1u);
      } else {
        // Inserted: into the next free entry, or over the least recent one of a full cache.
        const int into = active < 17 ? active : 16;
        EXPECT_EQ(cache.entry(into).color, 0xABC);
        EXPECT_EQ(cache.entry(into).rank, 0);
      }
    }
  }
}

}  // namespace
}  // namespace remcons
