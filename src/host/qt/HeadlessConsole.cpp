#include "host/qt/HeadlessConsole.h"

#include <strings.h>
#include <QCoreApplication>
#include <QEventLoop>
#include <QMetaObject>
#include <QTimer>

#include <algorithm>

#include "host/qt/Artwork.h"
#include "host/qt/QtImage.h"
#include "platform/Trace.h"

namespace remcons {

// Follows the control's events for the window: the window takes the picture's size, and the first
// OnShutdown ends the run.
class HeadlessConsole::Sink : public IRemConsEv {
 public:
  explicit Sink(HeadlessConsole& owner) : owner_(owner) {}
  void OnShutdown() override {
    if (owner_.finishing_) return;
    owner_.finishing_ = true;
    // After the event has been raised everywhere, and outside the control's handler.
    QMetaObject::invokeMethod(
        owner_.context_.get(), [this] { owner_.Finish(); }, Qt::QueuedConnection);
  }
  void OnResize(int32_t cx, int32_t cy) override {
    FrameBuffer* frame = owner_.control_->frameBuffer();
    if (!frame || cx <= 0 || cy <= 0) return;
    // The window shows the remote screen, as much of it as the frame holds.
    owner_.window_.Resize(std::min(cx, frame->frame().width()),
                          std::min(cy, frame->frame().height()));
  }
  void OnStatus(const std::string&) override {}
  void OnDialog(const std::string&) override {}

 private:
  HeadlessConsole& owner_;
};

HeadlessConsole::HeadlessConsole(HeadlessOptions options)
    : options_(std::move(options)),
      events_(options_.eventsStream),
      context_(std::make_unique<QObject>()),
      control_(std::make_unique<CRemCons>()) {}

HeadlessConsole::~HeadlessConsole() {
  if (script_) script_->Stop();
  window_.Attach(nullptr, nullptr);
  control_.reset();
}

void HeadlessConsole::Fail(const std::string& reason) {
  if (!failure_) failure_ = reason;
}

namespace {

// A property's value as messages may show it: the secrets only by their length.
std::string Shown(const std::string& name, const std::string& value) {
  for (const char* secret : {"login", "decryptKey", "encryptKey", "vmKey"}) {
    if (strcasecmp(name.c_str(), secret) == 0) return trace::Masked(value);
  }
  return value;
}

}  // namespace

bool HeadlessConsole::Prepare(std::string* reason) {
  for (const std::string& rule : options_.answers) {
    std::string error;
    if (!policy_.AddRule(rule, &error)) {
      *reason = "--answer " + error;
      return false;
    }
  }
  if (!options_.eventsPath.empty() && !events_.Open(options_.eventsPath, reason)) return false;
  return ApplyConsoleParams(*control_, options_.pageParams, options_.params, reason);
}

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

bool HeadlessConsole::SnapshotTo(const std::string& path, std::string* error) {
  error->clear();
  if (!window_.PaintPending()) return false;
  if (!SavePng(window_.surface(), path, error)) {
    if (error->empty()) *error = "cannot write " + path;
    return false;
  }
  return true;
}

int HeadlessConsole::Run(std::string* reason) {
  if (!Prepare(reason)) return kBadOptions;

  painter_ = std::make_unique<QtPainter>();
  RegisterMenuBarArtwork(*painter_);
  host_.SetPageLocation(options_.pageUrl);
  QtHost::Callbacks callbacks;
  callbacks.timer = [this](int id) { control_->OnTimer(id); };
  callbacks.invalidate = [this](const Rect* r, bool) { window_.Invalidate(r); };
  callbacks.messageBox = [this](const std::string& text, const std::string& caption,
                                uint32_t style) {
    auto [button, name] = policy_.Answer(caption, style);
    RC_TRACE("remcons: message box \"%s\": %s -> %s\n", caption.c_str(), text.c_str(),
             name.c_str());
    events_.MessageBox(caption, text, name);
    return button;
  };
  callbacks.clientList = [this](const ClientListRows* rows) { events_.ClientList(rows); };
  host_.SetCallbacks(callbacks);

  sink_ = std::make_unique<Sink>(*this);
  control_->Advise(&events_);
  control_->Advise(sink_.get());

  QEventLoop loop;
  exit_ = [&loop](int status) { loop.exit(status); };

  SessionEnvironment env;
  env.host = &host_;
  env.painter = painter_.get();
  env.chooser = &chooser_;
  env.leaderServer = options_.leaderServer;
  if (control_->OnCreate(env) != 0) {
    // The user has been told in a box and OnShutdown is on its way.
    FrameBuffer* frame = control_->frameBuffer();
    Fail("the console's picture could not be made" +
         (frame && !frame->failureText().empty() ? ": " + frame->failureText() : std::string()));
  } else {
    const Surface& frame = control_->frameBuffer()->frame();
    window_.Resize(frame.width(), frame.height());
    window_.Attach(control_.get(), control_->frameBuffer());
    // The headless window has the focus from the start.
    control_->OnSetFocus();

    if (options_.script) {
      ScriptRunner::Environment scriptEnv;
      scriptEnv.host = &host_;
      scriptEnv.control = control_.get();
      scriptEnv.events = &events_;
      scriptEnv.snapshot = [this](const std::string& path, std::string* error) {
        return SnapshotTo(path, error);
      };
      scriptEnv.failed = [this](const std::string& why) {
        host_.PostToUi([this, why] {
          Fail(why);
          control_->StopSession();
        });
      };
      script_ = std::make_unique<ScriptRunner>(std::move(scriptEnv), std::move(options_.script));
      script_->Start();
    }
    if (options_.seconds) {
      QTimer::singleShot(std::chrono::milliseconds(uint64_t{*options_.seconds} * 1000),
                         context_.get(), [this] {
                           RC_TRACE("remcons: time is up\n");
                           control_->StopSession();
                         });
    }
  }
  // Until Finish: it runs after the first OnShutdown (a control refused its window has raised
  // that already).
  const int status = loop.exec();
  if (status != kOk) Outcome(reason);
  exit_ = nullptr;
  return status;
}

void HeadlessConsole::Finish() {
  if (finished_) return;
  if (script_) script_->Stop();
  control_->OnDestroy();
  host_.StopTimer(kSessionTimer);
  // The session-closed notices posted at the end still reach the page.
  QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
  QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
  // The console thread has ended: the picture is free to paint.
  window_.PaintPending();
  if (!options_.snapshotPath.empty()) {
    std::string error;
    if (!SnapshotTo(options_.snapshotPath, &error)) Fail("snapshot: " + error);
  }
  finished_ = true;
  std::string reason;
  if (exit_) exit_(Outcome(&reason));
}

int HeadlessConsole::Outcome(std::string* reason) {
  if (failure_) {
    *reason = *failure_;
    return kFailed;
  }
  return SessionOutcome(*control_, reason);
}

int SessionOutcome(CRemCons& control, std::string* reason) {
  constexpr int kOk = HeadlessConsole::kOk;
  constexpr int kFailed = HeadlessConsole::kFailed;
  const RemConsProperties& p = control.Properties();
  const bool joining = p.muMode == 2;
  const std::string where = std::string(joining ? p.muServer : p.target) + ":" +
                            std::to_string(joining ? p.muPort : p.port);
  if (!control.EverConnected()) {
    switch (control.ConnectionState()) {
      case CNet::kHandshaking:
        *reason = "failed to connect to " + where + ": no start reply";
        break;
      case CNet::kClosedInHandshake:
        // Closed by the stop while waiting, or by the server.
        *reason = "failed to connect to " + where +
                  (control.EndReason() == CRemCons::SessionEnd::kStopped
                       ? ": no start reply"
                       : ": the server closed the connection");
        break;
      default:
        *reason = "failed to connect to " + where;
        break;
    }
    return kFailed;
  }
  if (control.EndReason() == CRemCons::SessionEnd::kConnectionLost) {
    *reason = "the connection to " + where + " was lost";
    return kFailed;
  }
  reason->clear();
  return kOk;
}

}  // namespace remcons
