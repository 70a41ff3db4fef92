#include "platform/Hex.h"

namespace remcons {

std::string HexBytes(const uint8_t* data, size_t n) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(n * 2);
  for (size_t i = 0; i < n; ++i) {
    out += kDigits[data[i] >> 4];
    out += kDigits[data[i] & 15];
  }
  return out;
}

bool ParseHexKey(std::string_view text, uint8_t key[16]) {
  if (text.size() != 32) return false;
  auto nibble = [](char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  uint8_t parsed[16];
  for (size_t i = 0; i < 16; ++i) {
    const int hi = nibble(text[2 * i]);
    const int lo = nibble(text[2 * i + 1]);
    if (hi < 0 || lo < 0) return false;
    parsed[i] = static_cast<uint8_t>(hi << 4 | lo);
  }
  for (size_t i = 0; i < 16; ++i) key[i] = parsed[i];
  return true;
}

}  // namespace remcons
