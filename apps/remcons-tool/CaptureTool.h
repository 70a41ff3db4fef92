// What the capture subcommands share: opening a capture file or buffer with a one-line reason, and
// saying how its records ended.
#pragma once

#include <cstdio>
#include <cstring>
#include <string>

#include "capture/CaptureFile.h"
#include "capture/OfflinePlayer.h"

namespace remcons::tool {

inline bool OpenCapture(const std::string& path, CaptureReader& reader) {
  int error = 0;
  std::string why;
  if (reader.Open(path, &error, &why)) return true;
  std::fprintf(stderr, "remcons-tool: %s: %s\n", path.c_str(),
               error ? std::strerror(error) : ("not a capture file: " + why).c_str());
  return false;
}

// "clean", or where and why the records ended early.
inline std::string EndOfRecords(const PlayerSummary& s) {
  const std::string at = " at offset " + std::to_string(s.endOffset) + ": " + s.why;
  switch (s.end) {
    case CaptureReader::Next::kTruncated:
      return "the last record is cut short" + at;
    case CaptureReader::Next::kBroken:
      return "broken record" + at;
    case CaptureReader::Next::kReadError:
      return "read error" + at;
    default:
      return "clean";
  }
}

}  // namespace remcons::tool
