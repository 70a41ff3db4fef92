// CMUNet: a joining console's link to the session leader. It is the console connection CNet
// with another handshake: it sends the ADH info at once (a fresh 512-bit group and key
// pair), waits for the leader's public value, keys both directions from the agreed secret, sends
// the enciphered login and then waits for the sync that precedes the leader's first message.
#pragma once

#include <cstdint>

#include "multiuser/DHAgreement.h"
#include "multiuser/RandomPool.h"
#include "net/Net.h"

namespace remcons {

class CMUNet : public CNet {
 public:
  static constexpr uint32_t kBits = 512;
  static constexpr uint32_t kValueLength = kBits / 8;
  // OnHandshakeByte's and Handshake's results besides 0 and the synchronised 1.
  static constexpr int32_t kSessionFull = -1;
  static constexpr int32_t kNotAccepting = -2;
  // handshakeState values.
  enum HandshakeState : int32_t { kWaitFf = 0, kCommand = 1, kGetResponse = 2, kSynch = 3 };

  // The link is enciphered once the keys are agreed, whatever encryption says: the leader always
  // enciphers it.
  CMUNet(RandomPool& random, uint8_t encryption);

  // 1 synchronised, -1 session full, -2 not accepting, 0 closed first (or the key agreement
  // failed: the link is then closed).
  int32_t Handshake() override;

  // The steps of the handshake.
  // ADH info: FF C8 40, p, g, own public value, in a fresh group or in one made earlier by the same
  // search (the fuzz target makes one for all its inputs); false when no group could be made.
  bool SendAdhInfo(const DHGroup* group = nullptr);
  // FF CA, the login text, 00, enciphered.
  void SendLoginInfo();
  // One received byte: 0 to go on, else Handshake's result. A leader value that cannot be
  // agreed on sets failed().
  int32_t OnHandshakeByte(uint8_t b);
  bool failed() const { return failed_; }
  int32_t handshakeState() const { return handshakeState_; }

 private:
  bool AgreeAndLogIn();

  int32_t handshakeState_ = kWaitFf;
  CDHAgreement dh_;
  uint8_t response_[256] = {};
  uint32_t responseCount_ = 0;
  uint32_t zeroRun_ = 0;
  uint32_t valueLen_ = kValueLength;
  bool failed_ = false;
};

// A message as the trace shows it: 16 bytes a line, each line opened by its offset.
void TraceHexDump(const char* title, const uint8_t* data, size_t length);

}  // namespace remcons
