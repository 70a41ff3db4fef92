// What the menu bar needs of the console that owns it. The session implements it; the bar sits
// below the session and reaches it only through here (and the window through the Host).
#pragma once

#include <cstddef>
#include <cstdint>

#include "net/ConsoleCommands.h"

namespace remcons {

// The virtual power buttons are commands 8 to 11.
inline constexpr int kFirstPowerCommand = 8;
// Console commands the bar asks for through DoCommand.
inline constexpr int kCommandCtrlAltDel = 7;
inline constexpr int kCommandRefresh = 18;
inline constexpr int kCommandResetDecoder = 19;

class MenuBarOwner {
 public:
  virtual ~MenuBarOwner() = default;

  // The console's command dispatcher.
  virtual void DoCommand(int command) = 0;
  // Ends the session; true once it has stopped.
  virtual bool StopSession() = 0;
  // The console connection: Write always sends (commands), WriteInput only while input is
  // enabled (keys). Both return the count written or a negative value.
  virtual int Write(const uint8_t* data, size_t size) = 0;
  virtual int WriteInput(const uint8_t* data, size_t size) = 0;
  virtual void RestartIdleCountdown() = 0;

  // --- Capture, replay and the multi-user session ---

  // Starts recording the stream to a capture file the user chooses; false when none was started.
  virtual bool StartCapture() = 0;
  virtual void StopCapture() = 0;
  // Opens the modeless Replay Menu; it calls CMenuBar::SetReplayMenuClosed when it goes.
  virtual void OpenReplayMenu() = 0;
  // Leaves the replay of a capture or buffer: back to the live stream, replay file closed.
  virtual void LeaveReplay() = 0;
  // Multi-user control: ask for it (a leader takes it at once) and give it back.
  virtual void RequestControl() = 0;
  virtual void RelinquishControl() = 0;
  // The session leader's Client List dialog.
  virtual void ShowClientList() = 0;
  // Whether the session leader accepts new joining consoles.
  virtual void SetAccepting(bool accepting) = 0;
};

}  // namespace remcons
