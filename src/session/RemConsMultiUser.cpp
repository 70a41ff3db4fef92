// The multi-user steps of CRemCons: the session leader's server with the random pool behind the
// key agreement, the leader's port announcement, the relay of the console stream, the join
// answers, and the menu bar's control, client list and lock buttons.
#include "multiuser/MUServer.h"
#include "platform/Trace.h"
#include "session/RemCons.h"

namespace remcons {
namespace {

constexpr uint8_t kRequestControl[2] = {0xFF, 0xCB};
constexpr uint8_t kRelinquishControl[2] = {0xFF, 0xCC};

}  // namespace

void CRemCons::StartMultiUser(const SessionEnvironment& environment) {
  if (props_.muMode == 1 && !muServer_) {
    MUServerOptions options = environment.leaderServer;
    options.port = props_.muPort;
    muServer_ = std::make_unique<MUServer>(*this, *host_, random_, options);
  }
  // Only the multi-user links draw on the pool; a single console spares its 100 ms.
  if (props_.muMode == 1 || props_.muMode == 2) {
    SeedConsolePool(random_, props_.decryptKey, props_.encryptKey, props_.vmKey, *clock_);
  }
}

void CRemCons::AnnounceLeaderPort() {
  if (props_.muMode != 1 || !muServer_) return;
  const uint16_t port = muServer_->port();
  const uint8_t announcement[4] = {0xFF, 0xC6, static_cast<uint8_t>(port),
                                   static_cast<uint8_t>(port >> 8)};
  Write(announcement, sizeof announcement);
}

void CRemCons::CloseLeaderSession() {
  if (props_.muMode == 1 && muServer_) muServer_->CloseSession();
}

void CRemCons::RelayChunk(const uint8_t* data, int length) {
  if (muServer_ && length > 0) muServer_->Relay(data, length);
}

void CRemCons::OnJoinAnswer(std::string_view text) {
  if (muServer_) {
    muServer_->OnJoinAnswer(text);
  } else {
    RC_TRACE("CRemCons: join answer without a session leader server\n");
  }
}

void CRemCons::ReleaseAllKeys() {
  keyState_.fill(0);
  if (keyboard_) keyboard_->ReleaseAllKeys();
}

void CRemCons::RequestControl() {
  if (props_.muMode != 1) {
    Write(kRequestControl, sizeof kRequestControl);
    return;
  }
  // The leader's user takes control back from whoever holds it.
  if (muServer_) muServer_->RequestControl(nullptr);
  SetInputEnabled(true);
}

void CRemCons::RelinquishControl() {
  if (props_.muMode != 1) {
    Write(kRelinquishControl, sizeof kRelinquishControl);
    return;
  }
  if (muServer_) muServer_->RelinquishControl(nullptr);
  SetInputEnabled(false);
}

void CRemCons::ShowClientList() {
  if (muServer_) muServer_->ShowClientList();
}

void CRemCons::SetAccepting(bool accepting) {
  if (muServer_) muServer_->SetAccepting(accepting);
}

}  // namespace remcons
