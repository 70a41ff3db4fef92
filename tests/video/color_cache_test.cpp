#include "video/ColorCache.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>

#include "video/VideoStates.h"

namespace remcons {
namespace {

using namespace vstate;

std::vector<uint16_t> Ranks(const ColorCache& c) {
  std::vector<uint16_t> ranks;
  for (int i = 0; i < c.active(); ++i) ranks.push_back(c.entry(i).rank);
  return ranks;
}

TEST(ColorCache, WidthRuleFollowsTheActiveCount) {
  const std::vector<std::pair<int, int>> expected = {
      {0, LATCHED},  {1, LATCHED},  {2, PIXLRU0},  {3, PIXCODE1},  {4, PIXCODE2},
      {5, PIXCODE2}, {6, PIXCODE3}, {9, PIXCODE3}, {10, PIXCODE4}, {17, PIXCODE4},
  };
  for (auto [active, state] : expected) {
    EXPECT_EQ(ColorCache::NextStateFor(active), state) << active;
  }
  ColorCache cache;
  EXPECT_EQ(cache.next_state(), LATCHED);
  for (int i = 0; i < 17; ++i) {
    cache.cache_lru(static_cast<uint16_t>(0x100 + i));
    EXPECT_EQ(cache.next_state(), ColorCache::NextStateFor(i + 1));
  }
}

TEST(ColorCache, OneColourIsFoundAtRankZeroOnly) {
  ColorCache cache;
  EXPECT_EQ(cache.cache_lru(0x123), 0);
  uint16_t color = 0;
  EXPECT_EQ(cache.cache_find(0, &color), 0);
  EXPECT_EQ(color, 0x123);
  EXPECT_EQ(cache.cache_find(1, &color), 1);
}

TEST(ColorCache, LookupsMoveTheColourToTheFrontAndAgeTheOthers) {
  ColorCache cache;
  for (uint16_t c : {0xA00, 0x0B0, 0x00C}) EXPECT_EQ(cache.cache_lru(c), 0);
  // Index order A, B, C; ranks 2, 1, 0.
  EXPECT_EQ(Ranks(cache), (std::vector<uint16_t>{2, 1, 0}));
  uint16_t color;
  ASSERT_EQ(cache.cache_find(2, &color), 0);
  EXPECT_EQ(color, 0xA00);
  EXPECT_EQ(Ranks(cache), (std::vector<uint16_t>{0, 2, 1}));
  // A hit moves the colour to the front the same way.
  EXPECT_EQ(cache.cache_lru(0x0B0), 1);
  EXPECT_EQ(Ranks(cache), (std::vector<uint16_t>{1, 0, 2}));
  EXPECT_EQ(cache.active(), 3);
}

TEST(ColorCache, TheEighteenthColourReplacesTheLeastRecent) {
  ColorCache cache;
  for (int i = 0; i < 17; ++i) EXPECT_EQ(cache.cache_lru(static_cast<uint16_t>(i + 1)), 0);
  EXPECT_EQ(cache.entry(0).rank, 16);
  EXPECT_EQ(cache.cache_lru(0x777), 0);
  EXPECT_EQ(cache.active(), 17);
  EXPECT_EQ(cache.entry(0).color, 0x777);
  EXPECT_EQ(cache.entry(0).rank, 0);
  EXPECT_EQ(cache.entry(1).rank, 16);  // colour 2 is now the least recent
  std::set<uint16_t> ranks;
  for (int i = 0; i < 17; ++i) ranks.insert(cache.entry(i).rank);
  EXPECT_EQ(ranks.size(), 17u);
}

TEST(ColorCache, PruneKeepsTheColoursOfTheBlockJustFinished) {
  ColorCache cache;
  for (uint16_t c : {1, 2, 3, 4, 5}) cache.cache_lru(c);
  EXPECT_EQ(cache.next_state(), PIXCODE2);
  cache.cache_prune();  // block k: all five used
  EXPECT_EQ(cache.active(), 5);
  // Block k+1 uses 1, 3 and 5 only.
  for (uint16_t c : {1, 3, 5}) EXPECT_EQ(cache.cache_lru(c), 1);
  cache.cache_prune();
  EXPECT_EQ(cache.active(), 3);
  EXPECT_EQ(cache.next_state(), PIXCODE1);
  std::set<uint16_t> left;
  for (int i = 0; i < cache.active(); ++i) left.insert(cache.entry(i).color);
  EXPECT_EQ(left, (std::set<uint16_t>{1, 3, 5}));
  // Block k+2 uses 3 only: 1 and 5 go at its end, 3 stays for one more block.
  uint16_t color;
  ASSERT_EQ(cache.cache_find(1, &color), 0);
  EXPECT_EQ(color, 3);
  cache.cache_prune();
  ASSERT_EQ(cache.active(), 1);
  EXPECT_EQ(cache.entry(0).color, 3);
  EXPECT_EQ(cache.next_state(), LATCHED);
  cache.cache_prune();
  EXPECT_EQ(cache.active(), 0);
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

TEST(ColorCache, ClearKeepsColoursUsedFlagsAndTheWidthState) {
  ColorCache cache;
  for (uint16_t c : {7, 8, 9}) cache.cache_lru(c);
  cache.cache_clear();
  EXPECT_EQ(cache.active(), 0);
  EXPECT_EQ(cache.next_state(), PIXCODE1);
  EXPECT_EQ(cache.entry(2).color, 9);
  EXPECT_EQ(cache.entry(2).used, 1u);
  for (int i = 0; i < 17; ++i) EXPECT_EQ(cache.entry(i).rank, 0);
  uint16_t color;
  EXPECT_EQ(cache.cache_find(0, &color), 1);
}

// In a conforming stream explicit colours are never cached already, cached ones are referenced by
// a rank that exists, and each block ends with a prune. Then the ranks always stay 0..active-1:
// the prune keeps exactly the colours of the finished block, which are the most recent ones. So
// an encoder that follows the grammar never meets a colour it cannot address.
TEST(ColorCache, ConformingUseKeepsRanksDense) {
  std::mt19937 rng(12345);
  ColorCache cache;
  for (int block = 0; block < 3000; ++block) {
    const int colours = 1 + static_cast<int>(rng() % (block % 7 == 0 ? 30 : 5));
    const int uses = 1 + static_cast<int>(rng() % 40);
    for (int u = 0; u < uses; ++u) {
      const uint16_t c = static_cast<uint16_t>(rng() % static_cast<unsigned>(colours) * 97 % 4096);
      int found = -1;
      for (int i = 0; i < cache.active(); ++i) {
        if (cache.entry(i).color == c) found = i;
      }
      if (found >= 0) {
        uint16_t got;
        ASSERT_EQ(cache.cache_find(cache.entry(found).rank, &got), 0);
        ASSERT_EQ(got, c);
      } else {
        ASSERT_EQ(cache.cache_lru(c), 0);
      }
      auto ranks = Ranks(cache);
      std::sort(ranks.begin(), ranks.end());
      for (size_t i = 0; i < ranks.size(); ++i) ASSERT_EQ(ranks[i], i) << "block " << block;
    }
    cache.cache_prune();
    auto ranks = Ranks(cache);
    std::sort(ranks.begin(), ranks.end());
    for (size_t i = 0; i < ranks.size(); ++i) ASSERT_EQ(ranks[i], i) << "block " << block;
  }
}

}  // namespace
}  // namespace remcons
