#include "vmedia/VmCommandLine.h"

#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <string_view>

#include "platform/Hex.h"
#include "platform/Json.h"
#include "vmedia/VmDrives.h"

namespace remcons {
namespace {

// The result of a mount that UnmountAll ended before it was served.
constexpr const char* kUnmountedFirst = "Unmounted before it was served.";

}  // namespace

std::string VmMountEventMembers(const VmMountEvent& event) {
  std::string members =
      ",\"kind\":" + JsonString(event.kind) + ",\"path\":" + JsonString(event.path);
  if (event.name == "Mount") {
    if (!event.device.empty()) members += ",\"device\":" + JsonString(event.device);
    members += ",\"result\":" + JsonString(event.result);
    if (event.linksLeftOut) members += ",\"linksLeftOut\":" + std::to_string(event.linksLeftOut);
  } else {
    members += ",\"reason\":" + JsonString(event.reason);
  }
  return members;
}

std::string VmMountEventJson(const VmMountEvent& event) {
  return "{\"event\":" + JsonString(event.name) + VmMountEventMembers(event) + "}";
}

bool ParseVmMountSpec(const std::string& text, VmMountSpec* mount, std::string* error,
                      const MediaRoots& roots) {
  const size_t eq = text.find('=');
  if (eq == std::string::npos || eq + 1 == text.size()) {
    *error = "mount '" + text + "' is not KIND=PATH";
    return false;
  }
  mount->word = text.substr(0, eq);
  mount->path = text.substr(eq + 1);
  if (mount->word == "image") {
    mount->kind = VmKind::ImageFile;
  } else if (mount->word == "cdimage") {
    mount->kind = VmKind::CdImage;
  } else if (mount->word == "folder") {
    mount->kind = VmKind::Folder;
    constexpr std::string_view kFollow = ",follow-links";
    mount->followLinks = mount->path.size() > kFollow.size() && mount->path.ends_with(kFollow);
    if (mount->followLinks) mount->path.resize(mount->path.size() - kFollow.size());
  } else if (mount->word == "drive") {
    const int type = CMedia::GetDriveType(mount->path, roots);
    if (type == CMedia::kUnknown) {
      *error = "no block device '" + mount->path + "'";
      return false;
    }
    mount->kind = type == CMedia::kCdrom ? VmKind::CdromDrive : VmKind::FloppyDrive;
  } else {
    *error = "unknown mount kind '" + mount->word + "' (image, cdimage, folder or drive)";
    return false;
  }
  return true;
}

struct VmCommandLineMounts::Mounted {
  VmMountSpec what;
  std::unique_ptr<FixedTargetChooser> chooser;
  std::unique_ptr<VMConnection> connection;
  // A short session can end before Connect has returned; its Unmount waits for the Mount.
  std::mutex mutex;
  bool mountReported = false;
  std::string endedBeforeReport;
  bool ended = false;

  VmMountEvent Event(const char* name) const { return {name, what.word, what.path, {}, {}, {}}; }
};

VmCommandLineMounts::VmCommandLineMounts(Settings settings) : settings_(std::move(settings)) {}

VmCommandLineMounts::~VmCommandLineMounts() {
  UnmountAll();
}

void VmCommandLineMounts::Emit(const VmMountEvent& event) {
  std::lock_guard lock(emitMutex_);
  if (settings_.events) settings_.events(event);
}

int VmCommandLineMounts::Mount(const std::vector<VmMountSpec>& mounts) {
  VmKey key{};
  const bool keyOk = ParseHexKeyStrict(settings_.vmKey, key.data());
  int started = 0;
  for (const VmMountSpec& what : mounts) {
    VmMountEvent event{"Mount", what.word, what.path, {}, {}, {}};
    struct stat st {};
    if (!keyOk) {
      event.result = "vmKey must be 32 hexadecimal digits";
    } else if (what.kind != VmKind::FloppyDrive && what.kind != VmKind::CdromDrive &&
               ::stat(what.path.c_str(), &st) != 0) {
      // A dialog would not offer a path that is not there.
      event.result = std::strerror(errno);
    }
    if (!event.result.empty()) {
      Emit(event);
      continue;
    }
    auto m = std::make_unique<Mounted>();
    m->what = what;
    m->chooser = std::make_unique<FixedTargetChooser>(what.path);
    VmConnectionSettings s;
    s.server = settings_.target;
    s.port = settings_.vmPort;
    s.key = key;
    s.host = settings_.host;
    s.control = settings_.control;
    s.chooser = m->chooser.get();
    s.clock = settings_.clock;
    s.roots = settings_.roots;
    s.followLinks = what.followLinks;
    m->connection = std::make_unique<VMConnection>(what.kind, s);
    Mounted* raw = m.get();
    m->connection->SetServeEndedCallback([this, raw](const std::string& reason) {
      {
        std::lock_guard lock(raw->mutex);
        raw->ended = true;
        if (!raw->mountReported) {
          raw->endedBeforeReport = reason;
        } else {
          VmMountEvent ended = raw->Event("Unmount");
          ended.reason = reason;
          Emit(ended);
        }
      }
      VmCountMount(-1);
      std::lock_guard lock(mutex_);
      --serving_;
      changed_.notify_all();
    });
    {
      // Listed before Connect, so that UnmountAll can abandon it while it connects.
      std::lock_guard lock(mutex_);
      if (stopped_) {
        event.result = kUnmountedFirst;
        Emit(event);
        continue;
      }
      ++serving_;  // before Connect: a short session may end before Connect returns
      mounts_.push_back(std::move(m));
    }
    VmCountMount(1);
    const int r = raw->connection->Connect(what.path);
    if (r == 0) {
      ++started;
      std::lock_guard lock(raw->mutex);
      event.device = VmKindName(raw->connection->DeviceKind());
      event.result = "ok";
      event.linksLeftOut = raw->connection->FolderLinksLeftOut();
      Emit(event);
      raw->mountReported = true;
      if (raw->ended) {
        VmMountEvent ended = raw->Event("Unmount");
        ended.reason = raw->endedBeforeReport;
        Emit(ended);
      }
      continue;
    }
    VmCountMount(-1);
    bool stopped;
    {
      std::lock_guard lock(mutex_);
      --serving_;
      stopped = stopped_;
      changed_.notify_all();
    }
    event.result = raw->connection->LastMessage();
    if (event.result.empty()) {
      if (r == VMConnection::kCancelled && stopped) {
        event.result = kUnmountedFirst;
      } else if (r == VMConnection::kConnectFailed) {
        event.result =
            "Unable to reach " + settings_.target + ":" + std::to_string(settings_.vmPort) + ".";
      } else {
        event.result = "Mount failed (" + std::to_string(r) + ").";
      }
    }
    Emit(event);
  }
  return started;
}

bool VmCommandLineMounts::WaitAllEnded(uint32_t timeoutMs) {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                           [this] { return serving_ == 0; });
}

void VmCommandLineMounts::UnmountAll() {
  std::vector<Mounted*> all;
  {
    std::lock_guard lock(mutex_);
    stopped_ = true;
    for (auto& m : mounts_) all.push_back(m.get());
  }
  // Close rather than Disconnect: a mount listed but not yet connecting must not start after.
  for (Mounted* m : all) m->connection->Close();
}

int VmCommandLineMounts::Serving() const {
  std::lock_guard lock(mutex_);
  return serving_;
}

}  // namespace remcons
