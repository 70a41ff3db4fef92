// The bit reader's marks and zero counts, worked out by hand. Plain bit order, reads in every size
// and refills are held to the pictures sent by the simulator's round trips and to captures.
#include "video/BitReader.h"

#include <gtest/gtest.h>

#include "video/VideoFakes.h"

namespace remcons {
namespace {

using testing::MemorySource;

struct Reader {
  explicit Reader(std::vector<uint8_t> bytes) : source(std::move(bytes)) {
    reader.SetSource(&source);
    reader.StartSession();
  }
  // Reads 8-bit codes until one does not succeed; returns that result and how many were read.
  std::pair<int, int> ReadToEnd() {
    int result = BitReader::kOk, codes = 0;
    while (result == BitReader::kOk && codes < 64) {
      result = reader.GetBit(8);
      ++codes;
    }
    return {result, codes};
  }
  MemorySource source;
  BitReader reader;
};

TEST(BitReader, ThirtyZeroBitsAreDataThirtyOneAreAMark) {
  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
    int result;
  };
  const Case cases[] = {
      // 7 zeros at the top of 0x01, 16, and 7 at the bottom of 0x80: 30.
      {"30 ending in a non-zero byte", {0x01, 0x00, 0x00, 0x80, 0xFF}, BitReader::kSourceFailed},
      // 7 + 24: 31, seen as the third zero byte is fetched.
      {"31 ending in a zero byte", {0x01, 0x00, 0x00, 0x00, 0xFF}, BitReader::kResync},
      // 1 at the top of 0x40, 24, and 6 at the bottom of 0x40: 31, the closing byte itself.
      {"31 ending in a non-zero byte", {0x40, 0x00, 0x00, 0x00, 0x40, 0xFF}, BitReader::kResync},
      // The source ending inside a mark is a failure, not a mark.
      {"source ends in the zeros", {0xFF, 0x00, 0x00, 0x00, 0x00}, BitReader::kSourceFailed},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Reader r(c.bytes);
    EXPECT_EQ(r.ReadToEnd().first, c.result);
  }
}

TEST(BitReader, DroppingTheBufferedBitsRestartsTheZeroCount) {
  // Read ahead, 0x01 and three zero bytes count 31. After the drop (a joining console's first
  // 1 bit) the count starts again at the next byte: 24 + 6 for 0x40 is no mark.
  Reader r({0x01, 0x00, 0x00, 0x00, 0x40, 0xFF});
  ASSERT_EQ(r.reader.GetBit(1), BitReader::kOk);
  r.reader.DropBufferedBits();
  for (uint32_t expected : {0, 0, 0, 2, 0xFF}) {
    ASSERT_EQ(r.reader.GetBit(8), BitReader::kOk);
    EXPECT_EQ(r.reader.code(), expected);
  }
  // Without the drop the same bytes hold a mark.
  EXPECT_EQ(Reader({0x01, 0x00, 0x00, 0x00, 0x40, 0xFF}).ReadToEnd(),
            std::make_pair(int(BitReader::kResync), 4));
}

}  // namespace
}  // namespace remcons
