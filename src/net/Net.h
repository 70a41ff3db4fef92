// The console's TCP connection to the management processor and its RC4 stream cipher.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "net/Md5.h"
#include "platform/NamedMutex.h"
#include "platform/Socket.h"

namespace remcons {

// Plain RC4: the key schedule for a key of 1 to 256 bytes and the keystream.
class Rc4 {
 public:
  Rc4() { Clear(); }
  ~Rc4();
  Rc4(const Rc4&) = delete;
  Rc4& operator=(const Rc4&) = delete;

  void SetKey(const uint8_t* key, size_t length);
  uint8_t NextByte();
  // XORs n bytes in place with the next n keystream bytes.
  void Apply(uint8_t* data, size_t n);
  // Zeroes the permutation and the indexes.
  void Clear();

 private:
  uint8_t s_[256];
  uint32_t i_ = 0, j_ = 0;
};

// One direction's keystream: RC4 keyed with a chain of MD5 digests of a 16-byte session key.
// Generation 0 is keyed with MD5(sessionKey | 16 zero bytes), generation n + 1 with
// MD5(sessionKey | key of generation n).
class RC4Stream {
 public:
  static constexpr size_t kKeySize = 16;

  // key: 16 bytes.
  explicit RC4Stream(const uint8_t* key);
  ~RC4Stream();
  RC4Stream(const RC4Stream&) = delete;
  RC4Stream& operator=(const RC4Stream&) = delete;

  // Back to the first keystream byte of generation 0, exactly as after construction.
  void Restart();
  // One step along the key chain; the new key's keystream starts at its first byte.
  void Rekey();
  uint8_t NextByte() { return rc4_.NextByte(); }
  // Enciphers or deciphers n bytes in place.
  void Apply(uint8_t* data, size_t n) { rc4_.Apply(data, n); }

 private:
  Md5 md5_;
  uint8_t sessionKey_[kKeySize];
  uint8_t chainKey_[kKeySize];
  Rc4 rc4_;
};

// Base64 (RFC 4648, with padding): the form of the `login` property, whose text is the user's name
// and password joined by ':'.
std::string Base64Encode(std::string_view bytes);

// The login text the management processor expects: the Base64 `login` decoded, every ':' turned
// into a carriage return and one carriage return appended (nothing at all when nothing decodes).
std::string TransformLogin(std::string_view login);

// Recognises the management processor's start reply, ESC [ R (enciphered) or ESC [ r (clear),
// one byte at a time, skipping any text before it.
class StartReplyParser {
 public:
  enum Result { kNone, kEnciphered, kClear };
  Result Feed(uint8_t byte);
  int State() const { return state_; }

 private:
  int state_ = 0;  // 0 text, 1 after ESC, 2 after ESC [
};

// The console connection. Writes from any thread are serialised by the process-wide
// "MutexNetwork" lock, which also orders the use of the send keystream; Read belongs to the one
// reader thread; Close may come from any thread and wakes a blocked Read.
class CNet {
 public:
  enum State : int32_t { kIdle = 0, kHandshaking = 1, kConnected = 2, kClosedInHandshake = 3 };

  // The console's connection: the send stream is keyed with decryptKey, the receive stream with
  // encryptKey (16 bytes each).
  CNet(const uint8_t* decryptKey, const uint8_t* encryptKey, uint32_t keyIndex, uint8_t encryption);
  // Without keys: both streams absent; a subclass sets them and encryptionEnabled.
  CNet();
  virtual ~CNet();
  CNet(const CNet&) = delete;
  CNet& operator=(const CNet&) = delete;

  // Connects to a dotted IPv4 host (no name lookup) and runs Handshake. Returns Handshake's
  // result, or 0 when the socket could not be made or connected. Used once per object.
  int32_t Connect(const std::string& host, const std::string& login, uint16_t port);
  // Sends the start sequence and waits for the start reply: 1 when it arrived, else 0.
  virtual int32_t Handshake();

  // One receive of at most length bytes, deciphered: the count, or 0 when the connection is
  // closed or failed.
  int32_t Read(void* buffer, int32_t length, int flags = 0);
  // Sends the bytes (enciphered in an enciphered session): the count sent, -1 on a socket error,
  // 0 without a socket. The caller's bytes are left unchanged.
  int32_t Write(const void* bytes, int32_t length);
  // The same for keyboard and mouse input: sends nothing and returns 0 while input is disabled.
  int32_t WriteInput(const void* bytes, int32_t length);
  // Closes the socket; any thread, any time.
  void Close();
  // Received bytes waiting in the socket, or -1.
  int32_t BytesAvailable();
  int32_t GetState() const { return state_.load(); }
  // Why the socket could not be made or connected (a Winsock code); 0 while none failed.
  int ConnectError() const { return connectError_.load(); }
  // Steps both streams to the next key generation: the send stream, then the receive stream.
  void ChangeKeys();

  void SetInputEnabled(bool enabled) { inputEnabled_ = enabled ? 1 : 0; }
  bool InputEnabled() const { return inputEnabled_.load() != 0; }
  bool EncryptionEnabled() const { return encryptionEnabled_ != 0; }
  uint32_t KeyIndex() const { return keyIndex_; }

 protected:
  // The start sequence as it goes on the wire (enciphered where it must be); sets
  // sendEnciphering when it enciphers. Call under the network lock.
  std::vector<uint8_t> BuildStartSequence();
  // Gives one received byte to the start reply parser and acts on a reply; true on a reply.
  bool FeedStartReply(uint8_t byte);
  // The current socket, kept alive for the caller's use even if Close runs meanwhile.
  std::shared_ptr<TcpSocket> CurrentSocket();
  // Sends bytes as they are, outside Write (handshakes); the count, or -1 / 0 as Write.
  int32_t SendRaw(const uint8_t* bytes, size_t length);
  NamedMutex& NetworkLock() { return *lock_; }

  uint32_t keyIndex_ = 0;
  std::string loginText_;
  std::unique_ptr<RC4Stream> receiveStream_;
  std::unique_ptr<RC4Stream> sendStream_;
  std::atomic<int32_t> state_{kIdle};
  uint8_t encryptionEnabled_ = 0;
  std::atomic<uint8_t> sendEnciphering_{0};
  std::atomic<uint8_t> receiveDeciphering_{0};
  std::atomic<uint8_t> inputEnabled_{1};
  StartReplyParser parser_;

 private:
  int32_t WriteLocked(const void* bytes, int32_t length);
  // Forgets the socket if it is still the given one (the peer closed it).
  void DropSocket(const std::shared_ptr<TcpSocket>& socket);

  std::shared_ptr<NamedMutex> lock_;
  std::atomic<int> connectError_{0};
  std::mutex socketMutex_;  // guards socket_ and closeRequested_ only, never held across I/O
  std::shared_ptr<TcpSocket> socket_;
  bool closeRequested_ = false;
};

}  // namespace remcons
