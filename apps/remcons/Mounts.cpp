#include "Mounts.h"

#include <fcntl.h>
#include <pthread.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QTimer>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <random>

#include "platform/Hex.h"
#include "platform/StopSignals.h"
#include "platform/Trace.h"
#include "session/PropertyBag.h"
#include "session/RemCons.h"
#include "sim/VmInitiator.h"
#include "vmedia/VMConnection.h"

namespace remcons::app {
namespace {

// How long unmounted drives are given to report their ends.
constexpr uint32_t kEndWaitMs = 10000;
constexpr uint32_t kSliceMs = 100;
// How often a console is looked at until its window exists.
constexpr int kWindowPollMs = 20;

// Why a path cannot be served as its kind, or empty. A dialog offers only what is there and
// readable; the command line says so at once rather than serving a drive without a medium.
std::string PathProblem(const VmMountSpec& mount, const MediaRoots& roots) {
  if (mount.kind == VmKind::FloppyDrive || mount.kind == VmKind::CdromDrive) {
    const std::string device =
        mount.path.find('/') == std::string::npos ? roots.dev + "/" + mount.path : mount.path;
    const int fd = ::open(device.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0) {
      ::close(fd);
      return {};
    }
    // A drive without a medium is still worth serving (one may be put in); one this user may
    // not read is not.
    return errno == EACCES || errno == EPERM ? std::strerror(errno) : std::string();
  }
  struct stat st {};
  if (::stat(mount.path.c_str(), &st) != 0) return std::strerror(errno);
  const bool folder = mount.kind == VmKind::Folder;
  if (folder && !S_ISDIR(st.st_mode)) return std::strerror(ENOTDIR);
  if (!folder && S_ISDIR(st.st_mode)) return std::strerror(EISDIR);
  const int fd = ::open(mount.path.c_str(), O_RDONLY | O_CLOEXEC | (folder ? O_DIRECTORY : 0));
  if (fd < 0) return std::strerror(errno);
  ::close(fd);
  return {};
}

}  // namespace

struct CommandLineMounts::Target {
  std::string server;
  uint16_t port = 0;
  std::string key;      // 32 hexadecimal digits
  std::string problem;  // why nothing can be mounted; empty when all is there
};

// The console as the command line's drives see it: their use keeps it from timing out, as the
// drive menu's does. A drive's own unmount request stays with it (its serve loop ends by itself);
// passed on, it would unmount the drive menu's first entry of the same kind instead.
class CommandLineMounts::ConsoleActivity : public VmControl {
 public:
  explicit ConsoleActivity(VmControl& console) : console_(console) {}
  void OnVmActivity() override { console_.OnVmActivity(); }
  void OnVmUnmountRequest(VmKind) override {}

 private:
  VmControl& console_;
};

CommandLineMounts::CommandLineMounts(const Options& options) : options_(options) {}

CommandLineMounts::~CommandLineMounts() {
  context_.reset();
  UnmountAll();
  if (demo_) demo_->Stop();
}

bool CommandLineMounts::Prepare(ConsoleRunOptions* run, std::string* error) {
  if (options_.demo) {
    sim::VmSimOptions vm;
    vm.enabled = true;
    vm.bind = "127.0.0.1";
    vm.port = 0;
    std::random_device random;
    for (auto& b : vm.key) b = static_cast<uint8_t>(random());
    demo_ = std::make_unique<sim::VmSimServer>(vm);
    if (!demo_->Start()) {
      demo_.reset();
      *error = "the simulator's virtual media did not start";
      return false;
    }
    std::fprintf(stderr, "remcons: simulator's virtual media on 127.0.0.1:%u\n",
                 static_cast<unsigned>(demo_->Port()));
    // Ahead of the command line's, which may still name another port or key.
    run->params.insert(run->params.begin(), {{"target", "127.0.0.1"},
                                             {"vmPort", std::to_string(demo_->Port())},
                                             {"vmKey", HexBytes(vm.key.data(), vm.key.size())}});
  }
  for (const PropertyBag* bag : {&run->pageParams, &run->params}) {
    for (const auto& [name, value] : *bag) {
      if (strcasecmp(name.c_str(), "vmKey") == 0) vmKeyGiven_ = true;
    }
  }
  return true;
}

CommandLineMounts::Target CommandLineMounts::TargetOf(const RemConsProperties& p) const {
  Target t;
  t.server = p.target;
  t.port = p.vmPort;
  t.key = HexBytes(p.vmKey, 16);
  if (p.vmNotAuthorized) {
    t.problem = "virtual media is not authorized for this session (vmKey)";
  } else if (!vmKeyGiven_) {
    t.problem = "no virtual-media key: give vmKey (32 hexadecimal digits)";
  } else if (t.port == 0) {
    t.problem = "no virtual-media port: give vmPort";
  } else if (t.server.empty()) {
    t.problem = "no target: give the management processor's address as target";
  }
  return t;
}

void CommandLineMounts::NoteFailure(const std::string& reason) {
  RC_TRACE("remcons: %s\n", reason.c_str());
  std::lock_guard lock(mutex_);
  if (!failure_) failure_ = reason;
}

void CommandLineMounts::StartMounting(const RemConsProperties& properties, EventJsonWriter& events,
                                      VmControl* control) {
  events_ = &events;
  mounting_ = true;
  mounter_ = std::thread([this, where = TargetOf(properties), control] {
    pthread_setname_np(pthread_self(), "vm-mount");
    MountAll(where, control);
    mounting_ = false;
  });
}

void CommandLineMounts::MountAll(const Target& where, VmControl* control) {
  for (size_t i = 0; i < options_.mounts.size(); ++i) {
    const std::string& text = options_.mounts[i];
    VmMountSpec mount;
    std::string problem = where.problem;
    if (problem.empty() && ParseVmMountSpec(text, &mount, &problem)) {
      problem = PathProblem(mount, DefaultMediaRoots());
    }
    if (!problem.empty()) {
      const size_t eq = text.find('=');
      VmMountEvent event{"Mount",
                         text.substr(0, eq),
                         !mount.path.empty()       ? mount.path
                         : eq == std::string::npos ? text
                                                   : text.substr(eq + 1),
                         {},
                         problem,
                         {}};
      OnMountEvent(i, event);
      continue;
    }
    VmCommandLineMounts::Settings settings;
    settings.target = where.server;
    settings.vmPort = where.port;
    settings.vmKey = where.key;
    settings.control = control;
    settings.events = [this, i](const VmMountEvent& event) { OnMountEvent(i, event); };
    auto mounts = std::make_unique<VmCommandLineMounts>(std::move(settings));
    VmCommandLineMounts* one = mounts.get();
    bool stopping;
    {
      std::lock_guard lock(mutex_);
      stopping = stopping_;
      mounts_.push_back(std::move(mounts));
    }
    // Too late: it reports that it was not served.
    if (stopping) one->UnmountAll();
    RC_TRACE("remcons: mounting %s\n", text.c_str());
    one->Mount({mount});
  }
}

void CommandLineMounts::OnMountEvent(size_t index, const VmMountEvent& event) {
  events_->Event(event.name, VmMountEventMembers(event));
  const std::string& text = options_.mounts[index];
  if (event.name == "Mount") {
    if (event.result != "ok") NoteFailure("mount " + text + " failed: " + event.result);
  } else if (event.reason != "Connection closed." && event.reason != "Unmounted.") {
    // The server's close and our own unmount are the ends a mount is meant to have.
    NoteFailure("mount " + text + " ended: " + event.reason);
  }
}

bool CommandLineMounts::AnyActive() const {
  if (mounting_) return true;
  std::lock_guard lock(mutex_);
  for (const auto& m : mounts_) {
    if (m->Serving() > 0) return true;
  }
  return false;
}

void CommandLineMounts::UnmountAll() {
  std::vector<VmCommandLineMounts*> started;
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    for (auto& m : mounts_) started.push_back(m.get());
  }
  // Outside the lock: the ends are reported on the serve threads, which take it. A mount still
  // connecting gives up, so the mount thread ends soon after.
  for (VmCommandLineMounts* m : started) m->UnmountAll();
  if (mounter_.joinable()) mounter_.join();
  std::vector<std::unique_ptr<VmCommandLineMounts>> all;
  {
    std::lock_guard lock(mutex_);
    all.swap(mounts_);
  }
  for (auto& m : all) m->UnmountAll();
  for (auto& m : all) {
    if (!m->WaitAllEnded(kEndWaitMs)) RC_TRACE("remcons: a drive did not report its end\n");
  }
  all.clear();
}

void CommandLineMounts::MountWith(CRemCons& control, EventJsonWriter& events) {
  if (options_.mounts.empty()) return;
  context_ = std::make_unique<QObject>();
  // Once the window exists: its menu bar has started the hello chain afresh, and these hellos
  // follow it. A desktop window makes its session when it is first shown.
  auto* wait = new QTimer(context_.get());
  wait->setInterval(kWindowPollMs);
  QObject::connect(wait, &QTimer::timeout, [this, wait, &control, &events] {
    if (control.StopRequested()) {
      wait->stop();
      return;
    }
    if (!control.menuBar()) return;
    wait->stop();
    activity_ = std::make_unique<ConsoleActivity>(control);
    StartMounting(control.Properties(), events, activity_.get());
  });
  wait->start();
}

ExitStatus CommandLineMounts::Finish(ExitStatus status, std::string* reason) {
  context_.reset();
  UnmountAll();
  std::lock_guard lock(mutex_);
  if (status == ExitStatus::kOk && failure_) {
    *reason = *failure_;
    return ExitStatus::kFailed;
  }
  return status;
}

ExitStatus CommandLineMounts::RunWithoutConsole(ConsoleRunOptions run, std::string* reason) {
  // SIGINT and SIGTERM end the serving as --seconds does; the mount and serve threads inherit
  // the mask.
  StopSignals stopSignals;

  EventJsonWriter events(run.eventsStream);
  if (!run.eventsPath.empty() && !events.Open(run.eventsPath, reason)) {
    return ExitStatus::kBadOptions;
  }
  if (!Prepare(&run, reason)) return ExitStatus::kFailed;

  // The properties as the console would take them.
  CRemCons properties;
  if (!ApplyConsoleParams(properties, run.pageParams, run.params, reason)) {
    return ExitStatus::kBadOptions;
  }
  if (run.pageUrl) properties.ApplyPageHost(*run.pageUrl);
  // These hellos start a chain of their own, as a new console's do.
  VMConnection::ResetHandshakeChain();
  const auto start = std::chrono::steady_clock::now();
  StartMounting(properties.Properties(), events, nullptr);
  while (AnyActive()) {
    if (run.seconds &&
        std::chrono::steady_clock::now() - start >= std::chrono::seconds(*run.seconds)) {
      RC_TRACE("remcons: time is up\n");
      break;
    }
    if (stopSignals.Wait(kSliceMs) > 0) {
      RC_TRACE("remcons: interrupted\n");
      break;
    }
  }
  UnmountAll();
  std::lock_guard lock(mutex_);
  if (failure_) {
    *reason = *failure_;
    return ExitStatus::kFailed;
  }
  return ExitStatus::kOk;
}

}  // namespace remcons::app
