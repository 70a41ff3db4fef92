#include "capture/CaptureFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "net/Net.h"
#include "platform/ByteOrder.h"
#include "platform/Trace.h"

namespace remcons {
namespace {

constexpr uint8_t kMarker[4] = {'D', 'A', 'T', 'A'};

// Writes all of data at the file's end; false on the first failure.
bool WriteAll(int fd, const uint8_t* data, size_t n, size_t* written) {
  *written = 0;
  while (*written < n) {
    const ssize_t w = ::write(fd, data + *written, n - *written);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return false;
    *written += static_cast<size_t>(w);
  }
  return true;
}

}  // namespace

std::array<uint8_t, kCaptureHeaderSize> CaptureHeader::Encode() const {
  std::array<uint8_t, kCaptureHeaderSize> b{};
  StoreLe32(&b[0], format);
  StoreLe32(&b[4], signature);
  StoreLe32(&b[8], version);
  std::memcpy(&b[16], description.data(), std::min<size_t>(description.size(), 255));
  StoreLe32(&b[280], keyLength);
  std::copy(key.begin(), key.end(), &b[284]);
  StoreLe32(&b[316], firstRecord);
  StoreLe32(&b[320], reserved320);
  StoreLe32(&b[324], totalSize);
  return b;
}

CaptureHeader CaptureHeader::Decode(const uint8_t* b) {
  CaptureHeader h;
  h.format = LoadLe32(b);
  h.signature = LoadLe32(b + 4);
  h.version = LoadLe32(b + 8);
  const auto* text = reinterpret_cast<const char*>(b + 16);
  h.description.assign(text, strnlen(text, 255));
  h.keyLength = LoadLe32(b + 280);
  std::copy(b + 284, b + 284 + kMaxCaptureKey, h.key.begin());
  h.firstRecord = LoadLe32(b + 316);
  h.reserved320 = LoadLe32(b + 320);
  h.totalSize = LoadLe32(b + 324);
  return h;
}

std::array<uint8_t, kRecordHeaderSize> RecordHeader::Encode() const {
  std::array<uint8_t, kRecordHeaderSize> b{};
  std::memcpy(&b[0], kMarker, 4);
  StoreLe32(&b[4], type);
  StoreLe32(&b[8], state);
  StoreLe32(&b[12], stamp);
  b[18] = keyUpdate;
  StoreLe32(&b[20], next);
  StoreLe32(&b[28], length);
  return b;
}

RecordHeader RecordHeader::Decode(const uint8_t* b) {
  RecordHeader r;
  r.markerOk = std::memcmp(b, kMarker, 4) == 0;
  r.type = LoadLe32(b + 4);
  r.state = LoadLe32(b + 8);
  r.stamp = LoadLe32(b + 12);
  r.keyUpdate = b[18];
  r.next = LoadLe32(b + 20);
  r.length = LoadLe32(b + 28);
  return r;
}

uint32_t ReplayGapMs(uint32_t lastStamp, uint32_t stamp) {
  if (lastStamp == 0 || stamp == lastStamp) return 0;
  return std::min(stamp - lastStamp, kMaxReplayGapMs);
}

void DecipherBuffer(uint8_t* buffer, size_t length) {
  if (length < kCaptureHeaderSize) return;
  const uint32_t keyLength = LoadLe32(buffer + 280);
  if (keyLength == 0 || keyLength > kMaxCaptureKey) return;
  Rc4 rc4;
  rc4.SetKey(buffer + 284, keyLength);
  rc4.Apply(buffer + kCaptureHeaderSize, length - kCaptureHeaderSize);
}

// ---------------------------------------------------------------------------------------------
// Recording

CaptureRecorder::Result CaptureRecorder::Create(const std::string& path,
                                                std::string_view description, int* error) {
  Close();
  std::lock_guard lock(mutex_);
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    if (error) *error = errno;
    return kCannotCreate;
  }
  CaptureHeader header;
  header.description = std::string(description.substr(0, 255));
  const auto bytes = header.Encode();
  size_t written = 0;
  if (!WriteAll(fd, bytes.data(), bytes.size(), &written)) {
    if (error) *error = errno;
    RC_TRACE("Error writing capture header\n");
    ::close(fd);
    return kCannotWriteHeader;
  }
  fd_ = fd;
  size_ = kCaptureHeaderSize;
  records_ = 0;
  return kOk;
}

bool CaptureRecorder::Append(uint32_t state, uint32_t stamp, const uint8_t* data, uint32_t length) {
  std::lock_guard lock(mutex_);
  if (fd_ < 0 || length == 0 || length > kMaxRecordData) return false;
  RecordHeader header;
  header.state = state;
  header.stamp = stamp;
  header.length = length;
  uint8_t record[kRecordHeaderSize + kMaxRecordData];
  const auto head = header.Encode();
  std::memcpy(record, head.data(), head.size());
  std::memcpy(record + kRecordHeaderSize, data, length);
  size_t written = 0;
  if (WriteAll(fd_, record, kRecordHeaderSize + length, &written)) {
    size_ += kRecordHeaderSize + length;
    ++records_;
    return true;
  }
  if (written < kRecordHeaderSize) {
    RC_TRACE("Error writing capture header\n");
  } else {
    RC_TRACE("Error writing capture data, size written: %d\n",
             static_cast<int>(written - kRecordHeaderSize));
  }
  // Half a record would be read as the next one's header: it goes.
  if (written > 0 && (::ftruncate(fd_, static_cast<off_t>(size_)) != 0 ||
                      ::lseek(fd_, static_cast<off_t>(size_), SEEK_SET) < 0)) {
    RC_TRACE("CaptureRecorder: cannot take back a partial record: %s\n", std::strerror(errno));
  }
  return false;
}

void CaptureRecorder::Close() {
  std::lock_guard lock(mutex_);
  if (fd_ < 0) return;
  uint8_t total[4];
  StoreLe32(total, static_cast<uint32_t>(std::min<uint64_t>(size_, UINT32_MAX)));
  if (::pwrite(fd_, total, sizeof total, 324) != sizeof total) {
    RC_TRACE("CaptureRecorder: total size not written: %s\n", std::strerror(errno));
  }
  ::close(fd_);
  fd_ = -1;
}

bool CaptureRecorder::IsOpen() const {
  std::lock_guard lock(mutex_);
  return fd_ >= 0;
}

uint64_t CaptureRecorder::records() const {
  std::lock_guard lock(mutex_);
  return records_;
}

// ---------------------------------------------------------------------------------------------
// Reading

bool CaptureReader::Open(const std::string& path, int* error, std::string* why) {
  Close();
  *error = 0;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat st {};
  if (fd < 0 || ::fstat(fd, &st) != 0) {
    *error = errno;
    if (fd >= 0) ::close(fd);
    return false;
  }
  if (!S_ISREG(st.st_mode)) {
    ::close(fd);
    *error = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    return false;
  }
  fd_ = fd;
  size_ = static_cast<uint64_t>(st.st_size);
  if (Start(why)) return true;
  Close();
  return false;
}

bool CaptureReader::OpenBytes(std::vector<uint8_t> bytes, std::string* why) {
  Close();
  bytes_ = std::move(bytes);
  inMemory_ = true;
  size_ = bytes_.size();
  if (Start(why)) return true;
  Close();
  return false;
}

void CaptureReader::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  inMemory_ = false;
  bytes_.clear();
  bytes_.shrink_to_fit();
  size_ = 0;
  deciphered_ = false;
}

bool CaptureReader::ReadAt(uint64_t offset, uint8_t* out, size_t n) {
  if (offset > size_ || n > size_ - offset) return false;
  if (inMemory_) {
    std::memcpy(out, bytes_.data() + offset, n);
    return true;
  }
  size_t done = 0;
  while (done < n) {
    const ssize_t got = ::pread(fd_, out + done, n - done, static_cast<off_t>(offset + done));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    done += static_cast<size_t>(got);
  }
  return true;
}

bool CaptureReader::Start(std::string* why) {
  uint8_t head[kCaptureHeaderSize];
  if (!ReadAt(0, head, sizeof head)) {
    *why = "shorter than its 344-byte header";
    return false;
  }
  header_ = CaptureHeader::Decode(head);
  if (header_.keyLength > kMaxCaptureKey) {
    *why = "key length " + std::to_string(header_.keyLength) + " is above 24";
    return false;
  }
  if (header_.firstRecord < kCaptureHeaderSize || header_.firstRecord > size_) {
    *why = "first record offset " + std::to_string(header_.firstRecord) + " is outside the file";
    return false;
  }
  // A buffer as the server sent it is enciphered from the header's end; one stored deciphered
  // keeps its key in the header, and its first record reads in clear.
  uint8_t marker[4];
  if (header_.keyLength > 0 && ReadAt(header_.firstRecord, marker, 4) &&
      std::memcmp(marker, kMarker, 4) != 0) {
    if (size_ > kMaxEncipheredSize) {
      *why = "enciphered and larger than 64 MiB";
      return false;
    }
    if (!inMemory_) {
      std::vector<uint8_t> all(size_);
      if (!ReadAt(0, all.data(), all.size())) {
        *why = "cannot be read";
        return false;
      }
      ::close(fd_);
      fd_ = -1;
      bytes_ = std::move(all);
      inMemory_ = true;
    }
    DecipherBuffer(bytes_.data(), bytes_.size());
    deciphered_ = true;
  }
  Rewind();
  return true;
}

void CaptureReader::Rewind() {
  position_ = header_.firstRecord;
  recordOffset_ = position_;
  wrapped_ = false;
}

CaptureReader::Next CaptureReader::Read(RecordHeader* record, uint8_t* data, std::string* why) {
  if (!IsOpen()) return Next::kEnd;
  recordOffset_ = position_;
  // Round the ring and back where the pass began: every record has been played.
  if (position_ == size_ || (wrapped_ && position_ >= header_.firstRecord)) return Next::kEnd;
  if (size_ - position_ < kRecordHeaderSize) {
    *why = "a record header cut short";
    return Next::kTruncated;
  }
  uint8_t head[kRecordHeaderSize];
  if (!ReadAt(position_, head, sizeof head)) {
    *why = "the record header cannot be read";
    return Next::kReadError;
  }
  *record = RecordHeader::Decode(head);
  if (!record->markerOk) {
    *why = "no DATA marker";
    return Next::kBroken;
  }
  if (record->length > kMaxRecordData) {
    *why = "data length " + std::to_string(record->length) + " is above 4096";
    return Next::kBroken;
  }
  const uint64_t end = position_ + kRecordHeaderSize + record->length;
  if (end > size_) {
    *why = "data cut short";
    return Next::kTruncated;
  }
  uint64_t next = end;
  if (record->next != 0) {
    if (record->next < kCaptureHeaderSize || record->next > size_) {
      *why = "next record offset " + std::to_string(record->next) + " is outside the file";
      return Next::kBroken;
    }
    // Backwards only once, and only to records not yet played: anything else runs in a loop.
    if (record->next <= position_ && (wrapped_ || record->next >= header_.firstRecord)) {
      *why = "next record offset " + std::to_string(record->next) + " leads back into a loop";
      return Next::kBroken;
    }
    next = record->next;
  }
  if (record->length > 0 &&
      !ReadAt(position_ + kRecordHeaderSize, data, static_cast<size_t>(record->length))) {
    *why = "the record data cannot be read";
    return Next::kReadError;
  }
  if (next <= position_) wrapped_ = true;
  position_ = next;
  return Next::kRecord;
}

}  // namespace remcons
