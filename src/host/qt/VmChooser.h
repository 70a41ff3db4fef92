// The desktop's choice of what the drive menu's image, CD image and folder entries serve: an
// open-file dialog for floppy and disk images, one for ISO images and a folder browser, modal over
// the console's window. The console's keyboard grab is let go before each dialog, so that the
// dialog gets the keys; the console takes it back when its window has the focus again.
//
// Qt's own dialogs are used everywhere (never the desktop's native ones): the folder browser then
// shows its note, the name filters match regardless of case as the ".ISO" rule does, and tests
// answer them as any widget.
#pragma once

#include <QStringList>
#include <string>

#include "vmedia/VMConnection.h"

class QFileDialog;
class QWidget;

namespace remcons {

class Host;

class VmChooser : public VmTargetChooser {
 public:
  // owner: the console's widget, whose window the dialogs are modal to (null: the application).
  // host: the console's host, whose keyboard grab is let go first (null: none).
  VmChooser(QWidget* owner, Host* host) : owner_(owner), host_(host) {}

  bool ChooseImageFile(std::string* path) override;
  bool ChooseCdImage(std::string* path) override;
  bool ChooseFolder(std::string* path) override;

  // The name filters of the two file dialogs, first the one shown at the start.
  static const char* const kImageFilters[2];
  static const char* const kCdImageFilters[3];

 private:
  enum Dialog { kImage, kCdImage, kFolder };
  // Runs the dialog, opened at the last choice of its kind; false when cancelled. The path is
  // empty when the chosen item has no local file-system path.
  bool Run(QFileDialog& dialog, Dialog which, std::string* path);
  // An open-file dialog for an existing file of the name filters.
  bool ChooseFile(Dialog which, const QStringList& filters, std::string* path);

  QWidget* owner_;
  Host* host_;
};

}  // namespace remcons
