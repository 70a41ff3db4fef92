// The desktop's target chooser on the offscreen platform: each dialog is answered as a user would
// (a path typed into the file name box, then accepted), and what was chosen is served to the
// simulator's virtual-media side; the headless chooser's refusal.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>
#include <QWidget>
#include <chrono>
#include <functional>
#include <optional>

#include "app/MediaChecks.h"
#include "host/qt/VmChooser.h"
#include "host/qt/VmChooserHeadless.h"
#include "platform/Strings.h"
#include "vmedia/VmHarness.h"
#include "vmedia/VmTestUtil.h"

namespace remcons {
namespace {

using vmtest::TempDir;

// Answers the next modal file dialog with answer (run on it while it is open); gives up on it
// (rejects whatever is modal) after 10 s so that no test hangs on a dialog that never came right.
class DialogAnswer {
 public:
  explicit DialogAnswer(std::function<void(QFileDialog&)> answer) : answer_(std::move(answer)) {
    timer_.setInterval(20);
    QObject::connect(&timer_, &QTimer::timeout, [this] { Poll(); });
    start_ = std::chrono::steady_clock::now();
    timer_.start();
  }
  bool answered() const { return answered_; }

 private:
  void Poll() {
    QWidget* modal = QApplication::activeModalWidget();
    if (auto* dialog = qobject_cast<QFileDialog*>(modal); dialog && !answered_) {
      answered_ = true;
      timer_.stop();
      answer_(*dialog);
      return;
    }
    if (std::chrono::steady_clock::now() - start_ > std::chrono::seconds(10)) {
      timer_.stop();
      if (modal) modal->close();
    }
  }

  std::function<void(QFileDialog&)> answer_;
  QTimer timer_;
  std::chrono::steady_clock::time_point start_;
  bool answered_ = false;
};

// Types path into the dialog's file name box and accepts, as DESIGN's dialog notes say.
void TypeAndAccept(QFileDialog& dialog, const std::string& path) {
  auto* edit = dialog.findChild<QLineEdit*>("fileNameEdit");
  ASSERT_NE(edit, nullptr);
  edit->setText(QString::fromStdString(path));
  static_cast<QDialog&>(dialog).accept();  // QFileDialog's own accept, which reads the box
}

// A console's pieces around a VMConnection that asks the desktop chooser.
struct ChooserRig {
  explicit ChooserRig(sim::VmSimOptions options = vmtest::SimOptions())
      : lb(options), chooser(&owner, &lb.host) {
    EXPECT_TRUE(lb.Start());
  }
  // Asks the desktop chooser, or the one given.
  std::unique_ptr<VMConnection> Connection(VmKind kind, VmTargetChooser* other = nullptr) {
    VmConnectionSettings s;
    s.server = "127.0.0.1";
    s.port = lb.server.Port();
    s.key = lb.key;
    s.host = &lb.host;
    s.control = &lb.control;
    s.chooser = other ? other : &chooser;
    return std::make_unique<VMConnection>(kind, s);
  }
  vmtest::Loopback lb;
  QWidget owner;
  VmChooser chooser;
};

TEST(VmChooser, AnImageOrIsoChosenInTheDialogIsServed) {
  const struct {
    VmKind kind;
    std::string name;
    size_t size;
    QStringList filters;
    VmKind device;
  } cases[] = {
      {VmKind::ImageFile, "disk one.img", 1474560,
       QStringList(std::begin(VmChooser::kImageFilters), std::end(VmChooser::kImageFilters)),
       VmKind::FloppyImage},
      {VmKind::CdImage, "install.ISO", 2048 * 200,
       QStringList(std::begin(VmChooser::kCdImageFilters), std::end(VmChooser::kCdImageFilters)),
       VmKind::CdImage},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const std::vector<uint8_t> bytes = vmtest::RandomBytes(c.size, 41);
    const std::string image = dir / c.name;
    vmtest::WriteFile(image, bytes);
    auto options = vmtest::SimOptions();
    options.dumpFile = dir / "dump";
    ChooserRig rig(options);
    rig.lb.host.keyboardGrabbed = true;  // the console had the keyboard
    std::optional<bool> grabbedAtDialog;
    QStringList filters;
    DialogAnswer answer([&](QFileDialog& dialog) {
      grabbedAtDialog = rig.lb.host.keyboardGrabbed.load();
      filters = dialog.nameFilters();
      EXPECT_EQ(dialog.fileMode(), QFileDialog::ExistingFile);
      EXPECT_EQ(dialog.parentWidget(), &rig.owner);
      if (c.kind == VmKind::ImageFile) {
        EXPECT_EQ(dialog.defaultSuffix(), "img");
      }
      TypeAndAccept(dialog, image);
    });
    auto connection = rig.Connection(c.kind);
    ASSERT_EQ(connection->Connect("\x7f:"), VMConnection::kOk) << connection->LastMessage();
    EXPECT_TRUE(answer.answered());
    EXPECT_EQ(grabbedAtDialog, false);
    EXPECT_EQ(filters, c.filters);
    EXPECT_EQ(connection->Target(), image);
    EXPECT_EQ(connection->DeviceKind(), c.device);
    ASSERT_TRUE(rig.lb.server.WaitSessions(1, 60000));
    connection->Disconnect();
    EXPECT_TRUE(rig.lb.server.LastSummary().ok) << rig.lb.server.LastSummary().error;
    EXPECT_EQ(vmtest::ReadFile(options.dumpFile), bytes);
    if (c.kind != VmKind::ImageFile) continue;

    // The next dialog opens at the last choice.
    QString openedIn, nameShown;
    DialogAnswer again([&](QFileDialog& dialog) {
      openedIn = dialog.directory().absolutePath();
      nameShown = dialog.findChild<QLineEdit*>("fileNameEdit")->text();
      dialog.reject();
    });
    std::string path;
    EXPECT_FALSE(rig.chooser.ChooseImageFile(&path));
    EXPECT_TRUE(again.answered());
    EXPECT_EQ(openedIn.toStdString(), dir.path());
    EXPECT_EQ(nameShown.toStdString(), c.name);
  }
}

TEST(VmChooser, AFolderChosenInTheBrowserIsServedAsAFatVolume) {
  if (!apptest::HaveFatTools()) GTEST_SKIP() << "fsck.fat and mcopy are needed";
  TempDir dir;
  vmtest::WriteFile(dir / "share/tools/flash.exe", vmtest::RandomBytes(70000, 43));
  vmtest::WriteText(dir / "share/notes.txt", "firmware 2.10\r\n");
  auto options = vmtest::SimOptions();
  options.dumpFile = dir / "dump.img";
  ChooserRig rig(options);
  QString title, note;
  bool newFolderShown = true;
  DialogAnswer answer([&](QFileDialog& dialog) {
    title = dialog.windowTitle();
    if (auto* label = dialog.findChild<QLabel*>("folderNote")) note = label->text();
    auto* newFolder = dialog.findChild<QWidget*>("newFolderButton");
    ASSERT_NE(newFolder, nullptr);
    newFolderShown = newFolder->isVisible();
    EXPECT_EQ(dialog.fileMode(), QFileDialog::Directory);
    TypeAndAccept(dialog, dir / "share");
  });
  auto connection = rig.Connection(VmKind::Folder);
  ASSERT_EQ(connection->Connect("~:"), VMConnection::kOk) << connection->LastMessage();
  EXPECT_EQ(title.toStdString(), "Choose a folder to mount:");
  EXPECT_EQ(note.toStdString(), LoadString(140));
  EXPECT_FALSE(newFolderShown);
  EXPECT_EQ(connection->Target(), dir / "share");
  EXPECT_EQ(connection->DeviceKind(), VmKind::Folder);
  ASSERT_TRUE(rig.lb.server.WaitSessions(1, 60000));
  connection->Disconnect();
  apptest::ExpectVolumeOfFolder(options.dumpFile, dir / "share", dir / "copy");
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
    SCOPED_TRACE(VmKindName(kind));
    ChooserRig rig;
    {
      DialogAnswer answer([](QFileDialog& dialog) { dialog.reject(); });
      auto connection = rig.Connection(kind);
      EXPECT_EQ(connection->Connect("~:"), VMConnection::kCancelled);
      EXPECT_TRUE(answer.answered());
      EXPECT_FALSE(connection->IsConnected());
    }
    if (kind == VmKind::ImageFile) {
      DialogAnswer answer([&](QFileDialog& dialog) { TypeAndAccept(dialog, iso); });
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

// Widgets on the offscreen platform, Qt's own dialogs, no desktop theme.
int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  qputenv("QT_QPA_PLATFORMTHEME", "");
  ::testing::InitGoogleTest(&argc, argv);
  QApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
  QApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
