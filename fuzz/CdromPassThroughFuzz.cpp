// Fuzz target: the CD-ROM drive served by pass-through, with a drive that answers from the input:
// any transferred count (negative, zero, beyond what was asked), sense data of any response code
// and length, and a media change count that moves. The server's requests follow. The device must
// answer within its own buffer or end with "Connection closed.".
//
// Input: byte 0 is the number n of drive answers, then n answers of 8 bytes (count as a signed
// 32-bit little-endian number, sense response code, sense key, ASC, sense length; used in turn,
// again from the first when they run out), then what the server sends.
//
// libFuzzer: clang++ -std=c++20 -fsanitize=fuzzer,address,undefined -Isrc
// fuzz/CdromPassThroughFuzz.cpp
//            with the remcons_vmedia, remcons_net and remcons_platform sources.
// The tests run it over mutations of its corpus (tests/vmedia, FuzzDriver.cpp).
#include <sys/socket.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <vector>

#include "VmFuzzRig.h"
#include "platform/Socket.h"
#include "vmedia/ScsiCdrom.h"

namespace {

class FuzzDrive : public remcons::ScsiPassThrough {
 public:
  FuzzDrive(const uint8_t* answers, size_t count) : answers_(answers), count_(count) {}
  int Execute(const uint8_t*, int, int, uint8_t* data, uint32_t length, uint8_t* sense,
              uint32_t senseSize, uint32_t* senseLength) override {
    if (count_ == 0) return -1;
    const uint8_t* a = answers_ + 8 * (next_++ % count_);
    int32_t transferred;
    std::memcpy(&transferred, a, 4);
    // What a drive may do: fill up to the length it was given, whatever count it then reports.
    if (length) std::memset(data, a[5], std::min<uint32_t>(length, uint32_t(a[4]) * 512 + 1));
    std::memset(sense, 0, senseSize);
    sense[0] = a[4];
    if (senseSize > 13) {
      sense[2] = a[5];
      sense[12] = a[6];
      sense[13] = a[5] ^ a[6];
    }
    *senseLength = a[7];
    changes_ += a[6] & 1;
    return transferred;
  }
  bool MediaChangeCount(uint32_t* count) override {
    *count = changes_;
    return (next_ & 3) != 3;
  }

 private:
  const uint8_t* answers_;
  size_t count_;
  size_t next_ = 0;
  uint32_t changes_ = 0;
};

struct Fixture : vmfuzz::Rig {
  Fixture() {
    std::filesystem::create_directories(dir + "/sys/class/block/sr0/device");
    std::filesystem::create_directories(dir + "/dev");
    std::ofstream(dir + "/sys/class/block/sr0/device/type") << "5\n";
    std::ofstream(dir + "/dev/sr0") << "";
  }
  vmfuzz::Peer peer;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Fixture fixture;
  if (size == 0 || size > 8192) return 0;
  const size_t answers = std::min<size_t>(data[0], (size - 1) / 8);
  const uint8_t* stream = data + 1 + 8 * answers;
  const size_t streamSize = size - 1 - 8 * answers;
  std::unique_ptr<remcons::TcpSocket> client, server;
  if (!fixture.Connect(&client, &server)) return 0;
  fixture.peer.Run([&] {
    server->SendAll(stream, streamSize);
    vmfuzz::FinishAndDrain(*server);
  });
  remcons::ScsiContext context;
  context.roots = remcons::MediaRoots{fixture.dir + "/sys", fixture.dir + "/dev"};
  try {
    remcons::CScsiCdrom device(client.get(), "sr0", context,
                               std::make_unique<FuzzDrive>(data + 1, answers));
    // Each request is 12 bytes, so the loop is bounded by the input.
    for (size_t i = 0; i <= streamSize / 12 + 1; ++i) device.process();
  } catch (const std::exception&) {
  }
  client->Close();
  fixture.peer.Wait();
  return 0;
}
