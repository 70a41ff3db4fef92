#include "host/qt/CaptureScript.h"

#include <iterator>

#include "session/RemCons.h"
#include "ui/MenuBarLayout.h"

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

bool RunCaptureScriptCommand(CRemCons& control, const ScriptCommand& command, std::string* error) {
  CMenuBar* bar = control.menuBar();
  if (!bar) return false;
  // What the bar offers now is what a script may do: the record button with clientCapture, the
  // replay button with a capture property, the replay controls while a file is replayed.
  static constexpr BarButton kButtons[] = {
      BarButton::kRecord,   BarButton::kRecord,    BarButton::kReplay,    BarButton::kReplay,
      BarButton::kReplay,   BarButton::kPlayPause, BarButton::kPlayPause, BarButton::kStop,
      BarButton::kFastPlay, BarButton::kStop};
  const bool offered = command.a == kCaptureStop
                           ? control.Capturing()
                           : layout::Present(kButtons[command.a], bar->Modes());
  if (!offered) {
    *error = std::string(kVerbs[command.a]) + ": the console does not offer it now";
    return false;
  }
  switch (command.a) {
    case kCaptureStart:
      control.CaptureToFile(command.text);
      break;
    case kCaptureStop:
      control.StopCapture();
      break;
    case kReplay:
      control.ReplayFile(command.text);
      break;
    case kBootBuffer:
    case kFaultBuffer:
      control.ReplayBuffer(command.a == kBootBuffer ? BufferType::kBoot : BufferType::kFault);
      break;
    case kPlay:
    case kPause:
      bar->SetPlaying(command.a == kPlay);
      break;
    case kStopReplay:
      bar->StopPlaying();
      break;
    case kFast:
      bar->NextSpeed();
      break;
    case kLeaveReplay:
      control.LeaveReplay();
      break;
    default:
      return false;
  }
  return true;
}

}  // namespace remcons
