// remcons-tool info CAPTURE: what a capture file or a BOOT/FAULT buffer holds: its header, the
// record count, the recorded duration, the screen modes its stream sets, and the first broken
// record if there is one (exit status 1 then).
#include <cstdio>
#include <string>
#include <vector>

#include "CaptureTool.h"
#include "Tool.h"

namespace remcons::tool {
namespace {

int Info(const std::vector<std::string>& args) {
  if (args.size() != 1) {
    std::fprintf(stderr, "usage: remcons-tool info CAPTURE\n");
    return 2;
  }
  CaptureReader reader;
  if (!OpenCapture(args[0], reader)) return 1;
  const CaptureHeader& h = reader.header();
  std::printf("file: %s (%llu bytes)\n", args[0].c_str(),
              static_cast<unsigned long long>(reader.size()));
  std::printf("format %u, signature 0x%08X%s, version %u\n", h.format, h.signature,
              h.signature == kCaptureSignature ? "" : " (unexpected)", h.version);
  std::printf("description: \"%s\"\n", h.description.c_str());
  if (h.keyLength == 0) {
    std::printf("key: none\n");
  } else {
    std::printf("key: %u bytes, records %s\n", h.keyLength,
                reader.deciphered() ? "enciphered (deciphered to read)" : "stored deciphered");
  }
  std::printf("first record: %u, total size: %u\n", h.firstRecord, h.totalSize);

  OfflinePlayer player(reader);
  if (!player.Play()) {
    std::fprintf(stderr, "remcons-tool: the decoder's frame could not be made\n");
    return 1;
  }
  const PlayerSummary& s = player.summary();
  std::printf("records: %llu (%llu bytes of stream)\n", static_cast<unsigned long long>(s.records),
              static_cast<unsigned long long>(s.bytes));
  std::printf("duration: %.3f s by the time stamps, %.3f s as replayed (gaps at most 5 s)\n",
              (s.lastStamp - s.firstStamp) / 1000.0, static_cast<double>(s.replayMs) / 1000.0);
  std::printf("modes:");
  for (const auto& [width, height] : s.modes) std::printf(" %dx%d", width, height);
  std::printf("%s\n", s.modes.empty() ? " none" : "");
  std::printf("end: %s\n", EndOfRecords(s).c_str());
  return s.end == CaptureReader::Next::kBroken || s.end == CaptureReader::Next::kReadError ? 1 : 0;
}

const Registration kInfo("info", "info CAPTURE", Info);

}  // namespace
}  // namespace remcons::tool
