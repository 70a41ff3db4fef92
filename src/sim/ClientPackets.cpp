#include "sim/ClientPackets.h"

#include <algorithm>
#include <cstdio>

#include "platform/Json.h"

namespace remcons::sim {
namespace {

constexpr uint8_t kEsc = 0x1B;

// Packets of a fixed length by their command byte after FF; 0 for the others.
size_t FixedFfLength(uint8_t command) {
  switch (command) {
    case 0xD6:
      return 10;
    case 0xD0:
      return 8;
    case 0xD1:
    case 0xD2:
      return 3;
    case 0xD3:
      return 4;
    case 0xBA:
    case 0xBB:
    case 0xBC:
    case 0xBD:
    case 0xCB:
    case 0xCC:
      return 2;
    case 0xC6:
      return 4;
    case 0xC0:
      return 6;
    default:
      return 0;
  }
}

// The key of a plain ESC [ k sequence, or nullptr.
const char* PlainKeyName(uint8_t k) {
  static const char* const kFunction[] = {"F1", "F2", "F3", "F4",  "F5",  "F6",
                                          "F7", "F8", "F9", "F10", "F11", "F12"};
  switch (k) {
    case 'A':
      return "Up";
    case 'B':
      return "Down";
    case 'C':
      return "Right";
    case 'D':
      return "Left";
    case 'F':
      return "End";
    case 'G':
      return "PageDown";
    case 'H':
      return "Home";
    case 'I':
      return "PageUp";
    case 'L':
      return "Insert";
    case '$':
      return "Windows";
    case '*':
      return "Applications";
    default:
      break;
  }
  if (k >= 'M' && k <= 'X') return kFunction[k - 'M'];
  return nullptr;
}

// The function keys with Alt, Ctrl or Shift have final bytes of their own.
std::string ModifiedFunctionKey(uint8_t k) {
  static const char kAlt[] = {'w', 'x', 'y', 'z', '@', '[', '\\', ']', '^', ' ', '`', '\''};
  for (int i = 0; i < 12; ++i) {
    if (k == static_cast<uint8_t>(kAlt[i])) return "Alt+F" + std::to_string(i + 1);
  }
  if (k >= 'k' && k <= 'v') return "Ctrl+F" + std::to_string(k - 'k' + 1);
  if (k == 'Y') return "Shift+F1";
  if (k == 'Z') return "Shift+F2";
  if (k >= 'a' && k <= 'j') return "Shift+F" + std::to_string(k - 'a' + 3);
  return {};
}

const char* ModifierName(uint8_t m) {
  switch (m) {
    case '1':
      return "Alt";
    case '2':
      return "Ctrl";
    case '3':
      return "Shift";
    default:
      return "";
  }
}

}  // namespace

const char* PacketKindName(PacketKind kind) {
  switch (kind) {
    case PacketKind::kHidReport:
      return "hid";
    case PacketKind::kMouseMove:
      return "mouse-move";
    case PacketKind::kMousePress:
      return "mouse-press";
    case PacketKind::kMouseRelease:
      return "mouse-release";
    case PacketKind::kMouseClick:
      return "mouse-click";
    case PacketKind::kPowerButton:
      return "power-button";
    case PacketKind::kLeaderPort:
      return "leader-port";
    case PacketKind::kJoinRequest:
      return "join-request";
    case PacketKind::kRequestControl:
      return "request-control";
    case PacketKind::kRelinquishControl:
      return "relinquish-control";
    case PacketKind::kSessionNotice:
      return "session-notice";
    case PacketKind::kStartHeader:
      return "start-header";
    case PacketKind::kRefresh:
      return "refresh";
    case PacketKind::kKeepAliveActivity:
      return "keepalive-activity";
    case PacketKind::kKeepAliveIdle:
      return "keepalive-idle";
    case PacketKind::kCtrlAltDel:
      return "ctrl-alt-del";
    case PacketKind::kTerminalKey:
      return "key";
    case PacketKind::kChar:
      return "char";
    case PacketKind::kHotKey:
      return "hotkey";
    case PacketKind::kUnknown:
      return "unknown";
    case PacketKind::kTruncated:
      return "truncated";
    case PacketKind::kOversize:
      return "oversize";
  }
  return "unknown";
}

std::string ClientPacket::KeyName() const {
  if (kind != PacketKind::kTerminalKey) return {};
  if (modifier == 0) {
    if (bytes.size() == 2) return "Shift+Space";  // ESC SP
    if (const char* plain = PlainKeyName(key)) return plain;
    const std::string modified = ModifiedFunctionKey(key);
    if (!modified.empty()) return modified;
    char buf[16];
    std::snprintf(buf, sizeof buf, "ESC [ %02X", key);
    return buf;
  }
  const std::string mod = ModifierName(modifier);
  if (escapedKey) {
    const char* plain = PlainKeyName(key);
    char buf[16];
    std::snprintf(buf, sizeof buf, "ESC [ %02X", key);
    return mod + "+" + (plain ? plain : buf);
  }
  switch (key) {
    case 0x09:
      return mod + "+Tab";
    case 0x08:
      return mod + "+Backspace";
    case 0x20:
      return mod + "+Space";
    case 0x7E:
      return modifier == '3' ? "Delete" : mod + "+Delete";
    case 0xB1:
      return mod + "+Delete";
    default: {
      char buf[24];
      std::snprintf(buf, sizeof buf, "%s+vk %02X", mod.c_str(), key);
      return buf;
    }
  }
}

std::string ClientPacket::FieldsJson() const {
  char buf[160];
  switch (kind) {
    case PacketKind::kHidReport: {
      std::string keysJson;
      for (uint8_t k : keys) {
        if (k == 0) continue;
        if (!keysJson.empty()) keysJson += ",";
        keysJson += std::to_string(k);
      }
      std::snprintf(buf, sizeof buf, "\"modifiers\":%u,\"keys\":[", modifiers);
      return buf + keysJson + "]";
    }
    case PacketKind::kMouseMove:
      std::snprintf(buf, sizeof buf, "\"dx\":%d,\"dy\":%d,\"x\":%u,\"y\":%u", dx, dy, x, y);
      return buf;
    case PacketKind::kMousePress:
    case PacketKind::kMouseRelease:
      std::snprintf(buf, sizeof buf, "\"button\":%u", button);
      return buf;
    case PacketKind::kMouseClick:
      std::snprintf(buf, sizeof buf, "\"button\":%u,\"clicks\":%u", button, clicks);
      return buf;
    case PacketKind::kPowerButton: {
      static const char* const kNames[] = {"momentary-press", "press-and-hold", "cold-boot",
                                           "reset-system"};
      std::snprintf(buf, sizeof buf, "\"button\":%u,\"name\":\"%s\"", button, kNames[button & 3]);
      return buf;
    }
    case PacketKind::kLeaderPort:
      std::snprintf(buf, sizeof buf, "\"port\":%u", port);
      return buf;
    case PacketKind::kJoinRequest:
      return "\"slot\":" + JsonString(slot ? std::string(1, slot) : std::string()) +
             ",\"text\":" + JsonString(text);
    case PacketKind::kSessionNotice:
      return "\"text\":" + JsonString(text);
    case PacketKind::kTerminalKey:
      return "\"name\":" + JsonString(KeyName());
    case PacketKind::kChar:
      std::snprintf(buf, sizeof buf, "\"code\":%u", key);
      if (key >= 0x20 && key < 0x7F) {
        return buf + (",\"char\":" + JsonString(std::string(1, static_cast<char>(key))));
      }
      return buf;
    case PacketKind::kHotKey:
      std::snprintf(buf, sizeof buf, "\"number\":%u", key - 0x13);
      return buf;
    default:
      return {};
  }
}

int PacketPlausibility(const ClientPacket& p) {
  switch (p.kind) {
    case PacketKind::kHidReport:
      return p.bytes[3] == 0 ? 2 : -3;
    case PacketKind::kMouseMove:
      return p.x <= 3200 && p.y <= 3200 ? 2 : -3;
    case PacketKind::kMousePress:
    case PacketKind::kMouseRelease:
    case PacketKind::kMouseClick:
      return p.button == 1 || p.button == 4 ? 2 : -1;
    case PacketKind::kPowerButton:
    case PacketKind::kLeaderPort:
    case PacketKind::kRequestControl:
    case PacketKind::kRelinquishControl:
    case PacketKind::kSessionNotice:
    case PacketKind::kRefresh:
    case PacketKind::kKeepAliveActivity:
    case PacketKind::kKeepAliveIdle:
    case PacketKind::kCtrlAltDel:
      return 2;
    case PacketKind::kJoinRequest:
      return p.slot >= '0' && p.slot <= '2' ? 2 : -1;
    case PacketKind::kTerminalKey:
      return p.KeyName().rfind("ESC", 0) == 0 ? -1 : 2;
    case PacketKind::kChar:
      if ((p.key >= 0x20 && p.key < 0x7F) || p.key == 0x0D || p.key == 0x08 || p.key == 0x09) {
        return 0;
      }
      return -1;
    case PacketKind::kHotKey:
      return 0;
    case PacketKind::kUnknown:
    case PacketKind::kTruncated:
    case PacketKind::kOversize:
    case PacketKind::kStartHeader:
      return -3;
  }
  return -3;
}

void ClientStreamParser::Feed(const uint8_t* data, size_t n, std::vector<ClientPacket>* out) {
  pending_.insert(pending_.end(), data, data + n);
  while (Available() > 0 && TryPacket(out) == Need::kDone) {
  }
  // What was taken goes in one move, not packet by packet.
  pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(head_));
  head_ = 0;
}

void ClientStreamParser::FlushPending(std::vector<ClientPacket>* out) {
  while (Available() > 0) {
    if (At()[0] == kEsc && Available() == 1) {
      ClientPacket p;
      p.kind = PacketKind::kChar;
      p.key = kEsc;
      EmitPacket(std::move(p), 1, out);
    } else {
      Emit(PacketKind::kTruncated, Available(), out);
    }
  }
  pending_.clear();
  head_ = 0;
  scanFrom_ = 0;
}

void ClientStreamParser::Emit(PacketKind kind, size_t length, std::vector<ClientPacket>* out) {
  ClientPacket p;
  p.kind = kind;
  EmitPacket(std::move(p), length, out);
}

void ClientStreamParser::EmitPacket(ClientPacket packet, size_t length,
                                    std::vector<ClientPacket>* out) {
  length = std::min(length, Available());
  packet.bytes.assign(At(), At() + length);
  head_ += length;
  scanFrom_ = 0;
  out->push_back(std::move(packet));
}

ClientStreamParser::Need ClientStreamParser::TryPacket(std::vector<ClientPacket>* out) {
  const uint8_t b0 = At()[0];
  if (b0 == 0xFF) return TryFf(out);
  if (b0 == kEsc) return TryEscape(out);
  ClientPacket p;
  p.kind = b0 >= 0x14 && b0 <= 0x19 ? PacketKind::kHotKey : PacketKind::kChar;
  p.key = b0;
  EmitPacket(std::move(p), 1, out);
  return Need::kDone;
}

ClientStreamParser::Need ClientStreamParser::TryFf(std::vector<ClientPacket>* out) {
  if (Available() < 2) return Need::kMore;
  const uint8_t* b = At();
  const uint8_t command = b[1];
  if (command == 0xFF) {
    // A stray FF: drop it and look at the next one as a command of its own.
    Emit(PacketKind::kUnknown, 1, out);
    return Need::kDone;
  }
  if (command == 0xCA || command == 0xCF) {
    // Text up to a zero byte.
    size_t i = std::max<size_t>(scanFrom_, 2);
    for (; i < Available(); ++i) {
      if (b[i] == 0) break;
      if (i - 2 >= kMaxText) {
        // No terminator within the limit: keep the head for the log and go on parsing what
        // follows as ordinary bytes.
        ClientPacket p;
        p.kind = PacketKind::kOversize;
        EmitPacket(std::move(p), 2 + kMaxText, out);
        return Need::kDone;
      }
    }
    if (i == Available()) {
      scanFrom_ = i;
      return Need::kMore;
    }
    ClientPacket p;
    if (command == 0xCA) {
      p.kind = PacketKind::kJoinRequest;
      p.slot = i > 2 ? static_cast<char>(b[2]) : 0;
      if (i > 3) p.text.assign(b + 3, b + i);
    } else {
      p.kind = PacketKind::kSessionNotice;
      p.text.assign(b + 2, b + i);
    }
    EmitPacket(std::move(p), i + 1, out);
    return Need::kDone;
  }
  const size_t length = FixedFfLength(command);
  if (length == 0) {
    Emit(PacketKind::kUnknown, 2, out);
    return Need::kDone;
  }
  if (Available() < length) return Need::kMore;
  ClientPacket p;
  switch (command) {
    case 0xD6:
      p.kind = PacketKind::kHidReport;
      p.modifiers = b[2];
      std::copy_n(b + 4, 6, p.keys);
      break;
    case 0xD0:
      p.kind = PacketKind::kMouseMove;
      p.dx = static_cast<int8_t>(b[2]);
      p.dy = static_cast<int8_t>(b[3]);
      p.x = static_cast<uint16_t>(b[4] << 8 | b[5]);
      p.y = static_cast<uint16_t>(b[6] << 8 | b[7]);
      break;
    case 0xD1:
      p.kind = PacketKind::kMousePress;
      p.button = b[2];
      break;
    case 0xD2:
      p.kind = PacketKind::kMouseRelease;
      p.button = b[2];
      break;
    case 0xD3:
      p.kind = PacketKind::kMouseClick;
      p.button = b[2];
      p.clicks = static_cast<uint8_t>(b[3] + 1);
      break;
    case 0xC6:
      p.kind = PacketKind::kLeaderPort;
      p.port = static_cast<uint16_t>(b[2] | b[3] << 8);
      break;
    case 0xCB:
      p.kind = PacketKind::kRequestControl;
      break;
    case 0xCC:
      p.kind = PacketKind::kRelinquishControl;
      break;
    case 0xC0:
      p.kind = PacketKind::kStartHeader;
      break;
    default:  // BA to BD
      p.kind = PacketKind::kPowerButton;
      p.button = static_cast<uint8_t>(command - 0xBA);
      break;
  }
  EmitPacket(std::move(p), length, out);
  return Need::kDone;
}

ClientStreamParser::Need ClientStreamParser::TryEscape(std::vector<ClientPacket>* out) {
  if (Available() < 2) return Need::kMore;
  const uint8_t* b = At();
  if (b[1] == ' ') {
    ClientPacket p;
    p.kind = PacketKind::kTerminalKey;
    p.key = ' ';
    EmitPacket(std::move(p), 2, out);
    return Need::kDone;
  }
  if (b[1] != '[') {
    // The Escape key itself; what follows is parsed on its own.
    ClientPacket p;
    p.kind = PacketKind::kChar;
    p.key = kEsc;
    EmitPacket(std::move(p), 1, out);
    return Need::kDone;
  }
  if (Available() < 3) return Need::kMore;
  const uint8_t k = b[2];
  if (k == '~' || k == '(' || k == '&') {
    Emit(k == '~'   ? PacketKind::kRefresh
         : k == '(' ? PacketKind::kKeepAliveActivity
                    : PacketKind::kKeepAliveIdle,
         3, out);
    return Need::kDone;
  }
  ClientPacket p;
  p.kind = PacketKind::kTerminalKey;
  if (k != '1' && k != '2' && k != '3') {
    p.key = k;
    EmitPacket(std::move(p), 3, out);
    return Need::kDone;
  }
  // A modifier prefix: one key byte, or a whole ESC [ sequence.
  if (Available() < 4) return Need::kMore;
  p.modifier = k;
  if (b[3] != kEsc) {
    p.key = b[3];
    EmitPacket(std::move(p), 4, out);
    return Need::kDone;
  }
  if (Available() < 5) return Need::kMore;
  if (b[4] != '[') {
    // ESC [ m and then an ESC that starts something else.
    Emit(PacketKind::kTruncated, 3, out);
    return Need::kDone;
  }
  if (Available() < 6) return Need::kMore;
  if (k == '2' && b[5] == 0x7F) {
    Emit(PacketKind::kCtrlAltDel, 6, out);
    return Need::kDone;
  }
  p.key = b[5];
  p.escapedKey = true;
  EmitPacket(std::move(p), 6, out);
  return Need::kDone;
}

}  // namespace remcons::sim
