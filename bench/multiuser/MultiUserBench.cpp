// The multi-user link's costs. LinkSetup: a joiner's 512-bit group, both key pairs and both agreed
// secrets, beside OpenSSL's generation of one 512-bit prime (BN_generate_prime_ex) in the same run;
// every pass seeds the pool afresh, so each searches from another start. Relay: the session
// leader's console thread as it runs a session: it receives an enciphered console stream on a
// loopback socket in reads of up to 4096 bytes, deciphers, relays each read to 0 or 3 accepted
// joiners and decodes it; cpu_ms_per_MB is that thread's processor time (user and system) per MB
// of stream. The management processor's side and the joiners, which drain their links, run on
// threads of their own and are not counted.
#include <benchmark/benchmark.h>
#include <openssl/bn.h>
#include <sys/socket.h>
#include <time.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include "multiuser/DHAgreement.h"
#include "multiuser/MUServer.h"
#include "sim/ScreenContent.h"
#include "sim/StreamEncoder.h"
#include "video/OfflineVideo.h"
#include "video/VideoDecoder.h"

namespace remcons {
namespace {

double ThreadSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

void Seed(RandomPool& pool, uint64_t seed) {
  std::vector<uint8_t> bytes(RandomPool::kSeedBytesNeeded, 0);
  std::memcpy(bytes.data(), &seed, sizeof seed);
  pool.Update(bytes.data(), bytes.size());
}

void BM_LinkSetup_Ours(benchmark::State& state) {
  uint64_t seed = 1;
  for (auto _ : state) {
    RandomPool pool;
    Seed(pool, seed++);
    CDHAgreement joiner(pool), leader(pool);
    joiner.SetSize(512);
    if (joiner.MakeGroupAndKeys() != 0) state.SkipWithError("no group");
    uint8_t p[64], g[64], y[64], k[64];
    joiner.GetPrime(p);
    joiner.GetGenerator(g);
    joiner.GetPublicValue(y);
    leader.SetSize(512);
    if (leader.TakeGroupAndPeerValue(p, g, y) != 0) state.SkipWithError("refused");
    leader.GetPublicValue(y);
    joiner.SetPeerValue(y);
    if (joiner.ComputeAgreedKey() != 0 || leader.ComputeAgreedKey() != 0)
      state.SkipWithError("no secret");
    joiner.GetAgreedKey(k);
    benchmark::DoNotOptimize(k);
  }
}
BENCHMARK(BM_LinkSetup_Ours)->Unit(benchmark::kMillisecond)->MinTime(3.0);

void BM_Prime512_OpenSSL(benchmark::State& state) {
  BIGNUM* p = BN_new();
  for (auto _ : state) {
    if (BN_generate_prime_ex(p, 512, 0, nullptr, nullptr, nullptr) != 1)
      state.SkipWithError("no prime");
    benchmark::DoNotOptimize(p);
  }
  BN_free(p);
}
BENCHMARK(BM_Prime512_OpenSSL)->Unit(benchmark::kMillisecond)->MinTime(3.0);

// --- Relay ---

class AcceptingHost : public OfflineHost {
 public:
  int MessageBox(const std::string&, const std::string&, uint32_t) override { return kIdAccept; }
};

class NoOwner : public MUOwner {
 public:
  int Write(const uint8_t*, size_t size) override { return static_cast<int>(size); }
  void ReleaseAllKeys() override {}
  void SetInputEnabled(bool) override {}
  void SetStatusText2(std::string_view) override {}
};

// The leader's console connection: reads of up to 4096 bytes, deciphered, each relayed.
class RelayingSource : public ByteSource {
 public:
  RelayingSource(TcpSocket& socket, const uint8_t* key, MUServer& server)
      : socket_(socket), stream_(key), server_(server) {}
  int Read(uint8_t* buffer, int size) override {
    const int n = socket_.Receive(buffer, static_cast<size_t>(size));
    if (n <= 0) return 0;
    stream_.Apply(buffer, static_cast<size_t>(n));
    server_.Relay(buffer, n);
    return n;
  }

 private:
  TcpSocket& socket_;
  RC4Stream stream_;
  MUServer& server_;
};

// A console stream: a text console and a desktop, each a whole screen and then typical updates.
std::vector<uint8_t> ConsoleStream() {
  constexpr int kWidth = 1280, kHeight = 1024;
  sim::StreamEncoder encoder;
  for (int round = 0; round < 4; ++round) {
    sim::TextConsole console(kWidth / 8, kHeight / 16);
    sim::ColorFrame last = console.Render();
    encoder.EncodeFullFrame(last);
    for (int i = 0; i < 60; ++i) {
      console.Write("root@server:~# dmesg | tail -n 1   # line " + std::to_string(i) + "\n");
      sim::ColorFrame next = console.Render();
      encoder.EncodeFrame(next, last);
      last = std::move(next);
    }
    const sim::ColorFrame desktop = sim::DesktopScreen(kWidth, kHeight, 2);
    encoder.EncodeFullFrame(desktop);
    last = desktop;
    for (int i = 0; i < 30; ++i) {
      sim::ColorFrame f = desktop;
      const int x = 100 + i * 23, y = 120 + i * 9;
      f.Fill(x, y, x + 320, y + 220, 0xEEE);
      sim::DrawSmoothText(f, x + 12, y + 40, "Name: server-01", 0x111, 0xEEE);
      encoder.EncodeFrame(f, last);
      last = std::move(f);
    }
  }
  encoder.Exit();
  encoder.Flush();
  return encoder.TakeBytes();
}

// An accepted joiner that reads and drops everything on a thread of its own.
class Drain {
 public:
  Drain(MUServer& server, RandomPool& pool, int slot) : socket_(TcpSocket::Create()) {
    socket_->Connect("127.0.0.1", server.port());
    CDHAgreement dh(pool);
    dh.SetSize(512);
    dh.MakeGroupAndKeys();
    std::vector<uint8_t> adh = {0xFF, 0xC8, 64};
    adh.resize(195);
    dh.GetPrime(&adh[3]);
    dh.GetGenerator(&adh[67]);
    dh.GetPublicValue(&adh[131]);
    socket_->SendAll(adh.data(), adh.size());
    uint8_t response[66];
    socket_->ReceiveAll(response, sizeof response);
    dh.SetPeerValue(response + 2);
    dh.ComputeAgreedKey();
    uint8_t k[64];
    dh.GetAgreedKey(k);
    RC4Stream send(k + 16);
    uint8_t login[] = {0xFF, 0xCA, 'b', 0};
    send.Apply(login, sizeof login);
    socket_->SendAll(login, sizeof login);
    // Accepted once the login has reached the leader.
    for (int i = 0; i < 200 && !server.SlotClient(slot); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    server.OnJoinAnswer(std::to_string(slot) + "bench");
    thread_ = std::thread([this] {
      std::vector<uint8_t> buffer(1 << 16);
      while (socket_->Receive(buffer.data(), buffer.size()) > 0) {
      }
    });
  }
  ~Drain() {
    socket_->Close();
    thread_.join();
  }

 private:
  std::unique_ptr<TcpSocket> socket_;
  std::thread thread_;
};

void BM_Relay(benchmark::State& state) {
  static const std::vector<uint8_t> stream = ConsoleStream();
  RandomPool pool;
  Seed(pool, 99);
  NoOwner owner;
  AcceptingHost host;
  MUServerOptions options;
  options.bindAddress = "127.0.0.1";
  options.port = 0;
  MUServer server(owner, host, pool, options);
  std::vector<std::unique_ptr<Drain>> joiners;
  for (int i = 0; i < state.range(0); ++i) {
    joiners.push_back(std::make_unique<Drain>(server, pool, i));
    if (!server.SlotClient(i) || server.SlotClient(i)->status() != MUClient::kAccepted)
      state.SkipWithError("joiner not accepted");
  }

  OfflinePainter painter;
  OfflineEvents events;
  FrameBuffer frameBuffer(host, painter);
  uint32_t w = 1280, h = 1024;
  frameBuffer.CreateSurfaces(&w, &h);
  VideoModes modes(host, events);
  const uint8_t key[16] = {7, 1, 7, 2, 7, 3};
  double seconds = 0, best = 1e9;
  for (auto _ : state) {
    // The management processor: the stream enciphered, on a connection of its own.
    state.PauseTiming();
    std::unique_ptr<TcpSocket> listener = TcpSocket::Listen("127.0.0.1", 0);
    std::thread mp([&] {
      std::unique_ptr<TcpSocket> out = TcpSocket::Create();
      out->Connect("127.0.0.1", listener->LocalPort());
      RC4Stream cipher(key);
      std::vector<uint8_t> bytes = stream;
      cipher.Apply(bytes.data(), bytes.size());
      out->SendAll(bytes.data(), bytes.size());
      out->Close();
    });
    std::unique_ptr<TcpSocket> in = listener->Accept();
    RelayingSource source(*in, key, server);
    VideoDecoder decoder(frameBuffer, modes, events);
    decoder.reader().SetSource(&source);
    decoder.Start({});
    state.ResumeTiming();
    const double t0 = ThreadSeconds();
    if (decoder.Decode() != DecodeEnd::kExit) state.SkipWithError("stream did not end at EXIT");
    const double t = ThreadSeconds() - t0;
    seconds += t;
    best = std::min(best, t);
    state.PauseTiming();
    mp.join();
    state.ResumeTiming();
  }
  const double mb = double(stream.size()) / 1e6;
  state.counters["stream_MB"] = mb;
  state.counters["cpu_ms_per_MB"] = seconds / double(state.iterations()) / mb * 1e3;
  state.counters["best_cpu_ms_per_MB"] = best / mb * 1e3;
  joiners.clear();
  server.Stop();
}
BENCHMARK(BM_Relay)->Arg(0)->Arg(3)->Unit(benchmark::kMillisecond)->MinTime(3.0);

}  // namespace
}  // namespace remcons

BENCHMARK_MAIN();
