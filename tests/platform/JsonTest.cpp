// JsonString against Python's json module: every byte string gives one line of valid JSON whose
// value is the text as the console meant it (UTF-8 where the bytes are UTF-8, Windows-1252
// elsewhere), with the decoding worked out by Python's own codecs.
#include "platform/Json.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "platform/Hex.h"

namespace remcons {
namespace {

// Reads lines {"raw": HEX, "json": <JsonString(raw)>} and checks each: the line is UTF-8 and
// one line for str.splitlines() (which also breaks at U+0085, U+2028 and U+2029), json.loads
// takes it strictly, and the value is the raw bytes decoded as UTF-8 with every byte that is
// not UTF-8 read as Windows-1252 (its five unassigned bytes as U+0081 etc.), with no lone
// surrogate. Prints "ok N", or the first line that fails.
constexpr const char* kOracle = R"(
import codecs, json, sys
codecs.register_error('fallback', lambda e: (bytes([e.object[e.start]]).decode(
    'cp1252', 'ignore') or chr(e.object[e.start]), e.start + 1))
lines = open(sys.argv[1], 'rb').read().split(b'\n')[:-1]
for number, raw in enumerate(lines, 1):
    try:
        line = raw.decode('utf-8')
        assert len(line.splitlines()) == 1, 'more than one line'
        record = json.loads(line)
        expected = bytes.fromhex(record['raw']).decode('utf-8', 'fallback')
        assert record['json'] == expected, (record['json'], expected)
        record['json'].encode('utf-8')
    except Exception as e:
        sys.exit('line %d: %r: %r' % (number, e, raw))
print('ok %d' % len(lines))
)";

// What the oracle says about these byte strings.
std::string Oracle(const std::vector<std::string>& texts) {
  const std::string dir = ::testing::TempDir(), lines = dir + "/lines.json",
                    script = dir + "/oracle.py", said = dir + "/said.txt";
  {
    std::ofstream out(lines, std::ios::binary);
    for (const std::string& t : texts) {
      const auto* bytes = reinterpret_cast<const uint8_t*>(t.data());
      out << "{\"raw\":\"" << HexBytes(bytes, t.size()) << "\",\"json\":" << JsonString(t) << "}\n";
    }
    std::ofstream(script) << kOracle;
  }
  std::system(("python3 " + script + " " + lines + " >" + said + " 2>&1").c_str());
  std::ifstream in(said);
  return std::string((std::istreambuf_iterator<char>(in)), {});
}

TEST(JsonString, EveryByteStringGivesOneLineOfTheIntendedText) {
  if (std::system("python3 -c 'import json' >/dev/null 2>&1") != 0) GTEST_SKIP() << "no python3";
  std::vector<std::string> texts = {
      "",
      "plain",
      "quote \" backslash \\ slash / both \\\"",
      "lines\r\nand\ttabs\f\b",
      std::string("nul\0bell\a esc\x1b del\x7f", 17),
      "UTF-8: \xE6\x8E\xA5\xE7\xB6\x9A \xC3\xA9 \xF0\x9F\x98\x80",
      // Line and paragraph separators and NEL: valid UTF-8 that some readers end lines at.
      "a\xE2\x80\xA8"
      "b\xE2\x80\xA9"
      "c\xC2\x85"
      "d",
      // Not UTF-8: the ANSI code page's characters, its unassigned bytes too.
      "ANSI: caf\xE9 \x80 \x93quoted\x94 \x81 \x8D \x8F \x90 \x9D \xFF",
      // Broken sequences: lone leads, truncated at the end, a surrogate, overlong forms, past
      // U+10FFFF, stray continuation bytes.
      "\xE6\x8E \xED\xA0\x80 \xC0\xAF \xE0\x80\xAF \xF4\x90\x80\x80 \x80\xBF \xC3",
      "\xF0\x9F\x98",
  };
  for (int b = 0; b < 256; ++b) texts.push_back(std::string(1, static_cast<char>(b)));
  // Random strings, mostly of bytes from 0x80 up, where valid and broken sequences meet.
  std::mt19937 random(20240611);
  for (int i = 0; i < 2000; ++i) {
    std::string t(random() % 24, '\0');
    for (char& c : t)
      c = static_cast<char>(random() % 4 == 0 ? random() % 0x80 : 0x80 + random() % 0x80);
    texts.push_back(t);
  }
  EXPECT_EQ(Oracle(texts), "ok " + std::to_string(texts.size()) + "\n");
}

// The escapes are the short ones JSON has where it has one, lowercase \u elsewhere.
TEST(JsonString, GoldenLiterals) {
  const std::pair<std::string, std::string> cases[] = {
      {"a\"b\\c\n\x01", R"("a\"b\\c\n\u0001")"}, {"\r\t\x7f", R"("\r\t\u007f")"},
      {"caf\xC3\xA9", "\"caf\xC3\xA9\""},        {"caf\xE9 \x80", R"("caf\u00e9 \u20ac")"},
      {"\xE2\x80\xA8", R"("\u2028")"},
  };
  for (const auto& [text, json] : cases) EXPECT_EQ(JsonString(text), json);
}

}  // namespace
}  // namespace remcons
