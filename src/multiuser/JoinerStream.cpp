#include "multiuser/JoinerStream.h"

#include "net/ConsoleCommands.h"
#include "platform/Trace.h"

namespace remcons {
namespace {

constexpr uint8_t kEscByte = 0x1B;
constexpr uint8_t kBracket = 0x5B;

// Payload bytes after FF and a command byte, for the keyboard and mouse reports.
int InputPayload(uint8_t command) {
  switch (command) {
    case 0xD0:  // mouse move: dx, dy, x and y on the grid
      return 6;
    case 0xD1:  // button press
    case 0xD2:  // button release
      return 1;
    case 0xD3:  // click: button, count
      return 2;
    case 0xD6:  // keyboard report
      return 8;
    default:
      return -1;
  }
}

}  // namespace

bool JoinerStream::Feed(const uint8_t* data, size_t length, Actions& actions) {
  for (size_t i = 0; i < length; ++i) {
    uint8_t b = data[i];
    if (receive_) b ^= receive_->NextByte();
    ++byteCount_;
    if (!Byte(b, actions)) return false;
  }
  return true;
}

void JoinerStream::Emit(Actions& actions, bool input) {
  // Only the size: the joiner's keys are what its user types, passwords too.
  RC_TRACE("MUClient: %zu bytes passed on%s, %u received\n", packet_.size(),
           input ? " (input)" : "", byteCount_);
  actions.PassOn(packet_.data(), packet_.size(), input);
  packet_.clear();
}

bool JoinerStream::Byte(uint8_t b, Actions& actions) {
  switch (state_) {
    case State::kIdle:
      if (b == 0xFF) {
        state_ = State::kEscape;
      } else if (b == kEscByte) {
        packet_.assign(1, b);
        state_ = State::kEsc;
      } else {
        // A typed character or a hot key.
        packet_.assign(1, b);
        Emit(actions, true);
      }
      return true;
    case State::kEscape:
      state_ = State::kIdle;
      return Escaped(b, actions);
    case State::kEsc:
      if (b == kBracket) {
        packet_.push_back(b);
        state_ = State::kEscBracket;
        return true;
      }
      // A lone Escape key; the byte after it starts afresh.
      Emit(actions, true);
      state_ = State::kIdle;
      return Byte(b, actions);
    case State::kEscBracket:
      state_ = State::kIdle;
      if (b == kRefreshRequest[2] || b == kActivityNotice[2] || b == kIdleKeepAlive[2]) {
        // Refresh request and keep-alives: the console's, not the user's typing.
        packet_.push_back(b);
        Emit(actions, false);
        return true;
      }
      // A key's escape sequence; its last bytes follow as typed bytes.
      Emit(actions, true);
      return Byte(b, actions);
    case State::kPayload:
      packet_.push_back(b);
      if (--payloadLeft_ == 0) {
        Emit(actions, payloadInput_);
        state_ = State::kIdle;
      }
      return true;
    case State::kReadN:
      if (b == 0 || b > kMaxValueLength) {
        RC_TRACE("MUClient: ADH info with n = %u refused\n", b);
        return false;
      }
      n_ = b;
      values_.clear();
      values_.reserve(3 * n_);
      state_ = State::kValues;
      return true;
    case State::kValues:
      values_.push_back(b);
      if (values_.size() < 3 * n_) return true;
      state_ = State::kIdle;
      agreed_ = true;
      return actions.OnAdhInfo(n_, values_.data());
    case State::kLogin:
      if (b != 0) {
        if (login_.size() + 1 >= kMaxLogin) {
          RC_TRACE("MUClient: login info longer than %zu bytes refused\n", kMaxLogin);
          return false;
        }
        login_ += static_cast<char>(b);
        return true;
      }
      state_ = State::kIdle;
      loggedIn_ = true;
      {
        const bool ok = actions.OnLogin(login_);
        login_.assign(login_.size(), '\0');
        login_.clear();
        return ok;
      }
  }
  return true;
}

bool JoinerStream::Escaped(uint8_t b, Actions& actions) {
  switch (b) {
    case 0xC8:
      // One key agreement per link: a second would re-key the streams under the peer's control.
      if (agreed_) {
        RC_TRACE("MUClient: second ADH info refused\n");
        return false;
      }
      state_ = State::kReadN;
      return true;
    case 0xCA:
      // The login comes enciphered, after the agreement, and once.
      if (!agreed_ || loggedIn_) {
        RC_TRACE("MUClient: login info %s refused\n", agreed_ ? "repeated" : "before ADH");
        return false;
      }
      login_.clear();
      state_ = State::kLogin;
      return true;
    case 0xCB:
      actions.OnRequestControl();
      return true;
    case 0xCC:
      actions.OnRelinquishControl();
      return true;
    case 0xC0:
    case 0xC6:
    case 0xCF:
      // What only a console or the leader itself tells the management processor (the start
      // header, the leader's port, session notices) is not a joiner's to say.
      RC_TRACE("MUClient: FF %02x from a joiner dropped\n", b);
      return true;
    case 0xBA:
    case 0xBB:
    case 0xBC:
    case 0xBD:
      // Virtual power buttons: the management processor decides whom it lets press them.
      packet_ = {0xFF, b};
      Emit(actions, false);
      return true;
    default:
      break;
  }
  packet_ = {0xFF, b};
  if (const int payload = InputPayload(b); payload > 0) {
    payloadLeft_ = static_cast<size_t>(payload);
    payloadInput_ = true;
    state_ = State::kPayload;
    return true;
  }
  Emit(actions, true);
  return true;
}

}  // namespace remcons
