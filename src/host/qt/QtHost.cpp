#include "host/qt/QtHost.h"

#include <QCoreApplication>
#include <QEvent>
#include <QMetaObject>
#include <cctype>

#include "platform/Trace.h"

namespace remcons {
namespace {

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

}  // namespace

// --- DialogPolicy ---

bool DialogPolicy::AddRule(std::string_view rule, std::string* error) {
  // Captions may hold '=', button names never do.
  const size_t eq = rule.rfind('=');
  if (eq == std::string_view::npos || eq == 0) {
    if (error) *error = "expected CAPTION=BUTTON, got \"" + std::string(rule) + "\"";
    return false;
  }
  const std::string button = Lower(rule.substr(eq + 1));
  int id = 0;
  for (int candidate : {kIdOk, kIdCancel, kIdYes, kIdNo, kIdAccept, kIdDeny}) {
    if (button == Lower(ButtonName(candidate))) id = candidate;
  }
  if (id == 0) {
    if (error) {
      *error = "unknown button \"" + std::string(rule.substr(eq + 1)) +
               "\" (OK, Cancel, Yes, No, Accept or Deny)";
    }
    return false;
  }
  rules_[std::string(rule.substr(0, eq))] = id;
  return true;
}

int DialogPolicy::DefaultButton(uint32_t style) {
  const bool second = (style & kMbDefaultButton2) != 0;
  switch (style & kMbButtonMask) {
    case kMbOkCancel:
      return second ? kIdCancel : kIdOk;
    case kMbYesNo:
    case kMbYesNoCancel:
      return second ? kIdNo : kIdYes;
    case kMbAcceptDeny:
      return second ? kIdDeny : kIdAccept;
    default:
      return kIdOk;
  }
}

bool DialogPolicy::HasButton(uint32_t style, int button) {
  switch (style & kMbButtonMask) {
    case kMbOkCancel:
      return button == kIdOk || button == kIdCancel;
    case kMbYesNo:
      return button == kIdYes || button == kIdNo;
    case kMbYesNoCancel:
      return button == kIdYes || button == kIdNo || button == kIdCancel;
    case kMbAcceptDeny:
      return button == kIdAccept || button == kIdDeny;
    default:
      return button == kIdOk;
  }
}

const char* DialogPolicy::ButtonName(int button) {
  switch (button) {
    case kIdOk:
      return "OK";
    case kIdCancel:
      return "Cancel";
    case kIdYes:
      return "Yes";
    case kIdNo:
      return "No";
    case kIdAccept:
      return "Accept";
    case kIdDeny:
      return "Deny";
    default:
      return "?";
  }
}

std::pair<int, std::string> DialogPolicy::Answer(const std::string& caption, uint32_t style) const {
  int button = DefaultButton(style);
  auto it = rules_.find(caption);
  if (it != rules_.end() && HasButton(style, it->second)) button = it->second;
  return {button, ButtonName(button)};
}

// --- QtHost ---

QtHost::QtHost()
    : uiThread_(QThread::currentThread()),
      sendBridge_(std::make_unique<QObject>()),
      postBridge_(std::make_unique<QObject>()) {}

QtHost::~QtHost() {
  CloseSends();
  std::lock_guard lock(timersMutex_);
  timers_.clear();
}

bool QtHost::IsUiThread() {
  return QThread::currentThread() == uiThread_;
}

bool QtHost::SendToUi(std::function<void()> fn) {
  // A blocking queued call to the thread's own objects would wait for ever.
  if (IsUiThread()) {
    fn();
    return true;
  }
  if (sendsClosed_) return false;
  // invokeMethod reports success even when the call was dropped unrun, so the call itself says
  // whether it ran.
  std::optional<bool> ran;
  QMetaObject::invokeMethod(
      sendBridge_.get(),
      [&] {
        if (sendsClosed_) return;
        fn();
        ran = true;
      },
      Qt::BlockingQueuedConnection);
  return ran.value_or(false);
}

void QtHost::PostToUi(std::function<void()> fn) {
  QMetaObject::invokeMethod(postBridge_.get(), std::move(fn), Qt::QueuedConnection);
}

void QtHost::CloseSends() {
  sendsClosed_ = true;
  if (!IsUiThread()) return;
  // Dropping the queued calls releases the threads blocked on them; they see that nothing ran.
  QCoreApplication::removePostedEvents(sendBridge_.get(), QEvent::MetaCall);
}

void QtHost::Invalidate(const Rect* r, bool erase) {
  if (callbacks_.invalidate) callbacks_.invalidate(r, erase);
}

void QtHost::StartTimerHere(int id, uint32_t ms) {
  std::lock_guard lock(timersMutex_);
  auto& timer = timers_[id];
  if (!timer) {
    timer = std::make_unique<QTimer>();
    QObject::connect(timer.get(), &QTimer::timeout, [this, id] {
      if (callbacks_.timer) callbacks_.timer(id);
    });
  }
  timer->start(static_cast<int>(ms));
}

void QtHost::StopTimerHere(int id) {
  std::lock_guard lock(timersMutex_);
  auto it = timers_.find(id);
  if (it != timers_.end()) it->second->stop();
}

void QtHost::StartTimer(int id, uint32_t ms) {
  if (IsUiThread()) {
    StartTimerHere(id, ms);
  } else {
    PostToUi([this, id, ms] { StartTimerHere(id, ms); });
  }
}

void QtHost::StopTimer(int id) {
  if (IsUiThread()) {
    StopTimerHere(id);
  } else {
    PostToUi([this, id] { StopTimerHere(id); });
  }
}

bool QtHost::TimerRunning(int id) const {
  std::lock_guard lock(timersMutex_);
  auto it = timers_.find(id);
  return it != timers_.end() && it->second->isActive();
}

int QtHost::MessageBox(const std::string& text, const std::string& caption, uint32_t style) {
  int result = DialogPolicy::DefaultButton(style);
  auto show = [&] {
    if (callbacks_.messageBox) result = callbacks_.messageBox(text, caption, style);
  };
  if (!SendToUi(show)) {
    RC_TRACE("QtHost: message box \"%s\" not shown, the window is gone\n", caption.c_str());
  }
  return result;
}

// --- The Client List dialog ---

bool QtHost::OpenClientList(ClientListSource* source) {
  if (!callbacks_.clientList || !source) return false;
  clientList_ = source;
  ShowClientRows();
  return true;
}

void QtHost::ShowClientRows() {
  ClientListSource* source = clientList_.load();
  if (!source || !callbacks_.clientList) return;
  const ClientListRows rows = source->ClientRows();
  callbacks_.clientList(&rows);
}

void QtHost::RefreshClientList() {
  if (IsUiThread()) {
    ShowClientRows();
  } else {
    PostToUi([this] { ShowClientRows(); });
  }
}

void QtHost::CloseClientList() {
  // Forgotten at once, so that nothing calls the source once this returns; the window then closes
  // the dialog.
  if (!clientList_.exchange(nullptr)) return;
  SendToUi([this] {
    if (callbacks_.clientList) callbacks_.clientList(nullptr);
  });
}

void QtHost::ClientListDisconnect(int row) {
  if (ClientListSource* source = clientList_.load()) source->DisconnectRow(row);
}

bool QtHost::EnumDisplayMode(int, DisplayMode*) {
  return false;
}

int QtHost::ChangeDisplayMode(const DisplayMode* mode) {
  // Restoring the desktop's mode always works: it was never changed.
  return mode ? kDispChangeBadMode : kDispChangeSuccessful;
}

bool QtHost::GrabKeyboard(bool) {
  return false;
}

std::optional<std::string> QtHost::ChooseFile(const FileDialog& dialog) {
  MessageBox(dialog.save ? "No file dialog can be shown without a display: record with the "
                           "script command capture-start FILE."
                         : "No file dialog can be shown without a display: replay a file with "
                           "the script command replay FILE.",
             "Error", kMbOk | kMbIconError);
  return std::nullopt;
}

bool QtHost::ShowReplayMenu(std::function<void(int)>) {
  MessageBox(
      "No dialog can be shown without a display: use the script commands boot-buffer, "
      "fault-buffer or replay FILE.",
      "Error", kMbOk | kMbIconError);
  return false;
}

}  // namespace remcons
