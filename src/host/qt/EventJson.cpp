#include "host/qt/EventJson.h"

#include <cerrno>
#include <chrono>
#include <cstring>

namespace remcons {

bool EventJsonWriter::Open(const std::string& path, std::string* error) {
  if (path == "-") {
    out_ = stdout;
    return true;
  }
  FILE* file = std::fopen(path.c_str(), "w");
  if (!file) {
    if (error) *error = "cannot write " + path + ": " + std::strerror(errno);
    return false;
  }
  owned_.reset(file);
  out_ = file;
  return true;
}

EventJsonWriter::~EventJsonWriter() = default;

void EventJsonWriter::Emit(const std::string& name, const std::string& members) {
  std::lock_guard lock(mutex_);
  if (out_) {
    std::string line = "{\"event\":" + JsonString(name) + members + "}\n";
    std::fwrite(line.data(), 1, line.size(), out_);
    std::fflush(out_);
  }
  ++counts_[name];
  changed_.notify_all();
}

void EventJsonWriter::OnShutdown() {
  Emit("OnShutdown", "");
}

void EventJsonWriter::OnResize(int32_t cx, int32_t cy) {
  Emit("OnResize", ",\"cx\":" + std::to_string(cx) + ",\"cy\":" + std::to_string(cy));
}

void EventJsonWriter::OnStatus(const std::string& status) {
  Emit("OnStatus", ",\"status\":" + JsonString(status));
}

void EventJsonWriter::OnDialog(const std::string& status) {
  Emit("OnDialog", ",\"status\":" + JsonString(status));
}

void EventJsonWriter::MessageBox(const std::string& caption, const std::string& text,
                                 const std::string& answer) {
  Emit("MessageBox", ",\"caption\":" + JsonString(caption) + ",\"text\":" + JsonString(text) +
                         ",\"answer\":" + JsonString(answer));
}

void EventJsonWriter::ClientList(const ClientListRows* rows) {
  if (!rows) {
    Emit("ClientList", ",\"open\":false");
    return;
  }
  std::string members = ",\"open\":true,\"rows\":[";
  for (const ClientListRow& row : *rows) {
    if (members.back() != '[') members += ',';
    members += "{\"text\":" + JsonString(row.text) +
               ",\"disconnect\":" + (row.canDisconnect ? "true" : "false") + "}";
  }
  Emit("ClientList", members + "]");
}

void EventJsonWriter::Event(const std::string& name, const std::string& members) {
  Emit(name, members);
}

uint64_t EventJsonWriter::Count(const std::string& name) {
  std::lock_guard lock(mutex_);
  auto it = counts_.find(name);
  return it == counts_.end() ? 0 : it->second;
}

std::optional<uint64_t> EventJsonWriter::WaitBeyond(const std::string& name, uint64_t seen,
                                                    uint32_t timeoutMs) {
  std::unique_lock lock(mutex_);
  auto ready = [&] { return cancelled_ || counts_[name] > seen; };
  if (timeoutMs == 0xFFFFFFFFu) {
    changed_.wait(lock, ready);
  } else if (!changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready)) {
    return std::nullopt;
  }
  if (counts_[name] > seen) return counts_[name];
  return std::nullopt;
}

void EventJsonWriter::Cancel() {
  std::lock_guard lock(mutex_);
  cancelled_ = true;
  changed_.notify_all();
}

}  // namespace remcons
