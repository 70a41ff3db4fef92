#include "input/KeyMap.h"

#include <gtest/gtest.h>
#include <iconv.h>
#include <linux/input-event-codes.h>

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "input/Keyboard.h"
#include "input/Recorder.h"
#include "platform/Clock.h"

namespace remcons {
namespace {

using testing::Recorder;

// Worked by hand from the scan code set 1 tables (make codes, E0 prefix) and the virtual-key code
// list of the US layout.
TEST(Keymap, SampleRowsMatchTheTables) {
  struct Row {
    uint32_t evdev;
    uint8_t vk, scan, e0;
  };
  // clang-format off
  const Row sample[] = {
      {KEY_ESC, 0x1B, 0x01, 0}, {KEY_1, 0x31, 0x02, 0}, {KEY_0, 0x30, 0x0B, 0},
      {KEY_MINUS, 0xBD, 0x0C, 0}, {KEY_EQUAL, 0xBB, 0x0D, 0}, {KEY_BACKSPACE, 0x08, 0x0E, 0},
      {KEY_TAB, 0x09, 0x0F, 0}, {KEY_Q, 0x51, 0x10, 0}, {KEY_P, 0x50, 0x19, 0},
      {KEY_LEFTBRACE, 0xDB, 0x1A, 0}, {KEY_ENTER, 0x0D, 0x1C, 0}, {KEY_LEFTCTRL, 0xA2, 0x1D, 0},
      {KEY_A, 0x41, 0x1E, 0}, {KEY_L, 0x4C, 0x26, 0}, {KEY_SEMICOLON, 0xBA, 0x27, 0},
      {KEY_APOSTROPHE, 0xDE, 0x28, 0}, {KEY_GRAVE, 0xC0, 0x29, 0}, {KEY_LEFTSHIFT, 0xA0, 0x2A, 0},
      {KEY_BACKSLASH, 0xDC, 0x2B, 0}, {KEY_Z, 0x5A, 0x2C, 0}, {KEY_M, 0x4D, 0x32, 0},
      {KEY_SLASH, 0xBF, 0x35, 0}, {KEY_RIGHTSHIFT, 0xA1, 0x36, 0}, {KEY_KPASTERISK, 0x6A, 0x37, 0},
      {KEY_LEFTALT, 0xA4, 0x38, 0}, {KEY_SPACE, 0x20, 0x39, 0}, {KEY_CAPSLOCK, 0x14, 0x3A, 0},
      {KEY_F1, 0x70, 0x3B, 0}, {KEY_F10, 0x79, 0x44, 0}, {KEY_NUMLOCK, 0x90, 0x45, 0},
      {KEY_SCROLLLOCK, 0x91, 0x46, 0}, {KEY_KP7, 0x67, 0x47, 0}, {KEY_KPMINUS, 0x6D, 0x4A, 0},
      {KEY_KP5, 0x65, 0x4C, 0}, {KEY_KPPLUS, 0x6B, 0x4E, 0}, {KEY_KP0, 0x60, 0x52, 0},
      {KEY_KPDOT, 0x6E, 0x53, 0}, {KEY_102ND, 0xE2, 0x56, 0}, {KEY_F11, 0x7A, 0x57, 0},
      {KEY_F12, 0x7B, 0x58, 0}, {KEY_RO, 0xC1, 0x73, 0}, {KEY_HENKAN, 0xFF, 0x79, 0},
      {KEY_KATAKANAHIRAGANA, 0xFF, 0x70, 0}, {KEY_MUHENKAN, 0xEB, 0x7B, 0},
      {KEY_YEN, 0xFF, 0x7D, 0},
      {KEY_KPENTER, 0x0D, 0x1C, 1}, {KEY_RIGHTCTRL, 0xA3, 0x1D, 1}, {KEY_KPSLASH, 0x6F, 0x35, 1},
      {KEY_SYSRQ, 0x2C, 0x37, 1}, {KEY_RIGHTALT, 0xA5, 0x38, 1}, {KEY_HOME, 0x24, 0x47, 1},
      {KEY_UP, 0x26, 0x48, 1}, {KEY_PAGEUP, 0x21, 0x49, 1}, {KEY_LEFT, 0x25, 0x4B, 1},
      {KEY_RIGHT, 0x27, 0x4D, 1}, {KEY_END, 0x23, 0x4F, 1}, {KEY_DOWN, 0x28, 0x50, 1},
      {KEY_PAGEDOWN, 0x22, 0x51, 1}, {KEY_INSERT, 0x2D, 0x52, 1}, {KEY_DELETE, 0x2E, 0x53, 1},
      {KEY_PAUSE, 0x13, 0x45, 0}, {KEY_LEFTMETA, 0x5B, 0x5B, 1}, {KEY_RIGHTMETA, 0x5C, 0x5C, 1},
      {KEY_COMPOSE, 0x5D, 0x5D, 1}, {KEY_MUTE, 0xAD, 0x20, 1}, {KEY_VOLUMEDOWN, 0xAE, 0x2E, 1},
      {KEY_VOLUMEUP, 0xAF, 0x30, 1}, {KEY_PLAYPAUSE, 0xB3, 0x22, 1}, {KEY_NEXTSONG, 0xB0, 0x19, 1},
      {KEY_PREVIOUSSONG, 0xB1, 0x10, 1}, {KEY_HOMEPAGE, 0xAC, 0x32, 1}, {KEY_F13, 0x7C, 0x64, 0},
      {KEY_F24, 0x87, 0x76, 0},
  };
  // clang-format on
  for (const auto& row : sample) {
    const KeyCode key{row.vk, row.scan, row.e0 == 1};
    EXPECT_EQ(KeyFromEvdev(row.evdev), key) << row.evdev;
    EXPECT_EQ(KeyFromX11Keycode(row.evdev + 8), key) << row.evdev;
  }
}

// Each physical key has its own make code, except Pause, whose E1 sequence ends in Num Lock's; only
// the two Enter keys and the three JIS keys without a code of their own share a virtual key.
TEST(Keymap, ScanCodesAndVirtualKeysAreDistinct) {
  std::map<std::pair<int, bool>, std::vector<uint32_t>> byScan;
  std::map<int, std::vector<uint32_t>> byVk;
  for (uint32_t code = 0; code < 1024; ++code) {
    if (auto key = KeyFromEvdev(code)) {
      byScan[{key->scanCode, key->extended}].push_back(code);
      byVk[key->vk].push_back(code);
    }
  }
  for (const auto& [scan, codes] : byScan) {
    if (scan != std::pair{0x45, false}) {
      EXPECT_EQ(codes.size(), 1u) << "scan " << scan.first;
    }
  }
  EXPECT_EQ((byScan[{0x45, false}]), (std::vector<uint32_t>{KEY_NUMLOCK, KEY_PAUSE}));
  for (const auto& [vk, codes] : byVk) {
    if (vk != 0x0D && vk != 0xFF) {
      EXPECT_EQ(codes.size(), 1u) << "vk " << vk;
    }
  }
  EXPECT_EQ(byVk[0x0D], (std::vector<uint32_t>{KEY_ENTER, KEY_KPENTER}));
  EXPECT_EQ(byVk[0xFF], (std::vector<uint32_t>{KEY_HENKAN, KEY_KATAKANAHIRAGANA, KEY_YEN}));
}

// Codes without a row; the keypad is not extended except Enter and slash, and its navigation keys.
TEST(Keymap, CodesWithoutARowAndTheKeypad) {
  for (uint32_t code : {0u, uint32_t{KEY_ZENKAKUHANKAKU}, uint32_t{KEY_POWER}, 255u, 256u,
                        uint32_t{KEY_CLEAR}, 0xFFFFFFFFu}) {
    EXPECT_FALSE(KeyFromEvdev(code).has_value()) << code;
  }
  EXPECT_FALSE(KeyFromX11Keycode(0).has_value());
  EXPECT_FALSE(KeyFromX11Keycode(7).has_value());
  for (uint32_t code : {KEY_KP0, KEY_KP1, KEY_KP2, KEY_KP3, KEY_KP4, KEY_KP5, KEY_KP6, KEY_KP7,
                        KEY_KP8, KEY_KP9, KEY_KPDOT, KEY_KPPLUS, KEY_KPMINUS, KEY_KPASTERISK}) {
    EXPECT_FALSE(KeyFromEvdev(code)->extended) << code;
  }
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
  auto firstReport = [&](uint32_t code) {
    auto key = KeyFromEvdev(code);
    KeyEvent e{key->vk, key->scanCode, key->extended, false, false, 0};
    out.Clear();
    CKeyboard::HookEvent(e);
    e.keyUp = true;
    CKeyboard::HookEvent(e);
    EXPECT_EQ(out.writes.size(), 2u) << code;
    return out.writes.empty() ? std::vector<uint8_t>{} : out.writes[0];
  };
  for (auto [code, usage] : usages) {
    EXPECT_EQ(firstReport(code), (std::vector<uint8_t>{0xFF, 0xD6, 0, 0, usage, 0, 0, 0, 0, 0}))
        << "evdev " << code;
  }
  for (auto [code, bit] : modifiers) {
    EXPECT_EQ(firstReport(code), (std::vector<uint8_t>{0xFF, 0xD6, bit, 0, 0, 0, 0, 0, 0, 0}))
        << "evdev " << code;
  }
}

// Windows-1252 as the C library's iconv has it.
std::optional<uint8_t> IconvCp1252(iconv_t cd, char32_t ch) {
  char* in = reinterpret_cast<char*>(&ch);
  char outByte[4], *to = outByte;
  size_t inLeft = 4, outLeft = sizeof outByte;
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  if (iconv(cd, &in, &inLeft, &to, &outLeft) == static_cast<size_t>(-1) || outLeft != 3) {
    return std::nullopt;
  }
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
