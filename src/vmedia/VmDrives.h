// What the drive menu offers as virtual media and its mounting, without any drawing: the image,
// folder and CD image entries, then up to six removable and CD-ROM drives, each with its own
// connection. The menu bar draws the rows and calls Press on a button.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "vmedia/VMConnection.h"

namespace remcons {

// Drives mounted in this process (menu entries and command-line mounts); while above zero the
// console does not time out.
int VmMountedDrives();
// Counts a mount (+1) or its end (-1); never below zero.
void VmCountMount(int delta);

enum class VmIcon { Floppy, Folder, Cd, UsbKey };

struct VmDriveEntry {
  std::string label;   // "Image", "Folder", or the device name ("sdb")
  std::string device;  // the block device of a drive entry; empty for the fixed entries
  VmKind kind = VmKind::ImageFile;
  int type = 0;  // 2 removable, 5 CD-ROM; 0 for the fixed entries
  VmIcon icon = VmIcon::Floppy;
  bool mounted = false;
  bool present = false;
  std::unique_ptr<VMConnection> connection;
};

class VmDriveMenu {
 public:
  static constexpr int kMaxEntries = 9;
  static constexpr int kFixedEntries = 3;

  // settings: everything a connection needs; each entry's connection is made from it.
  explicit VmDriveMenu(VmConnectionSettings settings);
  // Unmounts what is mounted and closes every connection.
  ~VmDriveMenu();
  VmDriveMenu(const VmDriveMenu&) = delete;
  VmDriveMenu& operator=(const VmDriveMenu&) = delete;

  // Builds the entries; with the virtual media key refused the menu stays empty.
  void Build(bool vmKeyRefused);
  // Refreshes the drive entries (each time the menu opens): new drives are added, gone ones
  // dropped and the rows behind them move up.
  void GetDrives();
  // Entries shown, from the top.
  int Count() const { return count_; }
  const VmDriveEntry& Entry(int row) const { return entries_[size_t(row)]; }
  // The button of a row went down: unmounts a mounted entry, else mounts it. Returns the
  // connection's Connect result for a mount, 0 for an unmount, -1 for a row that is not shown.
  int Press(int row);
  // The console was told to unmount a device of this kind.
  void UnmountKind(VmKind kind);

 private:
  void FillDrive(VmDriveEntry* entry, const CMedia::Drive& drive);
  void Unmount(VmDriveEntry* entry);
  std::unique_ptr<VMConnection> NewConnection(VmKind kind);

  VmConnectionSettings settings_;
  std::vector<VmDriveEntry> entries_;
  int count_ = 0;
};

}  // namespace remcons
