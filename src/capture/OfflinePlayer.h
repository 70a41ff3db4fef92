// Plays a capture file or a buffer through the console's decoder without a server or a window, as
// fast as it can: the pictures it shows along the way (each with the recorded time it was shown
// at, the gaps capped as the replay caps them), the last picture, and what the file holds.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "capture/CaptureFile.h"
#include "platform/Surface.h"

namespace remcons {

struct PlayerSummary {
  uint64_t records = 0;
  uint64_t bytes = 0;  // record data
  uint32_t firstStamp = 0;
  uint32_t lastStamp = 0;
  uint64_t replayMs = 0;                   // recorded time as replayed
  std::vector<std::pair<int, int>> modes;  // the screen sizes, in the order first seen
  CaptureReader::Next end = CaptureReader::Next::kEnd;
  std::string why;         // what was wrong with the record it ended at
  uint64_t endOffset = 0;  // where that record begins
};

class OfflinePlayer {
 public:
  // A picture that differs from the one before, and the recorded milliseconds it was shown at;
  // return false to stop playing.
  using PictureSink = std::function<bool(uint64_t ms, const Surface& picture)>;
  // After each record: the offset reached and the file's size.
  using Progress = std::function<void(uint64_t offset, uint64_t size)>;

  // reader: open, at its first record. The frame holds up to width x height pixels (at most
  // 1280 x 1024).
  explicit OfflinePlayer(CaptureReader& reader, uint32_t width = 1280, uint32_t height = 1024)
      : reader_(reader), width_(width), height_(height) {}

  // Plays every record. False when the frame could not be made or the sink stopped it.
  bool Play(const PictureSink& pictures = {}, const Progress& progress = {});

  const PlayerSummary& summary() const { return summary_; }
  // The remote screen as the last record left it.
  const Surface& picture() const { return picture_; }

 private:
  CaptureReader& reader_;
  uint32_t width_, height_;
  PlayerSummary summary_;
  Surface picture_;
};

}  // namespace remcons
