// The --mount drives of the remcons program: served through the same VMConnection as the drive
// menu, to the console's target, vmPort and vmKey, with each mount's result and end as events
// beside the console's. With a console they are its drives until its session ends; with
// --vmedia-only there is no console at all.
#pragma once

#include <QObject>
#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "Options.h"
#include "host/qt/ConsoleRun.h"
#include "vmedia/VmCommandLine.h"

namespace remcons::sim {
class VmSimServer;
}

namespace remcons::app {

class CommandLineMounts {
 public:
  explicit CommandLineMounts(const Options& options);
  ~CommandLineMounts();
  CommandLineMounts(const CommandLineMounts&) = delete;
  CommandLineMounts& operator=(const CommandLineMounts&) = delete;

  // With the console's properties gathered, before the console is made: with --demo, starts the
  // simulator's virtual-media side and puts its vmPort and vmKey ahead of the command line's
  // properties (which may still replace them). False with a reason when it cannot start.
  bool Prepare(ConsoleRunOptions* run, std::string* error);
  // Mounts once the console's window exists (on a thread of its own, so that the console's
  // event loop goes on while a server is slow to answer), to its target with its virtual-media
  // port and key; the drives keep it from timing out, and their events go out with its own.
  // Both must outlive Finish.
  void MountWith(CRemCons& control, EventJsonWriter& events);
  void MountWith(ConsoleRun& console) { MountWith(console.control(), console.events()); }
  // After the console's run, while it still exists: unmounts what is still served or still
  // connecting. Returns the run's status, or kFailed with the reason when the run went well but
  // a mount failed.
  ExitStatus Finish(ExitStatus status, std::string* reason);

  // --vmedia-only: mounts without a console session and serves until the server has ended every
  // mount, --seconds passes or the program is interrupted (SIGINT, SIGTERM). The exit status,
  // with a one-line reason when it is not 0.
  ExitStatus RunWithoutConsole(ConsoleRunOptions run, std::string* reason);

 private:
  struct Target;
  class ConsoleActivity;

  Target TargetOf(const RemConsProperties& properties) const;
  // Starts mounting every --mount in order on the mount thread, each reported through events.
  void StartMounting(const RemConsProperties& properties, EventJsonWriter& events,
                     VmControl* control);
  void MountAll(const Target& where, VmControl* control);
  // One event of a mount: passed on to the events, and a failure noted.
  void OnMountEvent(size_t index, const VmMountEvent& event);
  void NoteFailure(const std::string& reason);
  // True while mounts are still being made or served.
  bool AnyActive() const;
  // Unmounts everything, abandoning a mount still connecting, and waits (bounded) for the ends
  // to be reported.
  void UnmountAll();

  const Options& options_;
  bool vmKeyGiven_ = false;
  std::unique_ptr<sim::VmSimServer> demo_;
  std::unique_ptr<QObject> context_;  // the pending mount on the console's event loop
  std::unique_ptr<ConsoleActivity> activity_;
  EventJsonWriter* events_ = nullptr;
  // One set per --mount, so that each event is known to belong to its --mount.
  std::vector<std::unique_ptr<VmCommandLineMounts>> mounts_;
  mutable std::mutex mutex_;
  bool stopping_ = false;               // UnmountAll has begun: nothing more is mounted
  std::optional<std::string> failure_;  // the first mount that failed, and why
  std::thread mounter_;
  std::atomic<bool> mounting_{false};
};

}  // namespace remcons::app
