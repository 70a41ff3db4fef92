#include "sim/ConsoleScript.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

#include "platform/Hex.h"
#include "sim/ClientPackets.h"

namespace remcons::sim {
namespace {

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) {
    s.remove_suffix(1);
  }
  return s;
}

// Splits off the first word.
std::string_view Word(std::string_view* rest) {
  *rest = Trim(*rest);
  size_t end = 0;
  while (end < rest->size() && (*rest)[end] != ' ' && (*rest)[end] != '\t') ++end;
  std::string_view word = rest->substr(0, end);
  *rest = Trim(rest->substr(end));
  return word;
}

bool KnownKind(std::string_view kind) {
  for (int k = 0; k <= static_cast<int>(PacketKind::kOversize); ++k) {
    if (kind == PacketKindName(static_cast<PacketKind>(k))) return true;
  }
  return kind == "start";
}

}  // namespace

std::string Unescape(std::string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      out += text[i];
      continue;
    }
    const char e = text[++i];
    switch (e) {
      case 'n':
        out += '\n';
        break;
      case 'r':
        out += '\r';
        break;
      case 't':
        out += '\t';
        break;
      case 'x': {
        int64_t v = 0;
        if (i + 2 < text.size() &&
            ParseInteger("0x" + std::string(text.substr(i + 1, 2)), 0, 255, &v)) {
          out += static_cast<char>(v);
          i += 2;
        } else {
          out += "\\x";
        }
        break;
      }
      default:
        out += e;
    }
  }
  return out;
}

bool ParseScriptLine(std::string_view line, std::optional<ScriptCommand>* command,
                     std::string* error) {
  command->reset();
  std::string_view rest = Trim(line);
  if (rest.empty() || rest.front() == '#') return true;
  const std::string_view verb = Word(&rest);
  ScriptCommand c;
  auto fail = [&](const std::string& why) {
    *error = std::string(verb) + ": " + why;
    return false;
  };
  auto number = [&](std::string_view text, int64_t min, int64_t max, int64_t* v) {
    return ParseInteger(text, min, max, v);
  };
  static const std::pair<const char*, ScriptCommand::Op> kBare[] = {
      {"suspend", ScriptCommand::kSuspend}, {"resume", ScriptCommand::kResume},
      {"seize", ScriptCommand::kSeize},     {"kill", ScriptCommand::kKill},
      {"exit", ScriptCommand::kExit},       {"keychange", ScriptCommand::kKeyChange},
      {"drop", ScriptCommand::kDrop},       {"restart", ScriptCommand::kRestart},
      {"refresh", ScriptCommand::kRefresh}, {"resync", ScriptCommand::kResync}};
  for (const auto& [name, op] : kBare) {
    if (verb != name) continue;
    if (!rest.empty()) return fail("takes no arguments");
    c.op = op;
    *command = std::move(c);
    return true;
  }
  if (verb == "wait" || verb == "sleep") {
    c.op = ScriptCommand::kWait;
    if (!number(Word(&rest), 0, 24 * 3600 * 1000, &c.a) || !rest.empty()) {
      return fail("expects milliseconds");
    }
  } else if (verb == "wait-packet") {
    c.op = ScriptCommand::kWaitPacket;
    c.text = std::string(Word(&rest));
    if (!KnownKind(c.text)) return fail("unknown packet kind '" + c.text + "'");
    c.b = 1;
    c.c = 10000;
    if (!rest.empty() && !number(Word(&rest), 1, 1000000, &c.b)) return fail("bad count");
    if (!rest.empty() && !number(Word(&rest), 0, 24 * 3600 * 1000, &c.c)) {
      return fail("bad milliseconds");
    }
    if (!rest.empty()) return fail("too many arguments");
  } else if (verb == "mode") {
    c.op = ScriptCommand::kMode;
    std::string_view first = Word(&rest);
    std::string_view second;
    const size_t x = first.find('x');
    if (x != std::string_view::npos) {
      second = first.substr(x + 1);
      first = first.substr(0, x);
    } else {
      second = Word(&rest);
    }
    if (!number(first, 16, 2032, &c.a) || !number(second, 16, 2047, &c.b) || !rest.empty() ||
        c.a % 16 != 0) {
      return fail(
          "expects WIDTHxHEIGHT, the width a multiple of 16 up to 2032, the height up to 2047");
    }
  } else if (verb == "text") {
    c.op = ScriptCommand::kText;
    if (!number(Word(&rest), 0, 255, &c.a)) return fail("expects a channel 0 to 255 and a text");
    c.text = Unescape(rest);
  } else if (verb == "status" || verb == "dialog" || verb == "status2" || verb == "end") {
    c.op = ScriptCommand::kText;
    c.a = verb == "status" ? 2 : verb == "dialog" ? 4 : verb == "status2" ? 5 : 6;
    c.text = Unescape(rest);
  } else if (verb == "keychange-every") {
    c.op = ScriptCommand::kKeyChangeEvery;
    if (!number(Word(&rest), 0, 24 * 3600 * 1000, &c.a) || !rest.empty()) {
      return fail("expects milliseconds");
    }
  } else if (verb == "silence") {
    c.op = ScriptCommand::kSilence;
    const std::string_view v = Word(&rest);
    if ((v != "on" && v != "off") || !rest.empty()) return fail("expects on or off");
    c.a = v == "on";
  } else if (verb == "power") {
    c.op = ScriptCommand::kPower;
    const std::string_view v = Word(&rest);
    if (v == "off") {
      c.a = 0;
    } else if (v == "on") {
      c.a = 1;
    } else if (v == "cycle") {
      c.a = 2;
    } else {
      return fail("expects on, off or cycle");
    }
    if (!rest.empty()) return fail("too many arguments");
  } else if (verb == "button") {
    c.op = ScriptCommand::kButton;
    const std::string_view v = Word(&rest);
    static const char* const kNames[] = {"momentary", "hold", "cold", "reset"};
    c.a = -1;
    for (int i = 0; i < 4; ++i) {
      if (v == kNames[i]) c.a = i;
    }
    if (c.a < 0 && !number(v, 0, 3, &c.a)) return fail("expects momentary, hold, cold or reset");
    if (!rest.empty()) return fail("too many arguments");
  } else if (verb == "print") {
    c.op = ScriptCommand::kPrint;
    c.text = Unescape(rest);
  } else if (verb == "type") {
    c.op = ScriptCommand::kType;
    c.text = Unescape(rest);
  } else if (verb == "frame-interval") {
    c.op = ScriptCommand::kFrameInterval;
    if (!number(Word(&rest), 0, 60000, &c.a) || !rest.empty()) return fail("expects milliseconds");
  } else {
    *error = "unknown command '" + std::string(verb) + "'";
    return false;
  }
  *command = std::move(c);
  return true;
}

bool ParseScript(std::string_view text, std::vector<ScriptCommand>* commands, std::string* error) {
  commands->clear();
  int number = 0;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    ++number;
    std::optional<ScriptCommand> command;
    std::string why;
    if (!ParseScriptLine(text.substr(start, end - start), &command, &why)) {
      *error = "line " + std::to_string(number) + ": " + why;
      return false;
    }
    if (command) {
      command->line = number;
      commands->push_back(std::move(*command));
    }
    start = end + 1;
  }
  return true;
}

bool LoadScriptFile(const std::string& path, std::vector<ScriptCommand>* commands,
                    std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *error = "cannot open " + path + ": " + std::strerror(errno);
    return false;
  }
  std::stringstream text;
  text << in.rdbuf();
  if (!ParseScript(text.str(), commands, error)) {
    *error = path + ": " + *error;
    return false;
  }
  return true;
}

}  // namespace remcons::sim
