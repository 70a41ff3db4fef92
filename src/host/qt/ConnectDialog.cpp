#include "host/qt/ConnectDialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include "net/Net.h"

namespace remcons {

std::vector<ConnectTarget> RecentServers::Load() const {
  std::vector<ConnectTarget> out;
  const int n = settings_.beginReadArray(QStringLiteral("recent"));
  for (int i = 0; i < n && i < kMax; ++i) {
    settings_.setArrayIndex(i);
    ConnectTarget t;
    t.host = settings_.value(QStringLiteral("host")).toString().trimmed();
    const uint port = settings_.value(QStringLiteral("port"), 23).toUInt();
    t.port = port >= 1 && port <= 65535 ? static_cast<uint16_t>(port) : 23;
    t.user = settings_.value(QStringLiteral("user")).toString();
    t.encryption = settings_.value(QStringLiteral("encryption"), false).toBool();
    const uint vmPort = settings_.value(QStringLiteral("vmPort"), 0).toUInt();
    t.vmPort = vmPort <= 65535 ? static_cast<uint16_t>(vmPort) : 0;
    // An entry without a host (a hand-edited file) is no server.
    if (!t.host.isEmpty()) out.push_back(t);
  }
  settings_.endArray();
  return out;
}

void RecentServers::Remember(const ConnectTarget& target) {
  std::vector<ConnectTarget> list = Load();
  std::erase_if(list, [&](const ConnectTarget& t) {
    return t.host.compare(target.host, Qt::CaseInsensitive) == 0 && t.port == target.port;
  });
  list.insert(list.begin(), target);
  if (list.size() > kMax) list.resize(kMax);
  settings_.remove(QStringLiteral("recent"));
  settings_.beginWriteArray(QStringLiteral("recent"), static_cast<int>(list.size()));
  for (int i = 0; i < static_cast<int>(list.size()); ++i) {
    settings_.setArrayIndex(i);
    const ConnectTarget& t = list[static_cast<size_t>(i)];
    settings_.setValue(QStringLiteral("host"), t.host);
    settings_.setValue(QStringLiteral("port"), t.port);
    settings_.setValue(QStringLiteral("user"), t.user);
    settings_.setValue(QStringLiteral("encryption"), t.encryption);
    settings_.setValue(QStringLiteral("vmPort"), t.vmPort);
  }
  settings_.endArray();
  settings_.sync();
}

std::string LoginProblem(const std::string& user, const std::string& password) {
  if (user.find(':') != std::string::npos) return "a user name cannot hold ':'";
  if (password.find(':') != std::string::npos) {
    return "a password with ':' cannot be sent: the login turns ':' into a line end";
  }
  return {};
}

PropertyBag ConnectParams(const ConnectTarget& target, const std::string& address,
                          const SecretString& password) {
  // A window of its own on the desktop: the local display keeps its mode.
  PropertyBag params = {{"fullScreen", "0"},
                        {"target", address},
                        {"port", std::to_string(target.port)},
                        {"encryption", target.encryption ? "1" : "0"},
                        {"vmPort", std::to_string(target.vmPort)},
                        {"serverName", target.host.toStdString()}};
  if (!target.user.isEmpty() || !password.empty()) {
    const SecretString text(target.user.toStdString() + ":" + password.text());
    params.emplace_back("login", Base64Encode(text.text()));
  }
  return params;
}

ConnectDialog::ConnectDialog(std::vector<ConnectTarget> recent, QWidget* parent)
    : QDialog(parent), recent_(std::move(recent)) {
  setWindowTitle(tr("Connect to a server - remcons"));
  error_ = new QLabel(this);
  error_->setWordWrap(true);
  error_->setStyleSheet(QStringLiteral("QLabel { color: #b00020; }"));
  error_->hide();

  host_ = new QComboBox(this);
  host_->setEditable(true);
  host_->setInsertPolicy(QComboBox::NoInsert);
  host_->lineEdit()->setPlaceholderText(tr("name or IPv4 address"));
  for (const ConnectTarget& t : recent_) {
    host_->addItem(t.user.isEmpty() ? QStringLiteral("%1:%2").arg(t.host).arg(t.port)
                                    : QStringLiteral("%1@%2:%3").arg(t.user, t.host).arg(t.port));
  }
  host_->setCurrentIndex(-1);
  host_->setEditText(QString());
  port_ = new QSpinBox(this);
  port_->setRange(1, 65535);
  port_->setValue(23);
  user_ = new QLineEdit(this);
  password_ = new QLineEdit(this);
  password_->setEchoMode(QLineEdit::Password);
  encryption_ = new QCheckBox(tr("Encipher the session"), this);
  vmPort_ = new QSpinBox(this);
  vmPort_->setRange(0, 65535);
  vmPort_->setSpecialValueText(tr("none"));

  auto* form = new QFormLayout;
  form->addRow(tr("&Address:"), host_);
  form->addRow(tr("&Port:"), port_);
  form->addRow(tr("&User name:"), user_);
  form->addRow(tr("Pass&word:"), password_);
  form->addRow(QString(), encryption_);
  form->addRow(tr("&Virtual-media port:"), vmPort_);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Cancel, this);
  connect_ = buttons->addButton(tr("&Connect"), QDialogButtonBox::AcceptRole);
  connect_->setDefault(true);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(error_);
  layout->addLayout(form);
  layout->addWidget(buttons);

  // A recent server picked from the list fills every field but the password.
  connect(host_, qOverload<int>(&QComboBox::activated), this, [this](int index) { Pick(index); });
  auto ready = [this] { connect_->setEnabled(!host_->currentText().trimmed().isEmpty()); };
  connect(host_, &QComboBox::editTextChanged, this, ready);
  ready();
}

void ConnectDialog::accept() {
  const std::string problem = LoginProblem(user_->text().toStdString(), Password().text());
  if (!problem.empty()) {
    ShowError(QString::fromStdString(problem));
    return;
  }
  QDialog::accept();
}

void ConnectDialog::Pick(int index) {
  if (index < 0 || index >= static_cast<int>(recent_.size())) return;
  SetTarget(recent_[static_cast<size_t>(index)]);
  password_->setFocus();
}

void ConnectDialog::SetTarget(const ConnectTarget& t) {
  host_->setEditText(t.host);
  port_->setValue(t.port);
  user_->setText(t.user);
  encryption_->setChecked(t.encryption);
  vmPort_->setValue(t.vmPort);
}

ConnectTarget ConnectDialog::target() const {
  ConnectTarget t;
  t.host = host_->currentText().trimmed();
  // A recent entry shown as user@host:port stands for its host.
  for (size_t i = 0; i < recent_.size(); ++i) {
    if (t.host == host_->itemText(static_cast<int>(i))) t.host = recent_[i].host;
  }
  t.port = static_cast<uint16_t>(port_->value());
  t.user = user_->text();
  t.encryption = encryption_->isChecked();
  t.vmPort = static_cast<uint16_t>(vmPort_->value());
  return t;
}

void ConnectDialog::ShowError(const QString& text) {
  error_->setText(text);
  error_->setVisible(!text.isEmpty());
}

QString ConnectDialog::error() const {
  return error_->isVisible() ? error_->text() : QString();
}

SecretString ConnectDialog::Password() const {
  QString typed = password_->text();
  SecretString out(typed.toStdString());
  typed.fill(QChar(0));
  return out;
}

void ConnectDialog::WipePassword() {
  // Overwritten before it is emptied, so that the field's last text is no password.
  password_->setText(QString(password_->text().size(), QChar('x')));
  password_->clear();
}

}  // namespace remcons
