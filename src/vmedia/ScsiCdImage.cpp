#include "vmedia/ScsiCdImage.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/Socket.h"
#include "platform/Trace.h"

namespace remcons {
CScsiCdImage::CScsiCdImage(TcpSocket* socket, const std::string& path, ScsiContext context)
    : CScsi(socket, path, std::move(context)) {
  const int r = media_->Open(target_);
  RC_TRACE("Media open returns %d, size is %llu.\n", r,
           static_cast<unsigned long long>(media_->StoredSize()));
}

void CScsiCdImage::process() {
  if (ReadRequest(request_) == 0) ThrowClosed();
  size_ = media_->IsOpen() ? media_->StoredSize() : 0;
  if (size_ != 0) {
    reply_->SetMediumByte(1);
    MediumPresent();
    if (eventState_ == kEjected) eventState_ = kNoEvent;
    eventState_ = std::min(eventState_ + 1, int(kPresent));
  } else {
    reply_->SetMediumByte(0);
    mediaState_ = MediaState::kNoMedium;
    eventState_ = kNoEvent;
  }
  if (request_[0] != scsi::kTestUnitReady) NotifyActivity();
  switch (request_[0]) {
    case scsi::kTestUnitReady:
      return client_test_unit_ready();
    case scsi::kStartStopUnit:
      return client_start_stop_unit();
    case scsi::kSendDiagnostic:
      RC_TRACE("client_send_diagnostic\n");
      return;
    case scsi::kPreventAllowMediumRemoval:
      return client_pa_media_removal();
    case scsi::kReadCapacity:
      return client_read_capacity();
    case scsi::kRead10:
    case scsi::kRead12:
      return client_read();
    case scsi::kReadToc:
      return client_read_toc();
    case scsi::kGetEventStatusNotification:
      return client_get_event_status();
    case scsi::kModeSense10:
      return client_mode_sense();
    default:
      RC_TRACE("Unknown request:cmd = %02x", request_[0]);
      return Answer(scsi::kInvalidFieldInCdb);
  }
}

void CScsiCdImage::client_test_unit_ready() {
  static constexpr const char* kState[] = {"media not present\n", "media changed\n",
                                           "device ready\n"};
  RC_TRACE("client_test_unit_ready: %s", kState[int(mediaState_)]);
  AnswerUnitReady();
}

void CScsiCdImage::client_start_stop_unit() {
  RC_TRACE("client_start_stop_unit\n");
  if (request_[4] & 2) {
    mediaState_ = MediaState::kNoMedium;
    eventState_ = kEjected;
    RC_TRACE("Media eject");
  }
  Answer(scsi::kGood);
}

void CScsiCdImage::client_pa_media_removal() {
  RC_TRACE("client_pa_media_removal\n");
  RC_TRACE((request_[4] & 1) ? "Media removal prevented" : "Media removal allowed");
  Answer(scsi::kGood);
}

void CScsiCdImage::client_read_capacity() {
  RC_TRACE("client_read_capacity: ");
  if (mediaState_ == MediaState::kNoMedium) RC_TRACE("No Media\n");
  if (mediaState_ == MediaState::kChanged) RC_TRACE("Media changed\n");
  if (AnswerUnlessReady()) return;
  // An image smaller than one block has no last block; it still answers 0 rather than wrap.
  const uint64_t blocks = size_ / 2048;
  const uint32_t last = blocks ? uint32_t(std::min<uint64_t>(blocks - 1, 0xFFFFFFFF)) : 0;
  RC_TRACE("Sending size %d\n", int(last));
  StoreBe32(data_.get(), last);
  StoreBe32(data_.get() + 4, 2048);
  AnswerData(8);
}

void CScsiCdImage::client_read() {
  const auto [lba, blocks] = RequestRange();
  const uint64_t offset = lba * 2048;
  RC_TRACE("CScsiCdImage :Client read %llu, len = %d\n", static_cast<unsigned long long>(offset),
           int(blocks * 2048));
  if (blocks > kMaxTransferBlocks) return Answer(scsi::kInvalidFieldInCdb);
  ServeRead(offset, blocks * 2048, size_);
}

void CScsiCdImage::client_read_toc() {
  const bool msf = request_[1] & 2;
  const int format = request_[9] >> 6;
  const uint32_t allocation = LoadBe16(request_ + 7);
  const uint32_t blocks = uint32_t(size_ / 2048);
  const double t = blocks / 75.0 + 2;
  const uint32_t whole = uint32_t(t);
  const uint8_t minutes = uint8_t(whole / 60);
  const uint8_t seconds = uint8_t(whole % 60);
  const uint8_t frames = uint8_t((t - std::floor(t)) * 75);
  uint8_t* d = data_.get();
  std::memset(d, 0, allocation);
  RC_TRACE("client_read_toc\n");
  const uint8_t trackStart[4] = {0, 0, uint8_t(msf ? 2 : 0), 0};
  if (format == 0) {
    const uint8_t head[8] = {0x00, 0x12, 0x01, 0x01, 0x00, 0x14, 0x01, 0x00};
    std::memcpy(d, head, 8);
    std::memcpy(d + 8, trackStart, 4);
    const uint8_t leadOut[4] = {0x00, 0x14, 0xAA, 0x00};
    std::memcpy(d + 12, leadOut, 4);
    if (msf) {
      d[16] = 0;
      d[17] = minutes;
      d[18] = seconds;
      d[19] = frames;
    } else {
      d[16] = 0;
      d[17] = uint8_t(blocks >> 16);
      d[18] = uint8_t(blocks >> 8);
      d[19] = uint8_t(blocks);
    }
  } else if (format == 1) {
    const uint8_t head[8] = {0x00, 0x0A, 0x01, 0x01, 0x00, 0x14, 0x01, 0x00};
    std::memcpy(d, head, 8);
    std::memcpy(d + 8, trackStart, 4);
  }
  // Only the caller's allocation is sent, at most 412 bytes.
  const uint32_t length = std::min(allocation, kTocLimit);
  reply_->SetSense(scsi::kGood, length);
  reply_->Send(socket_);
  const int sent = length && socket_ ? socket_->SendAll(d, length) : 0;
  RC_TRACE("Send returned a %d\n", sent);
  if (sent < 0) RC_TRACE("Error = %d\n", LastSocketError());
}

void CScsiCdImage::client_mode_sense() {
  static const uint8_t kHeader[8] = {0x00, 0x08, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00};
  std::memcpy(data_.get(), kHeader, sizeof kHeader);
  reply_->SetMediumByte(1);
  RC_TRACE("client_mode_sense\n");
  AnswerData(8);
}

void CScsiCdImage::client_get_event_status() {
  const uint8_t classes = request_[4];
  const uint32_t allocation = LoadBe16(request_ + 7);
  if (!(request_[1] & 1)) {
    RC_TRACE("Invalid request: asynchronous not supported");
    return Answer(scsi::kInvalidFieldInCdb);
  }
  uint8_t* d = data_.get();
  uint32_t length;
  if (classes & 0x10) {
    uint8_t event = 0, status = 0;
    switch (eventState_) {
      case kNewMedium:
        event = 4;
        status = 2;
        if (allocation > 4) eventState_ = kPresent;
        break;
      case kEjected:
        event = 3;
        status = 0;
        if (allocation > 4) eventState_ = kNoEvent;
        break;
      case kPresent:
        status = 2;
        break;
      default:
        break;
    }
    const uint8_t reply[8] = {0x00, 0x06, 0x04, 0x10, event, status, 0x00, 0x00};
    std::memcpy(d, reply, 8);
    RC_TRACE("%02x %02x %02x %02x %02x %02x %02x %02x", d[0], d[1], d[2], d[3], d[4], d[5], d[6],
             d[7]);
    length = std::min(allocation, 8u);
  } else {
    const uint8_t reply[4] = {0x00, 0x02, 0x80, 0x10};
    std::memcpy(d, reply, 4);
    RC_TRACE("%02x %02x %02x %02x", d[0], d[1], d[2], d[3]);
    length = std::min(allocation, 4u);
  }
  AnswerData(length);
  RC_TRACE("client_get_event_status\n");
}

}  // namespace remcons
