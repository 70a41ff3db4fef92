#include "support/TraceCapture.h"

#include "platform/Trace.h"

namespace remcons::testing {

TraceCapture::TraceCapture() {
  trace::SetSink([this](std::string_view line) {
    std::lock_guard lock(mutex_);
    lines_.emplace_back(line);
  });
}

TraceCapture::~TraceCapture() {
  trace::Disable();
}

std::vector<std::string> TraceCapture::Lines() {
  std::lock_guard lock(mutex_);
  return lines_;
}

std::vector<std::string> TraceCapture::Texts() {
  std::vector<std::string> texts;
  for (const auto& line : Lines()) {
    auto pos = line.find(") : ");
    texts.push_back(pos == std::string::npos ? line : line.substr(pos + 4));
  }
  return texts;
}

bool TraceCapture::Has(const std::string& text) {
  for (const auto& t : Texts()) {
    if (t == text) return true;
  }
  return false;
}

bool TraceCapture::Contains(const std::string& fragment) {
  for (const auto& line : Lines()) {
    if (line.find(fragment) != std::string::npos) return true;
  }
  return false;
}

void TraceCapture::Clear() {
  std::lock_guard lock(mutex_);
  lines_.clear();
}

}  // namespace remcons::testing
