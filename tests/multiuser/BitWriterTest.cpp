// The bit writer's refusals and its warning, against bits worked out by hand.
#include <gtest/gtest.h>

#include "multiuser/BitWriter.h"
#include "support/TraceCapture.h"

namespace remcons {
namespace {

TEST(BitWriter, LengthsOutsideOneTo16AppendNothingAndCodesTooWideAreCut) {
  testing::TraceCapture trace;
  BitWriter w;
  w.Put(0, 1);
  w.Put(17, 1);
  EXPECT_TRUE(trace.Has("qelbit_put(0,0x1): length error\n"));
  EXPECT_TRUE(trace.Has("qelbit_put(17,0x1): length error\n"));
  // 9 in 3 bits: the bits 0 0 1 go in, the first in the lowest bit of the byte.
  w.Put(3, 9);
  EXPECT_TRUE(trace.Has("qelbit_put error: len 3, code was 0x9\n"));
  w.Put(5, 0);
  ASSERT_EQ(w.size(), 1u);
  EXPECT_EQ(w.data()[0], 0x04);
}

}  // namespace
}  // namespace remcons
