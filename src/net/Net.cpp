#include "net/Net.h"

#include <string.h>  // explicit_bzero

#include <algorithm>
#include <bit>
#include <cstring>

#include "platform/ByteOrder.h"
#include "platform/Secret.h"
#include "platform/Trace.h"

namespace remcons {

// ---------------------------------------------------------------------------------------------
// RC4

namespace {

// The shift that puts byte b of an 8-byte memory word in place within a uint64_t.
constexpr int ByteShift(int b) {
  return std::endian::native == std::endian::little ? 8 * b : 56 - 8 * b;
}

}  // namespace

Rc4::~Rc4() {
  explicit_bzero(s_, sizeof s_);
}

void Rc4::Clear() {
  std::memset(s_, 0, sizeof s_);
  i_ = j_ = 0;
}

void Rc4::SetKey(const uint8_t* key, size_t length) {
  length = std::min<size_t>(length, sizeof s_);
  if (length == 0) {
    Clear();
    return;
  }
  for (uint32_t n = 0; n < 256; ++n) s_[n] = static_cast<uint8_t>(n);
  uint32_t j = 0;
  size_t k = 0;
  for (uint32_t n = 0; n < 256; ++n) {
    const uint8_t t = s_[n];
    j = (j + t + key[k]) & 0xFF;
    s_[n] = s_[j];
    s_[j] = t;
    if (++k == length) k = 0;
  }
  i_ = j_ = 0;
}

uint8_t Rc4::NextByte() {
  i_ = (i_ + 1) & 0xFF;
  const uint8_t si = s_[i_];
  j_ = (j_ + si) & 0xFF;
  const uint8_t sj = s_[j_];
  s_[i_] = sj;
  s_[j_] = si;
  return s_[(si + sj) & 0xFF];
}

void Rc4::Apply(uint8_t* __restrict data, size_t n) {
  // The indexes live in registers and the permutation is reached through a restrict pointer.
  // Eight keystream bytes are gathered into one word and XORed with eight data bytes at once,
  // which saves a load and a store per byte.
  uint8_t* __restrict s = s_;
  uint32_t i = i_, j = j_;
  size_t k = 0;
  for (; k + 8 <= n; k += 8) {
    uint64_t word;
    std::memcpy(&word, data + k, 8);
#define RC4_ROUND(b)                                                    \
  {                                                                     \
    i = (i + 1) & 0xFF;                                                 \
    const uint32_t si = s[i];                                           \
    j = (j + si) & 0xFF;                                                \
    const uint32_t sj = s[j];                                           \
    s[i] = static_cast<uint8_t>(sj);                                    \
    s[j] = static_cast<uint8_t>(si);                                    \
    word ^= static_cast<uint64_t>(s[(si + sj) & 0xFF]) << ByteShift(b); \
  }
    RC4_ROUND(0)
    RC4_ROUND(1)
    RC4_ROUND(2)
    RC4_ROUND(3)
    RC4_ROUND(4)
    RC4_ROUND(5)
    RC4_ROUND(6)
    RC4_ROUND(7)
#undef RC4_ROUND
    std::memcpy(data + k, &word, 8);
  }
  for (; k < n; ++k) {
    i = (i + 1) & 0xFF;
    const uint32_t si = s[i];
    j = (j + si) & 0xFF;
    const uint32_t sj = s[j];
    s[i] = static_cast<uint8_t>(sj);
    s[j] = static_cast<uint8_t>(si);
    data[k] ^= s[(si + sj) & 0xFF];
  }
  i_ = i;
  j_ = j;
}

// ---------------------------------------------------------------------------------------------
// RC4Stream

RC4Stream::RC4Stream(const uint8_t* key) {
  std::memcpy(sessionKey_, key, kKeySize);
  Restart();
}

RC4Stream::~RC4Stream() {
  explicit_bzero(sessionKey_, sizeof sessionKey_);
  explicit_bzero(chainKey_, sizeof chainKey_);
}

void RC4Stream::Restart() {
  md5_.Reset();
  std::memset(chainKey_, 0, sizeof chainKey_);
  rc4_.Clear();
  Rekey();
}

void RC4Stream::Rekey() {
  md5_.Update(sessionKey_, kKeySize);
  md5_.Update(chainKey_, kKeySize);
  md5_.Final(chainKey_);
  rc4_.SetKey(chainKey_, kKeySize);
}

// ---------------------------------------------------------------------------------------------
// Login text

namespace {

// Base64 value of a character; characters outside the alphabet count as 0.
uint32_t Base64Value(char c) {
  if (c >= 'A' && c <= 'Z') return static_cast<uint32_t>(c - 'A');
  if (c >= 'a' && c <= 'z') return static_cast<uint32_t>(c - 'a' + 26);
  if (c >= '0' && c <= '9') return static_cast<uint32_t>(c - '0' + 52);
  if (c == '+') return 62;
  if (c == '/') return 63;
  return 0;
}

}  // namespace

std::string Base64Encode(std::string_view bytes) {
  static const char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  for (size_t at = 0; at < bytes.size(); at += 3) {
    const size_t n = std::min<size_t>(3, bytes.size() - at);
    uint32_t v = 0;
    for (size_t k = 0; k < 3; ++k) {
      v = (v << 8) | (k < n ? static_cast<uint8_t>(bytes[at + k]) : 0u);
    }
    for (size_t k = 0; k < 4; ++k) {
      out += k <= n ? kAlphabet[(v >> (18 - 6 * k)) & 63] : '=';
    }
  }
  return out;
}

std::string TransformLogin(std::string_view login) {
  std::string out;
  // Room for it all at once: a buffer outgrown would be freed with part of the password in it.
  out.reserve(login.size() / 4 * 3 + 1);
  for (size_t at = 0; login.size() - at >= 4; at += 4) {
    const char* g = login.data() + at;
    // A group cannot begin with padding: nothing more decodes.
    if (g[0] == '=' || g[1] == '=') break;
    const uint32_t v0 = Base64Value(g[0]), v1 = Base64Value(g[1]), v2 = Base64Value(g[2]),
                   v3 = Base64Value(g[3]);
    out += static_cast<char>((v0 << 2) | (v1 >> 4));
    if (g[2] == '=') break;
    out += static_cast<char>(((v1 & 15) << 4) | (v2 >> 2));
    if (g[3] == '=') break;
    out += static_cast<char>(((v2 & 3) << 6) | v3);
  }
  std::replace(out.begin(), out.end(), ':', '\r');
  if (!out.empty()) out += '\r';
  return out;
}

// ---------------------------------------------------------------------------------------------
// Start reply

StartReplyParser::Result StartReplyParser::Feed(uint8_t byte) {
  switch (state_) {
    case 0:
      if (byte == 0x1B) {
        RC_TRACE("[ESCAPE] ");
        state_ = 1;
      }
      return kNone;
    case 1:
      if (byte == 0x5B) {
        RC_TRACE("[0x5b] ");
        state_ = 2;
      } else if (byte == 0x1B) {
        RC_TRACE("[ESCAPE] ");
      } else {
        state_ = 0;
      }
      return kNone;
    default:
      state_ = 0;
      if (byte == 'R') {
        RC_TRACE("\n[START QEL w/ Encryption]\n");
        return kEnciphered;
      }
      if (byte == 'r') {
        RC_TRACE("\n[START QEL w/o Encryption]\n");
        return kClear;
      }
      if (byte == 0x1B) RC_TRACE("[ESCAPE] ");
      return kNone;
  }
}

// ---------------------------------------------------------------------------------------------
// CNet

CNet::CNet(const uint8_t* decryptKey, const uint8_t* encryptKey, uint32_t keyIndex,
           uint8_t encryption)
    : keyIndex_(keyIndex),
      receiveStream_(std::make_unique<RC4Stream>(encryptKey)),
      sendStream_(std::make_unique<RC4Stream>(decryptKey)),
      encryptionEnabled_(encryption ? 1 : 0),
      lock_(OpenNamedMutex("MutexNetwork")) {
  RC_TRACE("The key index is 0x%08lx\n", static_cast<unsigned long>(keyIndex));
}

CNet::CNet() : lock_(OpenNamedMutex("MutexNetwork")) {}

CNet::~CNet() {
  WipeString(loginText_);
}

std::shared_ptr<TcpSocket> CNet::CurrentSocket() {
  std::lock_guard guard(socketMutex_);
  return socket_;
}

void CNet::DropSocket(const std::shared_ptr<TcpSocket>& socket) {
  {
    std::lock_guard guard(socketMutex_);
    if (socket_ == socket) socket_.reset();
  }
  socket->Close();
}

int32_t CNet::Connect(const std::string& host, const std::string& login, uint16_t port) {
  if (CurrentSocket()) return 0;  // one connection per object
  loginText_.assign(login);
  // Whatever happens below, the login is of no more use once this returns.
  struct Wipe {
    std::string& text;
    ~Wipe() { WipeString(text); }
  } wipe{loginText_};
  // Linux needs no socket library start-up; the line stays for the trace's sake.
  RC_TRACE("Started up %s\n", "Linux sockets");

  std::shared_ptr<TcpSocket> socket = TcpSocket::Create();
  if (!socket) {
    connectError_ = LastSocketError();
    RC_TRACE("Socket creation error #%i.\n", connectError_.load());
    return 0;
  }
  {
    std::lock_guard guard(socketMutex_);
    // A Close that came before the socket existed still ends the connection attempt.
    if (closeRequested_) {
      connectError_ = kWsaEintr;
      RC_TRACE("Connect error #%i.\n", static_cast<int>(kWsaEintr));
      return 0;
    }
    socket_ = socket;
  }
  RC_TRACE("Socket %i created. Connecting to %s:%d\n", socket->Descriptor(), host.c_str(),
           static_cast<int>(port));
  if (!socket->Connect(host, port)) {
    connectError_ = LastSocketError();
    RC_TRACE("Connect error #%i.\n", connectError_.load());
    DropSocket(socket);
    return 0;
  }
  RC_TRACE("Setting TCP_NODELAY on socket %d\n", socket->Descriptor());
  if (!socket->SetNoDelay(true)) {
    RC_TRACE("Error %d setting TCP_NODELAY on socket %d\n", LastSocketError(),
             socket->Descriptor());
  }
  return Handshake();
}

std::vector<uint8_t> CNet::BuildStartSequence() {
  std::string login = TransformLogin(loginText_);
  uint8_t header[6] = {0xFF, 0xC0};
  StoreBe32(header + 2, keyIndex_);
  static const uint8_t kEscapes[9] = {0x1B, 0x5B, 0x37, 0x1B, 0x5B, 0x39, 0x1B, 0x5B, 0x34};
  // One buffer of the final size: no copy of the login is left in a buffer outgrown.
  const size_t clear = encryptionEnabled_ ? sizeof header : 0;
  std::vector<uint8_t> sequence(clear + sizeof kEscapes + login.size());
  std::memcpy(sequence.data(), header, clear);
  std::memcpy(sequence.data() + clear, kEscapes, sizeof kEscapes);
  std::memcpy(sequence.data() + clear + sizeof kEscapes, login.data(), login.size());
  // The FF C0 header always goes in clear; the escapes and the login are enciphered.
  if (encryptionEnabled_ && sendStream_ && CurrentSocket()) {
    sendStream_->Apply(sequence.data() + clear, sequence.size() - clear);
    sendEnciphering_ = 1;
  }
  WipeString(login);
  return sequence;
}

bool CNet::FeedStartReply(uint8_t byte) {
  switch (parser_.Feed(byte)) {
    case StartReplyParser::kEnciphered: {
      TimedLock lock(NetworkLock(), kWaitForever);
      sendEnciphering_ = 1;
      receiveDeciphering_ = 1;
      if (receiveStream_) receiveStream_->Restart();
      return true;
    }
    case StartReplyParser::kClear: {
      TimedLock lock(NetworkLock(), kWaitForever);
      sendEnciphering_ = 0;
      receiveDeciphering_ = 0;
      return true;
    }
    default:
      return false;
  }
}

int32_t CNet::SendRaw(const uint8_t* bytes, size_t length) {
  std::shared_ptr<TcpSocket> socket = CurrentSocket();
  if (!socket) return 0;
  const int sent = socket->SendAll(bytes, length);
  if (sent < 0) {
    RC_TRACE("Socket error during write: %s\n", SocketErrorText(LastSocketError()));
    return -1;
  }
  return sent;
}

int32_t CNet::Handshake() {
  state_ = kHandshaking;
  {
    // Under the lock so that no other write can come between the start sequence's keystream
    // and its bytes on the wire.
    TimedLock lock(NetworkLock(), kWaitForever);
    std::vector<uint8_t> sequence = BuildStartSequence();
    SendRaw(sequence.data(), sequence.size());
    // The login has gone: no copy of it stays behind.
    explicit_bzero(sequence.data(), sequence.size());
    WipeString(loginText_);
  }
  while (state_ == kHandshaking) {
    uint8_t byte = 0;
    if (Read(&byte, 1) == 0) {
      state_ = kClosedInHandshake;
      break;
    }
    if (FeedStartReply(byte)) state_ = kConnected;
  }
  return state_ == kConnected ? 1 : 0;
}

int32_t CNet::Read(void* buffer, int32_t length, int flags) {
  std::shared_ptr<TcpSocket> socket = CurrentSocket();
  if (!socket) {
    RC_TRACE("Socket closed\n");
    return 0;
  }
  // A zero-length receive would look like the peer closing.
  if (!buffer || length <= 0) return 0;
  const int received = socket->Receive(buffer, static_cast<size_t>(length), flags);
  if (received < 0) {
    RC_TRACE("Socket error during read: %s\n", SocketErrorText(LastSocketError()));
    return 0;
  }
  if (received == 0) {
    RC_TRACE("Socket closed\n");
    DropSocket(socket);
    return 0;
  }
  if (receiveDeciphering_ && encryptionEnabled_ && receiveStream_) {
    receiveStream_->Apply(static_cast<uint8_t*>(buffer), static_cast<size_t>(received));
  }
  return received;
}

int32_t CNet::Write(const void* bytes, int32_t length) {
  if (length <= 0 || !bytes) return 0;
  TimedLock lock(NetworkLock(), kWaitForever);
  return WriteLocked(bytes, length);
}

int32_t CNet::WriteInput(const void* bytes, int32_t length) {
  if (!inputEnabled_) return 0;
  return Write(bytes, length);
}

int32_t CNet::WriteLocked(const void* bytes, int32_t length) {
  if (!CurrentSocket()) return 0;
  // Encipher a copy: the caller's bytes stay as they are.
  uint8_t local[256];
  std::unique_ptr<uint8_t[]> heap;
  uint8_t* copy = local;
  if (static_cast<size_t>(length) > sizeof local) {
    heap = std::make_unique<uint8_t[]>(static_cast<size_t>(length));
    copy = heap.get();
  }
  std::memcpy(copy, bytes, static_cast<size_t>(length));
  if (sendEnciphering_ && encryptionEnabled_ && sendStream_) {
    sendStream_->Apply(copy, static_cast<size_t>(length));
  }
  const int32_t sent = SendRaw(copy, static_cast<size_t>(length));
  // Typed keys and logins in a clear session: no copy stays behind.
  explicit_bzero(copy, static_cast<size_t>(length));
  return sent;
}

void CNet::Close() {
  RC_TRACE("Closing socket.\n");
  std::shared_ptr<TcpSocket> socket;
  {
    std::lock_guard guard(socketMutex_);
    closeRequested_ = true;
    socket = std::move(socket_);
  }
  if (socket) socket->Close();
}

int32_t CNet::BytesAvailable() {
  std::shared_ptr<TcpSocket> socket = CurrentSocket();
  if (!socket) return -1;
  return socket->BytesAvailable();
}

void CNet::ChangeKeys() {
  {
    TimedLock lock(NetworkLock(), kWaitForever);
    if (sendStream_) sendStream_->Rekey();
  }
  if (receiveStream_) receiveStream_->Rekey();
}

}  // namespace remcons
