#include "vmedia/Scsi.h"

#include <algorithm>
#include <cstring>

#include "platform/Socket.h"
#include "platform/Trace.h"

namespace remcons {

CScsi::CScsi(TcpSocket* socket, const std::string& target, ScsiContext context)
    : media_(std::make_unique<CMedia>(context.roots)),
      reply_(std::make_unique<CReplyHeader>()),
      socket_(socket),
      data_(new uint8_t[kBufferSize]()),
      target_(target.substr(0, 255)),
      context_(std::move(context)),
      clock_(context_.clock ? context_.clock : &SystemClock()) {
  // Receives wait in short slices so that silence is measured on the clock.
  if (socket_) socket_->SetReceiveTimeout(kReceiveSliceMs);
}

CScsi::~CScsi() {
  media_->Release();
}

int CScsi::ReceiveSome(uint8_t* buffer, uint32_t length) {
  const uint32_t start = clock_->NowMs();
  for (;;) {
    if (!socket_) return kReceiveFailed;
    const int n = socket_->Receive(buffer, length);
    if (n >= 0) return n;
    if (LastSocketError() != kWsaEtimedout) return kReceiveFailed;
    if (clock_->NowMs() - start >= kKeepaliveMs) return kReceiveSilent;
  }
}

void CScsi::SendKeepalive() {
  reply_->SetKeepalive(true);
  reply_->Send(socket_);
  reply_->SetKeepalive(false);
}

int CScsi::ReadRequest(uint8_t* buffer) {
  uint32_t got = 0;
  std::memset(buffer, 0, 12);
  for (;;) {
    const int n = ReceiveSome(buffer + got, 12 - got);
    if (n == kReceiveSilent) {
      SendKeepalive();
      continue;
    }
    if (n < 0) {
      RC_TRACE("SCSI: Read error: %s\n", SocketErrorText(LastSocketError()));
      return 0;
    }
    if (n == 0) return 0;
    // A request is always 12 bytes; a stream may deliver it in pieces.
    got += uint32_t(n);
    if (got < 12) continue;
    if (buffer[0] == 0xFE) {
      reply_->SendPingReply(socket_, buffer);
      got = 0;
      continue;
    }
    return 12;
  }
}

uint32_t CScsi::ReadExactly(uint8_t* buffer, uint32_t length) {
  uint32_t got = 0;
  while (got < length) {
    const int n = ReceiveSome(buffer + got, length - got);
    if (n == kReceiveSilent) {
      RC_TRACE("SCSI: Sending keepalive(COMPLETE).\n");
      SendKeepalive();
      continue;
    }
    if (n <= 0) {
      RC_TRACE("SCSI: Read error: %s\n", SocketErrorText(LastSocketError()));
      break;
    }
    got += uint32_t(n);
  }
  return got;
}

void CScsi::Answer(scsi::Sense sense) {
  reply_->SetSense(sense, 0);
  reply_->Send(socket_);
}

void CScsi::AnswerUnitReady() {
  switch (mediaState_) {
    case MediaState::kNoMedium:
      return Answer(scsi::kMediumNotPresent);
    case MediaState::kChanged:
      mediaState_ = MediaState::kReady;
      return Answer(scsi::kMediumChanged);
    case MediaState::kReady:
      return Answer(scsi::kGood);
  }
}

bool CScsi::AnswerUnlessReady() {
  if (mediaState_ == MediaState::kNoMedium) {
    Answer(scsi::kMediumNotPresent);
  } else if (mediaState_ == MediaState::kChanged) {
    Answer(scsi::kMediumChanged);
  }
  return mediaState_ != MediaState::kReady;
}

void CScsi::MediumPresent() {
  mediaState_ = mediaState_ == MediaState::kNoMedium ? MediaState::kChanged : MediaState::kReady;
}

CScsi::BlockRange CScsi::RequestRange() const {
  const bool twelve = request_[0] == scsi::kRead12 || request_[0] == scsi::kWrite12;
  return {LoadBe32(request_ + 2), twelve ? LoadBe32(request_ + 6) : LoadBe16(request_ + 7)};
}

void CScsi::AnswerData(uint32_t length) {
  reply_->SetSense(scsi::kGood, length);
  reply_->Send(socket_);
  if (length && socket_) socket_->SendAll(data_.get(), length);
}

void CScsi::ServeRead(uint64_t offset, uint64_t bytes, uint64_t mediumSize) {
  if (offset >= mediumSize) {
    Answer(scsi::kBlockOutOfRange);
    return;
  }
  if (bytes == 0) {
    AnswerData(0);
    return;
  }
  // The first piece is read before the header, so that a failing medium gets its sense.
  uint64_t done = 0;
  uint32_t piece = uint32_t(std::min<uint64_t>(bytes, kBufferSize));
  if (media_->Read(offset, piece, data_.get()) != 0) {
    Answer(scsi::kMediumError);
    return;
  }
  reply_->SetSense(scsi::kGood, uint32_t(bytes));
  reply_->Send(socket_);
  for (;;) {
    if (socket_->SendAll(data_.get(), piece) < 0) ThrowClosed();
    done += piece;
    if (done == bytes) break;
    piece = uint32_t(std::min<uint64_t>(bytes - done, kBufferSize));
    if (offset + done >= mediumSize) {
      std::memset(data_.get(), 0, piece);
    } else if (media_->Read(offset + done, piece, data_.get()) != 0) {
      // The header has promised good data: end the connection rather than send bad bytes.
      RC_TRACE("SCSI: read failed in the middle of a transfer; closing\n");
      socket_->Close();
      ThrowClosed();
    }
  }
}

void CScsi::NotifyActivity() {
  if (context_.control) context_.control->OnVmActivity();
}

void CScsi::ThrowClosed() {
  throw VmText("Connection closed.");
}

}  // namespace remcons
