// Scripted input for a headless console, one command a line ('#' starts a comment line):
//
//   sleep MS                       pause
//   wait-event NAME [MS]           until an event NAME (OnResize, OnStatus, OnDialog, OnShutdown,
//                                  MessageBox) has happened since the last wait for NAME ended;
//                                  without MS as long as the session lasts, with MS it is an error
//                                  when none comes in time
//   key VK down|up [scan=N] [ext]  a key event as the keyboard hook sees it; scan code and extended
//                                  flag come from the US keyboard's key of VK unless given
//   char C [scan=N]                a typed character: one character, or its code as a number
//   type TEXT                      keystrokes of a US keyboard for TEXT (Shift where needed; the
//                                  character follows a key the console lets through); C escapes
//                                  \n (Enter) \r \t \b \e \\ \xHH
//   move X Y                       the pointer to window position X, Y
//   press|release|dblclick left|right
//                                  a button; dblclick is the press, release, double-click,
//                                  release that the window system reports
//   command N                      the console's command dispatcher (DoCommand)
//   click-bar BUTTON               a left click on a button of the menu bar: pin, close, power,
//                                  media, keys, replay, record, control, client-list or lock
//   snapshot FILE.png              the window as it is painted now
//   stop                           ends the session
//   capture-start FILE, capture-stop, replay FILE, boot-buffer, fault-buffer, play, pause,
//   stop-replay, fast, leave-replay
//                                  capture and replay (CaptureScript.h)
//
// Numbers are decimal or 0x-hexadecimal. The script runs on a thread of its own and acts on the
// console on the window thread; it ends early when the session ends.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "input/KeyMap.h"
#include "input/Keyboard.h"
#include "input/Mouse.h"

namespace remcons {

class CRemCons;
class Host;
class EventJsonWriter;

struct ScriptCommand {
  enum Op {
    kSleep,
    kWaitEvent,
    kKey,
    kChar,
    kType,
    kMove,
    kPress,
    kRelease,
    kDblClick,
    kCommand,
    kClickBar,
    kSnapshot,
    kStop,
    kCapture,  // a command of CaptureScript.h, a its verb
  };
  Op op = kSleep;
  int line = 0;
  int64_t a = 0, b = 0;  // ms, vk, char code, x, y, command
  std::optional<uint32_t> timeoutMs;
  std::optional<uint32_t> scanCode;
  bool flag = false;  // key: up; key: ext given; button: right
  bool extended = false;
  std::string text;  // event name, text to type, file
};

// One line; nullopt with error empty for a blank or comment line, nullopt with error set for a
// line that is not a command.
std::optional<ScriptCommand> ParseScriptLine(std::string_view line, int lineNumber,
                                             std::string* error);
// TEXT of "type" with its escapes resolved.
bool UnescapeScriptText(std::string_view text, std::string* out, std::string* error);

// Where the script's lines come from.
class ScriptSource {
 public:
  virtual ~ScriptSource() = default;
  // The next line, or nullopt at the end or when stop is set.
  virtual std::optional<std::string> NextLine(const std::atomic<bool>& stop) = 0;
};
// All lines of a file, read at once; nullptr with a reason when it cannot be read.
std::unique_ptr<ScriptSource> ScriptFromFile(const std::string& path, std::string* error);
// Lines as they come on standard input (it is polled, so a stop ends the wait).
std::unique_ptr<ScriptSource> ScriptFromStdin();
std::unique_ptr<ScriptSource> ScriptFromLines(std::vector<std::string> lines);

class ScriptRunner {
 public:
  struct Environment {
    Host* host = nullptr;
    CRemCons* control = nullptr;
    EventJsonWriter* events = nullptr;
    // Writes the window's picture (window thread): false with error empty when the picture is
    // busy (try again), false with error set when it failed.
    std::function<bool(const std::string& path, std::string* error)> snapshot;
    // The script failed (script thread): the console ends with this reason.
    std::function<void(const std::string& reason)> failed;
  };

  ScriptRunner(Environment environment, std::unique_ptr<ScriptSource> source);
  // Stops and joins.
  ~ScriptRunner();
  ScriptRunner(const ScriptRunner&) = delete;
  ScriptRunner& operator=(const ScriptRunner&) = delete;

  void Start();
  // Ends the script where it is (its waits end at once) and joins its thread.
  void Stop();
  bool finished() const { return finished_.load(); }

 private:
  struct Call;

  void Main();
  bool Execute(const ScriptCommand& command, std::string* error);
  // Runs fn on the window thread and waits for it; false when the script was stopped first.
  bool RunOnUi(std::function<void()> fn);
  bool Key(uint32_t vk, uint32_t scanCode, bool extended, bool up, KeyResult* result);
  bool Type(const std::string& text);
  bool Button(MenuBarMouse::Event event);
  bool Snapshot(const std::string& path, std::string* error);

  Environment env_;
  std::unique_ptr<ScriptSource> source_;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> finished_{false};
  std::mutex callMutex_;
  std::shared_ptr<Call> call_;  // the call waiting for the window thread
  std::map<std::string, uint64_t> seen_;
  bool altHeld_[2] = {false, false};
  int x_ = 0, y_ = 0;
};

}  // namespace remcons
