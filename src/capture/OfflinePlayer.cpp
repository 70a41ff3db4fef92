#include "capture/OfflinePlayer.h"

#include <algorithm>
#include <cstring>

#include "video/OfflineVideo.h"
#include "video/VideoDecoder.h"

namespace remcons {
namespace {

// The remote screen's part of the frame.
Surface RemoteArea(const Surface& frame, const VideoModes& modes) {
  return frame.Crop(static_cast<int>(modes.remote_width()),
                    static_cast<int>(modes.remote_height()));
}

// The records as the decoder's byte source, one per refill, as the replay hands them out.
class RecordSource : public ByteSource, public StreamObserver {
 public:
  RecordSource(CaptureReader& reader, PlayerSummary& summary, FrameBuffer& frame, VideoModes& modes,
               const OfflinePlayer::PictureSink& pictures, const OfflinePlayer::Progress& progress)
      : reader_(reader),
        summary_(summary),
        frame_(frame),
        modes_(modes),
        pictures_(pictures),
        progress_(progress) {}

  int Read(uint8_t* buffer, int size) override {
    if (stopped_ || size < static_cast<int>(kMaxRecordData) || !Shown()) return 0;
    for (;;) {
      RecordHeader record;
      const CaptureReader::Next next = reader_.Read(&record, buffer, &summary_.why);
      if (next != CaptureReader::Next::kRecord) {
        summary_.end = next;
        summary_.endOffset = reader_.recordOffset();
        return 0;
      }
      if (summary_.records++ == 0) summary_.firstStamp = record.stamp;
      summary_.bytes += record.length;
      if (progress_) progress_(reader_.recordOffset(), reader_.size());
      if (record.length == 0) continue;
      summary_.replayMs += ReplayGapMs(lastStamp_, record.stamp);
      lastStamp_ = summary_.lastStamp = record.stamp;
      if (record.keyUpdate == 1) {
        std::memset(buffer, 0, kKeyUpdateZeros);
        return static_cast<int>(kKeyUpdateZeros);
      }
      return static_cast<int>(record.length);
    }
  }

  // Hands the picture to the sink when the records so far have changed it. False when the sink
  // says stop.
  bool Shown() {
    if (!pictures_ || frame_.blocks_finished() == blocksSeen_) return true;
    blocksSeen_ = frame_.blocks_finished();
    Surface picture = RemoteArea(frame_.frame(), modes_);
    if (picture.SameColors(last_)) return true;
    last_ = std::move(picture);
    stopped_ = !pictures_(summary_.replayMs, last_);
    return !stopped_;
  }
  bool stopped() const { return stopped_; }

  void OnMode(int width, int height) override {
    const std::pair<int, int> mode{width, height};
    if (std::find(summary_.modes.begin(), summary_.modes.end(), mode) == summary_.modes.end()) {
      summary_.modes.push_back(mode);
    }
  }

 private:
  CaptureReader& reader_;
  PlayerSummary& summary_;
  FrameBuffer& frame_;
  VideoModes& modes_;
  const OfflinePlayer::PictureSink& pictures_;
  const OfflinePlayer::Progress& progress_;
  uint32_t lastStamp_ = 0;
  uint32_t blocksSeen_ = 0;
  Surface last_;
  bool stopped_ = false;
};

}  // namespace

bool OfflinePlayer::Play(const PictureSink& pictures, const Progress& progress) {
  summary_ = PlayerSummary();
  OfflineHost host;
  OfflinePainter painter;
  OfflineEvents events;
  FrameBuffer frame(host, painter);
  uint32_t width = width_, height = height_;
  if (!frame.CreateSurfaces(&width, &height)) return false;
  VideoModes modes(host, events);
  VideoDecoder decoder(frame, modes, events);
  RecordSource source(reader_, summary_, frame, modes, pictures, progress);
  decoder.reader().SetSource(&source);
  decoder.SetObserver(&source);
  decoder.Start({});
  decoder.Decode();
  // The last records' picture.
  if (!source.Shown()) return false;
  picture_ = RemoteArea(frame.frame(), modes);
  return !source.stopped();
}

}  // namespace remcons
