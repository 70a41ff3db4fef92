// The local display's modes through XRandR: the modes of the primary output, a switch of its CRTC
// to one of them, and the way back to the mode the desktop had. Without XRandR at build time, or
// without an X11 display at run time (Wayland, the offscreen platform), it offers no modes, so the
// console's mode search finds none and the desktop keeps its mode.
#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/Host.h"

namespace remcons {

class LocalDisplay {
 public:
  // A display without modes.
  LocalDisplay();
  // Its own connection to the X display of that name (":1"); without modes when it cannot be
  // opened or has no XRandR 1.2.
  explicit LocalDisplay(const std::string& displayName);
  // The X display the application shows its windows on; without modes when Qt runs on another
  // platform.
  static std::unique_ptr<LocalDisplay> ForApplication();
  // Puts the desktop's mode back if it was changed.
  ~LocalDisplay();
  LocalDisplay(const LocalDisplay&) = delete;
  LocalDisplay& operator=(const LocalDisplay&) = delete;

  // True when this build can switch modes at all.
  static bool CompiledWithXRandR();
  // An X display with XRandR 1.2 or later and an output to switch.
  bool Available() const;

  // Mode index of the output's list (index 0 reads the list afresh); false past the last. Any
  // thread.
  bool EnumMode(int index, DisplayMode* mode);
  // Switches the output to the mode of that size and refresh rate; nullptr puts back the mode the
  // desktop had before the first switch (success when nothing was switched). Returns a
  // DisplayChangeResult. Any thread.
  int ChangeMode(const DisplayMode* mode);
  // The desktop's own mode is not showing.
  bool Changed() const;
  // What the output shows now (width, height, refresh), when there is an output.
  std::optional<DisplayMode> CurrentMode();

 private:
  struct Impl;
  mutable std::mutex mutex_;
  std::unique_ptr<Impl> impl_;
};

}  // namespace remcons
