// A local folder presented as a read-only FAT16 volume. Only the metadata (boot sector, FAT, root
// directory, subdirectory clusters) lives in memory; file data is read from the files when the
// server reads its sectors.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "vmedia/Cluster.h"

namespace remcons {

class FATFile {
 public:
  // Raised while building or reading the volume; Message() is what the user is shown.
  class Error : public std::runtime_error {
   public:
    Error(int code, int detail, std::string name = {});
    int code() const { return code_; }
    int detail() const { return detail_; }
    const std::string& name() const { return name_; }
    std::string Message() const;

   private:
    int code_;
    int detail_;
    std::string name_;
  };

  // Error codes.
  enum : int {
    kErrTooLarge = 1,
    kErrRootFull = 2,
    kErrMemory = 3,
    kErrBuildFind = 4,
    kErrScanFind = 5,
    kErrPathTooLong = 7,
    kErrBufferSize = 15,
    kErrSector = 16,
    kErrFileTooLarge = 17,    // a single file of 4 GiB or more
    kErrDirectoryFull = 18,   // a subfolder needs more than 65,536 directory entries
    kErrTooManyEntries = 19,  // more files and folders than the scan takes
  };

  static constexpr uint64_t kSizeLimit = 1073741824;  // bytes of file data
  static constexpr uint32_t kSectorSize = 512;
  static constexpr uint32_t kRootEntries = 512;
  static constexpr uint32_t kRootSectors = kRootEntries * 32 / kSectorSize;
  // Files and folders a volume may show, a folder reached through several links counted each
  // time; and the bytes of their names the scan may hold.
  static constexpr uint32_t kMaxEntries = 262144;
  static constexpr uint64_t kMaxNameBytes = 32 << 20;
  // Folders shown inside one another.
  static constexpr uint32_t kMaxDepth = 2048;

  // What the scan did, for traces and checks.
  struct ScanStats {
    uint64_t entries = 0;      // directory entries read
    uint32_t directories = 0;  // folders read, each once however many links lead to it
    uint64_t nameProbes = 0;   // names tried to make long names unique
  };

  // Scans the folder and chooses the volume's size band. Links that lead outside the folder are
  // left out unless followLinks. Raises Error.
  explicit FATFile(const std::string& folder, bool followLinks = false);
  ~FATFile();
  FATFile(const FATFile&) = delete;
  FATFile& operator=(const FATFile&) = delete;

  // Lays out the FAT, the directories and the file clusters. Raises Error.
  void Build();

  // Scans and builds in one go.
  static std::unique_ptr<FATFile> Create(const std::string& folder, bool followLinks = false);

  // The volume size in bytes.
  uint64_t Size() const { return uint64_t(TotalSectors()) * kSectorSize; }
  // Fills buffer with the volume's bytes at offset; offset and length are multiples of 512. Bytes
  // beyond the volume read as zeros. Raises Error (bad request) or Cluster::Error (file read).
  void read(uint64_t offset, uint32_t length, uint8_t* buffer);

  uint32_t TotalSectors() const { return totalSectors_; }
  uint32_t SectorsPerCluster() const { return sectorsPerCluster_; }
  uint32_t FatSectors() const { return fatSz_; }
  uint32_t FirstDataSector() const { return firstDataSector_; }
  // Data clusters the volume has, and those the folder uses.
  uint32_t ClusterCount() const { return (totalSectors_ - firstDataSector_) / sectorsPerCluster_; }
  uint32_t ClustersUsed() const { return clustersUsed_; }
  // Sum of the file sizes.
  uint64_t FolderSize() const { return folderSize_; }
  uint32_t FileCount() const { return uint32_t(files_.size()); }
  // Links left out because they lead outside the folder.
  uint32_t LinksLeftOut() const { return linksLeftOut_; }
  const ScanStats& Stats() const { return stats_; }

  // The 11-byte short name the volume gives a long name (tests): the generated basis without a
  // numeric tail, and whether a tail is needed even without a collision.
  static std::array<char, 11> BasisName(const std::string& longName, bool* lossy);
  // UTF-8 to UTF-16: ill-formed sequences become U+FFFD; characters above U+FFFF become
  // surrogate pairs.
  static std::u16string Utf8ToUtf16(const std::string& text);

  struct Node;  // a scanned file or folder
  struct Dir;   // a folder's contents, shared by every link that leads to it

 private:
  struct FileRun {
    int anchor;        // kAnchorFolder or kAnchorRoot
    std::string real;  // from the anchor, through no link
    std::string path;  // as the user knows it, for messages
    uint64_t size;
  };
  enum : int { kAnchorFolder = 0, kAnchorRoot = 1 };

  void Scan(Dir* dir, int fd, uint32_t depth);
  bool ResolveLink(const Dir& dir, const char* name, int* anchor, std::string* real);
  void NameChildren(Dir* dir);
  void Total(Dir* dir);
  void ChooseBand();
  void FillBootSector();
  void BuildDirectory(const Dir& dir, int32_t dirIndex, uint16_t dirCluster,
                      uint16_t parentCluster);
  uint16_t AllocateCluster(uint16_t previous);
  uint16_t NewDirectoryCluster(uint16_t previous);
  uint32_t ClusterSector(uint32_t cluster) const {
    return firstDataSector_ + (cluster - 2) * sectorsPerCluster_;
  }
  uint16_t FatEntry(uint32_t n) const;
  void SetFatEntry(uint32_t n, uint16_t value);
  uint32_t ReadSectors(uint32_t sector, uint8_t* buffer, uint32_t sectors);

  std::string folder_;
  std::string folderReal_;  // the folder's path through no link
  bool followLinks_ = false;
  // Handles every served file is opened beneath, component by component with no link followed.
  int anchors_[2] = {-1, -1};
  std::shared_ptr<Dir> root_;
  std::map<std::pair<uint64_t, uint64_t>, std::shared_ptr<Dir>> dirs_;  // by device and inode
  uint64_t folderSize_ = 0;
  uint64_t nameBytes_ = 0;
  uint32_t linksLeftOut_ = 0;
  ScanStats stats_;

  uint32_t totalSectors_ = 0;
  uint32_t sectorsPerCluster_ = 0;
  uint32_t fatSz_ = 0;
  uint32_t firstDataSector_ = 0;
  uint32_t clustersUsed_ = 0;

  std::array<uint8_t, 512> bootSector_{};
  std::vector<uint8_t> fat_;                       // FATSz * 512 bytes
  std::vector<uint8_t> root_dir_;                  // 16 KiB
  std::vector<Cluster> clusters_;                  // index = cluster number
  std::vector<std::vector<uint8_t>> directories_;  // subdirectory cluster data
  std::vector<FileRun> files_;
};

}  // namespace remcons
