// The console's events as JSON lines for scripts: OnResize, OnStatus, OnDialog, OnShutdown,
// every message box shown and the Client List dialog's rows, one object a line, flushed as it is
// written. Waiters can block until an event of a given name has happened.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/Json.h"
#include "session/RemCons.h"

namespace remcons {

class EventJsonWriter : public IRemConsEv {
 public:
  // Writes to out when it is not null (not owned, not closed).
  explicit EventJsonWriter(FILE* out = nullptr) : out_(out) {}
  // Opens path for writing ("-" is stdout); false with a reason in error.
  bool Open(const std::string& path, std::string* error);
  ~EventJsonWriter() override;

  void OnShutdown() override;
  void OnResize(int32_t cx, int32_t cy) override;
  void OnStatus(const std::string& status) override;
  void OnDialog(const std::string& status) override;
  void MessageBox(const std::string& caption, const std::string& text, const std::string& answer);
  // The session leader's Client List dialog as it shows: its rows, or null when it closes.
  void ClientList(const ClientListRows* rows);
  // Any other event of the program (the virtual media's Mount and Unmount): members follow the
  // event's name, each with its leading comma, already in JSON.
  void Event(const std::string& name, const std::string& members);

  // How many events of that name ("OnResize", ..., "MessageBox") have been written.
  uint64_t Count(const std::string& name);
  // Waits until Count(name) exceeds seen, or timeoutMs passes (0xFFFFFFFF: no limit), or Cancel.
  // Returns the count, or nullopt on time-out or cancel.
  std::optional<uint64_t> WaitBeyond(const std::string& name, uint64_t seen, uint32_t timeoutMs);
  // Ends every wait (the session is over).
  void Cancel();

 private:
  void Emit(const std::string& name, const std::string& members);

  std::mutex mutex_;
  std::condition_variable changed_;
  FILE* out_ = nullptr;
  std::unique_ptr<FILE, int (*)(FILE*)> owned_{nullptr, &std::fclose};
  std::map<std::string, uint64_t> counts_;
  bool cancelled_ = false;
};

}  // namespace remcons
