#include "input/Keyboard.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <functional>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "input/Locale.h"
#include "input/Recorder.h"
#include "platform/Clock.h"
#include "support/TraceCapture.h"

namespace remcons {
namespace {

using testing::Recorder;
using testing::TraceCapture;
using Strings = std::vector<std::string>;
constexpr KeyResult kSwallow = KeyResult::kSwallow, kPassOn = KeyResult::kPassOn;

KeyEvent Down(uint32_t vk, bool extended = false, uint32_t scan = 0) {
  KeyEvent e;
  e.vkCode = vk;
  e.extended = extended;
  e.scanCode = scan;
  return e;
}
KeyEvent Up(uint32_t vk, bool extended = false, uint32_t scan = 0) {
  KeyEvent e = Down(vk, extended, scan);
  e.keyUp = true;
  return e;
}
KeyEvent WithAlt(KeyEvent e) {
  e.altDown = true;
  return e;
}

// HID reports written short: "MM KK KK ..." (the modifier byte, then the keys held), reports
// separated by '|'; each becomes FF D6 MM 00 and six key slots.
Strings Reports(const std::string& shorthand) {
  Strings reports;
  std::istringstream in(shorthand);
  for (std::string report; std::getline(in, report, '|');) {
    std::istringstream bytes(report);
    std::string modifiers, key, text;
    bytes >> modifiers;
    int slots = 0;
    for (; bytes >> key; ++slots) text += " " + key;
    for (; slots < 6; ++slots) text += " 00";
    reports.push_back("FF D6 " + modifiers + " 00" + text);
  }
  return reports;
}

// Key events written short: the virtual key in hex, '^' before it for a release, '*' after it for
// the E0 prefix, ":SS" for a scan code.
std::vector<KeyEvent> Events(const std::string& shorthand) {
  std::vector<KeyEvent> events;
  std::istringstream in(shorthand);
  for (std::string t; in >> t;) {
    const bool up = t[0] == '^';
    const size_t colon = t.find(':');
    KeyEvent e =
        Down(std::stoul(t.substr(up), nullptr, 16), t.find('*') != std::string::npos,
             colon == std::string::npos ? 0 : std::stoul(t.substr(colon + 1), nullptr, 16));
    e.keyUp = up;
    events.push_back(e);
  }
  return events;
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
    // The held keys are the process's: start from none.
    keyboard->ReleaseAllKeys();
    out.Clear();
    return *keyboard;
  }

  ManualClock clock;
  Recorder out;
  bool shift = false;
  bool control = false;
  std::optional<uint16_t> language = 1033;
  std::unique_ptr<CKeyboard> keyboard;
};

TEST_F(KeyboardTest, HidReports) {
  const struct {
    const char* name;
    const char* events;   // as Events reads them
    const char* reports;  // every write, in order
    KeyResult result;     // of the last event
  } cases[] = {
      // clang-format off
      {"PressReleaseA", "41 ^41", "00 04|00", kSwallow},
      {"HeldARepeatsNothing", "41 41 41", "00 04", kSwallow},
      {"ShiftA", "A0 41", "02|02 04", kSwallow},
      {"SixKeysFillTheSlotsInCodeOrder", "46 45 44 43 42 41",
       "00 09|00 08 09|00 07 08 09|00 06 07 08 09|00 05 06 07 08 09|00 04 05 06 07 08 09",
       kSwallow},
      {"SeventhKeyTakesTheSixthSlot", "5A 41 42 43 44 45 46",
       "00 1D|00 04 1D|00 04 05 1D|00 04 05 06 1D|00 04 05 06 07 1D|00 04 05 06 07 08 1D|"
       "00 04 05 06 07 08 1D", kSwallow},
      {"EightKeysTheHighestIsLast", "41 42 43 44 45 48 47 46",
       "00 04|00 04 05|00 04 05 06|00 04 05 06 07|00 04 05 06 07 08|00 04 05 06 07 08 0B|"
       "00 04 05 06 07 08 0B|00 04 05 06 07 08 0B", kSwallow},
      // Control-Alt-Delete stays local; the server is told that all keys are up, and the releases
      // send nothing. A key held before the combination is forgotten with the rest.
      {"ControlAltDelete", "A2 A4 2E*", "01|05|00", kPassOn},
      {"ControlAltDeleteReleasesSendNothing", "A2 A4 2E* ^2E* ^A4 ^A2", "01|05|00", kSwallow},
      {"ControlAltDeleteForgetsTheHeldKeys", "41 A2 A4 2E* 42", "00 04|01 04|05 04|00|00 05",
       kSwallow},
      {"OutOfRangeKeyCodePassesOn", "1041", "", kPassOn},
      {"RightControlRightAltKeypadDelete", "A3* A5* 2E", "10|50|00", kPassOn},
      // Pressing Control last, while Alt and Delete are held, completes the combination too.
      {"DeleteAltThenControl", "2E* A4 A2", "00 4C|04 4C|00", kPassOn},
      {"ControlDeleteWithoutAltIsSent", "A2 2E*", "01|01 4C", kSwallow},
      {"LoneRightControlAlsoLocal", "A3*", "10", kPassOn},
      {"RightControlReleaseAlsoLocal", "A3* ^A3*", "10|00", kPassOn},
      {"RightControlRepeatAlsoLocal", "A3* A3*", "10", kPassOn},
      {"RightControlWithAHeldStaysRemote", "41 A3*", "00 04|10 04", kSwallow},
      {"LeftControlStaysRemote", "A2", "01", kSwallow},
      {"HomeNotExtendedIsKeypad7", "24", "00 5F", kSwallow},
      {"NavigationNotExtendedIsKeypad", "0C 21 22 23 25 26",
       "00 5D|00 5D 61|00 5B 5D 61|00 59 5B 5D 61|00 59 5B 5C 5D 61|00 59 5B 5C 5D 60 61",
       kSwallow},
      {"MoreNavigationNotExtended", "27 28 2D 2E", "00 5E|00 5A 5E|00 62 5A 5E|00 62 5A 5E 63",
       kSwallow},
      {"UnknownUnnamedKeyLeftOut", "FF:5E", "00", kSwallow},
      // A held Yen stays down while another key is pressed.
      {"YenHeldWithA", "FF:7D 41:1E", "00 89|00 04 89", kSwallow},
      {"KeyWithoutUsageLeftOut", "41 AD*", "00 04|00 04", kSwallow},
      // clang-format on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Make(1);
    KeyResult result = kPassOn;
    for (const KeyEvent& e : Events(c.events)) result = CKeyboard::HookEvent(e);
    EXPECT_EQ(out.Texts(), *c.reports ? Reports(c.reports) : Strings{});
    EXPECT_EQ(result, c.result);
  }
}

// A typed password must not be readable in the trace: events and reports show only their counts
// and modifiers, never which key.
TEST_F(KeyboardTest, HidTracesNoKeys) {
  Make(1);
  TraceCapture trace;
  CKeyboard::HookEvent(Down(0xA0, false, 0x2A));
  CKeyboard::HookEvent(WithAlt(Down(0x48, false, 0x23)));  // Shift-Alt-H
  CKeyboard::HookEvent(Down(0xAD, true, 0x20));            // no usage
  CKeyboard::HookEvent(Up(0x48, false, 0x23));
  EXPECT_EQ(trace.Texts(),
            (Strings{"Key down, flags = 0000\n", "HID translation: 0 keys, modifiers 02\n",
                     "Key down, flags = 0020\n", "HID translation: 1 keys, modifiers 02\n",
                     "Key down, flags = 0000\n", "Unhandled key\n",
                     "HID translation: 1 keys, modifiers 02\n", "Key up, flags = 0080\n",
                     "Unhandled key\n", "HID translation: 0 keys, modifiers 02\n"}));
}

// ReleaseAllKeys forgets the held keys and says so (in HID mode only); held keys outlast a change
// of focus; a refused write is dropped.
TEST_F(KeyboardTest, HeldKeys) {
  Make(0);
  keyboard->ReleaseAllKeys();
  EXPECT_TRUE(out.writes.empty());
  Make(1);
  CKeyboard::HookEvent(Down(0x41));
  CKeyboard::HookEvent(Down(0xA0));
  out.Clear();
  keyboard->ReleaseAllKeys();
  CKeyboard::HookEvent(Up(0x41));  // no longer held: nothing changes
  EXPECT_EQ(out.Texts(), Reports("00"));
  out.refuse = true;
  EXPECT_EQ(CKeyboard::HookEvent(Down(0x41)), kSwallow);
  out.refuse = false;
  keyboard->ReleaseHook();
  keyboard->TakeHook();
  out.Clear();
  CKeyboard::HookEvent(Down(0x42));
  EXPECT_EQ(out.Texts(), Reports("00 04 05"));
}

TEST_F(KeyboardTest, TerminalKeys) {
  const struct {
    const char* name;
    KeyEvent event;
    bool shift, control;
    const char* sent;  // "" for nothing
    KeyResult result;
  } cases[] = {
      {"AltQPress", WithAlt(Down(0x51)), false, false, "", kPassOn},
      {"AltQRelease", WithAlt(Up(0x51)), false, false, "1B 5B 31 51", kSwallow},
      {"AltReleaseItself", WithAlt(Up(0xA4)), false, false, "", kPassOn},
      {"RightAltReleaseItself", WithAlt(Up(0xA5, true)), false, false, "", kPassOn},
      {"AltShiftRelease", WithAlt(Up(0xA0)), true, false, "1B 5B 31 A0", kSwallow},
      {"CtrlC", Down(0x43), false, true, "03", kSwallow},
      {"CtrlA", Down(0x41), false, true, "01", kSwallow},
      {"CtrlZ", Down(0x5A), false, true, "1A", kSwallow},
      {"CtrlCRelease", Up(0x43), false, true, "", kPassOn},
      {"Ctrl1", Down(0x31), false, true, "", KeyResult::kPassOnNoHooks},
      {"CtrlItself", Down(0xA2), false, true, "", KeyResult::kPassOnNoHooks},
      {"CtrlAltQPress", WithAlt(Down(0x51)), false, true, "11", kSwallow},
      {"PlainLetter", Down(0x41), false, false, "", kPassOn},
      {"ShiftLetter", Down(0x41), true, false, "", kPassOn},
      // Alt comes first, then Shift, then Control.
      {"AltBeatsShift", WithAlt(Down(0x26, true)), true, true, "", kSwallow},
      {"AltBeatsShiftRelease", WithAlt(Up(0x26, true)), true, true, "1B 5B 31 1B 5B 41", kSwallow},
      {"ShiftBeatsControl", Down(0x26, true), true, true, "1B 5B 33 1B 5B 41", kSwallow},
      {"ControlWindowsKeyFallsToPlain", Up(0x5B, true), false, true, "1B 5B 24", kSwallow},
      {"AltApplicationsFallsToPlain", WithAlt(Up(0x5D, true)), false, false, "1B 5B 2A", kSwallow},
  };
  Make(0);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    out.Clear();
    shift = c.shift;
    control = c.control;
    EXPECT_EQ(CKeyboard::HookEvent(c.event), c.result);
    EXPECT_EQ(out.Texts(), *c.sent ? Strings{c.sent} : Strings{});
  }
}

// The whole table as it reads: each cell is "<bytes> p" (sent on press) or "<bytes> r" (on
// release); an empty cell leaves the plain one in force.
TEST_F(KeyboardTest, TerminalTableRowByRow) {
  struct Row {
    uint32_t vk;
    const char* cells[4];  // plain, Alt, Control, Shift
  };
  // clang-format off
  const Row table[] = {
      {0x09, "09 p", "1B 5B 31 09 p", "1B 5B 32 09 r", "1B 5B 33 09 p"},
      {0x08, "08 p", "1B 5B 31 08 p", "1B 5B 32 08 r", "1B 5B 33 08 p"},
      {0x26, "1B 5B 41 p", "1B 5B 31 1B 5B 41 r", "1B 5B 32 1B 5B 41 r", "1B 5B 33 1B 5B 41 p"},
      {0x28, "1B 5B 42 p", "1B 5B 31 1B 5B 42 r", "1B 5B 32 1B 5B 42 r", "1B 5B 33 1B 5B 42 p"},
      {0x27, "1B 5B 43 p", "1B 5B 31 1B 5B 43 r", "1B 5B 32 1B 5B 43 r", "1B 5B 33 1B 5B 43 p"},
      {0x25, "1B 5B 44 p", "1B 5B 31 1B 5B 44 r", "1B 5B 32 1B 5B 44 r", "1B 5B 33 1B 5B 44 p"},
      {0x23, "1B 5B 46 r", "1B 5B 31 1B 5B 46 r", "1B 5B 32 1B 5B 46 r", "1B 5B 33 1B 5B 46 r"},
      {0x22, "1B 5B 47 r", "1B 5B 31 1B 5B 47 r", "1B 5B 32 1B 5B 47 r", "1B 5B 33 1B 5B 47 r"},
      {0x24, "1B 5B 48 r", "1B 5B 31 1B 5B 48 r", "1B 5B 32 1B 5B 48 r", "1B 5B 33 1B 5B 48 r"},
      {0x21, "1B 5B 49 r", "1B 5B 31 1B 5B 49 r", "1B 5B 32 1B 5B 49 r", "1B 5B 33 1B 5B 49 r"},
      {0x2D, "1B 5B 4C r", "1B 5B 31 1B 5B 4C r", "1B 5B 32 1B 5B 4C r", "1B 5B 33 1B 5B 4C r"},
      {0x70, "1B 5B 4D p", "1B 5B 77 r", "1B 5B 6B r", "1B 5B 59 r"},
      {0x71, "1B 5B 4E p", "1B 5B 78 r", "1B 5B 6C r", "1B 5B 5A r"},
      {0x72, "1B 5B 4F p", "1B 5B 79 r", "1B 5B 6D r", "1B 5B 61 r"},
      {0x73, "1B 5B 50 p", "1B 5B 7A r", "1B 5B 6E r", "1B 5B 62 r"},
      {0x74, "1B 5B 51 p", "1B 5B 40 r", "1B 5B 6F r", "1B 5B 63 r"},
      {0x75, "1B 5B 52 p", "1B 5B 5B r", "1B 5B 70 r", "1B 5B 64 r"},
      {0x76, "1B 5B 53 p", "1B 5B 5C r", "1B 5B 71 r", "1B 5B 65 r"},
      {0x77, "1B 5B 54 p", "1B 5B 5D r", "1B 5B 72 r", "1B 5B 66 r"},
      {0x78, "1B 5B 55 p", "1B 5B 5E r", "1B 5B 73 r", "1B 5B 67 r"},
      {0x79, "1B 5B 56 p", "1B 5B 20 r", "1B 5B 74 r", "1B 5B 68 r"},
      {0x7A, "1B 5B 57 p", "1B 5B 60 r", "1B 5B 75 r", "1B 5B 69 r"},
      {0x7B, "1B 5B 58 r", "1B 5B 27 r", "1B 5B 76 r", "1B 5B 6A r"},
      {0x2E, "1B 5B 33 7E p", "1B 5B 31 B1 r", "1B 5B 32 B1 r", "1B 5B 33 7E p"},
      {0x5B, "1B 5B 24 r", "", "", ""},
      {0x5C, "1B 5B 24 r", "", "", ""},
      {0x5D, "1B 5B 2A r", "", "", ""},
      {0x20, "20 p", "1B 5B 31 20 p", "1B 5B 32 20 r", "1B 20 p"},
  };
  // clang-format on
  Make(0);
  for (const Row& row : table) {
    for (int m = 0; m < 4; ++m) {
      const std::string cell = *row.cells[m] ? row.cells[m] : row.cells[0];
      const Strings bytes = {cell.substr(0, cell.size() - 2)};
      const bool onRelease = cell.back() == 'r';
      SCOPED_TRACE("vk " + std::to_string(row.vk) + " modifier " + std::to_string(m));
      shift = m == 3;
      control = m == 2;
      KeyEvent down = Down(row.vk), up = Up(row.vk);
      down.altDown = up.altDown = m == 1;
      out.Clear();
      EXPECT_EQ(CKeyboard::HookEvent(down), kSwallow);
      EXPECT_EQ(out.Texts(), onRelease ? Strings{} : bytes);
      out.Clear();
      EXPECT_EQ(CKeyboard::HookEvent(up), kSwallow);
      EXPECT_EQ(out.Texts(), onRelease ? bytes : Strings{});
    }
  }
}

TEST_F(KeyboardTest, Characters) {
  const struct {
    const char* name;
    std::optional<uint16_t> language;
    uint32_t ch, scanCode;
    std::string sent;
  } cases[] = {
      {"PlainA", 1033, 'a', 0x1E, "61"},
      {"Backslash102", 1033, '\\', 0x56, "F0"},
      {"Bar102", 1033, '|', 0x56, "F1"},
      {"BackslashMainKey", 1033, '\\', 0x2B, "5C"},
      {"SwedishKeypadStar", 1053, '*', 0x37, "7C"},
      {"SwedishSlash", 1053, '/', 0x35, "26"},
      {"SwedishKeypadMinus", 1053, '-', 0x4A, "2F"},
      {"SwedishKeypadPlus", 1053, '+', 0x4E, "2D"},
      {"SwedishOtherKey", 1053, '*', 0x09, "2A"},
      {"SwedishOtherChar", 1053, 'x', 0x37, "78"},
      {"SwedishBackslash102", 1053, '\\', 0x56, "F0"},
      {"EnglishKeypadStar", 1033, '*', 0x37, "2A"},
      {"GermanKeypadStar", 1031, '*', 0x37, "2A"},
      {"QueryFailsMeansEnglish", std::nullopt, '*', 0x37, "2A"},
      {"LowByteOnly", 1033, 0x1E9, 0x1E, "E9"},
  };
  Make(0);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    out.Clear();
    language = c.language;
    keyboard->OnChar(c.ch, c.scanCode);
    EXPECT_EQ(out.Texts(), Strings{c.sent});
  }
  // Without a language function: English.
  Recorder plain;
  CKeyboard(plain.Writer(), 0).OnChar('*', 0x37);
  EXPECT_EQ(plain.Texts(), Strings{"2A"});
}

TEST_F(KeyboardTest, TerminalAndCharacterTraces) {
  Make(0);
  TraceCapture trace;
  CKeyboard::HookEvent(WithAlt(Up(0x51)));
  control = true;
  CKeyboard::HookEvent(Down(0x43));
  language = 1053;
  keyboard->OnChar('*', 0x37);
  language = std::nullopt;
  keyboard->OnChar('a', 0x1E);
  for (const char* line : {"CKeyboard: ALT something sent.\n", "CKeyboard: CTRL something sent.\n",
                           "CRemCons::OnChar GetLocalInfo succes:41d\n",
                           "CRemCons::OnChar GetLocalInfo error:no user default language\n"}) {
    EXPECT_TRUE(trace.Has(line)) << line;
  }
  // The characters themselves stay out.
  const Strings texts = trace.Texts();
  EXPECT_EQ(std::count(texts.begin(), texts.end(), "CKeyboard::SendKey: 1 character\n"), 2);
}

// Language identifiers as the platform numbers them.
TEST(KeyboardLanguage, OfLocaleNames) {
  const std::pair<const char*, std::optional<uint16_t>> cases[] = {{"sv_SE.UTF-8", 1053},
                                                                   {"sv", 1053},
                                                                   {"sv_FI.UTF-8@euro", 2077},
                                                                   {"en_US.UTF-8", 1033},
                                                                   {"en_GB", 2057},
                                                                   {"de_DE@euro", 1031},
                                                                   {"sv_", 1053},
                                                                   {"C", std::nullopt},
                                                                   {"C.UTF-8", std::nullopt},
                                                                   {"POSIX", std::nullopt},
                                                                   {"", std::nullopt},
                                                                   {"_SE", std::nullopt},
                                                                   {"svSE", std::nullopt},
                                                                   {"xx_YY", std::nullopt},
                                                                   {"sv\xff_SE", std::nullopt}};
  for (const auto& [locale, id] : cases) EXPECT_EQ(LanguageOfLocale(locale), id) << locale;
}

// ---- The hook and its hand-over ----

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

// The hook set and removed (traced), focus moving between consoles without a wait, SendKey on the
// sender's own connection, and the hook gone with its holder.
TEST(KeyboardHook, TakeReleaseAndFocusMoves) {
  TraceCapture trace;
  Recorder out1, out2;
  ManualClock clock;
  auto hid = std::make_unique<CKeyboard>(out1.Writer(), 1, KeyboardSystem{}, clock);
  CKeyboard terminal(out2.Writer(), 0, {}, clock);
  hid->TakeHook();
  EXPECT_TRUE(hid->HoldsHook());
  EXPECT_TRUE(CKeyboard::HookInstalled());
  const auto texts = trace.Texts();
  ASSERT_EQ(texts.size(), 1u);
  EXPECT_TRUE(texts[0].starts_with("CKeyboard: Keyboard hook 0x") && texts[0].ends_with(" set.\n"))
      << texts[0];
  hid->ReleaseAllKeys();
  out1.Clear();
  CKeyboard::HookEvent(Down(0x26, true));
  hid->ReleaseHook();
  EXPECT_FALSE(CKeyboard::HookInstalled());
  EXPECT_EQ(trace.Texts().back(),
            "CKeyboard: Keyboard hook " + texts[0].substr(25, 10) + " removed\n");
  terminal.TakeHook();
  CKeyboard::HookEvent(Down(0x26, true));
  hid->SendKey('x');
  EXPECT_EQ(out1.Texts(), (Strings{"FF D6 00 00 52 00 00 00 00 00", "78"}));
  EXPECT_EQ(out2.Texts(), Strings{"1B 5B 41"});
  EXPECT_EQ(clock.NowMs(), 0u) << "no wait when nobody holds the hook";
  hid->ReleaseAllKeys();
  hid->TakeHook();
  terminal.ReleaseHook();
  hid.reset();
  EXPECT_FALSE(CKeyboard::HookInstalled());
  EXPECT_EQ(CKeyboard::HookEvent(Down(0x41)), kPassOn);
  EXPECT_EQ(out2.Texts().size(), 1u);
}

TEST(KeyboardHook, WaitsForTheHolderToLetGoOrTakesOverAfterTwoSeconds) {
  for (const bool letGo : {true, false}) {
    SCOPED_TRACE(letGo);
    TraceCapture trace;
    Recorder out1, out2;
    ScriptedClock clock;
    CKeyboard first(out1.Writer(), 0, {}, clock);
    CKeyboard second(out2.Writer(), 0, {}, clock);
    first.TakeHook();
    clock.onSleep = [&](int n) {
      if (letGo && n == 5) first.ReleaseHook();
    };
    second.TakeHook();
    second.TakeHook();  // taking it again does not wait
    EXPECT_TRUE(second.HoldsHook());
    EXPECT_FALSE(first.HoldsHook());
    EXPECT_EQ(clock.sleeps, letGo ? 5 : 200);
    EXPECT_EQ(clock.NowMs(), letGo ? 50u : 2000u);
    EXPECT_EQ(trace.Has("CKeyboard: taking hook when someone already has it?\n"), !letGo);
    // Keys now reach the second console only, and the first one's late release leaves it alone.
    CKeyboard::HookEvent(Down(0x26, true));
    first.ReleaseHook();
    EXPECT_TRUE(second.HoldsHook());
    CKeyboard::HookEvent(Down(0x28, true));
    EXPECT_TRUE(out1.writes.empty());
    EXPECT_EQ(out2.Texts(), (Strings{"1B 5B 41", "1B 5B 42"}));
  }
}

}  // namespace
}  // namespace remcons
