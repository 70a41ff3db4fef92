#include "host/qt/HeadlessWindow.h"

#include <QMetaObject>
#include <QTimer>
#include <algorithm>

#include "session/RemCons.h"
#include "video/FrameBuffer.h"

namespace remcons {
namespace {

constexpr int kRetryMs = 5;

Rect Union(const Rect& a, const Rect& b) {
  if (a.Empty()) return b;
  if (b.Empty()) return a;
  return {std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right),
          std::max(a.bottom, b.bottom)};
}

}  // namespace

HeadlessWindow::HeadlessWindow() : context_(std::make_unique<QObject>()) {}

HeadlessWindow::~HeadlessWindow() = default;

void HeadlessWindow::Attach(CRemCons* control, FrameBuffer* frame) {
  control_ = control;
  frame_ = frame;
  Invalidate(nullptr);
}

void HeadlessWindow::Resize(int width, int height) {
  {
    // Under the lock: repaint requests from the console thread measure the surface.
    std::lock_guard lock(mutex_);
    if (width == surface_.width() && height == surface_.height()) return;
    surface_ = Surface(width, height);
  }
  Invalidate(nullptr);
}

void HeadlessWindow::Invalidate(const Rect* r) {
  std::lock_guard lock(mutex_);
  const Rect whole{0, 0, surface_.width(), surface_.height()};
  dirty_ = Union(dirty_, r ? r->Intersect(whole) : whole);
  if (!scheduled_ && !dirty_.Empty()) {
    scheduled_ = true;
    SchedulePaint(0);
  }
}

void HeadlessWindow::SchedulePaint(int delayMs) {
  QObject* context = context_.get();
  auto paint = [this] {
    {
      std::lock_guard lock(mutex_);
      scheduled_ = false;
    }
    if (!PaintPending()) {
      std::lock_guard lock(mutex_);
      if (!scheduled_) {
        scheduled_ = true;
        SchedulePaint(kRetryMs);
      }
    }
  };
  if (delayMs == 0) {
    QMetaObject::invokeMethod(context, paint, Qt::QueuedConnection);
  } else {
    // From the window thread only (a retry of a paint).
    QTimer::singleShot(delayMs, context, paint);
  }
}

bool HeadlessWindow::PaintPending() {
  if (!control_ || !frame_) return true;
  NamedMutex& videoLock = frame_->videoLock();
  if (!videoLock.try_lock()) return false;
  // The frame buffer takes the lock again inside (it is recursive) and finds it free.
  Rect rect;
  {
    std::lock_guard lock(mutex_);
    rect = dirty_;
    dirty_ = Rect{};
  }
  if (!rect.Empty()) {
    control_->OnPaint(rect, surface_);
    ++paints_;
  }
  videoLock.unlock();
  if (!rect.Empty() && painted_) painted_(rect);
  return true;
}

}  // namespace remcons
