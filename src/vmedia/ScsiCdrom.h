// A local CD-ROM drive served by passing the server's command blocks through to it, with a table
// of the allowed commands and their transfers, retries, split reads and a guard near the disc's
// end.
#pragma once

#include "platform/BoxGate.h"
#include "vmedia/Scsi.h"

namespace remcons {

class CScsiCdrom : public CScsi {
 public:
  static constexpr int kRetryLimit = 10;

  // Opens the drive; raises VmText("Unable to open media.") when it cannot. A pass-through given
  // here replaces the drive's own (tests).
  CScsiCdrom(TcpSocket* socket, const std::string& drive, ScsiContext context,
             std::unique_ptr<ScsiPassThrough> passThrough = nullptr);

  void process() override;

  bool splitReads() const { return splitReads_; }

  // One row of the pass-through table.
  struct Entry {
    uint8_t op;
    uint32_t word;  // length or offset, field size, block flag, direction
  };
  // Finds op in the table; nullptr when the command is not passed through.
  static const Entry* Find(uint8_t op);
  // The transfer length and direction the table gives for a command block.
  static uint32_t TransferLength(const Entry& entry, const uint8_t* cdb);
  static int Direction(const Entry& entry) { return int(entry.word >> 24); }

 private:
  int SplitRead(uint32_t length);
  bool WithinEnd();

  uint8_t sense_[3] = {};
  bool splitReads_ = false;
  // Every retry of a failing read reports the error again.
  BoxGate mediaError_{"CD-ROM media error"};
};

}  // namespace remcons
