// RemConsWidget: the console as an embeddable Qt control. It owns a CRemCons, offers its 24 named
// properties as Qt properties and its four events as signals, starts the session when it is first
// shown, and shows the picture with the menu bar composed over it. While it has the focus it grabs
// the keyboard and forwards keys through the keyboard hook; the mouse goes to the menu bar first
// and then to the server. With fullScreen 1 a mode change of the server switches the local display
// (XRandR) to the closest mode.
//
// Threads: everything runs on the thread that made the widget (the application's), except the
// console thread inside the control, which reaches the window through the DesktopHost: its notices
// run here while it waits, its repaints are queued. Painting never waits for the video lock here:
// a paint that finds the lock taken is tried again a few milliseconds later, so the console thread
// can hold the lock while it waits for this thread.
#pragma once

#include <QPointer>
#include <QString>
#include <QTimer>
#include <QWidget>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "host/qt/ClientListDialog.h"
#include "host/qt/DesktopHost.h"
#include "host/qt/HeadlessWindow.h"
#include "host/qt/KeyGrab.h"
#include "host/qt/LocalDisplay.h"
#include "host/qt/QtPainter.h"
#include "host/qt/Typist.h"
#include "session/RemCons.h"

class QDateTime;

namespace remcons {

class RemConsWidget : public QWidget {
  Q_OBJECT
  // The control's properties by their names; reading and writing them is get_ and put_ of the
  // control (a refused value leaves the property as it was).
  Q_PROPERTY(QString target READ get_target WRITE put_target)
  Q_PROPERTY(ushort port READ get_port WRITE put_port)
  Q_PROPERTY(ushort height READ get_height WRITE put_height)
  Q_PROPERTY(ushort width READ get_width WRITE put_width)
  Q_PROPERTY(ushort fullScreen READ get_fullScreen WRITE put_fullScreen)
  Q_PROPERTY(QString vmKey READ get_vmKey WRITE put_vmKey)
  Q_PROPERTY(ushort vmPort READ get_vmPort WRITE put_vmPort)
  Q_PROPERTY(QString serverName READ get_serverName WRITE put_serverName)
  Q_PROPERTY(QString login READ get_login WRITE put_login)
  Q_PROPERTY(ushort encryption READ get_encryption WRITE put_encryption)
  Q_PROPERTY(QString decryptKey READ get_decryptKey WRITE put_decryptKey)
  Q_PROPERTY(QString encryptKey READ get_encryptKey WRITE put_encryptKey)
  Q_PROPERTY(uint keyIndex READ get_keyIndex WRITE put_keyIndex)
  Q_PROPERTY(uchar mouseMode READ get_mouseMode WRITE put_mouseMode)
  Q_PROPERTY(uint timeout READ get_timeout WRITE put_timeout)
  Q_PROPERTY(uint uniqueFeatures READ get_uniqueFeatures WRITE put_uniqueFeatures)
  Q_PROPERTY(uint muMode READ get_muMode WRITE put_muMode)
  Q_PROPERTY(QString muServer READ get_muServer WRITE put_muServer)
  Q_PROPERTY(ushort muPort READ get_muPort WRITE put_muPort)
  Q_PROPERTY(ushort kbdMode READ get_kbdMode WRITE put_kbdMode)
  Q_PROPERTY(uchar screenCapture READ get_screenCapture WRITE put_screenCapture)
  Q_PROPERTY(uchar clientCapture READ get_clientCapture WRITE put_clientCapture)
  Q_PROPERTY(uchar autoExport READ get_autoExport WRITE put_autoExport)
  Q_PROPERTY(ushort scrPort READ get_scrPort WRITE put_scrPort)

 public:
  // display: the local display whose modes full screen switches (not owned, outlives the widget);
  // null: the application's own X display, or none.
  explicit RemConsWidget(QWidget* parent = nullptr, LocalDisplay* display = nullptr);
  // Ends the session (waiting for its console thread) before the widget goes.
  ~RemConsWidget() override;

  // --- The properties ---
  QString get_target() const;
  bool put_target(const QString& value);
  ushort get_port() const;
  bool put_port(ushort value);
  ushort get_height() const;
  bool put_height(ushort value);
  ushort get_width() const;
  bool put_width(ushort value);
  ushort get_fullScreen() const;
  bool put_fullScreen(ushort value);
  QString get_vmKey() const;
  bool put_vmKey(const QString& value);
  ushort get_vmPort() const;
  bool put_vmPort(ushort value);
  QString get_serverName() const;
  bool put_serverName(const QString& value);
  QString get_login() const;
  bool put_login(const QString& value);
  ushort get_encryption() const;
  bool put_encryption(ushort value);
  QString get_decryptKey() const;
  bool put_decryptKey(const QString& value);
  QString get_encryptKey() const;
  bool put_encryptKey(const QString& value);
  uint get_keyIndex() const;
  bool put_keyIndex(uint value);
  uchar get_mouseMode() const;
  bool put_mouseMode(uchar value);
  uint get_timeout() const;
  bool put_timeout(uint value);
  uint get_uniqueFeatures() const;
  bool put_uniqueFeatures(uint value);
  uint get_muMode() const;
  bool put_muMode(uint value);
  QString get_muServer() const;
  bool put_muServer(const QString& value);
  ushort get_muPort() const;
  bool put_muPort(ushort value);
  ushort get_kbdMode() const;
  bool put_kbdMode(ushort value);
  uchar get_screenCapture() const;
  bool put_screenCapture(uchar value);
  uchar get_clientCapture() const;
  bool put_clientCapture(uchar value);
  uchar get_autoExport() const;
  bool put_autoExport(uchar value);
  ushort get_scrPort() const;
  bool put_scrPort(ushort value);

  // --- Embedding ---
  // The control itself (properties by name, session state).
  CRemCons& control() { return *control_; }
  DesktopHost& host() { return host_; }
  // Where the drive menu's image, CD image and folder entries ask what to serve (not owned);
  // before the widget is first shown.
  void SetTargetChooser(VmTargetChooser* chooser) { chooser_ = chooser; }
  // Where the drive menu looks for local drives; before the widget is first shown.
  void SetMediaRoots(MediaRoots roots) { mediaRoots_ = std::move(roots); }
  // What makes the frame's surfaces (plain memory ones when not set); before the widget is first
  // shown.
  void SetSurfaceFactory(FrameBuffer::SurfaceFactory factory) {
    surfaceFactory_ = std::move(factory);
  }
  // Answers message boxes before they are shown (scripts, tests): the button (kIdOk ...), or
  // nullopt to show the box to the user.
  using MessageBoxPolicy = std::function<std::optional<int>(
      const std::string& text, const std::string& caption, uint32_t style)>;
  void SetMessageBoxPolicy(MessageBoxPolicy policy) { boxPolicy_ = std::move(policy); }
  // A session leader's listening address and time-outs; before the widget is first shown.
  void SetLeaderServerOptions(MUServerOptions options) { leaderServer_ = std::move(options); }
  // The pointer's rest before a hover notice, in milliseconds (the system's default is 400).
  void SetHoverTimeMs(int ms) { hover_.setInterval(ms); }

  // Starts the session now rather than once the widget has shown (nothing when it has started).
  void StartSession();
  // The session was started (first show) / it could not be (its picture could not be made).
  bool SessionCreated() const { return created_; }
  bool SessionRefused() const { return refused_; }
  // The picture as this widget shows it: the frame with the menu bar composed over it.
  const Surface& pixels() const { return window_.surface(); }
  // Paints what is pending into pixels() now; false when the video lock was busy.
  bool FlushPaint() { return window_.PaintPending(); }
  // The size of the picture: the remote screen, as much of it as the frame holds.
  QSize PictureSize() const;
  QSize sizeHint() const override;
  // This widget's window holds the keyboard grab.
  bool KeyboardGrabbed() const { return grabbed_; }
  // The session leader's Client List dialog while it exists.
  ClientListDialog* clientListDialog() const { return clientList_.data(); }

  // --- The desktop's comforts (the remcons program's window turns the hotkeys on) ---
  // Ctrl+Alt+Shift+V pastes the clipboard, Ctrl+Alt+Shift+S saves a screenshot, and Ctrl and Alt
  // pressed together and let go release the keyboard grab, instead of reaching the server.
  void SetDesktopHotkeys(bool on) { hotkeysOn_ = on; }
  // Types text into the server as keystrokes of a US keyboard, paced so that its keyboard keeps
  // up; Escape cancels. Keys held are released first. A text with characters that no US key types
  // is refused whole, with a box that names them: false then.
  bool PasteText(const QString& text);
  void PasteClipboard();
  void CancelPaste();
  bool Pasting() const { return typist_ && typist_->Active(); }
  // What paces the paste (tests); before a paste starts.
  void SetPasteClock(Clock& clock, uint32_t paceMs);
  // Every key held on the server is released (HID mode tells it that none is down).
  void ReleaseAllKeys();
  // Lets go of the keyboard grab until the user clicks into the picture.
  void ReleaseKeyboardGrab();
  // The picture scaled smoothly to the widget, keeping its aspect; or at its own size.
  void SetScaleToWindow(bool on);
  bool ScaleToWindow() const { return scale_; }
  // Where the picture lies in the widget, and the picture's pixel under a point of the widget
  // (points beside the picture count as its nearest edge).
  QRect PictureRect() const;
  QPoint ToPicture(QPoint widgetPoint) const;
  // Saves the server's picture (the frame, without the menu bar) as PNG in folder, or in the
  // user's pictures folder when folder is empty, named by server and time. ScreenshotSaved or
  // ScreenshotFailed says how it went.
  void SaveScreenshot(const QString& folder = {});

 signals:
  // The control's events.
  void OnShutdown();
  void OnResize(int cx, int cy);
  void OnStatus(const QString& status);
  void OnDialog(const QString& status);
  // Said once when the keyboard cannot be grabbed where no window may grab it (Wayland): system
  // keys then stay with the desktop.
  void KeyboardNote(const QString& note);
  // A message box was answered (shown or by the policy): its caption, text and the button.
  void MessageBoxAnswered(const QString& caption, const QString& text, int button);
  // The keyboard grab came or went.
  void GrabChanged(bool grabbed);
  // A paste: characters typed so far of all, and its end (false: cancelled).
  void PasteProgress(int typed, int total);
  void PasteEnded(bool completed);
  void ScreenshotSaved(const QString& path);
  void ScreenshotFailed(const QString& reason);

 protected:
  bool event(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void moveEvent(QMoveEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void keyReleaseEvent(QKeyEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void leaveEvent(QEvent* event) override;
  // Tab belongs to the console, not to the focus chain.
  bool focusNextPrevChild(bool next) override;

 private:
  class Sink;

  void CreateSession();
  bool Running() const { return created_ && !refused_; }
  void Key(QKeyEvent* event);
  void Button(QMouseEvent* event, bool down, bool doubleClick);
  void Hover();
  bool Grab(bool grab);
  void Blocked(bool blocked);
  int Box(const std::string& text, const std::string& caption, uint32_t style);
  void ShowClientList(const ClientListRows* rows);
  void ResizePixels();
  void PumpPaste();
  bool TrySaveScreenshot(const QString& folder);
  // A key event that belongs to the desktop (a hotkey, or the release of a key a hotkey took):
  // true when the server is not to see it. releaseGrab: the grab goes after this event.
  bool DesktopKey(const KeyEvent& key, bool* releaseGrab);

  std::unique_ptr<LocalDisplay> ownDisplay_;
  DesktopHost host_;
  std::unique_ptr<QtPainter> painter_;
  HeadlessWindow window_;
  std::unique_ptr<Sink> sink_;
  KeyTranslator keys_;
  QTimer hover_;
  bool hoverArmed_ = false;
  bool pointerInside_ = false;
  QPoint lastPointer_;
  bool created_ = false;
  bool createQueued_ = false;
  bool refused_ = false;
  bool grabbed_ = false;
  bool noteGiven_ = false;
  bool grabReleased_ = false;  // the user let go of the grab: none until a click
  bool hotkeysOn_ = false;
  HotkeyWatch hotkeys_;
  // Keys held when a hotkey acted: the server had them released, their releases stay here.
  std::array<bool, 256> swallowRelease_{};
  bool scale_ = false;
  Clock* pasteClock_ = &SystemClock();
  uint32_t pacePause_ = Typist::kPaceMs;
  std::unique_ptr<Typist> typist_;
  QTimer pasteTimer_;
  int screenshotTries_ = 0;
  QWidget* watchedWindow_ = nullptr;
  VmTargetChooser* chooser_ = nullptr;
  std::optional<MediaRoots> mediaRoots_;
  FrameBuffer::SurfaceFactory surfaceFactory_;
  MessageBoxPolicy boxPolicy_;
  MUServerOptions leaderServer_;
  QPointer<ClientListDialog> clientList_;
  // Last: it goes first, while the host, painter and window it uses still exist.
  std::unique_ptr<CRemCons> control_;
};

// A screenshot's file name: the server's name (or address) with only letters, digits, '.', '_'
// and '-' kept, and the time: "NAME-YYYYMMDD-HHMMSS.png".
QString ScreenshotName(const QString& server, const QDateTime& when);

}  // namespace remcons
