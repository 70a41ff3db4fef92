// The base of the emulated SCSI devices: reads the server's 12-byte command blocks (answering
// pings and sending keepalives while the server is silent), owns the reply header, the 128 KiB
// data buffer and the local medium.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/Clock.h"
#include "vmedia/Media.h"
#include "vmedia/ReplyHeader.h"
#include "vmedia/VmTypes.h"

namespace remcons {

class Host;
class TcpSocket;

// What a device needs from its connection besides the socket.
struct ScsiContext {
  VmControl* control = nullptr;  // activity and unmount notices; may be null
  Host* host = nullptr;          // message boxes; may be null (traced only)
  Clock* clock = nullptr;        // silence is measured on it; null: the system clock
  MediaRoots roots = DefaultMediaRoots();
};

class CScsi {
 public:
  static constexpr uint32_t kBufferSize = 131072;
  // Silence after which a keepalive goes out.
  static constexpr uint32_t kKeepaliveMs = 2000;
  // How long one receive waits before the clock is looked at again.
  static constexpr uint32_t kReceiveSliceMs = 50;
  // The most blocks one READ or WRITE may move (the READ(10) limit); longer transfers are
  // refused, shorter ones beyond the buffer are served in buffer-sized pieces.
  static constexpr uint64_t kMaxTransferBlocks = 65535;

  CScsi(TcpSocket* socket, const std::string& target, ScsiContext context);
  virtual ~CScsi();
  CScsi(const CScsi&) = delete;
  CScsi& operator=(const CScsi&) = delete;

  // Reads one request and answers it. Raises VmText("Connection closed.") when the connection
  // has ended, and the folder image's errors.
  virtual void process() = 0;

  // Receives one 12-byte request, answering pings and sending keepalives. Returns 12, or 0 when
  // the connection is closed or failed.
  int ReadRequest(uint8_t* buffer);
  // Receives length bytes, sending keepalives while waiting; returns what arrived.
  uint32_t ReadExactly(uint8_t* buffer, uint32_t length);

  static uint16_t Get16(const uint8_t* p) { return uint16_t((p[0] << 8) | p[1]); }
  static uint32_t Get24(const uint8_t* p) { return (uint32_t(p[0]) << 16) | Get16(p + 1); }
  static uint32_t Get32(const uint8_t* p) { return (uint32_t(p[0]) << 24) | Get24(p + 1); }
  static void Put32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v >> 24);
    p[1] = uint8_t(v >> 16);
    p[2] = uint8_t(v >> 8);
    p[3] = uint8_t(v);
  }

  void SetForcedWriteProtect(bool on) { forcedWriteProtect_ = on; }
  bool IsWriteProtected() const { return writeProtected_; }
  void CloseMedia() { media_->Release(); }

  CMedia& media() { return *media_; }
  CReplyHeader& reply() { return *reply_; }
  const uint8_t* request() const { return request_; }

 protected:
  // Receives: count, 0 closed, -1 error, -2 silence for kKeepaliveMs.
  int ReceiveSome(uint8_t* buffer, uint32_t length);
  void SendKeepalive();
  // Sends the header with this sense and no data.
  void Answer(uint8_t key, uint8_t asc, uint8_t ascq);
  // Sends the header with good status and length bytes of the data buffer.
  void AnswerData(uint32_t length);
  // Serves a read of bytes at offset from the medium, in buffer-sized pieces after one header.
  // Past the medium's end the data is zeros; a start at or past the end is refused.
  void ServeRead(uint64_t offset, uint64_t bytes, uint64_t mediumSize);
  void NotifyActivity();
  [[noreturn]] void ThrowClosed();

  std::unique_ptr<CMedia> media_;
  std::unique_ptr<CReplyHeader> reply_;
  TcpSocket* socket_;
  bool writeProtected_ = false;
  bool forcedWriteProtect_ = false;
  uint8_t request_[12] = {};
  std::unique_ptr<uint8_t[]> data_;
  std::string target_;
  ScsiContext context_;
  Clock* clock_;
};

}  // namespace remcons
