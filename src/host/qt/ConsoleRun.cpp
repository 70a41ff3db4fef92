#include "host/qt/ConsoleRun.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QMetaObject>
#include <QTimer>
#include <chrono>

#include "host/qt/QtImage.h"
#include "platform/Secret.h"
#include "platform/Socket.h"
#include "platform/Trace.h"

namespace remcons {
namespace {

constexpr int kConnectWatchMs = 50;

// A property's value as messages may show it: the secrets only by their length.
std::string Shown(const std::string& name, const std::string& value) {
  return IsSecretProperty(name) ? trace::Masked(value) : value;
}

// The secrets of a bag, once the control holds them.
void WipeSecrets(PropertyBag& bag) {
  for (auto& [name, value] : bag) {
    if (IsSecretProperty(name)) WipeString(value);
  }
}

}  // namespace

bool ApplyConsoleParams(CRemCons& control, const PropertyBag& pageParams, const PropertyBag& params,
                        std::string* reason) {
  // A page's values are taken as a page gives them: a refused one is traced and left out.
  for (const auto& [name, value] : pageParams) {
    if (control.PutByName(name, value) != S_OK) {
      RC_TRACE("remcons: page value %s=%s left out\n", name.c_str(), Shown(name, value).c_str());
    }
  }
  // The command line's must all be taken.
  for (const auto& [name, value] : params) {
    if (control.PutByName(name, value) != S_OK) {
      *reason =
          "--param " + name + "=" + Shown(name, value) + " refused (unknown name or invalid value)";
      return false;
    }
  }
  return true;
}

ExitStatus SessionOutcome(CRemCons& control, std::string* reason,
                          std::optional<uint32_t> timeLimit) {
  const RemConsProperties& p = control.Properties();
  const bool joining = p.muMode == 2;
  const std::string where = std::string(joining ? p.muServer : p.target) + ":" +
                            std::to_string(joining ? p.muPort : p.port);
  if (!control.EverConnected()) {
    const std::string failed = "failed to connect to " + where;
    const int32_t state = control.ConnectionState();
    const bool stopped = control.EndReason() == CRemCons::SessionEnd::kStopped;
    const bool replyAwaited = state == CNet::kHandshaking || state == CNet::kClosedInHandshake;
    if (timeLimit && stopped) {
      // The attempt was still going when the run's time ran out.
      *reason = failed + (replyAwaited ? ": no start reply" : ": no answer") +
                " before --seconds " + std::to_string(*timeLimit) + " ended the attempt";
    } else if (replyAwaited) {
      // Closed by a stop while waiting, or by the server.
      *reason =
          failed + (state == CNet::kHandshaking || stopped ? ": no start reply"
                                                           : ": the server closed the connection");
    } else if (const int code = control.ConnectError(); code != 0 && code != kWsaEintr) {
      *reason = failed + ": " + ConnectFailureWords(code);
    } else {
      *reason = failed;
    }
    return ExitStatus::kFailed;
  }
  if (control.EndReason() == CRemCons::SessionEnd::kConnectionLost) {
    *reason = "the connection to " + where + " was lost";
    return ExitStatus::kFailed;
  }
  reason->clear();
  return ExitStatus::kOk;
}

ConsoleRun::ConsoleRun(ConsoleRunOptions options)
    : options_(std::move(options)),
      events_(options_.eventsStream),
      context_(std::make_unique<QObject>()) {}

ConsoleRun::~ConsoleRun() {
  StopScript();
}

void ConsoleRun::StopScript() {
  if (script_) script_->Stop();
}

void ConsoleRun::Fail(const std::string& reason) {
  if (!failure_) failure_ = reason;
}

bool ConsoleRun::Prepare(std::string* reason) {
  for (const std::string& rule : options_.answers) {
    std::string error;
    if (!policy_.AddRule(rule, &error)) {
      *reason = "--answer " + error;
      return false;
    }
  }
  if (!options_.eventsPath.empty() && !events_.Open(options_.eventsPath, reason)) return false;
  const bool applied = ApplyConsoleParams(control(), options_.pageParams, options_.params, reason);
  WipeSecrets(options_.pageParams);
  WipeSecrets(options_.params);
  return applied;
}

ExitStatus ConsoleRun::Run(std::string* reason) {
  if (!Prepare(reason)) return ExitStatus::kBadOptions;
  host().SetPageLocation(options_.pageUrl);
  SetUp();

  QEventLoop loop;
  exit_ = [&loop](ExitStatus status) { loop.exit(static_cast<int>(status)); };
  if (!CreateSession()) {
    // The user has been told in a box and OnShutdown is on its way.
    FrameBuffer* frame = control().frameBuffer();
    Fail("the console's picture could not be made" +
         (frame && !frame->failureText().empty() ? ": " + frame->failureText() : std::string()));
  } else {
    StartScript();
    WatchConnect();
    if (options_.seconds) {
      QTimer::singleShot(std::chrono::milliseconds(uint64_t{*options_.seconds} * 1000),
                         context_.get(), [this] {
                           RC_TRACE("remcons: time is up\n");
                           timeUp_ = true;
                           control().StopSession();
                         });
    }
  }
  // Until Finish: it runs after the first OnShutdown (a control refused its window has raised
  // that already).
  const auto status = static_cast<ExitStatus>(loop.exec());
  exit_ = nullptr;
  *reason = status == ExitStatus::kOk ? std::string() : reason_;
  return status;
}

void ConsoleRun::WatchConnect() {
  // A connection that could not be made at all (refused, no route) ends the run at once: the
  // control would show its status text until its connection check, 42 seconds on.
  auto* watch = new QTimer(context_.get());
  watch->setInterval(kConnectWatchMs);
  QObject::connect(watch, &QTimer::timeout, context_.get(), [this, watch] {
    CRemCons& c = control();
    if (ending_ || c.EverConnected()) {
      watch->stop();
    } else if (c.EndReason() == CRemCons::SessionEnd::kConnectFailed && c.ConnectError() != 0 &&
               !c.ConsoleThreadRunning()) {
      watch->stop();
      RC_TRACE("remcons: the connection could not be made\n");
      c.StopSession();
    }
  });
  watch->start();
}

bool ConsoleRun::SnapshotTo(const std::string& path, std::string* error) {
  error->clear();
  if (!PaintPending()) return false;
  if (!SavePng(Picture(), path, error)) {
    if (error->empty()) *error = "cannot write " + path;
    return false;
  }
  return true;
}

void ConsoleRun::StartScript() {
  if (!options_.script) return;
  ScriptRunner::Environment env;
  env.host = &host();
  env.control = &control();
  env.events = &events_;
  env.snapshot = [this](const std::string& path, std::string* error) {
    return SnapshotTo(path, error);
  };
  env.failed = [this](const std::string& why) {
    host().PostToUi([this, why] {
      Fail(why);
      control().StopSession();
    });
  };
  script_ = std::make_unique<ScriptRunner>(std::move(env), std::move(options_.script));
  script_->Start();
}

bool ConsoleRun::EndOnce() {
  if (ending_) return false;
  ending_ = true;
  return true;
}

void ConsoleRun::FinishSoon() {
  // After the event has been raised everywhere, and outside the control's handler.
  QMetaObject::invokeMethod(
      context_.get(), [this] { Finish(); }, Qt::QueuedConnection);
}

void ConsoleRun::Finish() {
  if (finished_) return;
  if (!ReadyToFinish()) {
    FinishSoon();
    return;
  }
  finished_ = true;
  StopScript();
  EndSession();
  // The session-closed notices posted at the end still reach the page.
  QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
  QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
  SessionEnded();
  if (!options_.snapshotPath.empty()) {
    std::string error;
    if (!SnapshotTo(options_.snapshotPath, &error)) Fail("snapshot: " + error);
  }
  const ExitStatus status = Outcome(&reason_);
  Finished(status);
  if (exit_) exit_(status);
}

ExitStatus ConsoleRun::Outcome(std::string* reason) {
  if (failure_) {
    *reason = *failure_;
    return ExitStatus::kFailed;
  }
  return SessionOutcome(control(), reason, timeUp_ ? options_.seconds : std::optional<uint32_t>());
}

}  // namespace remcons
