#include "vmedia/ReplyHeader.h"

#include "platform/ByteOrder.h"
#include "platform/Socket.h"
#include "platform/Trace.h"

namespace remcons {

CReplyHeader::CReplyHeader() {
  RC_TRACE("CReplyHeader::CReplyHeader\n");
}

CReplyHeader::~CReplyHeader() {
  RC_TRACE("CReplyHeader::~CReplyHeader\n");
}

void CReplyHeader::SetSense(scsi::Sense sense, uint32_t length) {
  key_ = sense.key;
  asc_ = sense.asc;
  ascq_ = sense.ascq;
  length_ = length;
}

void CReplyHeader::SetKeepalive(bool on) {
  flags_ = on ? (flags_ | kKeepalive) : (flags_ & ~kKeepalive);
}

void CReplyHeader::Setflags(bool writeProtected) {
  RC_TRACE("CReplyHeader::Setflags\n");
  flags_ = writeProtected ? (flags_ | kWriteProtected) : (flags_ & ~kWriteProtected);
}

void CReplyHeader::Fill(uint8_t out[16]) const {
  StoreLe32(out, kMagic);
  StoreLe32(out + 4, flags_);
  out[8] = medium_;
  out[9] = key_;
  out[10] = asc_;
  out[11] = ascq_;
  StoreLe32(out + 12, length_);
}

bool CReplyHeader::Send(TcpSocket* socket) {
  if (!socket) return false;
  uint8_t buffer[16];
  Fill(buffer);
  return socket->SendAll(buffer, sizeof buffer) == int(sizeof buffer);
}

bool CReplyHeader::SendPingReply(TcpSocket* socket, const uint8_t request[12]) {
  if (!socket) return false;
  uint8_t buffer[16];
  StoreLe32(buffer, kMagic);
  StoreLe32(buffer + 4, flags_);
  for (int i = 0; i < 8; ++i) buffer[8 + i] = request[4 + i];
  return socket->SendAll(buffer, sizeof buffer) == int(sizeof buffer);
}

}  // namespace remcons
