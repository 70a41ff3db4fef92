// What a joining console sends to the session leader, cut into the leader's units: the link's own
// commands (key agreement, login, control requests) and whole console packets to pass on to the
// management processor, each marked as keyboard or mouse input or not. Bytes are deciphered as
// they are read once the key agreement has given a receive stream.
//
// Packets are passed on whole, so that no other write to the management processor can land in
// the middle of one. The payload of mouse and keyboard reports is never taken for a command, even
// where it holds FF.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "net/Net.h"

namespace remcons {

class JoinerStream {
 public:
  static constexpr uint32_t kMaxValueLength = 128;  // n: the arithmetic holds 1024-bit numbers
  static constexpr size_t kMaxLogin = 1024;         // login text and its zero

  class Actions {
   public:
    virtual ~Actions() = default;
    // ADH info: n and the 3 n bytes of prime, generator and public value. False ends the link.
    virtual bool OnAdhInfo(uint32_t n, const uint8_t* values) = 0;
    // The login text (without its zero). False ends the link.
    virtual bool OnLogin(std::string_view text) = 0;
    virtual void OnRequestControl() = 0;
    virtual void OnRelinquishControl() = 0;
    // Bytes for the management processor; input is true for keyboard and mouse packets.
    virtual void PassOn(const uint8_t* bytes, size_t length, bool input) = 0;
  };

  // Deciphers the bytes that follow with stream (not owned; it outlives this reader).
  void SetReceiveStream(RC4Stream* stream) { receive_ = stream; }
  // Takes received bytes; false when the link must end (the reason has been traced).
  bool Feed(const uint8_t* data, size_t length, Actions& actions);
  // Whether the key agreement and the login have come.
  bool Agreed() const { return agreed_; }
  bool LoggedIn() const { return loggedIn_; }

 private:
  enum class State { kIdle, kEscape, kEsc, kEscBracket, kPayload, kReadN, kValues, kLogin };

  bool Byte(uint8_t b, Actions& actions);
  bool Escaped(uint8_t b, Actions& actions);
  void Emit(Actions& actions, bool input);

  RC4Stream* receive_ = nullptr;
  State state_ = State::kIdle;
  std::vector<uint8_t> packet_;  // the packet being gathered
  size_t payloadLeft_ = 0;
  bool payloadInput_ = false;
  uint32_t n_ = 0;
  std::vector<uint8_t> values_;
  std::string login_;
  bool agreed_ = false;
  bool loggedIn_ = false;
  uint32_t byteCount_ = 0;  // for the trace
};

}  // namespace remcons
