// The replay of a capture file or a buffer: the byte source the console's bit reader refills from
// while the replay flag is set. It keeps draining the live connection, hands out one record per
// refill while playing, paces the records as they were recorded (gaps capped at five seconds,
// sped up by the speed control), shows the recorded time played so far, and rewinds at the end of
// the file or at a broken record. Every wait ends when the session stops or the replay is left.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "capture/CaptureFile.h"
#include "platform/Clock.h"
#include "video/BitReader.h"

namespace remcons {

// What the replay reads of the console around it, and tells it (the session implements it).
class ReplayLink {
 public:
  virtual ~ReplayLink() = default;
  // The replay flag: a file is being replayed.
  virtual bool ReplayFlag() = 0;
  // The replay controls: playing, a rewind asked for (the stop control), speed 0 to 3.
  virtual bool Playing() = 0;
  virtual bool RewindRequested() = 0;
  virtual int Speed() = 0;
  // The file has rewound: the controls go back to stopped, normal speed.
  virtual void Rewound() = 0;
  // Reads and drops what waits on the live connection; the count (0: nothing waited).
  virtual int DrainLive() = 0;
  // "Elapse Time" with the recorded seconds played.
  virtual void ShowElapsed(double seconds) = 0;
};

class ReplaySource : public ByteSource {
 public:
  enum Result { kOk = 0, kCannotOpen = -5, kCannotReadHeader = -6 };

  // stop: the session's stop flag. clock: pacing.
  ReplaySource(ReplayLink& link, Clock& clock, const std::atomic<bool>& stop);

  // --- Window thread ---
  // Opens a file for replay at its first record; errno in *error, the reason in *why.
  Result Open(const std::string& path, int* error = nullptr, std::string* why = nullptr);
  void Close();
  bool IsOpen();

  // --- Console thread ---
  // The next record's data (a key-update record as 30 zero bytes, each pass of the file preceded
  // by a resynchronisation mark so that it decodes from a clean start), after its recorded pause.
  // 0 when the session stops or the replay flag is cleared: the caller then reads the connection.
  int Read(uint8_t* buffer, int size) override;

  // The recorded milliseconds played since the last rewind, and the last stamp (tests).
  double elapsedMs() const { return elapsedMs_.load(); }
  uint32_t lastStamp() const { return lastStamp_.load(); }

 private:
  // Back to the first record, the controls stopped.
  void Rewind();
  // Sleeps ms of the clock in short steps; false when the wait was cut short by a stop, by
  // leaving the replay or by a rewind request.
  bool Pace(uint32_t ms);

  ReplayLink& link_;
  Clock& clock_;
  const std::atomic<bool>& stop_;
  std::mutex mutex_;  // the reader
  CaptureReader reader_;
  bool passStarted_ = false;
  std::atomic<double> elapsedMs_{0};
  std::atomic<uint32_t> lastStamp_{0};
};

}  // namespace remcons
