#include "host/qt/KeyGrab.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QWidget>
#include <QWindow>

#include "host/qt/UsTyping.h"
#include "input/KeyMap.h"
#include "input/VirtualKeys.h"

namespace remcons {
namespace {

bool KeypadDigitOrPoint(uint8_t vk) {
  return (vk >= 0x60 && vk <= 0x69) || vk == 0x6E;
}

// Qt's keys of a keypad key while Num Lock is on: it types.
bool TypingKey(int qtKey) {
  return (qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9) || qtKey == Qt::Key_Period ||
         qtKey == Qt::Key_Comma;
}

}  // namespace

bool KeyTranslator::AltHeld() const {
  return held_[kVkLeftAlt] || held_[kVkRightAlt];
}
bool KeyTranslator::ShiftHeld() const {
  return held_[kVkLeftShift] || held_[kVkRightShift];
}
bool KeyTranslator::ControlHeld() const {
  return held_[kVkLeftControl] || held_[kVkRightControl];
}

std::optional<KeyEvent> KeyTranslator::Translate(uint32_t nativeScanCode, int qtKey, bool release) {
  const std::optional<KeyCode> key = KeyFromX11Keycode(nativeScanCode);
  if (!key) return std::nullopt;
  KeyEvent event;
  event.vkCode = key->vk;
  event.scanCode = key->scanCode;
  event.extended = key->extended;
  event.keyUp = release;
  // With Num Lock off the keypad moves: its keys report the navigation keys' codes, still not
  // extended, which is how the HID procedure tells them from the navigation cluster.
  if (KeypadDigitOrPoint(key->vk) && !TypingKey(qtKey)) {
    if (std::optional<uint8_t> nav = KeypadNavigationKey(key->vk)) event.vkCode = *nav;
  }
  held_[key->vk] = !release;
  // Alt counts as down on its own press and no longer on its release, as the hook reports it.
  event.altDown = AltHeld();
  return event;
}

std::optional<KeyEvent> KeyTranslator::Translate(const QKeyEvent& event) {
  return Translate(event.nativeScanCode(), event.key(), event.type() == QEvent::KeyRelease);
}

std::vector<uint8_t> KeyTranslator::Characters(const KeyEvent& key, const QString& text) const {
  std::vector<uint8_t> out;
  if (key.keyUp || AltHeld()) return out;
  const bool control = ControlHeld();
  const uint8_t vk = key.vkCode <= 0xFF ? static_cast<uint8_t>(key.vkCode) : 0;

  if (vk >= 0x41 && vk <= 0x5A) {
    // A letter: the US letter of the key, in the case the desktop typed (Shift, Caps Lock).
    if (text.isEmpty()) return out;
    if (control) {
      out.push_back(static_cast<uint8_t>(vk - 0x40));
    } else {
      out.push_back(static_cast<uint8_t>(text.at(0).isUpper() ? vk : vk + 0x20));
    }
    return out;
  }
  if (std::optional<uint8_t> us = UsCharacter(vk, ShiftHeld())) {
    if (!control) {
      out.push_back(*us);
    } else if (*us == ' ') {
      out.push_back(' ');
    } else if (*us >= '[' && *us <= '_') {
      // Control with [ \ ] ^ _ types the control characters 1B to 1F.
      out.push_back(static_cast<uint8_t>(*us - 0x40));
    }
    return out;
  }
  // Enter, Backspace, Tab, Escape, the keypad: what the desktop typed. The Delete key types
  // nothing; with Control only control characters come through.
  if (vk == kVkDelete) return out;
  for (const QChar c : text) {
    const std::optional<uint8_t> ansi = AnsiFromUnicode(c.unicode());
    if (!ansi || *ansi == 0x7F) continue;
    if (control && *ansi >= 0x20) continue;
    out.push_back(*ansi);
  }
  return out;
}

Hotkey HotkeyWatch::Feed(const KeyEvent& event) {
  if (event.vkCode > 0xFF) return Hotkey::kNone;
  const auto vk = static_cast<uint8_t>(event.vkCode);
  const bool controlOrAlt = vk >= kVkLeftControl && vk <= kVkRightAlt;
  const bool wasHeld = held_[vk];
  held_[vk] = !event.keyUp;
  if (event.keyUp) {
    if (!controlOrAlt || !chord_) return Hotkey::kNone;
    chord_ = false;
    return Hotkey::kReleaseGrab;
  }
  const bool control = held_[kVkLeftControl] || held_[kVkRightControl];
  const bool alt = held_[kVkLeftAlt] || held_[kVkRightAlt];
  if (controlOrAlt) {
    // The chord begins when the second of the two goes down with nothing else held; a held key's
    // repeated press changes nothing.
    if (!wasHeld && control && alt) {
      bool others = false;
      for (int k = 0; k < 256; ++k)
        others = others || (held_[k] && (k < kVkLeftControl || k > kVkRightAlt));
      chord_ = !others;
    }
    return Hotkey::kNone;
  }
  chord_ = false;
  const bool shift = held_[kVkLeftShift] || held_[kVkRightShift];
  if (control && alt && shift && vk == 'V') return Hotkey::kPaste;
  if (control && alt && shift && vk == 'S') return Hotkey::kScreenshot;
  return Hotkey::kNone;
}

void HotkeyWatch::Reset() {
  held_.fill(false);
  chord_ = false;
}

bool SetKeyboardGrab(QWidget* widget, bool grab) {
  // Platforms without a desktop have no keyboard to grab.
  const QString platform = QGuiApplication::platformName();
  if (!widget || platform == QLatin1String("offscreen") || platform == QLatin1String("minimal")) {
    return false;
  }
  QWindow* window = widget->window()->windowHandle();
  if (!window) return false;
  return window->setKeyboardGrabEnabled(grab);
}

bool KeyboardGrabUnsupported() {
  return QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
}

}  // namespace remcons
