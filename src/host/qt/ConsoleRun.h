// One console session run to its end, as the remcons program runs it in a window or off screen:
// the properties set, message boxes answered from a policy, events as JSON lines, scripted input,
// a time limit, and a snapshot of the picture when the session ends. The drivers (HeadlessConsole
// here, the program's window) say how the session's window is made and painted; everything else
// is this base's, so both end with the same exit statuses and reasons.
#pragma once

#include <QObject>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "host/qt/EventJson.h"
#include "host/qt/QtHost.h"
#include "host/qt/ScriptRunner.h"
#include "multiuser/MUServer.h"
#include "session/PropertyBag.h"
#include "session/RemCons.h"

namespace remcons {

// How a run ended, as the program's exit status.
enum class ExitStatus : int {
  kOk = 0,          // the server, a script, the time limit or the user ended the session
  kFailed = 1,      // it never connected, lost its connection, or a script or mount failed
  kBadOptions = 2,  // the options could not be used
};

struct ConsoleRunOptions {
  // Properties in the order they are set: the page's first, then the command line's.
  PropertyBag pageParams;
  PropertyBag params;
  std::optional<std::string> pageUrl;
  // Stop the session after this many seconds.
  std::optional<uint32_t> seconds;
  std::string eventsPath;            // "-" for stdout; empty for none
  std::vector<std::string> answers;  // CAPTION=BUTTON
  std::string snapshotPath;          // PNG of the picture when the session ends; empty for none
  std::unique_ptr<ScriptSource> script;
  // A session leader's server (its port is the muPort property).
  MUServerOptions leaderServer;
  // Where events go when eventsPath is empty (tests); not owned.
  FILE* eventsStream = nullptr;
};

// How a console's session ended: kOk when the server, a script, a time limit or the user ended
// it; kFailed with one line in reason when it never connected or lost its connection. timeLimit:
// the run's time limit in seconds when it was what stopped the session. Window thread, after the
// session has stopped.
ExitStatus SessionOutcome(CRemCons& control, std::string* reason,
                          std::optional<uint32_t> timeLimit = std::nullopt);
// Sets the console's properties: the page's as a page gives them (a refused value is traced and
// left out), then the command line's, which must all be taken (false with a reason otherwise).
bool ApplyConsoleParams(CRemCons& control, const PropertyBag& pageParams, const PropertyBag& params,
                        std::string* reason);

class ConsoleRun {
 public:
  // Made on the application's thread.
  explicit ConsoleRun(ConsoleRunOptions options);
  virtual ~ConsoleRun();
  ConsoleRun(const ConsoleRun&) = delete;
  ConsoleRun& operator=(const ConsoleRun&) = delete;

  // Runs the session until it has ended. kOk when the server, the script, the time limit or the
  // user ended it; otherwise the status and, in reason, one line saying why.
  ExitStatus Run(std::string* reason);

  EventJsonWriter& events() { return events_; }
  virtual CRemCons& control() = 0;

 protected:
  // --- What a driver provides ---
  // The host the session runs on.
  virtual QtHost& host() = 0;
  // Before the session is made, with the properties set: the window, its callbacks and sinks.
  virtual void SetUp() = 0;
  // Makes the session's window; false when the control refused it (it has told the user and
  // raised OnShutdown).
  virtual bool CreateSession() = 0;
  // Paints what is pending into the window's picture: false while the video lock is busy.
  virtual bool PaintPending() = 0;
  // The picture as the window shows it.
  virtual const Surface& Picture() const = 0;
  // Whether the end may come now; a driver that must first close something asks again later.
  virtual bool ReadyToFinish() { return true; }
  // The session is over: the control's window goes.
  virtual void EndSession() { control().OnDestroy(); }
  // After the session's last notices have been delivered, before the snapshot.
  virtual void SessionEnded() {}
  // The run's status is known; the loop ends right after.
  virtual void Finished(ExitStatus /*status*/) {}

  // --- For the drivers ---
  // The session has ended (its first OnShutdown, or the user closed it): the run ends once the
  // event loop comes back. False when the end was already on its way.
  bool EndOnce();
  void FinishSoon();
  // The run fails with this reason (the first one given counts).
  void Fail(const std::string& reason);
  // Ends a running script and waits for it (drivers, before what it uses goes).
  void StopScript();
  const ConsoleRunOptions& options() const { return options_; }
  const DialogPolicy& policy() const { return policy_; }
  QObject* context() { return context_.get(); }

 private:
  bool Prepare(std::string* reason);
  // Writes the picture as the window shows it: false with error empty while the picture is busy.
  bool SnapshotTo(const std::string& path, std::string* error);
  void StartScript();
  void WatchConnect();
  void Finish();
  ExitStatus Outcome(std::string* reason);

  ConsoleRunOptions options_;
  EventJsonWriter events_;
  DialogPolicy policy_;
  std::unique_ptr<QObject> context_;
  std::unique_ptr<ScriptRunner> script_;
  bool ending_ = false;
  bool finished_ = false;
  bool timeUp_ = false;
  std::optional<std::string> failure_;
  std::string reason_;
  std::function<void(ExitStatus)> exit_;
};

}  // namespace remcons
