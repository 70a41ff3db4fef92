// Collects what the input code writes to the connection, one entry per write.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "input/InputWriter.h"

namespace remcons::testing {

class Recorder {
 public:
  InputWriter Writer() {
    return [this](const uint8_t* data, size_t size) {
      writes.emplace_back(data, data + size);
      return refuse ? -1 : static_cast<int>(size);
    };
  }
  // Every write as hex text, for readable failures.
  std::vector<std::string> Texts() const {
    std::vector<std::string> out;
    for (const auto& w : writes) {
      std::string s;
      char buf[4];
      for (uint8_t b : w) {
        std::snprintf(buf, sizeof buf, "%02X ", b);
        s += buf;
      }
      if (!s.empty()) s.pop_back();
      out.push_back(s);
    }
    return out;
  }
  void Clear() { writes.clear(); }

  std::vector<std::vector<uint8_t>> writes;
  bool refuse = false;
};

}  // namespace remcons::testing
