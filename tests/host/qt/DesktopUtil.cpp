#include "host/qt/DesktopUtil.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QImage>
#include <QPixmap>
#include <QPushButton>
#include <QTimer>
#include <filesystem>
#include <fstream>

#include "host/qt/QtImage.h"

namespace remcons::testing {

void RecordBoxes(QtHost& host, std::vector<std::string>* boxes) {
  QtHost::Callbacks callbacks;
  callbacks.messageBox = [boxes](const std::string& text, const std::string& caption, uint32_t) {
    boxes->push_back(caption + ": " + text);
    return kIdOk;
  };
  host.SetCallbacks(callbacks);
}

void AnswerNextBox(BoxAnswer* seen, const QString& press, std::function<void()> onShown) {
  auto poll = std::make_shared<std::function<void()>>();
  *poll = [seen, press, onShown, poll] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box) {
      QTimer::singleShot(10, *poll);
      return;
    }
    seen->title = box->windowTitle();
    seen->text = box->text();
    seen->icon = box->icon();
    seen->modality = box->windowModality();
    seen->onTop = box->windowFlags().testFlag(Qt::WindowStaysOnTopHint);
    for (QAbstractButton* b : box->buttons()) seen->buttons << b->text().remove('&');
    if (box->defaultButton()) seen->defaultButton = box->defaultButton()->text().remove('&');
    if (onShown) onShown();
    for (QAbstractButton* b : box->buttons()) {
      if (b->text().remove('&') == press) {
        seen->pressed = press;
        b->click();
        return;
      }
    }
  };
  QTimer::singleShot(10, *poll);
}

pid_t StartOnTestDisplay(const std::vector<std::string>& argv, const ScratchDir& dir) {
  return StartProgram(argv, {"DISPLAY=" + TestDisplay(), "QT_QPA_PLATFORM=xcb"}, dir / "out.txt",
                      dir / "err.txt");
}

std::string ScreenshotDir() {
  const char* dir = std::getenv("REMCONS_SCREENSHOT_DIR");
  const std::string path = dir && *dir ? dir : "/tmp/remcons-screenshots";
  QDir().mkpath(QString::fromStdString(path));
  return path;
}

Surface Grabbed(QWidget* widget) {
  return SurfaceFromImage(widget->grab().toImage());
}

ConsoleRig::ConsoleRig(const PropertyBag& extra, sim::ConsoleServerOptions options) {
  server_ = std::make_unique<sim::ConsoleServer>(options);
  std::string error;
  if (!server_->Start(&error)) {
    ADD_FAILURE() << "the simulator did not start: " << error;
    return;
  }
  widget_ = std::make_unique<RemConsWidget>();
  PropertyBag params = SimParams(server_->Port());
  params.insert(params.end(), extra.begin(), extra.end());
  for (const auto& [name, value] : params) {
    EXPECT_EQ(widget_->control().PutByName(name, value), S_OK) << name << "=" << value;
  }
  // No local drives: the drive menu lists its three fixed entries only.
  std::filesystem::create_directories(roots_ / "sys/class/block");
  std::filesystem::create_directories(roots_ / "dev");
  widget_->SetMediaRoots(MediaRoots{roots_ / "sys", roots_ / "dev"});
  widget_->SetMessageBoxPolicy(
      [this](const std::string& text, const std::string& caption, uint32_t style) {
        boxes_.push_back({text, caption, style});
        return std::optional<int>(kIdOk);
      });
  widget_->SetHoverTimeMs(30);
  // As a page would: the control takes the picture's size.
  QObject::connect(widget_.get(), &RemConsWidget::OnResize, widget_.get(), [this](int, int) {
    ++resizes_;
    widget_->resize(widget_->PictureSize());
  });
  QObject::connect(widget_.get(), &RemConsWidget::OnShutdown, widget_.get(),
                   [this] { ++shutdowns_; });
  started_ = true;
}

ConsoleRig::~ConsoleRig() {
  widget_.reset();
  if (server_) server_->Stop();
}

bool ConsoleRig::Show() {
  if (!started_) return false;
  widget_->resize(widget_->PictureSize());
  widget_->show();
  widget_->activateWindow();
  QApplication::setActiveWindow(widget_.get());
  widget_->setFocus(Qt::ActiveWindowFocusReason);
  if (!WaitUntil([&] { return widget_->SessionCreated() && resizes_ > 0; })) return false;
  return WaitUntil([&] { return widget_->hasFocus(); }, 5000);
}

bool ConsoleRig::Settle(int ms) {
  return WaitUntil(
      [&] {
        const QSize want = widget_->PictureSize();
        if (widget_->size() != want) return false;
        return widget_->FlushPaint() && widget_->pixels().width() == want.width() &&
               widget_->pixels().height() == want.height();
      },
      ms);
}

bool ConsoleRig::ShowsServerScreen(int ms) {
  // The server's screen is read afresh each time: it moves on while the console catches up.
  auto same = [&](const Surface& s, const std::vector<uint32_t>& screen, int width, int height) {
    if (s.width() != width || s.height() != height) return false;
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) {
        if (!SameColor(s.At(x, y), screen[static_cast<size_t>(y) * width + x])) return false;
      }
    }
    return true;
  };
  return WaitUntil(
      [&] {
        if (!server_->WaitUntilSent(0) || !Settle(0) || !widget_->FlushPaint()) return false;
        int width = 0, height = 0;
        const std::vector<uint32_t> screen = server_->ScreenPixels(&width, &height);
        return same(widget_->pixels(), screen, width, height) &&
               same(Grabbed(widget_.get()), screen, width, height);
      },
      ms);
}

}  // namespace remcons::testing
