#include "ConsoleWindow.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QEventLoop>
#include <QMetaObject>
#include <QTimer>
#include <csignal>

#include "host/qt/QtImage.h"
#include "host/qt/SignalPipe.h"
#include "platform/Trace.h"

namespace remcons::app {

// --- The window ---

ConsoleWindow::ConsoleWindow(LocalDisplay& display) : console_(new RemConsWidget(this, &display)) {
  setWindowTitle(QStringLiteral("remcons"));
  connect(console_, &RemConsWidget::OnResize, this, [this](int, int) { FitToPicture(); });
  connect(console_, &RemConsWidget::OnStatus, this, [this](const QString& status) {
    status_ = status;
    ShowTitle();
  });
  connect(console_, &RemConsWidget::KeyboardNote, this, [this](const QString& note) {
    note_ = note;
    ShowTitle();
  });
  connect(console_, &RemConsWidget::OnDialog, this,
          [this](const QString& text) { ShowDialogText(text); });
}

void ConsoleWindow::ShowAsConfigured() {
  if (console_->get_fullScreen()) {
    showFullScreen();
  } else {
    resize(console_->PictureSize());
    show();
  }
  activateWindow();
  console_->setFocus(Qt::ActiveWindowFocusReason);
}

void ConsoleWindow::FitToPicture() {
  // Full screen the window covers the screen, whose mode follows the server's.
  if (isFullScreen()) return;
  resize(console_->PictureSize());
}

void ConsoleWindow::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  console_->setGeometry(rect());
}

void ConsoleWindow::ShowTitle() {
  QString title = status_.isEmpty() ? QStringLiteral("remcons") : status_;
  if (!note_.isEmpty()) title += QStringLiteral(" | ") + note_;
  setWindowTitle(title);
}

void ConsoleWindow::ShowDialogText(const QString& text) {
  if (!showDialogTexts_) return;
  // Not modal: the control raised the event while its console thread waits, and the session
  // ending right after must not wait for the user.
  if (!dialogText_) {
    dialogText_ = new QMessageBox(QMessageBox::Information, QStringLiteral("remcons"), text,
                                  QMessageBox::Ok, this);
    dialogText_->setAttribute(Qt::WA_DeleteOnClose);
    dialogText_->setModal(false);
  } else {
    dialogText_->setText(text);
  }
  dialogText_->show();
}

void ConsoleWindow::closeEvent(QCloseEvent* event) {
  if (closing_ || !onClose_) {
    QWidget::closeEvent(event);
    return;
  }
  // The session ends first; the window goes once it has.
  event->ignore();
  onClose_();
}

void ConsoleWindow::CloseNow() {
  closing_ = true;
  if (dialogText_) dialogText_->close();
  close();
}

// --- The run ---

WindowedConsole::WindowedConsole(ConsoleRunOptions options)
    : ConsoleRun(std::move(options)),
      display_(LocalDisplay::ForApplication()),
      window_(std::make_unique<ConsoleWindow>(*display_)) {
  RemConsWidget& console = window_->console();
  chooser_ = std::make_unique<VmChooser>(&console, &console.host());
  console.SetTargetChooser(chooser_.get());
}

WindowedConsole::~WindowedConsole() {
  StopScript();
  interruptions_.reset();
  window_.reset();
  // The desktop's own mode, whatever happened.
  display_->ChangeMode(nullptr);
}

bool WindowedConsole::SnapshotTo(const std::string& path, std::string* error) {
  error->clear();
  RemConsWidget& console = window_->console();
  if (!console.FlushPaint()) return false;
  if (!SavePng(console.pixels(), path, error)) {
    if (error->empty()) *error = "cannot write " + path;
    return false;
  }
  return true;
}

void WindowedConsole::SetUp() {
  RemConsWidget& console = window_->console();
  // With answers given (a scripted run) no box waits for a user: every box is answered.
  const bool answered = !options().answers.empty();
  if (answered) {
    console.SetMessageBoxPolicy([this](const std::string&, const std::string& caption,
                                       uint32_t style) -> std::optional<int> {
      return policy().Answer(caption, style).first;
    });
  }
  window_->SetShowDialogTexts(!answered);
  QObject::connect(&console, &RemConsWidget::MessageBoxAnswered, context(),
                   [this](const QString& caption, const QString& text, int button) {
                     events().MessageBox(caption.toStdString(), text.toStdString(),
                                         DialogPolicy::ButtonName(button));
                   });
  control().Advise(&events());

  // The first OnShutdown ends the run, once the user has read a text the session ended with.
  QObject::connect(&console, &RemConsWidget::OnShutdown, context(), [this] {
    if (!EndOnce()) return;
    if (QMessageBox* text = window_->dialogText()) {
      QObject::connect(text, &QObject::destroyed, context(), [this] { FinishSoon(); });
    } else {
      FinishSoon();
    }
  });
  window_->SetCloseRequest([this] {
    if (!EndOnce()) return;
    RC_TRACE("remcons: the window was closed\n");
    control().StopSession();
    FinishSoon();
  });

  // SIGINT and SIGTERM end the session as closing the window does; the display's mode goes
  // back at once. A second one ends the program as the signal does by default.
  interruptions_ =
      std::make_unique<SignalPipe>(std::initializer_list<int>{SIGINT, SIGTERM}, [this](int signal) {
        RC_TRACE("remcons: signal %d\n", signal);
        display_->ChangeMode(nullptr);
        window_->close();
      });
  window_->ShowAsConfigured();
}

bool WindowedConsole::CreateSession() {
  // The session starts now, so that everything queued for the first turn of the loop finds it.
  RemConsWidget& console = window_->console();
  console.StartSession();
  return !console.SessionRefused();
}

bool WindowedConsole::ReadyToFinish() {
  // A box still up may be the console thread's, which waits for its answer: the session cannot
  // end before it does. It is closed (its escape answer) and the end comes afterwards.
  if (QWidget* modal = QApplication::activeModalWidget()) {
    RC_TRACE("remcons: closing a box left open at the end\n");
    modal->close();
    return false;
  }
  return true;
}

void WindowedConsole::Finished(ExitStatus) {
  interruptions_.reset();
  window_->CloseNow();
}

}  // namespace remcons::app
