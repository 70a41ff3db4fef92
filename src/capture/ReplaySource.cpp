#include "capture/ReplaySource.h"

#include <algorithm>
#include <cstring>

#include "platform/Trace.h"

namespace remcons {
namespace {

// Four zero bytes and the closing byte the bit reader drops.
constexpr uint8_t kResyncMark[5] = {0, 0, 0, 0, 0xFF};
// Pacing sleeps in steps this long, so that the controls act at once.
constexpr uint32_t kPaceStepMs = 20;

}  // namespace

ReplaySource::ReplaySource(ReplayLink& link, Clock& clock, const std::atomic<bool>& stop)
    : link_(link), clock_(clock), stop_(stop) {}

ReplaySource::Result ReplaySource::Open(const std::string& path, int* error, std::string* why) {
  std::lock_guard lock(mutex_);
  int err = 0;
  std::string reason;
  const bool opened = reader_.Open(path, &err, &reason);
  if (error) *error = err;
  if (why) *why = reason;
  if (!opened) return err != 0 ? kCannotOpen : kCannotReadHeader;
  passStarted_ = false;
  elapsedMs_ = 0;
  lastStamp_ = 0;
  return kOk;
}

void ReplaySource::Close() {
  std::lock_guard lock(mutex_);
  reader_.Close();
  passStarted_ = false;
  elapsedMs_ = 0;
  lastStamp_ = 0;
}

bool ReplaySource::IsOpen() {
  std::lock_guard lock(mutex_);
  return reader_.IsOpen();
}

void ReplaySource::Rewind() {
  reader_.Rewind();
  passStarted_ = false;
  elapsedMs_ = 0;
  lastStamp_ = 0;
  link_.Rewound();
}

bool ReplaySource::Pace(uint32_t ms) {
  while (ms > 0) {
    const uint32_t step = std::min(ms, kPaceStepMs);
    if (!clock_.SleepMs(step, &stop_)) return false;
    ms -= step;
    if (stop_ || !link_.ReplayFlag() || link_.RewindRequested()) return false;
  }
  return true;
}

int ReplaySource::Read(uint8_t* buffer, int size) {
  if (size < static_cast<int>(kMaxRecordData)) return 0;
  while (!stop_) {
    if (!link_.ReplayFlag()) return 0;
    const int drained = link_.DrainLive();
    if (drained > 0) RC_TRACE("Data waiting to be read from port: %d\n", drained);
    if (link_.Playing()) {
      RecordHeader record;
      std::string why;
      {
        std::lock_guard lock(mutex_);
        if (!reader_.IsOpen()) {
          SystemClock().SleepMs(1, &stop_);
          continue;
        }
        if (!passStarted_) {
          passStarted_ = true;
          std::memcpy(buffer, kResyncMark, sizeof kResyncMark);
          return static_cast<int>(sizeof kResyncMark);
        }
        switch (reader_.Read(&record, buffer, &why)) {
          case CaptureReader::Next::kRecord:
            break;
          case CaptureReader::Next::kEnd:
          case CaptureReader::Next::kTruncated:
            RC_TRACE("EOF reading capture file\n");
            Rewind();
            continue;
          case CaptureReader::Next::kBroken:
            if (record.markerOk) {
              RC_TRACE("read capture header error, %s\n", why.c_str());
            } else {
              RC_TRACE("read capture header error, marker invalid\n");
            }
            Rewind();
            continue;
          case CaptureReader::Next::kReadError:
            RC_TRACE("Error reading capture header\n");
            Rewind();
            continue;
        }
      }
      RC_TRACE("read capture header ok\n");
      if (record.length == 0) continue;
      RC_TRACE("Success reading capture data of length: %x\n", record.length);
      int length = static_cast<int>(record.length);
      if (record.keyUpdate == 1) {
        // The zero bits make the bit reader resynchronise: decoding starts afresh after the
        // key change.
        RC_TRACE("Encrypt key update.\n");
        std::memset(buffer, 0, kKeyUpdateZeros);
        length = static_cast<int>(kKeyUpdateZeros);
      }
      const uint32_t gap = ReplayGapMs(lastStamp_, record.stamp);
      const int speed = std::clamp(link_.Speed(), 0, 3);
      // A chunk cut off by stop, leave or the stop control is not shown.
      if (gap > 0 && !Pace(gap >> speed)) continue;
      elapsedMs_ = elapsedMs_ + gap;
      lastStamp_ = record.stamp;
      link_.ShowElapsed(elapsedMs_ / 1000.0);
      return length;
    }
    if (link_.RewindRequested()) {
      std::lock_guard lock(mutex_);
      Rewind();
      continue;
    }
    // Paused or stopped: the controls are looked at again in a millisecond. Not a recorded
    // pause, so not the replay's clock.
    SystemClock().SleepMs(1, &stop_);
  }
  return 0;
}

}  // namespace remcons
