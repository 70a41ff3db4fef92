// Keyboard forwarding: key events become USB HID boot-keyboard reports (HID mode) or characters and
// escape sequences (terminal mode), written to the console connection.
//
// One console at a time receives the keys of the process: the one whose keyboard holds the hook
// (TakeHook on focus gain, ReleaseHook on focus loss). The desktop's key grab delivers every key
// event to CKeyboard::HookEvent and lets the event through to the window, swallows it, or lets it
// through without further processing as the result says.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>

#include "input/InputWriter.h"
#include "platform/Clock.h"

namespace remcons {

// One key event as the system's low-level keyboard hook reports it.
struct KeyEvent {
  uint32_t vkCode = 0;    // virtual-key code, left/right variants for Shift, Control, Alt
  uint32_t scanCode = 0;  // set-1 scan code without the E0 prefix
  bool extended = false;  // the E0 prefix: navigation cluster, right Ctrl/Alt, keypad Enter and /
  bool altDown = false;   // an Alt key is held
  bool keyUp = false;     // release; otherwise press or auto-repeat
  uint32_t extraInfo = 0;
};

// What becomes of a key event after the key procedure.
enum class KeyResult {
  kSwallow,        // the local system does not see it
  kPassOn,         // it goes on to the local system (and so to the window)
  kPassOnNoHooks,  // it goes on to the local system without passing other hooks
};

// The system's answers that the key procedures need. Empty functions answer false and 1033.
struct KeyboardSystem {
  // Current state of either Shift key, either Control key.
  std::function<bool()> shiftDown;
  std::function<bool()> controlDown;
  // The user's default language identifier (1033 US English, 1053 Swedish); nullopt when it cannot
  // be asked.
  std::function<std::optional<uint16_t>()> userDefaultLanguage;
};

class CKeyboard {
 public:
  static constexpr uint16_t kDefaultLanguage = 1033;

  // kbdMode 0 is terminal mode, any other value HID mode. clock paces the hook hand-over wait.
  CKeyboard(InputWriter connection, int32_t kbdMode, KeyboardSystem system = {},
            Clock& clock = SystemClock());
  // Releases the hook when this keyboard holds it.
  ~CKeyboard();
  CKeyboard(const CKeyboard&) = delete;
  CKeyboard& operator=(const CKeyboard&) = delete;

  int32_t mode() const { return mode_; }

  // Focus gain: makes this keyboard the process's key receiver. When another keyboard holds the
  // hook it waits for it to go, 10 ms at a time for at most 2 s, then takes it over regardless.
  void TakeHook();
  // Focus loss and destruction: gives the hook up when this keyboard holds it.
  void ReleaseHook();
  bool HoldsHook() const;

  // The hook procedure: runs the HID or terminal procedure of the keyboard that holds the hook, and
  // writes to that keyboard's connection. Without a hook every event passes on untouched.
  static KeyResult HookEvent(const KeyEvent& event);
  static bool HookInstalled();

  // A character message of the window: ch is the character in the ANSI code page, scanCode the
  // set-1 scan code of the key that typed it. Rewrites it for the server and sends it. The window
  // delivers characters typed without Alt only (Alt combinations are system characters).
  void OnChar(uint32_t ch, uint32_t scanCode);
  // Sends the low byte of ch.
  void SendKey(uint32_t ch);
  // HID mode: forgets every held key and tells the server that none is down.
  void ReleaseAllKeys();
  // HID mode: some key is held on the server.
  bool AnyKeyDown() const;

 private:
  InputWriter connection_;
  int32_t mode_;
  KeyboardSystem system_;
  Clock& clock_;
};

}  // namespace remcons
