// The simulator's BOOT and FAULT buffer service: on its own port it answers the console's 40-byte
// request with a recording in the capture file format, the BOOT buffer a recording of its own
// power-on screen up to the boot prompt, the FAULT buffer the console at work and then a crash
// screen. The recordings are written here from the file format, with a small writer of the
// simulator's own, and enciphered under a key when one is given.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/Socket.h"
#include "sim/ServerScreen.h"

namespace remcons::sim {

struct BufferServiceOptions {
  std::string bind = "127.0.0.1";
  uint16_t port = 0;  // 0: an ephemeral port (Port() tells which)
  // 1 to 24 bytes: the buffers go out enciphered under this key; empty: in clear.
  std::vector<uint8_t> key;
  ServerScreenOptions screen;
  uint32_t frameMs = 100;  // recorded frame updates at most this often
};

// The buffers as the service sends them: a 344-byte header and records, the first a key-update
// record (the console starts decoding afresh), each frame update in records of at most 4096 bytes.
std::vector<uint8_t> RecordBootBuffer(const BufferServiceOptions& options);
std::vector<uint8_t> RecordFaultBuffer(const BufferServiceOptions& options);

class BufferServer {
 public:
  explicit BufferServer(BufferServiceOptions options);
  ~BufferServer();
  BufferServer(const BufferServer&) = delete;
  BufferServer& operator=(const BufferServer&) = delete;

  // Records both buffers, binds and starts answering; false with error when it cannot listen.
  bool Start(std::string* error = nullptr);
  void Stop();
  uint16_t Port() const { return port_; }
  // Requests answered.
  uint64_t answered() const { return answered_.load(); }

 private:
  void AcceptLoop();

  BufferServiceOptions options_;
  std::vector<uint8_t> boot_, fault_;
  std::unique_ptr<TcpSocket> listener_;
  uint16_t port_ = 0;
  std::thread thread_;
  std::atomic<uint64_t> answered_{0};
};

}  // namespace remcons::sim
