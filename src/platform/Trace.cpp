#include "platform/Trace.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace remcons::trace {
namespace {

struct State {
  std::mutex mutex;
  FILE* out = nullptr;  // stderr or an owned file
  bool ownsFile = false;
  std::function<void(std::string_view)> sink;
};

State& GetState() {
  static State state;
  return state;
}

std::atomic<bool> enabled{false};
thread_local int quietDepth = 0;

void CloseOutputLocked(State& s) {
  if (s.ownsFile && s.out) std::fclose(s.out);
  s.out = nullptr;
  s.ownsFile = false;
}

const char* BaseName(const char* path) {
  const char* slash = std::strrchr(path, '/');
  return slash ? slash + 1 : path;
}

}  // namespace

bool EnableTo(const std::string& destination) {
  State& s = GetState();
  FILE* out = stderr;
  bool owns = false;
  if (!destination.empty() && destination != "-") {
    // The owner's alone: the trace holds addresses, names and what the session did.
    const int fd = open(destination.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    out = fdopen(fd, "a");
    if (!out) {
      close(fd);
      return false;
    }
    owns = true;
  }
  std::lock_guard lock(s.mutex);
  CloseOutputLocked(s);
  s.out = out;
  s.ownsFile = owns;
  enabled = true;
  return true;
}

void Disable() {
  State& s = GetState();
  std::lock_guard lock(s.mutex);
  CloseOutputLocked(s);
  s.sink = nullptr;
  enabled = false;
}

bool Enabled() {
  return enabled.load(std::memory_order_relaxed);
}

void ConfigureFromEnvironment() {
  const char* value = std::getenv("REMCONS_TRACE");
  if (!value || !*value || std::strcmp(value, "0") == 0) return;
  EnableTo(std::strcmp(value, "1") == 0 ? "-" : value);
}

void SetSink(std::function<void(std::string_view)> sink) {
  State& s = GetState();
  std::lock_guard lock(s.mutex);
  s.sink = std::move(sink);
  if (s.sink) {
    enabled = true;
  } else {
    enabled = s.out != nullptr;
  }
}

void Write(const char* file, int line, const char* format, ...) {
  if (quietDepth > 0) return;
  // One line is at most 1023 characters, prefix included.
  char text[1024];
  int prefix = std::snprintf(text, sizeof text, "%s(%d) : ", BaseName(file), line);
  if (prefix < 0) return;
  if (static_cast<size_t>(prefix) < sizeof text) {
    va_list args;
    va_start(args, format);
    std::vsnprintf(text + prefix, sizeof text - prefix, format, args);
    va_end(args);
  }
  State& s = GetState();
  std::lock_guard lock(s.mutex);
  if (s.sink) {
    s.sink(text);
  } else if (s.out) {
    std::fputs(text, s.out);
    std::fflush(s.out);
  }
}

Quiet::Quiet() {
  ++quietDepth;
}

Quiet::~Quiet() {
  --quietDepth;
}

std::string Masked(std::string_view secret) {
  // Appended piece by piece: GCC 12 at -O3 misreads the concatenation as an overlapping copy.
  std::string text = "<";
  text += std::to_string(secret.size());
  text += " characters hidden>";
  return text;
}

}  // namespace remcons::trace
