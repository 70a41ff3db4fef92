#include "host/qt/VmChooser.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QUrl>
#include <algorithm>
#include <iterator>
#include <vector>

#include "platform/Host.h"
#include "platform/Strings.h"
#include "platform/Trace.h"

namespace remcons {
namespace {

// The last choice of each dialog: it opens there again, for as long as the process runs.
std::string& LastChoice(int dialog) {
  static std::string last[3];
  return last[dialog];
}

QString FromLocal(const std::string& path) {
  return QFile::decodeName(QByteArray::fromStdString(path));
}

std::string ToLocal(const QString& path) {
  return QFile::encodeName(path).toStdString();
}

QStringList Filters(const char* const* filters, size_t count) {
  QStringList list;
  for (size_t i = 0; i < count; ++i) list << QString::fromUtf8(filters[i]);
  return list;
}

// Puts the note above everything else the dialog shows, across its whole width.
void AddNote(QFileDialog& dialog, const QString& note) {
  auto* grid = qobject_cast<QGridLayout*>(dialog.layout());
  if (!grid) return;
  struct Placed {
    QLayoutItem* item;
    int row, column, rows, columns;
  };
  std::vector<Placed> placed;
  for (int i = grid->count() - 1; i >= 0; --i) {
    Placed p{};
    grid->getItemPosition(i, &p.row, &p.column, &p.rows, &p.columns);
    p.item = grid->takeAt(i);
    placed.push_back(p);
  }
  const int columns = std::max(1, grid->columnCount());
  for (const Placed& p : placed) grid->addItem(p.item, p.row + 1, p.column, p.rows, p.columns);
  auto* label = new QLabel(note, &dialog);
  label->setObjectName("folderNote");
  label->setTextFormat(Qt::PlainText);
  grid->addWidget(label, 0, 0, 1, columns);
}

}  // namespace

const char* const VmChooser::kImageFilters[2] = {"Image Files (*.IMG)", "All Files (*)"};
const char* const VmChooser::kCdImageFilters[3] = {"ISO Image Files (*.ISO)", "Image Files (*.IMG)",
                                                   "All Files (*)"};

bool VmChooser::Run(QFileDialog& dialog, Dialog which, std::string* path) {
  // Qt's own dialog, so that it looks and matches names the same on every desktop (the filters
  // ignore case, as the ".ISO" rule does).
  dialog.setOption(QFileDialog::DontUseNativeDialog, true);
  const std::string& last = LastChoice(which);
  if (last.empty()) {
    dialog.setDirectory(QDir::home());
  } else if (which == kFolder) {
    dialog.setDirectory(FromLocal(last));
  } else {
    const QFileInfo info(FromLocal(last));
    dialog.setDirectory(info.absolutePath());
    dialog.selectFile(info.fileName());
  }
  // A grabbed keyboard would keep its keys from the dialog.
  if (host_) host_->GrabKeyboard(false);
  if (dialog.exec() != QDialog::Accepted) return false;
  const QList<QUrl> urls = dialog.selectedUrls();
  if (urls.isEmpty()) return false;
  // Only a local path can be opened and served.
  *path = urls.front().isLocalFile() ? ToLocal(urls.front().toLocalFile()) : std::string();
  if (!path->empty()) LastChoice(which) = *path;
  RC_TRACE("VmChooser: chose \"%s\"\n", path->c_str());
  return true;
}

bool VmChooser::ChooseFile(Dialog which, const QStringList& filters, std::string* path) {
  QFileDialog dialog(owner_);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(QFileDialog::ExistingFile);
  dialog.setNameFilters(filters);
  dialog.setDefaultSuffix("img");
  // A file without a local path cannot be served.
  return Run(dialog, which, path) && !path->empty();
}

bool VmChooser::ChooseImageFile(std::string* path) {
  return ChooseFile(kImage, Filters(kImageFilters, std::size(kImageFilters)), path);
}

bool VmChooser::ChooseCdImage(std::string* path) {
  return ChooseFile(kCdImage, Filters(kCdImageFilters, std::size(kCdImageFilters)), path);
}

bool VmChooser::ChooseFolder(std::string* path) {
  QFileDialog dialog(owner_);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(QFileDialog::Directory);
  dialog.setOption(QFileDialog::ShowDirsOnly, true);
  // The folder is served read only: nothing is made here either.
  dialog.setOption(QFileDialog::ReadOnly, true);
  const QString note = QString::fromUtf8(LoadString(kStrChooseFolder));
  dialog.setWindowTitle(note.section('\n', 0, 0));
  dialog.setOption(QFileDialog::DontUseNativeDialog, true);  // before the widgets are looked at
  if (QWidget* newFolder = dialog.findChild<QWidget*>("newFolderButton")) newFolder->hide();
  AddNote(dialog, note);
  return Run(dialog, kFolder, path);
}

}  // namespace remcons
