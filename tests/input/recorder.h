// Collects what the input code writes to the connection, one entry per write.
#pragma once

#include <cstdint>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "input/input_writer.h"

namespace remcons::testing {

// "FF D6 00" → {0xFF, 0xD6, 0x00}.
inline std::vector<uint8_t> Hex(const std::string& text) {
  std::vector<uint8_t> bytes;
  std::istringstream in(text);
  std::string token;
  while (in >> token) bytes.push_back(static_cast<uint8_t>(std::stoul(token, nullptr, 16)));
  return bytes;
}

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
