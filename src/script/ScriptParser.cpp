#include "script/ScriptParser.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <utility>

#include "input/KeyMap.h"
#include "platform/Hex.h"

namespace remcons {
namespace {

std::vector<std::string_view> Words(std::string_view line) {
  std::vector<std::string_view> words;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    const size_t start = i;
    while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
    if (i > start) words.push_back(line.substr(start, i - start));
  }
  return words;
}

// What follows the first word, without the blanks between.
std::string_view Rest(std::string_view line) {
  size_t i = 0;
  while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
  while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
  if (i < line.size()) ++i;  // one separating blank; more are part of the text
  return line.substr(i);
}

bool IsEventName(std::string_view name) {
  for (std::string_view known : {"OnResize", "OnStatus", "OnDialog", "OnShutdown", "MessageBox",
                                 "ClientList", "Mount", "Unmount"}) {
    if (name == known) return true;
  }
  return false;
}

// Decodes one UTF-8 character; nullopt for anything else.
std::optional<char32_t> SingleCharacter(std::string_view text) {
  if (text.empty()) return std::nullopt;
  const auto c = static_cast<unsigned char>(text[0]);
  size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
  if (n == 0 || text.size() != n) return std::nullopt;
  char32_t cp = n == 1 ? c : c & (0xFF >> (n + 1));
  for (size_t k = 1; k < n; ++k) {
    const auto b = static_cast<unsigned char>(text[k]);
    if ((b & 0xC0) != 0x80) return std::nullopt;
    cp = (cp << 6) | (b & 0x3F);
  }
  return cp;
}

class LinesSource : public ScriptSource {
 public:
  explicit LinesSource(std::vector<std::string> lines) : lines_(std::move(lines)) {}
  std::optional<std::string> NextLine(const std::atomic<bool>& stop) override {
    if (stop || next_ >= lines_.size()) return std::nullopt;
    return lines_[next_++];
  }

 private:
  std::vector<std::string> lines_;
  size_t next_ = 0;
};

class StdinSource : public ScriptSource {
 public:
  std::optional<std::string> NextLine(const std::atomic<bool>& stop) override {
    for (;;) {
      const size_t nl = pending_.find('\n');
      if (nl != std::string::npos) {
        std::string line = pending_.substr(0, nl);
        pending_.erase(0, nl + 1);
        return line;
      }
      if (eof_) {
        if (pending_.empty()) return std::nullopt;
        return std::exchange(pending_, std::string());
      }
      if (stop) return std::nullopt;
      pollfd pfd{STDIN_FILENO, POLLIN, 0};
      const int ready = poll(&pfd, 1, 50);
      if (ready < 0 && errno != EINTR) {
        eof_ = true;
      } else if (ready > 0) {
        char buffer[1024];
        const ssize_t got = read(STDIN_FILENO, buffer, sizeof buffer);
        if (got <= 0) {
          eof_ = true;
        } else {
          pending_.append(buffer, static_cast<size_t>(got));
        }
      }
    }
  }

 private:
  std::string pending_;
  bool eof_ = false;
};

// The capture verb's index, or -1.
int VerbIndex(std::string_view verb) {
  for (size_t i = 0; i < std::size(kCaptureVerbNames); ++i) {
    if (kCaptureVerbNames[i] == verb) return static_cast<int>(i);
  }
  return -1;
}

}  // namespace

bool UnescapeScriptText(std::string_view text, std::string* out, std::string* error) {
  out->clear();
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\') {
      *out += text[i];
      continue;
    }
    if (++i == text.size()) {
      *error = "a lone \\ at the end";
      return false;
    }
    switch (text[i]) {
      case 'n':
        *out += '\n';
        break;
      case 'r':
        *out += '\r';
        break;
      case 't':
        *out += '\t';
        break;
      case 'b':
        *out += '\b';
        break;
      case 'e':
        *out += '\x1b';
        break;
      case '\\':
        *out += '\\';
        break;
      case 'x': {
        int64_t v = 0;
        if (i + 2 >= text.size() ||
            !ParseInteger("0x" + std::string(text.substr(i + 1, 2)), 0, 255, &v)) {
          *error = "\\x needs two hexadecimal digits";
          return false;
        }
        *out += static_cast<char>(v);
        i += 2;
        break;
      }
      default:
        *error = std::string("unknown escape \\") + text[i];
        return false;
    }
  }
  return true;
}

std::optional<ScriptCommand> ParseScriptLine(std::string_view line, int lineNumber,
                                             std::string* error) {
  error->clear();
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  const std::vector<std::string_view> w = Words(line);
  if (w.empty() || w[0][0] == '#') return std::nullopt;
  ScriptCommand c;
  c.line = lineNumber;
  const std::string_view verb = w[0];
  auto fail = [&](const std::string& why) -> std::optional<ScriptCommand> {
    *error = "line " + std::to_string(lineNumber) + ": " + why;
    return std::nullopt;
  };
  auto number = [&](std::string_view text, int64_t min, int64_t max, int64_t* v) {
    return ParseInteger(text, min, max, v);
  };
  auto count = [&](size_t lo, size_t hi) { return w.size() >= lo && w.size() <= hi; };

  if (verb == "sleep") {
    if (!count(2, 2) || !number(w[1], 0, 86400000, &c.a)) return fail("usage: sleep MS");
    c.op = ScriptCommand::kSleep;
  } else if (verb == "wait-event") {
    if (!count(2, 3)) return fail("usage: wait-event NAME [MS]");
    if (!IsEventName(w[1])) {
      return fail("unknown event \"" + std::string(w[1]) +
                  "\" (OnResize, OnStatus, OnDialog, OnShutdown, MessageBox, ClientList, Mount, "
                  "Unmount)");
    }
    c.op = ScriptCommand::kWaitEvent;
    c.text = w[1];
    if (w.size() == 3) {
      int64_t ms = 0;
      if (!number(w[2], 0, 86400000, &ms))
        return fail("bad time-out \"" + std::string(w[2]) + "\"");
      c.timeoutMs = static_cast<uint32_t>(ms);
    }
  } else if (verb == "key") {
    if (!count(3, 5) || !number(w[1], 1, 255, &c.a) || (w[2] != "down" && w[2] != "up")) {
      return fail("usage: key VK down|up [scan=N] [ext]");
    }
    c.op = ScriptCommand::kKey;
    c.flag = w[2] == "up";
    for (size_t i = 3; i < w.size(); ++i) {
      int64_t scan = 0;
      if (w[i] == "ext") {
        c.extended = true;
      } else if (w[i].substr(0, 5) == "scan=" && number(w[i].substr(5), 0, 255, &scan)) {
        c.scanCode = static_cast<uint32_t>(scan);
      } else {
        return fail("unexpected \"" + std::string(w[i]) + "\" (scan=N or ext)");
      }
    }
  } else if (verb == "char") {
    if (!count(2, 3)) return fail("usage: char C [scan=N]");
    c.op = ScriptCommand::kChar;
    if (std::optional<char32_t> ch = SingleCharacter(w[1])) {
      std::optional<uint8_t> ansi = AnsiFromUnicode(*ch);
      if (!ansi) return fail("\"" + std::string(w[1]) + "\" is not in the ANSI code page");
      c.a = *ansi;
    } else if (!number(w[1], 0, 255, &c.a)) {
      return fail("\"" + std::string(w[1]) + "\" is neither one character nor a code 0 to 255");
    }
    c.scanCode = 0;
    if (w.size() == 3) {
      int64_t scan = 0;
      if (w[2].substr(0, 5) != "scan=" || !number(w[2].substr(5), 0, 255, &scan)) {
        return fail("usage: char C [scan=N]");
      }
      c.scanCode = static_cast<uint32_t>(scan);
    }
  } else if (verb == "type") {
    std::string why;
    if (w.size() < 2 || !UnescapeScriptText(Rest(line), &c.text, &why)) {
      return fail(why.empty() ? "usage: type TEXT" : why);
    }
    c.op = ScriptCommand::kType;
  } else if (verb == "move") {
    if (!count(3, 3) || !number(w[1], -32768, 32767, &c.a) || !number(w[2], -32768, 32767, &c.b)) {
      return fail("usage: move X Y");
    }
    c.op = ScriptCommand::kMove;
  } else if (verb == "press" || verb == "release" || verb == "dblclick") {
    if (!count(2, 2) || (w[1] != "left" && w[1] != "right")) {
      return fail("usage: " + std::string(verb) + " left|right");
    }
    c.op = verb == "press"     ? ScriptCommand::kPress
           : verb == "release" ? ScriptCommand::kRelease
                               : ScriptCommand::kDblClick;
    c.flag = w[1] == "right";
  } else if (verb == "command") {
    if (!count(2, 2) || !number(w[1], 0, 0x7FFFFFFF, &c.a)) return fail("usage: command N");
    c.op = ScriptCommand::kCommand;
  } else if (verb == "click-bar") {
    static constexpr std::string_view kNames[] = {"pin",         "close",  "power",  "media",
                                                  "keys",        "replay", "record", "control",
                                                  "client-list", "lock"};
    const auto* it = std::find(std::begin(kNames), std::end(kNames), count(2, 2) ? w[1] : "");
    if (it == std::end(kNames)) {
      return fail(
          "usage: click-bar pin|close|power|media|keys|replay|record|control|"
          "client-list|lock");
    }
    c.op = ScriptCommand::kClickBar;
    c.a = it - std::begin(kNames);
  } else if (verb == "snapshot") {
    if (!count(2, 2)) return fail("usage: snapshot FILE.png");
    c.op = ScriptCommand::kSnapshot;
    c.text = w[1];
  } else if (verb == "stop") {
    if (!count(1, 1)) return fail("usage: stop");
    c.op = ScriptCommand::kStop;
  } else if (const int v = VerbIndex(verb); v >= 0) {
    std::string_view file = Rest(line);
    while (!file.empty() && (file.back() == ' ' || file.back() == '\t')) file.remove_suffix(1);
    const bool takesFile = v == int(CaptureVerb::kCaptureStart) || v == int(CaptureVerb::kReplay);
    if (takesFile == file.empty()) {
      return fail("usage: " + std::string(verb) + (takesFile ? " FILE" : ""));
    }
    c.op = ScriptCommand::kCapture;
    c.a = v;
    c.text = std::string(file);
  } else {
    return fail("unknown command \"" + std::string(verb) + "\"");
  }
  return c;
}

std::unique_ptr<ScriptSource> ScriptFromFile(const std::string& path, std::string* error) {
  std::ifstream in(path);
  if (!in) {
    *error = "cannot read " + path + ": " + std::strerror(errno);
    return nullptr;
  }
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return std::make_unique<LinesSource>(std::move(lines));
}

std::unique_ptr<ScriptSource> ScriptFromStdin() {
  return std::make_unique<StdinSource>();
}

std::unique_ptr<ScriptSource> ScriptFromLines(std::vector<std::string> lines) {
  return std::make_unique<LinesSource>(std::move(lines));
}

}  // namespace remcons
