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

WindowedConsole::WindowedConsole(HeadlessOptions options)
    : options_(std::move(options)),
      events_(options_.eventsStream),
      display_(LocalDisplay::ForApplication()),
      context_(std::make_unique<QObject>()),
      window_(std::make_unique<ConsoleWindow>(*display_)) {
  RemConsWidget& console = window_->console();
  chooser_ = std::make_unique<VmChooser>(&console, &console.host());
  console.SetTargetChooser(chooser_.get());
  console.SetLeaderServerOptions(options_.leaderServer);
}

WindowedConsole::~WindowedConsole() {
  if (script_) script_->Stop();
  window_.reset();
  // The desktop's own mode, whatever happened.
  display_->ChangeMode(nullptr);
}

void WindowedConsole::Fail(const std::string& reason) {
  if (!failure_) failure_ = reason;
}

bool WindowedConsole::Prepare(std::string* reason) {
  for (const std::string& rule : options_.answers) {
    std::string error;
    if (!policy_.AddRule(rule, &error)) {
      *reason = "--answer " + error;
      return false;
    }
  }
  if (!options_.eventsPath.empty() && !events_.Open(options_.eventsPath, reason)) return false;
  return ApplyConsoleParams(control(), options_.pageParams, options_.params, reason);
}

bool WindowedConsole::Snapshot(const std::string& path, std::string* error) {
  error->clear();
  RemConsWidget& console = window_->console();
  if (!console.FlushPaint()) return false;
  if (!SavePng(console.pixels(), path, error)) {
    if (error->empty()) *error = "cannot write " + path;
    return false;
  }
  return true;
}

int WindowedConsole::Run(std::string* reason) {
  if (!Prepare(reason)) return HeadlessConsole::kBadOptions;
  RemConsWidget& console = window_->console();
  console.host().SetPageLocation(options_.pageUrl);

  // With answers given (a scripted run) no box waits for a user: every box is answered.
  const bool answered = !options_.answers.empty();
  if (answered) {
    console.SetMessageBoxPolicy([this](const std::string&, const std::string& caption,
                                       uint32_t style) -> std::optional<int> {
      return policy_.Answer(caption, style).first;
    });
  }
  window_->SetShowDialogTexts(!answered);
  QObject::connect(&console, &RemConsWidget::MessageBoxAnswered, context_.get(),
                   [this](const QString& caption, const QString& text, int button) {
                     events_.MessageBox(caption.toStdString(), text.toStdString(),
                                        DialogPolicy::ButtonName(button));
                   });
  control().Advise(&events_);

  // The first OnShutdown ends the run, once the user has read a text the session ended with.
  QObject::connect(&console, &RemConsWidget::OnShutdown, context_.get(), [this] {
    if (finishing_) return;
    finishing_ = true;
    auto finish = [this] {
      QMetaObject::invokeMethod(
          context_.get(), [this] { Finish(); }, Qt::QueuedConnection);
    };
    if (QMessageBox* text = window_->dialogText()) {
      QObject::connect(text, &QObject::destroyed, context_.get(), finish);
    } else {
      finish();
    }
  });
  window_->SetCloseRequest([this] {
    if (finishing_) return;
    RC_TRACE("remcons: the window was closed\n");
    control().StopSession();
    finishing_ = true;
    QMetaObject::invokeMethod(
        context_.get(), [this] { Finish(); }, Qt::QueuedConnection);
  });

  // SIGINT and SIGTERM end the session as closing the window does; the display's mode goes
  // back at once. A second one ends the program as the signal does by default.
  SignalPipe interruptions({SIGINT, SIGTERM}, [this](int signal) {
    RC_TRACE("remcons: signal %d\n", signal);
    display_->ChangeMode(nullptr);
    window_->close();
  });

  QEventLoop loop;
  exit_ = [&loop](int status) { loop.exit(status); };

  window_->ShowAsConfigured();
  // The session starts now, so that everything queued for the first turn of the loop finds it.
  console.StartSession();
  if (console.SessionRefused()) {
    FrameBuffer* frame = control().frameBuffer();
    Fail("the console's picture could not be made" +
         (frame && !frame->failureText().empty() ? ": " + frame->failureText() : std::string()));
  } else {
    if (options_.script) {
      ScriptRunner::Environment env;
      env.host = &console.host();
      env.control = &control();
      env.events = &events_;
      env.snapshot = [this](const std::string& path, std::string* error) {
        return Snapshot(path, error);
      };
      env.failed = [this](const std::string& why) {
        window_->console().host().PostToUi([this, why] {
          Fail(why);
          control().StopSession();
        });
      };
      script_ = std::make_unique<ScriptRunner>(std::move(env), std::move(options_.script));
      script_->Start();
    }
    if (options_.seconds) {
      QTimer::singleShot(std::chrono::milliseconds(uint64_t{*options_.seconds} * 1000),
                         context_.get(), [this] {
                           RC_TRACE("remcons: time is up\n");
                           control().StopSession();
                         });
    }
  }
  const int status = loop.exec();
  exit_ = nullptr;
  if (status != HeadlessConsole::kOk) *reason = failure_ ? *failure_ : "the session failed";
  return status;
}

void WindowedConsole::Finish() {
  if (finished_) return;
  // A box still up may be the console thread's, which waits for its answer: the session cannot
  // end before it does. It is closed (its escape answer) and the end comes afterwards.
  if (QWidget* modal = QApplication::activeModalWidget()) {
    RC_TRACE("remcons: closing a box left open at the end\n");
    modal->close();
    QMetaObject::invokeMethod(
        context_.get(), [this] { Finish(); }, Qt::QueuedConnection);
    return;
  }
  finished_ = true;
  if (script_) script_->Stop();
  control().OnDestroy();
  // The session-closed notices posted at the end still reach the page.
  QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
  QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
  if (!options_.snapshotPath.empty()) {
    std::string error;
    if (!Snapshot(options_.snapshotPath, &error)) Fail("snapshot: " + error);
  }
  std::string reason;
  int status = HeadlessConsole::kFailed;
  if (failure_) {
    reason = *failure_;
  } else {
    status = SessionOutcome(control(), &reason);
  }
  window_->CloseNow();
  if (status != HeadlessConsole::kOk) Fail(reason);
  if (exit_) exit_(status);
}

}  // namespace remcons::app
