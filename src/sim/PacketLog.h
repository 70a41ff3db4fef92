// The simulator's log of everything the console sent: one JSON object per line with the time
// (milliseconds since the server started), the session number, the kind, the bytes in hex and the
// decoded fields, e.g.
//   {"t":1520,"session":1,"kind":"mouse-move","hex":"ffd00a0a0142015f","dx":10,"dy":10,"x":322,"y":351}
// Lines go to a file when one is named (appended, flushed line by line) and are kept in memory
// for the accessors (the most recent kMaxKept).
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace remcons::sim {

struct PacketRecord {
  uint32_t timeMs = 0;
  int session = 0;
  std::string kind;
  std::vector<uint8_t> bytes;
  std::string fields;  // JSON object members, without braces
  std::string Json() const;
};

class PacketLog {
 public:
  static constexpr size_t kMaxKept = 100000;

  PacketLog();
  ~PacketLog();
  PacketLog(const PacketLog&) = delete;
  PacketLog& operator=(const PacketLog&) = delete;

  // Appends to a file from now on; false (and error set) when it cannot be opened.
  bool OpenFile(const std::string& path, std::string* error);
  void Add(PacketRecord record);

  std::vector<PacketRecord> Records() const;
  std::vector<std::string> Lines() const;
  // Records of a kind ("" for all) in a session (0 for all).
  size_t Count(const std::string& kind, int session = 0) const;

 private:
  mutable std::mutex mutex_;
  std::vector<PacketRecord> records_;
  size_t dropped_ = 0;
  std::unique_ptr<FILE, int (*)(FILE*)> file_{nullptr, &std::fclose};
};

}  // namespace remcons::sim
