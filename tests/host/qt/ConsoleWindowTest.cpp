// The remcons program's window in-process (offscreen): it follows the control's events as a page
// would. OnResize fits it to the picture, OnStatus is its title, OnDialog's text is shown, and
// OnShutdown closes it once that text has been read.
#include <gtest/gtest.h>

#include <QMessageBox>
#include <QTimer>
#include <functional>

#include "ConsoleWindow.h"
#include "host/qt/DesktopUtil.h"

namespace remcons {
namespace {

using testing::ScratchDir;
using testing::SimOptions;
using testing::SimParams;

// Runs step every 10 ms on the event loop until it returns true.
void Every10Ms(QObject* context, std::function<bool()> step) {
  auto* timer = new QTimer(context);
  QObject::connect(timer, &QTimer::timeout, context, [timer, step = std::move(step)] {
    if (step()) timer->stop();
  });
  timer->start(10);
}

// The window against a simulator; each test's steps end the session long before the bound.
class ConsoleWindowRun : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(server.Start(&error)) << error;
    ConsoleRunOptions run;
    run.params = SimParams(server.Port());
    run.eventsPath = dir / "events.json";
    run.seconds = 20;
    console = std::make_unique<app::WindowedConsole>(std::move(run));
  }
  void TearDown() override {
    console.reset();
    server.Stop();
  }
  sim::ConsoleServer server{SimOptions()};
  ScratchDir dir;
  std::unique_ptr<app::WindowedConsole> console;
  std::string error;
};

TEST_F(ConsoleWindowRun, FollowsTheControlsEventsAsAPageWould) {
  app::ConsoleWindow& window = console->window();
  // What the window showed at each step: its size, its title, the text, and whether it was open
  // while the text was shown after the session had ended.
  std::vector<QString> seen;
  QObject context;
  Every10Ms(&context, [&] {
    switch (seen.size()) {
      case 0:
        if (window.console().size() != QSize(1024, 768)) return false;
        seen.push_back("1024x768");
        server.SendText(2, "Ready");
        return false;
      case 1:
        if (!window.windowTitle().contains("Ready")) return false;
        seen.push_back(window.windowTitle());
        // The server ends the session with a reason for the user.
        server.SendText(6, "Session taken over by another user");
        return false;
      case 2:
        if (!window.dialogText()) return false;
        seen.push_back(window.dialogText()->text());
        return false;
      default:
        // The session has ended; the window waits for the user to read the text.
        if (console->control().ConsoleThreadRunning()) return false;
        seen.push_back(window.isVisible() ? "open" : "closed");
        window.dialogText()->close();
        return true;
    }
  });
  EXPECT_EQ(console->Run(&error), ExitStatus::kOk) << error;
  EXPECT_EQ(seen, (std::vector<QString>{"1024x768", "1024x768 | Ready",
                                        "Session taken over by another user", "open"}));
  EXPECT_FALSE(window.isVisible());
  const std::vector<std::string> names =
      testing::EventNames(testing::ReadJsonLines(dir / "events.json"));
  EXPECT_TRUE(names.size() >= 4 && names[0] == "OnResize" && names.back() == "OnShutdown");
}

// The window closed (or the program interrupted) while a box of the console thread waits for an
// answer: the box goes, and the session ends instead of waiting for it for ever.
TEST_F(ConsoleWindowRun, ClosingItWhileTheConsoleThreadWaitsForABoxEndsTheSession) {
  bool modeSet = false;
  QString boxText;
  QObject context;
  Every10Ms(&context, [&] {
    if (!modeSet) {
      if (console->window().console().size() != QSize(1024, 768)) return false;
      // Larger than the console shows: a warning box, posted to the window.
      server.SetMode(1600, 1200);
      modeSet = true;
      return false;
    }
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box) return false;
    boxText = box->text();
    console->window().close();
    return true;
  });
  EXPECT_EQ(console->Run(&error), ExitStatus::kOk) << error;
  EXPECT_TRUE(boxText.startsWith("Remote video mode exceeds capabilities"))
      << boxText.toStdString();
  EXPECT_EQ(console->control().EndReason(), CRemCons::SessionEnd::kStopped);
  EXPECT_FALSE(console->control().ConsoleThreadRunning());
  EXPECT_TRUE(server.WaitForNoSession(5000));
}

}  // namespace
}  // namespace remcons
