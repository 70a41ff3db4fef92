#include "sim/StartSequence.h"

#include <algorithm>
#include <cstdio>

#include "platform/ByteOrder.h"

namespace remcons::sim {
namespace {

constexpr uint8_t kEscapes[9] = {0x1B, 0x5B, 0x37, 0x1B, 0x5B, 0x39, 0x1B, 0x5B, 0x34};

bool EscapesPrefix(const std::vector<uint8_t>& bytes) {
  return bytes.size() <= 9 && std::equal(bytes.begin(), bytes.end(), kEscapes);
}

bool HeaderPrefix(const std::vector<uint8_t>& bytes) {
  if (bytes.empty() || bytes.size() > 6) return false;
  return bytes[0] == 0xFF && (bytes.size() < 2 || bytes[1] == 0xC0);
}

}  // namespace

StartSequenceParser::Status StartSequenceParser::Fail(std::string why) {
  state_ = State::kFailed;
  error_ = std::move(why);
  stream_.reset();
  return Status::kFailed;
}

void StartSequenceParser::Hunt(uint8_t byte) {
  hunt_.push_back(byte);
  // Drop leading bytes until what is left may still begin the start (earliest match wins).
  while (!hunt_.empty() && !EscapesPrefix(hunt_) && !HeaderPrefix(hunt_)) {
    hunt_.erase(hunt_.begin());
    ++result_.skipped;
  }
  if (hunt_.size() == 9 && EscapesPrefix(hunt_)) {
    headerBytes_ = hunt_;
    hunt_.clear();
    state_ = State::kLogin;
  } else if (hunt_.size() == 6 && HeaderPrefix(hunt_)) {
    headerBytes_ = hunt_;
    result_.header = true;
    result_.keyIndex = LoadBe32(hunt_.data() + 2);
    hunt_.clear();
    const uint8_t* key = lookup_ ? lookup_(result_.keyIndex) : nullptr;
    if (!key) {
      char text[64];
      std::snprintf(text, sizeof text, "unknown key index 0x%08x", result_.keyIndex);
      Fail(text);
      return;
    }
    stream_ = std::make_unique<RC4Stream>(key);
    state_ = State::kEscapes;
  }
}

void StartSequenceParser::Login(uint8_t byte) {
  ++result_.loginBytes;
  if (byte == 0x0D) {
    if (++result_.crCount == 2) state_ = State::kDone;
    return;
  }
  (result_.crCount == 0 ? result_.name : result_.password) += static_cast<char>(byte);
}

StartSequenceParser::Status StartSequenceParser::Feed(const uint8_t* data, size_t n, size_t* used) {
  size_t i = 0;
  for (; i < n && state_ != State::kDone && state_ != State::kFailed; ++i) {
    uint8_t byte = data[i];
    switch (state_) {
      case State::kHunt:
        Hunt(byte);
        if (result_.skipped > kMaxSkipped) {
          return Fail("no start sequence in the first 64 KiB");
        }
        break;
      case State::kEscapes:
        headerBytes_.push_back(byte);
        byte ^= stream_->NextByte();
        if (byte != kEscapes[escapes_]) {
          char text[96];
          std::snprintf(text, sizeof text,
                        "the start sequence does not decipher with the keys of key index 0x%08x",
                        result_.keyIndex);
          return Fail(text);
        }
        if (++escapes_ == 9) state_ = State::kLogin;
        break;
      case State::kLogin:
        if (stream_) byte ^= stream_->NextByte();
        Login(byte);
        if (state_ == State::kLogin && result_.loginBytes >= kMaxLogin) {
          return Fail("login longer than 512 bytes");
        }
        break;
      default:
        break;
    }
  }
  if (used) *used = i;
  if (state_ == State::kFailed) return Status::kFailed;
  return state_ == State::kDone ? Status::kDone : Status::kMore;
}

StartSequenceParser::Status StartSequenceParser::Quiet() {
  if (state_ == State::kLogin) state_ = State::kDone;
  if (state_ == State::kFailed) return Status::kFailed;
  return state_ == State::kDone ? Status::kDone : Status::kMore;
}

}  // namespace remcons::sim
