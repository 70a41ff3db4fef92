// Fuzz target: a hostile management processor's video stream through a real console connection
// on loopback, into the decoder and the frame surfaces (up to 1280 x 1024). Byte 0: bit 0 an
// enciphered session, bit 1 a joining console (the stream is hunted for, not started at RESET),
// bit 2 a session leader, bit 3 full screen, and as a whole the pattern that cuts the rest into
// network reads. The rest is the stream in clear; the peer enciphers it and follows the console's
// key changes as the management processor does. Nothing may be written outside the frame or the
// block, and the session must end when the bytes do.
//
// libFuzzer build: the fuzz preset (scripts/fuzz.sh). The tests replay the seed corpus.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "LoopbackConsole.h"
#include "Pieces.h"
#include "video/OfflineVideo.h"
#include "video/VideoDecoder.h"

namespace {

using namespace remcons;

constexpr uint8_t kDecryptKey[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
constexpr uint8_t kEncryptKey[16] = {16, 15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1};

// Built once: the frame surfaces are the costly part, and every input starts a new session on them.
struct Fixture {
  Fixture() : frameBuffer(host, painter) {
    for (int i = 0; i < 4; ++i)
      host.displayModes.push_back({640 + 160 * i, 480 + 120 * i, 32, 60, 0});
    host.displayModes.push_back({1280, 1024, 32, 60, 0});
    uint32_t width = 1280, height = 1024;
    frameBuffer.CreateSurfaces(&width, &height);
    listener = TcpSocket::Listen("127.0.0.1", 0, 64);
  }
  OfflineHost host;
  OfflinePainter painter{true};
  FrameBuffer frameBuffer;
  std::unique_ptr<TcpSocket> listener;
};

// The session's side of the decoder: refresh requests go out on the connection, key changes step
// both ends' streams.
class Session : public OfflineEvents {
 public:
  Session(LoopbackConsole& net, RC4Stream* peerStream) : net_(net), peerStream_(peerStream) {}
  bool Replaying() override { return false; }
  int Write(const uint8_t* data, int length) override {
    wrote = true;
    return net_.Write(data, length);
  }
  void ChangeKeys() override {
    net_.ChangeKeys();
    if (peerStream_) peerStream_->Rekey();
  }

 private:
  LoopbackConsole& net_;
  RC4Stream* peerStream_;

 public:
  bool wrote = false;  // since the peer last read
};

// Each read first lets the peer send its next piece, enciphered with the peer's current key.
class PeerSource : public ByteSource {
 public:
  PeerSource(LoopbackConsole& net, Session& session, RC4Stream* peerStream, Pieces pieces)
      : net_(net), session_(session), peerStream_(peerStream), pieces_(pieces) {}
  int Read(uint8_t* buffer, int size) override {
    if (session_.wrote) net_.Sent();  // refresh requests: the console must never block on them
    session_.wrote = false;
    const size_t n = pieces_.Next(piece_, std::min<size_t>(sizeof piece_, size_t(size)));
    if (n == 0) {
      net_.peer()->Close();
    } else {
      if (peerStream_) peerStream_->Apply(piece_, n);
      net_.peer()->SendAll(piece_, n);
    }
    return net_.Read(buffer, size);
  }

 private:
  LoopbackConsole& net_;
  Session& session_;
  RC4Stream* peerStream_;
  Pieces pieces_;
  uint8_t piece_[4096];
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Fixture fixture;
  if (size == 0 || !fixture.listener) return 0;
  const uint8_t options = data[0];
  const bool enciphered = options & 1;
  LoopbackConsole net(kDecryptKey, kEncryptKey, 0x01020304, enciphered ? 1 : 0);
  const std::vector<uint8_t> reply = {0x1B, '[', uint8_t(enciphered ? 'R' : 'r')};
  if (net.Start(*fixture.listener, reply, false) != 1 || !net.peer()) __builtin_trap();
  std::unique_ptr<RC4Stream> peerStream;
  if (enciphered) peerStream = std::make_unique<RC4Stream>(kEncryptKey);

  Session session(net, peerStream.get());
  VideoModes modes(fixture.host, session);
  modes.SetFullScreen(options & 8);
  VideoDecoder decoder(fixture.frameBuffer, modes, session);
  PeerSource source(net, session, peerStream.get(), Pieces(data + 1, size - 1, options));
  decoder.reader().SetSource(&source);
  DecoderRole role;
  role.multiUserClient = options & 2;
  role.sessionLeader = options & 4;
  decoder.Start(role);
  decoder.Decode();
  net.Close();
  if (decoder.pixel_count() > 256) __builtin_trap();
  return 0;
}
