// Fuzz target: the server's answer to the virtual-media hello, and whatever follows it, cut as a
// network cuts a stream. The mount must be accepted exactly when the answer begins 20 00, refused
// with the status of its first byte otherwise (the hello's own 10 when nothing came), and a mount
// that serves must end by itself when the server goes away.
//
// Input: byte 0 chooses the cutting (Pieces.h) and, by its bit 6, an image or a CD image; the rest
// is what the server sends.
//
// libFuzzer: clang++ -std=c++20 -fsanitize=fuzzer,address,undefined -Isrc fuzz/VmHelloFuzz.cpp
//            with the remcons_vmedia, remcons_net and remcons_platform sources.
// The tests run it over mutations of its corpus (tests/vmedia, FuzzDriver.cpp).
#include <sys/socket.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <vector>

#include "Pieces.h"
#include "VmFuzzRig.h"
#include "platform/Socket.h"
#include "vmedia/VMConnection.h"

namespace {

struct Fixture : vmfuzz::Rig {
  Fixture() {
    Image("f.img", 65536);
    Image("d.iso", 65536);
  }
  vmfuzz::Peer peer;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Fixture fixture;
  if (size == 0 || size > 4096 || !fixture.listener) return 0;
  const uint8_t* answer = data + 1;
  const size_t answerSize = size - 1;
  fixture.peer.Run([&] {
    auto server = fixture.Accept();
    if (!server) return;
    Pieces pieces(answer, answerSize, data[0]);
    uint8_t piece[64];
    for (size_t n; (n = pieces.Next(piece, sizeof piece)) > 0;) server->SendAll(piece, n);
    vmfuzz::FinishAndDrain(*server);
  });
  const bool cd = data[0] & 0x40;
  remcons::FixedTargetChooser chooser(fixture.dir + (cd ? "/d.iso" : "/f.img"));
  remcons::VmConnectionSettings settings;
  settings.server = "127.0.0.1";
  settings.port = fixture.listener->LocalPort();
  settings.chooser = &chooser;
  remcons::VMConnection connection(cd ? remcons::VmKind::CdImage : remcons::VmKind::ImageFile,
                                   settings);
  const int result = connection.Connect("x");
  const int expected = answerSize >= 2 && answer[0] == 0x20 && answer[1] == 0
                           ? remcons::VMConnection::kOk
                           : remcons::VMConnection::kRefused - (answerSize ? answer[0] : 0x10);
  if (result != expected) std::abort();
  if (result == remcons::VMConnection::kOk && !connection.WaitServeEnded(60000)) std::abort();
  connection.Close();
  fixture.peer.Wait();
  return 0;
}
