// The remote screen's size and the local display mode: a video mode change from the stream
// records the new size and asks the window to resize (windowed), or switches the local display to
// the closest mode it offers (full screen).
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>

#include "platform/BoxGate.h"
#include "platform/Host.h"
#include "platform/NamedMutex.h"

namespace remcons {

// What a mode change asks of the session around the video module.
class VideoModeEvents {
 public:
  virtual ~VideoModeEvents() = default;
  // The size-changed notice to the window (sent, waited for): OnResize with the remote size.
  virtual void NotifyResize() = 0;
  // The menu bar redrawn for a picture of this width (windowed).
  virtual void RedrawMenuBar(int width) = 0;
  // The menu bar moved for a screen of this width (full screen).
  virtual void RepositionMenuBar(int width) = 0;
};

class VideoModes {
 public:
  VideoModes(Host& host, VideoModeEvents& events);

  // Called by the decoder on the console thread when the stream sets a mode.
  void SwitchVideoMode(int width, int height);
  // The local display mode closest to width x height, or none (after telling the user).
  std::optional<DisplayMode> FindBestLocalMode(int width, int height);
  // Back to the mode the desktop had.
  void RestoreLocalMode() { host_.ChangeDisplayMode(nullptr); }

  // The remote screen size: the width and height properties, overwritten by every mode change.
  uint32_t remote_width() const { return remoteWidth_.load(std::memory_order_relaxed); }
  uint32_t remote_height() const { return remoteHeight_.load(std::memory_order_relaxed); }
  void SetRemoteSize(uint32_t width, uint32_t height) {
    remoteWidth_ = width;
    remoteHeight_ = height;
  }
  bool full_screen() const { return fullScreen_.load(std::memory_order_relaxed); }
  void SetFullScreen(bool on) { fullScreen_ = on; }
  // The mode chosen by the last full-screen switch.
  std::optional<DisplayMode> mode() const { return mode_; }

  // The text for a display change result.
  static const char* DisplayChangeText(int result);

 private:
  Host& host_;
  VideoModeEvents& events_;
  std::shared_ptr<NamedMutex> videoLock_;
  std::atomic<uint32_t> remoteWidth_{1280};
  std::atomic<uint32_t> remoteHeight_{1024};
  std::atomic<bool> fullScreen_{false};
  std::optional<DisplayMode> mode_;
  // A server switching between oversized modes would otherwise raise a box at every switch.
  BoxGate oversizedWindowed_{"Oversized remote video mode"};
  BoxGate oversizedFullScreen_{"Oversized remote video mode in full screen"};
};

}  // namespace remcons
