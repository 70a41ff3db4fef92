// The headless console in-process against the simulator: a scripted session's JSON events, its
// snapshot against the simulator's screen, message boxes answered from the policy, and the ways a
// run ends.
#include <gtest/gtest.h>

#include "host/qt/HeadlessConsole.h"
#include "host/qt/HeadlessUtil.h"

namespace remcons {
namespace {

using testing::DifferencesFromScreen;
using testing::EventNames;
using testing::ReadJsonLines;
using testing::ReadPng;
using testing::ScratchDir;
using testing::SimOptions;
using testing::SimParams;

class HeadlessRun : public ::testing::Test {
 protected:
  void StartServer(sim::ConsoleServerOptions options = SimOptions()) {
    server_ = std::make_unique<sim::ConsoleServer>(options);
    std::string error;
    ASSERT_TRUE(server_->Start(&error)) << error;
  }
  void TearDown() override {
    if (server_) server_->Stop();
  }
  // Runs a console with these options; the events land in events.json.
  ExitStatus Run(HeadlessOptions options, std::string* reason) {
    options.eventsPath = dir_ / "events.json";
    HeadlessConsole console(std::move(options));
    return console.Run(reason);
  }
  std::vector<QJsonObject> Events(std::vector<std::string>* raw = nullptr) {
    return ReadJsonLines(dir_ / "events.json", raw);
  }

  ScratchDir dir_;
  std::unique_ptr<sim::ConsoleServer> server_;
};

TEST_F(HeadlessRun, AScriptedSessionWritesItsEventsAndASnapshotOfTheServersScreen) {
  StartServer();
  HeadlessOptions options;
  options.params = SimParams(server_->Port());
  options.snapshotPath = dir_ / "end.png";
  options.script = ScriptFromLines({
      "# type a command at the boot prompt and point at it",
      "wait-event OnResize 10000",
      "sleep 300",
      "type dir /w\\n",
      "move 200 150",
      "dblclick left",
      "sleep 400",
      "snapshot " + (dir_ / "middle.png"),
      "command 18",
      "sleep 200",
      "stop",
  });
  std::string reason;
  ASSERT_EQ(Run(std::move(options), &reason), ExitStatus::kOk) << reason;

  std::vector<std::string> raw;
  const std::vector<QJsonObject> events = Events(&raw);
  ASSERT_GE(events.size(), 4u);
  for (size_t i = 0; i < events.size(); ++i) EXPECT_FALSE(events[i].isEmpty()) << raw[i];
  EXPECT_EQ(raw.front(), "{\"event\":\"OnResize\",\"cx\":1024,\"cy\":768}");
  // The refresh brings the whole screen again, its mode command included: the same size is
  // reported once more. The script ended the session: OnShutdown from the end of the stream and
  // from the stop.
  EXPECT_EQ(EventNames(events),
            (std::vector<std::string>{"OnResize", "OnResize", "OnShutdown", "OnShutdown"}));
  EXPECT_EQ(raw[1], raw[0]);

  // What the server saw: the typed command, the pointer, the double click, the refresh.
  EXPECT_NE(server_->ScreenText().find("boot: dir /w"), std::string::npos);
  EXPECT_EQ(server_->PacketCount("mouse-click"), 1u);
  EXPECT_EQ(server_->PacketCount("refresh"), 1u);
  EXPECT_EQ(server_->PacketCount("char"), 7u);  // "dir /w" and the carriage return

  // The snapshot is the server's screen, pixel for pixel.
  int width = 0, height = 0;
  const std::vector<uint32_t> screen = server_->ScreenPixels(&width, &height);
  for (const char* name : {"middle.png", "end.png"}) {
    std::optional<testing::RgbImage> image = ReadPng(dir_ / name);
    ASSERT_TRUE(image) << name;
    EXPECT_EQ(DifferencesFromScreen(*image, screen, width, height), 0) << name;
  }
}

TEST_F(HeadlessRun, ModeChangesResizeTheWindowAndItsSnapshot) {
  auto options = SimOptions();
  options.script = {};
  StartServer(options);
  HeadlessOptions run;
  run.params = SimParams(server_->Port());
  // fullScreen as it comes by default: without a display the console is windowed all the same.
  std::erase_if(run.params, [](const auto& p) { return p.first == "fullScreen"; });
  run.snapshotPath = dir_ / "end.png";
  run.script = ScriptFromLines({"wait-event OnResize 10000"});
  run.seconds = 2;
  // The server changes its mode while the console runs.
  std::thread changer([&] {
    if (server_->WaitForSession(10000)) {
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
      server_->SetMode(800, 600);
    }
  });
  std::string reason;
  const ExitStatus status = Run(std::move(run), &reason);
  changer.join();
  ASSERT_EQ(status, ExitStatus::kOk) << reason;
  std::vector<std::string> raw;
  Events(&raw);
  ASSERT_GE(raw.size(), 2u);
  EXPECT_EQ(raw[0], "{\"event\":\"OnResize\",\"cx\":1024,\"cy\":768}");
  EXPECT_EQ(raw[1], "{\"event\":\"OnResize\",\"cx\":800,\"cy\":600}");
  int width = 0, height = 0;
  const std::vector<uint32_t> screen = server_->ScreenPixels(&width, &height);
  std::optional<testing::RgbImage> image = ReadPng(dir_ / "end.png");
  ASSERT_TRUE(image);
  EXPECT_EQ(image->width, 800);
  EXPECT_EQ(DifferencesFromScreen(*image, screen, width, height), 0);
}

TEST_F(HeadlessRun, TheServersEndsAndTheirExitStatus) {
  struct Case {
    const char* name;
    const char* serverCommand;
    ExitStatus status;
    std::vector<std::string> tail;  // the last events
  } cases[] = {
      {"seize", "seize", ExitStatus::kOk, {"OnDialog", "OnShutdown"}},
      {"end text", "end Maintenance window", ExitStatus::kOk, {"OnDialog", "OnShutdown"}},
      {"dropped", "drop", ExitStatus::kFailed, {"MessageBox", "OnShutdown"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    StartServer();
    HeadlessOptions run;
    run.params = SimParams(server_->Port());
    run.seconds = 20;
    std::thread ender([&] {
      if (server_->WaitForSession(10000)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        server_->Execute(c.serverCommand);
      }
    });
    std::string reason;
    const ExitStatus status = Run(std::move(run), &reason);
    ender.join();
    server_->Stop();
    EXPECT_EQ(status, c.status) << reason;
    const std::vector<std::string> names = EventNames(Events());
    ASSERT_GE(names.size(), c.tail.size() + 1);
    EXPECT_EQ(std::vector<std::string>(names.begin() + 1, names.begin() + 1 + c.tail.size()),
              c.tail);
    if (c.status != ExitStatus::kOk) {
      EXPECT_EQ(reason,
                "the connection to 127.0.0.1:" + std::to_string(server_->Port()) + " was lost");
      const QJsonObject box = Events()[1];
      EXPECT_EQ(box.value("caption").toString(), "Network Error");
      EXPECT_EQ(box.value("text").toString(), "Connection to Kro lost");
      EXPECT_EQ(box.value("answer").toString(), "OK");
    }
  }
}

TEST_F(HeadlessRun, ASilentServerIsAFailureToConnect) {
  auto options = SimOptions();
  options.silent = true;
  StartServer(options);
  HeadlessOptions run;
  run.params = SimParams(server_->Port());
  run.seconds = 1;
  std::string reason;
  EXPECT_EQ(Run(std::move(run), &reason), ExitStatus::kFailed);
  EXPECT_EQ(reason, "failed to connect to 127.0.0.1:" + std::to_string(server_->Port()) +
                        ": no start reply before --seconds 1 ended the attempt");
  EXPECT_EQ(EventNames(Events()), (std::vector<std::string>{"OnShutdown"}));
}

TEST_F(HeadlessRun, BadOptionsAndScriptsEndTheRun) {
  StartServer();
  {
    // Secrets are not repeated back (the program's own tests run the other refusals).
    HeadlessOptions run;
    run.params = {{"decryptKey", "00112233445566778899AABBCCDDEE"}};
    std::string reason;
    EXPECT_EQ(Run(std::move(run), &reason), ExitStatus::kBadOptions);
    EXPECT_EQ(reason,
              "--param decryptKey=<30 characters hidden> refused (unknown name or invalid value)");
  }
  {
    // A page's refused value is left out; the command line's are taken.
    HeadlessOptions run;
    run.pageParams = {{"mouseMode", "9"}, {"port", "1"}};
    run.params = SimParams(server_->Port());
    run.script = ScriptFromLines({"wait-event OnResize 10000", "jump 5"});
    std::string reason;
    EXPECT_EQ(Run(std::move(run), &reason), ExitStatus::kFailed);
    EXPECT_EQ(reason, "script line 2: unknown command \"jump\"");
  }
  {
    HeadlessOptions run;
    run.params = SimParams(server_->Port());
    run.script = ScriptFromLines({"wait-event OnDialog 300"});
    std::string reason;
    EXPECT_EQ(Run(std::move(run), &reason), ExitStatus::kFailed);
    EXPECT_EQ(reason, "script line 1: no OnDialog within 300 ms");
  }
}

}  // namespace
}  // namespace remcons
