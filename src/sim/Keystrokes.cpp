#include "sim/Keystrokes.h"

#include <cstdio>

namespace remcons::sim {
namespace {

constexpr uint8_t kLeftCtrl = 0x01, kLeftShift = 0x02, kLeftAlt = 0x04, kLeftGui = 0x08;
constexpr uint8_t kRightCtrl = 0x10, kRightShift = 0x20, kRightAlt = 0x40, kRightGui = 0x80;

// Usages 0x1E to 0x38 with and without Shift (0 for the keys that are not characters).
constexpr char kRowPlain[] = "1234567890\0\0\0\0 -=[]\\#;'`,./";
constexpr char kRowShift[] = "!@#$%^&*()\0\0\0\0 _+{}|~:\"~<>?";

KeyStroke Char(char c) {
  return KeyStroke::Char(c);
}
KeyStroke Of(KeyStroke::Kind kind) {
  return KeyStroke::Of(kind);
}
KeyStroke Other(std::string name) {
  return KeyStroke::Other(std::move(name));
}

}  // namespace

KeyStroke KeyStroke::FromText(char c) {
  switch (c) {
    case '\n':
    case '\r':
      return Of(kEnter);
    case '\b':
      return Of(kBackspace);
    case '\t':
      return Of(kTab);
    default:
      return Char(c);
  }
}

KeyStroke HidKeyboard::Stroke(uint8_t usage, uint8_t modifiers) {
  const bool shift = modifiers & (kLeftShift | kRightShift);
  const bool ctrl = modifiers & (kLeftCtrl | kRightCtrl);
  const bool alt = modifiers & (kLeftAlt | kRightAlt);
  const bool gui = modifiers & (kLeftGui | kRightGui);
  if (ctrl && alt && (usage == 0x4C || usage == 0x63)) return Of(KeyStroke::kCtrlAltDel);

  KeyStroke stroke;
  if (usage >= 0x04 && usage <= 0x1D) {
    const bool upper = shift != capsLock_;
    stroke = Char(static_cast<char>((upper ? 'A' : 'a') + (usage - 0x04)));
  } else if (usage >= 0x1E && usage <= 0x38 && kRowPlain[usage - 0x1E] != 0) {
    stroke = Char((shift ? kRowShift : kRowPlain)[usage - 0x1E]);
  } else if (usage == 0x28 || usage == 0x58) {
    stroke = Of(KeyStroke::kEnter);
  } else if (usage == 0x29) {
    stroke = Of(KeyStroke::kEscape);
  } else if (usage == 0x2A) {
    stroke = Of(KeyStroke::kBackspace);
  } else if (usage == 0x2B) {
    stroke = Of(KeyStroke::kTab);
  } else if (usage == 0x39) {
    capsLock_ = !capsLock_;
    return Other("CapsLock");
  } else if (usage == 0x53) {
    numLock_ = !numLock_;
    return Other("NumLock");
  } else if (usage >= 0x54 && usage <= 0x57) {
    stroke = Char("/*-+"[usage - 0x54]);
  } else if (numLock_ && usage >= 0x59 && usage <= 0x63) {
    stroke = Char("1234567890."[usage - 0x59]);
  } else if (usage == 0x64) {
    stroke = Char(shift ? '|' : '\\');
  } else if (usage >= 0x3A && usage <= 0x45) {
    std::string name = "F";  // appended: GCC 12 at -O3 misreads "F" + text as overlapping
    name += std::to_string(usage - 0x3A + 1);
    return Other(name);
  } else {
    char name[24];
    std::snprintf(name, sizeof name, "usage 0x%02X", usage);
    return Other(name);
  }
  // Characters with Ctrl, Alt or the Windows keys are commands, not text.
  if (stroke.kind == KeyStroke::kChar && (ctrl || alt || gui)) {
    std::string name = ctrl ? "Ctrl+" : alt ? "Alt+" : "Win+";
    name += static_cast<char>(stroke.ch >= 'a' && stroke.ch <= 'z' ? stroke.ch - 32 : stroke.ch);
    return Other(name);
  }
  return stroke;
}

std::vector<KeyStroke> HidKeyboard::Report(uint8_t modifiers, const uint8_t keys[6]) {
  std::vector<KeyStroke> strokes;
  for (int i = 0; i < 6; ++i) {
    if (keys[i] == 0x01) return strokes;  // phantom state: too many keys held
  }
  std::array<bool, 256> now{};
  for (int i = 0; i < 6; ++i) {
    if (keys[i] > 0x03) now[keys[i]] = true;
  }
  for (int i = 0; i < 6; ++i) {
    const uint8_t usage = keys[i];
    if (usage > 0x03 && !down_[usage]) {
      strokes.push_back(Stroke(usage, modifiers));
      down_[usage] = true;  // a usage repeated in the report counts once
    }
  }
  down_ = now;
  modifiers_ = modifiers;
  return strokes;
}

std::vector<KeyStroke> TerminalStrokes(const ClientPacket& packet, bool afterCr) {
  switch (packet.kind) {
    case PacketKind::kChar: {
      const uint8_t b = packet.key;
      if (b == 0x0D) return {Of(KeyStroke::kEnter)};
      if (b == 0x0A) return afterCr ? std::vector<KeyStroke>{} : std::vector{Of(KeyStroke::kEnter)};
      if (b == 0x08 || b == 0x7F) return {Of(KeyStroke::kBackspace)};
      if (b == 0x09) return {Of(KeyStroke::kTab)};
      if (b == 0x1B) return {Of(KeyStroke::kEscape)};
      if (b >= 0x20 && b < 0x7F) return {Char(static_cast<char>(b))};
      // The console sends the 102nd key's backslash and bar as F0 and F1.
      if (b == 0xF0) return {Char('\\')};
      if (b == 0xF1) return {Char('|')};
      if (b >= 0x01 && b <= 0x1A) return {Other(std::string("Ctrl+") + static_cast<char>('@' + b))};
      char name[16];
      std::snprintf(name, sizeof name, "byte 0x%02X", b);
      return {Other(name)};
    }
    case PacketKind::kHotKey:
      return {Other("hot key " + std::to_string(packet.key - 0x13))};
    case PacketKind::kTerminalKey: {
      const std::string name = packet.KeyName();
      if (name == "Shift+Space") return {Char(' ')};
      if (name == "Shift+Tab") return {Of(KeyStroke::kTab)};
      return {Other(name)};
    }
    case PacketKind::kCtrlAltDel:
      return {Of(KeyStroke::kCtrlAltDel)};
    default:
      return {};
  }
}

}  // namespace remcons::sim
