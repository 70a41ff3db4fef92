// Physical keys of the local keyboard, as the key procedures expect them: Windows virtual-key code,
// set-1 scan code and the extended (E0) flag, for keys named by their Linux evdev code.
#pragma once

#include <cstdint>
#include <optional>

namespace remcons {

struct KeyCode {
  uint8_t vk = 0;
  uint8_t scanCode = 0;
  bool extended = false;
  friend bool operator==(const KeyCode&, const KeyCode&) = default;
};

// The key of an evdev code (linux/input-event-codes.h), as a US 104/105-key keyboard with the US
// English layout reports it, plus the JIS keys and the common multimedia keys. nullopt for a code
// without a row.
std::optional<KeyCode> KeyFromEvdev(uint32_t evdevCode);

// The same from an X11 keycode (xcb's nativeScanCode), which is the evdev code plus 8.
inline std::optional<KeyCode> KeyFromX11Keycode(uint32_t keycode) {
  if (keycode < 8) return std::nullopt;
  return KeyFromEvdev(keycode - 8);
}

// With Num Lock off the keypad digits and keypad '.' act as navigation keys: the virtual-key code
// they then report (keypad 7 → Home 0x24, keypad 5 → Clear 0x0C, keypad . → Delete 0x2E, ...),
// with their scan code unchanged and not extended. nullopt for any other key.
std::optional<uint8_t> KeypadNavigationKey(uint8_t vk);

// A typed character in the ANSI code page (Windows-1252), as a character message carries it;
// nullopt for characters that code page cannot hold, which are not sent.
std::optional<uint8_t> AnsiFromUnicode(char32_t ch);

}  // namespace remcons
