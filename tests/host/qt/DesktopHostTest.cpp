// The desktop console's pieces on the offscreen platform: keys as the hook sees them and the
// characters they type, message boxes, the capture dialogs, and the widget's Qt properties.
#include <gtest/gtest.h>

#include <QDialog>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QMetaProperty>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <tuple>

#include "host/qt/DesktopDialogs.h"
#include "host/qt/DesktopHost.h"
#include "host/qt/DesktopUtil.h"
#include "host/qt/KeyGrab.h"
#include "host/qt/RemConsWidget.h"

namespace remcons {
namespace {

using testing::WaitUntil;

// --- Keys ---

struct KeyCase {
  const char* name;
  int keycode;  // X keycode
  int qtKey;
  uint32_t vk, scan;
  bool extended;
};

TEST(KeyTranslator, NamesKeysByTheirPlaceNotByTheLayout) {
  const KeyCase cases[] = {
      {"A (types q on AZERTY)", 38, Qt::Key_Q, 0x41, 0x1E, false},
      {"keypad 7 with Num Lock", 79, Qt::Key_7, 0x67, 0x47, false},
      // Num Lock off: the keypad key reports Home, not extended (the HID procedure makes it
      // keypad 7 again), unlike the Home key of the navigation cluster.
      {"keypad 7 without Num Lock", 79, Qt::Key_Home, 0x24, 0x47, false},
      {"Home", 110, Qt::Key_Home, 0x24, 0x47, true},
      {"JIS Yen (key 0 in Qt)", 132, 0, 0xFF, 0x7D, false},
  };
  for (const KeyCase& c : cases) {
    SCOPED_TRACE(c.name);
    KeyTranslator keys;
    const std::optional<KeyEvent> e = keys.Translate(c.keycode, c.qtKey, false);
    ASSERT_TRUE(e);
    EXPECT_EQ(std::tuple(e->vkCode, e->scanCode, e->extended, e->keyUp, e->altDown),
              std::tuple(c.vk, c.scan, c.extended, false, false));
  }
  KeyTranslator keys;
  EXPECT_FALSE(keys.Translate(0, Qt::Key_A, false));  // no native code (QTest's events)
  EXPECT_FALSE(keys.Translate(8 + 240, 0, false));    // a key without a row
}

struct CharCase {
  const char* name;
  std::vector<int> held;  // X keycodes held before
  int keycode;
  int qtKey;
  QString text;
  std::vector<uint8_t> typed;
};

TEST(KeyTranslator, TypesTheUsLayoutsCharacters) {
  const CharCase cases[] = {
      {"A on a layout that types q there", {}, 38, Qt::Key_Q, "q", {'a'}},
      {"Shift+2 is @", {50}, 11, Qt::Key_QuoteDbl, "\"", {'@'}},
      {"Control+C", {37}, 54, Qt::Key_C, "\x03", {0x03}},
      {"Control+[ is Escape", {37}, 34, Qt::Key_BracketLeft, "\x1b", {0x1B}},
      {"Control+1 types nothing", {37}, 10, Qt::Key_1, "1", {}},
      {"Enter", {}, 36, Qt::Key_Return, "\r", {0x0D}},
      {"a character outside the code page", {}, 8 + 240, 0, QString(QChar(0x4E00)), {}},
  };
  for (const CharCase& c : cases) {
    SCOPED_TRACE(c.name);
    KeyTranslator keys;
    for (int held : c.held) keys.Translate(held, 0, false);
    std::optional<KeyEvent> e = keys.Translate(c.keycode, c.qtKey, false);
    const KeyEvent key = e ? *e : KeyEvent{};
    EXPECT_EQ(keys.Characters(key, c.text), c.typed);
    // A release types nothing.
    std::optional<KeyEvent> up = keys.Translate(c.keycode, c.qtKey, true);
    EXPECT_TRUE(keys.Characters(up ? *up : KeyEvent{.keyUp = true}, c.text).empty());
  }
}

// --- Message boxes ---

// Closed without a button: Cancel where there is one, No for Yes/No, else OK.
TEST(DesktopDialogs, StylesGiveButtonsAndResults) {
  EXPECT_EQ(MessageBoxButtons(kMbYesNoCancel),
            QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
  EXPECT_EQ(MessageBoxResult(QMessageBox::NoButton, kMbYesNoCancel), kIdCancel);
  EXPECT_EQ(MessageBoxResult(QMessageBox::NoButton, kMbYesNo), kIdNo);
  EXPECT_EQ(MessageBoxResult(QMessageBox::NoButton, kMbOk), kIdOk);
  EXPECT_EQ(MessageBoxIcon(kMbIconError), QMessageBox::Critical);
  EXPECT_EQ(MessageBoxIcon(kMbIconInformation), QMessageBox::Information);
  EXPECT_EQ(MessageBoxButtons(kMbOkCancel), QMessageBox::Ok | QMessageBox::Cancel);
  EXPECT_EQ(MessageBoxResult(QMessageBox::Yes, kMbYesNo), kIdYes);
}

using testing::AnswerNextBox;
using testing::BoxAnswer;

// The session's boxes, and the widget's without a policy, shown to the user.
TEST(DesktopDialogs, ShowsTheBoxWithItsCaptionIconAndButtons) {
  BoxAnswer seen;
  AnswerNextBox(&seen, "No");
  EXPECT_EQ(ShowMessageBox(nullptr, "Accept the new user?", "Information",
                           kMbYesNo | kMbIconQuestion | kMbDefaultButton2),
            kIdNo);
  EXPECT_EQ(std::tuple(seen.title, seen.text, seen.icon, seen.buttons.size(), seen.defaultButton),
            std::tuple("Information", "Accept the new user?", QMessageBox::Question, 2, "No"));
  AnswerNextBox(&seen, "OK");
  EXPECT_EQ(ShowMessageBox(nullptr, "Failed to connect to server.", "Network Status",
                           kMbOk | kMbIconWarning | kMbSystemModal),
            kIdOk);
  EXPECT_EQ(std::tuple(seen.icon, seen.modality, seen.onTop, seen.buttons),
            std::tuple(QMessageBox::Warning, Qt::ApplicationModal, true, QStringList{"OK"}));

  RemConsWidget widget;
  widget.show();
  QStringList answered;
  QObject::connect(&widget, &RemConsWidget::MessageBoxAnswered,
                   [&](const QString& caption, const QString&, int button) {
                     answered << caption + "=" + QString::number(button);
                   });
  ASSERT_TRUE(WaitUntil([&] { return widget.SessionCreated(); }));
  AnswerNextBox(&seen, "OK");
  widget.control().ShowMessage("Virtual Power Not Authorized", "Warning", kMbOk | kMbIconWarning);
  EXPECT_EQ(std::tuple(seen.title, seen.text, seen.icon, answered),
            std::tuple("Warning", "Virtual Power Not Authorized", QMessageBox::Warning,
                       QStringList{"Warning=" + QString::number(kIdOk)}));
}

TEST(DesktopDialogs, APictureThatCannotBeMadeIsToldAndEndsTheSession) {
  RemConsWidget widget;
  // Memory for the frame runs out.
  widget.SetSurfaceFactory([](int width, int height) -> std::unique_ptr<Surface> {
    if (width > 16) throw std::bad_alloc();
    return std::make_unique<Surface>(width, height);
  });
  int shutdowns = 0;
  QObject::connect(&widget, &RemConsWidget::OnShutdown, [&] { ++shutdowns; });
  BoxAnswer seen;
  AnswerNextBox(&seen, "OK");
  widget.show();
  ASSERT_TRUE(WaitUntil([&] { return widget.SessionCreated() && shutdowns > 0; }));
  EXPECT_TRUE(widget.SessionRefused());
  EXPECT_EQ(std::tuple(seen.title, seen.icon),
            std::tuple("Video Configuration Fault", QMessageBox::Warning));
  EXPECT_TRUE(seen.text.startsWith("Out of Memory - Error 0x00000008 creating hScreenBitmap."))
      << seen.text.toStdString();
  // Nothing runs: keys and the mouse go nowhere, and the widget goes quietly.
  testing::Tap(&widget, 38, Qt::Key_A, "a");
  testing::Click(&widget, QPoint(10, 10));
  EXPECT_EQ(shutdowns, 1);
}

TEST(CaptureDialogs, TheReplayMenuAndTheFileDialogsAnswerTheSession) {
  RemConsWidget widget;
  std::vector<int> choices;
  ASSERT_TRUE(widget.host().ShowReplayMenu([&](int choice) { choices.push_back(choice); }));
  QDialog* menu = nullptr;
  for (QWidget* w : QApplication::topLevelWidgets())
    if (w->windowTitle() == "Replay Menu" && w->isVisible()) menu = qobject_cast<QDialog*>(w);
  ASSERT_TRUE(menu && !menu->isModal());
  menu->findChild<QPushButton*>("faultButton")->click();
  ASSERT_TRUE(WaitUntil([&] { return !choices.empty(); }));
  EXPECT_EQ(choices, std::vector<int>{241});

  // The save dialog adds the extension; the open dialog opens what is there.
  QTemporaryDir folder;
  QFile(folder.filePath("old.kro")).open(QIODevice::WriteOnly);
  for (bool save : {true, false}) {
    QTimer::singleShot(50, [&] {
      auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
      ASSERT_TRUE(dialog);
      EXPECT_EQ(dialog->windowTitle(), save ? "Capture File" : "Replay File");
      EXPECT_EQ(dialog->selectedNameFilter(), "All (*)");
      dialog->setDirectory(folder.path());
      dialog->findChild<QLineEdit*>("fileNameEdit")->setText(save ? "new" : "old.kro");
      static_cast<QDialog*>(dialog)->accept();  // the file dialog's own, which reads the box
    });
    const Host::FileDialog request{
        save ? "Capture File" : "Replay File", save, {"All (*)", "Text (*.KRO)"}, "kro"};
    EXPECT_EQ(widget.host().ChooseFile(request),
              folder.filePath(save ? "new.kro" : "old.kro").toStdString());
  }
}

// --- The widget's properties ---

TEST(RemConsWidgetProperties, AreTheControlsPropertiesByName) {
  RemConsWidget widget;
  const QMetaObject* meta = widget.metaObject();
  for (const PropertyInfo& info : kRemConsProperties) {
    const int index = meta->indexOfProperty(info.name);
    ASSERT_GE(index, meta->propertyOffset()) << info.name << " is not the widget's own property";
    EXPECT_TRUE(meta->property(index).isWritable()) << info.name;
  }
  EXPECT_EQ(meta->propertyCount() - meta->propertyOffset(), std::ssize(kRemConsProperties));
  // The control's rules hold: a refused value leaves the property, secrets do not read back.
  for (const auto& [name, value, reads] : {std::tuple{"port", QVariant(2323), QVariant(2323)},
                                           {"mouseMode", 3, 0},
                                           {"fullScreen", 7, 1},
                                           {"encryptKey", QString(32, 'A'), ""},
                                           {"target", "10.1.2.3", "10.1.2.3"},
                                           {"width", 800, 800}}) {
    widget.setProperty(name, value);
    QVariant got = widget.property(name);
    EXPECT_TRUE(got.convert(reads.metaType()) && got == reads) << name;
  }
  EXPECT_EQ(widget.property("timeout").toUInt(), 15u);
}

}  // namespace
}  // namespace remcons
