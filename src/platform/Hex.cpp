#include "platform/Hex.h"

#include <charconv>

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

int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool ParseHexKeyStrict(std::string_view text, uint8_t key[16]) {
  if (text.size() != 32) return false;
  for (char c : text) {
    if (HexDigitValue(c) < 0) return false;
  }
  return ParseHexKeyTolerant(text, key);
}

bool ParseHexKeyTolerant(std::string_view text, uint8_t key[16]) {
  if (text.size() != 32) return false;
  for (size_t i = 0; i < 16; ++i) {
    const int high = HexDigitValue(text[2 * i]);
    const int low = HexDigitValue(text[2 * i + 1]);
    if (high >= 0 && low >= 0) key[i] = static_cast<uint8_t>(high << 4 | low);
  }
  return true;
}

bool ParseInteger(std::string_view text, int64_t min, int64_t max, int64_t* value) {
  const bool negative = !text.empty() && text[0] == '-';
  if (negative) text.remove_prefix(1);
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text.remove_prefix(2);
  }
  // from_chars of an unsigned type takes no sign, so "--1" and "0x-1" are refused here.
  uint64_t magnitude = 0;
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, magnitude, base);
  if (text.empty() || error != std::errc() || stop != end) return false;
  if (magnitude > (negative ? uint64_t{1} << 63 : uint64_t(INT64_MAX))) return false;
  const int64_t v = negative ? int64_t(0 - magnitude) : int64_t(magnitude);
  if (v < min || v > max) return false;
  *value = v;
  return true;
}

}  // namespace remcons
