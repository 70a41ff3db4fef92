#include "ConsoleWindow.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QEventLoop>
#include <QKeySequence>
#include <QMetaObject>
#include <QScreen>
#include <QTimer>
#include <csignal>
#include <cstdio>

#include "host/qt/SignalPipe.h"
#include "platform/Trace.h"
#include "remcons/Version.h"
#include "ui/MenuBarOwner.h"

namespace remcons::app {

// --- The window ---

namespace {

constexpr int kNoticeMs = 5000;
// Room the window manager's frame and the desktop's panels take around a window that fits the
// screen.
constexpr int kFrameRoom = 64;

const char kShortcutsText[] =
    "Over the console every key goes to the server, except these:\n\n"
    "Ctrl+Alt (pressed together and let go)\trelease the keyboard grab; a click into the "
    "picture takes it again\n"
    "Ctrl+Alt+Shift+V\ttype the clipboard's text into the server\n"
    "Ctrl+Alt+Shift+S\tsave a screenshot in your pictures folder\n"
    "Esc (while pasting)\tstop the paste\n\n"
    "Keys held on the server are released when the window loses the focus or the grab.";

}  // namespace

ConsoleWindow::ConsoleWindow(LocalDisplay& display)
    : console_(new RemConsWidget(this, &display)),
      menus_(new QMenuBar(this)),
      notice_(new QLabel(this)) {
  setWindowTitle(QStringLiteral("remcons"));
  BuildMenus();
  notice_->setAttribute(Qt::WA_TransparentForMouseEvents);
  notice_->setStyleSheet(QStringLiteral(
      "QLabel { background: rgba(32, 32, 32, 220); color: white; padding: 4px 8px; }"));
  notice_->hide();
  noticeTimer_.setSingleShot(true);
  connect(&noticeTimer_, &QTimer::timeout, notice_, &QWidget::hide);

  connect(console_, &RemConsWidget::OnResize, this, [this](int, int) { FitToPicture(); });
  connect(console_, &RemConsWidget::OnStatus, this, [this](const QString& status) {
    status_ = status;
    ShowTitle();
  });
  connect(console_, &RemConsWidget::KeyboardNote, this, [this](const QString& note) {
    note_ = note;
    ShowTitle();
  });
  connect(console_, &RemConsWidget::GrabChanged, this, [this](bool) { ShowTitle(); });
  connect(console_, &RemConsWidget::OnDialog, this,
          [this](const QString& text) { ShowDialogText(text); });
  connect(console_, &RemConsWidget::PasteProgress, this, [this](int typed, int total) {
    ShowNotice(tr("Pasting: %1 of %2 characters (Esc stops)").arg(typed).arg(total), true);
  });
  connect(console_, &RemConsWidget::PasteEnded, this, [this](bool completed) {
    if (completed) {
      notice_->hide();
    } else {
      ShowNotice(tr("The paste was stopped; what was typed stays typed."));
    }
  });
  connect(console_, &RemConsWidget::ScreenshotSaved, this, [this](const QString& path) {
    std::fprintf(stderr, "remcons: screenshot saved to %s\n", path.toLocal8Bit().constData());
    ShowNotice(tr("Screenshot saved to %1").arg(path));
  });
  connect(console_, &RemConsWidget::ScreenshotFailed, this, [this](const QString& why) {
    std::fprintf(stderr, "remcons: no screenshot: %s\n", why.toLocal8Bit().constData());
    ShowNotice(tr("No screenshot: %1").arg(why));
  });
}

void ConsoleWindow::BuildMenus() {
  RemConsWidget* console = console_;
  QMenu* menu = menus_->addMenu(tr("&Console"));
  QAction* shot =
      menu->addAction(tr("Save &Screenshot"), console, [console] { console->SaveScreenshot(); });
  shot->setShortcut(QKeySequence(QStringLiteral("Ctrl+Alt+Shift+S")));
  scaleAction_ = menu->addAction(tr("Scale to &Window"));
  scaleAction_->setCheckable(true);
  connect(scaleAction_, &QAction::toggled, this, [this](bool on) { SetScaleToWindow(on); });
  menu->addSeparator();
  menu->addAction(tr("&Close"), this, [this] { close(); });

  keysMenu_ = menus_->addMenu(tr("&Keys"));
  keysMenu_->addAction(tr("Ctrl-Alt-Del"), console,
                       [console] { console->control().DoCommand(kCommandCtrlAltDel); });
  QAction* paste = keysMenu_->addAction(tr("&Paste as Keystrokes"), console,
                                        [console] { console->PasteClipboard(); });
  paste->setShortcut(QKeySequence(QStringLiteral("Ctrl+Alt+Shift+V")));
  keysMenu_->addAction(tr("&Release All Keys"), console, [console] { console->ReleaseAllKeys(); });
  keysMenu_->addSeparator();
  // Ctrl+Alt is no key sequence Qt knows: the menu shows it as text.
  keysMenu_->addAction(tr("Release Keyboard &Grab") + QStringLiteral("\tCtrl+Alt"), console,
                       [console] { console->ReleaseKeyboardGrab(); });

  QMenu* help = menus_->addMenu(tr("&Help"));
  help->addAction(tr("&Keys and Shortcuts"), this, [this] {
    QMessageBox::information(this, tr("Keys and Shortcuts"), tr(kShortcutsText));
  });
  help->addAction(tr("&About remcons"), this, [this] {
    QMessageBox::about(this, tr("About remcons"),
                       tr("remcons %1\nA remote console client for a server's management "
                          "processor.")
                           .arg(QStringLiteral(REMCONS_VERSION)));
  });
}

void ConsoleWindow::ShowAsConfigured() {
  if (console_->get_fullScreen()) {
    // The picture is all there is: the menus' hotkeys still work.
    menus_->hide();
    showFullScreen();
  } else {
    FitToPicture();
    show();
  }
  activateWindow();
  console_->setFocus(Qt::ActiveWindowFocusReason);
}

void ConsoleWindow::SetScaleToWindow(bool on) {
  if (scaleAction_->isChecked() != on) scaleAction_->setChecked(on);
  if (console_->ScaleToWindow() == on) return;
  console_->SetScaleToWindow(on);
  FitToPicture();
}

void ConsoleWindow::FitToPicture() {
  // Full screen the window covers the screen, whose mode follows the server's.
  if (isFullScreen()) return;
  QSize picture = console_->PictureSize();
  const int menuHeight = menus_->isHidden() ? 0 : menus_->sizeHint().height();
  if (console_->ScaleToWindow()) {
    // Scaled, a picture larger than the screen is shown smaller, whole.
    if (const QScreen* shown = screen()) {
      const QSize room =
          shown->availableGeometry().size() - QSize(kFrameRoom, kFrameRoom + menuHeight);
      if (picture.width() > room.width() || picture.height() > room.height()) {
        picture.scale(room, Qt::KeepAspectRatio);
      }
    }
  }
  resize(picture.width(), picture.height() + menuHeight);
}

void ConsoleWindow::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  const int menuHeight = menus_->isHidden() ? 0 : menus_->sizeHint().height();
  menus_->setGeometry(0, 0, width(), menuHeight);
  console_->setGeometry(0, menuHeight, width(), height() - menuHeight);
  PlaceNotice();
}

void ConsoleWindow::ShowNotice(const QString& text, bool persistent) {
  notice_->setText(text);
  notice_->adjustSize();
  PlaceNotice();
  notice_->show();
  notice_->raise();
  if (persistent) {
    noticeTimer_.stop();
  } else {
    noticeTimer_.start(kNoticeMs);
  }
}

void ConsoleWindow::PlaceNotice() {
  const QRect picture = console_->geometry();
  notice_->move(picture.left(), picture.bottom() + 1 - notice_->height());
}

void ConsoleWindow::ShowTitle() {
  QString title = status_.isEmpty() ? QStringLiteral("remcons") : status_;
  if (!note_.isEmpty()) title += QStringLiteral(" | ") + note_;
  if (console_->KeyboardGrabbed())
    title += QStringLiteral(" | ") + tr("Ctrl+Alt releases the keyboard");
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
  console.SetDesktopHotkeys(true);
  console.SetLeaderServerOptions(ConsoleRun::options().leaderServer);
}

WindowedConsole::~WindowedConsole() {
  StopScript();
  interruptions_.reset();
  window_.reset();
  // The desktop's own mode, whatever happened.
  display_->ChangeMode(nullptr);
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
