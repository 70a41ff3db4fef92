#include "vmedia/VmCommandLine.h"

#include <sys/stat.h>

#include <chrono>
#include <cstring>

#include "vmedia/VmDrives.h"
#include "vmedia/text.h"

namespace remcons {

std::string VmJsonString(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c < 0x20) {
          out += vm::FormatText("\\u%04x", c);
        } else {
          out += char(c);
        }
    }
  }
  return out + "\"";
}

bool ParseVmMountSpec(const std::string& text, VmMountSpec* spec, std::string* error,
                      const MediaRoots& roots) {
  const size_t eq = text.find('=');
  if (eq == std::string::npos || eq + 1 == text.size()) {
    *error = "mount spec '" + text + "' is not KIND=PATH";
    return false;
  }
  spec->word = text.substr(0, eq);
  spec->path = text.substr(eq + 1);
  if (spec->word == "image") {
    spec->kind = VmKind::ImageFile;
  } else if (spec->word == "cdimage") {
    spec->kind = VmKind::CdImage;
  } else if (spec->word == "folder") {
    spec->kind = VmKind::Folder;
  } else if (spec->word == "drive") {
    const int type = CMedia::GetDriveType(spec->path, roots);
    if (type == CMedia::kUnknown) {
      *error = "no block device '" + spec->path + "'";
      return false;
    }
    spec->kind = type == CMedia::kCdrom ? VmKind::CdromDrive : VmKind::FloppyDrive;
  } else {
    *error = "unknown mount kind '" + spec->word + "' (image, cdimage, folder or drive)";
    return false;
  }
  return true;
}

struct VmCommandLineMounts::Mounted {
  VmMountSpec spec;
  std::unique_ptr<FixedTargetChooser> chooser;
  std::unique_ptr<VMConnection> connection;
  // A short session can end before Connect has returned; its Unmount waits for the Mount.
  std::mutex mutex;
  bool mountReported = false;
  std::string endedBeforeReport;
  bool ended = false;
};

VmCommandLineMounts::VmCommandLineMounts(Settings settings) : settings_(std::move(settings)) {}

VmCommandLineMounts::~VmCommandLineMounts() {
  UnmountAll();
}

void VmCommandLineMounts::Emit(const std::string& json) {
  std::lock_guard lock(emitMutex_);
  if (settings_.events) settings_.events(json);
}

int VmCommandLineMounts::Mount(const std::vector<VmMountSpec>& specs) {
  VmKey key{};
  const bool keyOk = VMConnection::ParseKey(settings_.vmKey, &key);
  int started = 0;
  for (const VmMountSpec& spec : specs) {
    const std::string head = "{\"event\":\"Mount\",\"kind\":" + VmJsonString(spec.word) +
                             ",\"path\":" + VmJsonString(spec.path);
    std::string result;
    struct stat st {};
    if (!keyOk) {
      result = "vmKey must be 32 hexadecimal digits";
    } else if (spec.kind != VmKind::FloppyDrive && spec.kind != VmKind::CdromDrive &&
               ::stat(spec.path.c_str(), &st) != 0) {
      // A dialog would not offer a path that is not there.
      result = std::strerror(errno);
    }
    if (!result.empty()) {
      Emit(head + ",\"result\":" + VmJsonString(result) + "}");
      continue;
    }
    auto m = std::make_unique<Mounted>();
    m->spec = spec;
    m->chooser = std::make_unique<FixedTargetChooser>(spec.path);
    VmConnectionSettings s;
    s.server = settings_.target;
    s.port = settings_.vmPort;
    s.key = key;
    s.host = settings_.host;
    s.control = settings_.control;
    s.chooser = m->chooser.get();
    s.clock = settings_.clock;
    s.roots = settings_.roots;
    m->connection = std::make_unique<VMConnection>(spec.kind, s);
    Mounted* raw = m.get();
    auto unmountEvent = [raw](const std::string& reason) {
      return "{\"event\":\"Unmount\",\"kind\":" + VmJsonString(raw->spec.word) +
             ",\"path\":" + VmJsonString(raw->spec.path) + ",\"reason\":" + VmJsonString(reason) +
             "}";
    };
    m->connection->SetServeEndedCallback([this, raw, unmountEvent](const std::string& reason) {
      {
        std::lock_guard lock(raw->mutex);
        raw->ended = true;
        if (!raw->mountReported) {
          raw->endedBeforeReport = reason;
        } else {
          Emit(unmountEvent(reason));
        }
      }
      VmCountMount(-1);
      std::lock_guard lock(mutex_);
      --serving_;
      changed_.notify_all();
    });
    {
      std::lock_guard lock(mutex_);
      ++serving_;  // before Connect: a short session may end before Connect returns
    }
    VmCountMount(1);
    const int r = m->connection->Connect(spec.path);
    if (r == 0) {
      ++started;
      std::lock_guard lock(raw->mutex);
      Emit(head + ",\"device\":" + VmJsonString(VmKindName(m->connection->DeviceKind())) +
           ",\"result\":\"ok\"}");
      raw->mountReported = true;
      if (raw->ended) Emit(unmountEvent(raw->endedBeforeReport));
    } else {
      VmCountMount(-1);
      {
        std::lock_guard lock(mutex_);
        --serving_;
        changed_.notify_all();
      }
      std::string reason = m->connection->LastMessage();
      if (reason.empty()) {
        reason = r == VMConnection::kConnectFailed ? "Unable to reach " + settings_.target + ":" +
                                                         std::to_string(settings_.vmPort) + "."
                                                   : "Mount failed (" + std::to_string(r) + ").";
      }
      Emit(head + ",\"result\":" + VmJsonString(reason) + "}");
    }
    std::lock_guard lock(mutex_);
    mounts_.push_back(std::move(m));
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
    for (auto& m : mounts_) all.push_back(m.get());
  }
  for (Mounted* m : all) m->connection->Disconnect();
}

int VmCommandLineMounts::Serving() const {
  std::lock_guard lock(mutex_);
  return serving_;
}

}  // namespace remcons
