#include "host/qt/CaptureScript.h"

#include <iterator>

#include "session/RemCons.h"
#include "ui/MenuBarLayout.h"

namespace remcons {

bool RunCaptureScriptCommand(CRemCons& control, const ScriptCommand& command, std::string* error) {
  CMenuBar* bar = control.menuBar();
  if (!bar) return false;
  // What the bar offers now is what a script may do: the record button with clientCapture, the
  // replay button with a capture property, the replay controls while a file is replayed.
  static constexpr BarButton kButtons[] = {
      BarButton::kRecord,   BarButton::kRecord,    BarButton::kReplay,    BarButton::kReplay,
      BarButton::kReplay,   BarButton::kPlayPause, BarButton::kPlayPause, BarButton::kStop,
      BarButton::kFastPlay, BarButton::kStop};
  if (command.a < 0 || command.a >= static_cast<int64_t>(std::size(kButtons))) return false;
  const auto verb = static_cast<CaptureVerb>(command.a);
  const bool offered = verb == CaptureVerb::kCaptureStop
                           ? control.Capturing()
                           : layout::Present(kButtons[command.a], bar->Modes());
  if (!offered) {
    *error = std::string(kCaptureVerbNames[command.a]) + ": the console does not offer it now";
    return false;
  }
  switch (verb) {
    case CaptureVerb::kCaptureStart:
      control.CaptureToFile(command.text);
      break;
    case CaptureVerb::kCaptureStop:
      control.StopCapture();
      break;
    case CaptureVerb::kReplay:
      control.ReplayFile(command.text);
      break;
    case CaptureVerb::kBootBuffer:
    case CaptureVerb::kFaultBuffer:
      control.ReplayBuffer(verb == CaptureVerb::kBootBuffer ? BufferType::kBoot
                                                            : BufferType::kFault);
      break;
    case CaptureVerb::kPlay:
    case CaptureVerb::kPause:
      bar->SetPlaying(verb == CaptureVerb::kPlay);
      break;
    case CaptureVerb::kStopReplay:
      bar->StopPlaying();
      break;
    case CaptureVerb::kFast:
      bar->NextSpeed();
      break;
    case CaptureVerb::kLeaveReplay:
      control.LeaveReplay();
      break;
  }
  return true;
}

}  // namespace remcons
