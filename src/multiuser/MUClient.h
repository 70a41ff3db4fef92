// MUClient: one joining console as the session leader sees it. Its receive thread takes a slot,
// runs the key agreement and the login, asks the leader's server for control when the joiner
// does, and passes the joiner's packets on to the management processor while it is accepted (its
// keyboard and mouse only while it holds control). A short lookup thread finds the peer's host
// name. Sends to the joiner come from several threads and are serialised here, each bounded by
// the socket's send time-out: a joiner that stops reading is dropped.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "multiuser/BitWriter.h"
#include "multiuser/JoinerStream.h"
#include "net/Net.h"
#include "platform/Socket.h"

namespace remcons {

class MUServer;

class MUClient : public std::enable_shared_from_this<MUClient>, private JoinerStream::Actions {
 public:
  enum Status : int { kPending = 0, kEnded = 1, kAccepted = 3 };
  static constexpr size_t kCipherBufferSize = 4096;
  static constexpr size_t kReadSize = 1024;

  // address: the peer's dotted IPv4 address.
  MUClient(std::unique_ptr<TcpSocket> socket, std::string address, MUServer& server);
  ~MUClient() override;
  MUClient(const MUClient&) = delete;
  MUClient& operator=(const MUClient&) = delete;

  // Starts the receive and lookup threads (the object is owned by a shared pointer).
  void Start();
  // Waits for both threads; the receive loop must have been ended (its socket closed).
  void Join();
  // True once the receive thread has done its last act.
  bool Finished() const { return finished_.load(); }

  // Sends bytes to the joiner, enciphered once the agreement is done. Unless forced, nothing goes
  // while the client is pending or ended. The count, or -1 after a failed send (the client is
  // then dropped: its socket is closed).
  int Send(const uint8_t* bytes, size_t length, bool forced);
  // A sync and a text message on a channel, in one forced send.
  void SendNotice(uint8_t channel, std::string_view text);

  // 3 accepted: "Accepted" on channel 5 and a refresh request; 1 ended: the termination text on
  // channel 6, and the link closes.
  void SetStatus(int status);
  // The session leader closes the session: status 1, channel 6 text, link closed.
  void CloseByLeader();
  // Control granted or withdrawn: "1" or "0" on channel 129, then a refresh request.
  void SetControl(bool granted);
  // Closes the link without a word (the receive loop then ends).
  void CloseSocket();

  int status() const { return status_.load(); }
  // The name the management processor gave, and the host name or else the address.
  std::string UserName() const;
  void SetUserName(std::string_view name);
  std::string HostText() const;
  // True once the host name lookup has ended (found or not).
  bool LookupDone() const { return lookupDone_.load(); }
  int slot() const { return slot_.load(); }

 private:
  void ReceiveLoop();
  void Lookup();
  // Under sendMutex_.
  int SendLocked(const uint8_t* bytes, size_t length);
  void NoticeLocked(uint8_t channel, std::string_view text);
  void FlushPassOn();

  // JoinerStream::Actions
  bool OnAdhInfo(uint32_t n, const uint8_t* values) override;
  bool OnLogin(std::string_view text) override;
  void OnRequestControl() override;
  void OnRelinquishControl() override;
  void PassOn(const uint8_t* bytes, size_t length, bool input) override;

  std::shared_ptr<TcpSocket> socket_;
  MUServer& server_;
  const std::string addressText_;
  std::thread receiveThread_;
  std::thread lookupThread_;
  std::atomic<bool> finished_{false};
  std::atomic<bool> lookupDone_{false};
  std::atomic<int> status_{kPending};
  std::atomic<int> slot_{-1};

  // The receive thread's own.
  JoinerStream stream_;
  std::unique_ptr<RC4Stream> receiveStream_;
  std::vector<uint8_t> passOn_;

  // Everything that goes to the joiner.
  std::mutex sendMutex_;
  std::unique_ptr<RC4Stream> sendStream_;
  bool sendEnciphered_ = false;
  uint8_t cipherBuffer_[kCipherBufferSize];
  BitWriter bits_;

  mutable std::mutex nameMutex_;
  std::string hostName_;
  std::string userName_;
};

}  // namespace remcons
