#include "host/qt/DesktopDialogs.h"

#include <QPointer>
#include <QPushButton>
#include <QString>

#include "host/qt/QtHost.h"
#include "platform/Host.h"

namespace remcons {

QMessageBox::Icon MessageBoxIcon(uint32_t style) {
  switch (style & kMbIconMask) {
    case kMbIconError:
      return QMessageBox::Critical;
    case kMbIconQuestion:
      return QMessageBox::Question;
    case kMbIconWarning:
      return QMessageBox::Warning;
    case kMbIconInformation:
      return QMessageBox::Information;
    default:
      return QMessageBox::NoIcon;
  }
}

QMessageBox::StandardButtons MessageBoxButtons(uint32_t style) {
  switch (style & kMbButtonMask) {
    case kMbOkCancel:
      return QMessageBox::Ok | QMessageBox::Cancel;
    case kMbYesNo:
      return QMessageBox::Yes | QMessageBox::No;
    case kMbYesNoCancel:
      return QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
    default:
      return QMessageBox::Ok;
  }
}

namespace {

QMessageBox::StandardButton ButtonOf(int id) {
  switch (id) {
    case kIdCancel:
      return QMessageBox::Cancel;
    case kIdYes:
      return QMessageBox::Yes;
    case kIdNo:
      return QMessageBox::No;
    default:
      return QMessageBox::Ok;
  }
}

// What closing the box without a button means: Cancel where there is one, No for a Yes/No box,
// else OK.
int EscapeResult(uint32_t style) {
  if (DialogPolicy::HasButton(style, kIdCancel)) return kIdCancel;
  if (DialogPolicy::HasButton(style, kIdNo)) return kIdNo;
  return kIdOk;
}

}  // namespace

QMessageBox::StandardButton MessageBoxDefault(uint32_t style) {
  return ButtonOf(DialogPolicy::DefaultButton(style));
}

int MessageBoxResult(QMessageBox::StandardButton button, uint32_t style) {
  switch (button) {
    case QMessageBox::Ok:
      return kIdOk;
    case QMessageBox::Cancel:
      return kIdCancel;
    case QMessageBox::Yes:
      return kIdYes;
    case QMessageBox::No:
      return kIdNo;
    default:
      return EscapeResult(style);
  }
}

namespace {

// New User: Accept (the default) or Deny, and no other way out of it.
int ShowAcceptDeny(QWidget* parent, const std::string& text, const std::string& caption) {
  QPointer<QMessageBox> box =
      new QMessageBox(QMessageBox::Question, QString::fromStdString(caption),
                      QString::fromStdString(text), QMessageBox::NoButton, parent);
  QPushButton* accept = box->addButton(QStringLiteral("Accept"), QMessageBox::AcceptRole);
  // An action role is never taken for the escape button: Escape and closing do nothing.
  box->addButton(QStringLiteral("Deny"), QMessageBox::ActionRole);
  box->setDefaultButton(accept);
  box->setWindowModality(parent ? Qt::WindowModal : Qt::ApplicationModal);
  box->exec();
  // A box that went with its window admits no one.
  if (!box) return kIdDeny;
  const bool accepted = box->clickedButton() == accept;
  delete box;
  return accepted ? kIdAccept : kIdDeny;
}

}  // namespace

int ShowMessageBox(QWidget* parent, const std::string& text, const std::string& caption,
                   uint32_t style) {
  if ((style & kMbButtonMask) == kMbAcceptDeny) return ShowAcceptDeny(parent, text, caption);
  // The box may outlive its parent (the console closed while it was up): a guarded pointer.
  QPointer<QMessageBox> box =
      new QMessageBox(MessageBoxIcon(style), QString::fromStdString(caption),
                      QString::fromStdString(text), MessageBoxButtons(style), parent);
  box->setDefaultButton(MessageBoxDefault(style));
  box->setEscapeButton(ButtonOf(EscapeResult(style)));
  if (style & kMbSystemModal) {
    box->setWindowModality(Qt::ApplicationModal);
    box->setWindowFlag(Qt::WindowStaysOnTopHint);
  } else {
    box->setWindowModality(parent ? Qt::WindowModal : Qt::ApplicationModal);
  }
  box->exec();
  if (!box) return EscapeResult(style);
  const auto pressed = box->standardButton(box->clickedButton());
  delete box;
  return MessageBoxResult(pressed, style);
}

}  // namespace remcons
