// MUServer: the session leader's server. It listens on the multi-user port (walking up to 20 ports
// further when it is taken), admits up to three joining consoles, asks the leader's user to accept
// each (New User), relays the console stream to the accepted ones, arbitrates who may type
// (Request), and tells the management processor about joins and departures. The Client List
// dialog shows the three slots and takes clients off.
//
// Threads: the accept thread; per client a receive thread and a lookup thread (MUClient); the
// leader's console thread (Relay, OnJoinAnswer, CloseSession); the window thread (the Client List
// dialog and the menu bar's requests). Slots and the controller are guarded by the process-wide
// "MutexClientList"; clients are shared, so a dialog that looked one up keeps it alive while it
// acts on it even if the client goes meanwhile.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "multiuser/MUClient.h"
#include "multiuser/MUOwner.h"
#include "multiuser/RandomPool.h"
#include "platform/Host.h"
#include "platform/NamedMutex.h"
#include "platform/Socket.h"
#include "platform/Strings.h"

namespace remcons {

struct MUServerOptions {
  std::string bindAddress = "0.0.0.0";
  uint16_t port = 9300;  // 0: any free port
  // The longest a send to one joiner may block: a joiner that stops reading is dropped after it,
  // so the console thread and the other joiners go on.
  uint32_t sendTimeoutMs = 2000;
  // CloseSession waits at most this long for the clients to go.
  uint32_t closeWaitMs = 5000;
};

class MUServer : public ClientListSource {
 public:
  static constexpr int kSlots = kClientListRows;
  static constexpr int kBindAttempts = 21;

  // Listens and starts the accept thread; without a listening socket (traced) no one can join
  // and the console works on. random must outlive the server.
  MUServer(MUOwner& owner, Host& host, RandomPool& random, MUServerOptions options);
  ~MUServer() override;
  MUServer(const MUServer&) = delete;
  MUServer& operator=(const MUServer&) = delete;

  // The port listened on, 0 when none.
  uint16_t port() const { return port_; }
  bool Listening() const { return port_ != 0; }
  // New connections are admitted (true at start); the lock button switches it.
  void SetAccepting(bool accepting) { accepting_ = accepting; }
  bool Accepting() const { return accepting_.load(); }

  // A block of the console stream, before it is decoded: to every accepted client.
  void Relay(const uint8_t* data, int length);
  // The management processor's answer to a join request (text channel 0x80): "d name[:...]".
  void OnJoinAnswer(std::string_view text);
  // Control arbitration; nullptr stands for the leader's user.
  void RequestControl(MUClient* client);
  void RelinquishControl(MUClient* client);
  // The modeless Client List dialog, if it is not open.
  void ShowClientList();
  // Ends every link (channel 6 text) and waits, bounded, until the list is empty.
  void CloseSession();
  // Stops listening, closes the dialog and every link, and joins every thread.
  void Stop();

  // --- The Client List dialog (window thread) ---
  ClientListRows ClientRows() override;
  void DisconnectRow(int row) override;

  // --- For the clients ---
  // The slot given, or -1 when all three are taken.
  int AddClient(const std::shared_ptr<MUClient>& client);
  // 0, or -1 when the client is not listed. Says so in the second status text and, unless the
  // leader ended it, to the management processor.
  int RemoveClient(MUClient* client);
  bool IsController(const MUClient* client) const { return controllerId_.load() == client; }
  // A session notice (FF CF text 00) to the management processor.
  void SendNotice(std::string_view text);
  MUOwner& owner() { return owner_; }
  RandomPool& random() { return random_; }

  // --- State, for tests ---
  std::shared_ptr<MUClient> SlotClient(int slot);
  // The client holding control, or null (the leader's user, or nobody).
  std::shared_ptr<MUClient> Controller();

 private:
  void AcceptLoop();
  // Joins the clients whose threads have ended (all of them with all, after closing them).
  void Reap(bool all);

  MUOwner& owner_;
  Host& host_;
  RandomPool& random_;
  const MUServerOptions options_;
  std::shared_ptr<NamedMutex> listLock_;
  std::unique_ptr<TcpSocket> listener_;
  uint16_t port_ = 0;
  std::atomic<bool> accepting_{true};
  std::thread acceptThread_;
  std::atomic<bool> stopped_{false};

  // Under listLock_.
  std::array<std::shared_ptr<MUClient>, kSlots> slots_;
  std::shared_ptr<MUClient> controller_;
  std::atomic<const MUClient*> controllerId_{nullptr};

  // Serialises the arbitration (outside its dialog).
  std::mutex controlMutex_;
  // Every client object until its threads are joined.
  std::mutex clientsMutex_;
  std::vector<std::shared_ptr<MUClient>> clients_;
};

// A text of the string table with two %s filled in, at most maxBytes bytes.
std::string FormatString2(StringId id, std::string_view first, std::string_view second,
                          size_t maxBytes);

}  // namespace remcons
