#include "input/Keyboard.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>
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

const std::string kNoKeys = "FF D6 00 00 00 00 00 00 00 00";

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

// ---- HID mode ----

struct HidCase {
  const char* name;
  std::vector<KeyEvent> events;
  Strings reports;   // every write, in order
  KeyResult result;  // of the last event
};

class HidTest : public KeyboardTest, public ::testing::WithParamInterface<HidCase> {};

TEST_P(HidTest, SendsReports) {
  Make(1);
  KeyResult result = KeyResult::kPassOn;
  for (const KeyEvent& e : GetParam().events) result = CKeyboard::HookEvent(e);
  EXPECT_EQ(out.Texts(), GetParam().reports);
  EXPECT_EQ(result, GetParam().result);
}

const HidCase kHidCases[] = {
    {"PressReleaseA",
     {Down(0x41), Up(0x41)},
     {"FF D6 00 00 04 00 00 00 00 00", kNoKeys},
     KeyResult::kSwallow},
    {"HeldARepeatsNothing",
     {Down(0x41), Down(0x41), Down(0x41)},
     {"FF D6 00 00 04 00 00 00 00 00"},
     KeyResult::kSwallow},
    {"ShiftA",
     {Down(0xA0), Down(0x41)},
     {"FF D6 02 00 00 00 00 00 00 00", "FF D6 02 00 04 00 00 00 00 00"},
     KeyResult::kSwallow},
    {"SixKeysFillTheSlotsInCodeOrder",
     {Down(0x46), Down(0x45), Down(0x44), Down(0x43), Down(0x42), Down(0x41)},
     {"FF D6 00 00 09 00 00 00 00 00", "FF D6 00 00 08 09 00 00 00 00",
      "FF D6 00 00 07 08 09 00 00 00", "FF D6 00 00 06 07 08 09 00 00",
      "FF D6 00 00 05 06 07 08 09 00", "FF D6 00 00 04 05 06 07 08 09"},
     KeyResult::kSwallow},
    {"SeventhKeyTakesTheSixthSlot",
     {Down(0x5A), Down(0x41), Down(0x42), Down(0x43), Down(0x44), Down(0x45), Down(0x46)},
     {"FF D6 00 00 1D 00 00 00 00 00", "FF D6 00 00 04 1D 00 00 00 00",
      "FF D6 00 00 04 05 1D 00 00 00", "FF D6 00 00 04 05 06 1D 00 00",
      "FF D6 00 00 04 05 06 07 1D 00", "FF D6 00 00 04 05 06 07 08 1D",
      "FF D6 00 00 04 05 06 07 08 1D"},
     KeyResult::kSwallow},
    {"EightKeysTheHighestIsLast",
     {Down(0x41), Down(0x42), Down(0x43), Down(0x44), Down(0x45), Down(0x48), Down(0x47),
      Down(0x46)},
     {"FF D6 00 00 04 00 00 00 00 00", "FF D6 00 00 04 05 00 00 00 00",
      "FF D6 00 00 04 05 06 00 00 00", "FF D6 00 00 04 05 06 07 00 00",
      "FF D6 00 00 04 05 06 07 08 00", "FF D6 00 00 04 05 06 07 08 0B",
      "FF D6 00 00 04 05 06 07 08 0B", "FF D6 00 00 04 05 06 07 08 0B"},
     KeyResult::kSwallow},
    // Control-Alt-Delete stays local; the server is told that all keys are up.
    {"ControlAltDelete",
     {Down(0xA2), Down(0xA4), Down(0x2E, true)},
     {"FF D6 01 00 00 00 00 00 00 00", "FF D6 05 00 00 00 00 00 00 00", kNoKeys},
     KeyResult::kPassOn},
    {"ControlAltDeleteReleasesSendNothing",
     {Down(0xA2), Down(0xA4), Down(0x2E, true), Up(0x2E, true), Up(0xA4), Up(0xA2)},
     {"FF D6 01 00 00 00 00 00 00 00", "FF D6 05 00 00 00 00 00 00 00", kNoKeys},
     KeyResult::kSwallow},
    // A key held before the combination is forgotten with the rest.
    {"ControlAltDeleteForgetsTheHeldKeys",
     {Down(0x41), Down(0xA2), Down(0xA4), Down(0x2E, true), Down(0x42)},
     {"FF D6 00 00 04 00 00 00 00 00", "FF D6 01 00 04 00 00 00 00 00",
      "FF D6 05 00 04 00 00 00 00 00", kNoKeys, "FF D6 00 00 05 00 00 00 00 00"},
     KeyResult::kSwallow},
    {"OutOfRangeKeyCodePassesOn", {Down(0x1041)}, {}, KeyResult::kPassOn},
    {"RightControlRightAltKeypadDelete",
     {Down(0xA3, true), Down(0xA5, true), Down(0x2E)},
     {"FF D6 10 00 00 00 00 00 00 00", "FF D6 50 00 00 00 00 00 00 00", kNoKeys},
     KeyResult::kPassOn},
    // Pressing Control last, while Alt and Delete are held, completes the combination too.
    {"DeleteAltThenControl",
     {Down(0x2E, true), Down(0xA4), Down(0xA2)},
     {"FF D6 00 00 4C 00 00 00 00 00", "FF D6 04 00 4C 00 00 00 00 00", kNoKeys},
     KeyResult::kPassOn},
    {"ControlDeleteWithoutAltIsSent",
     {Down(0xA2), Down(0x2E, true)},
     {"FF D6 01 00 00 00 00 00 00 00", "FF D6 01 00 4C 00 00 00 00 00"},
     KeyResult::kSwallow},
    {"LoneRightControlAlsoLocal",
     {Down(0xA3, true)},
     {"FF D6 10 00 00 00 00 00 00 00"},
     KeyResult::kPassOn},
    {"RightControlReleaseAlsoLocal",
     {Down(0xA3, true), Up(0xA3, true)},
     {"FF D6 10 00 00 00 00 00 00 00", kNoKeys},
     KeyResult::kPassOn},
    {"RightControlRepeatAlsoLocal",
     {Down(0xA3, true), Down(0xA3, true)},
     {"FF D6 10 00 00 00 00 00 00 00"},
     KeyResult::kPassOn},
    {"RightControlWithAHeldStaysRemote",
     {Down(0x41), Down(0xA3, true)},
     {"FF D6 00 00 04 00 00 00 00 00", "FF D6 10 00 04 00 00 00 00 00"},
     KeyResult::kSwallow},
    {"LeftControlStaysRemote",
     {Down(0xA2)},
     {"FF D6 01 00 00 00 00 00 00 00"},
     KeyResult::kSwallow},
    {"HomeNotExtendedIsKeypad7",
     {Down(0x24)},
     {"FF D6 00 00 5F 00 00 00 00 00"},
     KeyResult::kSwallow},
    {"NavigationNotExtendedIsKeypad",
     {Down(0x0C), Down(0x21), Down(0x22), Down(0x23), Down(0x25), Down(0x26)},
     {"FF D6 00 00 5D 00 00 00 00 00", "FF D6 00 00 5D 61 00 00 00 00",
      "FF D6 00 00 5B 5D 61 00 00 00", "FF D6 00 00 59 5B 5D 61 00 00",
      "FF D6 00 00 59 5B 5C 5D 61 00", "FF D6 00 00 59 5B 5C 5D 60 61"},
     KeyResult::kSwallow},
    {"MoreNavigationNotExtended",
     {Down(0x27), Down(0x28), Down(0x2D), Down(0x2E)},
     {"FF D6 00 00 5E 00 00 00 00 00", "FF D6 00 00 5A 5E 00 00 00 00",
      "FF D6 00 00 62 5A 5E 00 00 00", "FF D6 00 00 62 5A 5E 63 00 00"},
     KeyResult::kSwallow},
    {"UnknownUnnamedKeyLeftOut", {Down(0xFF, false, 0x5E)}, {kNoKeys}, KeyResult::kSwallow},
    // A held Yen stays down while another key is pressed.
    {"YenHeldWithA",
     {Down(0xFF, false, 0x7D), Down(0x41, false, 0x1E)},
     {"FF D6 00 00 89 00 00 00 00 00", "FF D6 00 00 04 89 00 00 00 00"},
     KeyResult::kSwallow},
    {"KeyWithoutUsageLeftOut",
     {Down(0x41), Down(0xAD, true)},
     {"FF D6 00 00 04 00 00 00 00 00", "FF D6 00 00 04 00 00 00 00 00"},
     KeyResult::kSwallow},
};

INSTANTIATE_TEST_SUITE_P(Keys, HidTest, ::testing::ValuesIn(kHidCases),
                         [](const auto& info) { return std::string(info.param.name); });

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

TEST_F(KeyboardTest, ReleaseAllKeysForgetsAndReports) {
  Make(1);
  CKeyboard::HookEvent(Down(0x41));
  CKeyboard::HookEvent(Down(0xA0));
  out.Clear();
  keyboard->ReleaseAllKeys();
  EXPECT_EQ(out.Texts(), Strings{kNoKeys});
  // A is no longer held: its release changes nothing.
  CKeyboard::HookEvent(Up(0x41));
  EXPECT_EQ(out.Texts(), Strings{kNoKeys});
}

TEST_F(KeyboardTest, ReleaseAllKeysSendsNothingInTerminalMode) {
  Make(0);
  keyboard->ReleaseAllKeys();
  EXPECT_TRUE(out.writes.empty());
}

TEST_F(KeyboardTest, HeldKeysPersistAcrossFocusChanges) {
  Make(1);
  CKeyboard::HookEvent(Down(0x41));
  keyboard->ReleaseHook();
  keyboard->TakeHook();
  out.Clear();
  CKeyboard::HookEvent(Down(0x42));
  EXPECT_EQ(out.Texts(), Strings{"FF D6 00 00 04 05 00 00 00 00"});
}

TEST_F(KeyboardTest, RefusedWritesAreDropped) {
  Make(1);
  out.refuse = true;
  EXPECT_EQ(CKeyboard::HookEvent(Down(0x41)), KeyResult::kSwallow);
  out.refuse = false;
  CKeyboard::HookEvent(Down(0x42));
  EXPECT_EQ(out.Texts().back(), "FF D6 00 00 04 05 00 00 00 00");
}

// ---- Terminal mode ----

struct TerminalCase {
  const char* name;
  KeyEvent event;
  bool shift, control;
  Strings sent;
  KeyResult result;
};

class TerminalTest : public KeyboardTest, public ::testing::WithParamInterface<TerminalCase> {};

TEST_P(TerminalTest, Translates) {
  Make(0);
  shift = GetParam().shift;
  control = GetParam().control;
  EXPECT_EQ(CKeyboard::HookEvent(GetParam().event), GetParam().result);
  EXPECT_EQ(out.Texts(), GetParam().sent);
}

const TerminalCase kTerminalCases[] = {
    {"AltQPress", WithAlt(Down(0x51)), false, false, {}, KeyResult::kPassOn},
    {"AltQRelease", WithAlt(Up(0x51)), false, false, {"1B 5B 31 51"}, KeyResult::kSwallow},
    {"AltReleaseItself", WithAlt(Up(0xA4)), false, false, {}, KeyResult::kPassOn},
    {"RightAltReleaseItself", WithAlt(Up(0xA5, true)), false, false, {}, KeyResult::kPassOn},
    {"AltShiftRelease", WithAlt(Up(0xA0)), true, false, {"1B 5B 31 A0"}, KeyResult::kSwallow},
    {"CtrlC", Down(0x43), false, true, {"03"}, KeyResult::kSwallow},
    {"CtrlA", Down(0x41), false, true, {"01"}, KeyResult::kSwallow},
    {"CtrlZ", Down(0x5A), false, true, {"1A"}, KeyResult::kSwallow},
    {"CtrlCRelease", Up(0x43), false, true, {}, KeyResult::kPassOn},
    {"Ctrl1", Down(0x31), false, true, {}, KeyResult::kPassOnNoHooks},
    {"CtrlItself", Down(0xA2), false, true, {}, KeyResult::kPassOnNoHooks},
    {"CtrlAltQPress", WithAlt(Down(0x51)), false, true, {"11"}, KeyResult::kSwallow},
    {"PlainLetter", Down(0x41), false, false, {}, KeyResult::kPassOn},
    {"ShiftLetter", Down(0x41), true, false, {}, KeyResult::kPassOn},
    // Alt comes first, then Shift, then Control.
    {"AltBeatsShift", WithAlt(Down(0x26, true)), true, true, {}, KeyResult::kSwallow},
    {"AltBeatsShiftRelease",
     WithAlt(Up(0x26, true)),
     true,
     true,
     {"1B 5B 31 1B 5B 41"},
     KeyResult::kSwallow},
    {"ShiftBeatsControl", Down(0x26, true), true, true, {"1B 5B 33 1B 5B 41"}, KeyResult::kSwallow},
    {"ControlWindowsKeyFallsToPlain",
     Up(0x5B, true),
     false,
     true,
     {"1B 5B 24"},
     KeyResult::kSwallow},
    {"AltApplicationsFallsToPlain",
     WithAlt(Up(0x5D, true)),
     false,
     false,
     {"1B 5B 2A"},
     KeyResult::kSwallow},
};

INSTANTIATE_TEST_SUITE_P(Keys, TerminalTest, ::testing::ValuesIn(kTerminalCases),
                         [](const auto& info) { return std::string(info.param.name); });

// The whole table, written out as it reads: each cell is "<bytes> on press|release" or "".
struct TableRow {
  const char* key;
  uint32_t vk;
  const char* plain;
  const char* alt;
  const char* ctrl;
  const char* shift;
};

const TableRow kTable[] = {
    {"Tab", 0x09, "09 on press", "1B 5B 31 09 on press", "1B 5B 32 09 on release",
     "1B 5B 33 09 on press"},
    {"Backspace", 0x08, "08 on press", "1B 5B 31 08 on press", "1B 5B 32 08 on release",
     "1B 5B 33 08 on press"},
    {"Up", 0x26, "1B 5B 41 on press", "1B 5B 31 1B 5B 41 on release",
     "1B 5B 32 1B 5B 41 on release", "1B 5B 33 1B 5B 41 on press"},
    {"Down", 0x28, "1B 5B 42 on press", "1B 5B 31 1B 5B 42 on release",
     "1B 5B 32 1B 5B 42 on release", "1B 5B 33 1B 5B 42 on press"},
    {"Right", 0x27, "1B 5B 43 on press", "1B 5B 31 1B 5B 43 on release",
     "1B 5B 32 1B 5B 43 on release", "1B 5B 33 1B 5B 43 on press"},
    {"Left", 0x25, "1B 5B 44 on press", "1B 5B 31 1B 5B 44 on release",
     "1B 5B 32 1B 5B 44 on release", "1B 5B 33 1B 5B 44 on press"},
    {"End", 0x23, "1B 5B 46 on release", "1B 5B 31 1B 5B 46 on release",
     "1B 5B 32 1B 5B 46 on release", "1B 5B 33 1B 5B 46 on release"},
    {"Page Down", 0x22, "1B 5B 47 on release", "1B 5B 31 1B 5B 47 on release",
     "1B 5B 32 1B 5B 47 on release", "1B 5B 33 1B 5B 47 on release"},
    {"Home", 0x24, "1B 5B 48 on release", "1B 5B 31 1B 5B 48 on release",
     "1B 5B 32 1B 5B 48 on release", "1B 5B 33 1B 5B 48 on release"},
    {"Page Up", 0x21, "1B 5B 49 on release", "1B 5B 31 1B 5B 49 on release",
     "1B 5B 32 1B 5B 49 on release", "1B 5B 33 1B 5B 49 on release"},
    {"Insert", 0x2D, "1B 5B 4C on release", "1B 5B 31 1B 5B 4C on release",
     "1B 5B 32 1B 5B 4C on release", "1B 5B 33 1B 5B 4C on release"},
    {"F1", 0x70, "1B 5B 4D on press", "1B 5B 77 on release", "1B 5B 6B on release",
     "1B 5B 59 on release"},
    {"F2", 0x71, "1B 5B 4E on press", "1B 5B 78 on release", "1B 5B 6C on release",
     "1B 5B 5A on release"},
    {"F3", 0x72, "1B 5B 4F on press", "1B 5B 79 on release", "1B 5B 6D on release",
     "1B 5B 61 on release"},
    {"F4", 0x73, "1B 5B 50 on press", "1B 5B 7A on release", "1B 5B 6E on release",
     "1B 5B 62 on release"},
    {"F5", 0x74, "1B 5B 51 on press", "1B 5B 40 on release", "1B 5B 6F on release",
     "1B 5B 63 on release"},
    {"F6", 0x75, "1B 5B 52 on press", "1B 5B 5B on release", "1B 5B 70 on release",
     "1B 5B 64 on release"},
    {"F7", 0x76, "1B 5B 53 on press", "1B 5B 5C on release", "1B 5B 71 on release",
     "1B 5B 65 on release"},
    {"F8", 0x77, "1B 5B 54 on press", "1B 5B 5D on release", "1B 5B 72 on release",
     "1B 5B 66 on release"},
    {"F9", 0x78, "1B 5B 55 on press", "1B 5B 5E on release", "1B 5B 73 on release",
     "1B 5B 67 on release"},
    {"F10", 0x79, "1B 5B 56 on press", "1B 5B 20 on release", "1B 5B 74 on release",
     "1B 5B 68 on release"},
    {"F11", 0x7A, "1B 5B 57 on press", "1B 5B 60 on release", "1B 5B 75 on release",
     "1B 5B 69 on release"},
    {"F12", 0x7B, "1B 5B 58 on release", "1B 5B 27 on release", "1B 5B 76 on release",
     "1B 5B 6A on release"},
    {"Delete", 0x2E, "1B 5B 33 7E on press", "1B 5B 31 B1 on release", "1B 5B 32 B1 on release",
     "1B 5B 33 7E on press"},
    {"Left Windows", 0x5B, "1B 5B 24 on release", "", "", ""},
    {"Right Windows", 0x5C, "1B 5B 24 on release", "", "", ""},
    {"Applications", 0x5D, "1B 5B 2A on release", "", "", ""},
    {"Space", 0x20, "20 on press", "1B 5B 31 20 on press", "1B 5B 32 20 on release",
     "1B 20 on press"},
};

// Splits "<bytes> on press" into the bytes and whether they go on release.
std::pair<std::string, bool> ParseCell(const std::string& cell) {
  auto on = cell.rfind(" on ");
  return {cell.substr(0, on), cell.substr(on + 4) == "release"};
}

TEST_F(KeyboardTest, TerminalTableRowByRow) {
  ASSERT_EQ(std::size(kTable), 28u);
  Make(0);
  enum Modifier { kPlain, kAlt, kCtrl, kShift };
  for (const TableRow& row : kTable) {
    for (Modifier m : {kPlain, kAlt, kCtrl, kShift}) {
      const char* cells[] = {row.plain, row.alt, row.ctrl, row.shift};
      // An empty cell leaves the plain one in force.
      std::string cell = *cells[m] ? cells[m] : row.plain;
      auto [bytes, onRelease] = ParseCell(cell);
      SCOPED_TRACE(std::string(row.key) + " modifier " + std::to_string(m) + " expects " + cell);
      shift = m == kShift;
      control = m == kCtrl;
      KeyEvent down = Down(row.vk), up = Up(row.vk);
      down.altDown = up.altDown = m == kAlt;

      out.Clear();
      EXPECT_EQ(CKeyboard::HookEvent(down), KeyResult::kSwallow);
      EXPECT_EQ(out.Texts(), onRelease ? Strings{} : Strings{bytes});
      out.Clear();
      EXPECT_EQ(CKeyboard::HookEvent(up), KeyResult::kSwallow);
      EXPECT_EQ(out.Texts(), onRelease ? Strings{bytes} : Strings{});
    }
  }
}

TEST_F(KeyboardTest, TerminalSideTraces) {
  Make(0);
  TraceCapture trace;
  CKeyboard::HookEvent(WithAlt(Up(0x51)));
  control = true;
  CKeyboard::HookEvent(Down(0x43));
  EXPECT_TRUE(trace.Has("CKeyboard: ALT something sent.\n"));
  EXPECT_TRUE(trace.Has("CKeyboard: CTRL something sent.\n"));
}

// ---- Characters ----

struct CharCase {
  const char* name;
  std::optional<uint16_t> language;
  uint32_t ch, scanCode;
  std::string sent;
};

class CharTest : public KeyboardTest, public ::testing::WithParamInterface<CharCase> {};

TEST_P(CharTest, Rewrites) {
  Make(0);
  language = GetParam().language;
  keyboard->OnChar(GetParam().ch, GetParam().scanCode);
  EXPECT_EQ(out.Texts(), Strings{GetParam().sent});
}

const CharCase kCharCases[] = {
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

INSTANTIATE_TEST_SUITE_P(Chars, CharTest, ::testing::ValuesIn(kCharCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(KeyboardTest, CharTraces) {
  Make(0);
  TraceCapture trace;
  language = 1053;
  keyboard->OnChar('*', 0x37);
  language = std::nullopt;
  keyboard->OnChar('a', 0x1E);
  // The characters themselves stay out.
  EXPECT_EQ(
      trace.Texts(),
      (Strings{"CRemCons::OnChar GetLocalInfo succes:41d\n", "CKeyboard::SendKey: 1 character\n",
               "CRemCons::OnChar GetLocalInfo error:no user default language\n",
               "CKeyboard::SendKey: 1 character\n"}));
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

TEST(KeyboardDefaults, NoLanguageFunctionMeansEnglish) {
  Recorder out;
  CKeyboard keyboard(out.Writer(), 0);
  keyboard.OnChar('*', 0x37);
  EXPECT_EQ(out.Texts(), Strings{"2A"});
}

// ---- The hook and its hand-over ----

// A clock whose sleeps run a function, so a test can act while TakeHook waits.
class ScriptedClock : public ManualClock {
 public:
  bool SleepMs(uint32_t ms, const std::atomic<bool>* stop = nullptr) override {
    ++sleeps;
    if (onSleep) onSleep(sleeps);
    return ManualClock::SleepMs(ms, stop);
  }
  int sleeps = 0;
  std::function<void(int)> onSleep;
};

TEST(KeyboardHook, TakeAndReleaseTrace) {
  TraceCapture trace;
  Recorder out;
  ManualClock clock;
  CKeyboard keyboard(out.Writer(), 1, {}, clock);
  keyboard.TakeHook();
  EXPECT_TRUE(keyboard.HoldsHook());
  EXPECT_TRUE(CKeyboard::HookInstalled());
  keyboard.ReleaseHook();
  EXPECT_FALSE(CKeyboard::HookInstalled());
  EXPECT_EQ(clock.NowMs(), 0u) << "no wait when nobody holds the hook";
  auto texts = trace.Texts();
  ASSERT_EQ(texts.size(), 2u);
  EXPECT_TRUE(texts[0].starts_with("CKeyboard: Keyboard hook 0x") && texts[0].ends_with(" set.\n"))
      << texts[0];
  EXPECT_EQ(texts[1], "CKeyboard: Keyboard hook " + texts[0].substr(25, 10) + " removed\n");
}

TEST(KeyboardHook, FocusMovesBetweenConsoles) {
  Recorder out1, out2;
  ManualClock clock;
  CKeyboard hid(out1.Writer(), 1, {}, clock);
  CKeyboard terminal(out2.Writer(), 0, {}, clock);
  hid.TakeHook();
  hid.ReleaseAllKeys();
  out1.Clear();
  CKeyboard::HookEvent(Down(0x26, true));
  // Focus moves: the old console lets go first, the new one takes over without waiting.
  hid.ReleaseHook();
  terminal.TakeHook();
  CKeyboard::HookEvent(Down(0x26, true));
  EXPECT_EQ(out1.Texts(), Strings{"FF D6 00 00 52 00 00 00 00 00"});
  EXPECT_EQ(out2.Texts(), Strings{"1B 5B 41"});
  EXPECT_EQ(clock.NowMs(), 0u);
  hid.ReleaseAllKeys();
}

TEST(KeyboardHook, WaitsForTheHolderToLetGo) {
  TraceCapture trace;
  Recorder out1, out2;
  ScriptedClock clock;
  CKeyboard first(out1.Writer(), 0, {}, clock);
  CKeyboard second(out2.Writer(), 0, {}, clock);
  first.TakeHook();
  clock.onSleep = [&](int n) {
    if (n == 5) first.ReleaseHook();
  };
  second.TakeHook();
  second.TakeHook();  // taking it again does not wait
  EXPECT_TRUE(second.HoldsHook());
  EXPECT_EQ(clock.sleeps, 5);
  EXPECT_EQ(clock.NowMs(), 50u);
  EXPECT_FALSE(trace.Has("CKeyboard: taking hook when someone already has it?\n"));
}

TEST(KeyboardHook, TakesOverAfterTwoSeconds) {
  TraceCapture trace;
  Recorder out1, out2;
  ScriptedClock clock;
  CKeyboard first(out1.Writer(), 0, {}, clock);
  CKeyboard second(out2.Writer(), 0, {}, clock);
  first.TakeHook();
  second.TakeHook();
  EXPECT_EQ(clock.sleeps, 200);
  EXPECT_EQ(clock.NowMs(), 2000u);
  EXPECT_TRUE(trace.Has("CKeyboard: taking hook when someone already has it?\n"));
  EXPECT_TRUE(second.HoldsHook());
  EXPECT_FALSE(first.HoldsHook());

  // Keys now reach the second console only, and the first one's late release leaves it alone.
  CKeyboard::HookEvent(Down(0x26, true));
  first.ReleaseHook();
  EXPECT_TRUE(second.HoldsHook());
  CKeyboard::HookEvent(Down(0x28, true));
  EXPECT_TRUE(out1.writes.empty());
  EXPECT_EQ(out2.Texts(), (Strings{"1B 5B 41", "1B 5B 42"}));
}

TEST(KeyboardHook, DestroyingTheHolderRemovesTheHook) {
  Recorder out;
  ManualClock clock;
  {
    CKeyboard keyboard(out.Writer(), 1, {}, clock);
    keyboard.TakeHook();
    ASSERT_TRUE(CKeyboard::HookInstalled());
  }
  EXPECT_FALSE(CKeyboard::HookInstalled());
  EXPECT_EQ(CKeyboard::HookEvent(Down(0x41)), KeyResult::kPassOn);
  EXPECT_TRUE(out.writes.empty());
}

TEST(KeyboardHook, SendKeyUsesItsOwnConnection) {
  Recorder out1, out2;
  ManualClock clock;
  CKeyboard first(out1.Writer(), 0, {}, clock);
  CKeyboard second(out2.Writer(), 0, {}, clock);
  first.TakeHook();
  second.SendKey('x');
  EXPECT_TRUE(out1.writes.empty());
  EXPECT_EQ(out2.Texts(), Strings{"78"});
  first.ReleaseHook();
}

}  // namespace
}  // namespace remcons
