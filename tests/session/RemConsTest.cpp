#include "session/RemCons.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <type_traits>
#include <vector>

#include "session/PageFile.h"
#include "session/SessionRig.h"
#include "support/TraceCapture.h"

namespace remcons {
namespace {

using testing::EventLog;
using testing::TraceCapture;

// Each property's get method: read as text, and called with a null pointer.
struct Getter {
  std::function<std::string(CRemCons&)> read;
  std::function<HRESULT(CRemCons&)> readNull;
};

template <typename T>
Getter MakeGetter(HRESULT (CRemCons::*get)(T*)) {
  return {[get](CRemCons& c) -> std::string {
            T v{};
            EXPECT_EQ((c.*get)(&v), S_OK);
            if constexpr (std::is_same_v<T, BSTR>) {
              return v;
            } else {
              return std::to_string(v);
            }
          },
          [get](CRemCons& c) { return (c.*get)(nullptr); }};
}

#define GETTER(name) \
  { #name, MakeGetter(&CRemCons::get_##name) }
const std::map<std::string, Getter>& Getters() {
  static const std::map<std::string, Getter> getters = {
      GETTER(target),        GETTER(port),          GETTER(height),     GETTER(width),
      GETTER(fullScreen),    GETTER(vmKey),         GETTER(vmPort),     GETTER(serverName),
      GETTER(login),         GETTER(encryption),    GETTER(decryptKey), GETTER(encryptKey),
      GETTER(keyIndex),      GETTER(mouseMode),     GETTER(timeout),    GETTER(uniqueFeatures),
      GETTER(muMode),        GETTER(muServer),      GETTER(muPort),     GETTER(kbdMode),
      GETTER(screenCapture), GETTER(clientCapture), GETTER(autoExport), GETTER(scrPort)};
  return getters;
}
#undef GETTER

std::string Get(CRemCons& c, const std::string& name) {
  return Getters().at(name).read(c);
}

const std::map<std::string, std::string>& Defaults() {
  static const std::map<std::string, std::string> defaults = {
      {"target", ""},         {"port", "23"},         {"height", "1024"},  {"width", "1280"},
      {"fullScreen", "1"},    {"vmKey", ""},          {"vmPort", "0"},     {"serverName", ""},
      {"login", ""},          {"encryption", "0"},    {"decryptKey", "0"}, {"encryptKey", ""},
      {"keyIndex", "0"},      {"mouseMode", "0"},     {"timeout", "15"},   {"uniqueFeatures", "0"},
      {"muMode", "0"},        {"muServer", ""},       {"muPort", "9300"},  {"kbdMode", "0"},
      {"screenCapture", "0"}, {"clientCapture", "0"}, {"autoExport", "0"}, {"scrPort", "0"},
  };
  return defaults;
}

std::vector<uint8_t> Key(const uint8_t* key) {
  return std::vector<uint8_t>(key, key + 16);
}

TEST(RemConsProperties, Defaults) {
  CRemCons c;
  ASSERT_EQ(std::size(kRemConsProperties), Defaults().size());
  for (const PropertyInfo& info : kRemConsProperties) {
    EXPECT_TRUE(Defaults().count(info.name) && Getters().count(info.name)) << info.name;
  }
  for (const auto& [name, value] : Defaults()) EXPECT_EQ(Get(c, name), value) << name;
  const RemConsProperties& p = c.Properties();
  EXPECT_EQ(p.vmNotAuthorized, 0);
  EXPECT_EQ(Key(p.decryptKey), std::vector<uint8_t>(16, 0));
  EXPECT_EQ(Key(p.vmKey), std::vector<uint8_t>(16, 0));
  EXPECT_EQ(p.cx, 0u);
}

// One put through its text form, what it returns, what then reads back, and its trace line.
TEST(RemConsProperties, PutsTable) {
  struct Case {
    const char* name;
    std::string value;
    HRESULT result;
    std::string readBack;
    const char* trace;  // nullptr: no line expected
  };
  const Case cases[] = {
      {"target", "10.20.30.40", S_OK, "10.20.30.40", nullptr},
      {"port", "2323", S_OK, "2323", nullptr},
      {"port", "0x1F90", S_OK, "8080", nullptr},
      {"port", "65536", S_FALSE, "23", "CRemCons: Error - invalid value \"65536\" for port.\n"},
      {"port", "twenty", S_FALSE, "23", "CRemCons: Error - invalid value \"twenty\" for port.\n"},
      {"fullScreen", "7", S_OK, "1", "Setting full screen\n"},
      {"fullScreen", "0", S_OK, "0", "Setting windowed\n"},
      {"encryption", "5", S_OK, "0", "Encryption set to 5\n"},
      {"keyIndex", "0x01020304", S_OK, "0", "Key index: 16909060\n"},
      {"mouseMode", "2", S_OK, "2", nullptr},
      {"mouseMode", "3", S_FALSE, "0", "CRemCons: Error - invalid parameter for mouseMode.\n"},
      {"mouseMode", "256", S_FALSE, "0",
       "CRemCons: Error - invalid value \"256\" for mouseMode.\n"},
      {"timeout", "30", S_OK, "30", "RemCons: timeout is 30.\n"},
      {"muMode", "2", S_OK, "2", "muMode = 2\n"},
      {"muServer", "10.0.0.1", S_OK, "10.0.0.1", "muLeader = 10.0.0.1\n"},
      {"muPort", "9400", S_OK, "9400", "muPort = 9400\n"},
      {"kbdMode", "1", S_OK, "1", "kbdMode = 1\n"},
      {"screenCapture", "1", S_OK, "1", "screenCapture = 1\n"},
      {"clientCapture", "1", S_OK, "1", "clientCapture = 1\n"},
      {"autoExport", "1", S_OK, "1", "autoExport = 1\n"},
      {"scrPort", "17990", S_OK, "17990", "scrPort = 17990\n"},
      {"uniqueFeatures", "12", S_OK, "12", nullptr},
      {"vmPort", "1234", S_OK, "1234", nullptr},
      {"width", "1024", S_OK, "1024", nullptr},
      {"height", "768", S_OK, "768", nullptr},
      {"serverName", "web-01", S_OK, "web-01", nullptr},
      {"login", "dXNlcjpwYXNz", S_OK, "dXNlcjpwYXNz", nullptr},
      {"encryptKey", "00112233445566778899aabbccddeeff", S_OK, "", nullptr},
      {"decryptKey", "00112233445566778899aabbccddeef", S_FALSE, "0", "Decrypt key is not valid."},
      {"encryptKey", "00112233445566778899aabbccddeeff0", S_FALSE, "", "Encrypt key is not valid."},
      {"vmKey", "4142434445464748494a4b4c4d4e4f50", S_OK, "ABCDEFGHIJKLMNOP",
       "VM Key authorized = <32 characters hidden>.\n"},
      {"vmKey", "41424300000000000000000000000000", S_OK, "ABC",
       "VM Key authorized = <32 characters hidden>.\n"},
      {"vmKey", "short", S_FALSE, "", "VM Key not valid."},
      // Long texts are cut at 255 bytes, never inside a character; an embedded zero ends them.
      {"target", std::string(300, 'a'), S_OK, std::string(255, 'a'), nullptr},
      {"serverName", std::string(254, 'b') + "\xC3\xA9", S_OK, std::string(254, 'b'), nullptr},
      {"login", std::string(252, 'c') + "\xE3\x81\x82", S_OK,
       std::string(252, 'c') + "\xE3\x81\x82", nullptr},
      {"muServer", std::string("10.0.0.1\0junk", 13), S_OK, "10.0.0.1", "muLeader = 10.0.0.1\n"},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(std::string(k.name) + " = " + k.value.substr(0, 40));
    CRemCons c;
    TraceCapture capture;
    EXPECT_EQ(c.PutByName(k.name, k.value), k.result);
    EXPECT_EQ(Get(c, k.name), k.readBack);
    if (k.trace) {
      EXPECT_EQ(capture.Texts(), std::vector<std::string>{k.trace});
    } else {
      EXPECT_TRUE(capture.Texts().empty()) << capture.Texts().front();
    }
    // Nothing else changed.
    for (const auto& [name, value] : Defaults()) {
      if (name == k.name || (name == "decryptKey" && std::string(k.name) == "encryption")) {
        continue;
      }
      EXPECT_EQ(Get(c, name), value) << name;
    }
  }
}

TEST(RemConsProperties, HexKeys) {
  CRemCons c;
  ASSERT_EQ(c.put_decryptKey("00112233445566778899AABBccddeeff"), S_OK);
  const std::vector<uint8_t> expected = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77,
                                         0x88, 0x99, 0xaa, 0xbb, 0xcc, 0xdd, 0xee, 0xff};
  EXPECT_EQ(Key(c.Properties().decryptKey), expected);
  // 31 and 33 characters: refused, the key stays.
  EXPECT_EQ(c.put_decryptKey(std::string(31, 'f')), S_FALSE);
  EXPECT_EQ(c.put_decryptKey(std::string(33, 'f')), S_FALSE);
  EXPECT_EQ(Key(c.Properties().decryptKey), expected);
  // A pair that is not two hexadecimal digits leaves its byte alone.
  ASSERT_EQ(c.put_decryptKey("zz1g" + std::string(28, '7')), S_OK);
  std::vector<uint8_t> mixed = expected;
  for (int n = 2; n < 16; ++n) mixed[n] = 0x77;
  EXPECT_EQ(Key(c.Properties().decryptKey), mixed);
  // The two keys are separate fields.
  ASSERT_EQ(c.put_encryptKey(std::string(32, '1')), S_OK);
  EXPECT_EQ(Key(c.Properties().encryptKey), std::vector<uint8_t>(16, 0x11));
  EXPECT_EQ(Key(c.Properties().decryptKey), mixed);
  // Read-back never shows them.
  BSTR text = "x";
  EXPECT_EQ(c.get_encryptKey(&text), S_OK);
  EXPECT_EQ(text, "");
  EXPECT_EQ(c.get_decryptKey(&text), S_OK);
  EXPECT_EQ(text, "0");
  c.put_encryption(1);
  EXPECT_EQ(c.get_decryptKey(&text), S_OK);
  EXPECT_EQ(text, "1");
  EXPECT_EQ(c.Properties().encryption, 1);
}

TEST(RemConsProperties, VmKeyRefusalAndAuthorization) {
  CRemCons c;
  TraceCapture capture;
  ASSERT_EQ(c.put_vmKey(kVmKeyRefused), S_OK);
  EXPECT_EQ(c.Properties().vmNotAuthorized, 1);
  EXPECT_TRUE(capture.Has("VM Key not authorized = VMKEYREFUSEDQQQQQQQQQQQQQQQQQQQQ.\n"));
  // The refusal text still runs through the key parsing: its pairs "EF" and "ED" are hex.
  std::vector<uint8_t> refusedKey(16, 0);
  refusedKey[3] = 0xEF;
  refusedKey[5] = 0xED;
  EXPECT_EQ(Key(c.Properties().vmKey), refusedKey);

  // Any other 32 characters authorize, hex or not, and the trace never shows them.
  capture.Clear();
  const std::string secret = "not hex at all but 32 chars long";
  ASSERT_EQ(secret.size(), 32u);
  ASSERT_EQ(c.put_vmKey(secret), S_OK);
  EXPECT_EQ(c.Properties().vmNotAuthorized, 0);
  EXPECT_EQ(Key(c.Properties().vmKey), refusedKey);
  EXPECT_FALSE(capture.Contains(secret));
  EXPECT_TRUE(capture.Has("VM Key authorized = <32 characters hidden>.\n"));

  // Refused lengths change nothing, the flag included.
  ASSERT_EQ(c.put_vmKey(kVmKeyRefused), S_OK);
  EXPECT_EQ(c.put_vmKey(std::string(kVmKeyRefused) + "Q"), S_FALSE);
  EXPECT_EQ(c.Properties().vmNotAuthorized, 1);

  // Secrets stay out of every trace line, whatever sets them.
  capture.Clear();
  const std::string hexKey = "0f1e2d3c4b5a69788796a5b4c3d2e1f0";
  c.put_vmKey(hexKey);
  c.put_decryptKey(hexKey);
  c.put_encryptKey(hexKey);
  c.put_login("c2VjcmV0OnBhc3N3b3Jk");
  EXPECT_FALSE(capture.Contains(hexKey));
  EXPECT_FALSE(capture.Contains("c2VjcmV0OnBhc3N3b3Jk"));
}

// Every get refuses a null pointer instead of writing through it.
TEST(RemConsProperties, NullOutputPointers) {
  CRemCons c;
  for (const auto& [name, getter] : Getters()) EXPECT_EQ(getter.readNull(c), E_POINTER) << name;
}

TEST(RemConsProperties, PageHostAsTarget) {
  struct Case {
    const char* location;
    bool replaced;
    const char* target;
  };
  const Case cases[] = {
      {"http://10.1.2.3/console.html", true, "10.1.2.3"},
      {"https://user:pw@192.168.1.20:8443/x?y#z", true, "192.168.1.20"},
      {"http://255.255.255.255", true, "255.255.255.255"},
      {"http://mp.example.com/console.html", false, "172.16.0.5"},
      {"http://ilo1.lab.example.com/", false, "172.16.0.5"},  // five labels
      {"http://192.168.100.2001/", false, "172.16.0.5"},      // 17 characters
      {"http://mp.rack.lab.local/", false, "172.16.0.5"},     // four labels, not an address
      {"http://a.b.c.d/", false, "172.16.0.5"},
      {"http://10.1.2.256/", false, "172.16.0.5"},
      {"http://010.1.2.3/", false, "172.16.0.5"},
      {"http://10.1.2.3./", false, "172.16.0.5"},
      {"http://[::1]/", false, "172.16.0.5"},
      {"file:///home/user/console.html", false, "172.16.0.5"},
      {"about:blank", false, "172.16.0.5"},
      {"", false, "172.16.0.5"},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.location);
    CRemCons c;
    c.put_target("172.16.0.5");
    EXPECT_EQ(c.ApplyPageHost(k.location), k.replaced);
    EXPECT_EQ(Get(c, "target"), k.target);
  }
}

TEST(RemConsEvents, EverySinkReceivesEveryEvent) {
  CRemCons c;
  EventLog a, b;
  const uint32_t ca = c.Advise(&a);
  const uint32_t cb = c.Advise(&b);
  EXPECT_NE(ca, 0u);
  EXPECT_NE(ca, cb);
  c.put_width(1024);
  c.put_height(768);
  c.StoreStatusText("Video suspended");
  c.FireOnResize();
  c.FireOnStatus();
  c.FireOnDialog();
  c.FireOnShutdown();
  const std::vector<std::string> expected = {"OnResize 1024x768",
                                             "OnStatus 1024x768 | Video suspended",
                                             "OnDialog Video suspended", "OnShutdown"};
  EXPECT_EQ(a.Events(), expected);
  EXPECT_EQ(b.Events(), expected);
  EXPECT_TRUE(c.Unadvise(ca));
  EXPECT_FALSE(c.Unadvise(ca));
  c.FireOnShutdown();
  EXPECT_EQ(a.Events().size(), 4u);
  EXPECT_EQ(b.Events().back(), "OnShutdown");
  EXPECT_EQ(c.Advise(nullptr), 0u);
}

TEST(RemConsEvents, StatusLineFormats) {
  CRemCons c;
  c.StoreStatusText("Attempting to connect to Kro remote console.");
  c.StoreStatusText2("User \"bob\" (10.0.0.7) joined the multi-user session.");
  EXPECT_EQ(c.StatusLine(), "1280x1024 | Attempting to connect to Kro remote console.");
  c.put_muMode(1);
  EXPECT_EQ(c.StatusLine(),
            "1280x1024 | Attempting to connect to Kro remote console. | User \"bob\" (10.0.0.7) "
            "joined the multi-user session.");
  // Two full texts make a line of at most 255 bytes, not split inside a character.
  c.StoreStatusText(std::string(200, 'x'));
  c.StoreStatusText2(std::string(300, 'y'));
  const std::string line = c.StatusLine();
  EXPECT_EQ(line.size(), 255u);
  EXPECT_EQ(line.substr(0, 15), "1280x1024 | xxx");
  c.StoreStatusText(std::string(242, 'x') + "\xE3\x81\x82");  // the character ends at byte 257
  c.put_muMode(0);
  EXPECT_EQ(c.StatusLine(), "1280x1024 | " + std::string(242, 'x'));
  EXPECT_EQ(c.StatusText().size(), 245u);
}

// --- Loading by name ---

TEST(PropertyBag, Numbers) {
  struct Case {
    const char* text;
    uint32_t max;
    bool ok;
    uint32_t value;
  };
  const Case cases[] = {
      {"23", 0xFFFF, true, 23},
      {"0x17", 0xFFFF, true, 23},
      {" 42\t", 0xFFFF, true, 42},
      {"0X1f", 0xFF, true, 31},
      {"65535", 0xFFFF, true, 65535},
      {"65536", 0xFFFF, false, 0},
      {"4294967295", 0xFFFFFFFFu, true, 0xFFFFFFFFu},
      {"4294967296", 0xFFFFFFFFu, false, 0},
      {"99999999999999999999", 0xFFFFFFFFu, false, 0},
      {"", 0xFFFF, false, 0},
      {"0x", 0xFFFF, false, 0},
      {"-1", 0xFFFF, false, 0},
      {"+1", 0xFFFF, false, 0},
      {"1e3", 0xFFFF, false, 0},
      {"12abc", 0xFFFF, false, 0},
      {"0", 0xFF, true, 0},
      {"007", 0xFF, true, 7},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.text);
    uint32_t v = 0;
    EXPECT_EQ(ParsePropertyNumber(k.text, k.max, &v), k.ok);
    if (k.ok) {
      EXPECT_EQ(v, k.value);
    }
  }
}

TEST(PropertyBag, Pairs) {
  std::string name, value;
  ASSERT_TRUE(ParseParamPair("login=dXNlcjo=", &name, &value));
  EXPECT_EQ(name + "|" + value, "login|dXNlcjo=");
  ASSERT_TRUE(ParseParamPair("target=", &name, &value));
  EXPECT_EQ(name + "|" + value, "target|");
  EXPECT_FALSE(ParseParamPair("target", &name, &value) ||
               ParseParamPair("=10.0.0.1", &name, &value));
}

TEST(PropertyBag, LoadsInMapOrderThroughThePutMethods) {
  CRemCons c;
  TraceCapture capture;
  const PropertyBag bag = {{"kbdMode", "1"},      {"muPort", "9400"}, {"MUMODE", "1"},
                           {"timeout", "abc"},    {"mouseMode", "3"}, {"_cy", "600"},
                           {"_cx", "800"},        {"port", "2300"},   {"decryptKey", "short"},
                           {"unknownThing", "1"}, {"port", "9999"}};
  EXPECT_EQ(c.Load(bag), S_FALSE);
  EXPECT_EQ(c.Properties().cx, 800u);
  EXPECT_EQ(c.Properties().cy, 600u);
  EXPECT_EQ(Get(c, "port"), "2300");  // the first of repeated names
  EXPECT_EQ(Get(c, "muMode"), "1");   // names compared without regard to case
  EXPECT_EQ(Get(c, "muPort"), "9400");
  EXPECT_EQ(Get(c, "kbdMode"), "1");
  EXPECT_EQ(Get(c, "timeout"), "15");  // refused: not a number
  EXPECT_EQ(Get(c, "mouseMode"), "0");
  EXPECT_EQ(Key(c.Properties().decryptKey), std::vector<uint8_t>(16, 0));
  EXPECT_EQ(capture.Texts(),
            (std::vector<std::string>{"Decrypt key is not valid.",
                                      "CRemCons: Error - invalid parameter for mouseMode.\n",
                                      "CRemCons: Error - invalid value \"abc\" for timeout.\n",
                                      "muMode = 1\n", "muPort = 9400\n", "kbdMode = 1\n"}));
  // Properties the bag does not name keep their defaults.
  for (const char* name : {"target", "height", "width", "fullScreen", "vmKey", "login",
                           "encryption", "muServer", "scrPort"}) {
    EXPECT_EQ(Get(c, name), Defaults().at(name)) << name;
  }
  CRemCons empty;
  EXPECT_EQ(empty.Load({}), S_OK);
  EXPECT_EQ(Get(empty, "target"), "");
  EXPECT_EQ(Get(empty, "port"), "23");
}

TEST(PropertyBag, HtmlParams) {
  const std::string page = R"html(<!DOCTYPE html>
<HTML><head><title><param name="title" value="no"></title>
<script>var s = '<object><param name="target" value="6.6.6.6"></object>';</script>
<style>p { color: red } /* <param name=x value=y> */</style></head>
<body>
<param name="outside" value="ignored">
<!-- <object><param name="target" value="7.7.7.7"></object> -->
<object id="other" type="application/x-other"><param name="width" value="1"></object>
<OBJECT ID=console CLASSID="clsid:00000000-remcons" width=100%>
  <PARAM NAME="target" VALUE="10.0.0.2">
  <param value='2323' name='port'>
  <param name=fullScreen value=0>
  <Param Name = "serverName"   Value = "Rack &amp; Row &quot;7&quot; &#x41;&#66;&lt;&gt;&nbsp;">
  <param name="login" value="dXNlcjpwYXNz" />
  <param name="muServer" value='it&apos;s &unknown; &amp'>
  <param name="kbdMode">
  <param value="orphan">
  <param name="vmPort" value="0x10">
</OBJECT>
</body></HTML>)html";
  const PropertyBag params = ParseHtmlParams(page);
  const PropertyBag expected = {
      {"target", "10.0.0.2"},    {"port", "2323"},
      {"fullScreen", "0"},       {"serverName", "Rack & Row \"7\" AB<>\xC2\xA0"},
      {"login", "dXNlcjpwYXNz"}, {"muServer", "it's &unknown; &"},
      {"kbdMode", ""},           {"vmPort", "0x10"}};
  EXPECT_EQ(params, expected);
}

TEST(PropertyBag, HtmlWithoutAMarkedObjectUsesTheFirstWithParams) {
  EXPECT_EQ(ParseHtmlParams("<object></object><object><param name=a value=1></object>"
                            "<object><param name=b value=2></object>"),
            (PropertyBag{{"a", "1"}}));
  // Nested fallback objects: each param belongs to the innermost open object.
  EXPECT_EQ(ParseHtmlParams("<object data=x><param name=a value=1><object classid=RemCons>"
                            "<param name=b value=2></object><param name=c value=3></object>"),
            (PropertyBag{{"b", "2"}}));
  EXPECT_TRUE(ParseHtmlParams("no markup at all < 3 > 2").empty());
  EXPECT_TRUE(ParseHtmlParams("<object><param name=\"unterminated value=1>").empty());
  // A page that ends inside a tag drops that tag.
  EXPECT_TRUE(ParseHtmlParams("<object><param name=a value=\"1").empty());
  EXPECT_EQ(ParseHtmlParams("<object><param name=a value=1><param name=b value=2"),
            (PropertyBag{{"a", "1"}}));
}

// A hostile tag of 100,000 attributes, repeats after them: the first of each name counts.
TEST(PropertyBag, HtmlTagOfManyAttributes) {
  std::string page = "<object classid=RemCons><param";
  for (int i = 0; i < 100000; ++i) page += " a" + std::to_string(i) + "=x";
  page += " value=first name=n value=second name=m a7=y></object>";
  EXPECT_EQ(ParseHtmlParams(page), (PropertyBag{{"n", "first"}}));
}

// Pages are read up to the limit; a larger file, a folder or a missing file is refused with why.
TEST(PropertyBag, ReadPageLimit) {
  const std::string path = ::testing::TempDir() + "/remcons-page.html";
  std::string html, error;
  for (size_t size : {kMaxPageBytes, kMaxPageBytes + 1}) {
    std::ofstream(path, std::ios::binary) << std::string(size - 1, ' ') << 'x';
    EXPECT_EQ(ReadPage(path, &html, &error), size == kMaxPageBytes) << size;
    EXPECT_EQ(html.size(), size == kMaxPageBytes ? size : 0u);
  }
  EXPECT_EQ(error, "the page " + path + " is larger than 4 MB: not a page that hosts a console");
  std::remove(path.c_str());
  for (const std::string& bad : {path, ::testing::TempDir()}) {
    EXPECT_FALSE(ReadPage(bad, &html, &error));
    EXPECT_EQ(error, "cannot read the page " + bad);
  }
}

// Pages cut and spliced at random: the parser must stay inside the text and report only named
// params (the sanitizer build checks the first).
TEST(PropertyBag, HtmlFragmentsAtRandom) {
  // The pieces, '|' between them.
  const std::string all =
      "<object classid='RemCons'>|</object>|<param name=|\"port\"| value=|'23'|&amp|&#x|&#|"
      "&#1114112;|<!--|-->|<script>|</script|<|>|/|=|\"|'| |<param|name|value|<!DOCTYPE|<?x|"
      "&quot;|&|;|a|0x1F|\xC3|\xA9";
  std::vector<std::string> pieces(1);
  for (char c : all) {
    if (c == '|') {
      pieces.emplace_back();
    } else {
      pieces.back().push_back(c);
    }
  }
  std::mt19937 rng(7);
  size_t found = 0;
  for (int round = 0; round < 3000; ++round) {
    std::string page;
    const int count = static_cast<int>(rng() % 40);
    for (int n = 0; n < count; ++n) page += pieces[rng() % pieces.size()];
    for (const auto& [name, value] : ParseHtmlParams(page)) {
      ASSERT_FALSE(name.empty()) << page;
      ++found;
    }
  }
  EXPECT_GT(found, 0u);  // the pieces do make params now and then
}

}  // namespace
}  // namespace remcons
