// The 16-byte header that precedes every virtual media reply.
#pragma once

#include <cstdint>

#include "vmedia/ScsiCommands.h"

namespace remcons {

class TcpSocket;

class CReplyHeader {
 public:
  static constexpr uint32_t kMagic = 0x0BADC0DE;
  static constexpr uint32_t kWriteProtected = 0x1;
  static constexpr uint32_t kKeepalive = 0x2;

  CReplyHeader();
  ~CReplyHeader();

  void SetSense(scsi::Sense sense, uint32_t length);
  void SetMediumByte(uint8_t value) { medium_ = value; }
  void SetKeepalive(bool on);
  void Setflags(bool writeProtected);

  // Sends the 16 bytes in one call; nothing without a socket. False when the send failed.
  bool Send(TcpSocket* socket);
  // Answers a ping: the magic, the flags and bytes 4-11 of the request.
  bool SendPingReply(TcpSocket* socket, const uint8_t request[12]);

  // The 16 bytes as Send writes them.
  void Fill(uint8_t out[16]) const;

  uint32_t flags() const { return flags_; }
  uint8_t senseKey() const { return key_; }
  uint8_t asc() const { return asc_; }
  uint8_t ascq() const { return ascq_; }
  uint8_t mediumByte() const { return medium_; }
  uint32_t length() const { return length_; }

 private:
  uint32_t flags_ = 0;
  uint8_t key_ = 0;
  uint8_t asc_ = 0;
  uint8_t ascq_ = 0;
  uint8_t medium_ = 0;
  uint32_t length_ = 0;
};

}  // namespace remcons
