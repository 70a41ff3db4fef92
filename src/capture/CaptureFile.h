// The capture file: a 344-byte header and "DATA" records of up to 4096 bytes of the video stream as
// the bit reader received it, each with a time stamp. Captures, and the server's BOOT and FAULT
// buffers, share it. Little-endian throughout. One home for the layout: the recorder writes it, the
// replay and the offline player read it through CaptureReader, which checks every length and
// offset against the file before use.
#pragma once

#include <array>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace remcons {

inline constexpr uint32_t kCaptureHeaderSize = 344;
inline constexpr uint32_t kRecordHeaderSize = 32;
inline constexpr uint32_t kMaxRecordData = 4096;
inline constexpr uint32_t kCaptureSignature = 0xA5A5A5A5;
inline constexpr uint32_t kMaxCaptureKey = 24;
// Gaps between records are replayed as at most this much recorded time.
inline constexpr uint32_t kMaxReplayGapMs = 5000;
// A key-update record replays as this many zero bytes: a resynchronisation mark.
inline constexpr uint32_t kKeyUpdateZeros = 30;
// The capture files' extension, without its dot.
inline constexpr const char* kCaptureExtension = "kro";

struct CaptureHeader {
  uint32_t format = 1;
  uint32_t signature = kCaptureSignature;
  uint32_t version = 1;
  std::string description;  // at most 255 bytes
  uint32_t keyLength = 0;   // 0: not enciphered
  std::array<uint8_t, kMaxCaptureKey> key{};
  uint32_t firstRecord = kCaptureHeaderSize;
  uint32_t reserved320 = kCaptureHeaderSize;
  uint32_t totalSize = 0;

  std::array<uint8_t, kCaptureHeaderSize> Encode() const;
  static CaptureHeader Decode(const uint8_t* bytes);
};

struct RecordHeader {
  bool markerOk = true;  // "DATA"
  uint32_t type = 1;
  uint32_t state = 0;  // the decoder's state when the chunk arrived
  uint32_t stamp = 0;  // milliseconds
  uint8_t keyUpdate = 0;
  uint32_t next = 0;  // absolute offset of the next record; 0: right after this one
  uint32_t length = 0;

  std::array<uint8_t, kRecordHeaderSize> Encode() const;
  static RecordHeader Decode(const uint8_t* bytes);
};

// The recorded time a record adds after the one stamped lastStamp (0: none yet): the difference,
// at most kMaxReplayGapMs.
uint32_t ReplayGapMs(uint32_t lastStamp, uint32_t stamp);

// Deciphers (or enciphers) a buffer in place: RC4 under the header's key over everything from
// offset 344 on, the keystream fresh for the buffer. Nothing when the key length is 0 or above 24,
// or the buffer is shorter than the header.
void DecipherBuffer(uint8_t* buffer, size_t length);

// Writes a capture file, one record per chunk. Safe to use from two threads (the window thread
// opens and closes, the console thread appends).
class CaptureRecorder {
 public:
  enum Result { kOk = 0, kCannotCreate = -5, kCannotWriteHeader = -6 };

  CaptureRecorder() = default;
  ~CaptureRecorder() { Close(); }
  CaptureRecorder(const CaptureRecorder&) = delete;
  CaptureRecorder& operator=(const CaptureRecorder&) = delete;

  // Creates path (replacing a file there) and writes the header; *error is errno on failure.
  Result Create(const std::string& path, std::string_view description, int* error = nullptr);
  // One record. Its header and data go out in one write; a write that fails part-way is taken
  // back, so the file never holds half a record. False when nothing was recorded.
  bool Append(uint32_t state, uint32_t stamp, const uint8_t* data, uint32_t length);
  // Writes the total size into the header and closes the file.
  void Close();
  bool IsOpen() const;
  uint64_t records() const;

 private:
  mutable std::mutex mutex_;
  int fd_ = -1;
  uint64_t size_ = 0;
  uint64_t records_ = 0;
};

// Reads a capture file or a buffer record by record, from the header's first record on, following
// the next-record offsets. A file with a key whose first record is not in clear (a buffer as the
// server sent it) is deciphered as it is opened.
class CaptureReader {
 public:
  enum class Next {
    kRecord,     // a record and its data
    kEnd,        // the end of the records
    kTruncated,  // the last record is cut short (a capture that was cut off): the end
    kBroken,     // a record that cannot be read as one
    kReadError,  // the file could not be read
  };
  // Files with a key are deciphered in memory up to this size.
  static constexpr uint64_t kMaxEncipheredSize = 64u << 20;

  CaptureReader() = default;
  ~CaptureReader() { Close(); }
  CaptureReader(const CaptureReader&) = delete;
  CaptureReader& operator=(const CaptureReader&) = delete;

  // Opens the file (shared for reading) and reads its header. False with *error = errno when it
  // cannot be opened, or with *error = 0 and *why set when its header cannot be read.
  bool Open(const std::string& path, int* error, std::string* why);
  // The same over bytes in memory.
  bool OpenBytes(std::vector<uint8_t> bytes, std::string* why);
  void Close();
  bool IsOpen() const { return fd_ >= 0 || inMemory_; }

  const CaptureHeader& header() const { return header_; }
  uint64_t size() const { return size_; }
  // The records were enciphered and have been deciphered.
  bool deciphered() const { return deciphered_; }
  // The next record into data (room for kMaxRecordData bytes). Anything but kRecord leaves the
  // reader where it was; why says what was wrong.
  Next Read(RecordHeader* record, uint8_t* data, std::string* why);
  // Back to the first record.
  void Rewind();
  // Where the last record read (or found broken) begins.
  uint64_t recordOffset() const { return recordOffset_; }

 private:
  bool ReadAt(uint64_t offset, uint8_t* out, size_t n);
  bool Start(std::string* why);

  int fd_ = -1;
  bool inMemory_ = false;
  std::vector<uint8_t> bytes_;
  uint64_t size_ = 0;
  CaptureHeader header_;
  uint64_t position_ = 0;
  uint64_t recordOffset_ = 0;
  // A ring buffer's records may wrap round once to the start of the file; they end where the
  // pass began.
  bool wrapped_ = false;
  bool deciphered_ = false;
};

}  // namespace remcons
