#include "vmedia/ScsiFloppy.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "platform/Socket.h"
#include "platform/Trace.h"

namespace remcons {
namespace {

constexpr uint8_t kFormatCapacities[20] = {0, 0, 0, 16, 0,    0,    0, 0, 2,    0,
                                           0, 0, 0, 0,  0x0B, 0x40, 0, 0, 0x02, 0};

}  // namespace

CScsiFloppy::CScsiFloppy(TcpSocket* socket, const std::string& target, ScsiContext context)
    : CScsi(socket, target, std::move(context)) {
  std::memcpy(formatCapacities_, kFormatCapacities, sizeof formatCapacities_);
  media_->Open(target_);
}

CScsiFloppy::CScsiFloppy(TcpSocket* socket, const std::string& target,
                         std::unique_ptr<FATFile> folder, ScsiContext context)
    : CScsi(socket, target, std::move(context)) {
  std::memcpy(formatCapacities_, kFormatCapacities, sizeof formatCapacities_);
  media_->AttachFolder(std::move(folder));
}

bool CScsiFloppy::IsDrive() const {
  const int kind = media_->GetKind();
  return kind != CMedia::kImageFile && kind != CMedia::kFolderImage;
}

void CScsiFloppy::process() {
  if (ReadRequest(request_) == 0) ThrowClosed();
  RC_TRACE("CScsiFloppy::process - writeprot: %d, media->WriteProtect: %d\n", int(writeProtected_),
           int(media_->IsWriteProtected()));
  writeProtected_ = media_->IsWriteProtected();
  reply_->Setflags(writeProtected_);
  if (request_[0] != scsi::kTestUnitReady) NotifyActivity();
  switch (request_[0]) {
    case scsi::kTestUnitReady:
      return client_test_unit_ready();
    case scsi::kFormatUnit:
      return client_format_unit();
    case scsi::kStartStopUnit:
      return client_start_stop_unit();
    case scsi::kSendDiagnostic:
      return client_send_diagnostic();
    case scsi::kPreventAllowMediumRemoval:
      return client_pa_media_removal();
    case scsi::kReadFormatCapacities:
      return client_read_capacities();
    case scsi::kReadCapacity:
      return client_read_capacity();
    case scsi::kRead10:
    case scsi::kRead12:
      return client_read();
    case scsi::kWrite10:
    case scsi::kWriteAndVerify10:
    case scsi::kWrite12:
      return client_write();
    default:
      // Every request gets a reply header, also one the device does not know.
      RC_TRACE("CScsiFloppy: unknown request 0x%02x\n", request_[0]);
      return Answer(scsi::kInvalidOperation);
  }
}

uint64_t CScsiFloppy::RefreshSize() {
  uint64_t size = media_->GetSize();
  if (size == 0) {
    media_->Close();
    media_->Open(target_);
    size = media_->GetSize();
    mediaState_ = MediaState::kNoMedium;
    if (size == 0) {
      reply_->SetMediumByte(0);
      return 0;
    }
  }
  reply_->SetMediumByte(0x24);
  MediumPresent();
  return size;
}

void CScsiFloppy::Geometry(uint64_t size, uint64_t* blocks, uint32_t* blockLength) {
  *blocks = 0;
  *blockLength = 0;
  const int kind = media_->GetKind();
  if (kind == CMedia::kImageFile || kind == CMedia::kFolderImage) {
    *blocks = size / 512;
    *blockLength = 512;
  } else if (kind != CMedia::kUnknown) {
    const uint32_t bps = media_->BytesPerSector();
    if (bps > 0) {
      *blocks = size / bps;
      *blockLength = bps;
    }
  }
}

void CScsiFloppy::client_read_capacities() {
  RC_TRACE("CScsiFloppy::client_read_capacities\n");
  const uint64_t size = RefreshSize();
  if (mediaState_ == MediaState::kChanged) {
    reply_->SetSense(scsi::kMediumChanged, 20);
    mediaState_ = MediaState::kReady;
  } else {
    reply_->SetSense(scsi::kGood, 20);
  }
  uint64_t blocks = 0;
  uint32_t blockLength = 0;
  if (size) Geometry(size, &blocks, &blockLength);
  StoreBe32(formatCapacities_ + 4, uint32_t(blocks));
  StoreBe16(formatCapacities_ + 10, blockLength);
  reply_->Send(socket_);
  if (socket_) socket_->SendAll(formatCapacities_, sizeof formatCapacities_);
}

void CScsiFloppy::client_read_capacity() {
  RC_TRACE("CScsiFloppy::client_read_capacity\n");
  const uint64_t size = RefreshSize();
  if (AnswerUnlessReady()) return;
  uint64_t blocks = 0;
  uint32_t blockLength = 0;
  Geometry(size, &blocks, &blockLength);
  // A medium beyond 2 TiB cannot be described here; report the largest address.
  const uint32_t last = blocks == 0 ? 0 : uint32_t(std::min<uint64_t>(blocks - 1, 0xFFFFFFFF));
  StoreBe32(data_.get(), last);
  StoreBe32(data_.get() + 4, blockLength);
  AnswerData(8);
}

void CScsiFloppy::client_test_unit_ready() {
  RC_TRACE("CScsiFloppy::client_test_unit_ready\n");
  if (IsDrive() && !media_->CheckMedia()) mediaState_ = MediaState::kNoMedium;
  if (mediaState_ == MediaState::kNoMedium) {
    // A drive whose medium went away is opened again, so that a new one is found.
    media_->Close();
    media_->Open(target_);
    Answer(scsi::kMediumNotPresent);
    mediaState_ = MediaState::kChanged;
    return;
  }
  AnswerUnitReady();
}

void CScsiFloppy::client_read() {
  // Block addresses are unsigned; a huge one is simply past the end.
  const auto [lba, blocks] = RequestRange();
  const uint64_t offset = lba * 512;
  RC_TRACE("CScsiFloppy::client_read lba=0x%llx length=0x%x\n",
           static_cast<unsigned long long>(offset), unsigned(blocks * 512));
  if (blocks > kMaxTransferBlocks) return Answer(scsi::kInvalidFieldInCdb);
  ServeRead(offset, blocks * 512, media_->IsOpen() ? media_->StoredSize() : 0);
}

void CScsiFloppy::client_write() {
  const auto [lba, blocks] = RequestRange();
  const uint64_t offset = lba * 512;
  const uint64_t bytes = blocks * 512;
  if (blocks > kMaxTransferBlocks) {
    // The write data cannot be consumed within bounds, so the stream cannot stay in step.
    Answer(scsi::kInvalidFieldInCdb);
    RC_TRACE("CScsiFloppy::client_write: %llu blocks refused; closing\n",
             static_cast<unsigned long long>(blocks));
    if (socket_) socket_->Close();
    ThrowClosed();
  }
  const uint64_t size = media_->IsOpen() ? media_->StoredSize() : 0;
  // The whole range must lie on the medium: an image never grows.
  scsi::Sense sense = scsi::kGood;
  if (writeProtected_) {
    sense = scsi::kWriteProtected;
  } else if (offset >= size || bytes > size - offset) {
    sense = scsi::kBlockOutOfRange;
  }
  // Nothing is written before all the data has arrived: a server that goes away in the middle
  // leaves the medium as it was. Beyond the device buffer the data waits in memory.
  std::vector<uint8_t> spool;
  uint8_t* data = data_.get();
  if (bytes > kBufferSize && sense.key == 0) {
    try {
      spool.resize(bytes);
      data = spool.data();
    } catch (const std::bad_alloc&) {
      RC_TRACE("CScsiFloppy::client_write: no memory for %llu bytes\n",
               static_cast<unsigned long long>(bytes));
      sense = scsi::kMediumError;
    }
  }
  uint64_t done = 0;
  while (done < bytes) {
    const uint32_t piece = uint32_t(std::min<uint64_t>(bytes - done, kBufferSize));
    uint8_t* to = spool.empty() ? data_.get() : data + done;
    if (ReadExactly(to, piece) < piece) ThrowClosed();
    done += piece;
  }
  if (sense.key == 0 && bytes) {
    try {
      media_->Write(offset, uint32_t(bytes), data);
    } catch (const CMedia::IoError& e) {
      RC_TRACE("Exception during write: %s\n", e.what());
      sense = scsi::kMediumError;
    }
  }
  Answer(sense);
}

void CScsiFloppy::client_format_unit() {
  RC_TRACE("CScsiFloppy::client_format_unit\n");
  // The parameter list (at most 65,535 bytes) fits the data buffer.
  const uint32_t listLength = LoadBe16(request_ + 7);
  if (ReadExactly(data_.get(), listLength) < listLength) ThrowClosed();
  if (listLength < 12) return Answer(scsi::kInvalidParameterList);
  const uint8_t* list = data_.get();
  const int side = list[1] & 1;
  const uint32_t blocks = LoadBe32(list + 4);
  const uint32_t blockLength = LoadBe24(list + 9);
  int mediaType = 0;
  if (blocks == 2880 && blockLength == 512) mediaType = 2;
  if (blocks == 1440 && blockLength == 512) mediaType = 5;
  if (writeProtected_) return Answer(scsi::kWriteProtected);
  if (!mediaType) return Answer(scsi::kInvalidParameterList);
  try {
    media_->Format(mediaType, request_[2], request_[2], side, side);
  } catch (const CMedia::IoError& e) {
    RC_TRACE("CScsiFloppy::client_format_unit failed: %s\n", e.what());
    return Answer(scsi::kMediumError);
  }
  Answer(scsi::kGood);
}

void CScsiFloppy::client_pa_media_removal() {
  RC_TRACE("CScsiFloppy::client_pa_media_removal\n");
  if (request_[4] & 1) return Answer(scsi::kInvalidFieldInCdb);
  Answer(scsi::kGood);
}

void CScsiFloppy::client_start_stop_unit() {
  RC_TRACE("CScsiFloppy::client_start_stop_unit\n");
  if (request_[4] & 2) return Answer(scsi::kInvalidFieldInCdb);
  Answer(scsi::kGood);
}

void CScsiFloppy::client_send_diagnostic() {
  RC_TRACE("CScsiFloppy::client_send_diagnostic\n");
  mediaState_ = MediaState::kChanged;
}

}  // namespace remcons
