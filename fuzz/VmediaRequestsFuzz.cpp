// Fuzz target: an arbitrary byte stream from the server to an emulated device. Byte 0 picks the
// device (floppy image, CD image, folder volume); the rest is what the server sends. The device
// must answer or end with "Connection closed." without touching memory it does not own.
//
// libFuzzer: clang++ -std=c++20 -fsanitize=fuzzer,address,undefined -Isrc
// fuzz/VmediaRequestsFuzz.cpp
//            with the remcons_vmedia, remcons_net and remcons_platform sources.
// The tests run it over generated inputs (tests/vmedia, fuzz_driver.cpp).
#include <sys/socket.h>

#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "VmFuzzRig.h"
#include "platform/Socket.h"
#include "vmedia/FATFile.h"
#include "vmedia/ScsiCdImage.h"
#include "vmedia/ScsiFloppy.h"

namespace {

// The server's side on a thread of its own, made once (a thread per input costs more than the
// input): sends one stream, then reads every reply until the device closes.
class Peer {
 public:
  Peer() : thread_([this] { Loop(); }) {}
  ~Peer() {
    Serve(nullptr, nullptr, 0);
    thread_.join();
  }
  void Serve(remcons::TcpSocket* socket, const uint8_t* data, size_t size) {
    std::lock_guard<std::mutex> lock(mutex_);
    socket_ = socket;
    data_ = data;
    size_ = size;
    busy_ = true;
    changed_.notify_all();
  }
  void Wait() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return !busy_; });
  }

 private:
  void Loop() {
    for (;;) {
      std::unique_lock<std::mutex> lock(mutex_);
      changed_.wait(lock, [this] { return busy_; });
      if (!socket_) return;
      lock.unlock();
      socket_->SendAll(data_, size_);
      ::shutdown(socket_->Descriptor(), SHUT_WR);
      while (socket_->Receive(sink_.data(), sink_.size()) > 0) {
      }
      lock.lock();
      busy_ = false;
      changed_.notify_all();
    }
  }
  std::mutex mutex_;
  std::condition_variable changed_;
  remcons::TcpSocket* socket_ = nullptr;
  const uint8_t* data_ = nullptr;
  size_t size_ = 0;
  bool busy_ = false;
  std::vector<uint8_t> sink_ = std::vector<uint8_t>(1 << 16);
  std::thread thread_;
};

struct Fixture : vmfuzz::Rig {
  Fixture() {
    Image("f.img", kImageSize);
    Image("d.iso", kImageSize);
    std::filesystem::create_directories(dir + "/folder/sub");
    std::ofstream(dir + "/folder/sub/a.txt") << "fuzz";
  }
  static constexpr size_t kImageSize = 65536 + 300;
  Peer peer;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Fixture fixture;
  if (size == 0 || size > 8192 || !fixture.listener) return 0;
  auto client = remcons::TcpSocket::Create();
  if (!client->Connect("127.0.0.1", fixture.listener->LocalPort())) return 0;
  auto server = fixture.listener->Accept();
  if (!server) return 0;
  // The server's side: sends the stream, then reads every reply until the device is done.
  fixture.peer.Serve(server.get(), data + 1, size - 1);
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
