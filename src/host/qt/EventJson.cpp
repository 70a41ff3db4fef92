#include "host/qt/EventJson.h"

#include <cerrno>
#include <chrono>
#include <cstring>

namespace remcons {
namespace {

// Windows-1252 bytes 0x80 to 0x9F; 0 where the code page has no character (kept as U+0080 + n).
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

// Length of the valid UTF-8 sequence at text[i], 0 when there is none.
size_t Utf8Sequence(std::string_view text, size_t i) {
  const auto b = [&](size_t k) { return static_cast<unsigned char>(text[i + k]); };
  const unsigned char c = b(0);
  size_t n;
  uint32_t cp;
  if (c < 0x80) return 1;
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
  return n;
}

void AppendEscape(std::string& out, uint32_t unit) {
  char hex[8];
  std::snprintf(hex, sizeof hex, "\\u%04x", unit);
  out += hex;
}

}  // namespace

std::string JsonString(std::string_view text) {
  std::string out = "\"";
  for (size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    switch (c) {
      case '"':
        out += "\\\"";
        ++i;
        continue;
      case '\\':
        out += "\\\\";
        ++i;
        continue;
      case '\n':
        out += "\\n";
        ++i;
        continue;
      case '\r':
        out += "\\r";
        ++i;
        continue;
      case '\t':
        out += "\\t";
        ++i;
        continue;
      default:
        break;
    }
    if (c < 0x20 || c == 0x7F) {
      AppendEscape(out, c);
      ++i;
      continue;
    }
    const size_t n = Utf8Sequence(text, i);
    if (n > 0) {
      out.append(text.substr(i, n));
      i += n;
      continue;
    }
    // Not UTF-8: the ANSI code page's character.
    uint32_t unit = c;
    if (c >= 0x80 && c <= 0x9F && kCp1252High[c - 0x80] != 0) unit = kCp1252High[c - 0x80];
    AppendEscape(out, unit);
    ++i;
  }
  out += '"';
  return out;
}

bool EventJsonWriter::Open(const std::string& path, std::string* error) {
  if (path == "-") {
    out_ = stdout;
    return true;
  }
  FILE* file = std::fopen(path.c_str(), "w");
  if (!file) {
    if (error) *error = "cannot write " + path + ": " + std::strerror(errno);
    return false;
  }
  owned_.reset(file);
  out_ = file;
  return true;
}

EventJsonWriter::~EventJsonWriter() = default;

void EventJsonWriter::Emit(const std::string& name, const std::string& members) {
  std::lock_guard lock(mutex_);
  if (out_) {
    std::string line = "{\"event\":" + JsonString(name) + members + "}\n";
    std::fwrite(line.data(), 1, line.size(), out_);
    std::fflush(out_);
  }
  ++counts_[name];
  changed_.notify_all();
}

void EventJsonWriter::OnShutdown() {
  Emit("OnShutdown", "");
}

void EventJsonWriter::OnResize(int32_t cx, int32_t cy) {
  Emit("OnResize", ",\"cx\":" + std::to_string(cx) + ",\"cy\":" + std::to_string(cy));
}

void EventJsonWriter::OnStatus(const std::string& status) {
  Emit("OnStatus", ",\"status\":" + JsonString(status));
}

void EventJsonWriter::OnDialog(const std::string& status) {
  Emit("OnDialog", ",\"status\":" + JsonString(status));
}

void EventJsonWriter::MessageBox(const std::string& caption, const std::string& text,
                                 const std::string& answer) {
  Emit("MessageBox", ",\"caption\":" + JsonString(caption) + ",\"text\":" + JsonString(text) +
                         ",\"answer\":" + JsonString(answer));
}

void EventJsonWriter::Event(const std::string& name, const std::string& members) {
  Emit(name, members);
}

uint64_t EventJsonWriter::Count(const std::string& name) {
  std::lock_guard lock(mutex_);
  auto it = counts_.find(name);
  return it == counts_.end() ? 0 : it->second;
}

std::optional<uint64_t> EventJsonWriter::WaitBeyond(const std::string& name, uint64_t seen,
                                                    uint32_t timeoutMs) {
  std::unique_lock lock(mutex_);
  auto ready = [&] { return cancelled_ || counts_[name] > seen; };
  if (timeoutMs == 0xFFFFFFFFu) {
    changed_.wait(lock, ready);
  } else if (!changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready)) {
    return std::nullopt;
  }
  if (counts_[name] > seen) return counts_[name];
  return std::nullopt;
}

void EventJsonWriter::Cancel() {
  std::lock_guard lock(mutex_);
  cancelled_ = true;
  changed_.notify_all();
}

}  // namespace remcons
