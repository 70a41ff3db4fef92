#include "sim/PacketLog.h"

#include <cerrno>
#include <cstring>

#include "platform/Hex.h"
#include "platform/Json.h"

namespace remcons::sim {

std::string PacketRecord::Json() const {
  std::string line = "{\"t\":" + std::to_string(timeMs) +
                     ",\"session\":" + std::to_string(session) + ",\"kind\":" + JsonString(kind) +
                     ",\"hex\":\"" + HexBytes(bytes.data(), bytes.size()) + "\"";
  if (!fields.empty()) line += "," + fields;
  return line + "}";
}

PacketLog::PacketLog() = default;
PacketLog::~PacketLog() = default;

bool PacketLog::OpenFile(const std::string& path, std::string* error) {
  FILE* f = std::fopen(path.c_str(), "a");
  if (!f) {
    if (error) *error = "cannot open " + path + ": " + std::strerror(errno);
    return false;
  }
  std::lock_guard lock(mutex_);
  file_.reset(f);
  return true;
}

void PacketLog::Add(PacketRecord record) {
  std::lock_guard lock(mutex_);
  if (file_) {
    const std::string line = record.Json() + "\n";
    std::fwrite(line.data(), 1, line.size(), file_.get());
    std::fflush(file_.get());
  }
  if (records_.size() >= kMaxKept) {
    // Keep the newer half: memory stays bounded on a session that runs for days.
    records_.erase(records_.begin(), records_.begin() + kMaxKept / 2);
    dropped_ += kMaxKept / 2;
  }
  records_.push_back(std::move(record));
}

std::vector<PacketRecord> PacketLog::Records() const {
  std::lock_guard lock(mutex_);
  return records_;
}

std::vector<std::string> PacketLog::Lines() const {
  std::lock_guard lock(mutex_);
  std::vector<std::string> lines;
  lines.reserve(records_.size());
  for (const PacketRecord& r : records_) lines.push_back(r.Json());
  return lines;
}

size_t PacketLog::Count(const std::string& kind, int session) const {
  std::lock_guard lock(mutex_);
  size_t n = 0;
  for (const PacketRecord& r : records_) {
    if ((kind.empty() || r.kind == kind) && (session == 0 || r.session == session)) ++n;
  }
  return n;
}

}  // namespace remcons::sim
