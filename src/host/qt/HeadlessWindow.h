// The console's window without a screen: a surface the size of the picture that the control paints
// into exactly as it paints a window, so that a snapshot shows what a window would show. Repaint
// requests from any thread are gathered into one rectangle and painted on the window thread.
//
// Painting never waits for the video lock on the window thread: the console thread may hold it
// while it waits for the window thread (the resize notice of a mode change), so a paint that finds
// the lock taken tries again shortly instead.
#pragma once

#include <QObject>
#include <functional>
#include <memory>
#include <mutex>
#include <utility>

#include "platform/Surface.h"

namespace remcons {

class CRemCons;
class FrameBuffer;

class HeadlessWindow {
 public:
  // Made on the window thread.
  HeadlessWindow();
  ~HeadlessWindow();
  HeadlessWindow(const HeadlessWindow&) = delete;
  HeadlessWindow& operator=(const HeadlessWindow&) = delete;

  // The control that paints the window and the frame whose lock painting takes; before these are
  // set, repaints only gather.
  void Attach(CRemCons* control, FrameBuffer* frame);
  // Window size; the whole window is to be painted afresh.
  void Resize(int width, int height);
  int width() const { return surface_.width(); }
  int height() const { return surface_.height(); }

  // A repaint of r (nullptr: all of it). Any thread.
  void Invalidate(const Rect* r);
  // Paints what is pending now (window thread). False when the video lock was busy; the paint
  // then stays pending and is tried again.
  bool PaintPending();
  // The window's pixels (window thread).
  const Surface& surface() const { return surface_; }
  // Paints count so far.
  int paints() const { return paints_; }
  // Called (window thread) with each rectangle just painted into the pixels, so that a window on
  // screen can show it.
  void SetPaintedCallback(std::function<void(const Rect&)> painted) {
    painted_ = std::move(painted);
  }

 private:
  void SchedulePaint(int delayMs);

  std::unique_ptr<QObject> context_;
  CRemCons* control_ = nullptr;
  FrameBuffer* frame_ = nullptr;
  Surface surface_;
  std::mutex mutex_;
  Rect dirty_;
  bool scheduled_ = false;
  int paints_ = 0;
  std::function<void(const Rect&)> painted_;
};

}  // namespace remcons
