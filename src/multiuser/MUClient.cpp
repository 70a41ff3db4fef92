#include "multiuser/MUClient.h"

#include <pthread.h>

#include <algorithm>
#include <cstring>

#include "multiuser/DHAgreement.h"
#include "multiuser/MUServer.h"
#include "multiuser/MultiPrecision.h"
#include "net/ConsoleCommands.h"
#include "platform/Strings.h"
#include "platform/Trace.h"

namespace remcons {
namespace {

constexpr uint8_t kDhResponse[2] = {0xFF, 0xC9};
constexpr uint8_t kSessionFull[2] = {0xFF, 0xCD};
constexpr uint8_t kStatusChannel = 5;
constexpr uint8_t kEndChannel = 6;
constexpr uint8_t kControlChannel = 0x81;
constexpr size_t kMaxNoticeText = 127;
constexpr size_t kMaxHostName = 79;

}  // namespace

MUClient::MUClient(std::unique_ptr<TcpSocket> socket, std::string address, MUServer& server)
    : socket_(std::move(socket)), server_(server), addressText_(std::move(address)) {}

MUClient::~MUClient() {
  CloseSocket();
  Join();
}

void MUClient::Start() {
  // The receive loop joins the lookup when it ends, which may be at once: the lookup's thread
  // object must be complete before the loop starts.
  lookupThread_ = std::thread([this] { Lookup(); });
  receiveThread_ = std::thread([this] { ReceiveLoop(); });
}

void MUClient::Join() {
  if (receiveThread_.joinable()) receiveThread_.join();
  if (lookupThread_.joinable()) lookupThread_.join();
}

void MUClient::CloseSocket() {
  if (socket_) socket_->Close();
}

std::string MUClient::UserName() const {
  std::lock_guard lock(nameMutex_);
  return userName_;
}

void MUClient::SetUserName(std::string_view name) {
  std::lock_guard lock(nameMutex_);
  userName_ = std::string(name.substr(0, 255));
}

std::string MUClient::HostText() const {
  std::lock_guard lock(nameMutex_);
  return hostName_.empty() ? addressText_ : hostName_;
}

void MUClient::Lookup() {
  pthread_setname_np(pthread_self(), "remcons-mu-name");
  std::string name;
  if (ReverseLookupIpv4(addressText_, &name)) {
    std::lock_guard lock(nameMutex_);
    hostName_ = name.substr(0, kMaxHostName);
  }
  lookupDone_ = true;
}

// ---- The receive loop ----

void MUClient::ReceiveLoop() {
  pthread_setname_np(pthread_self(), "remcons-mu-recv");
  const int slot = server_.AddClient(shared_from_this());
  if (slot < 0) {
    RC_TRACE("MUClient: session full\n");
    socket_->SendAll(kSessionFull, sizeof kSessionFull);
  } else {
    slot_ = slot;
    uint8_t buffer[kReadSize];
    for (;;) {
      const int got = socket_->Receive(buffer, sizeof buffer);
      if (got <= 0) {
        RC_TRACE("MUClient: connection ended (%s)\n",
                 got < 0 ? SocketErrorText(LastSocketError()) : "closed");
        break;
      }
      const bool ok = stream_.Feed(buffer, static_cast<size_t>(got), *this);
      FlushPassOn();
      if (!ok) break;
    }
    server_.RemoveClient(this);
  }
  CloseSocket();
  // The lookup must not outlive the client; it ends by itself.
  if (lookupThread_.joinable()) lookupThread_.join();
  receiveStream_.reset();
  finished_ = true;
}

bool MUClient::OnAdhInfo(uint32_t n, const uint8_t* values) {
  RC_TRACE("MUClient: starting ADH\n");
  CDHAgreement dh(server_.random());
  dh.SetSize(8 * n);
  if (const int status = dh.TakeGroupAndPeerValue(values, values + n, values + 2 * n);
      status != 0) {
    RC_TRACE("MUClient: ADH info refused (error %d)\n", status);
    return false;
  }
  RC_TRACE("MUClient: Sending my Y\n");
  std::vector<uint8_t> response(kDhResponse, kDhResponse + 2);
  response.resize(2 + n);
  dh.GetPublicValue(response.data() + 2);
  if (Send(response.data(), response.size(), true) < 0) return false;
  RC_TRACE("MUClient: Computing K\n");
  if (dh.ComputeAgreedKey() != 0) return false;
  // Short groups give a short K: the keys take what there is, zero after it.
  std::vector<uint8_t> k(std::max<size_t>(n, 2 * RC4Stream::kKeySize), 0);
  dh.GetAgreedKey(k.data());
  {
    std::lock_guard lock(sendMutex_);
    sendStream_ = std::make_unique<RC4Stream>(k.data());
    sendEnciphered_ = true;
  }
  receiveStream_ = std::make_unique<RC4Stream>(k.data() + RC4Stream::kKeySize);
  stream_.SetReceiveStream(receiveStream_.get());
  mp::Wipe(k.data(), k.size());
  RC_TRACE("MUClient: ADH done!\n");
  return true;
}

bool MUClient::OnLogin(std::string_view text) {
  const int slot = slot_.load();
  // The name only: the password after it stays out of the trace.
  RC_TRACE("MUClient: user info: '%s' and %s\n",
           std::string(text.substr(0, text.find('\r'))).c_str(),
           trace::Masked(text.substr(std::min(text.size(), text.find('\r')))).c_str());
  std::vector<uint8_t> request = {0xFF, 0xCA, static_cast<uint8_t>('0' + slot)};
  request.insert(request.end(), text.begin(), text.end());
  request.push_back(0);
  server_.owner().Write(request.data(), request.size());
  mp::Wipe(request.data(), request.size());
  return true;
}

void MUClient::OnRequestControl() {
  FlushPassOn();
  server_.RequestControl(this);
}

void MUClient::OnRelinquishControl() {
  FlushPassOn();
  server_.RelinquishControl(this);
}

void MUClient::PassOn(const uint8_t* bytes, size_t length, bool input) {
  // A pending client's bytes are dropped, and so are the keys and mouse of one without control.
  if (status_ != kAccepted || (input && !server_.IsController(this))) return;
  passOn_.insert(passOn_.end(), bytes, bytes + length);
}

void MUClient::FlushPassOn() {
  if (passOn_.empty()) return;
  server_.owner().Write(passOn_.data(), passOn_.size());
  passOn_.clear();
}

// ---- Sending ----

int MUClient::Send(const uint8_t* bytes, size_t length, bool forced) {
  std::lock_guard lock(sendMutex_);
  if (!forced && status_ != kAccepted) return 0;
  return SendLocked(bytes, length);
}

int MUClient::SendLocked(const uint8_t* bytes, size_t length) {
  size_t done = 0;
  while (done < length) {
    const size_t chunk = std::min(length - done, kCipherBufferSize);
    const uint8_t* out = bytes + done;
    if (sendEnciphered_) {
      std::memcpy(cipherBuffer_, out, chunk);
      sendStream_->Apply(cipherBuffer_, chunk);
      out = cipherBuffer_;
    }
    if (socket_->SendAll(out, chunk) < 0) {
      // Its stream is out of step now: the client goes, and the receive loop says so.
      RC_TRACE("MUClient: send error %s, dropping the client\n",
               SocketErrorText(LastSocketError()));
      CloseSocket();
      return -1;
    }
    done += chunk;
  }
  return static_cast<int>(length);
}

void MUClient::NoticeLocked(uint8_t channel, std::string_view text) {
  bits_.Reset();
  bits_.PutSync();
  bits_.PutTextMessage(channel, text.substr(0, kMaxNoticeText));
  SendLocked(bits_.data(), bits_.size());
}

void MUClient::SendNotice(uint8_t channel, std::string_view text) {
  std::lock_guard lock(sendMutex_);
  NoticeLocked(channel, text);
}

void MUClient::SetStatus(int status) {
  {
    // No relayed block may come between the status and its notice.
    std::lock_guard lock(sendMutex_);
    status_ = status;
    if (status == kAccepted) NoticeLocked(kStatusChannel, LoadString(kStrAccepted));
    if (status == kEnded) NoticeLocked(kEndChannel, LoadString(kStrLeaderEndedConnection));
  }
  if (status == kAccepted) server_.owner().Write(kRefreshRequest.data(), kRefreshRequest.size());
  if (status == kEnded) CloseSocket();
}

void MUClient::CloseByLeader() {
  {
    std::lock_guard lock(sendMutex_);
    status_ = kEnded;
    NoticeLocked(kEndChannel, LoadString(kStrLeaderClosedSession));
  }
  CloseSocket();
}

void MUClient::SetControl(bool granted) {
  SendNotice(kControlChannel, granted ? "1" : "0");
  server_.owner().Write(kRefreshRequest.data(), kRefreshRequest.size());
}

}  // namespace remcons
