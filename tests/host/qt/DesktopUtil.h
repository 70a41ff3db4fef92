// What the desktop console's tests share: bounded waits that keep Qt's event loop turning, mouse
// and key events as the window system delivers them, message boxes answered from the event loop,
// and a RemConsWidget connected to an in-process simulator.
#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QKeyEvent>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QTimer>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "host/qt/DesktopHost.h"
#include "host/qt/HeadlessUtil.h"
#include "host/qt/QtImage.h"
#include "host/qt/RemConsWidget.h"
#include "host/qt/XServer.h"
#include "sim/ConsoleServer.h"

namespace remcons::testing {

inline void SendMouse(QWidget* w, QEvent::Type type, QPoint p, Qt::MouseButton button) {
  const bool held = type != QEvent::MouseButtonRelease && type != QEvent::MouseMove;
  QMouseEvent event(type, QPointF(p), QPointF(w->mapToGlobal(p)), button,
                    held ? Qt::MouseButtons(button) : Qt::NoButton, Qt::NoModifier);
  QApplication::sendEvent(w, &event);
}
inline void Move(QWidget* w, QPoint p) {
  SendMouse(w, QEvent::MouseMove, p, Qt::NoButton);
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
    for (const std::string& kind : kinds)
      if (r.kind == kind) out.push_back(r.bytes);
  }
  return out;
}

// What the next modal box showed, as AnswerNextBox saw it.
struct BoxAnswer {
  QString title, text;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  Qt::WindowModality modality = Qt::NonModal;
  bool onTop = false;
  QStringList buttons;
  QString defaultButton;
};

// Answers the next modal box from the event loop: records what it shows, calls onShown, and presses
// the button with the text press.
inline void AnswerNextBox(BoxAnswer* seen, const QString& press,
                          std::function<void()> onShown = {}) {
  auto poll = std::make_shared<std::function<void()>>();
  *poll = [seen, press, onShown, poll] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box) return QTimer::singleShot(10, *poll);
    *seen = BoxAnswer();
    seen->title = box->windowTitle();
    seen->text = box->text();
    seen->icon = box->icon();
    seen->modality = box->windowModality();
    seen->onTop = box->windowFlags().testFlag(Qt::WindowStaysOnTopHint);
    for (QAbstractButton* b : box->buttons()) seen->buttons << b->text().remove('&');
    if (box->defaultButton()) seen->defaultButton = box->defaultButton()->text().remove('&');
    if (onShown) onShown();
    for (QAbstractButton* b : box->buttons())
      if (b->text().remove('&') == press) return b->click();
  };
  QTimer::singleShot(10, *poll);
}

// A console widget on its own window against a simulator started for it: it takes the picture's
// size as a page would, and its boxes are answered OK and kept ("CAPTION: TEXT").
struct ConsoleRig {
  // Starts the simulator; the widget gets its properties and extra ones; not shown yet.
  explicit ConsoleRig(const PropertyBag& extra = {}) : server_(SimOptions()) {
    std::string error;
    if (!server_.Start(&error)) {
      ADD_FAILURE() << "the simulator did not start: " << error;
      return;
    }
    PropertyBag params = SimParams(server_.Port());
    params.insert(params.end(), extra.begin(), extra.end());
    for (const auto& [name, value] : params)
      EXPECT_EQ(widget_->control().PutByName(name, value), S_OK) << name << "=" << value;
    // No local drives: the drive menu lists its three fixed entries only.
    std::filesystem::create_directories(roots_ / "sys/class/block");
    std::filesystem::create_directories(roots_ / "dev");
    widget_->SetMediaRoots(MediaRoots{roots_ / "sys", roots_ / "dev"});
    widget_->SetMessageBoxPolicy(
        [this](const std::string& text, const std::string& caption, uint32_t) {
          boxes_.push_back(caption + ": " + text);
          return std::optional<int>(kIdOk);
        });
    widget_->SetHoverTimeMs(30);
    QObject::connect(widget_.get(), &RemConsWidget::OnResize, widget_.get(), [this](int, int) {
      ++resizes_;
      widget_->resize(widget_->PictureSize());
    });
    QObject::connect(widget_.get(), &RemConsWidget::OnShutdown, widget_.get(),
                     [this] { ++shutdowns_; });
    started_ = true;
  }
  ~ConsoleRig() {
    widget_.reset();
    server_.Stop();
  }
  // A rig shown, connected and showing the server's screen.
  static std::unique_ptr<ConsoleRig> Started(const PropertyBag& extra = {}) {
    auto rig = std::make_unique<ConsoleRig>(extra);
    EXPECT_TRUE(rig->Show());
    EXPECT_TRUE(rig->ShowsServerScreen());
    return rig;
  }

  // Shows the widget, makes its window active and focused, and waits for the first picture.
  bool Show() {
    widget_->resize(widget_->PictureSize());
    widget_->show();
    widget_->activateWindow();
    QApplication::setActiveWindow(widget_.get());
    widget_->setFocus(Qt::ActiveWindowFocusReason);
    return started_ && WaitUntil([&] { return widget_->SessionCreated() && resizes_ > 0; }) &&
           WaitUntil([&] { return widget_->hasFocus(); }, 5000);
  }
  // Waits until the widget follows the server's mode (as a page would), has painted everything
  // pending, and shows exactly the simulator's screen (and its own grab() does too). The server's
  // screen is read afresh each time: it moves on while the console catches up.
  bool ShowsServerScreen(int ms = 10000) {
    auto same = [&](const Surface& s, const std::vector<uint32_t>& screen, int width, int height) {
      if (s.width() != width || s.height() != height) return false;
      for (int i = 0; i < width * height; ++i)
        if (!SameColor(s.At(i % width, i / width), screen[size_t(i)])) return false;
      return true;
    };
    return WaitUntil(
        [&] {
          if (!server_.WaitUntilSent(0) || widget_->size() != widget_->PictureSize() ||
              !widget_->FlushPaint())
            return false;
          int width = 0, height = 0;
          const std::vector<uint32_t> screen = server_.ScreenPixels(&width, &height);
          return same(widget_->pixels(), screen, width, height) &&
                 same(SurfaceFromImage(widget_->grab().toImage()), screen, width, height);
        },
        ms);
  }

  RemConsWidget* widget() { return widget_.get(); }
  CRemCons& control() { return widget_->control(); }
  CMenuBar* bar() { return widget_->control().menuBar(); }
  sim::ConsoleServer& server() { return server_; }
  int width() const { return widget_->width(); }

  sim::ConsoleServer server_;
  ScratchDir roots_;
  std::unique_ptr<RemConsWidget> widget_ = std::make_unique<RemConsWidget>();
  std::vector<std::string> boxes_;
  int resizes_ = 0;
  int shutdowns_ = 0;
  bool started_ = false;
};

}  // namespace remcons::testing
