#include "host/qt/UsTyping.h"

#include <linux/input-event-codes.h>

#include <array>

#include "session/RemCons.h"

namespace remcons {
namespace {

// The US layout's characters by virtual-key code, plain and shifted: the keys that type each
// printable character on a US keyboard, read the other way round.
struct UsTable {
  std::array<std::array<uint8_t, 2>, 256> chars{};
  UsTable() {
    for (int c = 0x20; c < 0x7F; ++c) {
      const std::optional<TypedKey> typed = UsKeyForCharacter(static_cast<char>(c));
      if (typed) chars[typed->key.vk][typed->shift ? 1 : 0] = static_cast<uint8_t>(c);
    }
  }
};

const UsTable& Us() {
  static const UsTable table;
  return table;
}

bool Typable(char32_t c) {
  return (c >= 0x20 && c < 0x7F) || c == '\n' || c == '\r' || c == '\t';
}

}  // namespace

std::optional<TypedKey> UsKeyForCharacter(char c) {
  struct Entry {
    char plain, shifted;
    uint16_t evdev;
  };
  static const Entry kKeys[] = {
      {'1', '!', KEY_1},           {'2', '@', KEY_2},          {'3', '#', KEY_3},
      {'4', '$', KEY_4},           {'5', '%', KEY_5},          {'6', '^', KEY_6},
      {'7', '&', KEY_7},           {'8', '*', KEY_8},          {'9', '(', KEY_9},
      {'0', ')', KEY_0},           {'-', '_', KEY_MINUS},      {'=', '+', KEY_EQUAL},
      {'[', '{', KEY_LEFTBRACE},   {']', '}', KEY_RIGHTBRACE}, {';', ':', KEY_SEMICOLON},
      {'\'', '"', KEY_APOSTROPHE}, {'`', '~', KEY_GRAVE},      {'\\', '|', KEY_BACKSLASH},
      {',', '<', KEY_COMMA},       {'.', '>', KEY_DOT},        {'/', '?', KEY_SLASH},
      {' ', 0, KEY_SPACE},         {'\n', 0, KEY_ENTER},       {'\r', 0, KEY_ENTER},
      {'\t', 0, KEY_TAB},          {'\b', 0, KEY_BACKSPACE},   {'\x1b', 0, KEY_ESC},
  };
  static const uint16_t kLetters[26] = {
      KEY_A, KEY_B, KEY_C, KEY_D, KEY_E, KEY_F, KEY_G, KEY_H, KEY_I, KEY_J, KEY_K, KEY_L, KEY_M,
      KEY_N, KEY_O, KEY_P, KEY_Q, KEY_R, KEY_S, KEY_T, KEY_U, KEY_V, KEY_W, KEY_X, KEY_Y, KEY_Z};
  uint16_t evdev = 0;
  bool shift = false;
  uint8_t character = static_cast<uint8_t>(c);
  if (c >= 'a' && c <= 'z') {
    evdev = kLetters[c - 'a'];
  } else if (c >= 'A' && c <= 'Z') {
    evdev = kLetters[c - 'A'];
    shift = true;
  } else {
    for (const Entry& e : kKeys) {
      if (e.plain == c) {
        evdev = e.evdev;
      } else if (e.shifted != 0 && e.shifted == c) {
        evdev = e.evdev;
        shift = true;
      }
      if (evdev) break;
    }
  }
  if (!evdev) return std::nullopt;
  // Enter types a carriage return.
  if (c == '\n') character = '\r';
  std::optional<KeyCode> key = KeyFromEvdev(evdev);
  if (!key) return std::nullopt;
  return TypedKey{*key, shift, character};
}

std::optional<uint8_t> UsCharacter(uint8_t vk, bool shift) {
  const uint8_t c = Us().chars[vk][shift ? 1 : 0];
  if (c == 0) return std::nullopt;
  return c;
}

std::vector<Keystroke> UsKeystrokes(char c) {
  std::vector<Keystroke> strokes;
  const std::optional<TypedKey> typed = UsKeyForCharacter(c);
  if (!typed) return strokes;
  auto event = [](const KeyCode& key, bool up) {
    KeyEvent e;
    e.vkCode = key.vk;
    e.scanCode = key.scanCode;
    e.extended = key.extended;
    e.keyUp = up;
    return e;
  };
  const std::optional<KeyCode> shift = KeyFromEvdev(KEY_LEFTSHIFT);
  if (typed->shift && shift) strokes.push_back({event(*shift, false), 0});
  strokes.push_back({event(typed->key, false), typed->character});
  strokes.push_back({event(typed->key, true), 0});
  if (typed->shift && shift) strokes.push_back({event(*shift, true), 0});
  return strokes;
}

void PlayKeystroke(CRemCons& control, const Keystroke& stroke) {
  const KeyResult result = control.OnKeyEvent(stroke.key);
  // A key the console lets through reaches the window, which types its character.
  if (!stroke.key.keyUp && stroke.character != 0 && result != KeyResult::kSwallow) {
    control.OnChar(stroke.character, stroke.key.scanCode);
  }
}

QString UntypableCharacters(const QString& text) {
  std::u32string seen;
  for (const char32_t c : text.toStdU32String()) {
    if (!Typable(c) && seen.find(c) == std::u32string::npos) seen += c;
  }
  return QString::fromStdU32String(seen);
}

std::string TypableText(const QString& text) {
  std::string out;
  const std::u32string chars = text.toStdU32String();
  for (size_t i = 0; i < chars.size(); ++i) {
    const char32_t c = chars[i];
    if (c == '\r') {
      // CR LF and a lone CR end a line as LF does.
      if (i + 1 < chars.size() && chars[i + 1] == '\n') ++i;
      out += '\n';
    } else if (Typable(c)) {
      out += static_cast<char>(c);
    }
  }
  return out;
}

}  // namespace remcons
