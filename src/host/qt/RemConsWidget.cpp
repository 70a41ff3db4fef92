#include "host/qt/RemConsWidget.h"

#include <QFocusEvent>
#include <QKeyEvent>
#include <QMetaObject>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QRegion>
#include <algorithm>

#include "host/qt/Artwork.h"
#include "host/qt/ConsoleCursor.h"
#include "host/qt/DesktopDialogs.h"
#include "host/qt/QtImage.h"
#include "platform/Trace.h"

namespace remcons {

// --- Properties: each is the control's get_ and put_ ---

#define REMCONS_TEXT_PROPERTY(name)                           \
  QString RemConsWidget::get_##name() const {                 \
    BSTR value;                                               \
    control_->get_##name(&value);                             \
    return QString::fromStdString(value);                     \
  }                                                           \
  bool RemConsWidget::put_##name(const QString& value) {      \
    return control_->put_##name(value.toStdString()) == S_OK; \
  }
#define REMCONS_NUMBER_PROPERTY(name, QtType, Stored)                \
  QtType RemConsWidget::get_##name() const {                         \
    Stored value = 0;                                                \
    control_->get_##name(&value);                                    \
    return static_cast<QtType>(value);                               \
  }                                                                  \
  bool RemConsWidget::put_##name(QtType value) {                     \
    return control_->put_##name(static_cast<Stored>(value)) == S_OK; \
  }

REMCONS_TEXT_PROPERTY(target)
REMCONS_NUMBER_PROPERTY(port, ushort, uint16_t)
REMCONS_NUMBER_PROPERTY(height, ushort, uint16_t)
REMCONS_NUMBER_PROPERTY(width, ushort, uint16_t)
REMCONS_NUMBER_PROPERTY(fullScreen, ushort, uint16_t)
REMCONS_TEXT_PROPERTY(vmKey)
REMCONS_NUMBER_PROPERTY(vmPort, ushort, uint16_t)
REMCONS_TEXT_PROPERTY(serverName)
REMCONS_TEXT_PROPERTY(login)
REMCONS_NUMBER_PROPERTY(encryption, ushort, uint16_t)
REMCONS_TEXT_PROPERTY(decryptKey)
REMCONS_TEXT_PROPERTY(encryptKey)
REMCONS_NUMBER_PROPERTY(keyIndex, uint, uint32_t)
REMCONS_NUMBER_PROPERTY(mouseMode, uchar, uint8_t)
REMCONS_NUMBER_PROPERTY(timeout, uint, uint32_t)
REMCONS_NUMBER_PROPERTY(uniqueFeatures, uint, uint32_t)
REMCONS_NUMBER_PROPERTY(muMode, uint, uint32_t)
REMCONS_TEXT_PROPERTY(muServer)
REMCONS_NUMBER_PROPERTY(muPort, ushort, uint16_t)
REMCONS_NUMBER_PROPERTY(kbdMode, ushort, uint16_t)
REMCONS_NUMBER_PROPERTY(screenCapture, uchar, uint8_t)
REMCONS_NUMBER_PROPERTY(clientCapture, uchar, uint8_t)
REMCONS_NUMBER_PROPERTY(autoExport, uchar, uint8_t)
REMCONS_NUMBER_PROPERTY(scrPort, ushort, uint16_t)

#undef REMCONS_TEXT_PROPERTY
#undef REMCONS_NUMBER_PROPERTY

// --- Events ---

// The control's events as the widget's signals (window thread).
class RemConsWidget::Sink : public IRemConsEv {
 public:
  explicit Sink(RemConsWidget& owner) : owner_(owner) {}
  void OnShutdown() override {
    // The session has ended: the desktop's display mode returns. The stop restores it too, but
    // only once the console thread has ended within its wait; when the bar's close button caught
    // the thread busy, the thread's own closing notice is the last chance.
    LocalDisplay& display = owner_.host_.display();
    if (display.Changed()) display.ChangeMode(nullptr);
    emit owner_.OnShutdown();
  }
  void OnResize(int32_t cx, int32_t cy) override {
    owner_.updateGeometry();
    emit owner_.OnResize(cx, cy);
  }
  void OnStatus(const std::string& status) override {
    emit owner_.OnStatus(QString::fromStdString(status));
  }
  void OnDialog(const std::string& status) override {
    emit owner_.OnDialog(QString::fromStdString(status));
  }

 private:
  RemConsWidget& owner_;
};

namespace {

// The system's default time the pointer rests before a hover notice.
constexpr int kHoverMs = 400;

QRect ToQRect(const Rect& r) {
  return QRect(r.left, r.top, r.Width(), r.Height());
}

}  // namespace

RemConsWidget::RemConsWidget(QWidget* parent, LocalDisplay* display)
    : QWidget(parent),
      ownDisplay_(display ? nullptr : LocalDisplay::ForApplication()),
      host_(display ? *display : *ownDisplay_),
      sink_(std::make_unique<Sink>(*this)),
      control_(std::make_unique<CRemCons>()) {
  setFocusPolicy(Qt::StrongFocus);
  setMouseTracking(true);
  // Keys arrive as keys, never composed by an input method.
  setAttribute(Qt::WA_InputMethodEnabled, false);
  setAttribute(Qt::WA_OpaquePaintEvent);
  hover_.setSingleShot(true);
  hover_.setInterval(kHoverMs);
  connect(&hover_, &QTimer::timeout, this, [this] { Hover(); });
  window_.SetPaintedCallback([this](const Rect& r) { update(ToQRect(r)); });
  control_->Advise(sink_.get());
}

RemConsWidget::~RemConsWidget() {
  if (watchedWindow_) watchedWindow_->removeEventFilter(this);
  window_.Attach(nullptr, nullptr);
  if (created_) control_->OnDestroy();
  control_.reset();
}

// --- The session ---

void RemConsWidget::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  // Modal dialogs block the top-level window: the keyboard grab must go before they show.
  if (QWidget* top = window(); top != this && top != watchedWindow_) {
    if (watchedWindow_) watchedWindow_->removeEventFilter(this);
    watchedWindow_ = top;
    top->installEventFilter(this);
  }
  if (!created_ && !createQueued_) {
    createQueued_ = true;
    // After the show has finished: creation may show a message box.
    QMetaObject::invokeMethod(
        this, [this] { StartSession(); }, Qt::QueuedConnection);
  }
}

void RemConsWidget::StartSession() {
  if (!created_) CreateSession();
}

void RemConsWidget::CreateSession() {
  created_ = true;
  painter_ = std::make_unique<QtPainter>();
  RegisterMenuBarArtwork(*painter_);

  QtHost::Callbacks callbacks;
  callbacks.timer = [this](int id) { control_->OnTimer(id); };
  callbacks.invalidate = [this](const Rect* r, bool) { window_.Invalidate(r); };
  callbacks.messageBox = [this](const std::string& text, const std::string& caption,
                                uint32_t style) { return Box(text, caption, style); };
  callbacks.clientList = [this](const ClientListRows* rows) { ShowClientList(rows); };
  host_.SetCallbacks(std::move(callbacks));
  DesktopHost::WindowCalls calls;
  calls.dialogParent = this;
  calls.setFocus = [this] { setFocus(Qt::OtherFocusReason); };
  calls.grabKeyboard = [this](bool grab) { return Grab(grab); };
  calls.setCursor = [this] {
    if (cursor().shape() != Qt::BitmapCursor) setCursor(ConsoleCursor());
  };
  calls.trackHover = [this] {
    hoverArmed_ = true;
    hover_.start();
  };
  host_.SetWindowCalls(std::move(calls));

  SessionEnvironment environment;
  environment.host = &host_;
  environment.painter = painter_.get();
  environment.chooser = chooser_;
  environment.mediaRoots = mediaRoots_;
  environment.surfaceFactory = surfaceFactory_;
  environment.leaderServer = leaderServer_;
  if (control_->OnCreate(environment) != 0) {
    // The user has been told, and OnShutdown raised.
    refused_ = true;
    return;
  }
  ResizePixels();
  window_.Attach(control_.get(), control_->frameBuffer());
  updateGeometry();
  // Focus that came before the session: the keyboard follows it now.
  if (hasFocus() && isActiveWindow()) control_->OnSetFocus();
}

QSize RemConsWidget::PictureSize() const {
  auto [width, height] = control_->RemoteScreenSize();
  if (FrameBuffer* frame = control_->frameBuffer(); frame && frame->created()) {
    width = std::min(width, frame->frame().width());
    height = std::min(height, frame->frame().height());
  } else {
    width = std::min(width, kMaxFrameWidth);
    height = std::min(height, kMaxFrameHeight);
  }
  return QSize(std::max(width, 1), std::max(height, 1));
}

QSize RemConsWidget::sizeHint() const {
  return PictureSize();
}

void RemConsWidget::ResizePixels() {
  FrameBuffer* frame = control_->frameBuffer();
  if (!frame || !frame->created()) return;
  window_.Resize(std::min(width(), frame->frame().width()),
                 std::min(height(), frame->frame().height()));
}

void RemConsWidget::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  if (Running()) {
    ResizePixels();
    control_->OnWindowPosChanged();
  }
}

void RemConsWidget::moveEvent(QMoveEvent* event) {
  QWidget::moveEvent(event);
  if (Running()) control_->OnWindowPosChanged();
}

void RemConsWidget::paintEvent(QPaintEvent* event) {
  QPainter painter(this);
  const Surface& pixels = window_.surface();
  const QRect picture(0, 0, pixels.width(), pixels.height());
  // Beyond the picture the window is black.
  const QRegion outside = event->region().subtracted(QRegion(picture));
  for (const QRect& r : outside) painter.fillRect(r, Qt::black);
  if (!picture.isEmpty()) painter.drawImage(QPoint(0, 0), ConstImageOf(pixels));
}

// --- Message boxes ---

int RemConsWidget::Box(const std::string& text, const std::string& caption, uint32_t style) {
  int button = 0;
  if (boxPolicy_) {
    if (std::optional<int> answer = boxPolicy_(text, caption, style)) button = *answer;
  }
  if (button == 0) {
    // No key may stay captured while the user answers.
    const bool regrab = grabbed_;
    Grab(false);
    button = ShowMessageBox(this, text, caption, style);
    // Where the box never took the focus (no window manager), none comes back to take the grab.
    if (regrab && Running() && hasFocus() && isActiveWindow()) Grab(true);
  }
  emit MessageBoxAnswered(QString::fromStdString(caption), QString::fromStdString(text), button);
  return button;
}

void RemConsWidget::ShowClientList(const ClientListRows* rows) {
  if (!rows) {
    if (clientList_) clientList_->hide();
    return;
  }
  if (!clientList_) {
    clientList_ = new ClientListDialog(this, [this](int row) { host_.ClientListDisconnect(row); });
    connect(clientList_, &QDialog::finished, this, [this] { host_.ClientListClosed(); });
  }
  clientList_->ShowRows(*rows);
  if (!clientList_->isVisible()) {
    clientList_->show();
    clientList_->raise();
  }
}

// --- Keyboard ---

bool RemConsWidget::Grab(bool grab) {
  if (!grab) {
    if (grabbed_) SetKeyboardGrab(this, false);
    grabbed_ = false;
    return true;
  }
  grabbed_ = SetKeyboardGrab(this, true);
  if (!grabbed_) {
    RC_TRACE("RemConsWidget: the keyboard could not be grabbed\n");
    if (KeyboardGrabUnsupported() && !noteGiven_) {
      noteGiven_ = true;
      emit KeyboardNote(
          tr("system keys stay with the desktop (Wayland lets no window grab the "
             "keyboard)"));
    }
  }
  return grabbed_;
}

void RemConsWidget::Blocked(bool blocked) {
  // A modal dialog over the window: its keys are the user's.
  if (blocked) {
    Grab(false);
  } else if (Running() && hasFocus()) {
    Grab(true);
  }
}

bool RemConsWidget::eventFilter(QObject* watched, QEvent* event) {
  if (watched == watchedWindow_) {
    if (event->type() == QEvent::WindowBlocked) Blocked(true);
    if (event->type() == QEvent::WindowUnblocked) Blocked(false);
  }
  return QWidget::eventFilter(watched, event);
}

bool RemConsWidget::event(QEvent* event) {
  switch (event->type()) {
    case QEvent::ShortcutOverride:
      // Every key is the console's: no shortcut of the hosting window takes it.
      if (Running()) {
        event->accept();
        return true;
      }
      break;
    case QEvent::WindowBlocked:
    case QEvent::WindowUnblocked:
      // This widget is the window itself.
      Blocked(event->type() == QEvent::WindowBlocked);
      break;
    case QEvent::WindowActivate:
      // A grab refused before the window showed is tried again once it is active.
      if (Running() && hasFocus() && !grabbed_) Grab(true);
      break;
    default:
      break;
  }
  return QWidget::event(event);
}

bool RemConsWidget::focusNextPrevChild(bool next) {
  if (Running()) return false;
  return QWidget::focusNextPrevChild(next);
}

void RemConsWidget::focusInEvent(QFocusEvent* event) {
  QWidget::focusInEvent(event);
  if (Running()) control_->OnSetFocus();
}

void RemConsWidget::focusOutEvent(QFocusEvent* event) {
  QWidget::focusOutEvent(event);
  keys_.Reset();
  if (Running()) control_->OnKillFocus();
}

void RemConsWidget::Key(QKeyEvent* event) {
  event->accept();
  if (!Running()) return;
  const bool release = event->type() == QEvent::KeyRelease;
  // A held key repeats its press; the releases some systems put between the repeats are not real.
  if (release && event->isAutoRepeat()) return;
  std::optional<KeyEvent> key = keys_.Translate(*event);
  KeyResult result = KeyResult::kPassOn;
  if (key) result = control_->OnKeyEvent(*key);
  if (result == KeyResult::kSwallow || release) return;
  // Passed on: the window types the key's characters.
  KeyEvent typed;
  if (key) typed = *key;
  for (uint8_t ch : keys_.Characters(typed, event->text())) control_->OnChar(ch, typed.scanCode);
}

void RemConsWidget::keyPressEvent(QKeyEvent* event) {
  Key(event);
}

void RemConsWidget::keyReleaseEvent(QKeyEvent* event) {
  Key(event);
}

// --- Mouse ---

void RemConsWidget::mouseMoveEvent(QMouseEvent* event) {
  event->accept();
  pointerInside_ = true;
  lastPointer_ = event->position().toPoint();
  if (!Running()) return;
  control_->OnMouseMove(lastPointer_.x(), lastPointer_.y(),
                        (event->modifiers() & Qt::ControlModifier) != 0);
}

void RemConsWidget::Hover() {
  if (!hoverArmed_ || !pointerInside_ || !Running()) return;
  hoverArmed_ = false;
  control_->OnMouseHover(lastPointer_.x(), lastPointer_.y());
}

void RemConsWidget::leaveEvent(QEvent* event) {
  QWidget::leaveEvent(event);
  pointerInside_ = false;
  hover_.stop();
}

void RemConsWidget::Button(QMouseEvent* event, bool down, bool doubleClick) {
  event->accept();
  if (!Running()) return;
  using E = MenuBarMouse;
  E::Event code;
  if (event->button() == Qt::LeftButton) {
    code = doubleClick ? E::kLeftDoubleClick : down ? E::kLeftDown : E::kLeftUp;
  } else if (event->button() == Qt::RightButton) {
    code = doubleClick ? E::kRightDoubleClick : down ? E::kRightDown : E::kRightUp;
  } else {
    return;
  }
  const QPoint p = event->position().toPoint();
  pointerInside_ = true;
  lastPointer_ = p;
  control_->OnMouseButton(code, p.x(), p.y());
}

void RemConsWidget::mousePressEvent(QMouseEvent* event) {
  Button(event, true, false);
}

void RemConsWidget::mouseReleaseEvent(QMouseEvent* event) {
  Button(event, false, false);
}

void RemConsWidget::mouseDoubleClickEvent(QMouseEvent* event) {
  Button(event, true, true);
}

}  // namespace remcons
