#include "vmedia/VmDrives.h"

#include <atomic>

#include "platform/Strings.h"
#include "platform/Trace.h"

namespace remcons {
namespace {

std::atomic<int> mountedDrives{0};

void Lower() {
  int n = mountedDrives.load();
  while (n > 0 && !mountedDrives.compare_exchange_weak(n, n - 1)) {
  }
}

}  // namespace

int VmMountedDrives() {
  return mountedDrives.load();
}

void VmCountMount(int delta) {
  if (delta > 0) {
    mountedDrives += delta;
  } else {
    for (; delta < 0; ++delta) Lower();
  }
}

VmDriveMenu::VmDriveMenu(VmConnectionSettings settings)
    : settings_(std::move(settings)), entries_(kMaxEntries) {}

VmDriveMenu::~VmDriveMenu() {
  for (auto& e : entries_) {
    if (!e.connection) continue;
    if (e.mounted && e.connection->IsConnected()) Unmount(&e);
    e.connection->Close();
    if (e.mounted) Unmount(&e);
  }
}

std::unique_ptr<VMConnection> VmDriveMenu::NewConnection(VmKind kind) {
  return std::make_unique<VMConnection>(kind, settings_);
}

void VmDriveMenu::Build(bool vmKeyRefused) {
  for (auto& e : entries_) e = VmDriveEntry{};
  count_ = 0;
  if (vmKeyRefused) {
    RC_TRACE("MenuBar:Setting VM Key unauthorized flag.\n");
    return;
  }
  RC_TRACE("MenuBar:Clearing VM Key unauthorized flag.\n");
  const bool japanese = JapaneseForms();
  const char* image =
      japanese ? "\xEF\xBD\xB2\xEF\xBE\x92\xEF\xBD\xB0\xEF\xBD\xBC\xEF\xBE\x9E" : "Image";
  const char* folder =
      japanese ? "\xEF\xBE\x8C\xEF\xBD\xAB\xEF\xBE\x99\xEF\xBE\x80\xEF\xBE\x9E" : "Folder";
  struct Fixed {
    const char* label;
    VmKind kind;
    VmIcon icon;
  };
  const Fixed fixed[kFixedEntries] = {{image, VmKind::ImageFile, VmIcon::Floppy},
                                      {folder, VmKind::Folder, VmIcon::Folder},
                                      {image, VmKind::CdImage, VmIcon::Cd}};
  for (int i = 0; i < kFixedEntries; ++i) {
    VmDriveEntry& e = entries_[size_t(i)];
    e.label = fixed[i].label;
    e.kind = fixed[i].kind;
    e.icon = fixed[i].icon;
    e.present = true;
    e.connection = NewConnection(e.kind);
  }
  int next = kFixedEntries;
  for (const CMedia::Drive& drive : CMedia::ListDrives(settings_.roots)) {
    if (next == kMaxEntries) break;
    FillDrive(&entries_[size_t(next++)], drive);
  }
  count_ = next;
}

void VmDriveMenu::FillDrive(VmDriveEntry* e, const CMedia::Drive& drive) {
  e->label = drive.name;
  e->device = drive.name;
  e->type = drive.type;
  e->mounted = false;
  e->present = true;
  if (drive.type == CMedia::kCdrom) {
    e->kind = VmKind::CdromDrive;
    e->icon = VmIcon::Cd;
  } else {
    // The size comes from sysfs: the drive is not opened just to be listed.
    const uint64_t size = CMedia::SysfsSize(drive.name, settings_.roots);
    if (size == 0) RC_TRACE("CMenuBar::GetDrives: Unable to open %s.\n", drive.name.c_str());
    e->kind = VmKind::FloppyDrive;
    e->icon = size <= VMConnection::kFloppyDriveLimit ? VmIcon::Floppy : VmIcon::UsbKey;
  }
  e->connection = NewConnection(e->kind);
}

void VmDriveMenu::GetDrives() {
  if (count_ == 0) return;  // refused, or not built
  for (int i = kFixedEntries; i < kMaxEntries; ++i) {
    // A mounted drive stays listed while it is served.
    entries_[size_t(i)].present = entries_[size_t(i)].mounted;
  }
  const auto drives = CMedia::ListDrives(settings_.roots);
  bool fresh = false;
  for (const auto& d : drives) {
    bool known = false;
    for (int i = kFixedEntries; i < kMaxEntries; ++i) {
      VmDriveEntry& e = entries_[size_t(i)];
      if (e.connection && e.device == d.name) {
        e.present = true;
        known = true;
      }
    }
    fresh |= !known;
  }
  if (fresh) {
    for (const auto& d : drives) {
      bool known = false;
      for (int i = kFixedEntries; i < kMaxEntries; ++i) {
        known |= entries_[size_t(i)].connection && entries_[size_t(i)].device == d.name;
      }
      if (known) continue;
      int slot = -1;
      for (int i = kFixedEntries; i < kMaxEntries && slot < 0; ++i) {
        if (!entries_[size_t(i)].present) slot = i;
      }
      if (slot < 0) break;  // the list is full
      VmDriveEntry& e = entries_[size_t(slot)];
      if (e.connection) e.connection->Close();
      FillDrive(&e, d);
    }
  }
  // Close the gaps: rows behind a dropped drive move up (the last row stays where it is).
  for (int i = kFixedEntries; i < kMaxEntries - 2; ++i) {
    if (entries_[size_t(i)].present) continue;
    for (int j = kMaxEntries - 2; j > i; --j) {
      if (entries_[size_t(j)].present) {
        if (entries_[size_t(i)].connection) entries_[size_t(i)].connection->Close();
        entries_[size_t(i)] = std::move(entries_[size_t(j)]);
        entries_[size_t(j)] = VmDriveEntry{};
        break;
      }
    }
  }
  count_ = 0;
  while (count_ < kMaxEntries && entries_[size_t(count_)].present) ++count_;
}

void VmDriveMenu::Unmount(VmDriveEntry* e) {
  e->mounted = false;
  Lower();
  if (e->connection) e->connection->Disconnect();
}

int VmDriveMenu::Press(int row) {
  if (row < 0 || row >= count_) return -1;
  VmDriveEntry& e = entries_[size_t(row)];
  if (e.mounted) {
    Unmount(&e);
    return 0;
  }
  e.mounted = true;
  ++mountedDrives;
  const int result = e.connection->Connect(e.device.empty() ? "~" : e.device);
  if (result != 0) {
    e.mounted = false;
    Lower();
  }
  return result;
}

void VmDriveMenu::UnmountKind(VmKind kind) {
  RC_TRACE("Unmount command sent %d device\n", int(kind));
  // The entry whose device asked comes first: its serve thread has usually closed the socket by
  // now, and another entry of the same kind may still be connected.
  for (const bool asked : {true, false}) {
    for (int i = 0; i < count_; ++i) {
      VmDriveEntry& e = entries_[size_t(i)];
      if (!e.connection || e.connection->GetKind() != kind) continue;
      if (asked ? e.mounted && e.connection->UnmountRequested() : e.connection->IsConnected()) {
        if (e.mounted) Unmount(&e);
        return;
      }
    }
  }
}

}  // namespace remcons
