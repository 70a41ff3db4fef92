// The session leader's Client List dialog on the desktop: three rows, each the joined user's name
// and host with a Disconnect button (disabled for an empty or ended row), and OK. It is modeless:
// the console goes on behind it.
#pragma once

#include <QDialog>
#include <array>
#include <functional>

#include "platform/Host.h"

class QLineEdit;
class QPushButton;

namespace remcons {

class ClientListDialog : public QDialog {
 public:
  // disconnect: a row's Disconnect button was pressed.
  ClientListDialog(QWidget* parent, std::function<void(int row)> disconnect);
  void ShowRows(const ClientListRows& rows);

 private:
  std::array<QLineEdit*, kClientListRows> texts_{};
  std::array<QPushButton*, kClientListRows> buttons_{};
};

}  // namespace remcons
