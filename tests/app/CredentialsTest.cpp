// The remcons program's secrets kept off its command line, run against a simulator that checks the
// login: the password typed at a prompt on a pseudo-terminal (not echoed), from the environment or
// from a file, the properties from a file, and the warnings for what others can read. The secret
// appears neither in the events nor in the trace.
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/stat.h>

#include <fstream>

#include "host/qt/HeadlessUtil.h"
#include "net/Net.h"

namespace remcons {
namespace {

using testing::ReadText;
using testing::ScratchDir;

constexpr char kSecret[] = "s3cret-pw";

struct Result {
  int status = -1;
  std::string err, terminal;
};

// Runs remcons with args and environment changes ("NAME=VALUE", "NAME" to remove). On a pseudo-
// terminal that is its controlling terminal, typed is typed once the prompt shows; otherwise it
// has no terminal at all.
Result RunRemcons(const ScratchDir& dir, std::vector<std::string> args,
                  std::vector<std::string> env, bool terminal, const std::string& typed) {
  args.insert(args.begin(), REMCONS_BINARY);
  env.insert(env.begin(), {"REMCONS_TRACE", "DISPLAY", "WAYLAND_DISPLAY", "REMCONS_PASSWORD"});
  int master = -1;
  const pid_t pid =
      testing::StartProgram(args, env, "/dev/null", dir / "err.txt", terminal ? &master : nullptr);
  Result r;
  // What the terminal shows until the program has gone (bounded). The master side reports an
  // error while no process holds the terminal: before the child has it, and after it has gone.
  bool typedIt = false;
  for (int rounds = 0; terminal && rounds < 3000; ++rounds) {
    pollfd p{master, POLLIN, 0};
    char buffer[256];
    const ssize_t n = poll(&p, 1, 10) > 0 ? read(master, buffer, sizeof buffer) : 0;
    if (n > 0) r.terminal.append(buffer, static_cast<size_t>(n));
    if (n < 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (!typedIt && r.terminal.find(": ") != std::string::npos) {
      typedIt = write(master, typed.data(), typed.size()) > 0;
    }
    if ((r.status = testing::WaitChild(pid, 0)) != -1) break;
  }
  if (r.status == -1) r.status = testing::WaitProgram(pid, 60000);
  if (master >= 0) close(master);
  r.err = ReadText(dir / "err.txt");
  return r;
}

std::string WriteFile(const ScratchDir& dir, const std::string& name, const std::string& text,
                      mode_t mode) {
  std::ofstream(dir / name) << text;
  chmod((dir / name).c_str(), mode);
  return dir / name;
}

TEST(Credentials, ComeFromAPromptTheEnvironmentOrFilesAndStayOutOfTracesAndEvents) {
  sim::ConsoleServerOptions options = testing::SimOptions();
  options.checkLogin = true;
  options.login = std::string("alice:") + kSecret;
  sim::ConsoleServer server(options);
  std::string error;
  ASSERT_TRUE(server.Start(&error)) << error;
  ScratchDir dir;
  const std::string login = Base64Encode(std::string("alice:") + kSecret);
  std::string keys;
  for (const auto& [name, value] : testing::SimParams(server.Port())) {
    if (name != "login" && name != "target" && name != "port") keys += name + "=" + value + "\n";
  }
  const std::string keysFile = WriteFile(dir, "keys.conf", "# the session's keys\n" + keys, 0600);
  const std::string openFile = WriteFile(dir, "password", std::string(kSecret) + "\n", 0644);
  const std::string allFile = WriteFile(
      dir, "all.conf",
      keys + "target=127.0.0.1\nport=" + std::to_string(server.Port()) + "\nlogin=" + login + "\n",
      0600);
  WriteFile(dir, "script.txt", "wait-event OnResize 10000\nstop\n", 0600);
  const std::string host = "127.0.0.1:" + std::to_string(server.Port());
  const std::vector<std::string> common = {
      "--headless", "--seconds",         "20",      "--script",       dir / "script.txt",
      "--events",   dir / "events.json", "--trace", dir / "trace.txt"};
  const std::string secretParam =
      "remcons: warning: --param login can be read by other users of this machine; --user, "
      "--params-file or the connect dialog keep it to yourself";

  struct Case {
    const char* name;
    std::vector<std::string> args, env;
    bool terminal;
    int status;
    std::string err;  // standard error's last line; empty: none at all
  } cases[] = {
      {"prompt", {"--user", "alice", "--params-file", keysFile, host}, {}, true, 0, ""},
      {"environment",
       {"--user", "alice", "--params-file", keysFile, host},
       {std::string("REMCONS_PASSWORD=") + kSecret},
       false,
       0,
       ""},
      {"password file open to others",
       {"--user", "alice", "--password-file", openFile, "--params-file", keysFile, host},
       {},
       false,
       0,
       "remcons: warning: " + openFile + " can be read by other users (chmod 600 " + openFile +
           ")"},
      {"properties file", {"--params-file", allFile}, {}, false, 0, ""},
      {"login on the command line",
       {"--params-file", keysFile, "--param", "login=" + login, host},
       {},
       false,
       0,
       secretParam},
      {"no terminal to ask on",
       {"--user", "alice", "--params-file", keysFile, host},
       {},
       false,
       2,
       "remcons: no password for alice: no terminal to ask on; give it in REMCONS_PASSWORD or "
       "with --password-file"},
  };
  uint64_t sessions = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> args = common;
    args.insert(args.end(), c.args.begin(), c.args.end());
    const Result r = RunRemcons(dir, args, c.env, c.terminal, std::string(kSecret) + "\n");
    EXPECT_EQ(r.status, c.status) << r.err << "[" << r.terminal << "]";
    const std::vector<std::string> lines = testing::Lines(r.err);
    EXPECT_EQ(lines.empty() ? "" : lines.back(), c.err) << r.err;
    sessions += c.status == 0;
    EXPECT_EQ(std::pair(server.Counters().sessions, server.Counters().loginFailures),
              std::pair(sessions, uint64_t{0}));
    if (c.terminal) {
      // The prompt, and the password not echoed.
      EXPECT_NE(r.terminal.find("Password for alice@127.0.0.1: "), std::string::npos) << r.terminal;
      EXPECT_EQ(r.terminal.find(kSecret), std::string::npos) << r.terminal;
    }
    for (const std::string& file : {dir / "events.json", dir / "trace.txt"}) {
      const std::string text = ReadText(file);
      EXPECT_EQ(text.find(kSecret), std::string::npos) << file;
      EXPECT_EQ(text.find(login), std::string::npos) << file;
    }
  }
  server.Stop();
}

}  // namespace
}  // namespace remcons
