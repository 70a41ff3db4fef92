// The remcons program as scripts use it: its options and their errors, a refused connect, a leader
// and a joiner, and their exit statuses.
#include <gtest/gtest.h>
#include <signal.h>

#include <fstream>
#include <set>

#include "host/qt/HeadlessUtil.h"
#include "platform/Socket.h"

namespace remcons {
namespace {

using testing::Lines;
using testing::ReadJsonLines;
using testing::ReadText;
using testing::ScratchDir;
using testing::StartProgram;
using testing::WaitProgram;
using testing::WaitUntil;

struct Result {
  int status = -1;  // exit status; -1 when it had to be ended
  std::string out, err;
};

// Runs the program with args, without a display or with one that cannot be opened; its output goes
// to files in dir. Ended after a minute.
Result RunRemcons(const ScratchDir& dir, const std::vector<std::string>& args,
                  bool withDisplay = false) {
  std::vector<std::string> argv{REMCONS_BINARY};
  argv.insert(argv.end(), args.begin(), args.end());
  const pid_t pid = StartProgram(
      argv, {"REMCONS_TRACE", "WAYLAND_DISPLAY", withDisplay ? "DISPLAY=:97" : "DISPLAY"},
      dir / "stdout.txt", dir / "stderr.txt");
  Result result;
  result.status = WaitProgram(pid, 60000);
  result.out = ReadText(dir / "stdout.txt");
  result.err = ReadText(dir / "stderr.txt");
  return result;
}

TEST(RemconsProgram, OptionErrorsSayWhyInOneLine) {
  ScratchDir dir;
  struct Case {
    std::vector<std::string> args;
    std::string line;
  } cases[] = {
      {{"--bogus"}, "remcons: unknown option --bogus (see --help)"},
      {{"a.example", "b.example"}, "remcons: one target at most: a.example and b.example"},
      {{"bmc:99999"}, "remcons: HOST:PORT needs a port from 1 to 65535, got \"bmc:99999\""},
      {{"bmc/../x"}, "remcons: not a host name or address: \"bmc/../x\""},
      {{"--scale", "2"}, "remcons: --scale takes fit or 1, got \"2\""},
      {{"--headless", "old.KRO"},
       "remcons: a capture file plays in a window; remcons-tool replay makes pictures of it "
       "without one"},
      {{"--params-file", "/nonexistent/p.conf"},
       "remcons: cannot read the properties file /nonexistent/p.conf"},
      {{"--param"}, "remcons: --param needs a value"},
      {{"--param", "noequals"}, "remcons: --param needs NAME=VALUE, got \"noequals\""},
      {{"--seconds=-1"}, "remcons: --seconds needs a number of seconds, got \"-1\""},
      {{"--headless=yes"}, "remcons: --headless takes no value"},
      {{"--answer", "OK"}, "remcons: --answer needs CAPTION=BUTTON, got \"OK\""},
      {{"--events", ""}, "remcons: --events needs a file name"},
      {{"--script", "/nonexistent/s.txt"},
       "remcons: cannot read /nonexistent/s.txt: No such file or directory"},
      {{"--page", "/nonexistent/p.html"}, "remcons: cannot read the page /nonexistent/p.html"},
      {{"--trace", "/nonexistent/t.txt"}, "remcons: cannot write the trace to /nonexistent/t.txt"},
      {{"--headless", "--param", "mouseMode=3"},
       "remcons: --param mouseMode=3 refused (unknown name or invalid value)"},
      {{"--headless", "--answer", "Warning=Later"},
       "remcons: --answer unknown button \"Later\" (OK, Cancel, Yes, No, Accept or Deny)"},
      {{"--headless", "--events", "/nonexistent/e.json"},
       "remcons: cannot write /nonexistent/e.json: No such file or directory"},
  };
  for (const Case& c : cases) {
    const Result r = RunRemcons(dir, c.args);
    const std::vector<std::string> lines = Lines(r.err);
    EXPECT_EQ(std::tuple(r.status, lines.empty() ? "" : lines.back(), r.out),
              std::tuple(2, c.line, ""));
  }
}

// Nothing listens on the port: a failed connect ends the run with its reason.
TEST(RemconsProgram, ARefusedConnectEndsTheRun) {
  ScratchDir dir;
  const std::string port = std::to_string(TcpSocket::Listen("127.0.0.1", 0)->LocalPort());
  const Result r = RunRemcons(dir, {"--headless", "--param", "target=127.0.0.1", "--param",
                                    "port=" + port, "--seconds", "20"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(Lines(r.err), std::vector<std::string>{"remcons: failed to connect to 127.0.0.1:" +
                                                   port + ": connection refused"});
}

// Two programs on one machine: a leader with its demo simulator and a joiner that asks for control
// and types; the boxes answered by --answer, the joiner's clicks and keys by its script.
TEST(RemconsProgram, ALeaderAndAJoinerOnOneMachine) {
  ScratchDir dir;
  const uint16_t port = TcpSocket::Listen("127.0.0.1", 0)->LocalPort();
  const pid_t leader = StartProgram(
      {REMCONS_BINARY, "--demo", "--headless", "--seconds", "6", "--param", "muMode=1", "--param",
       "muPort=" + std::to_string(port), "--answer", "New User=Accept", "--answer", "Request=Yes",
       "--events", dir / "leader.json"},
      {"REMCONS_TRACE", "DISPLAY", "WAYLAND_DISPLAY"}, "/dev/null", dir / "leader.err");
  // Joined once the leader's console runs.
  ASSERT_TRUE(WaitUntil([&] { return !ReadJsonLines(dir / "leader.json").empty(); }));
  std::ofstream(dir / "joiner.txt") << "wait-event OnStatus 10000\nsleep 1000\nclick-bar control\n"
                                       "sleep 1000\ntype dir\\n\nsleep 1000\nstop\n";
  const Result joiner = RunRemcons(
      dir,
      {"--headless", "--param", "muMode=2", "--param", "muServer=127.0.0.1", "--param",
       "muPort=" + std::to_string(port), "--param", "encryption=1", "--param", "fullScreen=0",
       "--param", "login=am9pbmVyOnNlY3JldA==", "--script", dir / "joiner.txt", "--events", "-"});
  EXPECT_EQ(joiner.status, 0) << joiner.err;
  EXPECT_EQ(Lines(joiner.out).front(),
            "{\"event\":\"OnStatus\",\"status\":\"1280x1024 | Attempting to connect to the "
            "session leader. | Accepted\"}");
  EXPECT_EQ(WaitProgram(leader, 20000), 0);
  std::set<std::string> boxes;
  for (const QJsonObject& e : ReadJsonLines(dir / "leader.json")) {
    if (e.value("event") == "MessageBox") {
      boxes.insert(e.value("caption").toString().toStdString() + "=" +
                   e.value("answer").toString().toStdString());
    }
  }
  EXPECT_EQ(boxes, (std::set<std::string>{"New User=Accept", "Request=Yes"}));
  EXPECT_NE(ReadText(dir / "leader.err").find("User \\\"joiner\\\" ("), std::string::npos);
}

}  // namespace
}  // namespace remcons
