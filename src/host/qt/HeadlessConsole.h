// A console session without a screen, on Qt's event loop: the control with its properties, a
// headless window that it paints into, message boxes answered from a policy, events as JSON lines,
// scripted input, and a snapshot of the picture when the session ends. The remcons program runs
// one; tests run it in-process.
#pragma once

#include <memory>

#include "host/qt/ConsoleRun.h"
#include "host/qt/HeadlessWindow.h"
#include "host/qt/QtHost.h"
#include "host/qt/QtPainter.h"
#include "host/qt/VmChooserHeadless.h"
#include "session/RemCons.h"

namespace remcons {

using HeadlessOptions = ConsoleRunOptions;

class HeadlessConsole : public ConsoleRun {
 public:
  // Made on the application's thread, with a QGuiApplication.
  explicit HeadlessConsole(ConsoleRunOptions options);
  ~HeadlessConsole() override;

  // After Run: the picture as the window showed it last.
  const Surface& picture() const { return window_.surface(); }
  CRemCons& control() override { return *control_; }

 private:
  class Sink;

  QtHost& host() override { return host_; }
  void SetUp() override;
  bool CreateSession() override;
  bool PaintPending() override { return window_.PaintPending(); }
  const Surface& Picture() const override { return window_.surface(); }
  void EndSession() override;
  void SessionEnded() override;

  QtHost host_;
  // The drive menu's image and folder entries: no dialog, a box that says why.
  HeadlessVmChooser chooser_{&host_};
  std::unique_ptr<QtPainter> painter_;
  HeadlessWindow window_;
  std::unique_ptr<Sink> sink_;
  // Last so that it goes first: its destructor still uses the host, painter and window.
  std::unique_ptr<CRemCons> control_;
};

}  // namespace remcons
