// The desktop's way in without knowing the console's property names: a small dialog that asks for
// the management processor's address and port, the user's name and password (not shown), whether
// the session is enciphered and the virtual-media port, and offers the servers connected to
// before. Those are kept in the user's configuration folder (XDG, through QSettings), never with
// a password.
#pragma once

#include <QDialog>
#include <QSettings>
#include <QString>
#include <cstdint>
#include <vector>

#include "platform/Secret.h"
#include "session/PropertyBag.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;

namespace remcons {

// Where to connect, as the user gives it.
struct ConnectTarget {
  QString host;  // a name or a dotted IPv4 address
  uint16_t port = 23;
  QString user;
  bool encryption = false;
  uint16_t vmPort = 0;  // 0: no virtual media
  friend bool operator==(const ConnectTarget&, const ConnectTarget&) = default;
};

// The servers connected to, newest first, at most kMax of them.
class RecentServers {
 public:
  static constexpr int kMax = 10;
  // In settings (not owned; the program's are QSettings("remcons", "remcons")).
  explicit RecentServers(QSettings& settings) : settings_(settings) {}
  std::vector<ConnectTarget> Load() const;
  // Puts target first (an older entry of the same host and port goes).
  void Remember(const ConnectTarget& target);

 private:
  QSettings& settings_;
};

// Why a user name and password cannot make a login: the login's ':' ends the name, and every
// ':' becomes a line end on the wire. Empty when they can.
std::string LoginProblem(const std::string& user, const std::string& password);

// The console's properties for a target: its address (already looked up: dotted IPv4), port,
// login from the user's name and password, encryption, virtual-media port, the name the user
// typed as the server's name, and a window rather than full screen.
PropertyBag ConnectParams(const ConnectTarget& target, const std::string& address,
                          const SecretString& password);

class ConnectDialog : public QDialog {
 public:
  ConnectDialog(std::vector<ConnectTarget> recent, QWidget* parent = nullptr);

  // Fills the fields (the password stays as it is).
  void SetTarget(const ConnectTarget& target);
  ConnectTarget target() const;
  // Refuses what the login cannot carry, with the reason over the fields.
  void accept() override;
  // Why the last attempt failed, over the fields; empty: none.
  void ShowError(const QString& text);
  QString error() const;
  // The password typed; it stays in its field for another attempt until WipePassword.
  SecretString Password() const;
  void WipePassword();

  // The fields, for tests.
  QComboBox* hostField() const { return host_; }
  QLineEdit* passwordField() const { return password_; }
  QLineEdit* userField() const { return user_; }
  QPushButton* connectButton() const { return connect_; }

 private:
  void Pick(int index);

  std::vector<ConnectTarget> recent_;
  QLabel* error_;
  QComboBox* host_;
  QSpinBox* port_;
  QLineEdit* user_;
  QLineEdit* password_;
  QCheckBox* encryption_;
  QSpinBox* vmPort_;
  QPushButton* connect_;
};

}  // namespace remcons
