#include "host/qt/HeadlessConsole.h"

#include <algorithm>

#include "host/qt/Artwork.h"
#include "platform/Trace.h"

namespace remcons {

// Follows the control's events for the window: the window takes the picture's size, and the first
// OnShutdown ends the run.
class HeadlessConsole::Sink : public IRemConsEv {
 public:
  explicit Sink(HeadlessConsole& owner) : owner_(owner) {}
  void OnShutdown() override {
    if (owner_.EndOnce()) owner_.FinishSoon();
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

HeadlessConsole::HeadlessConsole(ConsoleRunOptions options)
    : ConsoleRun(std::move(options)), control_(std::make_unique<CRemCons>()) {}

HeadlessConsole::~HeadlessConsole() {
  StopScript();
  window_.Attach(nullptr, nullptr);
  control_.reset();
}

void HeadlessConsole::SetUp() {
  painter_ = std::make_unique<QtPainter>();
  RegisterMenuBarArtwork(*painter_);
  QtHost::Callbacks callbacks;
  callbacks.timer = [this](int id) { control_->OnTimer(id); };
  callbacks.invalidate = [this](const Rect* r, bool) { window_.Invalidate(r); };
  callbacks.messageBox = [this](const std::string& text, const std::string& caption,
                                uint32_t style) {
    auto [button, name] = policy().Answer(caption, style);
    RC_TRACE("remcons: message box \"%s\": %s -> %s\n", caption.c_str(), text.c_str(),
             name.c_str());
    events().MessageBox(caption, text, name);
    return button;
  };
  callbacks.clientList = [this](const ClientListRows* rows) { events().ClientList(rows); };
  host_.SetCallbacks(callbacks);
  sink_ = std::make_unique<Sink>(*this);
  control_->Advise(&events());
  control_->Advise(sink_.get());
}

bool HeadlessConsole::CreateSession() {
  SessionEnvironment env;
  env.host = &host_;
  env.painter = painter_.get();
  env.chooser = &chooser_;
  env.leaderServer = options().leaderServer;
  if (control_->OnCreate(env) != 0) return false;
  const Surface& frame = control_->frameBuffer()->frame();
  window_.Resize(frame.width(), frame.height());
  window_.Attach(control_.get(), control_->frameBuffer());
  // The headless window has the focus from the start.
  control_->OnSetFocus();
  return true;
}

void HeadlessConsole::EndSession() {
  control_->OnDestroy();
  host_.StopTimer(kSessionTimer);
}

void HeadlessConsole::SessionEnded() {
  // The console thread has ended: the picture is free to paint.
  window_.PaintPending();
}

}  // namespace remcons
