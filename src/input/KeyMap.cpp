#include "input/KeyMap.h"

#include <array>

namespace remcons {
namespace {

struct Row {
  uint16_t evdev;
  uint8_t vk;
  uint8_t scanCode;
  bool extended;
};

constexpr bool E0 = true;
constexpr bool no = false;

// evdev code → virtual-key code, set-1 scan code, E0 prefix. The virtual-key codes are those of the
// US English layout, which the console activates for itself: under it the JIS keys report 0xC1
// (Ro), 0xEB (Muhenkan) or 0xFF (Katakana/Hiragana, Henkan, Yen, told apart by their scan codes).
// Left and right modifiers have their own codes. The navigation cluster is extended, so the HID
// procedure can tell it from the keypad, whose keys are not extended except Enter and '/'. Pause
// (E1 1D 45) and Num Lock (45) carry no E0 prefix.
constexpr Row kRows[] = {
    // {evdev, vk, scan, E0},  key
    {1, 0x1B, 0x01, no},    // Esc
    {2, 0x31, 0x02, no},    // 1
    {3, 0x32, 0x03, no},    // 2
    {4, 0x33, 0x04, no},    // 3
    {5, 0x34, 0x05, no},    // 4
    {6, 0x35, 0x06, no},    // 5
    {7, 0x36, 0x07, no},    // 6
    {8, 0x37, 0x08, no},    // 7
    {9, 0x38, 0x09, no},    // 8
    {10, 0x39, 0x0A, no},   // 9
    {11, 0x30, 0x0B, no},   // 0
    {12, 0xBD, 0x0C, no},   // - _
    {13, 0xBB, 0x0D, no},   // = +
    {14, 0x08, 0x0E, no},   // Backspace
    {15, 0x09, 0x0F, no},   // Tab
    {16, 0x51, 0x10, no},   // Q
    {17, 0x57, 0x11, no},   // W
    {18, 0x45, 0x12, no},   // E
    {19, 0x52, 0x13, no},   // R
    {20, 0x54, 0x14, no},   // T
    {21, 0x59, 0x15, no},   // Y
    {22, 0x55, 0x16, no},   // U
    {23, 0x49, 0x17, no},   // I
    {24, 0x4F, 0x18, no},   // O
    {25, 0x50, 0x19, no},   // P
    {26, 0xDB, 0x1A, no},   // [ {
    {27, 0xDD, 0x1B, no},   // ] }
    {28, 0x0D, 0x1C, no},   // Enter
    {29, 0xA2, 0x1D, no},   // Left Ctrl
    {30, 0x41, 0x1E, no},   // A
    {31, 0x53, 0x1F, no},   // S
    {32, 0x44, 0x20, no},   // D
    {33, 0x46, 0x21, no},   // F
    {34, 0x47, 0x22, no},   // G
    {35, 0x48, 0x23, no},   // H
    {36, 0x4A, 0x24, no},   // J
    {37, 0x4B, 0x25, no},   // K
    {38, 0x4C, 0x26, no},   // L
    {39, 0xBA, 0x27, no},   // ; :
    {40, 0xDE, 0x28, no},   // ' "
    {41, 0xC0, 0x29, no},   // ` ~
    {42, 0xA0, 0x2A, no},   // Left Shift
    {43, 0xDC, 0x2B, no},   // \ |
    {44, 0x5A, 0x2C, no},   // Z
    {45, 0x58, 0x2D, no},   // X
    {46, 0x43, 0x2E, no},   // C
    {47, 0x56, 0x2F, no},   // V
    {48, 0x42, 0x30, no},   // B
    {49, 0x4E, 0x31, no},   // N
    {50, 0x4D, 0x32, no},   // M
    {51, 0xBC, 0x33, no},   // , <
    {52, 0xBE, 0x34, no},   // . >
    {53, 0xBF, 0x35, no},   // / ?
    {54, 0xA1, 0x36, no},   // Right Shift
    {55, 0x6A, 0x37, no},   // Keypad *
    {56, 0xA4, 0x38, no},   // Left Alt
    {57, 0x20, 0x39, no},   // Space
    {58, 0x14, 0x3A, no},   // Caps Lock
    {59, 0x70, 0x3B, no},   // F1
    {60, 0x71, 0x3C, no},   // F2
    {61, 0x72, 0x3D, no},   // F3
    {62, 0x73, 0x3E, no},   // F4
    {63, 0x74, 0x3F, no},   // F5
    {64, 0x75, 0x40, no},   // F6
    {65, 0x76, 0x41, no},   // F7
    {66, 0x77, 0x42, no},   // F8
    {67, 0x78, 0x43, no},   // F9
    {68, 0x79, 0x44, no},   // F10
    {69, 0x90, 0x45, no},   // Num Lock
    {70, 0x91, 0x46, no},   // Scroll Lock
    {71, 0x67, 0x47, no},   // Keypad 7
    {72, 0x68, 0x48, no},   // Keypad 8
    {73, 0x69, 0x49, no},   // Keypad 9
    {74, 0x6D, 0x4A, no},   // Keypad -
    {75, 0x64, 0x4B, no},   // Keypad 4
    {76, 0x65, 0x4C, no},   // Keypad 5
    {77, 0x66, 0x4D, no},   // Keypad 6
    {78, 0x6B, 0x4E, no},   // Keypad +
    {79, 0x61, 0x4F, no},   // Keypad 1
    {80, 0x62, 0x50, no},   // Keypad 2
    {81, 0x63, 0x51, no},   // Keypad 3
    {82, 0x60, 0x52, no},   // Keypad 0
    {83, 0x6E, 0x53, no},   // Keypad .
    {86, 0xE2, 0x56, no},   // the extra key of 102/105-key keyboards
    {87, 0x7A, 0x57, no},   // F11
    {88, 0x7B, 0x58, no},   // F12
    {89, 0xC1, 0x73, no},   // JIS Ro
    {92, 0xFF, 0x79, no},   // JIS Henkan
    {93, 0xFF, 0x70, no},   // JIS Katakana/Hiragana
    {94, 0xEB, 0x7B, no},   // JIS Muhenkan
    {96, 0x0D, 0x1C, E0},   // Keypad Enter
    {97, 0xA3, 0x1D, E0},   // Right Ctrl
    {98, 0x6F, 0x35, E0},   // Keypad /
    {99, 0x2C, 0x37, E0},   // Print Screen
    {100, 0xA5, 0x38, E0},  // Right Alt
    {102, 0x24, 0x47, E0},  // Home
    {103, 0x26, 0x48, E0},  // Up
    {104, 0x21, 0x49, E0},  // Page Up
    {105, 0x25, 0x4B, E0},  // Left
    {106, 0x27, 0x4D, E0},  // Right
    {107, 0x23, 0x4F, E0},  // End
    {108, 0x28, 0x50, E0},  // Down
    {109, 0x22, 0x51, E0},  // Page Down
    {110, 0x2D, 0x52, E0},  // Insert
    {111, 0x2E, 0x53, E0},  // Delete
    {113, 0xAD, 0x20, E0},  // Mute
    {114, 0xAE, 0x2E, E0},  // Volume Down
    {115, 0xAF, 0x30, E0},  // Volume Up
    {119, 0x13, 0x45, no},  // Pause
    {124, 0xFF, 0x7D, no},  // JIS Yen
    {125, 0x5B, 0x5B, E0},  // Left Windows
    {126, 0x5C, 0x5C, E0},  // Right Windows
    {127, 0x5D, 0x5D, E0},  // Applications (menu)
    {128, 0xA9, 0x68, E0},  // Browser Stop
    {140, 0xB7, 0x21, E0},  // Calculator (Launch App 2)
    {142, 0x5F, 0x5F, E0},  // Sleep
    {155, 0xB4, 0x6C, E0},  // Mail
    {156, 0xAB, 0x66, E0},  // Browser Favorites
    {157, 0xB6, 0x6B, E0},  // My Computer (Launch App 1)
    {158, 0xA6, 0x6A, E0},  // Browser Back
    {159, 0xA7, 0x69, E0},  // Browser Forward
    {163, 0xB0, 0x19, E0},  // Next Track
    {164, 0xB3, 0x22, E0},  // Play/Pause
    {165, 0xB1, 0x10, E0},  // Previous Track
    {166, 0xB2, 0x24, E0},  // Stop
    {172, 0xAC, 0x32, E0},  // Browser Home
    {173, 0xA8, 0x67, E0},  // Browser Refresh
    {183, 0x7C, 0x64, no},  // F13
    {184, 0x7D, 0x65, no},  // F14
    {185, 0x7E, 0x66, no},  // F15
    {186, 0x7F, 0x67, no},  // F16
    {187, 0x80, 0x68, no},  // F17
    {188, 0x81, 0x69, no},  // F18
    {189, 0x82, 0x6A, no},  // F19
    {190, 0x83, 0x6B, no},  // F20
    {191, 0x84, 0x6C, no},  // F21
    {192, 0x85, 0x6D, no},  // F22
    {193, 0x86, 0x6E, no},  // F23
    {194, 0x87, 0x76, no},  // F24
    {217, 0xAA, 0x65, E0},  // Browser Search
    {226, 0xB5, 0x6D, E0},  // Media Select
};

constexpr size_t kEvdevLimit = 256;

constexpr std::array<KeyCode, kEvdevLimit> BuildIndex() {
  std::array<KeyCode, kEvdevLimit> index{};
  for (const Row& row : kRows) index[row.evdev] = KeyCode{row.vk, row.scanCode, row.extended};
  return index;
}

constexpr std::array<KeyCode, kEvdevLimit> kIndex = BuildIndex();

}  // namespace

std::optional<KeyCode> KeyFromEvdev(uint32_t evdevCode) {
  if (evdevCode >= kEvdevLimit || kIndex[evdevCode].vk == 0) return std::nullopt;
  return kIndex[evdevCode];
}

std::optional<uint8_t> KeypadNavigationKey(uint8_t vk) {
  switch (vk) {
    case 0x60:
      return 0x2D;  // Insert
    case 0x61:
      return 0x23;  // End
    case 0x62:
      return 0x28;  // Down
    case 0x63:
      return 0x22;  // Page Down
    case 0x64:
      return 0x25;  // Left
    case 0x65:
      return 0x0C;  // Clear
    case 0x66:
      return 0x27;  // Right
    case 0x67:
      return 0x24;  // Home
    case 0x68:
      return 0x26;  // Up
    case 0x69:
      return 0x21;  // Page Up
    case 0x6E:
      return 0x2E;  // Delete
    default:
      return std::nullopt;
  }
}

std::optional<uint8_t> AnsiFromUnicode(char32_t ch) {
  // Windows-1252 puts printable characters where Latin-1 has the C1 controls.
  static constexpr char16_t kHigh[32] = {
      0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
      0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
      0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};
  if (ch < 0x80 || (ch >= 0xA0 && ch <= 0xFF)) return static_cast<uint8_t>(ch);
  if (ch < 0xA0) return std::nullopt;
  for (int i = 0; i < 32; ++i) {
    if (kHigh[i] != 0 && kHigh[i] == ch) return static_cast<uint8_t>(0x80 + i);
  }
  return std::nullopt;
}

}  // namespace remcons
