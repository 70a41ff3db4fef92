// Everything the video stream reaches outside the video module, as one interface that the session
// implements: its status texts and notices to the window, message boxes, the menu bar, the console
// connection and the multi-user links. The decoder runs and is tested without any of them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "video/VideoModes.h"

namespace remcons {

class VideoEvents : public VideoModeEvents {
 public:
  // The session's status text (it keeps at most 255 characters). Texts from the stream are the
  // bytes as received; texts of the string table are UTF-8.
  virtual void SetStatusText(std::string_view text) = 0;
  // The status-changed notice (OnStatus), sent and waited for.
  virtual void NotifyStatusChanged() = 0;
  // The dialog-text notice (OnDialog with the status text), sent and waited for.
  virtual void NotifyDialog() = 0;
  // The session-closed notice (OnShutdown), sent and waited for.
  virtual void NotifySessionClosed() = 0;
  // A message box owned by the console's window.
  virtual void ShowMessage(const std::string& text, const std::string& caption, uint32_t style) = 0;
  // The second status text (text channel 5).
  virtual void SetStatusText2(std::string_view text) = 0;
  // The menu bar's power indicator.
  virtual void SetPowerOn() = 0;
  virtual void SetPowerOff() = 0;
  // True while a capture or a buffer is being replayed: no refresh requests then.
  virtual bool Replaying() = 0;
  // Writes to the console connection (the refresh request); the count written or a negative
  // value.
  virtual int Write(const uint8_t* data, int length) = 0;
  // The key change of both cipher directions of the console connection.
  virtual void ChangeKeys() = 0;
  // Text channel 0x80 on a session leader: the management processor's answer to a join request.
  virtual void OnJoinAnswer(std::string_view text) = 0;
  // Text channel 0x81 on a multi-user client: whether its keyboard and mouse reach the server.
  virtual void SetInputEnabled(bool enabled) = 0;
};

}  // namespace remcons
