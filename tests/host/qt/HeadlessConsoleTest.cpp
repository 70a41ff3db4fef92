// The headless console in-process against the simulator: a scripted session's JSON events, its
// snapshots against the simulator's screen, and the ways a run ends.
#include <gtest/gtest.h>

#include "host/qt/HeadlessConsole.h"
#include "host/qt/HeadlessUtil.h"

namespace remcons {
namespace {

using testing::DifferencesFromScreen;
using testing::EventNames;
using testing::ScratchDir;
using testing::SimOptions;
using testing::SimParams;
using Names = std::vector<std::string>;

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
  // Runs a console against the server with these options and script; its events land in
  // events.json, their lines in raw_.
  ExitStatus Run(HeadlessOptions options, const std::vector<std::string>& script,
                 std::string* reason) {
    if (options.params.empty()) options.params = SimParams(server_->Port());
    options.eventsPath = dir_ / "events.json";
    if (!script.empty()) options.script = ScriptFromLines(script);
    const ExitStatus status = HeadlessConsole(std::move(options)).Run(reason);
    raw_.clear();
    testing::ReadJsonLines(dir_ / "events.json", &raw_);
    return status;
  }
  // Runs fn on a thread of its own once a session is there and 300 ms have passed.
  std::thread InSession(std::function<void()> fn) {
    return std::thread([this, fn] {
      if (!server_->WaitForSession(10000)) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
      fn();
    });
  }

  ScratchDir dir_;
  std::unique_ptr<sim::ConsoleServer> server_;
  std::vector<std::string> raw_;
};

const std::string kResize1024 = "{\"event\":\"OnResize\",\"cx\":1024,\"cy\":768}";
const std::string kShutdown = "{\"event\":\"OnShutdown\"}";

TEST_F(HeadlessRun, AScriptedSessionWritesItsEventsAndSnapshotsOfTheServersScreen) {
  StartServer();
  HeadlessOptions options;
  options.snapshotPath = dir_ / "end.png";
  std::string reason;
  ASSERT_EQ(Run(std::move(options),
                {"# type a command at the boot prompt and point at it", "wait-event OnResize 10000",
                 "sleep 300", "type dir /w\\n", "move 200 150", "dblclick left", "sleep 400",
                 "snapshot " + (dir_ / "middle.png"), "command 18", "sleep 200", "stop"},
                &reason),
            ExitStatus::kOk)
      << reason;
  // The refresh brings the whole screen again, its mode command included: the same size is
  // reported once more. The script ended the session: OnShutdown from the end of the stream and
  // from the stop.
  EXPECT_EQ(raw_, (Names{kResize1024, kResize1024, kShutdown, kShutdown}));
  // What the server saw: the typed command, the pointer, the double click, the refresh.
  EXPECT_NE(server_->ScreenText().find("boot: dir /w"), std::string::npos);
  // "dir /w" and the carriage return, one double click, one refresh.
  EXPECT_EQ(std::tuple(server_->PacketCount("char"), server_->PacketCount("mouse-click"),
                       server_->PacketCount("refresh")),
            std::tuple(7u, 1u, 1u));
  // The snapshots are the server's screen, pixel for pixel.
  for (const char* name : {"middle.png", "end.png"})
    EXPECT_EQ(DifferencesFromScreen(dir_ / name, *server_), 0) << name;
}

TEST_F(HeadlessRun, TheWaysARunEndsAndTheirExitStatus) {
  const struct {
    const char* serverCommand;  // what the server does in the session; silent: it never answers
    ExitStatus status;
    Names events;
    std::string reason;  // PORT stands for the server's
  } cases[] = {
      {"end Maintenance window", ExitStatus::kOk, {"OnResize", "OnDialog", "OnShutdown"}, ""},
      {"drop",
       ExitStatus::kFailed,
       {"OnResize", "MessageBox", "OnShutdown"},
       "the connection to 127.0.0.1:PORT was lost"},
      {"silent",
       ExitStatus::kFailed,
       {"OnShutdown"},
       "failed to connect to 127.0.0.1:PORT: no start reply before --seconds 1 ended the attempt"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.serverCommand);
    const bool silent = std::string(c.serverCommand) == "silent";
    auto options = SimOptions();
    options.silent = silent;
    StartServer(options);
    std::thread ender = InSession([&] {
      if (!silent) server_->Execute(c.serverCommand);
    });
    HeadlessOptions run;
    run.seconds = silent ? 1 : 20;
    std::string reason;
    const ExitStatus status = Run(std::move(run), {}, &reason);
    ender.join();
    server_->Stop();
    EXPECT_EQ(status, c.status) << reason;
    const Names names = EventNames(testing::ReadJsonLines(dir_ / "events.json"));
    EXPECT_EQ(Names(names.begin(), names.begin() + std::min(names.size(), c.events.size())),
              c.events);
    EXPECT_EQ(names.size() == 1, silent);
    std::string want = c.reason;
    if (want.find("PORT") != std::string::npos)
      want.replace(want.find("PORT"), 4, std::to_string(server_->Port()));
    EXPECT_EQ(reason, want);
    if (c.events.size() > 1 && c.events[1] == "MessageBox") {
      EXPECT_EQ(raw_.at(1),
                "{\"event\":\"MessageBox\",\"caption\":\"Network Error\",\"text\":\"Connection to "
                "Kro lost\",\"answer\":\"OK\"}");
    }
  }
}

TEST_F(HeadlessRun, BadOptionsAndScriptsEndTheRun) {
  StartServer();
  const struct {
    PropertyBag params, pageParams;
    std::vector<std::string> script;
    ExitStatus status;
    const char* reason;
  } cases[] = {
      // Secrets are not repeated back (the program's own tests run the other refusals).
      {{{"decryptKey", "00112233445566778899AABBCCDDEE"}},
       {},
       {},
       ExitStatus::kBadOptions,
       "--param decryptKey=<30 characters hidden> refused (unknown name or invalid value)"},
      // A page's refused value is left out; the command line's are taken.
      {{},
       {{"mouseMode", "9"}, {"port", "1"}},
       {"wait-event OnResize 10000", "jump 5"},
       ExitStatus::kFailed,
       "script line 2: unknown command \"jump\""},
      {{},
       {},
       {"wait-event OnDialog 300"},
       ExitStatus::kFailed,
       "script line 1: no OnDialog within 300 ms"},
  };
  for (const auto& c : cases) {
    HeadlessOptions run;
    run.params = c.params;
    run.pageParams = c.pageParams;
    std::string reason;
    EXPECT_EQ(Run(std::move(run), c.script, &reason), c.status) << reason;
    EXPECT_EQ(reason, c.reason);
  }
}

}  // namespace
}  // namespace remcons
