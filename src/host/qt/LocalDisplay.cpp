// Qt before Xlib: Xlib's macros (None, Status, Bool, ...) would otherwise clash with Qt's names.
#include <QtGui/qguiapplication_platform.h>
#include <QGuiApplication>

#include "host/qt/LocalDisplay.h"
#include "platform/Trace.h"

#ifdef REMCONS_HAVE_XRANDR
#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>

#include <algorithm>
#include <cmath>
#include <vector>
#endif

namespace remcons {

#ifdef REMCONS_HAVE_XRANDR
namespace {

// X errors of our own requests, caught while a trap is set. Xlib's error handler is one for the
// process; the trap puts back whatever was there before.
int gTrappedError = 0;

int TrapError(Display*, XErrorEvent* event) {
  gTrappedError = event->error_code;
  return 0;
}

class ErrorTrap {
 public:
  explicit ErrorTrap(Display* display) : display_(display) {
    XSync(display_, False);
    gTrappedError = 0;
    previous_ = XSetErrorHandler(&TrapError);
  }
  ~ErrorTrap() {
    XSync(display_, False);
    XSetErrorHandler(previous_);
  }
  // The first error since the trap was set, after every request has been answered.
  int Error() {
    XSync(display_, False);
    return gTrappedError;
  }

 private:
  Display* display_;
  int (*previous_)(Display*, XErrorEvent*) = nullptr;
};

template <typename T, void (*Free)(T*)>
struct XFreer {
  void operator()(T* p) const {
    if (p) Free(p);
  }
};
using Resources =
    std::unique_ptr<XRRScreenResources, XFreer<XRRScreenResources, XRRFreeScreenResources>>;
using OutputInfo = std::unique_ptr<XRROutputInfo, XFreer<XRROutputInfo, XRRFreeOutputInfo>>;
using CrtcInfo = std::unique_ptr<XRRCrtcInfo, XFreer<XRRCrtcInfo, XRRFreeCrtcInfo>>;

int RefreshOf(const XRRModeInfo& m) {
  double lines = m.vTotal;
  if (m.modeFlags & RR_DoubleScan) lines *= 2;
  if (m.modeFlags & RR_Interlace) lines /= 2;
  if (m.hTotal == 0 || lines <= 0) return 0;
  return static_cast<int>(std::lround(static_cast<double>(m.dotClock) / (m.hTotal * lines)));
}

// The orientation of a CRTC's rotation: 0 upright, 1, 2, 3 for a quarter, half and three quarter
// turn.
int OrientationOf(Rotation rotation) {
  if (rotation & RR_Rotate_90) return 1;
  if (rotation & RR_Rotate_180) return 2;
  if (rotation & RR_Rotate_270) return 3;
  return 0;
}

bool Sideways(Rotation rotation) {
  return (rotation & (RR_Rotate_90 | RR_Rotate_270)) != 0;
}

}  // namespace

struct LocalDisplay::Impl {
  struct Mode {
    RRMode id;
    DisplayMode mode;
  };
  // What the desktop showed before the first switch.
  struct Saved {
    RRCrtc crtc = 0;
    RRMode mode = 0;
    int x = 0, y = 0;
    Rotation rotation = RR_Rotate_0;
    std::vector<RROutput> outputs;
    int width = 0, height = 0;  // the screen, in pixels and millimetres
    int mmWidth = 0, mmHeight = 0;
  };

  Display* display = nullptr;
  Window root = 0;
  int depthBits = 32;
  int mmWidth = 0, mmHeight = 0;  // the screen's size when the connection was opened
  int pxWidth = 0, pxHeight = 0;
  std::vector<Mode> modes;
  std::optional<Saved> saved;

  ~Impl() {
    if (display) XCloseDisplay(display);
  }

  Resources ReadResources() { return Resources(XRRGetScreenResourcesCurrent(display, root)); }

  // The output to switch: the primary one, else the first connected one that shows something.
  RROutput PickOutput(XRRScreenResources* res, OutputInfo* info) {
    auto usable = [&](RROutput output) {
      OutputInfo o(XRRGetOutputInfo(display, res, output));
      if (!o || o->connection != RR_Connected || !o->crtc) return false;
      *info = std::move(o);
      return true;
    };
    const RROutput primary = XRRGetOutputPrimary(display, root);
    if (primary && usable(primary)) return primary;
    for (int i = 0; i < res->noutput; ++i) {
      if (usable(res->outputs[i])) return res->outputs[i];
    }
    return 0;
  }

  void ReadModes() {
    modes.clear();
    Resources res = ReadResources();
    if (!res) return;
    OutputInfo output;
    if (!PickOutput(res.get(), &output)) return;
    CrtcInfo crtc(XRRGetCrtcInfo(display, res.get(), output->crtc));
    const int orientation = crtc ? OrientationOf(crtc->rotation) : 0;
    for (int i = 0; i < output->nmode; ++i) {
      for (int k = 0; k < res->nmode; ++k) {
        const XRRModeInfo& m = res->modes[k];
        if (m.id != output->modes[i]) continue;
        DisplayMode mode;
        mode.width = static_cast<int>(m.width);
        mode.height = static_cast<int>(m.height);
        mode.bitsPerPixel = depthBits;
        mode.refreshHz = RefreshOf(m);
        mode.orientation = orientation;
        modes.push_back({m.id, mode});
        break;
      }
    }
  }

  // The root window's size now (Xlib's own figures are those of the connection's start).
  void ScreenSize(int* width, int* height) {
    Window r;
    int x, y;
    unsigned int w = 0, h = 0, border, depth;
    XGetGeometry(display, root, &r, &x, &y, &w, &h, &border, &depth);
    *width = static_cast<int>(w);
    *height = static_cast<int>(h);
  }

  // Millimetres for a screen size, at the density the screen had at the start (96 dpi when it
  // reported none).
  void SetScreenSize(int width, int height) {
    const double mmPerPxX = pxWidth > 0 && mmWidth > 0 ? double(mmWidth) / pxWidth : 25.4 / 96;
    const double mmPerPxY = pxHeight > 0 && mmHeight > 0 ? double(mmHeight) / pxHeight : 25.4 / 96;
    XRRSetScreenSize(display, root, width, height, static_cast<int>(std::lround(width * mmPerPxX)),
                     static_cast<int>(std::lround(height * mmPerPxY)));
  }

  // Puts a mode on a CRTC; the screen grows first where the mode needs more room and shrinks
  // afterwards to what the CRTCs cover, since it must hold every CRTC at all times.
  int Apply(RRCrtc crtc, RRMode modeId, int modeWidth, int modeHeight, int x, int y,
            Rotation rotation, std::vector<RROutput> outputs) {
    ErrorTrap trap(display);
    int width = 0, height = 0;
    ScreenSize(&width, &height);
    const int needWidth = x + (Sideways(rotation) ? modeHeight : modeWidth);
    const int needHeight = y + (Sideways(rotation) ? modeWidth : modeHeight);
    const int growWidth = std::max(width, needWidth), growHeight = std::max(height, needHeight);
    if (growWidth != width || growHeight != height) SetScreenSize(growWidth, growHeight);
    if (trap.Error()) return kDispChangeFailed;

    Resources res = ReadResources();
    if (!res) return kDispChangeFailed;
    const Status status =
        XRRSetCrtcConfig(display, res.get(), crtc, CurrentTime, x, y, modeId, rotation,
                         outputs.data(), static_cast<int>(outputs.size()));
    if (status != RRSetConfigSuccess || trap.Error()) {
      if (growWidth != width || growHeight != height) SetScreenSize(width, height);
      return kDispChangeFailed;
    }

    // The screen as large as the CRTCs now showing.
    res = ReadResources();
    int coverWidth = 0, coverHeight = 0;
    for (int i = 0; res && i < res->ncrtc; ++i) {
      CrtcInfo info(XRRGetCrtcInfo(display, res.get(), res->crtcs[i]));
      if (!info || !info->mode) continue;
      coverWidth = std::max(coverWidth, info->x + static_cast<int>(info->width));
      coverHeight = std::max(coverHeight, info->y + static_cast<int>(info->height));
    }
    if (coverWidth > 0 && coverHeight > 0 &&
        (coverWidth != growWidth || coverHeight != growHeight)) {
      SetScreenSize(coverWidth, coverHeight);
    }
    return trap.Error() ? kDispChangeFailed : kDispChangeSuccessful;
  }

  int Change(const DisplayMode& wanted) {
    ReadModes();
    const Mode* chosen = nullptr;
    for (const Mode& m : modes) {
      if (m.mode.width == wanted.width && m.mode.height == wanted.height &&
          m.mode.refreshHz == wanted.refreshHz) {
        chosen = &m;
        break;
      }
    }
    if (!chosen) return kDispChangeBadMode;
    Resources res = ReadResources();
    if (!res) return kDispChangeFailed;
    OutputInfo output;
    if (!PickOutput(res.get(), &output)) return kDispChangeFailed;
    CrtcInfo crtc(XRRGetCrtcInfo(display, res.get(), output->crtc));
    if (!crtc) return kDispChangeFailed;
    if (!saved) {
      Saved s;
      s.crtc = output->crtc;
      s.mode = crtc->mode;
      s.x = crtc->x;
      s.y = crtc->y;
      s.rotation = crtc->rotation;
      s.outputs.assign(crtc->outputs, crtc->outputs + crtc->noutput);
      ScreenSize(&s.width, &s.height);
      saved = std::move(s);
    }
    std::vector<RROutput> outputs(crtc->outputs, crtc->outputs + crtc->noutput);
    return Apply(output->crtc, chosen->id, chosen->mode.width, chosen->mode.height, crtc->x,
                 crtc->y, crtc->rotation, std::move(outputs));
  }

  int Restore() {
    if (!saved) return kDispChangeSuccessful;
    const Saved s = *saved;
    saved.reset();
    Resources res = ReadResources();
    if (!res) return kDispChangeFailed;
    int modeWidth = 0, modeHeight = 0;
    for (int k = 0; k < res->nmode; ++k) {
      if (res->modes[k].id == s.mode) {
        modeWidth = static_cast<int>(res->modes[k].width);
        modeHeight = static_cast<int>(res->modes[k].height);
      }
    }
    int result = Apply(s.crtc, s.mode, modeWidth, modeHeight, s.x, s.y, s.rotation, s.outputs);
    // The desktop's own screen size, which may have been larger than its CRTCs.
    int width = 0, height = 0;
    ScreenSize(&width, &height);
    if (result == kDispChangeSuccessful && (width != s.width || height != s.height)) {
      ErrorTrap trap(display);
      SetScreenSize(s.width, s.height);
      if (trap.Error()) result = kDispChangeFailed;
    }
    return result;
  }
};

LocalDisplay::LocalDisplay(const std::string& displayName) {
  Display* display = XOpenDisplay(displayName.c_str());
  if (!display) {
    RC_TRACE("LocalDisplay: cannot open the display %s\n", displayName.c_str());
    return;
  }
  auto impl = std::make_unique<Impl>();
  impl->display = display;
  int eventBase = 0, errorBase = 0, major = 0, minor = 0;
  if (!XRRQueryExtension(display, &eventBase, &errorBase) ||
      !XRRQueryVersion(display, &major, &minor) || major < 1 || (major == 1 && minor < 2)) {
    RC_TRACE("LocalDisplay: %s has no XRandR 1.2\n", displayName.c_str());
    return;
  }
  const int screen = DefaultScreen(display);
  impl->root = RootWindow(display, screen);
  // Bits per pixel of the screen's depth: 24-bit colour is held in 32-bit pixels.
  const int depth = DefaultDepth(display, screen);
  impl->depthBits = depth == 24 ? 32 : depth;
  impl->pxWidth = DisplayWidth(display, screen);
  impl->pxHeight = DisplayHeight(display, screen);
  impl->mmWidth = DisplayWidthMM(display, screen);
  impl->mmHeight = DisplayHeightMM(display, screen);
  impl_ = std::move(impl);
}

bool LocalDisplay::CompiledWithXRandR() {
  return true;
}

bool LocalDisplay::EnumMode(int index, DisplayMode* mode) {
  std::lock_guard lock(mutex_);
  if (!impl_ || index < 0) return false;
  if (index == 0 || impl_->modes.empty()) impl_->ReadModes();
  if (static_cast<size_t>(index) >= impl_->modes.size()) return false;
  *mode = impl_->modes[static_cast<size_t>(index)].mode;
  return true;
}

int LocalDisplay::ChangeMode(const DisplayMode* mode) {
  std::lock_guard lock(mutex_);
  if (!impl_) return mode ? kDispChangeBadMode : kDispChangeSuccessful;
  const int result = mode ? impl_->Change(*mode) : impl_->Restore();
  if (mode) {
    RC_TRACE("LocalDisplay: %dx%d %dHz: %d\n", mode->width, mode->height, mode->refreshHz, result);
  } else {
    RC_TRACE("LocalDisplay: the desktop's mode restored: %d\n", result);
  }
  return result;
}

bool LocalDisplay::Changed() const {
  std::lock_guard lock(mutex_);
  return impl_ && impl_->saved.has_value();
}

std::optional<DisplayMode> LocalDisplay::CurrentMode() {
  std::lock_guard lock(mutex_);
  if (!impl_) return std::nullopt;
  Resources res = impl_->ReadResources();
  if (!res) return std::nullopt;
  OutputInfo output;
  if (!impl_->PickOutput(res.get(), &output)) return std::nullopt;
  CrtcInfo crtc(XRRGetCrtcInfo(impl_->display, res.get(), output->crtc));
  if (!crtc) return std::nullopt;
  for (int k = 0; k < res->nmode; ++k) {
    const XRRModeInfo& m = res->modes[k];
    if (m.id != crtc->mode) continue;
    DisplayMode mode;
    mode.width = static_cast<int>(m.width);
    mode.height = static_cast<int>(m.height);
    mode.bitsPerPixel = impl_->depthBits;
    mode.refreshHz = RefreshOf(m);
    mode.orientation = OrientationOf(crtc->rotation);
    return mode;
  }
  return std::nullopt;
}

std::unique_ptr<LocalDisplay> LocalDisplay::ForApplication() {
#if QT_CONFIG(xcb)
  if (qGuiApp) {
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    // The offscreen platform has the interface too, without a display.
    if (x11 && x11->display())
      return std::make_unique<LocalDisplay>(XDisplayString(x11->display()));
  }
#endif
  return std::make_unique<LocalDisplay>();
}

#else  // no XRandR: no modes

struct LocalDisplay::Impl {};

LocalDisplay::LocalDisplay(const std::string& displayName) {
  RC_TRACE("LocalDisplay: built without XRandR; %s keeps its mode\n", displayName.c_str());
}

bool LocalDisplay::CompiledWithXRandR() {
  return false;
}

bool LocalDisplay::EnumMode(int, DisplayMode*) {
  return false;
}

int LocalDisplay::ChangeMode(const DisplayMode* mode) {
  return mode ? kDispChangeBadMode : kDispChangeSuccessful;
}

bool LocalDisplay::Changed() const {
  return false;
}

std::optional<DisplayMode> LocalDisplay::CurrentMode() {
  return std::nullopt;
}

std::unique_ptr<LocalDisplay> LocalDisplay::ForApplication() {
  return std::make_unique<LocalDisplay>();
}

#endif

LocalDisplay::LocalDisplay() = default;

LocalDisplay::~LocalDisplay() {
  if (Changed()) ChangeMode(nullptr);
}

bool LocalDisplay::Available() const {
  std::lock_guard lock(mutex_);
  return impl_ != nullptr;
}

}  // namespace remcons
