// Fuzz target: an arbitrary byte stream from the server to an emulated device. Byte 0 picks the
// device (floppy image, CD image, folder volume); the rest is what the server sends. The device
// must answer or end with "Connection closed." without touching memory it does not own.
//
// libFuzzer: clang++ -std=c++20 -fsanitize=fuzzer,address,undefined -Isrc
// fuzz/VmediaRequestsFuzz.cpp
//            with the remcons_vmedia, remcons_net and remcons_platform sources.
// The tests run it over generated inputs (tests/vmedia, fuzz_driver.cpp).
#include <sys/socket.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <vector>

#include "VmFuzzRig.h"
#include "platform/Socket.h"
#include "vmedia/FATFile.h"
#include "vmedia/ScsiCdImage.h"
#include "vmedia/ScsiFloppy.h"

namespace {

struct Fixture : vmfuzz::Rig {
  Fixture() {
    Image("f.img", kImageSize);
    Image("d.iso", kImageSize);
    std::filesystem::create_directories(dir + "/folder/sub");
    std::ofstream(dir + "/folder/sub/a.txt") << "fuzz";
  }
  // Small: a hostile read asks for the whole image again and again, and its bytes would take the
  // time that requests of other shapes should have.
  static constexpr size_t kImageSize = 8192 + 300;
  vmfuzz::Peer peer;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Fixture fixture;
  if (size == 0 || size > 8192) return 0;
  std::unique_ptr<remcons::TcpSocket> client, server;
  if (!fixture.Connect(&client, &server)) return 0;
  // The server's side: sends the stream, then reads every reply until the device is done.
  fixture.peer.Run([&] {
    server->SendAll(data + 1, size - 1);
    vmfuzz::FinishAndDrain(*server);
  });
  remcons::ScsiContext context;
  std::unique_ptr<remcons::CScsi> device;
  switch (data[0] % 3) {
    case 0:
      device =
          std::make_unique<remcons::CScsiFloppy>(client.get(), fixture.dir + "/f.img", context);
      break;
    case 1:
      device =
          std::make_unique<remcons::CScsiCdImage>(client.get(), fixture.dir + "/d.iso", context);
      break;
    default:
      device = std::make_unique<remcons::CScsiFloppy>(
          client.get(), "folder", remcons::FATFile::Create(fixture.dir + "/folder"), context);
      break;
  }
  // Each request is at least 12 bytes, so the loop is bounded by the input.
  for (size_t i = 0; i <= size / 12 + 1; ++i) {
    try {
      device->process();
    } catch (const remcons::VmText&) {
      break;
    } catch (const std::exception&) {
      break;
    }
  }
  client->Close();
  fixture.peer.Wait();
  // Writes may have changed the image; put it back for the next input.
  if (data[0] % 3 == 0) fixture.Image("f.img", Fixture::kImageSize);
  return 0;
}
