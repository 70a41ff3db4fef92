// Virtual media from the command line: mount specs such as "cdimage=/isos/install.iso", mounted
// through the same VMConnection as the drive menu, with mount results and unmounts reported as
// JSON lines.
#pragma once

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "vmedia/VMConnection.h"

namespace remcons {

struct VmMountSpec {
  std::string word;  // "image", "cdimage", "folder" or "drive"
  VmKind kind = VmKind::ImageFile;
  std::string path;  // file, folder or block device
};

// Parses "image=PATH", "cdimage=PATH", "folder=PATH" or "drive=DEVICE". A drive is a block
// device name ("sdb", "sr0") or its /dev path; CD-ROM drives are served as such.
bool ParseVmMountSpec(const std::string& text, VmMountSpec* spec, std::string* error,
                      const MediaRoots& roots = DefaultMediaRoots());

class VmCommandLineMounts {
 public:
  // One JSON object per line, without the newline. Called from the mounting thread and from
  // serve threads (never two at once).
  using EventSink = std::function<void(const std::string& json)>;

  struct Settings {
    std::string target;  // management processor address (dotted IPv4)
    uint16_t vmPort = 0;
    std::string vmKey;  // 32 hexadecimal digits
    EventSink events;
    Host* host = nullptr;  // message boxes (null: only events and trace)
    VmControl* control = nullptr;
    Clock* clock = nullptr;
    MediaRoots roots = DefaultMediaRoots();
  };

  explicit VmCommandLineMounts(Settings settings);
  // Unmounts whatever is still served.
  ~VmCommandLineMounts();
  VmCommandLineMounts(const VmCommandLineMounts&) = delete;
  VmCommandLineMounts& operator=(const VmCommandLineMounts&) = delete;

  // Mounts each spec in turn, reporting {"event":"Mount",...,"result":"ok"} or the reason it
  // failed. Returns how many are being served.
  int Mount(const std::vector<VmMountSpec>& specs);
  // Waits until every mount has ended ({"event":"Unmount",...} sent for each); false on time-out.
  bool WaitAllEnded(uint32_t timeoutMs);
  // Ends every mount.
  void UnmountAll();
  // Mounts being served now.
  int Serving() const;

 private:
  struct Mounted;
  void Emit(const std::string& json);

  Settings settings_;
  std::vector<std::unique_ptr<Mounted>> mounts_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  int serving_ = 0;
  std::mutex emitMutex_;
};

// A JSON string literal of text (quotes included).
std::string VmJsonString(const std::string& text);

}  // namespace remcons
