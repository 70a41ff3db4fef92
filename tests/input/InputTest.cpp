// The key map against the scan code and virtual-key tables and the USB HID usages, the keyboard's
// HID reports, terminal sequences, characters and hook, and the mouse's reports and window
// messages.
#include <gtest/gtest.h>
#include <iconv.h>
#include <linux/input-event-codes.h>

#include <cstdio>
#include <functional>
#include <memory>
#include <numeric>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "input/KeyMap.h"
#include "input/Keyboard.h"
#include "input/Locale.h"
#include "input/Mouse.h"
#include "platform/Clock.h"
#include "support/TraceCapture.h"

namespace remcons {
namespace {

using testing::TraceCapture;
using Strings = std::vector<std::string>;
constexpr KeyResult kSwallow = KeyResult::kSwallow, kPassOn = KeyResult::kPassOn;

// What the input code writes to the connection, one hex text per write.
constexpr char kHex[] = "0123456789ABCDEF";
struct Recorder {
  InputWriter Writer() {
    return [this](const uint8_t* data, size_t size) {
      std::string s;
      for (size_t i = 0; i < size; ++i)
        s += std::string(i ? " " : "") + kHex[data[i] >> 4] + kHex[data[i] & 15];
      writes.push_back(s);
      return refuse ? -1 : static_cast<int>(size);
    };
  }
  Strings writes;
  bool refuse = false;
};

// Hook events written short: the virtual key in hex, '^' before it for a release, '*' after it for
// the E0 prefix, '@' for Alt held, ":SS" for a scan code. Returns the last event's result.
KeyResult Send(const std::string& shorthand) {
  KeyResult result = kPassOn;
  std::istringstream in(shorthand);
  for (std::string t; in >> t;) {
    KeyEvent e;
    e.keyUp = t[0] == '^';
    e.vkCode = std::stoul(t.substr(e.keyUp), nullptr, 16);
    e.extended = t.find('*') != std::string::npos;
    e.altDown = t.find('@') != std::string::npos;
    if (const size_t colon = t.find(':'); colon != std::string::npos)
      e.scanCode = std::stoul(t.substr(colon + 1), nullptr, 16);
    result = CKeyboard::HookEvent(e);
  }
  return result;
}

// HID reports written short: "MM KK KK ..." (the modifier byte, then the keys held), reports
// separated by '|'; each becomes FF D6 MM 00 and six key slots.
Strings Reports(const std::string& shorthand) {
  Strings reports;
  std::istringstream in(shorthand);
  for (std::string report; std::getline(in, report, '|');) {
    std::string text = "FF D6 " + report.substr(0, 2) + " 00" + report.substr(2);
    while (text.size() < 29) text += " 00";
    reports.push_back(text);
  }
  return reports;
}

// A console whose keyboard holds the hook, with the modifier state under the test's control.
class KeyboardTest : public ::testing::Test {
 protected:
  CKeyboard& Make(int32_t mode) {
    KeyboardSystem system;
    system.shiftDown = [this] { return shift; };
    system.controlDown = [this] { return control; };
    system.userDefaultLanguage = [this] { return language; };
    keyboard = std::make_unique<CKeyboard>(out.Writer(), mode, system, clock);
    keyboard->TakeHook();
    keyboard->ReleaseAllKeys();  // the held keys are the process's: start from none
    out.writes.clear();
    return *keyboard;
  }

  ManualClock clock;
  Recorder out;
  bool shift = false, control = false;
  std::optional<uint16_t> language = 1033;
  std::unique_ptr<CKeyboard> keyboard;
};

// Worked by hand from the scan code set 1 tables (E0 prefixed: 0xE0xx), the virtual-key codes of
// the US layout and the HID usage tables' keyboard page (0 where not checked; E0-E7 are the
// modifier bits): each key comes out of the map and then the HID report as a USB keyboard's would.
TEST_F(KeyboardTest, KeysMatchTheTablesAndBecomeTheirUsbUsages) {
  struct Row {
    uint32_t evdev;
    uint8_t vk;
    uint16_t scan;
    uint8_t usage;
  };
  // clang-format off
  const Row table[] = {
      {KEY_A, 0x41, 0x1E, 0x04}, {KEY_LEFTCTRL, 0xA2, 0x1D, 0xE0}, {KEY_KP7, 0x67, 0x47, 0},
      {KEY_102ND, 0xE2, 0x56, 0x64}, {KEY_YEN, 0xFF, 0x7D, 0x89}, {KEY_KPENTER, 0x0D, 0xE01C, 0},
      {KEY_RIGHTCTRL, 0xA3, 0xE01D, 0xE4}, {KEY_SYSRQ, 0x2C, 0xE037, 0x46},
      {KEY_PAUSE, 0x13, 0x45, 0x48}, {KEY_HENKAN, 0xFF, 0x79, 0x8A},
      {KEY_RIGHTMETA, 0x5C, 0xE05C, 0xE7}, {KEY_KATAKANAHIRAGANA, 0xFF, 0x70, 0x88},
  };
  // clang-format on
  Make(1);
  for (const Row& row : table) {
    SCOPED_TRACE("evdev " + std::to_string(row.evdev));
    const KeyCode key{row.vk, uint8_t(row.scan), row.scan > 0xFF};
    EXPECT_EQ(KeyFromEvdev(row.evdev), key);
    EXPECT_EQ(KeyFromX11Keycode(row.evdev + 8), key);
    if (!row.usage) continue;
    out.writes.clear();
    KeyEvent e{key.vk, key.scanCode, key.extended};
    CKeyboard::HookEvent(e);
    e.keyUp = true;
    CKeyboard::HookEvent(e);
    char report[16];
    std::snprintf(report, sizeof report, row.usage >= 0xE0 ? "%02X" : "00 %02X",
                  row.usage >= 0xE0 ? 1 << (row.usage - 0xE0) : row.usage);
    EXPECT_EQ(out.writes, (Strings{Reports(report)[0], Reports("00")[0]}));
  }
}

// Pause's E1 sequence ends in Num Lock's make code; codes without a row have no key; the
// keypad's keys have navigation twins.
TEST(Keymap, PauseCodesWithoutARowAndTheKeypad) {
  EXPECT_EQ(KeyFromEvdev(KEY_PAUSE)->scanCode, KeyFromEvdev(KEY_NUMLOCK)->scanCode);
  for (uint32_t code : {0u, uint32_t{KEY_ZENKAKUHANKAKU}, 256u, 0xFFFFFFFFu})
    EXPECT_FALSE(KeyFromEvdev(code).has_value()) << code;
  EXPECT_FALSE(KeyFromX11Keycode(7).has_value());
  const std::pair<uint8_t, uint8_t> pairs[] = {
      {0x60, 0x2D}, {0x61, 0x23}, {0x62, 0x28}, {0x63, 0x22}, {0x64, 0x25}, {0x65, 0x0C},
      {0x66, 0x27}, {0x67, 0x24}, {0x68, 0x26}, {0x69, 0x21}, {0x6E, 0x2E}};
  for (auto [keypad, navigation] : pairs) EXPECT_EQ(KeypadNavigationKey(keypad), navigation);
  for (uint8_t other : {0x6A, 0x6F, 0x24, 0x41})
    EXPECT_FALSE(KeypadNavigationKey(other).has_value()) << int{other};
}

// Windows-1252 as the C library's iconv has it; the C1 controls have no place in the code page.
TEST(Keymap, AnsiMatchesIconv) {
  iconv_t cd = iconv_open("CP1252", "UTF-32LE");
  if (cd == reinterpret_cast<iconv_t>(-1)) GTEST_SKIP() << "iconv has no CP1252";
  int mapped = 0;
  for (char32_t ch = 0; ch < 0x10000; ++ch) {
    if (ch >= 0xD800 && ch < 0xE000) continue;
    char32_t in32 = ch;
    char *in = reinterpret_cast<char*>(&in32), outByte[4], *to = outByte;
    size_t inLeft = 4, outLeft = sizeof outByte;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    std::optional<uint8_t> expected;
    if (iconv(cd, &in, &inLeft, &to, &outLeft) != static_cast<size_t>(-1) && outLeft == 3 &&
        (ch < 0x80 || ch >= 0xA0))
      expected = static_cast<uint8_t>(outByte[0]);
    EXPECT_EQ(AnsiFromUnicode(ch), expected) << std::hex << uint32_t{ch};
    mapped += expected.has_value();
  }
  iconv_close(cd);
  EXPECT_EQ(mapped, 128 + 96 + 27);
}

TEST_F(KeyboardTest, HidReports) {
  const struct {
    const char* events;   // as Send reads them
    const char* reports;  // every write, in order
    KeyResult result;     // of the last event
  } cases[] = {
      // clang-format off
      // A held key repeats nothing.
      {"41 41 ^41 A0 41", "00 04|00|02|02 04", kSwallow},
      // Past six, further keys are left out.
      {"41 42 43 44 45 48 47 46",
       "00 04|00 04 05|00 04 05 06|00 04 05 06 07|00 04 05 06 07 08|00 04 05 06 07 08 0B|"
       "00 04 05 06 07 08 0B|00 04 05 06 07 08 0B", kSwallow},
      // Control-Alt-Delete stays local; the server is told that all keys are up (those held
      // before too), and the releases send nothing. Control pressed last completes it too.
      {"41 A2 A4 2E* ^2E* ^A4 ^A2 42 ^42 A2 2E*", "00 04|01 04|05 04|00|00 05|00|01|01 4C",
       kSwallow},
      {"2E* A4 A2", "00 4C|04 4C|00", kPassOn},
      {"1041", "", kPassOn},  // out of range
      // A lone right Control is local, pressed, repeated or released; with A held it is remote.
      {"A3* A3* ^A3*", "10|00", kPassOn},
      {"41 A3*", "00 04|10 04", kSwallow},
      // Navigation keys without E0 are the keypad's.
      {"0C 21 22 23 24 25 26",
       "00 5D|00 5D 61|00 5B 5D 61|00 59 5B 5D 61|00 59 5B 5D 5F 61|00 59 5B 5C 5D 5F 61|"
       "00 59 5B 5C 5D 5F 61", kSwallow},
      {"27 28 2D 2E", "00 5E|00 5A 5E|00 62 5A 5E|00 62 5A 5E 63", kSwallow},
      // An unknown unnamed key and one without a usage are left out; a held Yen stays down.
      {"FF:5E 41 AD*", "00|00 04|00 04", kSwallow},
      {"FF:7D 41:1E", "00 89|00 04 89", kSwallow},
      // clang-format on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.events);
    Make(1);
    EXPECT_EQ(Send(c.events), c.result);
    EXPECT_EQ(out.writes, *c.reports ? Reports(c.reports) : Strings{});
  }
}

// A typed password must not be readable in the trace: two different keys of the same kind leave
// the same trace, as keys and as characters.
TEST_F(KeyboardTest, TracesShowNoKeys) {
  TraceCapture trace;
  std::vector<Strings> traces;
  for (const char* key : {"48:23", "4A:24"}) {
    Make(1);
    trace.Clear();
    Send(std::string("A0:2A ") + key + "@ AD*:20 ^" + key);
    keyboard->OnChar(key[1], 0x1E);
    traces.push_back(trace.Texts());
  }
  EXPECT_EQ(traces[0].size(), 12u);
  EXPECT_EQ(traces[0], traces[1]);
}

// Alt combinations are sent on release, Control ones on press; Alt comes first, then Shift, then
// Control; keys without a cell of their own fall to the plain one.
TEST_F(KeyboardTest, TerminalKeys) {
  const struct {
    const char* events;
    bool shift, control;
    const char* sent;  // "" for nothing
    KeyResult result;
  } cases[] = {
      {"51@", false, false, "", kPassOn},
      {"^51@", false, false, "1B 5B 31 51", kSwallow},
      {"41", false, true, "01", kSwallow},
      {"31", false, true, "", KeyResult::kPassOnNoHooks},
      {"51@", false, true, "11", kSwallow},
      {"^26*@", true, true, "1B 5B 31 1B 5B 41", kSwallow},
      {"26*", true, true, "1B 5B 33 1B 5B 41", kSwallow},
  };
  Make(0);
  for (const auto& c : cases) {
    out.writes.clear();
    shift = c.shift;
    control = c.control;
    EXPECT_EQ(Send(c.events), c.result) << c.events;
    EXPECT_EQ(out.writes, *c.sent ? Strings{c.sent} : Strings{}) << c.events;
  }
  // The table's cells, for plain, Alt, Control and Shift, are what is sent on press, then '|', then
  // what is sent on release; an empty cell leaves the plain one in force.
  const struct {
    std::string key;
    const char* cells[4];
  } table[] = {
      {"26", {"1B 5B 41|", "|1B 5B 31 1B 5B 41", "|1B 5B 32 1B 5B 41", "1B 5B 33 1B 5B 41|"}},
      {"2E", {"1B 5B 33 7E|", "|1B 5B 31 B1", "|1B 5B 32 B1", "1B 5B 33 7E|"}},
      {"5D", {"|1B 5B 2A", "", "", ""}},
      {"20", {"20|", "1B 5B 31 20|", "|1B 5B 32 20", "1B 20|"}},
  };
  for (const auto& row : table) {
    for (int m = 0; m < 4; ++m) {
      SCOPED_TRACE(row.key + " modifier " + std::to_string(m));
      shift = m == 3;
      control = m == 2;
      const std::string key = row.key + (m == 1 ? "@" : "");
      out.writes.clear();
      EXPECT_EQ(Send(key), kSwallow);
      out.writes.push_back("|");
      EXPECT_EQ(Send("^" + key), kSwallow);
      EXPECT_EQ(std::accumulate(out.writes.begin(), out.writes.end(), std::string()),
                *row.cells[m] ? row.cells[m] : row.cells[0]);
    }
  }
}

// Characters are rewritten for the keyboard layout of the user's language (the platform's
// numbers, from the locale's name); without a language, English.
TEST_F(KeyboardTest, CharactersAndLanguages) {
  const struct {
    std::optional<uint16_t> language;
    uint32_t ch, scanCode;
    std::string sent;
  } cases[] = {{1033, '\\', 0x56, "F0"},       {1033, '|', 0x56, "F1"}, {1033, '\\', 0x2B, "5C"},
               {1053, '*', 0x37, "7C"},        {1031, '*', 0x37, "2A"}, {1033, 0x1E9, 0x1E, "E9"},
               {std::nullopt, '*', 0x37, "2A"}};
  Make(0);
  for (const auto& c : cases) {
    out.writes.clear();
    language = c.language;
    keyboard->OnChar(c.ch, c.scanCode);
    EXPECT_EQ(out.writes, Strings{c.sent}) << c.ch;
  }
  const std::pair<const char*, int> locales[] = {
      {"sv_SE.UTF-8", 1053}, {"sv_FI@euro", 2077}, {"", 0}, {"_SE", 0}, {"sv\xff_SE", 0}};
  for (const auto& [locale, id] : locales)
    EXPECT_EQ(LanguageOfLocale(locale).value_or(0), id) << locale;
}

// A clock whose sleeps run a function, so a test can act while TakeHook waits.
class ScriptedClock : public ManualClock {
 public:
  bool SleepMs(uint32_t ms, const std::atomic<bool>* stop = nullptr) override {
    if (onSleep) onSleep(++sleeps);
    return ManualClock::SleepMs(ms, stop);
  }
  int sleeps = 0;
  std::function<void(int)> onSleep;
};

// A second console waits for the holder to let go, or takes over after two seconds; keys then
// reach it only, and the first one's late release leaves it alone. The first take, with nobody
// holding it, has no wait; the hook goes with its holder.
TEST(KeyboardHook, HandOver) {
  for (const bool letGo : {true, false}) {
    SCOPED_TRACE(letGo);
    Recorder out1, out2;
    ScriptedClock clock;
    CKeyboard first(out1.Writer(), 0, {}, clock), second(out2.Writer(), 0, {}, clock);
    first.TakeHook();
    clock.onSleep = [&](int n) {
      if (letGo && n == 5) first.ReleaseHook();
    };
    second.TakeHook();
    second.TakeHook();  // taking it again does not wait
    EXPECT_TRUE(second.HoldsHook() && !first.HoldsHook());
    EXPECT_EQ(clock.NowMs(), letGo ? 50u : 2000u);
    Send("26*");
    first.ReleaseHook();
    EXPECT_TRUE(second.HoldsHook());
    Send("28*");
    EXPECT_TRUE(out1.writes.empty());
    EXPECT_EQ(out2.writes, (Strings{"1B 5B 41", "1B 5B 42"}));
  }
  EXPECT_FALSE(CKeyboard::HookInstalled());
  EXPECT_EQ(Send("41"), kPassOn);
}

// ---- The mouse ----

TEST(Mouse, MovesSendStepAndGridPosition) {
  // Worked by hand: X = x * 3000 / width, Y = y * 3000 / height, truncated; steps limited to 127,
  // up positive; outside the picture or the remote screen, the nearest edge pixel.
  const struct {
    int fromX, fromY, toX, toY, width, height;
    const char* sent;  // "" for nothing
  } cases[] = {
      {100, 100, 400, 100, 1280, 1024, "FF D0 7F 00 03 A9 01 24"},
      {400, 100, 100, 100, 1280, 1024, "FF D0 81 00 00 EA 01 24"},
      {200, 150, 200, 150, 1024, 768, ""},
      {798, 598, 799, 599, 800, 600, "FF D0 01 FF 0B B4 0B B3"},
      {690, 10, 700, 10, 640, 480, "FF D0 0A 00 0B B3 00 3E"},
  };
  for (const auto& c : cases) {
    Recorder out;
    CMouse mouse(out.Writer());
    mouse.Enable();
    mouse.SetPosition(c.fromX, c.fromY);
    mouse.Move(c.toX, c.toY, c.width, c.height);
    EXPECT_EQ(out.writes, *c.sent ? Strings{c.sent} : Strings{}) << c.toX << "," << c.toY;
  }
}

// Nothing before Enable, which may come from another thread; then buttons and clicks; each step
// starts where the last move ended, even when that step was clamped or its write refused.
TEST(Mouse, ButtonsClicksAndSuccessiveMoves) {
  Recorder out;
  CMouse mouse(out.Writer());
  mouse.Move(10, 10, 1024, 768);
  mouse.Press(kMouseLeft);
  mouse.Click(kMouseRight, 2);
  EXPECT_TRUE(out.writes.empty());
  std::thread([&] { mouse.Enable(); }).join();
  MouseMessages bare(mouse, MouseWindow{});  // no menu bar, no callbacks
  bare.OnButton(MenuBarMouse::kLeftDown, 5, 5);
  bare.OnHover(1, 1);
  mouse.Release(kMouseRight);
  mouse.Click(kMouseLeft, 2);
  bare.OnMove(0, 0, true);     // with Control held: only repositions
  bare.OnMove(300, 0, false);  // 1280 x 1024 until the first mode switch: X = 703
  mouse.Move(301, 0, 1000, 1000);
  out.refuse = true;
  mouse.Move(305, 5, 1000, 1000);
  out.refuse = false;
  mouse.Move(306, 5, 1000, 1000);
  EXPECT_EQ(out.writes, (Strings{"FF D1 04", "FF D2 01", "FF D3 04 01", "FF D0 7F 00 02 BF 00 00",
                                 "FF D0 01 00 03 87 00 00", "FF D0 04 FB 03 93 00 0F",
                                 "FF D0 01 00 03 96 00 0F"}));
}

}  // namespace
}  // namespace remcons
