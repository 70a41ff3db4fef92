// Collects the trace lines written while it lives.
#pragma once

#include <mutex>
#include <string>
#include <vector>

namespace remcons::testing {

class TraceCapture {
 public:
  TraceCapture();
  ~TraceCapture();
  std::vector<std::string> Lines();
  // The line texts without their "file(line) : " prefix.
  std::vector<std::string> Texts();
  // True when some line's text (prefix removed) equals text.
  bool Has(const std::string& text);
  // True when some line contains fragment.
  bool Contains(const std::string& fragment);
  void Clear();

 private:
  std::mutex mutex_;
  std::vector<std::string> lines_;
};

}  // namespace remcons::testing
