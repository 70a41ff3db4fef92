// The desktop's keys as the console's keyboard hook expects them, and the keyboard grab that lets
// system keys (Alt+Tab, Super, F10) reach the console while it has the focus.
//
// Keys are named by their physical position: the X keycode (Qt's native scan code on xcb and
// Wayland, evdev + 8) through the evdev key map, never by Qt's key, which follows the desktop's
// layout. The console works with the US English layout whatever the desktop's layout is: the
// characters a key types are those of the US layout too (letters keep the case the desktop gave
// them, so Shift and Caps Lock act as usual).
#pragma once

#include <QString>
#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "input/Keyboard.h"

class QKeyEvent;
class QWidget;

namespace remcons {

// Tracks the modifier keys as the key events show them and turns events into hook events.
class KeyTranslator {
 public:
  // The hook's event for a key: nativeScanCode is the X keycode, qtKey Qt's key (it tells whether
  // a keypad key types a digit or moves, as Num Lock decides). nullopt for a key without a row in
  // the map. Updates the held modifiers.
  std::optional<KeyEvent> Translate(uint32_t nativeScanCode, int qtKey, bool release);
  std::optional<KeyEvent> Translate(const QKeyEvent& event);

  // The characters (ANSI code page) the window receives for a press that the hook let through:
  // none while Alt is held (those are system characters) or for a release.
  std::vector<uint8_t> Characters(const KeyEvent& key, const QString& text) const;

  // Focus lost: no key counts as held any more.
  void Reset() { held_.fill(false); }
  bool Held(uint8_t vk) const { return held_[vk]; }
  bool AltHeld() const;
  bool ShiftHeld() const;
  bool ControlHeld() const;

 private:
  std::array<bool, 256> held_{};
};

// The desktop's own keys over the console window (the program's, not the embeddable control's):
// Ctrl+Alt+Shift+V types the clipboard, Ctrl+Alt+Shift+S saves a screenshot, and Ctrl and Alt
// pressed together and let go with no other key between release the keyboard grab.
enum class Hotkey { kNone, kPaste, kScreenshot, kReleaseGrab };
class HotkeyWatch {
 public:
  // Each key event in turn, as the translator gives it: the hotkey it completes. The presses of
  // V and S that complete kPaste and kScreenshot belong to the desktop, not to the server.
  Hotkey Feed(const KeyEvent& event);
  void Reset();

 private:
  std::array<bool, 256> held_{};
  bool chord_ = false;  // Ctrl and Alt held, nothing else pressed since
};

// Grabs (or lets go of) the keyboard for the top-level window of widget: every key, system keys
// included, goes to it. False when the window system refused or cannot grab.
bool SetKeyboardGrab(QWidget* widget, bool grab);
// True where Qt cannot grab the keyboard at all (Wayland): system keys stay with the desktop.
bool KeyboardGrabUnsupported();

}  // namespace remcons
