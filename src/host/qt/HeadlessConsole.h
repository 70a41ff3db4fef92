// A console session without a screen, on Qt's event loop: the control with its properties, a
// headless window that it paints into, message boxes answered from a policy, events as JSON lines,
// scripted input, and a snapshot of the picture when the session ends. The remcons program runs
// one; tests run it in-process.
#pragma once

#include <QObject>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "host/qt/EventJson.h"
#include "host/qt/HeadlessWindow.h"
#include "host/qt/QtHost.h"
#include "host/qt/QtPainter.h"
#include "host/qt/ScriptRunner.h"
#include "host/qt/VmChooserHeadless.h"
#include "session/PropertyBag.h"
#include "session/RemCons.h"

namespace remcons {

struct HeadlessOptions {
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

// How a console's session ended, as the program's exit status: HeadlessConsole::kOk when the
// server, a script, a time limit or the user ended it; kFailed with one line in reason when it
// never connected or lost its connection. Window thread, after the session has stopped.
int SessionOutcome(CRemCons& control, std::string* reason);
// Sets the console's properties: the page's as a page gives them (a refused value is traced and
// left out), then the command line's, which must all be taken (false with a reason otherwise).
bool ApplyConsoleParams(CRemCons& control, const PropertyBag& pageParams, const PropertyBag& params,
                        std::string* reason);

class HeadlessConsole {
 public:
  // Exit statuses.
  static constexpr int kOk = 0;
  static constexpr int kFailed = 1;
  static constexpr int kBadOptions = 2;

  // Made on the application's thread, with a QGuiApplication.
  explicit HeadlessConsole(HeadlessOptions options);
  ~HeadlessConsole();
  HeadlessConsole(const HeadlessConsole&) = delete;
  HeadlessConsole& operator=(const HeadlessConsole&) = delete;

  // Runs the session until it has ended. kOk when the server, the script, the time limit or the
  // user ended it; otherwise the status and, in reason, one line saying why.
  int Run(std::string* reason);

  // After Run: the picture as the window showed it last, and the events written.
  const Surface& picture() const { return window_.surface(); }
  EventJsonWriter& events() { return events_; }
  CRemCons& control() { return *control_; }

 private:
  class Sink;

  bool Prepare(std::string* reason);
  void Finish();
  void Fail(const std::string& reason);
  int Outcome(std::string* reason);
  bool SnapshotTo(const std::string& path, std::string* error);

  HeadlessOptions options_;
  EventJsonWriter events_;
  DialogPolicy policy_;
  std::unique_ptr<QObject> context_;
  QtHost host_;
  // The drive menu's image and folder entries: no dialog, a box that says why.
  HeadlessVmChooser chooser_{&host_};
  std::unique_ptr<QtPainter> painter_;
  HeadlessWindow window_;
  std::unique_ptr<Sink> sink_;
  std::unique_ptr<ScriptRunner> script_;
  // Last so that it goes first: its destructor still uses the host, painter and window.
  std::unique_ptr<CRemCons> control_;

  bool finishing_ = false;
  bool finished_ = false;
  std::optional<std::string> failure_;
  std::function<void(int)> exit_;
};

}  // namespace remcons
