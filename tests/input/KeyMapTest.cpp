#include "input/KeyMap.h"

#include <gtest/gtest.h>
#include <iconv.h>
#include <linux/input-event-codes.h>

#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "input/Keyboard.h"
#include "input/Recorder.h"
#include "platform/Clock.h"

namespace remcons {
namespace {

using testing::Recorder;

struct Expected {
  uint32_t evdev;
  const char* name;
  KeyCode key;
};

constexpr bool E0 = true;

// Worked by hand from the scan code set 1 tables (make codes, E0 prefix) and the virtual-key code
// list of the US layout.
const Expected kSample[] = {
    {KEY_ESC, "Esc", {0x1B, 0x01, false}},
    {KEY_1, "1", {0x31, 0x02, false}},
    {KEY_0, "0", {0x30, 0x0B, false}},
    {KEY_MINUS, "Minus", {0xBD, 0x0C, false}},
    {KEY_EQUAL, "Equal", {0xBB, 0x0D, false}},
    {KEY_BACKSPACE, "Backspace", {0x08, 0x0E, false}},
    {KEY_TAB, "Tab", {0x09, 0x0F, false}},
    {KEY_Q, "Q", {0x51, 0x10, false}},
    {KEY_P, "P", {0x50, 0x19, false}},
    {KEY_LEFTBRACE, "LeftBracket", {0xDB, 0x1A, false}},
    {KEY_ENTER, "Enter", {0x0D, 0x1C, false}},
    {KEY_LEFTCTRL, "LeftCtrl", {0xA2, 0x1D, false}},
    {KEY_A, "A", {0x41, 0x1E, false}},
    {KEY_L, "L", {0x4C, 0x26, false}},
    {KEY_SEMICOLON, "Semicolon", {0xBA, 0x27, false}},
    {KEY_APOSTROPHE, "Apostrophe", {0xDE, 0x28, false}},
    {KEY_GRAVE, "Grave", {0xC0, 0x29, false}},
    {KEY_LEFTSHIFT, "LeftShift", {0xA0, 0x2A, false}},
    {KEY_BACKSLASH, "Backslash", {0xDC, 0x2B, false}},
    {KEY_Z, "Z", {0x5A, 0x2C, false}},
    {KEY_M, "M", {0x4D, 0x32, false}},
    {KEY_SLASH, "Slash", {0xBF, 0x35, false}},
    {KEY_RIGHTSHIFT, "RightShift", {0xA1, 0x36, false}},
    {KEY_KPASTERISK, "KeypadStar", {0x6A, 0x37, false}},
    {KEY_LEFTALT, "LeftAlt", {0xA4, 0x38, false}},
    {KEY_SPACE, "Space", {0x20, 0x39, false}},
    {KEY_CAPSLOCK, "CapsLock", {0x14, 0x3A, false}},
    {KEY_F1, "F1", {0x70, 0x3B, false}},
    {KEY_F10, "F10", {0x79, 0x44, false}},
    {KEY_NUMLOCK, "NumLock", {0x90, 0x45, false}},
    {KEY_SCROLLLOCK, "ScrollLock", {0x91, 0x46, false}},
    {KEY_KP7, "Keypad7", {0x67, 0x47, false}},
    {KEY_KPMINUS, "KeypadMinus", {0x6D, 0x4A, false}},
    {KEY_KP5, "Keypad5", {0x65, 0x4C, false}},
    {KEY_KPPLUS, "KeypadPlus", {0x6B, 0x4E, false}},
    {KEY_KP0, "Keypad0", {0x60, 0x52, false}},
    {KEY_KPDOT, "KeypadDot", {0x6E, 0x53, false}},
    {KEY_102ND, "Extra102", {0xE2, 0x56, false}},
    {KEY_F11, "F11", {0x7A, 0x57, false}},
    {KEY_F12, "F12", {0x7B, 0x58, false}},
    {KEY_RO, "Ro", {0xC1, 0x73, false}},
    {KEY_HENKAN, "Henkan", {0xFF, 0x79, false}},
    {KEY_KATAKANAHIRAGANA, "KatakanaHiragana", {0xFF, 0x70, false}},
    {KEY_MUHENKAN, "Muhenkan", {0xEB, 0x7B, false}},
    {KEY_YEN, "Yen", {0xFF, 0x7D, false}},
    {KEY_KPENTER, "KeypadEnter", {0x0D, 0x1C, E0}},
    {KEY_RIGHTCTRL, "RightCtrl", {0xA3, 0x1D, E0}},
    {KEY_KPSLASH, "KeypadSlash", {0x6F, 0x35, E0}},
    {KEY_SYSRQ, "PrintScreen", {0x2C, 0x37, E0}},
    {KEY_RIGHTALT, "RightAlt", {0xA5, 0x38, E0}},
    {KEY_HOME, "Home", {0x24, 0x47, E0}},
    {KEY_UP, "Up", {0x26, 0x48, E0}},
    {KEY_PAGEUP, "PageUp", {0x21, 0x49, E0}},
    {KEY_LEFT, "Left", {0x25, 0x4B, E0}},
    {KEY_RIGHT, "Right", {0x27, 0x4D, E0}},
    {KEY_END, "End", {0x23, 0x4F, E0}},
    {KEY_DOWN, "Down", {0x28, 0x50, E0}},
    {KEY_PAGEDOWN, "PageDown", {0x22, 0x51, E0}},
    {KEY_INSERT, "Insert", {0x2D, 0x52, E0}},
    {KEY_DELETE, "Delete", {0x2E, 0x53, E0}},
    {KEY_PAUSE, "Pause", {0x13, 0x45, false}},
    {KEY_LEFTMETA, "LeftWindows", {0x5B, 0x5B, E0}},
    {KEY_RIGHTMETA, "RightWindows", {0x5C, 0x5C, E0}},
    {KEY_COMPOSE, "Applications", {0x5D, 0x5D, E0}},
    {KEY_MUTE, "Mute", {0xAD, 0x20, E0}},
    {KEY_VOLUMEDOWN, "VolumeDown", {0xAE, 0x2E, E0}},
    {KEY_VOLUMEUP, "VolumeUp", {0xAF, 0x30, E0}},
    {KEY_PLAYPAUSE, "PlayPause", {0xB3, 0x22, E0}},
    {KEY_NEXTSONG, "NextTrack", {0xB0, 0x19, E0}},
    {KEY_PREVIOUSSONG, "PreviousTrack", {0xB1, 0x10, E0}},
    {KEY_HOMEPAGE, "BrowserHome", {0xAC, 0x32, E0}},
    {KEY_F13, "F13", {0x7C, 0x64, false}},
    {KEY_F24, "F24", {0x87, 0x76, false}},
};

class KeymapSample : public ::testing::TestWithParam<Expected> {};

TEST_P(KeymapSample, MatchesTheTables) {
  auto key = KeyFromEvdev(GetParam().evdev);
  ASSERT_TRUE(key.has_value());
  EXPECT_EQ(key->vk, GetParam().key.vk);
  EXPECT_EQ(key->scanCode, GetParam().key.scanCode);
  EXPECT_EQ(key->extended, GetParam().key.extended);
  EXPECT_EQ(KeyFromX11Keycode(GetParam().evdev + 8), key);
}

INSTANTIATE_TEST_SUITE_P(Rows, KeymapSample, ::testing::ValuesIn(kSample),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Keymap, CodesWithoutARow) {
  for (uint32_t code : {0u, uint32_t{KEY_ZENKAKUHANKAKU}, uint32_t{KEY_POWER}, 255u, 256u,
                        uint32_t{KEY_CLEAR}, 0xFFFFFFFFu}) {
    EXPECT_FALSE(KeyFromEvdev(code).has_value()) << code;
  }
  EXPECT_FALSE(KeyFromX11Keycode(0).has_value());
  EXPECT_FALSE(KeyFromX11Keycode(7).has_value());
}

std::vector<std::pair<uint32_t, KeyCode>> AllRows() {
  std::vector<std::pair<uint32_t, KeyCode>> rows;
  for (uint32_t code = 0; code < 1024; ++code) {
    if (auto key = KeyFromEvdev(code)) rows.emplace_back(code, *key);
  }
  return rows;
}

// Each physical key has its own make code, except Pause, whose E1 sequence ends in Num Lock's.
TEST(Keymap, ScanCodesAreDistinct) {
  std::map<std::pair<int, bool>, std::vector<uint32_t>> byScan;
  for (auto [code, key] : AllRows()) byScan[{key.scanCode, key.extended}].push_back(code);
  for (const auto& [scan, codes] : byScan) {
    if (scan == std::pair{0x45, false}) {
      EXPECT_EQ(codes, (std::vector<uint32_t>{KEY_NUMLOCK, KEY_PAUSE}));
    } else {
      EXPECT_EQ(codes.size(), 1u) << "scan " << scan.first << " shared by evdev " << codes[0];
    }
  }
}

// Only the two Enter keys and the three JIS keys without a code of their own share a code.
TEST(Keymap, VirtualKeysAreDistinct) {
  std::map<int, std::vector<uint32_t>> byVk;
  for (auto [code, key] : AllRows()) byVk[key.vk].push_back(code);
  for (const auto& [vk, codes] : byVk) {
    if (vk == 0x0D) {
      EXPECT_EQ(codes, (std::vector<uint32_t>{KEY_ENTER, KEY_KPENTER}));
    } else if (vk == 0xFF) {
      EXPECT_EQ(codes, (std::vector<uint32_t>{KEY_HENKAN, KEY_KATAKANAHIRAGANA, KEY_YEN}));
    } else {
      EXPECT_EQ(codes.size(), 1u) << "vk " << vk;
    }
  }
}

TEST(Keymap, KeypadIsNotExtendedExceptEnterAndSlash) {
  for (uint32_t code :
       {KEY_KP0, KEY_KP1, KEY_KP2, KEY_KP3, KEY_KP4, KEY_KP5, KEY_KP6, KEY_KP7, KEY_KP8, KEY_KP9,
        KEY_KPDOT, KEY_KPPLUS, KEY_KPMINUS, KEY_KPASTERISK, KEY_NUMLOCK}) {
    EXPECT_FALSE(KeyFromEvdev(code)->extended) << code;
  }
  EXPECT_TRUE(KeyFromEvdev(KEY_KPENTER)->extended);
  EXPECT_TRUE(KeyFromEvdev(KEY_KPSLASH)->extended);
}

TEST(Keymap, KeypadNavigationKeys) {
  const std::pair<uint8_t, uint8_t> pairs[] = {
      {0x60, 0x2D}, {0x61, 0x23}, {0x62, 0x28}, {0x63, 0x22}, {0x64, 0x25}, {0x65, 0x0C},
      {0x66, 0x27}, {0x67, 0x24}, {0x68, 0x26}, {0x69, 0x21}, {0x6E, 0x2E}};
  for (auto [keypad, navigation] : pairs) EXPECT_EQ(KeypadNavigationKey(keypad), navigation);
  for (uint8_t other : {0x6A, 0x6B, 0x6D, 0x6F, 0x24, 0x41}) {
    EXPECT_FALSE(KeypadNavigationKey(other).has_value()) << int{other};
  }
}

// The keys of a US keyboard, through the map and the HID procedure, come out as the USB HID usage
// of the same key (HID Usage Tables, keyboard page), as a real USB keyboard would report them.
TEST(Keymap, KeysBecomeTheirUsbUsages) {
  const std::pair<uint32_t, uint8_t> usages[] = {
      {KEY_A, 0x04},          {KEY_Z, 0x1D},          {KEY_1, 0x1E},
      {KEY_9, 0x26},          {KEY_0, 0x27},          {KEY_ENTER, 0x28},
      {KEY_ESC, 0x29},        {KEY_BACKSPACE, 0x2A},  {KEY_TAB, 0x2B},
      {KEY_SPACE, 0x2C},      {KEY_MINUS, 0x2D},      {KEY_EQUAL, 0x2E},
      {KEY_LEFTBRACE, 0x2F},  {KEY_RIGHTBRACE, 0x30}, {KEY_BACKSLASH, 0x31},
      {KEY_SEMICOLON, 0x33},  {KEY_APOSTROPHE, 0x34}, {KEY_GRAVE, 0x35},
      {KEY_COMMA, 0x36},      {KEY_DOT, 0x37},        {KEY_SLASH, 0x38},
      {KEY_CAPSLOCK, 0x39},   {KEY_F1, 0x3A},         {KEY_F12, 0x45},
      {KEY_SYSRQ, 0x46},      {KEY_SCROLLLOCK, 0x47}, {KEY_PAUSE, 0x48},
      {KEY_INSERT, 0x49},     {KEY_HOME, 0x4A},       {KEY_PAGEUP, 0x4B},
      {KEY_DELETE, 0x4C},     {KEY_END, 0x4D},        {KEY_PAGEDOWN, 0x4E},
      {KEY_RIGHT, 0x4F},      {KEY_LEFT, 0x50},       {KEY_DOWN, 0x51},
      {KEY_UP, 0x52},         {KEY_NUMLOCK, 0x53},    {KEY_KPSLASH, 0x54},
      {KEY_KPASTERISK, 0x55}, {KEY_KPMINUS, 0x56},    {KEY_KPPLUS, 0x57},
      {KEY_KP1, 0x59},        {KEY_KP5, 0x5D},        {KEY_KP9, 0x61},
      {KEY_KP0, 0x62},        {KEY_KPDOT, 0x63},      {KEY_102ND, 0x64},
      {KEY_COMPOSE, 0x65},    {KEY_RO, 0x87},         {KEY_KATAKANAHIRAGANA, 0x88},
      {KEY_YEN, 0x89},        {KEY_HENKAN, 0x8A},     {KEY_MUHENKAN, 0x8B},
  };
  const std::pair<uint32_t, uint8_t> modifiers[] = {
      {KEY_LEFTCTRL, 0x01},  {KEY_LEFTSHIFT, 0x02},  {KEY_LEFTALT, 0x04},  {KEY_LEFTMETA, 0x08},
      {KEY_RIGHTCTRL, 0x10}, {KEY_RIGHTSHIFT, 0x20}, {KEY_RIGHTALT, 0x40}, {KEY_RIGHTMETA, 0x80},
  };

  Recorder out;
  ManualClock clock;
  CKeyboard keyboard(out.Writer(), 1, {}, clock);
  keyboard.TakeHook();
  keyboard.ReleaseAllKeys();
  auto strike = [&](uint32_t code) {
    auto key = KeyFromEvdev(code);
    KeyEvent e{key->vk, key->scanCode, key->extended, false, false, 0};
    out.Clear();
    CKeyboard::HookEvent(e);
    e.keyUp = true;
    CKeyboard::HookEvent(e);
    return out.writes;
  };
  for (auto [code, usage] : usages) {
    auto writes = strike(code);
    ASSERT_EQ(writes.size(), 2u) << code;
    EXPECT_EQ(writes[0], (std::vector<uint8_t>{0xFF, 0xD6, 0, 0, usage, 0, 0, 0, 0, 0}))
        << "evdev " << code;
  }
  for (auto [code, bit] : modifiers) {
    auto writes = strike(code);
    ASSERT_EQ(writes.size(), 2u) << code;
    EXPECT_EQ(writes[0], (std::vector<uint8_t>{0xFF, 0xD6, bit, 0, 0, 0, 0, 0, 0, 0}))
        << "evdev " << code;
  }
}

// Windows-1252 as the C library's iconv has it.
std::optional<uint8_t> IconvCp1252(iconv_t cd, char32_t ch) {
  char in[4];
  std::memcpy(in, &ch, 4);
  char outByte[4];
  char* inPtr = in;
  char* outPtr = outByte;
  size_t inLeft = 4, outLeft = sizeof outByte;
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  if (iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) == static_cast<size_t>(-1)) {
    return std::nullopt;
  }
  if (outLeft != sizeof outByte - 1) return std::nullopt;
  return static_cast<uint8_t>(outByte[0]);
}

TEST(Keymap, AnsiMatchesIconv) {
  iconv_t cd = iconv_open("CP1252", "UTF-32LE");
  if (cd == reinterpret_cast<iconv_t>(-1)) GTEST_SKIP() << "iconv has no CP1252";
  std::unique_ptr<void, int (*)(iconv_t)> closer(cd, iconv_close);
  int mapped = 0;
  for (char32_t ch = 0; ch < 0x10000; ++ch) {
    if (ch >= 0xD800 && ch < 0xE000) continue;
    // The C1 controls have no place in the code page: the slots they would take hold other
    // characters or nothing.
    if (ch >= 0x80 && ch < 0xA0) {
      EXPECT_FALSE(AnsiFromUnicode(ch).has_value()) << std::hex << uint32_t{ch};
      continue;
    }
    auto expected = IconvCp1252(cd, ch);
    EXPECT_EQ(AnsiFromUnicode(ch), expected) << std::hex << uint32_t{ch};
    if (expected) ++mapped;
  }
  EXPECT_EQ(mapped, 128 + 96 + 27);
}

}  // namespace
}  // namespace remcons
