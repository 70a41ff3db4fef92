// What a video mode change told the session, for the display mode tests.
#pragma once

#include "video/VideoModes.h"

namespace remcons::testing {

class RecordingModeEvents : public VideoModeEvents {
 public:
  void NotifyResize() override { ++resizes; }
  void RedrawMenuBar(int) override {}
  void RepositionMenuBar(int width) override { repositioned = width; }
  int resizes = 0;
  int repositioned = 0;
};

}  // namespace remcons::testing
