// The base of the emulated SCSI devices: reads the server's 12-byte command blocks (answering
// pings and sending keepalives while the server is silent), owns the reply header, the 128 KiB
// data buffer and the local medium.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/ByteOrder.h"
#include "platform/Clock.h"
#include "vmedia/Media.h"
#include "vmedia/ReplyHeader.h"
#include "vmedia/ScsiCommands.h"
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

  void CloseMedia() { media_->Release(); }

 protected:
  // Receives: the count of bytes, 0 when closed, or one of these.
  static constexpr int kReceiveFailed = -1;
  static constexpr int kReceiveSilent = -2;  // nothing came for kKeepaliveMs
  int ReceiveSome(uint8_t* buffer, uint32_t length);
  void SendKeepalive();
  // Whether a medium is there, and whether the server has been told that it changed.
  enum class MediaState { kNoMedium, kChanged, kReady };
  // The block address and count of a READ or WRITE (10) or (12) request.
  struct BlockRange {
    uint64_t lba;
    uint64_t blocks;
  };

  // Sends the header with this sense and no data.
  void Answer(scsi::Sense sense);
  // Answers TEST UNIT READY from the medium's state; the change is reported once.
  void AnswerUnitReady();
  // Answers "no medium" or "medium changed" and returns true unless the medium is ready.
  bool AnswerUnlessReady();
  // A medium was found at this request: a new one is reported as changed first.
  void MediumPresent();
  BlockRange RequestRange() const;
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
  MediaState mediaState_ = MediaState::kNoMedium;
  uint8_t request_[12] = {};
  std::unique_ptr<uint8_t[]> data_;
  std::string target_;
  ScsiContext context_;
  Clock* clock_;
};

}  // namespace remcons
