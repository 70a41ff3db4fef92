#include "host/qt/CapturePlayer.h"

#include <pthread.h>
#include <QFileInfo>
#include <QKeyEvent>
#include <QMetaObject>
#include <QPainter>
#include <cstring>

#include "capture/OfflinePlayer.h"
#include "host/qt/QtImage.h"

namespace remcons {

CapturePlayer::CapturePlayer(Clock& clock) : clock_(clock) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  resize(1024, 768);
}

CapturePlayer::~CapturePlayer() {
  Stop();
}

void CapturePlayer::Stop() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
}

bool CapturePlayer::Start(const std::string& path, std::string* error) {
  int err = 0;
  std::string why;
  if (!reader_.Open(path, &err, &why)) {
    *error = "cannot play " + path + ": " + (err != 0 ? std::strerror(err) : why);
    return false;
  }
  name_ = QFileInfo(QString::fromStdString(path)).fileName();
  ShowTitle();
  thread_ = std::thread([this] {
    pthread_setname_np(pthread_self(), "remcons-player");
    const uint32_t start = clock_.NowMs();
    OfflinePlayer player(reader_);
    // Each picture at its recorded time.
    player.Play([&](uint64_t ms, const Surface& picture) {
      const uint32_t elapsed = clock_.NowMs() - start;
      if (ms > elapsed && !clock_.SleepMs(static_cast<uint32_t>(ms - elapsed), &stop_)) {
        return false;
      }
      if (stop_) return false;
      // Queued to the window, which waits for this thread before it goes.
      QMetaObject::invokeMethod(
          this, [this, picture, ms] { Show(picture, ms); }, Qt::QueuedConnection);
      return true;
    });
    const PlayerSummary summary = player.summary();
    const Surface last = player.picture();
    const std::string ending = summary.end == CaptureReader::Next::kEnd ? "" : summary.why;
    QMetaObject::invokeMethod(
        this,
        [this, last, ending, ms = summary.replayMs] {
          finished_ = true;
          ending_ = ending;
          Show(last, ms);
        },
        Qt::QueuedConnection);
  });
  return true;
}

void CapturePlayer::Show(const Surface& picture, uint64_t ms) {
  if (picture.width() > 0 && picture.height() > 0) shown_ = picture;
  ms_ = ms;
  ShowTitle();
  update();
}

void CapturePlayer::ShowTitle() {
  const uint64_t seconds = ms_ / 1000;
  QString title = QStringLiteral("%1 | %2:%3")
                      .arg(name_)
                      .arg(seconds / 60)
                      .arg(seconds % 60, 2, 10, QChar('0'));
  if (finished_) title += ending_.empty() ? tr(" | end") : tr(" | ended: %1").arg(ending_.c_str());
  setWindowTitle(title + QStringLiteral(" - remcons"));
}

void CapturePlayer::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), Qt::black);
  if (shown_.width() == 0) return;
  const QSize size =
      QSize(shown_.width(), shown_.height()).scaled(this->size(), Qt::KeepAspectRatio);
  const QRect target(QPoint((width() - size.width()) / 2, (height() - size.height()) / 2), size);
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  painter.drawImage(target, ConstImageOf(shown_));
}

void CapturePlayer::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape) {
    close();
    return;
  }
  QWidget::keyPressEvent(event);
}

void CapturePlayer::closeEvent(QCloseEvent* event) {
  Stop();
  QWidget::closeEvent(event);
}

}  // namespace remcons
