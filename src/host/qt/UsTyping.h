// Typing text as a US keyboard types it: the key of each character and whether Shift is held,
// the keystrokes that type it into the console, and, read the other way, the character each key
// types. The script's "type" command and the clipboard's paste both type through here.
#pragma once

#include <QString>
#include <cstdint>
#include <optional>
#include <vector>

#include "input/KeyMap.h"
#include "input/Keyboard.h"

namespace remcons {

class CRemCons;

// The key that types a character on a US keyboard and whether Shift is held.
struct TypedKey {
  KeyCode key;
  bool shift = false;
  uint8_t character = 0;  // what the window then receives
};
// The printable ASCII characters, space, Enter ('\n' and '\r'), Tab, Backspace and Escape.
std::optional<TypedKey> UsKeyForCharacter(char c);

// The character the US layout gives for a key of the main block (letters, digits, punctuation,
// space), with or without Shift; nullopt for other keys.
std::optional<uint8_t> UsCharacter(uint8_t vk, bool shift);

// One step of typing: a key event as the keyboard hook sees it. A press carries the character
// the window receives when the console lets the key through (terminal mode).
struct Keystroke {
  KeyEvent key;
  uint8_t character = 0;
};
// The strokes that type c: Shift down when needed, the key down and up, Shift up. Empty when no
// key of a US keyboard types c.
std::vector<Keystroke> UsKeystrokes(char c);
// Plays one stroke into the console as its window would (window thread): the key goes to the
// hook, and a press the hook lets through types its character.
void PlayKeystroke(CRemCons& control, const Keystroke& stroke);

// The characters of text that no key of a US keyboard types (everything but printable ASCII,
// line ends and tabs), each once, in the order they first appear.
QString UntypableCharacters(const QString& text);
// The text as the keystrokes type it: line ends as '\n' (Enter), nothing outside printable ASCII,
// line ends and tabs.
std::string TypableText(const QString& text);

}  // namespace remcons
