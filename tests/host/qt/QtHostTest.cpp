// The Host on Qt's event loop: sends and posts across threads, the release of blocked senders when
// the window goes, timers, message boxes; the headless answers; the event lines; the script's
// grammar and the US keys that type each character.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <thread>
#include <tuple>

#include "host/qt/EventJson.h"
#include "host/qt/HeadlessUtil.h"
#include "host/qt/QtHost.h"
#include "host/qt/ScriptRunner.h"
#include "host/qt/UsTyping.h"

namespace remcons {
namespace {

using testing::WaitUntil;

TEST(QtHost, SendsRunOnTheWindowThreadAndWaitUntilTheWindowGoes) {
  QtHost host;
  EXPECT_TRUE(host.IsUiThread());
  // On the window thread itself a send runs at once (a blocking queued call would hang).
  bool ran = false;
  EXPECT_TRUE(host.SendToUi([&] { ran = true; }));
  EXPECT_TRUE(ran);
  std::atomic<int> done{0};
  QThread* ranOn = nullptr;
  bool result = false, senderOnUi = true;
  std::thread sender([&] {
    senderOnUi = host.IsUiThread();
    result = host.SendToUi([&] { ranOn = QThread::currentThread(); });
    done = 1;
  });
  ASSERT_TRUE(WaitUntil([&] { return done.load() == 1; }));
  sender.join();
  EXPECT_FALSE(senderOnUi);
  EXPECT_TRUE(result);
  EXPECT_EQ(ranOn, QThread::currentThread());

  // The window thread is busy (it processes no events) while a sender waits for it: closing
  // the sends releases it, and later sends fail at once; nothing queued runs afterwards.
  std::atomic<bool> late{false};
  std::thread waiting([&] {
    result = host.SendToUi([&] { late = true; });
    done = 2;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(done.load(), 1);
  host.CloseSends();
  waiting.join();
  EXPECT_FALSE(result);
  std::thread([&] { result = host.SendToUi([&] { late = true; }); }).join();
  EXPECT_FALSE(result);
  QCoreApplication::processEvents();
  EXPECT_FALSE(late.load());
  // Posts run later, in order, closed sends or not.
  std::vector<int> order;
  host.PostToUi([&] { order.push_back(1); });
  std::thread([&] { host.PostToUi([&] { order.push_back(2); }); }).join();
  EXPECT_TRUE(order.empty());
  ASSERT_TRUE(WaitUntil([&] { return order.size() == 2; }));
  EXPECT_EQ(order, (std::vector<int>{1, 2}));
}

TEST(QtHost, TimersAndMessageBoxesRunOnTheWindowThread) {
  QtHost host;
  int ticks = 0;
  QThread* tickThread = nullptr;
  QThread* shownOn = nullptr;
  QtHost::Callbacks callbacks;
  callbacks.timer = [&](int id) {
    ticks += id == 1;
    tickThread = QThread::currentThread();
  };
  callbacks.messageBox = [&](const std::string& text, const std::string& caption, uint32_t) {
    shownOn = QThread::currentThread();
    return text == "Continue?" && caption == "Question" ? kIdNo : kIdOk;
  };
  host.SetCallbacks(callbacks);
  std::thread([&] { host.StartTimer(1, 5); }).join();
  ASSERT_TRUE(WaitUntil([&] { return ticks >= 3; }));
  EXPECT_EQ(tickThread, QThread::currentThread());
  EXPECT_TRUE(host.TimerRunning(1));
  host.StopTimer(1);
  EXPECT_FALSE(host.TimerRunning(1));
  const int stoppedAt = ticks;
  WaitUntil([] { return false; }, 30);
  EXPECT_EQ(ticks, stoppedAt);

  std::atomic<int> result{0};
  std::thread asker([&] { result = host.MessageBox("Continue?", "Question", kMbYesNo); });
  ASSERT_TRUE(WaitUntil([&] { return result.load() != 0; }));
  asker.join();
  EXPECT_EQ(result.load(), kIdNo);
  EXPECT_EQ(shownOn, QThread::currentThread());
  // No display modes: the search finds none and restoring always works.
  DisplayMode mode;
  EXPECT_FALSE(host.EnumDisplayMode(0, &mode));
  EXPECT_EQ(host.ChangeDisplayMode(nullptr), kDispChangeSuccessful);
}

// --- Headless answers ---

TEST(DialogPolicy, DefaultButtonsAndRules) {
  struct Case {
    uint32_t style;
    int defaultButton;
  } cases[] = {
      {kMbOk | kMbIconWarning, kIdOk},
      {kMbOkCancel, kIdOk},
      {kMbOkCancel | kMbDefaultButton2, kIdCancel},
      {kMbYesNo | kMbIconQuestion, kIdYes},
      {kMbYesNo | kMbDefaultButton2, kIdNo},
      {kMbYesNoCancel, kIdYes},
      {kMbYesNoCancel | kMbDefaultButton2, kIdNo},
  };
  DialogPolicy none;
  for (const Case& c : cases)
    EXPECT_EQ(none.Answer("Any", c.style).first, c.defaultButton) << c.style;

  DialogPolicy policy;
  std::string error;
  ASSERT_TRUE(policy.AddRule("New User=no", &error));
  ASSERT_TRUE(policy.AddRule("a=b=Cancel", &error));  // the caption keeps its '='
  EXPECT_EQ(policy.Answer("New User", kMbYesNo), (std::pair<int, std::string>{kIdNo, "No"}));
  EXPECT_EQ(policy.Answer("a=b", kMbOkCancel), (std::pair<int, std::string>{kIdCancel, "Cancel"}));
  // A rule for a button the box lacks falls back to its default.
  EXPECT_EQ(policy.Answer("New User", kMbOk).first, kIdOk);
  EXPECT_EQ(policy.Answer("Other", kMbYesNo).first, kIdYes);

  for (const char* bad : {"NoEquals", "=OK", "Caption=Maybe", "Caption="}) {
    EXPECT_FALSE(policy.AddRule(bad, &error)) << bad;
    EXPECT_FALSE(error.empty());
  }
}

// --- Event lines (JsonString itself is checked in the platform's tests) ---

TEST(EventJson, EventLinesAndWaits) {
  std::FILE* out = std::tmpfile();
  ASSERT_NE(out, nullptr);
  EventJsonWriter writer(out);
  writer.OnResize(800, 600);
  writer.OnStatus("800x600 | Ready");
  writer.MessageBox("Network Error", "Connection to Kro lost", "OK");
  writer.OnShutdown();
  std::rewind(out);
  char buffer[1024] = {};
  const size_t n = std::fread(buffer, 1, sizeof buffer - 1, out);
  EXPECT_EQ(std::string(buffer, n),
            "{\"event\":\"OnResize\",\"cx\":800,\"cy\":600}\n"
            "{\"event\":\"OnStatus\",\"status\":\"800x600 | Ready\"}\n"
            "{\"event\":\"MessageBox\",\"caption\":\"Network Error\",\"text\":\"Connection to Kro "
            "lost\",\"answer\":\"OK\"}\n"
            "{\"event\":\"OnShutdown\"}\n");
  EXPECT_EQ(writer.Count("OnResize"), 1u);
  EXPECT_EQ(writer.WaitBeyond("OnResize", 0, 0), std::optional<uint64_t>(1));
  EXPECT_EQ(writer.WaitBeyond("OnResize", 1, 10), std::nullopt);
  std::thread later([&] { writer.OnDialog("Bye"); });
  EXPECT_EQ(writer.WaitBeyond("OnDialog", 0, 5000), std::optional<uint64_t>(1));
  later.join();
  writer.Cancel();
  EXPECT_EQ(writer.WaitBeyond("OnDialog", 1, 0xFFFFFFFFu), std::nullopt);
  std::fclose(out);
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
      {"sleep 0x10", ScriptCommand::kSleep, 16, 0, ""},
      {"wait-event OnResize", ScriptCommand::kWaitEvent, 0, 0, "OnResize"},
      {"wait-event MessageBox 500", ScriptCommand::kWaitEvent, 0, 0, "MessageBox"},
      {"key 0x41 down", ScriptCommand::kKey, 0x41, 0, ""},
      {"char a", ScriptCommand::kChar, 'a', 0, ""},
      {"char 7", ScriptCommand::kChar, '7', 0, ""},
      {"char 0x1b", ScriptCommand::kChar, 0x1B, 0, ""},
      {"char \xC3\xA9", ScriptCommand::kChar, 0xE9, 0, ""},
      {"type dir  /w\\n", ScriptCommand::kType, 0, 0, "dir  /w\n"},
      {"type \\x41\\tB\\\\", ScriptCommand::kType, 0, 0, "A\tB\\"},
      {"move -5 0x20", ScriptCommand::kMove, -5, 32, ""},
      {"press left", ScriptCommand::kPress, 0, 0, ""},
      {"dblclick right", ScriptCommand::kDblClick, 0, 0, ""},
      {"command 18", ScriptCommand::kCommand, 18, 0, ""},
      {"snapshot /tmp/x.png", ScriptCommand::kSnapshot, 0, 0, "/tmp/x.png"},
      {"  stop  ", ScriptCommand::kStop, 0, 0, ""},
      // Capture and replay: the verb's place in their list, the file with its blanks.
      {"capture-start /tmp/a capture.kro ", ScriptCommand::kCapture, 0, 0, "/tmp/a capture.kro"},
      {"replay c.kro", ScriptCommand::kCapture, 2, 0, "c.kro"},
      {"fault-buffer", ScriptCommand::kCapture, 4, 0, ""},
      {"pause", ScriptCommand::kCapture, 6, 0, ""},
      {"leave-replay", ScriptCommand::kCapture, 9, 0, ""},
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
  const char* bad[] = {"sleep",
                       "sleep -1",
                       "sleep ten",
                       "wait-event Resize",
                       "wait-event",
                       "key 0x41",
                       "key 0 down",
                       "key 0x41 sideways",
                       "key 0x41 down x",
                       "char",
                       "char ab",
                       "char 256",
                       "char \xE6\x8E\xA5",
                       "type",
                       "type bad\\q",
                       "type \\x4",
                       "move 1",
                       "move 1 2 3",
                       "press middle",
                       "command",
                       "snapshot",
                       "stop now",
                       "jump 3",
                       "capture-start",
                       "replay  ",
                       "fast 2",
                       "sleep 0x"};
  for (const char* line : bad) {
    EXPECT_FALSE(ParseScriptLine(line, 7, &error)) << line;
    EXPECT_EQ(error.rfind("line 7: ", 0), 0u) << line << " -> " << error;
  }
}

TEST(Script, UsKeysForCharacters) {
  struct Case {
    char c;
    uint8_t vk, scan;
    bool shift;
    uint8_t character;
  } cases[] = {
      {'a', 0x41, 0x1E, false, 'a'},   {'Z', 0x5A, 0x2C, true, 'Z'},
      {'1', 0x31, 0x02, false, '1'},   {'!', 0x31, 0x02, true, '!'},
      {' ', 0x20, 0x39, false, ' '},   {'\n', 0x0D, 0x1C, false, '\r'},
      {'\t', 0x09, 0x0F, false, '\t'}, {'|', 0xDC, 0x2B, true, '|'},
      {'?', 0xBF, 0x35, true, '?'},    {'"', 0xDE, 0x28, true, '"'},
      {'~', 0xC0, 0x29, true, '~'},    {'\b', 0x08, 0x0E, false, '\b'},
  };
  for (const Case& c : cases) {
    std::optional<TypedKey> key = UsKeyForCharacter(c.c);
    ASSERT_TRUE(key) << int(c.c);
    EXPECT_EQ(std::tuple(key->key.vk, key->key.scanCode, key->shift, key->character),
              std::tuple(c.vk, c.scan, c.shift, c.character))
        << c.c;
  }
  EXPECT_FALSE(UsKeyForCharacter('\x01'));
  EXPECT_FALSE(UsKeyForCharacter('\xE9'));
}

}  // namespace
}  // namespace remcons
