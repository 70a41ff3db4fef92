#include "host/qt/CaptureDialogs.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileDialog>
#include <QMetaObject>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

#include "platform/Trace.h"

namespace remcons {

std::optional<std::string> RunCaptureFileDialog(QWidget* parent, const Host::FileDialog& request) {
  QFileDialog dialog(parent, QString::fromStdString(request.title));
  // Qt's own dialog, the same on every desktop and answerable by tests.
  dialog.setOption(QFileDialog::DontUseNativeDialog, true);
  dialog.setAcceptMode(request.save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  // Saving asks before replacing a file and needs an existing folder; opening, an existing file.
  dialog.setFileMode(request.save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
  dialog.setOption(QFileDialog::ReadOnly, !request.save);
  QStringList filters;
  for (const std::string& filter : request.filters) filters << QString::fromStdString(filter);
  dialog.setNameFilters(filters);
  if (!filters.isEmpty()) dialog.selectNameFilter(filters.front());
  dialog.setDefaultSuffix(QString::fromStdString(request.defaultSuffix));
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  const std::string path = QFile::encodeName(dialog.selectedFiles().front()).toStdString();
  RC_TRACE("CaptureDialogs: chose \"%s\"\n", path.c_str());
  return path;
}

ReplayMenuDialog::ReplayMenuDialog(QWidget* parent, std::function<void(int)> choice)
    : QDialog(parent) {
  setWindowTitle(QStringLiteral("Replay Menu"));
  setAttribute(Qt::WA_DeleteOnClose);
  setModal(false);
  auto* layout = new QVBoxLayout(this);
  struct Button {
    const char* name;
    const char* text;
    int answer;
  };
  for (const Button& b : {Button{"bootButton", "Replay Current BOOT buffer", kBoot},
                          Button{"faultButton", "Replay Current FAULT buffer", kFault},
                          Button{"fileButton", "Replay file", kFile}}) {
    auto* button = new QPushButton(QString::fromUtf8(b.text), this);
    button->setObjectName(b.name);
    button->setAutoDefault(false);
    layout->addWidget(button);
    const int answer = b.answer;
    connect(button, &QPushButton::clicked, this, [this, answer] { done(answer); });
  }
  // The choice runs once the dialog has gone: it may open dialogs and boxes of its own.
  QPointer<QWidget> owner(parent);
  connect(this, &QDialog::finished, this, [owner, choice = std::move(choice)](int result) {
    QObject* context = owner ? static_cast<QObject*>(owner.data()) : QCoreApplication::instance();
    const int answer = result == kBoot || result == kFault || result == kFile ? result : 0;
    QMetaObject::invokeMethod(
        context, [choice, answer] { choice(answer); }, Qt::QueuedConnection);
  });
  show();
}

}  // namespace remcons
