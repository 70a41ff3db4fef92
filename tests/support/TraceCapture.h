// Collects the trace lines written while it lives.
#pragma once

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

#include "platform/Trace.h"

namespace remcons::testing {

class TraceCapture {
 public:
  TraceCapture() {
    trace::SetSink([this](std::string_view line) {
      std::lock_guard lock(mutex_);
      lines_.emplace_back(line);
    });
  }
  ~TraceCapture() { trace::Disable(); }
  std::vector<std::string> Lines() {
    std::lock_guard lock(mutex_);
    return lines_;
  }
  // The line texts without their "file(line) : " prefix.
  std::vector<std::string> Texts() {
    std::vector<std::string> texts = Lines();
    for (std::string& text : texts) {
      if (const size_t pos = text.find(") : "); pos != std::string::npos) text.erase(0, pos + 4);
    }
    return texts;
  }
  // True when some line's text (prefix removed) equals text.
  bool Has(const std::string& text) { return std::ranges::count(Texts(), text) > 0; }
  // True when some line contains fragment.
  bool Contains(const std::string& fragment) {
    return std::ranges::any_of(
        Lines(), [&](const std::string& line) { return line.find(fragment) != std::string::npos; });
  }
  void Clear() {
    std::lock_guard lock(mutex_);
    lines_.clear();
  }

 private:
  std::mutex mutex_;
  std::vector<std::string> lines_;
};

}  // namespace remcons::testing
