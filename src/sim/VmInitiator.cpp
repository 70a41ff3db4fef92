#include "sim/VmInitiator.h"

#include <pthread.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "platform/ByteOrder.h"
#include "platform/Hex.h"

namespace remcons::sim {
namespace {

using Steady = std::chrono::steady_clock;

constexpr uint32_t kSliceMs = 100;
constexpr uint32_t kMagic = 0x0BADC0DE;
constexpr size_t kDeviceBuffer = 131072;

// The operation codes the initiator sends (its own list: the simulator shares no SCSI code with
// the devices it tests).
enum Op : uint8_t {
  kTestUnitReady = 0x00,
  kReadFormatCapacities = 0x23,
  kReadCapacity = 0x25,
  kRead10 = 0x28,
  kWrite10 = 0x2A,
  kReadToc = 0x43,
};

// A READ(10) or WRITE(10) command block.
void Transfer10(uint8_t* cdb, uint32_t lba, uint16_t blocks, Op op = kRead10) {
  std::memset(cdb, 0, 12);
  cdb[0] = op;
  StoreBe32(cdb + 2, lba);
  StoreBe16(cdb + 7, blocks);
}

// The deterministic bytes of the write test.
uint8_t Pattern(size_t i, uint32_t lba) {
  return uint8_t(i * 31 + 7 + lba);
}

}  // namespace

// ---- Options ----

const char* VmOptionsUsage() {
  return "  --vm-port N        virtual-media port (0: any free one)\n"
         "  --vm-key HEX32     virtual-media key, 32 hexadecimal digits\n"
         "  --vm-dump FILE     write what was read from the medium to FILE\n"
         "  --vm-write         write one block and read it back\n"
         "  --vm-write-lba N   block the write test uses (default 1)\n"
         "  --vm-refuse CODE   answer every hello with this status (0x21 to 0x26)\n"
         "  --vm-silence MS    stay silent MS milliseconds after reading, for keepalives\n"
         "  --vm-log FILE      log every reply as a JSON line to FILE\n"
         "  --vm-blocks N      blocks per READ (default: as many as fit 128 KiB)\n"
         "  --vm-pings N       pings to send (default 1)\n"
         "  --vm-sessions N    stop after N sessions\n";
}

int ParseVmOption(int argc, char** argv, int* i, VmSimOptions* o, std::string* error) {
  const std::string name = argv[*i];
  if (name.rfind("--vm-", 0) != 0) return 0;
  auto value = [&](std::string* out) {
    if (*i + 1 >= argc) {
      *error = name + " needs a value";
      return false;
    }
    *out = argv[++*i];
    return true;
  };
  auto number = [&](uint64_t max, uint64_t* out) {
    std::string text;
    if (!value(&text)) return false;
    char* end = nullptr;
    errno = 0;
    const unsigned long long v = std::strtoull(text.c_str(), &end, 0);
    if (text.empty() || *end || errno || v > max) {
      *error = name + ": bad number '" + text + "'";
      return false;
    }
    *out = v;
    return true;
  };
  uint64_t n = 0;
  std::string text;
  o->enabled = true;
  if (name == "--vm-port") {
    if (!number(65535, &n)) return -1;
    o->port = uint16_t(n);
  } else if (name == "--vm-key") {
    if (!value(&text)) return -1;
    if (!ParseHexKeyStrict(text, o->key.data())) {
      *error = "--vm-key needs 32 hexadecimal digits";
      return -1;
    }
  } else if (name == "--vm-dump") {
    if (!value(&o->dumpFile)) return -1;
  } else if (name == "--vm-write") {
    o->write = true;
  } else if (name == "--vm-write-lba") {
    if (!number(0xFFFFFFFF, &n)) return -1;
    o->writeLba = uint32_t(n);
  } else if (name == "--vm-refuse") {
    if (!number(255, &n)) return -1;
    o->refuse = int(n);
  } else if (name == "--vm-silence") {
    if (!number(3600000, &n)) return -1;
    o->silenceMs = uint32_t(n);
  } else if (name == "--vm-log") {
    if (!value(&o->logFile)) return -1;
  } else if (name == "--vm-blocks") {
    if (!number(65535, &n)) return -1;
    o->blocks = uint32_t(n);
  } else if (name == "--vm-pings") {
    if (!number(1000, &n)) return -1;
    o->pings = int(n);
  } else if (name == "--vm-sessions") {
    if (!number(1000000, &n)) return -1;
    o->sessions = int(n);
  } else {
    *error = "unknown option " + name;
    return -1;
  }
  return 1;
}

// ---- Initiator ----

VmInitiator::VmInitiator(std::unique_ptr<TcpSocket> socket, uint8_t classByte, Log log)
    : socket_(std::move(socket)), class_(classByte), log_(std::move(log)) {
  socket_->SetReceiveTimeout(kSliceMs);
  socket_->SetNoDelay(true);
}

VmInitiator::~VmInitiator() = default;

bool VmInitiator::ReceiveExact(uint8_t* buffer, size_t length, uint32_t timeoutMs) {
  const auto deadline = Steady::now() + std::chrono::milliseconds(timeoutMs);
  size_t got = 0;
  while (got < length) {
    const int n = socket_->Receive(buffer + got, length - got);
    if (n > 0) {
      got += size_t(n);
      continue;
    }
    if (n == 0) return false;
    if (LastSocketError() != kWsaEtimedout || Steady::now() >= deadline) return false;
  }
  return true;
}

bool VmInitiator::SendRaw(const void* data, size_t length) {
  return socket_->SendAll(data, length) == int(length);
}

bool VmInitiator::ReadReply(VmReply* reply, uint32_t timeoutMs, uint8_t* replyData,
                            size_t replyCapacity) {
  uint8_t h[16];
  if (!ReceiveExact(h, 16, timeoutMs)) return false;
  if (LoadLe32(h) != kMagic) {
    if (log_) log_("{\"event\":\"BadMagic\",\"bytes\":\"" + HexBytes(h, 16) + "\"}");
    return false;
  }
  reply->flags = LoadLe32(h + 4);
  reply->medium = h[8];
  reply->key = h[9];
  reply->asc = h[10];
  reply->ascq = h[11];
  reply->length = LoadLe32(h + 12);
  reply->data.clear();
  if (reply->keepalive() || reply->length == 0) return true;
  if (replyData) {
    if (reply->length > replyCapacity) return false;
    return ReceiveExact(replyData, reply->length, timeoutMs);
  }
  // A client never sends more than it was asked for; cap what a broken one could make us hold.
  if (reply->length > (256u << 20)) return false;
  reply->data.resize(reply->length);
  return ReceiveExact(reply->data.data(), reply->length, timeoutMs);
}

void VmInitiator::LogReply(const char* what, const uint8_t* cdb, const VmReply& r) {
  if (!log_) return;
  char line[512];
  std::snprintf(
      line, sizeof line,
      "{\"event\":\"%s\",\"op\":\"%02x\",\"cdb\":\"%s\",\"flags\":%u,\"medium\":%u,"
      "\"sense\":[%u,%u,%u],\"length\":%u%s%s%s}",
      what, cdb ? cdb[0] : 0, cdb ? HexBytes(cdb, 12).c_str() : "", r.flags, r.medium, r.key, r.asc,
      r.ascq, r.length, r.data.empty() ? "" : ",\"data\":\"",
      r.data.empty() ? "" : HexBytes(r.data.data(), std::min<size_t>(r.data.size(), 64)).c_str(),
      r.data.empty() ? "" : "\"");
  log_(line);
}

bool VmInitiator::Command(const uint8_t cdb[12], VmReply* reply, const uint8_t* writeData,
                          size_t writeLength, uint32_t timeoutMs, uint8_t* replyData,
                          size_t replyCapacity) {
  if (!SendRaw(cdb, 12)) return false;
  if (writeLength && !SendRaw(writeData, writeLength)) return false;
  for (;;) {
    if (!ReadReply(reply, timeoutMs, replyData, replyCapacity)) return false;
    if (!reply->keepalive()) break;
    ++keepalives_;
    LogReply("Keepalive", nullptr, *reply);
  }
  LogReply("Reply", cdb, *reply);
  return true;
}

bool VmInitiator::SendOnly(const uint8_t cdb[12]) {
  return SendRaw(cdb, 12);
}

bool VmInitiator::Ping(const uint8_t echo[8], uint8_t answer[16], uint32_t timeoutMs) {
  uint8_t ping[12] = {0xFE};
  std::memcpy(ping + 4, echo, 8);
  if (!SendRaw(ping, 12)) return false;
  for (;;) {
    if (!ReceiveExact(answer, 16, timeoutMs)) return false;
    // A keepalive may have been on its way; it carries flags bit 1.
    if (LoadLe32(answer) == kMagic && (LoadLe32(answer + 4) & 2)) {
      ++keepalives_;
      continue;
    }
    break;
  }
  if (log_) log_("{\"event\":\"PingReply\",\"bytes\":\"" + HexBytes(answer, 16) + "\"}");
  return true;
}

bool VmInitiator::WaitClosed(uint32_t timeoutMs) {
  const auto deadline = Steady::now() + std::chrono::milliseconds(timeoutMs);
  uint8_t sink[4096];
  for (;;) {
    const int n = socket_->Receive(sink, sizeof sink);
    if (n == 0) return true;
    if (n < 0 && LastSocketError() != kWsaEtimedout) return true;
    if (Steady::now() >= deadline) return false;
  }
}

VmInitiator::Summary VmInitiator::RunScript(const VmSimOptions& options) {
  Summary s;
  VmReply r;
  uint8_t cdb[12] = {};
  // The unit: TEST UNIT READY until it is ready.
  bool ready = false;
  for (int i = 0; i < 10 && !ready; ++i) {
    std::memset(cdb, 0, 12);
    cdb[0] = kTestUnitReady;
    if (!Command(cdb, &r)) return s.error = "connection lost during TEST UNIT READY", s;
    ready = r.key == 0;
  }
  if (!ready) return s.error = "unit never became ready", s;
  const bool cd = class_ == 2;
  if (!cd) {
    std::memset(cdb, 0, 12);
    cdb[0] = kReadFormatCapacities;
    cdb[8] = 0xFC;
    if (!Command(cdb, &r)) return s.error = "connection lost during READ FORMAT CAPACITIES", s;
  }
  bool haveCapacity = false;
  for (int i = 0; i < 3 && !haveCapacity; ++i) {
    std::memset(cdb, 0, 12);
    cdb[0] = kReadCapacity;
    if (!Command(cdb, &r)) return s.error = "connection lost during READ CAPACITY", s;
    if (r.key == 0 && r.data.size() == 8) {
      s.blocks = uint64_t(LoadBe32(r.data.data())) + 1;
      s.blockLength = LoadBe32(r.data.data() + 4);
      haveCapacity = true;
    }
  }
  if (!haveCapacity || s.blockLength == 0) return s.error = "no capacity", s;
  if (cd) {
    std::memset(cdb, 0, 12);
    cdb[0] = kReadToc;
    cdb[8] = 20;
    if (!Command(cdb, &r)) return s.error = "connection lost during READ TOC", s;
  }
  // The whole medium, with the largest transfers the device buffer holds.
  const uint32_t per = options.blocks ? options.blocks : uint32_t(kDeviceBuffer / s.blockLength);
  std::vector<uint8_t> buffer(size_t(per) * s.blockLength);
  FILE* dump = options.dumpFile.empty() ? nullptr : std::fopen(options.dumpFile.c_str(), "wb");
  if (!options.dumpFile.empty() && !dump) return s.error = "cannot write " + options.dumpFile, s;
  for (uint64_t lba = 0; lba < s.blocks;) {
    const uint32_t n = uint32_t(std::min<uint64_t>(per, s.blocks - lba));
    Transfer10(cdb, uint32_t(lba), uint16_t(n));
    if (!Command(cdb, &r, nullptr, 0, 30000, buffer.data(), buffer.size())) {
      if (dump) std::fclose(dump);
      return s.error = "connection lost while reading", s;
    }
    if (r.key != 0 || r.length != size_t(n) * s.blockLength) {
      if (dump) std::fclose(dump);
      return s.error = "read failed at block " + std::to_string(lba), s;
    }
    if (dump && std::fwrite(buffer.data(), 1, r.length, dump) != r.length) {
      std::fclose(dump);
      return s.error = "cannot write " + options.dumpFile, s;
    }
    s.bytesRead += r.length;
    lba += n;
  }
  if (dump && std::fclose(dump) != 0) return s.error = "cannot write " + options.dumpFile, s;
  if (options.write && !cd) {
    std::vector<uint8_t> block(s.blockLength);
    for (size_t i = 0; i < block.size(); ++i) block[i] = Pattern(i, options.writeLba);
    Transfer10(cdb, options.writeLba, 1, kWrite10);
    if (!Command(cdb, &r, block.data(), block.size())) return s.error = "write lost", s;
    if (r.key == 0) {
      Transfer10(cdb, options.writeLba, 1);
      if (!Command(cdb, &r)) return s.error = "read-back lost", s;
      s.writeVerified = r.key == 0 && r.data == block;
    }
  }
  for (int i = 0; i < options.pings; ++i) {
    const uint8_t echo[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    uint8_t answer[16];
    if (!Ping(echo, answer)) return s.error = "ping lost", s;
    if (LoadLe32(answer) != kMagic || std::memcmp(answer + 8, echo, 8) != 0) {
      return s.error = "bad ping reply", s;
    }
  }
  if (options.silenceMs) {
    // Silence: the client must keep the connection alive.
    const auto until = Steady::now() + std::chrono::milliseconds(options.silenceMs);
    while (Steady::now() < until) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(until - Steady::now()).count();
      if (!ReadReply(&r, uint32_t(std::max<int64_t>(left, 1)))) {
        if (socket_->IsClosed()) break;
        continue;
      }
      if (r.keepalive()) {
        ++keepalives_;
        LogReply("Keepalive", nullptr, r);
      }
    }
  }
  s.keepalives = keepalives_;
  s.ok = true;
  return s;
}

// ---- Listener ----

VmSimServer::VmSimServer(VmSimOptions options) : options_(std::move(options)) {}

VmSimServer::~VmSimServer() {
  Stop();
}

bool VmSimServer::Start() {
  if (!options_.logFile.empty()) {
    logFile_.open(options_.logFile, std::ios::app);
    if (!logFile_) return false;
  }
  listener_ = TcpSocket::Listen(options_.bind, options_.port);
  if (!listener_) return false;
  port_ = listener_->LocalPort();
  stop_ = false;
  acceptThread_ = std::thread([this] { AcceptLoop(); });
  return true;
}

void VmSimServer::Stop() {
  stop_ = true;
  if (listener_) listener_->Close();
  if (acceptThread_.joinable()) acceptThread_.join();
  std::vector<std::thread> threads;
  {
    std::lock_guard lock(mutex_);
    for (TcpSocket* s : open_) s->Close();
    threads.swap(sessionThreads_);
  }
  for (auto& t : threads) t.join();
}

void VmSimServer::SetSessionHandler(SessionHandler handler) {
  std::lock_guard lock(mutex_);
  handler_ = std::move(handler);
}

bool VmSimServer::WaitSessions(int n, uint32_t timeoutMs) {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                           [&] { return sessions_ >= n; });
}

int VmSimServer::Sessions() const {
  std::lock_guard lock(mutex_);
  return sessions_;
}

std::vector<std::string> VmSimServer::LogLines() const {
  std::lock_guard lock(mutex_);
  return std::vector<std::string>(log_.begin(), log_.end());
}

VmInitiator::Summary VmSimServer::LastSummary() const {
  std::lock_guard lock(mutex_);
  return last_;
}

int VmSimServer::BadDigests() const {
  std::lock_guard lock(mutex_);
  return badDigests_;
}

void VmSimServer::Log(const std::string& line) {
  // A long-running simulator keeps only the latest lines in memory; the file has them all.
  constexpr size_t kKeptLines = 200000;
  std::lock_guard lock(mutex_);
  log_.push_back(line);
  if (log_.size() > kKeptLines) log_.pop_front();
  if (logFile_.is_open()) logFile_ << line << std::endl;
}

void VmSimServer::AcceptLoop() {
  pthread_setname_np(pthread_self(), "vm-accept");
  int accepted = 0;
  while (!stop_) {
    auto socket = listener_->Accept();
    if (!socket) break;
    std::lock_guard lock(mutex_);
    open_.push_back(socket.get());
    sessionThreads_.emplace_back(
        [this, s = socket.release()] { Session(std::unique_ptr<TcpSocket>(s)); });
    if (options_.sessions && ++accepted >= options_.sessions) break;
  }
}

void VmSimServer::Session(std::unique_ptr<TcpSocket> socket) {
  pthread_setname_np(pthread_self(), "vm-session");
  TcpSocket* raw = socket.get();
  socket->SetReceiveTimeout(kSliceMs);
  uint8_t hello[18];
  size_t got = 0;
  const auto deadline = Steady::now() + std::chrono::seconds(10);
  while (got < sizeof hello && Steady::now() < deadline && !stop_) {
    const int n = socket->Receive(hello + got, sizeof hello - got);
    if (n == 0 || (n < 0 && LastSocketError() != kWsaEtimedout)) break;
    if (n > 0) got += size_t(n);
  }
  bool accepted = false;
  uint8_t classByte = 0;
  if (got == sizeof hello && hello[0] == 0x10) {
    classByte = hello[1];
    Md5::Digest zeros{};
    Md5::Digest expected, fresh;
    {
      std::lock_guard lock(mutex_);
      Md5 md5;
      md5.Update(options_.key.data(), 16);
      md5.Update(chain_.data(), 16);
      expected = md5.Final();
    }
    Md5 md5;
    md5.Update(options_.key.data(), 16);
    md5.Update(zeros.data(), 16);
    fresh = md5.Final();
    // The client's chain starts from zeros with every new console and moves with every hello.
    const bool good =
        !std::memcmp(hello + 2, expected.data(), 16) || !std::memcmp(hello + 2, fresh.data(), 16);
    uint8_t status = 0x20;
    {
      std::lock_guard lock(mutex_);
      if (good) std::memcpy(chain_.data(), hello + 2, 16);
      if (!good) ++badDigests_;
    }
    if (!good) status = 0x22;
    if (options_.refuse) status = uint8_t(options_.refuse);
    const uint8_t answer[4] = {status, 0, 0, 0};
    socket->SendAll(answer, sizeof answer);
    Log("{\"event\":\"Hello\",\"class\":" + std::to_string(classByte) + ",\"digest\":\"" +
        HexBytes(hello + 2, 16) + "\",\"status\":" + std::to_string(status) + "}");
    accepted = status == 0x20;
  }
  if (accepted) {
    SessionHandler handler;
    {
      std::lock_guard lock(mutex_);
      handler = handler_;
    }
    auto initiator = std::make_unique<VmInitiator>(std::move(socket), classByte,
                                                   [this](const std::string& l) { Log(l); });
    if (handler) {
      handler(*initiator);
    } else {
      VmInitiator::Summary s = initiator->RunScript(options_);
      Log("{\"event\":\"Summary\",\"ok\":" + std::string(s.ok ? "true" : "false") + ",\"blocks\":" +
          std::to_string(s.blocks) + ",\"blockLength\":" + std::to_string(s.blockLength) +
          ",\"bytesRead\":" + std::to_string(s.bytesRead) +
          ",\"writeVerified\":" + (s.writeVerified ? "true" : "false") +
          ",\"keepalives\":" + std::to_string(s.keepalives) + ",\"error\":\"" + s.error + "\"}");
      std::lock_guard lock(mutex_);
      last_ = s;
    }
    initiator->socket().Close();
    {
      std::lock_guard lock(mutex_);
      open_.erase(std::remove(open_.begin(), open_.end(), raw), open_.end());
    }
    initiator.reset();
  } else {
    socket->Close();
    std::lock_guard lock(mutex_);
    open_.erase(std::remove(open_.begin(), open_.end(), raw), open_.end());
  }
  std::lock_guard lock(mutex_);
  ++sessions_;
  changed_.notify_all();
}

}  // namespace remcons::sim
