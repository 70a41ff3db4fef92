// A capture file or a BOOT/FAULT buffer played in a window of its own, at its recorded pace: what
// `remcons FILE.kro` (the desktop's file association) shows, without a server. The decoding runs
// on a thread of its own that waits on the Clock for each picture's recorded time; the window
// shows the latest picture scaled to it, keeping its aspect. Closing it (or Escape) ends the play.
#pragma once

#include <QString>
#include <QWidget>
#include <atomic>
#include <mutex>
#include <string>
#include <thread>

#include "capture/CaptureFile.h"
#include "platform/Clock.h"
#include "platform/Surface.h"

namespace remcons {

class CapturePlayer : public QWidget {
 public:
  explicit CapturePlayer(Clock& clock = SystemClock());
  // Stops the play and waits for its thread.
  ~CapturePlayer() override;

  // Opens the file and starts playing it; false with the reason when it cannot be read.
  bool Start(const std::string& path, std::string* error);
  // The play has reached the file's end (or a record it could not read: ending() says which).
  bool finished() const { return finished_; }
  const std::string& ending() const { return ending_; }
  // The picture shown now (window thread).
  const Surface& picture() const { return shown_; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void Stop();
  void Show(const Surface& picture, uint64_t ms);
  void ShowTitle();

  Clock& clock_;
  CaptureReader reader_;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  Surface shown_;
  QString name_;
  uint64_t ms_ = 0;
  bool finished_ = false;
  std::string ending_;
};

}  // namespace remcons
