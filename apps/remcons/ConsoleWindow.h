// The remcons program's desktop window: a top-level window that hosts the console control as a web
// page would. OnResize fits the window to the picture, OnStatus is its title, OnDialog's text is
// shown to the user, OnShutdown closes it. With fullScreen 1 the window covers the screen, whose
// mode the control switches to the server's. Scripts, events, answers, snapshots and the time
// limit work as in a headless run; SIGINT and SIGTERM end the session and put the display's mode
// back before the program exits.
//
// Above the picture sits a menu bar of the desktop's own (hidden in full screen): Console (save a
// screenshot, scale to the window, close), Keys (Ctrl-Alt-Del, paste the clipboard as keystrokes,
// release all keys, release the keyboard grab) and Help. Its hotkeys work over the picture too.
#pragma once

#include <QAction>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "host/qt/ConsoleRun.h"
#include "host/qt/EventJson.h"
#include "host/qt/LocalDisplay.h"
#include "host/qt/QtHost.h"
#include "host/qt/RemConsWidget.h"
#include "host/qt/SignalPipe.h"
#include "host/qt/VmChooser.h"

namespace remcons::app {

class ConsoleWindow : public QWidget {
 public:
  explicit ConsoleWindow(LocalDisplay& display);

  RemConsWidget& console() { return *console_; }
  // The window shows: covering the screen with fullScreen 1, else the picture's size.
  void ShowAsConfigured();
  // Called when the user closes the window; the window stays until the session has ended.
  void SetCloseRequest(std::function<void()> onClose) { onClose_ = std::move(onClose); }
  // OnDialog shows its text in a box of its own (not modal); without, only the events have it.
  void SetShowDialogTexts(bool show) { showDialogTexts_ = show; }
  // The box of the last OnDialog while it is open.
  QMessageBox* dialogText() const { return dialogText_.data(); }
  // Closes without asking.
  void CloseNow();
  // The picture scaled to the window (--scale fit), or at its own size (--scale 1).
  void SetScaleToWindow(bool on);
  // A line over the picture's lower edge for a few seconds (persistent: until the next one).
  void ShowNotice(const QString& text, bool persistent = false);
  QString notice() const { return notice_->isVisible() ? notice_->text() : QString(); }
  QMenuBar* menus() { return menus_; }
  // The Keys menu (its screenshot is the help's picture).
  QMenu* keysMenu() { return keysMenu_; }

 protected:
  void closeEvent(QCloseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void BuildMenus();
  void FitToPicture();
  void ShowTitle();
  void ShowDialogText(const QString& text);
  void PlaceNotice();

  RemConsWidget* console_;
  QMenuBar* menus_;
  QMenu* keysMenu_ = nullptr;
  QAction* scaleAction_ = nullptr;
  QLabel* notice_;
  QTimer noticeTimer_;
  QString status_;
  QString note_;
  QPointer<QMessageBox> dialogText_;
  bool showDialogTexts_ = true;
  bool closing_ = false;
  std::function<void()> onClose_;
};

// A console session in a desktop window, run as HeadlessConsole runs one off screen.
class WindowedConsole : public ConsoleRun {
 public:
  // Made on the application's thread, with a QApplication.
  explicit WindowedConsole(ConsoleRunOptions options);
  ~WindowedConsole() override;

  CRemCons& control() override { return window_->console().control(); }
  ConsoleWindow& window() { return *window_; }

 private:
  QtHost& host() override { return window_->console().host(); }
  void SetUp() override;
  bool CreateSession() override;
  bool PaintPending() override { return window_->console().FlushPaint(); }
  const Surface& Picture() const override { return window_->console().pixels(); }
  bool ReadyToFinish() override;
  void Finished(ExitStatus status) override;

  std::unique_ptr<LocalDisplay> display_;
  std::unique_ptr<ConsoleWindow> window_;
  // The drive menu's file dialogs and folder browser, over the window.
  std::unique_ptr<VmChooser> chooser_;
  // SIGINT and SIGTERM while the session runs.
  std::unique_ptr<SignalPipe> interruptions_;
};

}  // namespace remcons::app
