#include <gtest/gtest.h>
#include <iconv.h>
#include <sys/stat.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <future>
#include <regex>

#include "platform/Hex.h"
#include "platform/Json.h"
#include "platform/Socket.h"
#include "platform/Strings.h"
#include "platform/Surface.h"
#include "platform/Trace.h"
#include "support/TraceCapture.h"

namespace remcons {
namespace {

using namespace std::chrono_literals;

// Keys: strictly 32 digits of either case, or tolerantly any 32 characters where a pair that is
// not hexadecimal keeps its byte; a refused text leaves the key alone.
TEST(ParseHex, KeysStrictAndTolerantAndIntegers) {
  std::array<uint8_t, 16> key{};
  ASSERT_TRUE(ParseHexKeyStrict("F0e1D2c3B4a5968778695A4B3C2D1E0f", key.data()));
  EXPECT_EQ(HexBytes(key.data(), 16), "f0e1d2c3b4a5968778695a4b3c2d1e0f");
  for (const char* bad :
       {"", "000102030405060708090a0b0c0d0e0", "000102030405060708090a0b0c0d0e0f0",
        "000102030405060708090a0b0c0d0e0g", "0x0102030405060708090a0b0c0d0e0f"}) {
    const std::array<uint8_t, 16> before = key;
    EXPECT_FALSE(ParseHexKeyStrict(bad, key.data())) << bad;
    EXPECT_EQ(key, before) << bad;
  }
  ASSERT_TRUE(ParseHexKeyTolerant("zz0102030405060708090a0b0c0d0eq1", key.data()));
  EXPECT_EQ(HexBytes(key.data(), 16), "f00102030405060708090a0b0c0d0e0f");
  EXPECT_FALSE(ParseHexKeyTolerant("0102", key.data()));

  struct Row {
    const char* text;
    int64_t min, max;
    bool ok;
    int64_t value;
  };
  const Row rows[] = {{"0XfF", 0, 255, true, 255},
                      {"-0x10", -100, 100, true, -16},
                      {"-9223372036854775808", INT64_MIN, 0, true, INT64_MIN},
                      {"9223372036854775808", 0, INT64_MAX, false, 0},
                      {"", 0, 9, false, 0},
                      {"+1", 0, 9, false, 0},
                      {"0x-1", -9, 9, false, 0},
                      {"1 ", 0, 9, false, 0}};
  for (const Row& row : rows) {
    int64_t value = 7;
    EXPECT_EQ(ParseInteger(row.text, row.min, row.max, &value), row.ok) << row.text;
    EXPECT_EQ(value, row.ok ? row.value : 7) << row.text;
  }
}

// Python's json module is the oracle: each line must be one line for str.splitlines(), load
// strictly, and hold the raw bytes decoded as UTF-8 with every other byte read as Windows-1252
// (its unassigned bytes as U+0081 etc.).
constexpr const char* kJsonOracle = R"(
import codecs, json, sys
codecs.register_error('fallback', lambda e: (bytes([e.object[e.start]]).decode(
    'cp1252', 'ignore') or chr(e.object[e.start]), e.start + 1))
lines = open(sys.argv[1], 'rb').read().split(b'\n')[:-1]
for number, raw in enumerate(lines, 1):
    line = raw.decode('utf-8')
    assert len(line.splitlines()) == 1, number
    record = json.loads(line)
    assert record['json'] == bytes.fromhex(record['raw']).decode('utf-8', 'fallback'), number
    record['json'].encode('utf-8')
print('ok %d' % len(lines))
)";

TEST(JsonString, EveryByteStringGivesOneLineOfTheIntendedText) {
  if (std::system("python3 -c 'import json' >/dev/null 2>&1") != 0) GTEST_SKIP() << "no python3";
  // Escapes, UTF-8, separators some readers end lines at, broken sequences; then every byte, and
  // every pair from a high byte on followed by two continuation bytes.
  std::vector<std::string> texts = {
      "q \" b \\ s / \\\" \r\n\t\f\b\a\x1b\x7f\x01 \xE6\x8E\xA5 \xC3\xA9 \xF0\x9F\x98\x80",
      "a\xE2\x80\xA8 b\xE2\x80\xA9 c\xC2\x85 \xE6\x8E \xED\xA0\x80 \xC0\xAF \xF4\x90\x80\x80 "
      "\xF0\x9F\x98"};
  for (int b = 0; b < 256; ++b) texts.push_back(std::string(1, static_cast<char>(b)));
  for (int b = 0x8000; b < 0x10000; ++b) texts.push_back({char(b >> 8), char(b), '\xBF', '\x80'});
  const std::string dir = ::testing::TempDir(), lines = dir + "/lines.json";
  {
    std::ofstream out(lines, std::ios::binary);
    for (const std::string& t : texts) {
      const auto* bytes = reinterpret_cast<const uint8_t*>(t.data());
      out << "{\"raw\":\"" << HexBytes(bytes, t.size()) << "\",\"json\":" << JsonString(t) << "}\n";
    }
    std::ofstream(dir + "/oracle.py") << kJsonOracle;
  }
  std::system(("python3 " + dir + "/oracle.py " + lines + " >" + dir + "/said 2>&1").c_str());
  std::ifstream said(dir + "/said");
  EXPECT_EQ(std::string((std::istreambuf_iterator<char>(said)), {}),
            "ok " + std::to_string(texts.size()) + "\n");
  // The escapes are the short ones JSON has where it has one, lowercase \u elsewhere.
  EXPECT_EQ(JsonString("a\"b\\c\n\x01\r\t\x7f caf\xC3\xA9 caf\xE9 \x80\xE2\x80\xA8"),
            "\"a\\\"b\\\\c\\n\\u0001\\r\\t\\u007f caf\xC3\xA9 caf\\u00e9 \\u20ac\\u2028\"");
}

// Refusals keep their Winsock codes; a close from another thread wakes a blocked receive or
// accept, and no call after it touches a descriptor (sends into a reset connection: the vmedia
// fault injection).
TEST(Socket, RefusalsClosesAndResets) {
  uint32_t a;
  EXPECT_FALSE(ParseIpv4("10.1.2", &a) || ParseIpv4("192.168.100.2001", &a));
  EXPECT_FALSE(TcpSocket::Create()->Connect("localhost", 23));
  EXPECT_EQ(LastSocketError(), kWsaEaddrnotavail);
  auto listener = TcpSocket::Listen("127.0.0.1", 0);
  const uint16_t closed = TcpSocket::Listen("127.0.0.1", 0)->LocalPort();  // closed again at once
  EXPECT_FALSE(TcpSocket::Create()->Connect("127.0.0.1", closed));
  EXPECT_EQ(LastSocketError(), kWsaEconnrefused);
  EXPECT_NE(std::string(SocketErrorText(10054)).find("\"Port Unreachable\""), std::string::npos);
  auto client = TcpSocket::Create();
  ASSERT_TRUE(client->Connect("127.0.0.1", listener->LocalPort()));
  auto server = listener->Accept();
  char b[4];
  auto reader = std::async(std::launch::async, [&] { return client->Receive(b, 1); });
  auto accepter = std::async(std::launch::async, [&] { return listener->Accept(); });
  std::this_thread::sleep_for(50ms);
  client->Close();
  listener->Close();
  ASSERT_EQ(reader.wait_for(5s), std::future_status::ready);
  EXPECT_EQ(reader.get(), 0);
  EXPECT_EQ(accepter.get(), nullptr);
  EXPECT_EQ(client->Receive(b, 1), 0);
  EXPECT_EQ(client->Send("x", 1), -1);
  EXPECT_EQ(client->BytesAvailable(), -1);
}

// Each text has its own Japanese twin, valid UTF-8 as iconv reads it, with the same conversions in
// the same order so that the same arguments format it; the current language picks the table.
TEST(Strings, JapaneseTwinsKeepTheConversionsAndTheLanguagePicksTheTable) {
  const std::regex conversion("%[-+ #0]*[0-9]*(\\.[0-9]+)?(hh|h|ll|l|L|z|j|t)?[diouxXeEfgGcsp%]");
  const auto conversions = [&](const std::string& text) {
    std::vector<std::string> found;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), conversion);
         it != std::sregex_iterator(); ++it)
      found.push_back(it->str());
    return found;
  };
  EXPECT_EQ(conversions("%.2f %d%03d %s %%").size(), 5u);
  iconv_t cd = iconv_open("UTF-32LE", "UTF-8");
  int texts = 0;
  for (int id = 0; id < 1000; ++id) {
    const std::string text = LoadString(id, Language::kEnglish);
    if (text.empty()) continue;
    ++texts;
    SCOPED_TRACE("string " + std::to_string(id));
    std::string japanese = LoadString(id, Language::kJapanese);
    EXPECT_NE(japanese, text);
    EXPECT_EQ(conversions(japanese), conversions(text));
    EXPECT_LE(japanese.size(), 255u);
    std::vector<char> out(japanese.size() * 4 + 4);
    char *in = japanese.data(), *to = out.data();
    size_t inLeft = japanese.size(), outLeft = out.size();
    EXPECT_NE(iconv(cd, &in, &inLeft, &to, &outLeft), static_cast<size_t>(-1));
  }
  iconv_close(cd);
  EXPECT_GT(texts, 30);
  const Language before = UiLanguage();
  SetUiLanguage(Language::kJapanese);
  EXPECT_TRUE(JapaneseForms());
  EXPECT_STREQ(LoadString(132), LoadString(132, Language::kJapanese));
  SetUiLanguage(before);
}

// Lines prefixed with file and line and cut at 1,023 characters; to a file too,
// the owner's alone whatever the umask.
TEST(Trace, CaptureAndFile) {
  {
    testing::TraceCapture capture;
    const int line = __LINE__ + 1;
    RC_TRACE("Key index: %d\n", 7);
    RC_TRACE("%s", std::string(5000, 'x').c_str());
    ASSERT_EQ(capture.Lines().size(), 2u);
    EXPECT_EQ(capture.Lines()[0],
              "PlatformTest.cpp(" + std::to_string(line) + ") : Key index: 7\n");
    EXPECT_EQ(capture.Lines()[1].size(), 1023u);
  }
  const std::string path = ::testing::TempDir() + "/trace.txt";
  std::remove(path.c_str());
  const mode_t mask = umask(022);
  ASSERT_TRUE(trace::EnableTo(path));
  umask(mask);
  struct stat st {};
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  RC_TRACE("to file %s\n", "ok");
  trace::Disable();
  std::ifstream in(path);
  const std::string content((std::istreambuf_iterator<char>(in)), {});
  EXPECT_NE(content.find(") : to file ok\n"), std::string::npos);
  EXPECT_FALSE(trace::EnableTo("/nonexistent-dir/x/trace.txt"));
  EXPECT_EQ(trace::Masked("0123456789ABCDEF0123456789ABCDEF"), "<32 characters hidden>");
}

}  // namespace
}  // namespace remcons
