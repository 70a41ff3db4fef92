#include "multiuser/MUNet.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "multiuser/MultiPrecision.h"
#include "platform/Secret.h"
#include "platform/Trace.h"

namespace remcons {

void TraceHexDump(const char* title, const uint8_t* data, size_t length) {
  if (!trace::Enabled()) return;
  RC_TRACE("%s", title);
  for (size_t at = 0; at < length; at += 16) {
    char line[8 + 16 * 3 + 2];
    int n = std::snprintf(line, sizeof line, "%04zx:", at);
    for (size_t i = at; i < length && i < at + 16; ++i) {
      n += std::snprintf(line + n, sizeof line - static_cast<size_t>(n), " %02x", data[i]);
    }
    RC_TRACE("%s\n", line);
  }
}

CMUNet::CMUNet(RandomPool& random, uint8_t encryption) : dh_(random) {
  encryptionEnabled_ = 1;
  // Nothing typed goes to the leader before it grants control.
  inputEnabled_ = 0;
  if (!encryption) RC_TRACE("MUnet: the link to the leader is enciphered all the same\n");
}

bool CMUNet::SendAdhInfo(const DHGroup* group) {
  dh_.SetSize(kBits);
  if (const int status = group ? dh_.MakeKeysIn(*group) : dh_.MakeGroupAndKeys(); status != 0) {
    RC_TRACE("MUnet: no key agreement (error %d)\n", status);
    return false;
  }
  std::vector<uint8_t> message = {0xFF, 0xC8, static_cast<uint8_t>(kValueLength)};
  message.resize(3 + 3 * kValueLength);
  dh_.GetPrime(message.data() + 3);
  dh_.GetGenerator(message.data() + 3 + kValueLength);
  dh_.GetPublicValue(message.data() + 3 + 2 * kValueLength);
  TraceHexDump("Sending ADH info\n", message.data(), message.size());
  TimedLock lock(NetworkLock(), kWaitForever);
  return SendRaw(message.data(), message.size()) >= 0;
}

void CMUNet::SendLoginInfo() {
  std::string text = TransformLogin(loginText_);
  WipeString(loginText_);
  const size_t size = std::min<size_t>(text.size(), 253);
  // One buffer of the final size, wiped after use: the login holds the password.
  std::vector<uint8_t> message(3 + size, 0);
  message[0] = 0xFF;
  message[1] = 0xCA;
  std::copy_n(text.begin(), size, message.begin() + 2);
  WipeString(text);
  // Its size only goes to the trace.
  RC_TRACE("Sending login info\n%04x: %zu bytes\n", 0, message.size());
  Write(message.data(), static_cast<int32_t>(message.size()));
  mp::Wipe(message.data(), message.size());
}

bool CMUNet::AgreeAndLogIn() {
  dh_.SetPeerValue(response_);
  if (!dh_.PeerValueAcceptable() || dh_.ComputeAgreedKey() != 0) {
    RC_TRACE("MUnet: the leader's public value cannot be agreed on\n");
    return false;
  }
  uint8_t k[kValueLength];
  dh_.GetAgreedKey(k);
  {
    TimedLock lock(NetworkLock(), kWaitForever);
    receiveStream_ = std::make_unique<RC4Stream>(k);
    sendStream_ = std::make_unique<RC4Stream>(k + RC4Stream::kKeySize);
    sendEnciphering_ = 1;
    receiveDeciphering_ = 1;
  }
  mp::Wipe(k, sizeof k);
  dh_.Release();
  SendLoginInfo();
  return true;
}

int32_t CMUNet::OnHandshakeByte(uint8_t b) {
  switch (handshakeState_) {
    case kWaitFf:
      if (b == 0xFF) handshakeState_ = kCommand;
      return 0;
    case kCommand:
      if (b == 0xC9) {
        RC_TRACE("MUnet: Going to DH_GET_RESP\n");
        handshakeState_ = kGetResponse;
        return 0;
      }
      handshakeState_ = kWaitFf;
      return b == 0xCD ? kSessionFull : b == 0xCE ? kNotAccepting : 0;
    case kGetResponse:
      response_[responseCount_++] = b;
      if (responseCount_ < valueLen_) return 0;
      RC_TRACE("MUnet: DH_GET_RESP got %i bytes\n", static_cast<int>(responseCount_));
      if (!AgreeAndLogIn()) {
        failed_ = true;
        return 0;
      }
      RC_TRACE("MUnet: Going to SYNCH\n");
      handshakeState_ = kSynch;
      return 0;
    case kSynch:
      if (b != 0) {
        zeroRun_ = 0;
        return 0;
      }
      return ++zeroRun_ >= 3 ? 1 : 0;
    default:
      RC_TRACE("MUNet: unknown state: %i", static_cast<int>(handshakeState_));
      return 0;
  }
}

int32_t CMUNet::Handshake() {
  state_ = kHandshaking;
  if (!SendAdhInfo()) {
    Close();
    state_ = kClosedInHandshake;
    return 0;
  }
  for (;;) {
    uint8_t byte = 0;
    if (Read(&byte, 1) == 0) {
      state_ = kClosedInHandshake;
      return 0;
    }
    const int32_t result = OnHandshakeByte(byte);
    if (failed_) {
      Close();
      state_ = kClosedInHandshake;
      return 0;
    }
    if (result != 0) {
      state_ = kConnected;
      return result;
    }
  }
}

}  // namespace remcons
