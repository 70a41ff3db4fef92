// The desktop's target chooser on the offscreen platform: each dialog is answered as a user would
// (a path typed into the file name box, then accepted), and what was chosen is served to the
// simulator's virtual-media side; the refusals, and the headless chooser's.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>
#include <chrono>
#include <functional>
#include <optional>

#include "host/qt/VmChooser.h"
#include "host/qt/VmChooserHeadless.h"
#include "platform/Strings.h"
#include "vmedia/VmHarness.h"

namespace remcons {
namespace {

using vmtest::TempDir;

// Answers the next modal file dialog; whatever is modal after 10 s is closed, so that no test
// hangs on a dialog that never came.
void AnswerNextDialog(std::function<void(QFileDialog&)> answer) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  auto* timer = new QTimer(qApp);
  QObject::connect(timer, &QTimer::timeout, [timer, answer, end] {
    QWidget* modal = QApplication::activeModalWidget();
    auto* dialog = qobject_cast<QFileDialog*>(modal);
    if (!dialog && std::chrono::steady_clock::now() < end) return;
    timer->deleteLater();
    timer->stop();
    if (dialog) return answer(*dialog);
    if (modal) modal->close();
  });
  timer->start(20);
}

// The path typed into the file name box, then QFileDialog's own accept, which reads the box.
void TypeAndAccept(QFileDialog& dialog, const std::string& path) {
  dialog.findChild<QLineEdit*>("fileNameEdit")->setText(QString::fromStdString(path));
  static_cast<QDialog&>(dialog).accept();
}

// A console's pieces around a VMConnection that asks the desktop chooser, or the one given.
struct ChooserRig {
  explicit ChooserRig(sim::VmSimOptions options = vmtest::SimOptions())
      : lb(options), chooser(&owner, &lb.host) {
    EXPECT_TRUE(lb.Start());
  }
  std::unique_ptr<VMConnection> Connection(VmKind kind, VmTargetChooser* other = nullptr) {
    return std::make_unique<VMConnection>(
        kind, VmConnectionSettings{.server = "127.0.0.1",
                                   .port = lb.server.Port(),
                                   .key = lb.key,
                                   .host = &lb.host,
                                   .control = &lb.control,
                                   .chooser = other ? other : &chooser});
  }
  vmtest::Loopback lb;
  QWidget owner;
  VmChooser chooser;
};

TEST(VmChooser, AnImageAnIsoOrAFolderChosenInTheDialogIsServed) {
  auto list = [](const auto& filters) {
    return QStringList(std::begin(filters), std::end(filters));
  };
  const struct {
    VmKind kind;
    std::string name;
    QStringList shown;  // the filters; for the folder its title and note
    VmKind device;
  } cases[] = {
      {VmKind::ImageFile, "disk one.img", list(VmChooser::kImageFilters), VmKind::FloppyImage},
      {VmKind::CdImage, "install.ISO", list(VmChooser::kCdImageFilters), VmKind::CdImage},
      {VmKind::Folder,
       "share",
       {"Choose a folder to mount:", QString::fromUtf8(LoadString(140))},
       VmKind::Folder},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const bool folder = c.kind == VmKind::Folder;
    if (folder && !vmtest::HaveFatTools()) GTEST_SKIP() << "fsck.fat, mdir and mcopy are needed";
    TempDir dir;
    const std::string target = dir / c.name;
    const std::vector<uint8_t> bytes = vmtest::RandomBytes(folder ? 70000 : 2048 * 720, 41);
    vmtest::WriteFile(folder ? target + "/tools/flash.exe" : target, bytes);
    if (folder) vmtest::WriteText(target + "/notes.txt", "firmware 2.10\r\n");
    auto options = vmtest::SimOptions();
    options.dumpFile = dir / "dump";
    ChooserRig rig(options);
    rig.lb.host.keyboardGrabbed = true;  // the console had the keyboard
    std::optional<bool> grabbedAtDialog;
    QStringList shown;
    AnswerNextDialog([&](QFileDialog& dialog) {
      grabbedAtDialog = rig.lb.host.keyboardGrabbed.load();
      EXPECT_EQ(dialog.parentWidget(), &rig.owner);
      EXPECT_EQ(dialog.fileMode(), folder ? QFileDialog::Directory : QFileDialog::ExistingFile);
      shown = dialog.nameFilters();
      if (folder) {
        shown = {dialog.windowTitle(), dialog.findChild<QLabel*>("folderNote")->text()};
        EXPECT_FALSE(dialog.findChild<QWidget*>("newFolderButton")->isVisible());
      }
      TypeAndAccept(dialog, target);
    });
    auto connection = rig.Connection(c.kind);
    ASSERT_EQ(connection->Connect("\x7f:"), VMConnection::kOk) << connection->LastMessage();
    EXPECT_EQ(grabbedAtDialog, false);
    EXPECT_EQ(shown, c.shown);
    EXPECT_EQ(connection->Target(), target);
    EXPECT_EQ(connection->DeviceKind(), c.device);
    ASSERT_TRUE(rig.lb.server.WaitSessions(1, 60000));
    connection->Disconnect();
    EXPECT_TRUE(rig.lb.server.LastSummary().ok) << rig.lb.server.LastSummary().error;
    if (folder) {
      vmtest::CheckFatImage(target, options.dumpFile);
    } else {
      EXPECT_EQ(vmtest::ReadFile(options.dumpFile), bytes);
    }
    if (c.kind != VmKind::ImageFile) continue;
    // The next dialog opens at the last choice.
    QString openedAt;
    AnswerNextDialog([&](QFileDialog& dialog) {
      openedAt =
          dialog.directory().absoluteFilePath(dialog.findChild<QLineEdit*>("fileNameEdit")->text());
      dialog.reject();
    });
    std::string path;
    EXPECT_FALSE(rig.chooser.ChooseImageFile(&path));
    EXPECT_EQ(openedAt.toStdString(), target);
  }
}

// A cancelled dialog, an ISO chosen as an image file, and the headless chooser (which says how
// to mount from the command line) all mount nothing: no socket is opened.
TEST(VmChooser, RefusalsMountNothing) {
  TempDir dir;
  const std::string iso = dir / "tools.iso";
  vmtest::WriteFile(iso, vmtest::RandomBytes(2048 * 10, 44));
  const std::pair<VmKind, const char*> kinds[] = {{VmKind::ImageFile, "--mount image=PATH"},
                                                  {VmKind::CdImage, "--mount cdimage=PATH"},
                                                  {VmKind::Folder, "--mount folder=PATH"}};
  for (const auto& [kind, option] : kinds) {
    SCOPED_TRACE(option);
    ChooserRig rig;
    bool asked = false;
    AnswerNextDialog([&](QFileDialog& dialog) {
      asked = true;
      dialog.reject();
    });
    EXPECT_EQ(rig.Connection(kind)->Connect("~:"), VMConnection::kCancelled);
    EXPECT_TRUE(asked);
    if (kind == VmKind::ImageFile) {
      AnswerNextDialog([&](QFileDialog& dialog) { TypeAndAccept(dialog, iso); });
      EXPECT_EQ(rig.Connection(kind)->Connect("\x7f:"), VMConnection::kCancelled);
      ASSERT_EQ(rig.lb.host.Boxes().size(), 1u);
      EXPECT_EQ(rig.lb.host.Boxes()[0].text, "Invalid image type");
      rig.lb.host.ClearRecords();
    }
    HeadlessVmChooser headless(&rig.lb.host);
    EXPECT_EQ(rig.Connection(kind, &headless)->Connect("~:"), VMConnection::kCancelled);
    const auto boxes = rig.lb.host.Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, "Error");
    EXPECT_EQ(boxes[0].text, HeadlessVmChooser::Reason(kind));
    EXPECT_NE(boxes[0].text.find(option), std::string::npos) << boxes[0].text;
    EXPECT_EQ(rig.lb.server.Sessions(), 0);
    EXPECT_TRUE(rig.lb.server.LogLines().empty());
  }
}

}  // namespace
}  // namespace remcons
