// The Host on Qt's event loop: sends and posts across threads, the release of blocked senders when
// the window goes, timers, message boxes; the headless answers; the script's grammar.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <thread>
#include <tuple>

#include "host/qt/HeadlessUtil.h"
#include "host/qt/QtHost.h"
#include "host/qt/ScriptRunner.h"

namespace remcons {
namespace {

using testing::WaitUntil;

// Sends from other threads run on the window thread, and so do their boxes and timers.
TEST(QtHost, SendsBoxesAndTimersRunOnTheWindowThreadAndSendsEndWithTheWindow) {
  QtHost host;
  QThread* const ui = QThread::currentThread();
  std::vector<std::string> order;  // where each call ran, in order
  QtHost::Callbacks callbacks;
  callbacks.timer = [&](int id) {
    if (id == 1 && (order.empty() || order.back() != "tick"))
      order.push_back(QThread::currentThread() == ui ? "tick" : "tick elsewhere");
  };
  callbacks.messageBox = [&](const std::string& text, const std::string& caption, uint32_t) {
    order.push_back(QThread::currentThread() == ui ? caption : "box elsewhere");
    return text == "Continue?" && caption == "Question" ? kIdNo : kIdOk;
  };
  host.SetCallbacks(callbacks);
  std::atomic<int> result{0};
  std::thread sender([&] {
    const bool sent = host.SendToUi(
        [&] { order.push_back(QThread::currentThread() == ui ? "sent" : "sent elsewhere"); });
    result = (sent ? 10 : 0) + host.MessageBox("Continue?", "Question", kMbYesNo);
    host.StartTimer(1, 5);
  });
  ASSERT_TRUE(WaitUntil([&] { return !order.empty() && order.back() == "tick"; }));
  sender.join();
  EXPECT_EQ(result.load(), 10 + kIdNo);
  EXPECT_TRUE(host.TimerRunning(1));
  host.StopTimer(1);
  EXPECT_FALSE(host.TimerRunning(1));
  EXPECT_EQ(order, (std::vector<std::string>{"sent", "Question", "tick"}));

  // The window thread is busy (it processes no events) while a sender waits for it: closing
  // the sends releases it; nothing queued runs afterwards.
  std::atomic<bool> late{false};
  std::thread waiting([&] { result = host.SendToUi([&] { late = true; }) ? 1 : -1; });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  host.CloseSends();
  waiting.join();
  EXPECT_EQ(result.load(), -1);
  WaitUntil([] { return false; }, 30);
  EXPECT_FALSE(late.load());
}

// --- Headless answers ---

// The box's default button, or the rule's button where the box has it.
TEST(DialogPolicy, DefaultButtonsAndRules) {
  DialogPolicy policy;
  std::string error;
  ASSERT_TRUE(policy.AddRule("New User=no", &error));
  ASSERT_TRUE(policy.AddRule("a=b=Cancel", &error));  // the caption keeps its '='
  const struct {
    const char* caption;
    uint32_t style;
    std::pair<int, std::string> answer;
  } cases[] = {
      {"Any", kMbOk | kMbIconWarning, {kIdOk, "OK"}},
      {"Any", kMbOkCancel | kMbDefaultButton2, {kIdCancel, "Cancel"}},
      {"Any", kMbYesNo | kMbIconQuestion, {kIdYes, "Yes"}},
      {"Any", kMbYesNo | kMbDefaultButton2, {kIdNo, "No"}},
      {"Any", kMbYesNoCancel | kMbDefaultButton2, {kIdNo, "No"}},
      {"New User", kMbYesNo, {kIdNo, "No"}},
      {"a=b", kMbOkCancel, {kIdCancel, "Cancel"}},
      {"New User", kMbOk, {kIdOk, "OK"}},
  };
  for (const auto& c : cases) EXPECT_EQ(policy.Answer(c.caption, c.style), c.answer) << c.caption;
  for (const char* bad : {"NoEquals", "=OK", "Caption=Maybe", "Caption="}) {
    error.clear();
    EXPECT_FALSE(policy.AddRule(bad, &error) || error.empty()) << bad;
  }
}

// --- The script ---

TEST(Script, CommandsAndTheirErrors) {
  struct Good {
    const char* line;
    ScriptCommand::Op op;
    int64_t a, b;
    std::string text;
  } good[] = {
      {"sleep 250", ScriptCommand::kSleep, 250, 0, ""},
      {"wait-event MessageBox 500", ScriptCommand::kWaitEvent, 0, 0, "MessageBox"},
      {"key 0x41 down", ScriptCommand::kKey, 0x41, 0, ""},
      {"char \xC3\xA9", ScriptCommand::kChar, 0xE9, 0, ""},
      {"type \\x41\\tB\\\\", ScriptCommand::kType, 0, 0, "A\tB\\"},
      {"move -5 0x20", ScriptCommand::kMove, -5, 32, ""},
      {"  stop  ", ScriptCommand::kStop, 0, 0, ""},
      // Capture and replay: the verb's place in their list, the file with its blanks.
      {"capture-start /tmp/a capture.kro ", ScriptCommand::kCapture, 0, 0, "/tmp/a capture.kro"},
  };
  std::string error;
  for (const Good& g : good) {
    std::optional<ScriptCommand> c = ParseScriptLine(g.line, 3, &error);
    ASSERT_TRUE(c) << g.line << ": " << error;
    EXPECT_EQ(std::tuple(c->op, c->a, c->b, c->text, c->line),
              std::tuple(g.op, g.a, g.b, g.text, 3))
        << g.line;
  }
  std::optional<ScriptCommand> key = ParseScriptLine("key 0x26 up scan=0x48 ext", 1, &error);
  ASSERT_TRUE(key);
  EXPECT_TRUE(key->flag);
  EXPECT_TRUE(key->extended);
  EXPECT_EQ(key->scanCode, std::optional<uint32_t>(0x48));
  EXPECT_EQ(ParseScriptLine("wait-event OnStatus 0x64", 1, &error)->timeoutMs,
            std::optional<uint32_t>(100));

  for (const char* blank : {"", "   ", "# a comment", "  # indented"}) {
    EXPECT_FALSE(ParseScriptLine(blank, 1, &error)) << blank;
    EXPECT_TRUE(error.empty()) << blank;
  }
  for (const char* line :
       {"sleep", "sleep -1", "wait-event Resize", "key 0x41 sideways", "char 256",
        "char \xE6\x8E\xA5", "type bad\\q", "press middle", "jump 3", "fast 2"}) {
    EXPECT_FALSE(ParseScriptLine(line, 7, &error)) << line;
    EXPECT_EQ(error.rfind("line 7: ", 0), 0u) << line << " -> " << error;
  }
}

}  // namespace
}  // namespace remcons
