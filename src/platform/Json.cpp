#include "platform/Json.h"

#include <cstdint>
#include <cstdio>

namespace remcons {
namespace {

// Windows-1252 bytes 0x80 to 0x9F; 0 where the code page has no character (kept as U+0080 + n).
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

// Length of the valid UTF-8 sequence at text[i] (0 when there is none), and its code point.
size_t Utf8Sequence(std::string_view text, size_t i, uint32_t* codePoint) {
  const auto b = [&](size_t k) { return static_cast<unsigned char>(text[i + k]); };
  const unsigned char c = b(0);
  size_t n;
  uint32_t cp;
  if (c < 0x80) {
    *codePoint = c;
    return 1;
  }
  if (c >= 0xC2 && c <= 0xDF) {
    n = 2;
    cp = c & 0x1F;
  } else if (c >= 0xE0 && c <= 0xEF) {
    n = 3;
    cp = c & 0x0F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    n = 4;
    cp = c & 0x07;
  } else {
    return 0;
  }
  if (i + n > text.size()) return 0;
  for (size_t k = 1; k < n; ++k) {
    if ((b(k) & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (b(k) & 0x3F);
  }
  // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
  if ((n == 3 && cp < 0x800) || (n == 4 && (cp < 0x10000 || cp > 0x10FFFF))) return 0;
  if (cp >= 0xD800 && cp <= 0xDFFF) return 0;
  *codePoint = cp;
  return n;
}

bool Escaped(uint32_t cp) {
  return cp < 0x20 || (cp >= 0x7F && cp <= 0x9F) || cp == 0x2028 || cp == 0x2029;
}

void AppendEscape(std::string& out, uint16_t unit) {
  static const char kHex[] = "0123456789abcdef";
  out += "\\u";
  for (int shift = 12; shift >= 0; shift -= 4) out += kHex[(unit >> shift) & 15];
}

}  // namespace

std::string JsonString(std::string_view text) {
  std::string out = "\"";
  out.reserve(text.size() + 2);
  for (size_t i = 0; i < text.size();) {
    uint32_t cp = 0;
    size_t n = Utf8Sequence(text, i, &cp);
    if (n == 0) {
      // Not UTF-8: the ANSI code page's character.
      const auto c = static_cast<unsigned char>(text[i]);
      cp = c >= 0x80 && c <= 0x9F && kCp1252High[c - 0x80] != 0 ? kCp1252High[c - 0x80] : c;
      AppendEscape(out, cp);
      ++i;
      continue;
    }
    switch (cp) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (Escaped(cp)) {
          AppendEscape(out, cp);
        } else {
          out.append(text.substr(i, n));
        }
    }
    i += n;
  }
  out += '"';
  return out;
}

}  // namespace remcons
