// What the desktop console's tests share: bounded waits that keep Qt's event loop turning, mouse
// and key events as the window system delivers them, and a RemConsWidget connected to an
// in-process simulator.
#pragma once

#include <QApplication>
#include <QKeyEvent>
#include <QMessageBox>
#include <QMouseEvent>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "host/qt/DesktopHost.h"
#include "host/qt/HeadlessUtil.h"
#include "host/qt/ModeEvents.h"
#include "host/qt/RemConsWidget.h"
#include "host/qt/XServer.h"
#include "sim/ConsoleServer.h"

namespace remcons::testing {

inline void SendMouse(QWidget* w, QEvent::Type type, QPoint p, Qt::MouseButton button,
                      Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
  const Qt::MouseButtons held =
      type == QEvent::MouseButtonRelease || type == QEvent::MouseMove ? Qt::NoButton : button;
  QMouseEvent event(type, QPointF(p), QPointF(w->mapToGlobal(p)), button, held, modifiers);
  QApplication::sendEvent(w, &event);
}

inline void Move(QWidget* w, QPoint p, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
  SendMouse(w, QEvent::MouseMove, p, Qt::NoButton, modifiers);
}

inline void Click(QWidget* w, QPoint p, Qt::MouseButton button = Qt::LeftButton) {
  SendMouse(w, QEvent::MouseButtonPress, p, button);
  SendMouse(w, QEvent::MouseButtonRelease, p, button);
}

// Press, release, double click, release: a double click as the window system reports it.
inline void DoubleClick(QWidget* w, QPoint p, Qt::MouseButton button = Qt::LeftButton) {
  Click(w, p, button);
  SendMouse(w, QEvent::MouseButtonDblClick, p, button);
  SendMouse(w, QEvent::MouseButtonRelease, p, button);
}

// A key event with the native codes an X11 desktop gives: keycode is the X keycode (evdev + 8).
inline void SendKey(QWidget* w, bool press, int keycode, int qtKey, const QString& text = {},
                    Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
  QKeyEvent event(press ? QEvent::KeyPress : QEvent::KeyRelease, qtKey, modifiers,
                  static_cast<quint32>(keycode), 0, 0, text);
  QApplication::sendEvent(w, &event);
}

inline void Tap(QWidget* w, int keycode, int qtKey, const QString& text = {},
                Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
  SendKey(w, true, keycode, qtKey, text, modifiers);
  SendKey(w, false, keycode, qtKey, text, modifiers);
}

inline QPoint Center(const Rect& r) {
  return QPoint((r.left + r.right) / 2, (r.top + r.bottom) / 2);
}

// The bytes of the packets of these kinds the server logged, in order.
inline std::vector<std::vector<uint8_t>> PacketBytes(const sim::ConsoleServer& server,
                                                     std::initializer_list<std::string> kinds) {
  std::vector<std::vector<uint8_t>> out;
  for (const sim::PacketRecord& r : server.Packets()) {
    for (const std::string& kind : kinds) {
      if (r.kind == kind) out.push_back(r.bytes);
    }
  }
  return out;
}
inline std::vector<std::vector<uint8_t>> PacketBytes(const sim::ConsoleServer& server,
                                                     const std::string& kind) {
  return PacketBytes(server, {kind});
}

// What the next modal box showed, as AnswerNextBox saw it.
struct BoxAnswer {
  QString title, text, pressed;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  Qt::WindowModality modality = Qt::NonModal;
  bool onTop = false;
  QStringList buttons;
  QString defaultButton;
};

// Answers the next modal box from the event loop: records what it shows, calls onShown, and presses
// the button with the text press.
void AnswerNextBox(BoxAnswer* seen, const QString& press, std::function<void()> onShown = {});

// Answers the host's message boxes with OK and keeps "CAPTION: TEXT" of each.
void RecordBoxes(QtHost& host, std::vector<std::string>* boxes);

// The console's video modes on a desktop host over a display, with what they told the session
// and the boxes they showed.
struct ModeRig {
  explicit ModeRig(LocalDisplay& display) : host(display), modes(host, events) {
    RecordBoxes(host, &boxes);
  }
  DesktopHost host;
  std::vector<std::string> boxes;
  RecordingModeEvents events;
  VideoModes modes;
};

// The names of the events in a JSON lines file, in order.
inline std::vector<std::string> EventNamesIn(const std::string& path) {
  return EventNames(ReadJsonLines(path));
}

// Starts a program with the test's X display, its output in dir's out.txt and err.txt.
pid_t StartOnTestDisplay(const std::vector<std::string>& argv, const ScratchDir& dir);

// A console widget on its own window against a simulator started for it.
class ConsoleRig {
 public:
  struct Box {
    std::string text, caption;
    uint32_t style;
  };

  // Starts the simulator; the widget gets its properties and extra ones; not shown yet.
  explicit ConsoleRig(const PropertyBag& extra = {},
                      sim::ConsoleServerOptions options = SimOptions());
  ~ConsoleRig();

  bool started() const { return started_; }
  // Shows the widget, makes its window active and focused, and waits for the first picture.
  bool Show();
  // Waits until the widget shows exactly the simulator's screen (and the widget's own grab()
  // does too).
  bool ShowsServerScreen(int ms = 10000);
  // The widget follows the server's mode (as a page would) and has painted everything pending.
  bool Settle(int ms = 5000);

  RemConsWidget* widget() { return widget_.get(); }
  CRemCons& control() { return widget_->control(); }
  CMenuBar* bar() { return widget_->control().menuBar(); }
  sim::ConsoleServer& server() { return *server_; }
  std::vector<Box> boxes() const { return boxes_; }
  int resizes() const { return resizes_; }
  int shutdowns() const { return shutdowns_; }
  int width() const { return widget_->width(); }

 private:
  std::unique_ptr<sim::ConsoleServer> server_;
  ScratchDir roots_;
  std::unique_ptr<RemConsWidget> widget_;
  std::vector<Box> boxes_;
  int resizes_ = 0;
  int shutdowns_ = 0;
  bool started_ = false;
};

// Where screenshots the tests take stay for a person to look at: REMCONS_SCREENSHOT_DIR, by
// default /tmp/remcons-screenshots (made when missing).
std::string ScreenshotDir();

// The widget's grab() as 32-bit pixels.
Surface Grabbed(QWidget* widget);

}  // namespace remcons::testing
