#include "multiuser/MUServer.h"

#include <arpa/inet.h>
#include <pthread.h>

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "platform/Strings.h"
#include "platform/Trace.h"

namespace remcons {
namespace {

constexpr uint8_t kNotAccepting[2] = {0xFF, 0xCE};
constexpr size_t kMaxNotice = 255;
constexpr size_t kMaxRequestText = 127;
constexpr size_t kMaxRowText = 127;
constexpr uint32_t kCloseStepMs = 100;

std::string Cut(std::string text, size_t maxBytes) {
  if (text.size() > maxBytes) text.resize(maxBytes);
  return text;
}

}  // namespace

std::string FormatString2(StringId id, std::string_view first, std::string_view second,
                          size_t maxBytes) {
  char out[1024];
  const std::string a(first), b(second);
  std::snprintf(out, sizeof out, LoadString(id), a.c_str(), b.c_str());
  return Cut(out, maxBytes);
}

// ---- Start and stop ----

MUServer::MUServer(MUOwner& owner, Host& host, RandomPool& random, MUServerOptions options)
    : owner_(owner),
      host_(host),
      random_(random),
      options_(std::move(options)),
      listLock_(OpenNamedMutex("MutexClientList")) {
  // The configured port and up to 20 after it, while they are taken.
  uint16_t port = options_.port;
  for (int attempt = 0; attempt < kBindAttempts; ++attempt, ++port) {
    listener_ = TcpSocket::Listen(options_.bindAddress, port, 5);
    if (listener_) break;
    const int error = LastSocketError();
    RC_TRACE("MUServer: bind error #%i\n", error);
    if (error != kWsaEaddrinuse || options_.port == 0) break;
  }
  if (!listener_) return;
  port_ = listener_->LocalPort();
  acceptThread_ = std::thread([this] { AcceptLoop(); });
}

MUServer::~MUServer() {
  Stop();
}

void MUServer::AcceptLoop() {
  pthread_setname_np(pthread_self(), "remcons-mu-accept");
  RC_TRACE("MUServer: ready!\n");
  for (;;) {
    std::string address;
    uint16_t peerPort = 0;
    std::unique_ptr<TcpSocket> socket = listener_->Accept(&address, &peerPort);
    if (!socket) {
      RC_TRACE("MUServer: accept error #%i\n", LastSocketError());
      return;
    }
    uint32_t peer = 0;
    ParseIpv4(address, &peer);
    RC_TRACE("MUServer: accept from %08lx:%04x\n", static_cast<unsigned long>(ntohl(peer)),
             peerPort);
    if (!socket->SetSendBufferSize(65536) || !socket->SetLinger(true, 1) ||
        !socket->SetSendTimeout(options_.sendTimeoutMs)) {
      RC_TRACE("MUServer: setsockopt error #%i\n", LastSocketError());
    }
    Reap(false);
    if (!accepting_ || stopped_) {
      socket->SendAll(kNotAccepting, sizeof kNotAccepting);
      socket->Close();
      continue;
    }
    auto client = std::make_shared<MUClient>(std::move(socket), address, *this);
    {
      std::lock_guard lock(clientsMutex_);
      clients_.push_back(client);
    }
    client->Start();
  }
}

void MUServer::Reap(bool all) {
  std::vector<std::shared_ptr<MUClient>> done;
  {
    std::lock_guard lock(clientsMutex_);
    if (all) {
      done.swap(clients_);
    } else {
      auto finished = std::stable_partition(clients_.begin(), clients_.end(),
                                            [](const auto& c) { return !c->Finished(); });
      done.assign(finished, clients_.end());
      clients_.erase(finished, clients_.end());
    }
  }
  for (const auto& client : done) {
    client->CloseSocket();
    client->Join();
  }
}

void MUServer::CloseSession() {
  if (listener_) listener_->Close();
  {
    TimedLock lock(*listLock_, kWaitForever);
    for (const auto& client : slots_) {
      if (client) client->CloseByLeader();
    }
  }
  for (uint32_t waited = 0; waited < options_.closeWaitMs; waited += kCloseStepMs) {
    {
      TimedLock lock(*listLock_, kWaitForever);
      if (std::none_of(slots_.begin(), slots_.end(), [](const auto& c) { return c != nullptr; }))
        return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(kCloseStepMs));
  }
  RC_TRACE("MUServer: clients still listed after %u ms\n", options_.closeWaitMs);
}

void MUServer::Stop() {
  if (stopped_.exchange(true)) return;
  if (listener_) listener_->Close();
  if (acceptThread_.joinable()) acceptThread_.join();
  host_.CloseClientList();
  Reap(true);
  TimedLock lock(*listLock_, kWaitForever);
  slots_ = {};
  controller_.reset();
  controllerId_ = nullptr;
}

// ---- The list ----

int MUServer::AddClient(const std::shared_ptr<MUClient>& client) {
  TimedLock lock(*listLock_, kWaitForever);
  for (int i = 0; i < kSlots; ++i) {
    if (!slots_[i]) {
      slots_[i] = client;
      return i;
    }
  }
  return -1;
}

int MUServer::RemoveClient(MUClient* client) {
  int status = MUClient::kEnded;
  int slot = -1;
  {
    TimedLock lock(*listLock_, kWaitForever);
    if (controller_.get() == client) {
      controller_.reset();
      controllerId_ = nullptr;
    }
    for (int i = 0; i < kSlots; ++i) {
      if (slots_[i].get() == client) {
        slot = i;
        status = client->status();
        slots_[i].reset();
      }
    }
  }
  if (slot < 0) return -1;
  host_.RefreshClientList();
  const std::string text =
      FormatString2(kStrUserDisconnected, client->UserName(), client->HostText(), kMaxNotice);
  owner_.SetStatusText2(text);
  if (status != MUClient::kEnded) SendNotice(text);
  return 0;
}

std::shared_ptr<MUClient> MUServer::SlotClient(int slot) {
  if (slot < 0 || slot >= kSlots) return nullptr;
  TimedLock lock(*listLock_, kWaitForever);
  return slots_[slot];
}

std::shared_ptr<MUClient> MUServer::Controller() {
  TimedLock lock(*listLock_, kWaitForever);
  return controller_;
}

void MUServer::SendNotice(std::string_view text) {
  std::vector<uint8_t> notice = {0xFF, 0xCF};
  text = text.substr(0, kMaxNotice);
  notice.insert(notice.end(), text.begin(), text.end());
  notice.push_back(0);
  owner_.Write(notice.data(), notice.size());
}

// ---- The stream ----

void MUServer::Relay(const uint8_t* data, int length) {
  if (length <= 0) return;
  TimedLock lock(*listLock_, kWaitForever);
  for (const auto& client : slots_) {
    if (client) client->Send(data, static_cast<size_t>(length), false);
  }
}

// ---- Joining ----

void MUServer::OnJoinAnswer(std::string_view text) {
  const int slot = !text.empty() && text[0] >= '0' && text[0] <= '2' ? text[0] - '0' : -1;
  std::string_view name = text.empty() ? text : text.substr(1);
  name = name.substr(0, name.find(':'));
  std::string host = "unknown address";
  if (auto client = SlotClient(slot)) host = client->HostText();
  const std::string question = FormatString2(kStrJoinRequest, name, host, kMaxNotice);
  owner_.ReleaseAllKeys();
  const int answer = host_.MessageBox(question, "New User", kMbAcceptDeny) == kIdAccept
                         ? MUClient::kAccepted
                         : MUClient::kEnded;
  // Looked up again: the slot may have changed while the user was asked.
  auto client = SlotClient(slot);
  if (!client) return;
  // Named before it counts as accepted, so no one sees an accepted console without its user.
  if (answer == MUClient::kAccepted) client->SetUserName(name);
  client->SetStatus(answer);
  if (answer == MUClient::kEnded) return;
  host_.RefreshClientList();
  SendNotice(FormatString2(kStrUserJoined, name, host, kMaxNotice));
}

// ---- Control ----

void MUServer::RequestControl(MUClient* requester) {
  std::shared_ptr<MUClient> client;
  if (requester) {
    // Only a client still listed may ask; the object stays alive while it is asked about.
    for (int i = 0; i < kSlots && !client; ++i) {
      auto c = SlotClient(i);
      if (c.get() == requester) client = c;
    }
    // Until accepted a joiner has no say, so its user cannot be asked about.
    if (!client || client->status() != MUClient::kAccepted) {
      RC_TRACE("MUServer: control request of a client not accepted ignored\n");
      return;
    }
    const std::string question = FormatString2(kStrControlRequested, client->UserName(),
                                               client->HostText(), kMaxRequestText);
    owner_.ReleaseAllKeys();
    if (host_.MessageBox(question, "Request", kMbYesNo | kMbIconWarning) != kIdYes) {
      client->SetControl(false);
      return;
    }
  }
  std::lock_guard control(controlMutex_);
  std::shared_ptr<MUClient> previous;
  {
    TimedLock lock(*listLock_, kWaitForever);
    // A client that went while its user was asked gets nothing.
    if (client && std::find(slots_.begin(), slots_.end(), client) == slots_.end()) return;
    previous = controller_;
    controller_ = client;
    controllerId_ = client.get();
  }
  if (previous && previous != client) previous->SetControl(false);
  if (client) {
    client->SetControl(true);
    owner_.SetInputEnabled(false);
  }
}

void MUServer::RelinquishControl(MUClient* client) {
  std::lock_guard control(controlMutex_);
  std::shared_ptr<MUClient> holder;
  {
    TimedLock lock(*listLock_, kWaitForever);
    if (controller_.get() != client) return;
    holder = controller_;
    controller_.reset();
    controllerId_ = nullptr;
  }
  if (!holder) return;
  holder->SetControl(false);
  owner_.SetStatusText2(FormatString2(kStrControlRelinquished, holder->UserName(),
                                      holder->HostText(), kMaxRequestText));
}

// ---- The Client List dialog ----

void MUServer::ShowClientList() {
  owner_.ReleaseAllKeys();
  if (!host_.ClientListOpen()) host_.OpenClientList(this);
}

ClientListRows MUServer::ClientRows() {
  ClientListRows rows;
  TimedLock lock(*listLock_, kWaitForever);
  for (int i = 0; i < kSlots; ++i) {
    if (const auto& client = slots_[i]) {
      char text[512];
      std::snprintf(text, sizeof text, "%s (%s)", client->UserName().c_str(),
                    client->HostText().c_str());
      rows[i].text = Cut(text, kMaxRowText);
      rows[i].canDisconnect = client->status() != MUClient::kEnded;
    }
  }
  return rows;
}

void MUServer::DisconnectRow(int row) {
  auto client = SlotClient(row);
  if (!client) return;
  const std::string text =
      FormatString2(kStrLeaderDisconnectedUser, client->UserName(), client->HostText(), kMaxNotice);
  client->SetStatus(MUClient::kEnded);
  SendNotice(text);
}

}  // namespace remcons
