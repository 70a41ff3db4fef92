#include "session/PropertyBag.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <memory>
#include <unordered_set>

#include "platform/Hex.h"
#include "session/PageFile.h"

namespace remcons {
namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

char Lower(char c) {
  return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

std::string LowerCopy(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = Lower(c);
  return out;
}

bool IsAlpha(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

void AppendUtf8(std::string& out, uint32_t cp) {
  // Code points a text cannot hold become the replacement character.
  if (cp == 0 || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// Decodes the character references of an attribute value: &#NNN; &#xHH; and the common named
// ones. A reference that is not recognised stays as written.
std::string DecodeReferences(std::string_view v) {
  struct Named {
    const char* name;
    uint32_t cp;
    bool legacy;  // also recognised without the ';'
  };
  static const Named kNamed[] = {{"amp", '&', true},  {"lt", '<', true},     {"gt", '>', true},
                                 {"quot", '"', true}, {"apos", '\'', false}, {"nbsp", 0xA0, false}};
  std::string out;
  out.reserve(v.size());
  size_t i = 0;
  while (i < v.size()) {
    if (v[i] != '&') {
      out += v[i++];
      continue;
    }
    size_t p = i + 1;
    if (p < v.size() && v[p] == '#') {
      ++p;
      const bool hex = p < v.size() && (v[p] == 'x' || v[p] == 'X');
      if (hex) ++p;
      const size_t digitsAt = p;
      uint32_t cp = 0;
      while (p < v.size() && (hex ? HexDigitValue(v[p]) >= 0 : IsDigit(v[p]))) {
        cp = std::min<uint32_t>(cp * (hex ? 16 : 10) + static_cast<uint32_t>(HexDigitValue(v[p])),
                                0x110000);
        ++p;
      }
      if (p == digitsAt) {
        out += v[i++];
        continue;
      }
      if (p < v.size() && v[p] == ';') ++p;
      AppendUtf8(out, cp);
      i = p;
      continue;
    }
    size_t end = p;
    while (end < v.size() && end - p < 32 && (IsAlpha(v[end]) || IsDigit(v[end]))) ++end;
    const std::string_view name = v.substr(p, end - p);
    const bool semicolon = end < v.size() && v[end] == ';';
    const bool followedByNameChar =
        end < v.size() && (IsAlpha(v[end]) || IsDigit(v[end]) || v[end] == '=');
    bool decoded = false;
    for (const Named& n : kNamed) {
      if (name != n.name) continue;
      if (semicolon || (n.legacy && !followedByNameChar)) {
        AppendUtf8(out, n.cp);
        i = semicolon ? end + 1 : end;
        decoded = true;
      }
      break;
    }
    if (!decoded) out += v[i++];
  }
  return out;
}

struct Tag {
  std::string name;  // lower case
  bool closing = false;
  std::vector<std::pair<std::string, std::string>> attributes;  // names lower case

  const std::string* Attribute(std::string_view attributeName) const {
    for (const auto& [n, value] : attributes) {
      if (n == attributeName) return &value;
    }
    return nullptr;
  }
};

// Finds "</name" (any case) from pos; npos when missing.
size_t FindClosingTag(std::string_view html, size_t pos, std::string_view name) {
  for (;;) {
    pos = html.find("</", pos);
    if (pos == std::string_view::npos) return pos;
    const std::string_view rest = html.substr(pos + 2);
    if (rest.size() >= name.size() && LowerCopy(rest.substr(0, name.size())) == name) return pos;
    pos += 2;
  }
}

constexpr size_t kNotATag = std::string_view::npos;
constexpr size_t kIncomplete = std::string_view::npos - 1;

// Reads the tag that starts at html[pos] == '<'. Returns the position after it, kNotATag when it
// is not a tag (a lone '<' is text), or kIncomplete when the page ends inside the tag, which
// then counts for nothing, as in a browser.
size_t ReadTag(std::string_view html, size_t pos, Tag* tag) {
  // The names seen so far: a hostile page's tag may hold a million attributes.
  std::unordered_set<std::string> seen;
  size_t p = pos + 1;
  if (p < html.size() && html[p] == '/') {
    tag->closing = true;
    ++p;
  }
  if (p >= html.size() || !IsAlpha(html[p])) return kNotATag;
  while (p < html.size() && !IsBlank(html[p]) && html[p] != '/' && html[p] != '>') {
    tag->name += Lower(html[p++]);
  }
  for (;;) {
    while (p < html.size() && (IsBlank(html[p]) || html[p] == '/')) ++p;
    if (p >= html.size()) return kIncomplete;
    if (html[p] == '>') return p + 1;
    std::string name;
    while (p < html.size() && !IsBlank(html[p]) && html[p] != '/' && html[p] != '>' &&
           (html[p] != '=' || name.empty())) {
      name += Lower(html[p++]);
    }
    while (p < html.size() && IsBlank(html[p])) ++p;
    std::string value;
    if (p < html.size() && html[p] == '=') {
      ++p;
      while (p < html.size() && IsBlank(html[p])) ++p;
      if (p < html.size() && (html[p] == '"' || html[p] == '\'')) {
        const char quote = html[p++];
        const size_t end = html.find(quote, p);
        if (end == std::string_view::npos) return kIncomplete;
        value = DecodeReferences(html.substr(p, end - p));
        p = end + 1;
      } else {
        const size_t start = p;
        while (p < html.size() && !IsBlank(html[p]) && html[p] != '>') ++p;
        value = DecodeReferences(html.substr(start, p - start));
      }
    }
    // The first of repeated attributes counts.
    if (seen.insert(name).second) tag->attributes.emplace_back(std::move(name), std::move(value));
  }
}

struct ObjectElement {
  Tag tag;
  PropertyBag params;
};

}  // namespace

bool IsSecretProperty(std::string_view name) {
  const std::string lower = LowerCopy(name);
  return lower == "login" || lower == "decryptkey" || lower == "encryptkey" || lower == "vmkey";
}

std::string UrlHost(std::string_view url) {
  url = Trim(url);
  const size_t scheme = url.find("://");
  if (scheme == std::string_view::npos) return "";
  std::string_view rest = url.substr(scheme + 3);
  rest = rest.substr(0, rest.find_first_of("/\\?#"));
  const size_t at = rest.rfind('@');
  if (at != std::string_view::npos) rest.remove_prefix(at + 1);
  if (!rest.empty() && rest.front() == '[') {
    const size_t close = rest.find(']');
    return std::string(rest.substr(0, close == std::string_view::npos ? rest.size() : close + 1));
  }
  return std::string(rest.substr(0, rest.find(':')));
}

bool IsDottedIpv4(std::string_view text) {
  int parts = 0;
  size_t p = 0;
  for (;;) {
    const size_t start = p;
    uint32_t value = 0;
    while (p < text.size() && IsDigit(text[p]) && p - start < 4) {
      value = value * 10 + static_cast<uint32_t>(text[p] - '0');
      ++p;
    }
    const size_t digits = p - start;
    // "010" would be octal to some parsers and is refused by ours: only plain decimal counts.
    if (digits == 0 || digits > 3 || value > 255 || (digits > 1 && text[start] == '0')) {
      return false;
    }
    ++parts;
    if (p == text.size()) return parts == 4;
    if (text[p] != '.' || parts == 4) return false;
    ++p;
  }
}

bool ParsePropertyNumber(std::string_view text, uint32_t max, uint32_t* value) {
  text = Trim(text);
  const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  if (hex) text.remove_prefix(2);
  if (text.empty()) return false;
  uint64_t n = 0;
  for (char c : text) {
    const int d = hex ? HexDigitValue(c) : (IsDigit(c) ? c - '0' : -1);
    if (d < 0) return false;
    n = n * (hex ? 16 : 10) + static_cast<uint64_t>(d);
    if (n > max) return false;
  }
  *value = static_cast<uint32_t>(n);
  return true;
}

bool ParseParamPair(std::string_view pair, std::string* name, std::string* value) {
  const size_t eq = pair.find('=');
  if (eq == std::string_view::npos) return false;
  const std::string_view n = Trim(pair.substr(0, eq));
  if (n.empty()) return false;
  *name = std::string(n);
  *value = std::string(pair.substr(eq + 1));
  return true;
}

PropertyBag ParseHtmlParams(std::string_view html) {
  std::vector<ObjectElement> objects;
  std::vector<size_t> open;  // indexes of the <object> elements not yet closed, innermost last
  size_t pos = 0;
  while (pos < html.size()) {
    const size_t lt = html.find('<', pos);
    if (lt == std::string_view::npos) break;
    if (html.substr(lt, 4) == "<!--") {
      const size_t end = html.find("-->", lt + 4);
      pos = end == std::string_view::npos ? html.size() : end + 3;
      continue;
    }
    if (lt + 1 < html.size() && (html[lt + 1] == '!' || html[lt + 1] == '?')) {
      const size_t end = html.find('>', lt);
      pos = end == std::string_view::npos ? html.size() : end + 1;
      continue;
    }
    Tag tag;
    const size_t after = ReadTag(html, lt, &tag);
    if (after == kIncomplete) break;
    if (after == kNotATag) {
      pos = lt + 1;
      continue;
    }
    pos = after;
    if (tag.closing) {
      if (tag.name == "object" && !open.empty()) open.pop_back();
      continue;
    }
    if (tag.name == "script" || tag.name == "style" || tag.name == "textarea" ||
        tag.name == "title") {
      // Their content is text, whatever it looks like.
      const size_t end = FindClosingTag(html, pos, tag.name);
      pos = end == std::string_view::npos ? html.size() : end;
      continue;
    }
    if (tag.name == "object") {
      objects.push_back(ObjectElement{std::move(tag), {}});
      open.push_back(objects.size() - 1);
    } else if (tag.name == "param" && !open.empty()) {
      const std::string* name = tag.Attribute("name");
      if (!name || name->empty()) continue;
      const std::string* value = tag.Attribute("value");
      objects[open.back()].params.emplace_back(*name, value ? *value : std::string());
    }
  }
  for (const ObjectElement& object : objects) {
    for (const auto& [name, value] : object.tag.attributes) {
      if (LowerCopy(value).find("remcons") != std::string::npos) return object.params;
    }
  }
  for (const ObjectElement& object : objects) {
    if (!object.params.empty()) return object.params;
  }
  return {};
}

bool ReadPage(const std::string& path, std::string* html, std::string* error) {
  const std::unique_ptr<FILE, int (*)(FILE*)> in(std::fopen(path.c_str(), "rb"), std::fclose);
  if (!in) {
    *error = "cannot read the page " + path;
    return false;
  }
  html->assign(kMaxPageBytes + 1, '\0');
  const size_t got = std::fread(html->data(), 1, html->size(), in.get());
  if (std::ferror(in.get())) {
    html->clear();
    *error = "cannot read the page " + path;
    return false;
  }
  if (got > kMaxPageBytes) {
    html->clear();
    *error = "the page " + path + " is larger than " + std::to_string(kMaxPageBytes >> 20) +
             " MB: not a page that hosts a console";
    return false;
  }
  html->resize(got);
  return true;
}

}  // namespace remcons
