#include "host/qt/CaptureScript.h"

#include <iterator>

#include "platform/Trace.h"
#include "session/RemCons.h"

namespace remcons {
namespace {

enum Verb {
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

constexpr std::string_view kVerbs[] = {"capture-start", "capture-stop", "replay", "boot-buffer",
                                       "fault-buffer",  "play",         "pause",  "stop-replay",
                                       "fast",          "leave-replay"};

int VerbIndex(std::string_view verb) {
  for (size_t i = 0; i < std::size(kVerbs); ++i) {
    if (kVerbs[i] == verb) return static_cast<int>(i);
  }
  return -1;
}

}  // namespace

bool IsCaptureScriptVerb(std::string_view verb) {
  return VerbIndex(verb) >= 0;
}

bool ParseCaptureScriptLine(std::string_view verb, std::string_view rest, ScriptCommand* command,
                            std::string* error) {
  const int v = VerbIndex(verb);
  while (!rest.empty() && (rest.back() == ' ' || rest.back() == '\t')) rest.remove_suffix(1);
  const bool takesFile = v == kCaptureStart || v == kReplay;
  if (v < 0 || takesFile == rest.empty()) {
    *error = "usage: " + std::string(verb) + (takesFile ? " FILE" : "");
    return false;
  }
  command->op = ScriptCommand::kCapture;
  command->a = v;
  command->text = std::string(rest);
  return true;
}

void RunCaptureScriptCommand(CRemCons& control, const ScriptCommand& command) {
  CMenuBar* bar = control.menuBar();
  if (!bar) return;
  const bool replaying = bar->IsReplaying();
  switch (command.a) {
    case kCaptureStart:
      control.CaptureToFile(command.text);
      return;
    case kCaptureStop:
      control.StopCapture();
      return;
    case kReplay:
      control.ReplayFile(command.text);
      return;
    case kBootBuffer:
      control.ReplayBuffer(BufferType::kBoot);
      return;
    case kFaultBuffer:
      control.ReplayBuffer(BufferType::kFault);
      return;
    case kLeaveReplay:
      if (replaying) control.LeaveReplay();
      return;
    default:
      break;
  }
  // The controls exist only while a file is replayed.
  if (!replaying) {
    RC_TRACE("remcons: script: %s without a replay\n", std::string(kVerbs[command.a]).c_str());
    return;
  }
  if (command.a == kPlay || command.a == kPause) bar->SetPlaying(command.a == kPlay);
  if (command.a == kStopReplay) bar->StopPlaying();
  if (command.a == kFast) bar->NextSpeed();
}

}  // namespace remcons
