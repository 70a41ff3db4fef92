#include "host/qt/RemConsWidget.h"

#include <QClipboard>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QFocusEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMetaObject>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QRegion>
#include <QStandardPaths>
#include <QStringList>
#include <algorithm>

#include "host/qt/Artwork.h"
#include "host/qt/ConsoleCursor.h"
#include "host/qt/DesktopDialogs.h"
#include "host/qt/QtImage.h"
#include "host/qt/UsTyping.h"
#include "input/VirtualKeys.h"
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
    // Scaled, the widget keeps its size and the picture follows the server's.
    if (owner_.scale_ && owner_.Running()) {
      owner_.ResizePixels();
      owner_.control_->OnWindowPosChanged();
    }
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
// A screenshot waits this long, a few milliseconds at a time, for the console thread to let go
// of the picture.
constexpr int kScreenshotRetryMs = 5;
constexpr int kScreenshotTries = 400;
// A refusal names at most this many characters.
constexpr int kNamedCharacters = 8;

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
  window_.SetPaintedCallback([this](const Rect& r) {
    if (!scale_) {
      update(ToQRect(r));
      return;
    }
    // Scaled: the rectangle where the picture's rectangle shows, with a pixel for the smoothing.
    const QRect picture = PictureRect();
    const double sx = double(picture.width()) / std::max(1, window_.width());
    const double sy = double(picture.height()) / std::max(1, window_.height());
    const QRectF shown(picture.x() + r.left * sx, picture.y() + r.top * sy, r.Width() * sx,
                       r.Height() * sy);
    update(shown.toAlignedRect().adjusted(-1, -1, 1, 1));
  });
  pasteTimer_.setInterval(1);
  connect(&pasteTimer_, &QTimer::timeout, this, [this] { PumpPaste(); });
  control_->Advise(sink_.get());
}

RemConsWidget::~RemConsWidget() {
  typist_.reset();
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
  if (scale_) {
    // The whole picture, whatever the widget's size: it is scaled when shown.
    const QSize picture = PictureSize();
    window_.Resize(picture.width(), picture.height());
    return;
  }
  window_.Resize(std::min(width(), frame->frame().width()),
                 std::min(height(), frame->frame().height()));
}

void RemConsWidget::SetScaleToWindow(bool on) {
  if (scale_ == on) return;
  scale_ = on;
  if (Running()) {
    ResizePixels();
    control_->OnWindowPosChanged();
  }
  updateGeometry();
  update();
}

QRect RemConsWidget::PictureRect() const {
  const int pw = window_.width(), ph = window_.height();
  if (!scale_ || pw <= 0 || ph <= 0) return QRect(0, 0, pw, ph);
  // As large as the widget allows with the picture's aspect, centred.
  const int64_t ww = std::max(1, width()), wh = std::max(1, height());
  int64_t w = ww, h = wh;
  if (ww * ph <= wh * pw) {
    h = std::max<int64_t>(1, (ww * ph + pw / 2) / pw);
  } else {
    w = std::max<int64_t>(1, (wh * pw + ph / 2) / ph);
  }
  return QRect(static_cast<int>((ww - w) / 2), static_cast<int>((wh - h) / 2), static_cast<int>(w),
               static_cast<int>(h));
}

QPoint RemConsWidget::ToPicture(QPoint p) const {
  if (!scale_) return p;
  const QRect shown = PictureRect();
  // Edge to edge: the first and last pixels of the shown picture are the picture's own, so that
  // the pointer reaches every edge of the server's screen at any scale.
  auto map = [](int v, int origin, int extent, int size) -> int {
    if (extent <= 1 || size <= 1) return 0;
    const int64_t offset = std::clamp<int64_t>(v - origin, 0, extent - 1);
    return static_cast<int>((2 * offset * (size - 1) + (extent - 1)) / (2 * int64_t{extent - 1}));
  };
  return QPoint(map(p.x(), shown.x(), shown.width(), window_.width()),
                map(p.y(), shown.y(), shown.height(), window_.height()));
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
  const QRect picture = PictureRect();
  // Beyond the picture the window is black.
  const QRegion outside = event->region().subtracted(QRegion(picture));
  for (const QRect& r : outside) painter.fillRect(r, Qt::black);
  if (picture.isEmpty()) return;
  if (picture.size() == QSize(pixels.width(), pixels.height())) {
    painter.drawImage(picture.topLeft(), ConstImageOf(pixels));
  } else {
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(picture, ConstImageOf(pixels));
  }
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
    if (grabbed_) {
      SetKeyboardGrab(this, false);
      grabbed_ = false;
      emit GrabChanged(false);
      // The keys the server saw go down would stay down: the desktop has their releases now.
      if (Running()) control_->ReleaseHeldKeys();
    }
    return true;
  }
  // The user let go of the grab: it waits for a click into the picture.
  if (grabReleased_) return false;
  const bool was = grabbed_;
  grabbed_ = SetKeyboardGrab(this, true);
  if (grabbed_ != was) emit GrabChanged(grabbed_);
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
  hotkeys_.Reset();
  swallowRelease_.fill(false);
  if (!Running()) return;
  // Without the focus the keys reach nobody: a paste stops here rather than lose characters.
  CancelPaste();
  control_->ReleaseHeldKeys();
  control_->OnKillFocus();
}

void RemConsWidget::Key(QKeyEvent* event) {
  event->accept();
  if (!Running()) return;
  const bool release = event->type() == QEvent::KeyRelease;
  // A held key repeats its press; the releases some systems put between the repeats are not real.
  if (release && event->isAutoRepeat()) return;
  std::optional<KeyEvent> key = keys_.Translate(*event);
  if (Pasting()) {
    // The paste has the keyboard; Escape gives it up.
    if (key && !release && key->vkCode == kVkEscape) CancelPaste();
    return;
  }
  bool releaseGrab = false;
  if (key && DesktopKey(*key, &releaseGrab)) return;
  KeyResult result = KeyResult::kPassOn;
  if (key) result = control_->OnKeyEvent(*key);
  if (releaseGrab) ReleaseKeyboardGrab();
  if (result == KeyResult::kSwallow || release) return;
  // Passed on: the window types the key's characters.
  KeyEvent typed;
  if (key) typed = *key;
  for (uint8_t ch : keys_.Characters(typed, event->text())) control_->OnChar(ch, typed.scanCode);
}

bool RemConsWidget::DesktopKey(const KeyEvent& key, bool* releaseGrab) {
  if (key.keyUp && key.vkCode <= 0xFF && swallowRelease_[key.vkCode]) {
    swallowRelease_[key.vkCode] = false;
    return true;
  }
  if (!hotkeysOn_) return false;
  const Hotkey hotkey = hotkeys_.Feed(key);
  if (hotkey == Hotkey::kReleaseGrab) {
    // After this release has reached the server.
    *releaseGrab = true;
    return false;
  }
  if (hotkey == Hotkey::kNone) return false;
  // The keys held now are the desktop's from here on: the server is told they went up.
  for (int vk = 0; vk < 256; ++vk) swallowRelease_[vk] = keys_.Held(static_cast<uint8_t>(vk));
  ReleaseAllKeys();
  if (hotkey == Hotkey::kPaste) {
    PasteClipboard();
  } else {
    SaveScreenshot();
  }
  return true;
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
  lastPointer_ = ToPicture(event->position().toPoint());
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
  const QPoint p = ToPicture(event->position().toPoint());
  pointerInside_ = true;
  lastPointer_ = p;
  if (down && grabReleased_) {
    // A click into the picture takes the keyboard again.
    grabReleased_ = false;
    if (hasFocus() && isActiveWindow()) Grab(true);
  }
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

// --- The desktop's comforts ---

void RemConsWidget::ReleaseAllKeys() {
  if (Running()) control_->ReleaseAllKeys();
}

void RemConsWidget::ReleaseKeyboardGrab() {
  grabReleased_ = true;
  Grab(false);
}

void RemConsWidget::SetPasteClock(Clock& clock, uint32_t paceMs) {
  CancelPaste();
  typist_.reset();
  pasteClock_ = &clock;
  pacePause_ = paceMs;
}

namespace {

// "é (U+00E9)", or "U+0007" for a character that shows nothing.
QString CharacterName(char32_t c) {
  const QString code =
      QStringLiteral("U+%1").arg(static_cast<uint>(c), 4, 16, QChar('0')).toUpper();
  const QString shown = QString::fromUcs4(&c, 1);
  if (c < 0x20 || (c >= 0x7F && c < 0xA0) || !shown.at(0).isPrint()) return code;
  return shown + QStringLiteral(" (") + code + QStringLiteral(")");
}

}  // namespace

bool RemConsWidget::PasteText(const QString& text) {
  if (!Running()) return false;
  const std::u32string refused = UntypableCharacters(text).toStdU32String();
  if (!refused.empty()) {
    QStringList names;
    for (size_t i = 0; i < refused.size() && i < kNamedCharacters; ++i) {
      names << CharacterName(refused[i]);
    }
    QString list = names.join(QStringLiteral(", "));
    if (refused.size() > kNamedCharacters) {
      list += QStringLiteral(" and %1 more").arg(refused.size() - kNamedCharacters);
    }
    Box(QStringLiteral("Nothing was pasted: no key of the server's US keyboard types %1.")
            .arg(list)
            .toStdString(),
        "Paste", kMbOk | kMbIconWarning);
    return false;
  }
  std::string typable = TypableText(text);
  if (typable.empty()) return false;
  CancelPaste();
  // Keys held now would change what the strokes type.
  control_->ReleaseHeldKeys();
  if (!typist_) typist_ = std::make_unique<Typist>(*control_, *pasteClock_, pacePause_);
  const int total = static_cast<int>(typable.size());
  typist_->Start(std::move(typable));
  emit PasteProgress(0, total);
  // Pumped twice a pause: a stroke is never later than half a pause.
  pasteTimer_.setInterval(std::max<int>(1, static_cast<int>(pacePause_ / 2)));
  pasteTimer_.start();
  return true;
}

void RemConsWidget::PasteClipboard() {
  QString text = QGuiApplication::clipboard()->text();
  PasteText(text);
  // The copy taken here, at least, does not linger.
  text.fill(QChar(0));
}

void RemConsWidget::PumpPaste() {
  if (!typist_ || !typist_->Active()) {
    pasteTimer_.stop();
    return;
  }
  const size_t before = typist_->typed();
  const size_t total = typist_->total();
  if (typist_->Pump()) {
    if (typist_->typed() != before) {
      emit PasteProgress(static_cast<int>(typist_->typed()), static_cast<int>(total));
    }
    return;
  }
  pasteTimer_.stop();
  emit PasteProgress(static_cast<int>(total), static_cast<int>(total));
  emit PasteEnded(true);
}

void RemConsWidget::CancelPaste() {
  if (!Pasting()) return;
  typist_->Cancel();
  pasteTimer_.stop();
  emit PasteEnded(false);
}

QString ScreenshotName(const QString& server, const QDateTime& when) {
  QString name;
  for (const QChar c : server) {
    const bool kept = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                      c == '.' || c == '_' || c == '-';
    name += kept ? c : QChar('_');
  }
  // No hidden file, no way out of the folder.
  while (name.startsWith('.')) name.remove(0, 1);
  if (name.isEmpty()) name = QStringLiteral("remcons");
  return name + when.toString(QStringLiteral("-yyyyMMdd-HHmmss")) + QStringLiteral(".png");
}

void RemConsWidget::SaveScreenshot(const QString& folder) {
  screenshotTries_ = 0;
  if (!TrySaveScreenshot(folder)) {
    // The console thread holds the picture: a little later.
    auto retry = std::make_shared<std::function<void()>>();
    *retry = [this, folder, retry] {
      if (TrySaveScreenshot(folder)) return;
      if (++screenshotTries_ >= kScreenshotTries) {
        emit ScreenshotFailed(tr("the picture stayed busy"));
        return;
      }
      QTimer::singleShot(kScreenshotRetryMs, this, *retry);
    };
    QTimer::singleShot(kScreenshotRetryMs, this, *retry);
  }
}

bool RemConsWidget::TrySaveScreenshot(const QString& folder) {
  FrameBuffer* frame = control_->frameBuffer();
  if (!Running() || !frame || !frame->created()) {
    emit ScreenshotFailed(tr("there is no picture yet"));
    return true;
  }
  NamedMutex& videoLock = frame->videoLock();
  if (!videoLock.try_lock()) return false;
  const QSize size = PictureSize();
  Surface picture(size.width(), size.height());
  picture.CopyFrom(frame->frame(), Rect{0, 0, size.width(), size.height()}, 0, 0);
  videoLock.unlock();

  QString dir = folder;
  if (dir.isEmpty()) dir = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
  if (dir.isEmpty()) dir = QDir::homePath();
  if (!QDir().mkpath(dir)) {
    emit ScreenshotFailed(tr("cannot make the folder %1").arg(dir));
    return true;
  }
  const RemConsProperties& p = control_->Properties();
  const QString server = QString::fromUtf8(p.serverName[0] ? p.serverName : p.target);
  const QString name = ScreenshotName(server, QDateTime::currentDateTime());
  QString path = QDir(dir).filePath(name);
  // Two in the same second: the second gets a number.
  for (int n = 2; QFileInfo::exists(path); ++n) {
    path = QDir(dir).filePath(name.chopped(4) + QStringLiteral("-%1.png").arg(n));
  }
  std::string error;
  if (!SavePng(picture, path.toStdString(), &error)) {
    emit ScreenshotFailed(
        QString::fromStdString(error.empty() ? "cannot write " + path.toStdString() : error));
    return true;
  }
  emit ScreenshotSaved(path);
  return true;
}

}  // namespace remcons
