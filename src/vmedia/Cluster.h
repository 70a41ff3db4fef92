// One data cluster of a folder volume: either a run of a local file read on demand, or a piece of
// a synthesized directory. A failing cluster read raises a Cluster::Error.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace remcons {

class Cluster {
 public:
  // Raised when a file behind a cluster cannot be positioned in or read.
  class Error : public std::runtime_error {
   public:
    Error(int code, int detail, std::string path);
    int code() const { return code_; }
    int detail() const { return detail_; }
    const std::string& path() const { return path_; }
    // The text shown to the user.
    std::string Message() const;

   private:
    int code_;
    int detail_;  // errno
    std::string path_;
  };

  static constexpr int32_t kNone = -1;

  // A cluster that belongs to nothing (numbers 0 and 1, and free clusters).
  Cluster() = default;
  static Cluster ForFile(int32_t file, uint32_t fileOffset, uint32_t firstSector) {
    return Cluster(file, kNone, fileOffset, firstSector);
  }
  static Cluster ForDirectory(int32_t directory, uint32_t firstSector) {
    return Cluster(kNone, directory, 0, firstSector);
  }

  bool IsFile() const { return file_ != kNone; }
  bool IsDirectory() const { return directory_ != kNone; }
  int32_t file() const { return file_; }
  int32_t directory() const { return directory_; }
  // Where in its file this cluster's data begins.
  uint32_t fileOffset() const { return fileOffset_; }
  // The cluster's first sector on the volume; 0 for an unused record.
  uint32_t firstSector() const { return firstSector_; }

 private:
  Cluster(int32_t file, int32_t directory, uint32_t fileOffset, uint32_t firstSector)
      : file_(file), directory_(directory), fileOffset_(fileOffset), firstSector_(firstSector) {}

  // Kept small: a volume has up to 65,518 of these.
  int32_t file_ = kNone;
  int32_t directory_ = kNone;
  uint32_t fileOffset_ = 0;
  uint32_t firstSector_ = 0;
};

}  // namespace remcons
