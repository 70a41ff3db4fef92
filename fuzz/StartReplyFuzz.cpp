// Fuzz target: the console connection's handshake against a hostile management processor. Byte 0:
// bit 0 the console's encryption, bit 1 the login taken from the input; then, with bit 1, a
// length byte and that many bytes of the login property; the rest is what the peer sends before it
// closes. The handshake must end, succeed exactly when a start reply came, and have sent the start
// sequence whole, enciphered where it must be, its login decoding back to the property's bytes.
//
// libFuzzer build: the fuzz preset (scripts/fuzz.sh). The tests replay the seed corpus.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "LoopbackConsole.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace remcons;
  static const std::unique_ptr<TcpSocket> listener = TcpSocket::Listen("127.0.0.1", 0, 64);
  if (size < 2 || !listener) return 0;
  const bool enciphered = data[0] & 1;
  size_t at = 1;
  std::string login = "dXNlcjpwYXNz";
  if (data[0] & 2) {
    const size_t n = std::min<size_t>(data[1], size - 2);
    login.assign(reinterpret_cast<const char*>(data + 2), n);
    if (data[0] & 4) login = Base64Encode(login);
    at = 2 + n;
  }
  static constexpr uint8_t kKey[16] = {7};
  LoopbackConsole net(kKey, kKey, 0x0A0B0C0D, enciphered ? 1 : 0);
  net.login = login;
  const int32_t result = net.Start(*listener, {data + at, data + size}, true);
  // Done means the reply came; else the peer's close ended the wait.
  if (result != (net.GetState() == CNet::kConnected ? 1 : 0)) __builtin_trap();
  if (result == 0 && net.GetState() != CNet::kClosedInHandshake) __builtin_trap();

  // The start sequence: in an enciphered session FF C0 and the key index in clear, the rest
  // enciphered with the send stream's first bytes.
  std::vector<uint8_t> sent = net.Sent();
  const std::string text = TransformLogin(login);
  std::vector<uint8_t> expected = {0x1B, '[', '7', 0x1B, '[', '9', 0x1B, '[', '4'};
  expected.insert(expected.end(), text.begin(), text.end());
  if (enciphered) {
    const uint8_t head[6] = {0xFF, 0xC0, 0x0A, 0x0B, 0x0C, 0x0D};
    if (sent.size() < 6 || !std::equal(head, head + 6, sent.begin())) __builtin_trap();
    sent.erase(sent.begin(), sent.begin() + 6);
    RC4Stream(kKey).Apply(sent.data(), sent.size());
  }
  if (sent != expected) __builtin_trap();
  // A login made from bytes reaches the processor as those bytes, ':' as CR, one CR after.
  if ((data[0] & 6) == 6) {
    std::string bytes(reinterpret_cast<const char*>(data + 2), at - 2);
    for (char& c : bytes) c = c == ':' ? '\r' : c;
    if (!bytes.empty()) bytes += '\r';
    if (text != bytes) __builtin_trap();
  }
  net.Close();
  return 0;
}
