#include "vmedia/Media.h"

// <climits> must precede <linux/cdrom.h>.
#include <climits>

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <linux/cdrom.h>
#include <linux/falloc.h>
#include <linux/fd.h>
#include <linux/fs.h>
#include <linux/hdreg.h>
#include <scsi/sg.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>

#include "platform/ByteOrder.h"
#include "platform/Trace.h"
#include "vmedia/ScsiCommands.h"
#include "vmedia/VmText.h"

namespace remcons {
namespace {

std::mutex& RootsMutex() {
  static std::mutex m;
  return m;
}
MediaRoots& Roots() {
  static MediaRoots roots;
  return roots;
}

std::string ReadSysfs(const std::string& path) {
  std::ifstream in(path);
  std::string value;
  std::getline(in, value);
  return value;
}

bool Exists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

// SCSI command block length by operation group.
int CdbLength(uint8_t op) {
  switch (op >> 5) {
    case 0:
      return 6;
    case 1:
    case 2:
      return 10;
    case 4:
      return 16;
    default:
      return 12;
  }
}

// SG_IO on an open block device. Linux has no media change counter; CDROM_MEDIA_CHANGED reports
// whether the medium changed since it was last asked, which is counted here. The count starts at
// 1, so the first good command of a mount reports the medium as newly arrived.
class SgIoPassThrough : public ScsiPassThrough {
 public:
  explicit SgIoPassThrough(int fd) : fd_(fd) {}
  int Execute(const uint8_t* cdb, int cdbLength, int direction, uint8_t* data, uint32_t length,
              uint8_t* sense, uint32_t senseSize, uint32_t* senseLength) override {
    sg_io_hdr_t io{};
    uint8_t command[16] = {};
    std::memcpy(command, cdb, size_t(std::min(cdbLength, 16)));
    io.interface_id = 'S';
    io.cmd_len = uint8_t(CdbLength(command[0]));
    io.cmdp = command;
    io.dxfer_direction = direction == kDataIn    ? SG_DXFER_FROM_DEV
                         : direction == kDataOut ? SG_DXFER_TO_DEV
                                                 : SG_DXFER_NONE;
    if (length == 0) io.dxfer_direction = SG_DXFER_NONE;
    io.dxferp = length ? data : nullptr;
    io.dxfer_len = length;
    io.sbp = sense;
    io.mx_sb_len = uint8_t(std::min<uint32_t>(senseSize, 255));
    io.timeout = 5000;
    *senseLength = 0;
    if (::ioctl(fd_, SG_IO, &io) != 0) {
      RC_TRACE("DeviceIoControl returned an error %ld. hFile is %08lx.\n", long(errno), long(fd_));
      return -1;
    }
    // Transport and driver failures are failures; a CHECK CONDITION is an answer with sense.
    // The driver byte: 0 good, 8 sense data came back; anything else is a failure.
    const int driver = io.driver_status & 0x0F;
    if (io.host_status != 0 || (driver != 0 && driver != 0x08)) {
      RC_TRACE("SG_IO host status 0x%x driver status 0x%x\n", io.host_status, io.driver_status);
      return -1;
    }
    *senseLength = io.sb_len_wr;
    const int resid = std::clamp(io.resid, 0, int(length));
    return int(length) - resid;
  }
  bool MediaChangeCount(uint32_t* count) override {
    int r = ::ioctl(fd_, CDROM_MEDIA_CHANGED, CDSL_CURRENT);
    if (r < 0) return false;
    if (r == 1) ++count_;
    *count = count_;
    return true;
  }

 private:
  int fd_;
  uint32_t count_ = 1;
};

}  // namespace

MediaRoots DefaultMediaRoots() {
  std::lock_guard lock(RootsMutex());
  return Roots();
}

void SetDefaultMediaRoots(const MediaRoots& roots) {
  std::lock_guard lock(RootsMutex());
  Roots() = roots;
}

CMedia::IoError::IoError(int error) : std::runtime_error(std::strerror(error)), error_(error) {}

CMedia::CMedia(MediaRoots roots) : roots_(std::move(roots)) {}

CMedia::~CMedia() {
  Release();
}

// ---- Drives ----

bool CMedia::IsDriveName(const std::string& name, const MediaRoots& roots) {
  if (name.empty()) return false;
  if (name.find('/') == std::string::npos) return Exists(roots.sys + "/class/block/" + name);
  struct stat st {};
  return name.rfind(roots.dev + "/", 0) == 0 && ::stat(name.c_str(), &st) == 0 &&
         (S_ISBLK(st.st_mode) ||
          Exists(roots.sys + "/class/block/" + name.substr(roots.dev.size() + 1)));
}

int CMedia::GetDriveType(const std::string& name, const MediaRoots& roots) {
  std::string dev = name;
  if (dev.rfind(roots.dev + "/", 0) == 0) dev = dev.substr(roots.dev.size() + 1);
  const std::string base = roots.sys + "/class/block/" + dev;
  if (dev.empty() || dev.find('/') != std::string::npos || !Exists(base)) return kUnknown;
  if (ReadSysfs(base + "/device/type") == "5") return kCdrom;
  if (ReadSysfs(base + "/removable") == "1") return kRemovable;
  // USB hard disks often say they are not removable; the device path tells.
  char resolved[PATH_MAX];
  if (::realpath(base.c_str(), resolved) && std::strstr(resolved, "/usb")) return kRemovable;
  return kFixed;
}

std::vector<CMedia::Drive> CMedia::ListDrives(const MediaRoots& roots) {
  std::vector<Drive> drives;
  const std::string dir = roots.sys + "/class/block";
  DIR* d = ::opendir(dir.c_str());
  if (!d) return drives;
  while (dirent* e = ::readdir(d)) {
    if (e->d_name[0] == '.') continue;
    const std::string name = e->d_name;
    if (Exists(dir + "/" + name + "/partition")) continue;  // whole disks only
    const int type = GetDriveType(name, roots);
    if (type == kRemovable || type == kCdrom) drives.push_back({name, type});
  }
  ::closedir(d);
  std::sort(drives.begin(), drives.end(), [](const Drive& a, const Drive& b) {
    return a.name.size() != b.name.size() ? a.name.size() < b.name.size() : a.name < b.name;
  });
  return drives;
}

uint64_t CMedia::SysfsSize(const std::string& name, const MediaRoots& roots) {
  if (name.empty() || name.find('/') != std::string::npos) return 0;
  const std::string text = ReadSysfs(roots.sys + "/class/block/" + name + "/size");
  char* end = nullptr;
  const unsigned long long sectors = std::strtoull(text.c_str(), &end, 10);
  return end == text.c_str() ? 0 : uint64_t(sectors) * 512;
}

// ---- Open and close ----

int CMedia::Open(const std::string& name) {
  if (folder_) return 0;
  Close();
  if (name.empty() || name.size() >= 512) {
    ++openErrors_;
    return -2;
  }
  return IsDriveName(name, roots_) ? OpenDrive(name) : OpenFile(name);
}

int CMedia::OpenFailed() {
  const int err = errno;
  RC_TRACE("Media: Error 0x%08lx attempting to open %s.\n", long(err), path_.c_str());
  RC_TRACE("Error %d opening media file. Last error was %ld.\n", openErrors_ + 1, long(err));
  ++openErrors_;
  lastOpenError_ = err;
  return -2;
}

int CMedia::OpenDrive(const std::string& name) {
  writeProtected_ = false;
  device_ = name.find('/') == std::string::npos ? name : name.substr(roots_.dev.size() + 1);
  path_ = roots_.dev + "/" + device_;
  if (kind_ == kUnknown) kind_ = GetDriveType(device_, roots_);
  if (kind_ == kCdrom) {
    // Writable, or the kernel's SG_IO filter refuses commands such as PREVENT ALLOW MEDIUM
    // REMOVAL; read-only where writing is not allowed. Non-blocking: an empty tray is no error.
    fd_ = ::open(path_.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0 && (errno == EROFS || errno == EACCES || errno == EPERM)) {
      fd_ = ::open(path_.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    }
  } else {
    // Served drives are held exclusively: a mounted file system cannot be changed under the
    // server (a second O_EXCL open fails with EBUSY).
    fd_ = ::open(path_.c_str(), O_RDWR | O_EXCL | O_DSYNC | O_CLOEXEC);
    if (fd_ < 0 && (errno == EROFS || errno == EACCES)) {
      fd_ = ::open(path_.c_str(), O_RDONLY | O_EXCL | O_CLOEXEC);
      if (fd_ >= 0) writeProtected_ = true;
    }
  }
  if (fd_ < 0) return OpenFailed();
  if (!passThrough_ && kind_ == kCdrom) passThrough_ = std::make_unique<SgIoPassThrough>(fd_);
  int ro = 0;
  if (::ioctl(fd_, BLKROGET, &ro) == 0 && ro) writeProtected_ = true;
  if (kind_ == kRemovable) {
    if (writeProtected_) {
      RC_TRACE("CMedia::Open - Removable, write protected\n");
    } else {
      RC_TRACE("CMedia::Open - Removable not write protected\n");
    }
  }
  return 0;
}

int CMedia::OpenFile(const std::string& name) {
  path_ = name;
  kind_ = kImageFile;
  writeProtected_ = false;
  const bool iso = vm::UpperAscii(name).find(".ISO") != std::string::npos;
  // O_NONBLOCK: a FIFO must never block the serve thread; only regular files are served.
  const int common = O_CLOEXEC | O_NONBLOCK | O_NOCTTY;
  // Written through, as drives are: what the server was told is written is on the disk.
  fd_ = ::open(name.c_str(), (iso ? O_RDONLY : O_RDWR | O_DSYNC) | common);
  if (fd_ < 0 && !iso && (errno == EACCES || errno == EROFS)) {
    fd_ = ::open(name.c_str(), O_RDONLY | common);
    if (fd_ >= 0) writeProtected_ = true;  // a read-only image is served write protected
  }
  struct stat st {};
  if (fd_ >= 0 && (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode))) {
    ::close(fd_);
    fd_ = -1;
    errno = EINVAL;
  }
  // Held as drives are: a second mount of a writable image, here or by a program that locks, is
  // refused while this one serves it; read-only images are shared with readers.
  if (fd_ >= 0 && ::flock(fd_, (iso || writeProtected_ ? LOCK_SH : LOCK_EX) | LOCK_NB) != 0) {
    const int err = errno;
    ::close(fd_);
    fd_ = -1;
    errno = err == EWOULDBLOCK ? EBUSY : err;
  }
  if (fd_ < 0) return OpenFailed();
  ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) & ~O_NONBLOCK);
  if (iso) writeProtected_ = true;
  uint64_t fileSize = uint64_t(st.st_size);
  headerOffset_ = 0;
  if (fileSize <= kHeaderImageLimit) {
    uint8_t header[512];
    if (::pread(fd_, header, sizeof header, 0) == ssize_t(sizeof header) &&
        std::memcmp(header, "ORVELHDR", 8) == 0) {
      headerOffset_ = uint32_t(header[14] | (header[15] << 8));
    }
  }
  // The medium is what follows the header.
  size_ = fileSize > headerOffset_ ? fileSize - headerOffset_ : 0;
  return 0;
}

void CMedia::AttachFolder(std::unique_ptr<FATFile> image) {
  Close();
  folder_ = std::move(image);
  kind_ = kFolderImage;
  writeProtected_ = true;
  size_ = folder_ ? folder_->Size() : 0;
}

void CMedia::Close() {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
  // The pass-through of a drive belongs to its descriptor; an injected one stays.
  if (dynamic_cast<SgIoPassThrough*>(passThrough_.get())) passThrough_.reset();
  if (!folder_) size_ = 0;
}

void CMedia::Release() {
  Close();
  folder_.reset();
}

void CMedia::SetPassThrough(std::unique_ptr<ScsiPassThrough> passThrough) {
  passThrough_ = std::move(passThrough);
}

// ---- Size and geometry ----

void CMedia::RefreshGeometry() {
  uint64_t bytes = 0;
  if (::ioctl(fd_, BLKGETSIZE64, &bytes) != 0) {
    struct stat st {};
    // A regular file standing in for a device (tests) has its file size.
    bytes = (::fstat(fd_, &st) == 0 && S_ISREG(st.st_mode)) ? uint64_t(st.st_size) : 0;
  }
  int sectorSize = 0;
  if (::ioctl(fd_, BLKSSZGET, &sectorSize) != 0 || sectorSize <= 0) {
    sectorSize = kind_ == kCdrom ? 2048 : 512;
  }
  bytesPerSector_ = uint32_t(sectorSize);
  hd_geometry geo{};
  if (::ioctl(fd_, HDIO_GETGEO, &geo) == 0 && geo.heads && geo.sectors) {
    tracksPerCylinder_ = geo.heads;
    sectorsPerTrack_ = geo.sectors;
  } else if (bytes == 1474560 || bytes == 737280) {
    // Floppy geometry follows from the size.
    tracksPerCylinder_ = 2;
    sectorsPerTrack_ = bytes == 1474560 ? 18 : 9;
  } else {
    // Loop devices and some USB disks have no geometry: synthesize the usual one.
    tracksPerCylinder_ = 255;
    sectorsPerTrack_ = 63;
  }
  cylinders_ = bytes / (uint64_t(tracksPerCylinder_) * sectorsPerTrack_ * bytesPerSector_);
  size_ = bytes;
}

uint64_t CMedia::GetSize() {
  if (folder_) {
    size_ = folder_->Size();
  } else if (kind_ == kImageFile) {
    // stored at open
  } else if (fd_ >= 0) {
    RC_TRACE("  Getting Drive Geometry\n");
    RefreshGeometry();
    RC_TRACE("  Size is %d\n", int(size_));
  } else {
    size_ = 0;
  }
  RC_TRACE("%llu bytes\n", static_cast<unsigned long long>(size_));
  return size_;
}

bool CMedia::CheckMedia() {
  bool present = false;
  if (folder_ || kind_ == kImageFile) {
    present = IsOpen();
  } else if (fd_ >= 0) {
    if (kind_ == kCdrom) {
      present = ::ioctl(fd_, CDROM_DRIVE_STATUS, CDSL_CURRENT) == CDS_DISC_OK;
    } else {
      uint64_t bytes = 0;
      present = ::ioctl(fd_, BLKGETSIZE64, &bytes) == 0 && bytes > 0;
      struct stat st {};
      if (!present && ::fstat(fd_, &st) == 0 && S_ISREG(st.st_mode)) present = st.st_size > 0;
    }
  }
  if (!present) {
    RC_TRACE("Media inaccessible.\n");
    size_ = 0;
  }
  return present;
}

// ---- Data ----

int CMedia::Read(uint64_t offset, uint32_t length, uint8_t* buffer) {
  RC_TRACE("CMedia::Read. offset %x length %x\n", unsigned(offset), length);
  if (folder_) {
    folder_->read(offset, length, buffer);
    return 0;
  }
  if (fd_ < 0) return EBADF;
  size_t got = 0;
  while (got < length) {
    ssize_t n = ::pread(fd_, buffer + got, length - got, off_t(headerOffset_ + offset + got));
    if (n < 0) {
      if (errno == EINTR) continue;
      const int err = errno;
      RC_TRACE("Error %d attempting to read from file.\n", err);
      return err;
    }
    if (n == 0) break;
    got += size_t(n);
  }
  // Past the end there is nothing: zeros, never what the buffer held before.
  std::memset(buffer + got, 0, length - got);
  return 0;
}

void CMedia::Write(uint64_t offset, uint32_t length, const uint8_t* buffer) {
  if (folder_ || fd_ < 0) throw IoError(folder_ ? EROFS : EBADF);
  if (writeProtected_) throw IoError(EROFS);
  // An image never grows, and a drive has no bytes past its end.
  const uint64_t size = kind_ == kImageFile ? size_ : GetSize();
  if (offset > size || length > size - offset) throw IoError(ENOSPC);
  // A sparse image takes its space now: a full disk refuses the write whole instead of failing it
  // half way (file systems without reservations just write).
  if (kind_ == kImageFile && length) {
    int r;
    do {
      r = ::fallocate(fd_, FALLOC_FL_KEEP_SIZE, off_t(headerOffset_ + offset), off_t(length));
    } while (r != 0 && errno == EINTR);
    if (r != 0 && errno != EOPNOTSUPP && errno != ENOSYS) throw IoError(errno);
  }
  size_t done = 0;
  while (done < length) {
    ssize_t n = ::pwrite(fd_, buffer + done, length - done, off_t(headerOffset_ + offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw IoError(n < 0 ? errno : EIO);
    done += size_t(n);
  }
}

bool CMedia::IsLegacyFloppy() const {
  return kind_ != kImageFile && device_.rfind("fd", 0) == 0;
}

void CMedia::Format(int mediaType, int startCylinder, int endCylinder, int startHead, int endHead) {
  if (folder_ || fd_ < 0) throw IoError(folder_ ? EROFS : EBADF);
  if (writeProtected_) throw IoError(EROFS);
  const int sectors = mediaType == 2 ? 18 : mediaType == 5 ? 9 : 0;
  if (!sectors || startCylinder < 0 || endCylinder < startCylinder || startHead < 0 ||
      endHead < startHead || endHead > 1 || endCylinder > 79) {
    throw IoError(EINVAL);
  }
  if (IsLegacyFloppy()) {
    if (::ioctl(fd_, FDFMTBEG, nullptr) != 0) throw IoError(errno);
    for (int c = startCylinder; c <= endCylinder; ++c) {
      for (int h = startHead; h <= endHead; ++h) {
        format_descr d{};
        d.device = 0;
        d.head = unsigned(h);
        d.track = unsigned(c);
        if (::ioctl(fd_, FDFMTTRK, &d) != 0) {
          const int err = errno;
          ::ioctl(fd_, FDFMTEND, nullptr);
          throw IoError(err);
        }
      }
    }
    if (::ioctl(fd_, FDFMTEND, nullptr) != 0) throw IoError(errno);
    return;
  }
  if (kind_ == kImageFile) {
    // An image has no tracks to lay down: a formatted track reads as the format filler byte.
    std::vector<uint8_t> track(size_t(sectors) * 512, 0xF6);
    for (int c = startCylinder; c <= endCylinder; ++c) {
      for (int h = startHead; h <= endHead; ++h) {
        Write((uint64_t(c) * 2 + uint64_t(h)) * track.size(), uint32_t(track.size()), track.data());
      }
    }
    return;
  }
  // USB floppy drives format through the UFI command itself.
  for (int c = startCylinder; c <= endCylinder; ++c) {
    for (int h = startHead; h <= endHead; ++h) {
      const uint8_t cdb[12] = {scsi::kFormatUnit, 0x17, uint8_t(c), 0, 0, 0, 0, 0, 12, 0, 0, 0};
      const uint32_t blocks = mediaType == 2 ? 2880 : 1440;
      uint8_t list[12] = {0, uint8_t(0xB0 | h), 0, 8, 0, 0, 0, 0, 0, 0, 2, 0};
      StoreBe32(list + 4, blocks);
      SgIoPassThrough sg(fd_);
      uint8_t sense[32];
      uint32_t senseLength = 0;
      if (sg.Execute(cdb, 12, ScsiPassThrough::kDataOut, list, sizeof list, sense, sizeof sense,
                     &senseLength) < 0) {
        throw IoError(EIO);
      }
      if (senseLength >= 3 && (sense[2] & 0x0F) != 0) throw IoError(EIO);
    }
  }
}

int CMedia::PassThrough(const uint8_t* cdb, int direction, uint32_t length, uint8_t* buffer,
                        uint8_t sense[3], uint32_t offset) {
  uint8_t senseData[24] = {};
  uint32_t senseLength = 0;
  int transferred = -1;
  if (passThrough_) {
    transferred = passThrough_->Execute(cdb, 12, direction, buffer + offset, length, senseData,
                                        sizeof senseData, &senseLength);
  } else {
    RC_TRACE("DeviceIoControl returned an error %ld. hFile is %08lx.\n", long(EBADF), long(fd_));
  }
  // A drive cannot have moved more than it was given room for, whatever it reports.
  if (transferred > 0 && uint32_t(transferred) > length) transferred = int(length);
  uint32_t count = 0;
  const bool counted = passThrough_ && passThrough_->MediaChangeCount(&count);
  if (!counted) {
    RC_TRACE("DeviceIoControl(2) returned an error %ld. hFile is %08lx.\n", long(errno), long(fd_));
  }
  uint8_t key = 0, asc = 0, ascq = 0;
  const uint8_t response = senseData[0] & 0x7F;
  if (senseLength >= 14 && (response == 0x70 || response == 0x71)) {
    key = senseData[2] & 0x0F;
    asc = senseData[12];
    ascq = senseData[13];
  }
  if (counted && key == 0 && count != changeCount_) {
    RC_TRACE("Not-ready to ready transition synthesized. change_count=%d, change=%d\n",
             int(changeCount_), int(count));
    changeCount_ = count;
    key = 6;
    asc = 0x28;
    ascq = 0;
    if (transferred > 0) transferred = 0;
  }
  if (sense) {
    sense[0] = key;
    sense[1] = asc;
    sense[2] = ascq;
  }
  if (transferred < 0) return -1;
  return direction == ScsiPassThrough::kDataIn ? transferred : 0;
}

}  // namespace remcons
