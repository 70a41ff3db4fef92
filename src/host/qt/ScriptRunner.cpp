#include "host/qt/ScriptRunner.h"

#include <poll.h>
#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>

#include "host/qt/CaptureScript.h"
#include "host/qt/EventJson.h"
#include "host/qt/UsTyping.h"
#include "input/KeyMap.h"
#include "input/VirtualKeys.h"
#include "platform/Clock.h"
#include "platform/Hex.h"
#include "platform/Host.h"
#include "platform/Trace.h"
#include "session/RemCons.h"
#include "ui/MenuBarLayout.h"

namespace remcons {
namespace {

constexpr uint32_t kSnapshotRetryMs = 5;
constexpr int kSnapshotAttempts = 2000;

// The US keyboard's key for a virtual-key code.
std::optional<KeyCode> KeyOfVk(uint32_t vk) {
  for (uint32_t evdev = 0; evdev < 256; ++evdev) {
    std::optional<KeyCode> key = KeyFromEvdev(evdev);
    if (key && key->vk == vk) return key;
  }
  return std::nullopt;
}

}  // namespace

// --- The runner ---

struct ScriptRunner::Call {
  std::mutex mutex;
  std::condition_variable done;
  bool finished = false;
  bool cancelled = false;
};

ScriptRunner::ScriptRunner(Environment environment, std::unique_ptr<ScriptSource> source)
    : env_(std::move(environment)), source_(std::move(source)) {}

ScriptRunner::~ScriptRunner() {
  Stop();
}

void ScriptRunner::Start() {
  if (thread_.joinable()) return;
  thread_ = std::thread([this] {
    pthread_setname_np(pthread_self(), "remcons-script");
    Main();
    finished_ = true;
  });
}

void ScriptRunner::Stop() {
  stop_ = true;
  {
    std::lock_guard lock(callMutex_);
    if (call_) {
      std::lock_guard callLock(call_->mutex);
      call_->cancelled = true;
      call_->done.notify_all();
    }
  }
  if (env_.events) env_.events->Cancel();
  if (thread_.joinable()) thread_.join();
}

bool ScriptRunner::RunOnUi(std::function<void()> fn) {
  auto call = std::make_shared<Call>();
  {
    std::lock_guard lock(callMutex_);
    if (stop_) return false;
    call_ = call;
  }
  env_.host->PostToUi([call, fn = std::move(fn)] {
    {
      std::lock_guard lock(call->mutex);
      if (call->cancelled) return;
    }
    fn();
    std::lock_guard lock(call->mutex);
    call->finished = true;
    call->done.notify_all();
  });
  std::unique_lock lock(call->mutex);
  call->done.wait(lock, [&] { return call->finished || call->cancelled; });
  const bool ran = call->finished;
  lock.unlock();
  std::lock_guard callLock(callMutex_);
  call_.reset();
  return ran;
}

void ScriptRunner::Main() {
  int lineNumber = 0;
  while (!stop_) {
    std::optional<std::string> line = source_->NextLine(stop_);
    if (!line) return;
    ++lineNumber;
    std::string error;
    std::optional<ScriptCommand> command = ParseScriptLine(*line, lineNumber, &error);
    if (!command) {
      if (error.empty()) continue;
      if (env_.failed) env_.failed("script " + error);
      return;
    }
    if (!Execute(*command, &error)) {
      if (!error.empty() && !stop_ && env_.failed) {
        env_.failed("script line " + std::to_string(lineNumber) + ": " + error);
      }
      return;
    }
  }
}

bool ScriptRunner::Key(uint32_t vk, uint32_t scanCode, bool extended, bool up, KeyResult* result) {
  if (vk == kVkLeftAlt || vk == kVkRightAlt) altHeld_[vk - kVkLeftAlt] = !up;
  KeyEvent event;
  event.vkCode = vk;
  event.scanCode = scanCode;
  event.extended = extended;
  event.altDown = altHeld_[0] || altHeld_[1];
  event.keyUp = up;
  CRemCons* control = env_.control;
  auto out = std::make_shared<KeyResult>(KeyResult::kPassOn);
  if (!RunOnUi([control, event, out] { *out = control->OnKeyEvent(event); })) return false;
  if (result) *result = *out;
  return true;
}

bool ScriptRunner::Type(const std::string& text) {
  CRemCons* control = env_.control;
  for (char c : text) {
    std::vector<Keystroke> strokes = UsKeystrokes(c);
    if (strokes.empty()) {
      // No key of its own: the character alone, as an input method gives it.
      std::optional<uint8_t> ansi = AnsiFromUnicode(static_cast<unsigned char>(c));
      const uint32_t ch = ansi ? *ansi : static_cast<unsigned char>(c);
      if (!RunOnUi([control, ch] { control->OnChar(ch, 0); })) return false;
      continue;
    }
    for (Keystroke& stroke : strokes) {
      stroke.key.altDown = altHeld_[0] || altHeld_[1];
      if (!RunOnUi([control, stroke] { PlayKeystroke(*control, stroke); })) return false;
    }
  }
  return true;
}

bool ScriptRunner::Button(MenuBarMouse::Event event) {
  CRemCons* control = env_.control;
  const int x = x_, y = y_;
  return RunOnUi([control, event, x, y] { control->OnMouseButton(event, x, y); });
}

bool ScriptRunner::Snapshot(const std::string& path, std::string* error) {
  for (int attempt = 0; attempt < kSnapshotAttempts && !stop_; ++attempt) {
    auto result = std::make_shared<std::pair<bool, std::string>>(false, std::string());
    auto snapshot = env_.snapshot;
    if (!RunOnUi([snapshot, path, result] { result->first = snapshot(path, &result->second); })) {
      return false;
    }
    if (result->first) return true;
    if (!result->second.empty()) {
      *error = result->second;
      return false;
    }
    SystemClock().SleepMs(kSnapshotRetryMs, &stop_);
  }
  if (!stop_) *error = "the picture stayed busy";
  return false;
}

bool ScriptRunner::Execute(const ScriptCommand& c, std::string* error) {
  CRemCons* control = env_.control;
  using E = MenuBarMouse;
  switch (c.op) {
    case ScriptCommand::kSleep:
      return SystemClock().SleepMs(static_cast<uint32_t>(c.a), &stop_);
    case ScriptCommand::kWaitEvent: {
      const uint64_t seen = seen_[c.text];
      std::optional<uint64_t> now =
          env_.events->WaitBeyond(c.text, seen, c.timeoutMs.value_or(0xFFFFFFFFu));
      if (!now) {
        if (!stop_ && c.timeoutMs) {
          *error = "no " + c.text + " within " + std::to_string(*c.timeoutMs) + " ms";
        }
        return false;
      }
      seen_[c.text] = *now;
      return true;
    }
    case ScriptCommand::kKey: {
      std::optional<KeyCode> key = KeyOfVk(static_cast<uint32_t>(c.a));
      const uint32_t scan = c.scanCode ? *c.scanCode : key ? key->scanCode : 0;
      const bool extended = c.extended || (!c.scanCode && key && key->extended);
      return Key(static_cast<uint32_t>(c.a), scan, extended, c.flag, nullptr);
    }
    case ScriptCommand::kChar: {
      const auto ch = static_cast<uint32_t>(c.a);
      const uint32_t scan = c.scanCode.value_or(0);
      return RunOnUi([control, ch, scan] { control->OnChar(ch, scan); });
    }
    case ScriptCommand::kType:
      return Type(c.text);
    case ScriptCommand::kMove: {
      x_ = static_cast<int>(c.a);
      y_ = static_cast<int>(c.b);
      const int x = x_, y = y_;
      return RunOnUi([control, x, y] { control->OnMouseMove(x, y, false); });
    }
    case ScriptCommand::kPress:
      return Button(c.flag ? E::kRightDown : E::kLeftDown);
    case ScriptCommand::kRelease:
      return Button(c.flag ? E::kRightUp : E::kLeftUp);
    case ScriptCommand::kDblClick:
      return Button(c.flag ? E::kRightDown : E::kLeftDown) &&
             Button(c.flag ? E::kRightUp : E::kLeftUp) &&
             Button(c.flag ? E::kRightDoubleClick : E::kLeftDoubleClick) &&
             Button(c.flag ? E::kRightUp : E::kLeftUp);
    case ScriptCommand::kCommand: {
      const int command = static_cast<int>(c.a);
      return RunOnUi([control, command] { control->DoCommand(command); });
    }
    case ScriptCommand::kClickBar: {
      const auto button = static_cast<BarButton>(c.a);
      return RunOnUi([control, button] {
        CMenuBar* bar = control->menuBar();
        if (!bar) return;
        const Rect r = layout::Button(button, bar->width());
        const int x = (r.left + r.right) / 2, y = (r.top + r.bottom) / 2;
        control->OnMouseMove(x, y, false);
        control->OnMouseButton(MenuBarMouse::kLeftDown, x, y);
        control->OnMouseButton(MenuBarMouse::kLeftUp, x, y);
      });
    }
    case ScriptCommand::kSnapshot:
      return Snapshot(c.text, error);
    case ScriptCommand::kCapture: {
      auto why = std::make_shared<std::string>();
      if (!RunOnUi([control, c, why] { RunCaptureScriptCommand(*control, c, why.get()); })) {
        return false;
      }
      *error = *why;
      return why->empty();
    }
    case ScriptCommand::kStop:
      RunOnUi([control] { control->StopSession(); });
      // The session is ending; the script has nothing left to do.
      return false;
  }
  return false;
}

}  // namespace remcons
