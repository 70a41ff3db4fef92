// The capture and replay dialogs on the desktop: the save and open dialogs of capture files (Qt's
// own, as the drive menu's) and the modeless Replay Menu with its three buttons.
#pragma once

#include <QDialog>
#include <functional>
#include <optional>
#include <string>

#include "platform/Host.h"

class QWidget;

namespace remcons {

// Runs the dialog modally over parent; the chosen file's path, nullopt when cancelled.
std::optional<std::string> RunCaptureFileDialog(QWidget* parent, const Host::FileDialog& dialog);

class ReplayMenuDialog : public QDialog {
 public:
  // The button texts and what each answers.
  static constexpr int kBoot = 240;
  static constexpr int kFault = 241;
  static constexpr int kFile = 242;

  // Shows itself (not modal) and deletes itself when it closes; choice runs afterwards, from the
  // event loop, with the button pressed or 0 when it was closed.
  ReplayMenuDialog(QWidget* parent, std::function<void(int choice)> choice);
};

}  // namespace remcons
