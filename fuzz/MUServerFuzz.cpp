// Fuzz target: what a hostile joining console sends to the session leader. The input's first byte
// chooses whether this joiner first agrees keys with the leader as an honest one does (the rest is
// then sent enciphered, so commands, logins and input reach the leader as written) or sends the
// rest in plain (ADH infos of any shape). The leader answers every join request with Accept and
// every control request with Yes. It must close only that link, never touch memory it does not own,
// and go on serving.
//
// With libFuzzer, from the repository's top:
//   clang++ -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -Isrc fuzz/MUServerFuzz.cpp
//     src/multiuser/*.cpp src/net/*.cpp src/platform/*.cpp -lz -o mu_server_fuzz
// The tests run the same entry point over the seed corpus and mutations of it.
#include <sys/socket.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "multiuser/DHAgreement.h"
#include "multiuser/MUServer.h"
#include "video/OfflineVideo.h"

namespace {

using namespace remcons;

// The window: New User accepted, control granted.
class AnsweringHost : public OfflineHost {
 public:
  int MessageBox(const std::string&, const std::string&, uint32_t style) override {
    return (style & kMbButtonMask) == kMbAcceptDeny ? kIdAccept : kIdYes;
  }
};

// The leader's console: a join request is answered as the management processor would.
class AnsweringOwner : public MUOwner {
 public:
  int Write(const uint8_t* data, size_t size) override {
    if (size >= 3 && data[0] == 0xFF && data[1] == 0xCA && server) {
      server->OnJoinAnswer(std::string(1, static_cast<char>(data[2])) + "fuzz");
    }
    return static_cast<int>(size);
  }
  void ReleaseAllKeys() override {}
  void SetInputEnabled(bool) override {}
  void SetStatusText2(std::string_view) override {}
  MUServer* server = nullptr;
};

struct Leader {
  Leader() {
    const std::vector<uint8_t> seed(RandomPool::kSeedBytesNeeded, 7);
    pool.Update(seed.data(), seed.size());
    MUServerOptions options;
    options.bindAddress = "127.0.0.1";
    options.port = 0;
    options.sendTimeoutMs = 200;
    server = std::make_unique<MUServer>(owner, host, pool, options);
    owner.server = server.get();
    group.SetSize(512);
    group.MakeGroupAndKeys();
  }
  RandomPool pool;
  AnsweringHost host;
  AnsweringOwner owner;
  std::unique_ptr<MUServer> server;
  CDHAgreement group{pool};  // the honest joiner's group
};

// The honest joiner's key agreement on socket: its send stream, or null when the leader did not
// answer.
std::unique_ptr<RC4Stream> Agree(Leader& leader, TcpSocket& socket) {
  std::vector<uint8_t> adh = {0xFF, 0xC8, 64};
  adh.resize(195);
  leader.group.GetPrime(&adh[3]);
  leader.group.GetGenerator(&adh[67]);
  leader.group.GetPublicValue(&adh[131]);
  socket.SendAll(adh.data(), adh.size());
  uint8_t response[66];
  if (!socket.ReceiveAll(response, sizeof response)) return nullptr;
  uint8_t k[64] = {};
  leader.group.SetPeerValue(&response[2]);
  if (leader.group.ComputeAgreedKey() != 0) return nullptr;
  leader.group.GetAgreedKey(k);
  return std::make_unique<RC4Stream>(k + 16);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Leader leader;
  if (size == 0 || !leader.server->Listening()) return 0;
  std::unique_ptr<TcpSocket> socket = TcpSocket::Create();
  if (!socket || !socket->Connect("127.0.0.1", leader.server->port())) return 0;
  socket->SetReceiveTimeout(2000);
  std::vector<uint8_t> rest(data + 1, data + size);
  if (data[0] & 1) {
    std::unique_ptr<RC4Stream> send = Agree(leader, *socket);
    if (send) send->Apply(rest.data(), rest.size());
  }
  socket->SendAll(rest.data(), rest.size());
  ::shutdown(socket->Descriptor(), SHUT_WR);
  // Whatever the leader sends, until it closes the link (the end of the input ends it).
  uint8_t buffer[4096];
  while (socket->Receive(buffer, sizeof buffer) > 0) {
  }
  return 0;
}
