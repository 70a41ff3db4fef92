// Local media access: image files, folder images and block devices (removable disks, USB disks,
// CD-ROM drives), with geometry, write protection, medium presence, floppy track format and SCSI
// pass-through for CD-ROM drives.
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "vmedia/FATFile.h"

namespace remcons {

// Where block devices are looked up; tests point these at fakes.
struct MediaRoots {
  std::string sys = "/sys";
  std::string dev = "/dev";
};
// The roots used when none are given (process-wide).
MediaRoots DefaultMediaRoots();
void SetDefaultMediaRoots(const MediaRoots& roots);

// SCSI command pass-through to a drive: SG_IO on Linux, fakes in tests.
class ScsiPassThrough {
 public:
  enum Direction : int { kDataOut = 0, kDataIn = 1, kNoData = 2 };
  virtual ~ScsiPassThrough() = default;
  // Issues one command. Returns the bytes transferred, or -1 when the command could not be
  // delivered (the request was refused by the system or the transport failed). Sense data the
  // drive returned (with a CHECK CONDITION) goes to sense, its length to *senseLength.
  virtual int Execute(const uint8_t* cdb, int cdbLength, int direction, uint8_t* data,
                      uint32_t length, uint8_t* sense, uint32_t senseSize,
                      uint32_t* senseLength) = 0;
  // The drive's media change count; false when it cannot be read.
  virtual bool MediaChangeCount(uint32_t* count) = 0;
};

class CMedia {
 public:
  // Raised by Write and Format with the errno of the failure.
  class IoError : public std::runtime_error {
   public:
    explicit IoError(int error);
    int error() const { return error_; }

   private:
    int error_;
  };

  enum Kind : int {
    kUnknown = 0,
    kRemovable = 2,
    kFixed = 3,
    kCdrom = 5,
    kImageFile = 100,
    kFolderImage = 101,
  };

  // Largest image that may carry the 512-byte "ORVELHDR" header.
  static constexpr uint64_t kHeaderImageLimit = 1478656;

  explicit CMedia(MediaRoots roots = DefaultMediaRoots());
  ~CMedia();
  CMedia(const CMedia&) = delete;
  CMedia& operator=(const CMedia&) = delete;

  // Opens a drive (a block device name such as "sdb" or "sr0", or its /dev path) or an image
  // file. 0 on success, -2 when the open failed, -3 when a file's size could not be read. Does
  // nothing when a folder image is attached.
  int Open(const std::string& name);
  // Serves a folder volume; the medium owns it from now on.
  void AttachFolder(std::unique_ptr<FATFile> image);
  // Releases the handles; an attached folder image stays (devices close and reopen to look for a
  // new medium).
  void Close();
  // Close, and destroy an attached folder image (end of serving).
  void Release();
  bool IsOpen() const { return fd_ >= 0 || folder_ != nullptr; }

  // Reads length bytes at offset: 0, or the errno of the failure. Bytes past the end of the
  // medium read as zeros. A folder image raises its own errors (FATFile::Error, Cluster::Error).
  int Read(uint64_t offset, uint32_t length, uint8_t* buffer);
  // Writes length bytes at offset; raises IoError. Never writes past the medium's end.
  void Write(uint64_t offset, uint32_t length, const uint8_t* buffer);
  // Formats floppy tracks (media type 2: 1.44 MB, 5: 720 KB); raises IoError.
  void Format(int mediaType, int startCylinder, int endCylinder, int startHead, int endHead);

  // Medium size in bytes (drives: asked again each time); 0 without a medium.
  uint64_t GetSize();
  // The size found at open (files, folders) or by the last GetSize (drives).
  uint64_t StoredSize() const { return size_; }
  // True when the drive reports a medium.
  bool CheckMedia();
  // Passes a 12-byte command block through to a CD-ROM drive, data at buffer + offset. Returns -1
  // on failure, else the bytes transferred for data-in commands and 0 for the others; writes the
  // sense key, ASC and ASCQ. A moved media change count turns a good answer into 6/0x28/0.
  int PassThrough(const uint8_t* cdb, int direction, uint32_t length, uint8_t* buffer,
                  uint8_t sense[3], uint32_t offset = 0);
  // Replaces the drive's pass-through (tests).
  void SetPassThrough(std::unique_ptr<ScsiPassThrough> passThrough);

  bool IsWriteProtected() const { return writeProtected_; }
  int GetKind() const { return kind_; }
  uint32_t HeaderOffset() const { return headerOffset_; }
  uint32_t BytesPerSector() const { return bytesPerSector_; }
  uint32_t SectorsPerTrack() const { return sectorsPerTrack_; }
  uint32_t TracksPerCylinder() const { return tracksPerCylinder_; }
  uint64_t Cylinders() const { return cylinders_; }
  const std::string& Path() const { return path_; }
  int OpenErrors() const { return openErrors_; }
  // The errno of the last failed open (EBUSY: a drive in use on this computer).
  int LastOpenError() const { return lastOpenError_; }
  FATFile* FolderImage() const { return folder_.get(); }

  // The drive type of a block device name: 2 removable (USB disks included), 3 fixed, 5 CD-ROM,
  // 0 when there is no such device.
  static int GetDriveType(const std::string& name, const MediaRoots& roots = DefaultMediaRoots());
  // True when name is a block device (a bare device name known to sysfs, or a /dev path).
  static bool IsDriveName(const std::string& name, const MediaRoots& roots = DefaultMediaRoots());
  // The devices worth offering as virtual media, in name order: removable (2) and CD-ROM (5).
  struct Drive {
    std::string name;  // "sdb", "sr0"
    int type;
  };
  static std::vector<Drive> ListDrives(const MediaRoots& roots = DefaultMediaRoots());
  // The size sysfs reports for a device, without opening it; 0 when unknown or no medium.
  static uint64_t SysfsSize(const std::string& name, const MediaRoots& roots = DefaultMediaRoots());

 private:
  int OpenDrive(const std::string& name);
  int OpenFile(const std::string& name);
  // Traces an open failure (errno) and counts it; returns -2.
  int OpenFailed();
  void RefreshGeometry();
  bool IsLegacyFloppy() const;

  MediaRoots roots_;
  bool writeProtected_ = false;
  uint32_t headerOffset_ = 0;
  int kind_ = kUnknown;
  std::unique_ptr<FATFile> folder_;
  int fd_ = -1;
  uint64_t size_ = 0;
  uint64_t cylinders_ = 0;
  uint32_t tracksPerCylinder_ = 0;
  uint32_t sectorsPerTrack_ = 0;
  uint32_t bytesPerSector_ = 0;
  uint32_t changeCount_ = 0;
  int openErrors_ = 0;
  int lastOpenError_ = 0;
  std::string path_;
  std::string device_;  // the device name of a drive
  std::unique_ptr<ScsiPassThrough> passThrough_;
};

}  // namespace remcons
