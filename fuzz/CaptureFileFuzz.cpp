// Fuzz target: any bytes as a capture file or a BOOT/FAULT buffer through the reader, twice (the
// second pass after a rewind), and the first records through the decoder. Every length and offset
// must be checked before use, and the records must end: no loop, nothing read outside the file.
//
// With libFuzzer, from the repository's top:
//   clang++ -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -Isrc fuzz/CaptureFileFuzz.cpp
//     src/capture/*.cpp src/video/*.cpp src/net/*.cpp src/platform/*.cpp -lz -o capture_file_fuzz
//     ./capture_file_fuzz fuzz/corpus/CaptureFileFuzz
// The tests run the same entry point over mutations of the seed corpus.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "capture/CaptureFile.h"
#include "capture/OfflinePlayer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace remcons;
  CaptureReader reader;
  std::string why;
  if (!reader.OpenBytes(std::vector<uint8_t>(data, data + size), &why)) return 0;
  uint8_t record[kMaxRecordData];
  for (int pass = 0; pass < 2; ++pass) {
    RecordHeader header;
    // Every record is at least 32 bytes long and each is read once: more reads than that loop.
    const uint64_t most = reader.size() / kRecordHeaderSize + 1;
    uint64_t reads = 0;
    while (reader.Read(&header, record, &why) == CaptureReader::Next::kRecord) {
      if (header.length > kMaxRecordData || ++reads > most) __builtin_trap();
    }
    reader.Rewind();
  }
  // Small files are played too, into a small frame: the decoder over what the records hold.
  if (size < 2048) {
    OfflinePlayer player(reader, 128, 128);
    player.Play();
  }
  return 0;
}
