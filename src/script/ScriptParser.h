// The scripts of a headless console: where their lines come from and what each line says. One
// command a line ('#' starts a comment line):
//
//   sleep MS                       pause
//   wait-event NAME [MS]           until an event NAME (OnResize, OnStatus, OnDialog, OnShutdown,
//                                  MessageBox, ClientList, Mount, Unmount) has happened since the
//                                  last wait for NAME ended;
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
//   capture-start FILE             records to FILE (no dialog), as the record button does
//   capture-stop                   ends the recording
//   replay FILE                    replays FILE (no dialog), as the Replay Menu's "Replay file"
//                                  does
//   boot-buffer | fault-buffer     fetches and replays the BOOT or FAULT buffer
//   play | pause                   the replay's play and pause
//   stop-replay                    the replay's stop control: back to the start, stopped
//   fast                           the replay's next speed (1, 2, 4, 8 times, then 1 again)
//   leave-replay                   back to the live console
//
// Numbers are decimal or 0x-hexadecimal. Nothing here needs a window: the runner (host/qt) acts
// on the console.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace remcons {

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
    kCapture,  // capture and replay, a its CaptureVerb
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

// The capture and replay commands, in ScriptCommand::a of a kCapture command, and their names.
enum class CaptureVerb {
  kCaptureStart,
  kCaptureStop,
  kReplay,
  kBootBuffer,
  kFaultBuffer,
  kPlay,
  kPause,
  kStopReplay,
  kFast,
  kLeaveReplay,
};
inline constexpr std::string_view kCaptureVerbNames[] = {
    "capture-start", "capture-stop", "replay",      "boot-buffer", "fault-buffer",
    "play",          "pause",        "stop-replay", "fast",        "leave-replay"};

}  // namespace remcons
