// Virtual media from the command line: mounts such as "cdimage=/isos/install.iso", served
// through the same VMConnection as the drive menu, with mount results and unmounts reported as
// events that render as JSON lines.
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
  std::string path;          // file, folder or block device
  bool followLinks = false;  // folder=DIR,follow-links: links leading outside DIR are shown
};

// Parses "image=PATH", "cdimage=PATH", "folder=PATH[,follow-links]" or "drive=DEVICE". A drive is a
// block device name ("sdb", "sr0") or its /dev path; CD-ROM drives are served as such.
bool ParseVmMountSpec(const std::string& text, VmMountSpec* mount, std::string* error,
                      const MediaRoots& roots = DefaultMediaRoots());

// What became of one mount: its result once connected or refused, then its end.
struct VmMountEvent {
  std::string name;    // "Mount" or "Unmount"
  std::string kind;    // the mount's kind word ("image", "cdimage", "folder", "drive")
  std::string path;    // file, folder or block device
  std::string device;  // Mount served: the kind of device served (VmKindName)
  std::string result;  // Mount: "ok", or why it was not served
  std::string reason;  // Unmount: why serving ended ("Connection closed.", "Unmounted.", ...)
  uint32_t linksLeftOut = 0;  // Mount of a folder: links left out, leading outside it
};
// The event's members after its name, each with its leading comma:
// ,"kind":K,"path":P[,"device":D],"result":R[,"linksLeftOut":N] for a Mount;
// ,"kind":K,"path":P,"reason":R else.
std::string VmMountEventMembers(const VmMountEvent& event);
// The event as one JSON object, without a newline: {"event":NAME,MEMBERS}.
std::string VmMountEventJson(const VmMountEvent& event);

class VmCommandLineMounts {
 public:
  // Called from the mounting thread and from serve threads (never two at once).
  using EventSink = std::function<void(const VmMountEvent& event)>;

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

  // Mounts each in turn, reporting a Mount event with result "ok" or the reason it failed.
  // Returns how many are being served.
  int Mount(const std::vector<VmMountSpec>& mounts);
  // Waits until every mount has ended (an Unmount event sent for each); false on time-out.
  bool WaitAllEnded(uint32_t timeoutMs);
  // Ends every mount, from any thread: a mount still connecting gives up at once, with the
  // result "Unmounted before it was served.", as does every later one.
  void UnmountAll();
  // Mounts being served now.
  int Serving() const;

 private:
  struct Mounted;
  void Emit(const VmMountEvent& event);

  Settings settings_;
  std::vector<std::unique_ptr<Mounted>> mounts_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  int serving_ = 0;
  bool stopped_ = false;  // UnmountAll: nothing more is mounted
  std::mutex emitMutex_;
};

}  // namespace remcons
