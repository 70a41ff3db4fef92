#include "vmedia/ScsiCdrom.h"

#include <cstring>

#include "platform/ByteOrder.h"
#include "platform/Host.h"
#include "platform/Socket.h"
#include "platform/Trace.h"

namespace remcons {
namespace {

constexpr uint32_t kIn = 1u << 24;
constexpr uint32_t kNone = 2u << 24;
constexpr uint32_t kBlocks = 1u << 23;
constexpr uint32_t Field(uint32_t size, uint32_t offset) {
  return (size << 16) | offset;
}

// Operation code, then: bits 0-15 a length or an offset into the command block, bits 16-22 the
// size of the length field there (0: bits 0-15 are the length), bit 23 the length counts 2,048-
// byte blocks, bits 24-31 the direction (0 out, 1 in, 2 none).
constexpr CScsiCdrom::Entry kTable[16] = {
    {scsi::kPreventAllowMediumRemoval, kNone | 0},
    {scsi::kReadCapacity, kIn | 8},
    {scsi::kSendDiagnostic, kNone | 0},
    {scsi::kTestUnitReady, kNone | 0},
    {scsi::kRead10, kIn | kBlocks | Field(2, 7)},
    {scsi::kRead12, kIn | kBlocks | Field(4, 6)},
    {scsi::kStartStopUnit, kNone | 0},
    {scsi::kReadCd, kIn | kBlocks | Field(3, 6)},
    {scsi::kReadCdMsf, kIn | 0},
    {scsi::kReadHeader, kIn | 8},
    {scsi::kReadSubChannel, kIn | Field(2, 7)},
    {scsi::kReadToc, kIn | Field(2, 7)},
    {scsi::kStopPlayScan, kNone | 0},
    {scsi::kMechanismStatus, kIn | Field(2, 8)},
    {scsi::kModeSense10, kIn | Field(2, 7)},
    {scsi::kGetEventStatusNotification, kIn | Field(2, 7)},
};

bool IsRead(uint8_t op) {
  return op == scsi::kRead10 || op == scsi::kRead12;
}

}  // namespace

CScsiCdrom::CScsiCdrom(TcpSocket* socket, const std::string& drive, ScsiContext context,
                       std::unique_ptr<ScsiPassThrough> passThrough)
    : CScsi(socket, drive, std::move(context)) {
  if (passThrough) media_->SetPassThrough(std::move(passThrough));
  if (media_->Open(target_) != 0) throw VmText("Unable to open media.");
}

const CScsiCdrom::Entry* CScsiCdrom::Find(uint8_t op) {
  for (const Entry& e : kTable) {
    if (e.op == op) return &e;
  }
  return nullptr;
}

uint32_t CScsiCdrom::TransferLength(const Entry& entry, const uint8_t* cdb) {
  const uint32_t low = entry.word & 0xFFFF;
  const uint32_t size = (entry.word >> 16) & 0x7F;
  uint64_t length = low;
  if (size >= 1 && size <= 4 && low + size <= 12) {
    length = 0;
    for (uint32_t i = 0; i < size; ++i) length = (length << 8) | cdb[low + i];
  }
  if (entry.word & kBlocks) length *= 2048;
  // Anything beyond the buffer is refused anyway; keep the figure from wrapping.
  return uint32_t(std::min<uint64_t>(length, 0xFFFFFFFF));
}

void CScsiCdrom::process() {
  if (ReadRequest(request_) == 0) ThrowClosed();
  if (!media_->IsOpen()) {
    if (media_->Open(target_) != 0) throw VmText(target_);
    RC_TRACE("Opened %s\n.", target_.c_str());
  }
  const Entry* entry = Find(request_[0]);
  if (!entry) {
    RC_TRACE("ERROR: Command not found.\n");
    return Answer(scsi::kInvalidOperation);
  }
  const uint32_t length = TransferLength(*entry, request_);
  const int direction = Direction(*entry);
  // A transfer that does not fit the buffer is refused before anything reaches the drive.
  if (length > kBufferSize) {
    RC_TRACE("CScsiCdrom: transfer of %u bytes refused\n", length);
    return Answer(scsi::kInvalidOperation);
  }
  if (direction == ScsiPassThrough::kDataOut) {
    RC_TRACE("Write to SCSI\n");
    if (ReadExactly(data_.get(), length) < length) ThrowClosed();
  }
  if (request_[0] != scsi::kTestUnitReady) NotifyActivity();
  const bool read = IsRead(request_[0]);
  for (int attempt = 0;; ++attempt) {
    int r;
    if (read && splitReads_) {
      r = SplitRead(length);
    } else {
      r = media_->PassThrough(request_, direction, length, data_.get(), sense_);
    }
    if (request_[0] == scsi::kModeSense10) {
      // Only what the drive returned: a shorter answer leaves the last request's bytes behind.
      RC_TRACE("SCSI_MODE_SENSE - Media type: %02x %02x\n", r > 3 ? data_[3] : 0,
               r > 4 ? data_[4] : 0);
      if (r > 3) reply_->SetMediumByte(data_[3]);
    } else if (request_[0] == scsi::kReadToc) {
      RC_TRACE("SCSI_READ_TOC:\n");
    } else if (request_[0] == scsi::kStartStopUnit) {
      RC_TRACE("SCSI_START_STOP_UNIT\n");
      r = 0;
    }
    bool failed = r < 0;
    if (read) {
      if (sense_[1] == scsi::kAscResetOccurred) {
        RC_TRACE("sense[1] = 0x29\n");
        failed = true;
      } else if (r < 0) {
        if (WithinEnd()) {
          RC_TRACE("within_75\n");
          return Answer(scsi::kBlockOutOfRange);
        }
        RC_TRACE("need to do a split read\n");
        splitReads_ = true;
      }
    }
    if (sense_[0] == scsi::kMediumErrorKey || sense_[0] == scsi::kHardwareError) {
      if (context_.host) {
        mediaError_.Show(*context_.host, "The CDROM drive reports a media error:\n", "Error",
                         kMbOk);
      }
      failed = true;
    }
    if (!failed) {
      if (uint32_t(r) > kBufferSize) break;
      reply_->SetSense({sense_[0], sense_[1], sense_[2]}, uint32_t(r));
      reply_->Send(socket_);
      if (r > 0 && socket_) socket_->SendAll(data_.get(), uint32_t(r));
      return;
    }
    if (attempt >= kRetryLimit) break;
  }
  Answer(scsi::kInvalidOperation);
}

bool CScsiCdrom::WithinEnd() {
  const uint8_t capacity[12] = {scsi::kReadCapacity};
  uint8_t answer[8] = {};
  uint8_t sense[3];
  if (media_->PassThrough(capacity, ScsiPassThrough::kDataIn, 8, answer, sense) < 8) return false;
  const int64_t limit = int64_t(LoadBe32(answer)) - 75;
  const auto [start, count] = RequestRange();
  return int64_t(start) > limit || int64_t(start + count) > limit;
}

int CScsiCdrom::SplitRead(uint32_t length) {
  const bool twelve = request_[0] == scsi::kRead12;
  const uint32_t start = LoadBe32(request_ + 2);
  const uint32_t count = length / 2048;
  const uint32_t first = std::min<uint32_t>(count, 32);
  auto command = [&](uint32_t lba, uint32_t blocks, uint8_t* cdb) {
    std::memcpy(cdb, request_, 12);
    StoreBe32(cdb + 2, lba);
    if (twelve) {
      StoreBe32(cdb + 6, blocks);
    } else {
      StoreBe16(cdb + 7, blocks);
    }
  };
  RC_TRACE("Doing a split read\n");
  uint8_t cdb[12];
  command(start, first, cdb);
  const int rc1 =
      media_->PassThrough(cdb, ScsiPassThrough::kDataIn, first * 2048, data_.get(), sense_, 0);
  RC_TRACE("rc1 = %d\n", rc1);
  if (rc1 < 0) return rc1;
  RC_TRACE("len = %d len1 = %d\n", int(length), int(first * 2048));
  if (count == first) return rc1;
  // The second part lands at 64 KiB; a short first part would leave a hole in between.
  if (uint32_t(rc1) != first * 2048) return -1;
  command(start + first, count - first, cdb);
  const int rc2 = media_->PassThrough(cdb, ScsiPassThrough::kDataIn, (count - first) * 2048,
                                      data_.get(), sense_, 65536);
  RC_TRACE("rc2 = %d\n", rc2);
  if (rc2 < 0) return rc2;
  return rc1 + rc2;
}

}  // namespace remcons
