#include "host/qt/ClientListDialog.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace remcons {

ClientListDialog::ClientListDialog(QWidget* parent, std::function<void(int row)> disconnect)
    : QDialog(parent) {
  setWindowTitle(QStringLiteral("Client List"));
  setModal(false);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel(QStringLiteral("Users joined to this multi-user session:"), this));
  auto* grid = new QGridLayout();
  for (int row = 0; row < kClientListRows; ++row) {
    texts_[row] = new QLineEdit(this);
    texts_[row]->setReadOnly(true);
    texts_[row]->setMinimumWidth(320);
    texts_[row]->setObjectName(QStringLiteral("client%1").arg(row));
    buttons_[row] = new QPushButton(QStringLiteral("Disconnect"), this);
    buttons_[row]->setObjectName(QStringLiteral("disconnect%1").arg(row));
    buttons_[row]->setAutoDefault(false);
    connect(buttons_[row], &QPushButton::clicked, this, [disconnect, row] { disconnect(row); });
    grid->addWidget(texts_[row], row, 0);
    grid->addWidget(buttons_[row], row, 1);
  }
  layout->addLayout(grid);
  auto* ok = new QDialogButtonBox(QDialogButtonBox::Ok, this);
  connect(ok, &QDialogButtonBox::accepted, this, &QDialog::accept);
  layout->addWidget(ok);
}

void ClientListDialog::ShowRows(const ClientListRows& rows) {
  for (int row = 0; row < kClientListRows; ++row) {
    texts_[row]->setText(QString::fromStdString(rows[row].text));
    buttons_[row]->setEnabled(rows[row].canDisconnect);
  }
}

}  // namespace remcons
