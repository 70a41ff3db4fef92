#include "input/Keyboard.h"

#include <array>
#include <cstdio>
#include <initializer_list>
#include <mutex>
#include <string>

#include "input/VirtualKeys.h"
#include "platform/Trace.h"

namespace remcons {
namespace {

// Low-level hook flag bits, as traced.
constexpr uint32_t kFlagAltDown = 0x20;
constexpr uint32_t kFlagUp = 0x80;

// Keys without a virtual-key code of their own under the US layout (JIS Katakana/Hiragana, Henkan,
// Yen); their usage follows the scan code.
constexpr uint8_t kVkNone = 0xFF;

constexpr size_t kReportSize = 10;
using Report = std::array<uint8_t, kReportSize>;

// Virtual-key code → USB HID keyboard usage (page 7); 0 for keys without one.
constexpr std::array<uint8_t, 256> BuildUsageTable() {
  std::array<uint8_t, 256> u{};
  u[0x08] = 0x2A;  // Backspace
  u[0x09] = 0x2B;  // Tab
  u[0x0D] = 0x28;  // Enter
  u[0x13] = 0x48;  // Pause
  u[0x14] = 0x39;  // Caps Lock
  u[0x1B] = 0x29;  // Escape
  u[0x20] = 0x2C;  // Space
  u[0x21] = 0x4B;  // Page Up
  u[0x22] = 0x4E;  // Page Down
  u[0x23] = 0x4D;  // End
  u[0x24] = 0x4A;  // Home
  u[0x25] = 0x50;  // Left
  u[0x26] = 0x52;  // Up
  u[0x27] = 0x4F;  // Right
  u[0x28] = 0x51;  // Down
  u[0x2C] = 0x46;  // Print Screen
  u[0x2D] = 0x49;  // Insert
  u[0x2E] = 0x4C;  // Delete
  u[0x30] = 0x27;  // 0
  // 1-9
  for (int i = 1; i <= 9; ++i) u[0x30 + i] = static_cast<uint8_t>(0x1E + i - 1);
  // A-Z
  for (int i = 0; i < 26; ++i) u[0x41 + i] = static_cast<uint8_t>(0x04 + i);
  u[0x5B] = 0xE3;  // Left Windows
  u[0x5C] = 0xE7;  // Right Windows
  u[0x5D] = 0x65;  // Applications
  u[0x60] = 0x62;  // keypad 0
  // keypad 1-9
  for (int i = 1; i <= 9; ++i) u[0x60 + i] = static_cast<uint8_t>(0x59 + i - 1);
  u[0x6A] = 0x55;  // keypad *
  u[0x6B] = 0x57;  // keypad +
  u[0x6D] = 0x56;  // keypad -
  u[0x6E] = 0x63;  // keypad .
  u[0x6F] = 0x54;  // keypad /
  // F1-F12
  for (int i = 0; i < 12; ++i) u[0x70 + i] = static_cast<uint8_t>(0x3A + i);
  u[0x90] = 0x53;  // Num Lock
  u[0x91] = 0x47;  // Scroll Lock
  u[0xA0] = 0xE1;  // Left Shift
  u[0xA1] = 0xE5;  // Right Shift
  u[0xA2] = 0xE0;  // Left Control
  u[0xA3] = 0xE4;  // Right Control
  u[0xA4] = 0xE2;  // Left Alt
  u[0xA5] = 0xE6;  // Right Alt
  u[0xBA] = 0x33;  // ;
  u[0xBB] = 0x2E;  // =
  u[0xBC] = 0x36;  // ,
  u[0xBD] = 0x2D;  // -
  u[0xBE] = 0x37;  // .
  u[0xBF] = 0x38;  // /
  u[0xC0] = 0x35;  // `
  u[0xC1] = 0x87;  // JIS Ro
  u[0xDB] = 0x2F;  // [
  u[0xDC] = 0x31;  // backslash
  u[0xDD] = 0x30;  // ]
  u[0xDE] = 0x34;  // '
  u[0xE2] = 0x64;  // the extra key of 102-key keyboards
  u[0xEB] = 0x8B;  // JIS Muhenkan
  return u;
}

constexpr std::array<uint8_t, 256> kUsage = BuildUsageTable();

uint8_t UsageOfUnnamedKey(uint32_t scanCode) {
  switch (scanCode) {
    case 0x70:
      return 0x88;  // Katakana/Hiragana
    case 0x79:
      return 0x8A;  // Henkan
    case 0x7D:
      return 0x89;  // Yen
    default:
      return 0;
  }
}

// Without the extended flag the navigation keys are the keypad's (Num Lock off).
uint8_t KeypadKeyOf(uint8_t vk) {
  switch (vk) {
    case kVkClear:
      return 0x65;
    case 0x21:
      return 0x69;  // Page Up → keypad 9
    case 0x22:
      return 0x63;  // Page Down → keypad 3
    case 0x23:
      return 0x61;  // End → keypad 1
    case 0x24:
      return 0x67;  // Home → keypad 7
    case 0x25:
      return 0x64;  // Left → keypad 4
    case 0x26:
      return 0x68;  // Up → keypad 8
    case 0x27:
      return 0x66;  // Right → keypad 6
    case 0x28:
      return 0x62;  // Down → keypad 2
    case 0x2D:
      return 0x60;  // Insert → keypad 0
    case 0x2E:
      return 0x6E;  // Delete → keypad .
    default:
      return vk;
  }
}

// Terminal-mode cells: the bytes a key sends and whether on press or on release.
struct Cell {
  uint8_t size = 0;  // 0: no cell
  bool onRelease = false;
  std::array<uint8_t, 6> bytes{};
};

constexpr Cell MakeCell(bool onRelease, std::initializer_list<uint8_t> bytes) {
  Cell c;
  c.onRelease = onRelease;
  for (uint8_t b : bytes) c.bytes[c.size++] = b;
  return c;
}
constexpr Cell Press(std::initializer_list<uint8_t> bytes) {
  return MakeCell(false, bytes);
}
constexpr Cell Release(std::initializer_list<uint8_t> bytes) {
  return MakeCell(true, bytes);
}
constexpr Cell kNone{};

struct TerminalRow {
  uint8_t vk;
  Cell plain, alt, ctrl, shift;
};

// clang-format off
constexpr TerminalRow kTerminalRows[] = {
  {0x09, Press({0x09}), Press({0x1B, 0x5B, 0x31, 0x09}), Release({0x1B, 0x5B, 0x32, 0x09}), Press({0x1B, 0x5B, 0x33, 0x09})},
  {0x08, Press({0x08}), Press({0x1B, 0x5B, 0x31, 0x08}), Release({0x1B, 0x5B, 0x32, 0x08}), Press({0x1B, 0x5B, 0x33, 0x08})},
  {0x26, Press({0x1B, 0x5B, 0x41}), Release({0x1B, 0x5B, 0x31, 0x1B, 0x5B, 0x41}), Release({0x1B, 0x5B, 0x32, 0x1B, 0x5B, 0x41}), Press({0x1B, 0x5B, 0x33, 0x1B, 0x5B, 0x41})},
  {0x28, Press({0x1B, 0x5B, 0x42}), Release({0x1B, 0x5B, 0x31, 0x1B, 0x5B, 0x42}), Release({0x1B, 0x5B, 0x32, 0x1B, 0x5B, 0x42}), Press({0x1B, 0x5B, 0x33, 0x1B, 0x5B, 0x42})},
  {0x27, Press({0x1B, 0x5B, 0x43}), Release({0x1B, 0x5B, 0x31, 0x1B, 0x5B, 0x43}), Release({0x1B, 0x5B, 0x32, 0x1B, 0x5B, 0x43}), Press({0x1B, 0x5B, 0x33, 0x1B, 0x5B, 0x43})},
  {0x25, Press({0x1B, 0x5B, 0x44}), Release({0x1B, 0x5B, 0x31, 0x1B, 0x5B, 0x44}), Release({0x1B, 0x5B, 0x32, 0x1B, 0x5B, 0x44}), Press({0x1B, 0x5B, 0x33, 0x1B, 0x5B, 0x44})},
  {0x23, Release({0x1B, 0x5B, 0x46}), Release({0x1B, 0x5B, 0x31, 0x1B, 0x5B, 0x46}), Release({0x1B, 0x5B, 0x32, 0x1B, 0x5B, 0x46}), Release({0x1B, 0x5B, 0x33, 0x1B, 0x5B, 0x46})},
  {0x22, Release({0x1B, 0x5B, 0x47}), Release({0x1B, 0x5B, 0x31, 0x1B, 0x5B, 0x47}), Release({0x1B, 0x5B, 0x32, 0x1B, 0x5B, 0x47}), Release({0x1B, 0x5B, 0x33, 0x1B, 0x5B, 0x47})},
  {0x24, Release({0x1B, 0x5B, 0x48}), Release({0x1B, 0x5B, 0x31, 0x1B, 0x5B, 0x48}), Release({0x1B, 0x5B, 0x32, 0x1B, 0x5B, 0x48}), Release({0x1B, 0x5B, 0x33, 0x1B, 0x5B, 0x48})},
  {0x21, Release({0x1B, 0x5B, 0x49}), Release({0x1B, 0x5B, 0x31, 0x1B, 0x5B, 0x49}), Release({0x1B, 0x5B, 0x32, 0x1B, 0x5B, 0x49}), Release({0x1B, 0x5B, 0x33, 0x1B, 0x5B, 0x49})},
  {0x2D, Release({0x1B, 0x5B, 0x4C}), Release({0x1B, 0x5B, 0x31, 0x1B, 0x5B, 0x4C}), Release({0x1B, 0x5B, 0x32, 0x1B, 0x5B, 0x4C}), Release({0x1B, 0x5B, 0x33, 0x1B, 0x5B, 0x4C})},
  {0x70, Press({0x1B, 0x5B, 0x4D}), Release({0x1B, 0x5B, 0x77}), Release({0x1B, 0x5B, 0x6B}), Release({0x1B, 0x5B, 0x59})},
  {0x71, Press({0x1B, 0x5B, 0x4E}), Release({0x1B, 0x5B, 0x78}), Release({0x1B, 0x5B, 0x6C}), Release({0x1B, 0x5B, 0x5A})},
  {0x72, Press({0x1B, 0x5B, 0x4F}), Release({0x1B, 0x5B, 0x79}), Release({0x1B, 0x5B, 0x6D}), Release({0x1B, 0x5B, 0x61})},
  {0x73, Press({0x1B, 0x5B, 0x50}), Release({0x1B, 0x5B, 0x7A}), Release({0x1B, 0x5B, 0x6E}), Release({0x1B, 0x5B, 0x62})},
  {0x74, Press({0x1B, 0x5B, 0x51}), Release({0x1B, 0x5B, 0x40}), Release({0x1B, 0x5B, 0x6F}), Release({0x1B, 0x5B, 0x63})},
  {0x75, Press({0x1B, 0x5B, 0x52}), Release({0x1B, 0x5B, 0x5B}), Release({0x1B, 0x5B, 0x70}), Release({0x1B, 0x5B, 0x64})},
  {0x76, Press({0x1B, 0x5B, 0x53}), Release({0x1B, 0x5B, 0x5C}), Release({0x1B, 0x5B, 0x71}), Release({0x1B, 0x5B, 0x65})},
  {0x77, Press({0x1B, 0x5B, 0x54}), Release({0x1B, 0x5B, 0x5D}), Release({0x1B, 0x5B, 0x72}), Release({0x1B, 0x5B, 0x66})},
  {0x78, Press({0x1B, 0x5B, 0x55}), Release({0x1B, 0x5B, 0x5E}), Release({0x1B, 0x5B, 0x73}), Release({0x1B, 0x5B, 0x67})},
  {0x79, Press({0x1B, 0x5B, 0x56}), Release({0x1B, 0x5B, 0x20}), Release({0x1B, 0x5B, 0x74}), Release({0x1B, 0x5B, 0x68})},
  {0x7A, Press({0x1B, 0x5B, 0x57}), Release({0x1B, 0x5B, 0x60}), Release({0x1B, 0x5B, 0x75}), Release({0x1B, 0x5B, 0x69})},
  {0x7B, Release({0x1B, 0x5B, 0x58}), Release({0x1B, 0x5B, 0x27}), Release({0x1B, 0x5B, 0x76}), Release({0x1B, 0x5B, 0x6A})},
  {0x2E, Press({0x1B, 0x5B, 0x33, 0x7E}), Release({0x1B, 0x5B, 0x31, 0xB1}), Release({0x1B, 0x5B, 0x32, 0xB1}), Press({0x1B, 0x5B, 0x33, 0x7E})},
  {0x5B, Release({0x1B, 0x5B, 0x24}), kNone, kNone, kNone},
  {0x5C, Release({0x1B, 0x5B, 0x24}), kNone, kNone, kNone},
  {0x5D, Release({0x1B, 0x5B, 0x2A}), kNone, kNone, kNone},
  {0x20, Press({0x20}), Press({0x1B, 0x5B, 0x31, 0x20}), Release({0x1B, 0x5B, 0x32, 0x20}), Press({0x1B, 0x20})},
};
// clang-format on

// Process-wide: one hook, the keyboard that holds it, and the keys held down (HID mode).
struct HookState {
  std::mutex mutex;
  CKeyboard* owner = nullptr;
  InputWriter* connection = nullptr;  // the owner's
  const KeyboardSystem* system = nullptr;
  bool hidMode = false;
  unsigned long handle = 0;
  unsigned long lastHandle = 0x00010000;
  std::array<uint8_t, 256> keyDown{};
  // Keys of virtual-key code 0xFF share one entry; the usage is that of the one that went down.
  uint32_t unnamedKeyScanCode = 0;
};

HookState& Hook() {
  static HookState state;
  return state;
}

void Write(const InputWriter& connection, const uint8_t* data, size_t size) {
  // A refused write (no control right, connection closed) is dropped.
  if (connection) connection(data, size);
}

bool Ask(const std::function<bool()>& query) {
  return query ? query() : false;
}

Report EmptyReport() {
  return Report{0xFF, 0xD6, 0, 0, 0, 0, 0, 0, 0, 0};
}

KeyResult HidProcedure(HookState& s, const KeyEvent& event) {
  // Which key it was stays out of the trace: typed passwords would be readable there.
  RC_TRACE("Key %s, flags = %04x\n", event.keyUp ? "up" : "down",
           (event.altDown ? kFlagAltDown : 0) | (event.keyUp ? kFlagUp : 0));
  if (event.vkCode > 0xFF) return KeyResult::kPassOn;
  uint8_t vk = static_cast<uint8_t>(event.vkCode);
  if (!event.extended) vk = KeypadKeyOf(vk);

  int tally = (vk == kVkLeftControl || vk == kVkRightControl) ? 1 : 0;
  const bool rightControl = vk == kVkRightControl;
  const uint8_t down = event.keyUp ? 0 : 1;
  int keys = 0;

  if (s.keyDown[vk] != down) {
    s.keyDown[vk] = down;
    if (vk == kVkNone && down) s.unnamedKeyScanCode = event.scanCode;

    Report report = EmptyReport();
    size_t slot = 0;
    int usages = 0;
    for (int code = 0; code < 256; ++code) {
      if (!s.keyDown[code]) continue;
      uint8_t usage = code == kVkNone ? UsageOfUnnamedKey(s.unnamedKeyScanCode) : kUsage[code];
      if (usage == 0xE0 || usage == 0xE4) tally |= 1;
      if (usage == 0xE2 || usage == 0xE6) tally |= 2;
      if (usage == 0x4C || usage == 0x63) tally |= 4;
      if (usage == 0) {
        RC_TRACE("Unhandled key\n");
        continue;
      }
      if (usage >= 0xE0 && usage <= 0xE7) {
        report[2] |= static_cast<uint8_t>(1u << (usage & 31));
      } else {
        // Six slots; the seventh and further keys each take the last one.
        report[4 + slot] = usage;
        if (slot < 5) ++slot;
        ++usages;
      }
      ++keys;
    }
    RC_TRACE("HID translation: %d keys, modifiers %02x\n", usages, report[2]);

    if (tally == 7) {
      // Control-Alt-Delete belongs to the local system. The server is told that every key is up:
      // it saw Control and Alt go down, and their releases will not reach it now that the table
      // is clear.
      s.keyDown.fill(0);
      Report none = EmptyReport();
      Write(*s.connection, none.data(), none.size());
    } else {
      Write(*s.connection, report.data(), report.size());
    }
  }

  if (tally == 7 || (rightControl && keys < 2)) return KeyResult::kPassOn;
  return KeyResult::kSwallow;
}

KeyResult TerminalProcedure(HookState& s, const KeyEvent& event) {
  const InputWriter& connection = *s.connection;
  for (const TerminalRow& row : kTerminalRows) {
    if (row.vk != event.vkCode) continue;
    const Cell* cell = nullptr;
    if (event.altDown && row.alt.size) {
      cell = &row.alt;
    } else if (Ask(s.system->shiftDown) && row.shift.size) {
      cell = &row.shift;
    } else if (Ask(s.system->controlDown) && row.ctrl.size) {
      cell = &row.ctrl;
    } else if (row.plain.size) {
      cell = &row.plain;
    }
    if (cell) {
      if (cell->onRelease == event.keyUp) Write(connection, cell->bytes.data(), cell->size);
      return KeyResult::kSwallow;
    }
    break;
  }

  if (event.altDown && event.keyUp && event.vkCode != kVkLeftAlt && event.vkCode != kVkRightAlt &&
      event.vkCode <= 0xFF) {
    const uint8_t bytes[4] = {0x1B, 0x5B, 0x31, static_cast<uint8_t>(event.vkCode)};
    Write(connection, bytes, sizeof bytes);
    RC_TRACE("CKeyboard: ALT something sent.\n");
    return KeyResult::kSwallow;
  }
  if (!event.keyUp && Ask(s.system->controlDown)) {
    if (event.vkCode >= 0x41 && event.vkCode <= 0x5A) {
      const uint8_t byte = static_cast<uint8_t>(event.vkCode - 0x40);
      Write(connection, &byte, 1);
      RC_TRACE("CKeyboard: CTRL something sent.\n");
      return KeyResult::kSwallow;
    }
    return KeyResult::kPassOnNoHooks;
  }
  return KeyResult::kPassOn;
}

}  // namespace

CKeyboard::CKeyboard(InputWriter connection, int32_t kbdMode, KeyboardSystem system, Clock& clock)
    : connection_(std::move(connection)),
      mode_(kbdMode),
      system_(std::move(system)),
      clock_(clock) {}

CKeyboard::~CKeyboard() {
  ReleaseHook();
}

void CKeyboard::TakeHook() {
  HookState& s = Hook();
  {
    std::lock_guard lock(s.mutex);
    if (s.owner == this) return;
  }
  bool stillThere = true;
  for (int attempt = 0; attempt < 200; ++attempt) {
    {
      std::lock_guard lock(s.mutex);
      if (!s.owner) {
        stillThere = false;
        break;
      }
    }
    clock_.SleepMs(10);
  }
  std::lock_guard lock(s.mutex);
  if (stillThere && s.owner) RC_TRACE("CKeyboard: taking hook when someone already has it?\n");
  s.owner = this;
  s.connection = &connection_;
  s.system = &system_;
  s.hidMode = mode_ != 0;
  s.handle = ++s.lastHandle;
  RC_TRACE("CKeyboard: Keyboard hook 0x%08lx set.\n", s.handle);
}

void CKeyboard::ReleaseHook() {
  HookState& s = Hook();
  std::lock_guard lock(s.mutex);
  // A keyboard whose hook was taken over has nothing left to remove.
  if (s.owner != this) return;
  RC_TRACE("CKeyboard: Keyboard hook 0x%08lx removed\n", s.handle);
  s.owner = nullptr;
  s.connection = nullptr;
  s.system = nullptr;
  s.handle = 0;
}

bool CKeyboard::HoldsHook() const {
  HookState& s = Hook();
  std::lock_guard lock(s.mutex);
  return s.owner == this;
}

bool CKeyboard::HookInstalled() {
  HookState& s = Hook();
  std::lock_guard lock(s.mutex);
  return s.owner != nullptr;
}

KeyResult CKeyboard::HookEvent(const KeyEvent& event) {
  HookState& s = Hook();
  // Held while the procedure writes, so the owner cannot go away under it.
  std::lock_guard lock(s.mutex);
  if (!s.owner) return KeyResult::kPassOn;
  return s.hidMode ? HidProcedure(s, event) : TerminalProcedure(s, event);
}

void CKeyboard::OnChar(uint32_t ch, uint32_t scanCode) {
  uint16_t language = kDefaultLanguage;
  std::optional<uint16_t> asked =
      system_.userDefaultLanguage ? system_.userDefaultLanguage() : kDefaultLanguage;
  if (asked) {
    language = *asked;
    RC_TRACE("CRemCons::OnChar GetLocalInfo succes:%x\n", language);
  } else {
    RC_TRACE("CRemCons::OnChar GetLocalInfo error:%s\n", "no user default language");
  }

  if (scanCode == 0x56) {
    if (ch == '\\') ch = 0xF0;
    if (ch == '|') ch = 0xF1;
  }
  if (language == 1053) {
    if (scanCode == 0x35 && ch == '/') ch = '&';
    if (scanCode == 0x37 && ch == '*') ch = '|';
    if (scanCode == 0x4A && ch == '-') ch = '/';
    if (scanCode == 0x4E && ch == '+') ch = '-';
  }
  SendKey(ch);
}

void CKeyboard::SendKey(uint32_t ch) {
  RC_TRACE("CKeyboard::SendKey: 1 character\n");
  const uint8_t byte = static_cast<uint8_t>(ch);
  Write(connection_, &byte, 1);
}

bool CKeyboard::AnyKeyDown() const {
  if (mode_ == 0) return false;
  HookState& s = Hook();
  std::lock_guard lock(s.mutex);
  for (uint8_t down : s.keyDown) {
    if (down) return true;
  }
  return false;
}

void CKeyboard::ReleaseAllKeys() {
  if (mode_ == 0) return;
  HookState& s = Hook();
  std::lock_guard lock(s.mutex);
  s.keyDown.fill(0);
  Report none = EmptyReport();
  Write(connection_, none.data(), none.size());
}

}  // namespace remcons
