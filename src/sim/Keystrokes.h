// Keys as the simulated server sees them: USB HID boot-keyboard reports turned into key presses
// with a US layout (a key counts when it appears in a report, typematic repeat is not simulated),
// and the terminal keyboard's bytes and escape sequences.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "sim/ClientPackets.h"

namespace remcons::sim {

struct KeyStroke {
  enum Kind : uint8_t { kChar, kEnter, kBackspace, kTab, kEscape, kCtrlAltDel, kOther };
  Kind kind = kOther;
  char ch = 0;       // kChar
  std::string name;  // kOther: what it was ("F1", "Ctrl+C", "usage 0x46", ...)

  static KeyStroke Char(char c) { return {kChar, c, {}}; }
  static KeyStroke Of(Kind k) { return {k, 0, {}}; }
  static KeyStroke Other(std::string what) { return {kOther, 0, std::move(what)}; }
  // A character of a text: '\n' and '\r' are Enter, '\b' Backspace, '\t' Tab.
  static KeyStroke FromText(char c);
};

// The keyboard state behind a series of HID reports.
class HidKeyboard {
 public:
  // The keys pressed by this report (down now, not down in the last one), in slot order.
  // A report of the phantom state (usage 01 in the slots) changes nothing.
  std::vector<KeyStroke> Report(uint8_t modifiers, const uint8_t keys[6]);
  bool KeyDown(uint8_t usage) const { return down_[usage]; }
  uint8_t modifiers() const { return modifiers_; }
  bool capsLock() const { return capsLock_; }
  bool numLock() const { return numLock_; }

 private:
  KeyStroke Stroke(uint8_t usage, uint8_t modifiers);

  std::array<bool, 256> down_{};
  uint8_t modifiers_ = 0;
  bool capsLock_ = false;
  bool numLock_ = true;
};

// The key stroke of a terminal-mode packet (plain byte or escape sequence); afterCr tells whether
// the byte before was a carriage return (a CR LF pair is one Enter). Packets that carry no key
// give nothing.
std::vector<KeyStroke> TerminalStrokes(const ClientPacket& packet, bool afterCr);

}  // namespace remcons::sim
