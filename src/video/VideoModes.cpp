#include "video/VideoModes.h"

#include <cstdio>
#include <cstdlib>

#include "platform/Trace.h"
#include "video/FrameBuffer.h"

namespace remcons {
namespace {

constexpr int kModeTolerance = 16;
constexpr int kMaxRefreshHz = 60;
constexpr int kMenuBarHeight = 22;

bool TooLarge(int width, int height) {
  return width > kMaxFrameWidth || height > kMaxFrameHeight;
}

}  // namespace

VideoModes::VideoModes(Host& host, VideoModeEvents& events)
    : host_(host), events_(events), videoLock_(OpenNamedMutex(kVideoLockName)) {}

const char* VideoModes::DisplayChangeText(int result) {
  switch (result) {
    case kDispChangeSuccessful:
      return "The settings change was successful.";
    case kDispChangeRestart:
      return "The computer must be restarted in order for the graphics mode to work.";
    case kDispChangeFailed:
      return "The display driver failed the specified graphics mode.";
    case kDispChangeBadMode:
      return "The graphics mode is not supported.";
    case kDispChangeNotUpdated:
      return "Windows NT/2000/XP: Unable to write settings to the registry.";
    case kDispChangeBadFlags:
      return "An invalid set of flags was passed in.";
    case kDispChangeBadParam:
      return "An invalid parameter was passed in. This can include an invalid flag or "
             "combination of flags.";
    default:
      return nullptr;
  }
}

void VideoModes::SwitchVideoMode(int width, int height) {
  RC_TRACE("SwitchVideoMode: cx: %d cy: %d\n", width, height);
  const bool same = static_cast<uint32_t>(width) == remote_width() &&
                    static_cast<uint32_t>(height) == remote_height();
  const bool windowed = !full_screen();

  // The boxes are shown before the video lock is taken: the window thread paints while a modal
  // box is up, and each paint would otherwise wait the full 5000 ms for the lock.
  if (!same && windowed && TooLarge(width, height)) {
    oversizedWindowed_.Show(
        host_,
        "Remote video mode exceeds capabilities of Corvane. Please adjust the remote video "
        "settings to 1280 by 1024 or less.",
        "Warning", kMbOk);
  }
  std::optional<DisplayMode> found;
  if (!same && !windowed) found = FindBestLocalMode(width, height);

  std::optional<VideoLock> lock(std::in_place, *videoLock_);
  if (same) {
    events_.NotifyResize();
    return;
  }
  SetRemoteSize(static_cast<uint32_t>(width), static_cast<uint32_t>(height));

  if (windowed) {
    const int stripWidth = TooLarge(width, height) ? kMaxFrameWidth : width;
    events_.NotifyResize();
    events_.RedrawMenuBar(width);
    const Rect strip{0, 0, stripWidth, kMenuBarHeight};
    host_.Invalidate(&strip, false);
    return;
  }

  mode_ = found;
  if (!found) {
    host_.ChangeDisplayMode(nullptr);
    // The size changed all the same: width and height and the host must learn it.
    lock.reset();
    events_.NotifyResize();
    return;
  }
  char text[256];
  std::snprintf(text, sizeof text,
                "Remote video mode: (%dx%d), Best local match: (%dx%d) %dHz. Changing to this "
                "mode.\n",
                width, height, found->width, found->height, found->refreshHz);
  const int result = host_.ChangeDisplayMode(&*found);
  if (const char* resultText = DisplayChangeText(result)) {
    std::snprintf(text, sizeof text, "%s", resultText);
  }
  events_.RepositionMenuBar(static_cast<int>(remote_width()));
  RC_TRACE("%s", text);
  lock.reset();
  if (result != kDispChangeSuccessful) host_.MessageBox(text, "DEBUG", kMbOk);
  events_.NotifyResize();
}

std::optional<DisplayMode> VideoModes::FindBestLocalMode(int width, int height) {
  if (TooLarge(width, height)) {
    oversizedFullScreen_.Show(
        host_,
        "Remote video mode exceeds capabilities of Corvane. Limiting client to 1280 by 1024.",
        "Warning", kMbOk);
    width = kMaxFrameWidth;
    height = kMaxFrameHeight;
  }
  // First pass: the first landscape, upright mode within 16 pixels each way.
  auto firstNear = [&](int w, int h, DisplayMode* match) {
    DisplayMode m;
    for (int i = 0; host_.EnumDisplayMode(i, &m); ++i) {
      if (m.orientation != 0 || m.width <= m.height) continue;
      if (std::abs(m.width - w) <= kModeTolerance && std::abs(m.height - h) <= kModeTolerance) {
        *match = m;
        return true;
      }
    }
    return false;
  };
  DisplayMode match;
  if (!firstNear(width, height, &match) && !firstNear(800, 600, &match)) {
    char text[64];
    std::snprintf(text, sizeof text, "Unable to find a match for %dx%d.", 800, 600);
    host_.MessageBox(text, "Warning", kMbOk | kMbIconWarning);
    return std::nullopt;
  }

  // Second pass: the deepest colour at exactly that size, the highest index among equals.
  int best = -1;
  int bestDepth = -1;
  DisplayMode m;
  for (int i = 0; host_.EnumDisplayMode(i, &m); ++i) {
    if (m.orientation != 0 || m.width != match.width || m.height != match.height) continue;
    if (m.bitsPerPixel >= bestDepth) {
      bestDepth = m.bitsPerPixel;
      best = i;
    }
  }
  // Third pass: the highest refresh rate not above 60 Hz at that size and depth, the lowest
  // index among equals.
  int bestRate = -1;
  for (int i = 0; host_.EnumDisplayMode(i, &m); ++i) {
    if (m.orientation != 0 || m.width != match.width || m.height != match.height ||
        m.bitsPerPixel != bestDepth) {
      continue;
    }
    if (m.refreshHz <= kMaxRefreshHz && m.refreshHz > bestRate) {
      bestRate = m.refreshHz;
      best = i;
    }
  }
  DisplayMode chosen;
  if (best < 0 || !host_.EnumDisplayMode(best, &chosen)) return std::nullopt;
  return chosen;
}

}  // namespace remcons
