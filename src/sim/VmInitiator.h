// The simulator's virtual-media side: a listener on the virtual-media port that checks the
// client's keyed hello and then plays the server's SCSI initiator from its own code: it probes
// the unit, reads the whole medium, optionally writes and reads back, pings, stays silent to
// provoke keepalives, and logs every reply as a JSON line.
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "net/Md5.h"
#include "platform/Socket.h"

namespace remcons::sim {

struct VmSimOptions {
  bool enabled = false;  // any --vm-* option given
  std::string bind = "127.0.0.1";
  uint16_t port = 0;              // --vm-port N (0: any free port)
  std::array<uint8_t, 16> key{};  // --vm-key HEX32
  std::string dumpFile;           // --vm-dump FILE: what was read, byte for byte
  bool write = false;             // --vm-write: write one block and read it back
  uint32_t writeLba = 1;          // --vm-write-lba N
  int refuse = 0;                 // --vm-refuse CODE: answer the hello with this status
  uint32_t silenceMs = 0;         // --vm-silence MS: stay silent after the read
  std::string logFile;            // --vm-log FILE: JSON lines, appended
  uint32_t blocks = 0;            // --vm-blocks N: blocks per read (0: as many as fit 128 KiB)
  int pings = 1;                  // --vm-pings N
  int sessions = 0;               // --vm-sessions N: stop listening after N sessions (0: never)
};

// Parses the --vm-* option at argv[*i] (and its value, advancing *i). Returns 1 when it was one,
// 0 when argv[*i] is not a --vm-* option, -1 on a bad value (error says why).
int ParseVmOption(int argc, char** argv, int* i, VmSimOptions* options, std::string* error);
// One line per option, for --help.
const char* VmOptionsUsage();

// One reply header (and its data) as the initiator received it.
struct VmReply {
  uint32_t flags = 0;
  uint8_t medium = 0;
  uint8_t key = 0;
  uint8_t asc = 0;
  uint8_t ascq = 0;
  uint32_t length = 0;
  std::vector<uint8_t> data;
  bool keepalive() const { return flags & 2; }
  bool writeProtected() const { return flags & 1; }
};

// The server's side of one virtual-media connection after the hello.
class VmInitiator {
 public:
  using Log = std::function<void(const std::string& jsonLine)>;
  VmInitiator(std::unique_ptr<TcpSocket> socket, uint8_t classByte, Log log);
  ~VmInitiator();

  uint8_t ClassByte() const { return class_; }
  TcpSocket& socket() { return *socket_; }

  // Sends a command block (and its write data) and reads the reply; keepalives that arrive
  // before it are counted and logged. replyData: where the data goes (nullptr: into reply->data).
  // False when the connection ended or no reply came within timeoutMs.
  bool Command(const uint8_t cdb[12], VmReply* reply, const uint8_t* writeData = nullptr,
               size_t writeLength = 0, uint32_t timeoutMs = 10000, uint8_t* replyData = nullptr,
               size_t replyCapacity = 0);
  // Commands that expect no reply (SEND DIAGNOSTIC).
  bool SendOnly(const uint8_t cdb[12]);
  // Sends a ping with this echo and returns the 16-byte answer.
  bool Ping(const uint8_t echo[8], uint8_t answer[16], uint32_t timeoutMs = 10000);
  // Reads one reply header (and data up to maxData) as it comes; false on close or time-out.
  bool ReadReply(VmReply* reply, uint32_t timeoutMs, uint8_t* replyData = nullptr,
                 size_t replyCapacity = 0);
  bool SendRaw(const void* data, size_t length);
  // Waits for the connection to end (the client closed it); true when it did within timeoutMs.
  bool WaitClosed(uint32_t timeoutMs);
  int keepalives() const { return keepalives_; }

  struct Summary {
    bool ok = false;
    std::string error;
    uint64_t blocks = 0;
    uint32_t blockLength = 0;
    uint64_t bytesRead = 0;
    bool writeVerified = false;
    int keepalives = 0;
  };
  // The scripted session of the simulator.
  Summary RunScript(const VmSimOptions& options);

 private:
  bool ReceiveExact(uint8_t* buffer, size_t length, uint32_t timeoutMs);
  void LogReply(const char* what, const uint8_t* cdb, const VmReply& reply);

  std::unique_ptr<TcpSocket> socket_;
  uint8_t class_;
  Log log_;
  int keepalives_ = 0;
};

// Accepts virtual-media connections and checks their hellos.
class VmSimServer {
 public:
  using SessionHandler = std::function<void(VmInitiator&)>;
  explicit VmSimServer(VmSimOptions options);
  ~VmSimServer();

  // Binds and starts the accept thread; false when the port cannot be had.
  bool Start();
  void Stop();
  uint16_t Port() const { return port_; }
  // Runs this on every accepted session instead of the script (tests).
  void SetSessionHandler(SessionHandler handler);
  // Waits until n sessions have ended; false on time-out.
  bool WaitSessions(int n, uint32_t timeoutMs);
  int Sessions() const;
  // Every JSON line logged so far.
  std::vector<std::string> LogLines() const;
  // Summary of the last scripted session.
  VmInitiator::Summary LastSummary() const;
  // Hellos refused because their digest did not match the key.
  int BadDigests() const;

 private:
  void AcceptLoop();
  void Session(std::unique_ptr<TcpSocket> socket);
  void Log(const std::string& line);

  VmSimOptions options_;
  std::unique_ptr<TcpSocket> listener_;
  uint16_t port_ = 0;
  std::thread acceptThread_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  SessionHandler handler_;
  std::deque<std::string> log_;  // the latest lines
  std::ofstream logFile_;
  Md5::Digest chain_{};
  int sessions_ = 0;
  int badDigests_ = 0;
  VmInitiator::Summary last_;
  std::atomic<bool> stop_{false};
  std::vector<std::thread> sessionThreads_;
  std::vector<TcpSocket*> open_;  // sockets of running sessions, closed by Stop
};

}  // namespace remcons::sim
