// The capture file: the recorder's bytes against the layout worked out by hand, hostile and
// unusual files through the reader. The offline player through a key update is remcons-tool
// replay's test.
#include <gtest/gtest.h>

#include "capture/CaptureFile.h"
#include "capture/CaptureRig.h"
#include "platform/Hex.h"
#include "vmedia/VmHarness.h"

namespace remcons {
namespace {

using testing::Bytes;
using testing::CaptureBuilder;
using Next = CaptureReader::Next;

TEST(CaptureRecorder, WritesTheLayoutByteForByte) {
  vmtest::TempDir dir;
  CaptureRecorder recorder;
  ASSERT_EQ(recorder.Create(dir / "a.kro", "srv"), CaptureRecorder::kOk);
  const uint8_t data[2] = {'A', 'B'};
  ASSERT_TRUE(recorder.Append(7, 0x01020304, data, 2));
  EXPECT_FALSE(recorder.Append(7, 0, data, 0));
  recorder.Close();
  const Bytes file = vmtest::ReadFile(dir / "a.kro");
  ASSERT_EQ(file.size(), 344u + 34u);
  EXPECT_EQ(HexBytes(file.data(), 20), "01000000a5a5a5a5010000000000000073727600");
  EXPECT_EQ(HexBytes(&file[272], 16), "00000000000000000000000000000000");  // key length 0
  // First record 344, the field after it 344, the total 378.
  EXPECT_EQ(HexBytes(&file[316], 12), "58010000580100007a010000");
  EXPECT_EQ(HexBytes(&file[344], 34),
            "444154410100000007000000040302010000000000000000000000000200000041"
            "42");
}

// Records A, B, C at 344, 377, 410 (one byte each), the ring's first at B, C leading to A.
Bytes Ring() {
  CaptureBuilder b;
  b.header.firstRecord = 377;
  return b.Add(1, {0x42}).Add(2, {0x42}).Add({3, {0x42}, 0, 344}).Build();
}

// Records that lead back to themselves or wrap twice are the capture file fuzz target's, which
// checks that every file's records end.
TEST(CaptureReader, ReadsWhatTheLayoutAllowsAndNothingElse) {
  const Next kRecord = Next::kRecord, kEnd = Next::kEnd, kBroken = Next::kBroken;
  const Bytes one = {0x42};
  Bytes cutShort = CaptureBuilder().Add(1, one).Build();
  cutShort.resize(cutShort.size() + 10);
  CaptureBuilder keyed, stored, longKey, pastTheEnd;
  keyed.Key(Bytes(16, 0x5C)).Add(1, one).Add(2, one);
  stored.Key(Bytes(16, 0x5C)).Add(1, one);
  stored.encipher = false;
  longKey.header.keyLength = 25;
  pastTheEnd.header.firstRecord = 400;
  const struct {
    const char* name;
    Bytes file;
    std::vector<Next> reads;  // empty: the file is refused at its header
    std::vector<uint32_t> stamps{};
  } cases[] = {
      {"clean", CaptureBuilder().Add(1, one).Add(2, Bytes(4096)).Build(), {kRecord, kRecord, kEnd}},
      {"longer than 4096", CaptureBuilder().Add(1, Bytes(4097)).Build(), {kBroken}},
      {"length past the end",
       CaptureBuilder().Add({1, Bytes(10), 0, 0, "DATA", 100}).Build(),
       {Next::kTruncated}},
      {"header cut short", cutShort, {kRecord, Next::kTruncated}},
      {"bad marker", CaptureBuilder().Add({1, one, 0, 0, "DATX"}).Build(), {kBroken}},
      {"next outside the file", CaptureBuilder().Add({1, one, 0, 5000}).Build(), {kBroken}},
      {"ring wraps once and ends where it began",
       Ring(),
       {kRecord, kRecord, kRecord, kEnd},
       {2, 3, 1}},
      {"enciphered as the server sends it", keyed.Build(), {kRecord, kRecord, kEnd}},
      {"stored deciphered with its key", stored.Build(), {kRecord, kEnd}},
      {"shorter than the header", Bytes(300), {}},
      {"key longer than 24", longKey.Build(), {}},
      {"first record past the end", pastTheEnd.Build(), {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    CaptureReader reader;
    std::string why;
    ASSERT_EQ(reader.OpenBytes(c.file, &why), !c.reads.empty()) << why;
    uint8_t data[kMaxRecordData];
    RecordHeader record;
    std::vector<uint32_t> stamps;
    for (Next expected : c.reads) {
      const Next got = reader.Read(&record, data, &why);
      ASSERT_EQ(got, expected) << why;
      if (got != kRecord) continue;
      stamps.push_back(record.stamp);
      if (record.length == 1) {
        EXPECT_EQ(data[0], 0x42);
      }
    }
    if (!c.stamps.empty()) {
      EXPECT_EQ(stamps, c.stamps);
    }
    // A rewind starts again at the header's first record.
    reader.Rewind();
    if (!c.reads.empty()) {
      EXPECT_EQ(reader.Read(&record, data, &why), c.reads.front());
    }
  }
}

}  // namespace
}  // namespace remcons
