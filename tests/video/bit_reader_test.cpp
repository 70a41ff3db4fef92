#include "video/BitReader.h"

#include <gtest/gtest.h>

#include "support/trace_capture.h"
#include "video/video_fakes.h"

namespace remcons {
namespace {

using testing::MemorySource;

struct Reader {
  explicit Reader(std::vector<uint8_t> bytes, int chunk = BitReader::kBufferSize)
      : source(std::move(bytes), chunk) {
    reader.SetSource(&source);
    reader.StartSession();
  }
  MemorySource source;
  BitReader reader;
};

TEST(BitReader, CodesTakeTheFirstBitReadAsTheirMostSignificant) {
  // 0xB4 = 1011 0100 arrives as the bits 0 0 1 0 1 1 0 1.
  Reader r({0xB4});
  ASSERT_EQ(r.reader.GetBit(3), BitReader::kOk);
  EXPECT_EQ(r.reader.code(), 1);
  ASSERT_EQ(r.reader.GetBit(5), BitReader::kOk);
  EXPECT_EQ(r.reader.code(), 13);
}

TEST(BitReader, CodesSpanByteBoundaries) {
  // Bits in stream order: 1 1 1 0 0 0 0 0 | 1 0 1 0 ...
  Reader r({0x07, 0x05});
  ASSERT_EQ(r.reader.GetBit(5), BitReader::kOk);
  EXPECT_EQ(r.reader.code(), 0b11100);
  ASSERT_EQ(r.reader.GetBit(7), BitReader::kOk);
  EXPECT_EQ(r.reader.code(), 0b0001010);
  EXPECT_EQ(r.reader.nbits(), 4u);
  ASSERT_EQ(r.reader.GetBit(4), BitReader::kOk);
  EXPECT_EQ(r.reader.code(), 0b0000);
}

TEST(BitReader, GetBitZeroConsumesNothingAndKeepsTheCode) {
  Reader r({0xFF, 0x00});
  ASSERT_EQ(r.reader.GetBit(4), BitReader::kOk);
  EXPECT_EQ(r.reader.code(), 15);
  ASSERT_EQ(r.reader.GetBit(0), BitReader::kOk);
  EXPECT_EQ(r.reader.code(), 15);
  EXPECT_EQ(r.reader.nbits(), 4u);
  ASSERT_EQ(r.reader.GetBit(4), BitReader::kOk);
  EXPECT_EQ(r.reader.code(), 15);
}

TEST(BitReader, EndOfSourceIsReportedAndTraced) {
  testing::TraceCapture trace;
  Reader r({0xAA});
  ASSERT_EQ(r.reader.GetBit(8), BitReader::kOk);
  EXPECT_EQ(r.reader.GetBit(1), BitReader::kSourceFailed);
  EXPECT_TRUE(trace.Has("GetBit: 0 bytes returned from ReadByte.\n"));
}

TEST(BitReader, MarkAfterATopBitDropsTheClosingByteAndResumesAfterIt) {
  // 0x80 leaves no zero bits at its top; four zero bytes make 32; 0x01 closes the mark and is
  // dropped; 0xB4 is read afresh.
  Reader r({0x80, 0x00, 0x00, 0x00, 0x00, 0x01, 0xB4});
  ASSERT_EQ(r.reader.GetBit(8), BitReader::kOk);
  int result = BitReader::kOk;
  int reads = 0;
  while (result == BitReader::kOk && reads < 100) {
    result = r.reader.GetBit(8);
    ++reads;
  }
  EXPECT_EQ(result, BitReader::kResync);
  EXPECT_EQ(reads, 4);  // three zero bytes were read as codes, the fourth completed the mark
  EXPECT_EQ(r.reader.nbits(), 0u);
  EXPECT_EQ(r.reader.zero_run(), 0u);  // trailing zeros of 0x01
  ASSERT_EQ(r.reader.GetBit(3), BitReader::kOk);
  EXPECT_EQ(r.reader.code(), 1);
  ASSERT_EQ(r.reader.GetBit(5), BitReader::kOk);
  EXPECT_EQ(r.reader.code(), 13);
}

struct RunCase {
  const char* name;
  std::vector<uint8_t> bytes;
  bool resync;
};

TEST(BitReader, ThirtyZeroBitsAreDataThirtyOneAreAMark) {
  const std::vector<RunCase> cases = {
      // 7 zeros at the top of 0x01, 16, and 7 at the bottom of 0x80: 30.
      {"30 ending in a non-zero byte", {0x01, 0x00, 0x00, 0x80, 0xFF}, false},
      // 7 + 24: 31, seen as the third zero byte is fetched.
      {"31 ending in a zero byte", {0x01, 0x00, 0x00, 0x00, 0xFF}, true},
      // 6 at the top of 0x02, 16, 7: 29.
      {"29", {0x02, 0x00, 0x00, 0x80, 0xFF}, false},
      // 1 at the top of 0x40, 24, and 6 at the bottom of 0x40: 31, the closing byte itself.
      {"31 ending in a non-zero byte", {0x40, 0x00, 0x00, 0x00, 0x40, 0xFF}, true},
      // The same with 5 at the bottom of 0x20: 30.
      {"30 after three zero bytes", {0x40, 0x00, 0x00, 0x00, 0x20, 0xFF}, false},
      {"8 inside ordinary data", {0x10, 0x00, 0x08, 0xFF}, false},
  };
  for (const RunCase& c : cases) {
    SCOPED_TRACE(c.name);
    Reader r(c.bytes);
    int result = BitReader::kOk;
    int codes = 0;
    while (result == BitReader::kOk && codes < 64) {
      result = r.reader.GetBit(8);
      ++codes;
    }
    EXPECT_EQ(result, c.resync ? BitReader::kResync : BitReader::kSourceFailed);
  }
}

TEST(BitReader, ZeroRunCountsTheTopZerosOfBitsAlreadyHandedOut) {
  // The zero run is a byte-level count: 0x01's top seven zeros count although the code that took
  // them was read before the zero bytes arrived.
  Reader r({0x01, 0x00, 0x00, 0x00, 0x01, 0xFF});
  ASSERT_EQ(r.reader.GetBit(1), BitReader::kOk);
  EXPECT_EQ(r.reader.code(), 1);
  ASSERT_EQ(r.reader.GetBit(7), BitReader::kOk);
  ASSERT_EQ(r.reader.GetBit(8), BitReader::kOk);
  ASSERT_EQ(r.reader.GetBit(8), BitReader::kOk);
  EXPECT_EQ(r.reader.GetBit(8), BitReader::kResync);
  ASSERT_EQ(r.reader.GetBit(8), BitReader::kOk);
  EXPECT_EQ(r.reader.code(), 0xFF);
}

TEST(BitReader, DroppingTheBufferedBitsRestartsTheZeroCount) {
  // Read ahead, 0x01 and three zero bytes count 31. After the drop (a joining console's first
  // 1 bit) the count starts again at the next byte: 24 + 6 for 0x40 is no mark.
  Reader r({0x01, 0x00, 0x00, 0x00, 0x40, 0xFF});
  ASSERT_EQ(r.reader.GetBit(1), BitReader::kOk);
  EXPECT_EQ(r.reader.code(), 1);
  r.reader.DropBufferedBits();
  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(r.reader.GetBit(8), BitReader::kOk);
    EXPECT_EQ(r.reader.code(), 0);
  }
  ASSERT_EQ(r.reader.GetBit(8), BitReader::kOk);
  EXPECT_EQ(r.reader.code(), 2);
  ASSERT_EQ(r.reader.GetBit(8), BitReader::kOk);
  EXPECT_EQ(r.reader.code(), 0xFF);
  // Without the drop the same bytes hold a mark.
  Reader plain({0x01, 0x00, 0x00, 0x00, 0x40, 0xFF});
  ASSERT_EQ(plain.reader.GetBit(8), BitReader::kOk);
  ASSERT_EQ(plain.reader.GetBit(8), BitReader::kOk);
  ASSERT_EQ(plain.reader.GetBit(8), BitReader::kOk);
  EXPECT_EQ(plain.reader.GetBit(8), BitReader::kResync);
}

TEST(BitReader, ASourceIsReadOnlyWhenACodeNeedsItsBytes) {
  // Two chunks: the first code of the second chunk is the first thing that makes the reader
  // read again.
  Reader r({0xAB, 0xCD, 0xEF});
  r.source.SetChunks({2, 1});
  ASSERT_EQ(r.reader.GetBit(4), BitReader::kOk);
  EXPECT_EQ(r.source.reads, 1);
  ASSERT_EQ(r.reader.GetBit(8), BitReader::kOk);
  ASSERT_EQ(r.reader.GetBit(4), BitReader::kOk);
  EXPECT_EQ(r.source.reads, 1);
  ASSERT_EQ(r.reader.GetBit(1), BitReader::kOk);
  EXPECT_EQ(r.source.reads, 2);
}

TEST(BitReader, SourceEndingInsideAMarkIsAFailure) {
  testing::TraceCapture trace;
  Reader r({0xFF, 0x00, 0x00, 0x00, 0x00});
  int result = BitReader::kOk;
  for (int i = 0; i < 10 && result == BitReader::kOk; ++i) result = r.reader.GetBit(8);
  EXPECT_EQ(result, BitReader::kSourceFailed);
  EXPECT_TRUE(trace.Has("GetBit: ReadByte error 0\n"));
}

class Recorder : public RefillObserver {
 public:
  void OnRefill(const uint8_t* data, int length) override {
    chunks.emplace_back(data, data + length);
  }
  std::vector<std::vector<uint8_t>> chunks;
};

TEST(BitReader, EveryRefillReachesTheObserverAsRead) {
  std::vector<uint8_t> bytes(10000);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 7 + 1);
  Reader r(bytes);
  r.source.SetChunks({100, 5000});  // short reads, and more offered than the buffer holds
  Recorder recorder;
  r.reader.SetRefillObserver(&recorder);
  std::vector<uint8_t> read;
  uint8_t b;
  while (r.reader.ReadByte(&b) == 1) read.push_back(b);
  EXPECT_EQ(read, bytes);
  ASSERT_EQ(recorder.chunks.size(), 4u);
  EXPECT_EQ(recorder.chunks[0].size(), 100u);
  EXPECT_EQ(recorder.chunks[1].size(), 4096u);
  EXPECT_EQ(recorder.chunks[2].size(), 4096u);
  EXPECT_EQ(recorder.chunks[3].size(), 10000u - 100u - 4096u - 4096u);
  EXPECT_EQ(recorder.chunks[1].front(), bytes[100]);
  EXPECT_EQ(r.reader.length(), 0u);
}

}  // namespace
}  // namespace remcons
