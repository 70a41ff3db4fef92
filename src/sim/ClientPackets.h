// The console's byte stream as the management processor receives it, cut into packets. The stream
// has no framing: every command is told apart by its first bytes (FF and a command byte, ESC [
// sequences, plain bytes), so the parser is a small state machine that never trusts a length it
// has not seen and always finds its way back to the next command after noise.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace remcons::sim {

enum class PacketKind : uint8_t {
  kHidReport,          // FF D6 modifiers 00 key*6
  kMouseMove,          // FF D0 dx dy Xhi Xlo Yhi Ylo
  kMousePress,         // FF D1 button
  kMouseRelease,       // FF D2 button
  kMouseClick,         // FF D3 button clicks-1
  kPowerButton,        // FF BA .. FF BD
  kLeaderPort,         // FF C6 lo hi
  kJoinRequest,        // FF CA slot text 00
  kRequestControl,     // FF CB
  kRelinquishControl,  // FF CC
  kSessionNotice,      // FF CF text 00
  kStartHeader,        // FF C0 k3 k2 k1 k0 after the start (logged, ignored)
  kRefresh,            // ESC [ ~
  kKeepAliveActivity,  // ESC [ (
  kKeepAliveIdle,      // ESC [ &
  kCtrlAltDel,         // ESC [ 2 ESC [ 7F
  kTerminalKey,        // the other ESC sequences of the terminal keyboard
  kChar,               // one plain byte
  kHotKey,             // one byte 14 to 19
  kUnknown,            // FF with a command byte nobody sends
  kTruncated,          // a packet cut short (the rest never came, or a new command began)
  kOversize,           // a text packet longer than the limit; its text is dropped
};

const char* PacketKindName(PacketKind kind);

struct ClientPacket {
  PacketKind kind = PacketKind::kUnknown;
  std::vector<uint8_t> bytes;  // as received (deciphered)
  // The decoded fields of the kinds that have them.
  int dx = 0, dy = 0;       // mouse move: signed steps (dy positive is up)
  uint16_t x = 0, y = 0;    // mouse move: position on the 3000 x 3000 grid
  uint8_t button = 0;       // mouse press, release, click: 4 left, 1 right; power button 0-3
  uint8_t clicks = 0;       // mouse click: the click count (last byte + 1)
  uint8_t modifiers = 0;    // HID report
  uint8_t keys[6] = {};     // HID report usages
  uint16_t port = 0;        // leader port
  char slot = 0;            // join request: '0' + slot
  std::string text;         // join request, session notice
  uint8_t modifier = 0;     // terminal key: '1' Alt, '2' Ctrl, '3' Shift, 0 none
  uint8_t key = 0;          // terminal key: the final byte; char / hot key: the byte
  bool escapedKey = false;  // terminal key: the key came as ESC [ key after the modifier
  // The decoded fields as the members of a JSON object (without braces).
  std::string FieldsJson() const;
  // A name for a terminal key ("Up", "F1", "Alt+F1", "Alt+vk 51", ...).
  std::string KeyName() const;
};

class ClientStreamParser {
 public:
  // Join requests and session notices longer than this are dropped as oversize.
  static constexpr size_t kMaxText = 1024;

  // Parses bytes and appends every packet completed by them.
  void Feed(const uint8_t* data, size_t n, std::vector<ClientPacket>* out);
  void Feed(std::string_view bytes, std::vector<ClientPacket>* out) {
    Feed(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), out);
  }
  // The rest never came: emits what is pending (a lone ESC as a character, anything else as
  // truncated) and starts afresh.
  void FlushPending(std::vector<ClientPacket>* out);
  // True between packets.
  bool AtBoundary() const { return Available() == 0; }
  size_t PendingBytes() const { return Available(); }

 private:
  enum class Need { kMore, kDone };
  // Tries to complete a packet from pending_; kDone with the packet consumed from pending_.
  Need TryPacket(std::vector<ClientPacket>* out);
  Need TryFf(std::vector<ClientPacket>* out);
  Need TryEscape(std::vector<ClientPacket>* out);
  void Emit(PacketKind kind, size_t length, std::vector<ClientPacket>* out);
  void EmitPacket(ClientPacket packet, size_t length, std::vector<ClientPacket>* out);

  size_t Available() const { return pending_.size() - head_; }
  const uint8_t* At() const { return pending_.data() + head_; }

  std::vector<uint8_t> pending_;
  size_t head_ = 0;      // bytes of pending_ already taken by packets
  size_t scanFrom_ = 0;  // text packets: where the search for the zero byte goes on
};

// Whether a packet is what a conforming console sends: used to tell the two candidate keystreams
// apart across a key change. Strong packets (FF and ESC [ commands) are near proof; a plain byte
// is weak evidence; noise counts against.
int PacketPlausibility(const ClientPacket& packet);

}  // namespace remcons::sim
