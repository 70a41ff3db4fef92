#include "session/RemCons.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "platform/Hex.h"
#include "session/PageFile.h"
#include "session/SessionRig.h"
#include "support/TraceCapture.h"

namespace remcons {
namespace {

using testing::EventLog;
using testing::TraceCapture;

// The defaults of a new control, in interface order.
const char* const kDefaults[] = {"",  "23", "1024", "1280", "1", "",  "0",  "",
                                 "",  "0",  "0",    "",     "0", "0", "15", "0",
                                 "0", "",   "9300", "0",    "0", "0", "0",  "0"};

std::string Get(CRemCons& c, std::string_view name) {
  for (const PropertyInfo& info : kRemConsProperties) {
    if (name != info.name) continue;
    std::string text;
    EXPECT_EQ(info.get(c, &text), S_OK);
    return text;
  }
  ADD_FAILURE() << name;
  return {};
}

// Every property of the table has its default, and every get refuses a null pointer instead of
// writing through it.
TEST(RemConsProperties, DefaultsAndNullOutputPointers) {
  CRemCons c;
  static_assert(std::size(kRemConsProperties) == std::size(kDefaults));
  for (size_t i = 0; i < std::size(kRemConsProperties); ++i) {
    const PropertyInfo& info = kRemConsProperties[i];
    EXPECT_EQ(info.dispid, int(i + 1));
    EXPECT_EQ(Get(c, info.name), kDefaults[i]) << info.name;
    EXPECT_EQ(info.get(c, nullptr), E_POINTER) << info.name;
  }
  EXPECT_EQ(HexBytes(c.Properties().vmKey, 16), std::string(32, '0'));
}

// One put through its text form, what it returns, what then reads back, and its trace line; no
// other property changes.
TEST(RemConsProperties, PutsTable) {
  struct Case {
    const char* name;
    std::string value;
    HRESULT result;
    std::string readBack;
    const char* trace;  // nullptr: no line expected
  };
  const Case cases[] = {
      {"port", "0x1F90", S_OK, "8080", nullptr},
      {"port", "65536", S_FALSE, "23", "CRemCons: Error - invalid value \"65536\" for port.\n"},
      {"encryption", "5", S_OK, "0", "Encryption set to 5\n"},
      {"keyIndex", "0x01020304", S_OK, "0", "Key index: 16909060\n"},
      {"mouseMode", "256", S_FALSE, "0",
       "CRemCons: Error - invalid value \"256\" for mouseMode.\n"},
      {"decryptKey", "00112233445566778899aabbccddeef", S_FALSE, "0", "Decrypt key is not valid."},
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
    EXPECT_EQ(capture.Texts(),
              k.trace ? std::vector<std::string>{k.trace} : std::vector<std::string>{});
    for (size_t i = 0; i < std::size(kRemConsProperties); ++i) {
      const std::string_view name = kRemConsProperties[i].name;
      if (name == k.name || (name == "decryptKey" && k.name == std::string_view("encryption")))
        continue;
      EXPECT_EQ(Get(c, name), kDefaults[i]) << name;
    }
  }
}

// Keys of 32 hexadecimal characters (a pair that is not hex leaves its byte alone) that never
// read back; the VM key's refusal text, and any other 32 characters authorize; secrets stay out
// of every trace line.
TEST(RemConsProperties, KeysAndSecrets) {
  CRemCons c;
  TraceCapture capture;
  // A pair that is not hexadecimal leaves its byte alone.
  ASSERT_EQ(c.put_decryptKey("zz1g" + std::string(28, '7')), S_OK);
  EXPECT_EQ(HexBytes(c.Properties().decryptKey, 16), "0000" + std::string(28, '7'));
  c.put_encryption(1);
  EXPECT_EQ(Get(c, "decryptKey") + Get(c, "encryptKey"), "1");
  ASSERT_EQ(c.put_vmKey(kVmKeyRefused), S_OK);
  EXPECT_EQ(c.Properties().vmNotAuthorized, 1);
  EXPECT_TRUE(capture.Has("VM Key not authorized = VMKEYREFUSEDQQQQQQQQQQQQQQQQQQQQ.\n"));
  // The refusal text still runs through the key parsing: its pairs "EF" and "ED" are hex.
  EXPECT_EQ(HexBytes(c.Properties().vmKey, 16), "000000ef00ed00000000000000000000");
  const std::string secret = "not hex at all but 32 chars long";
  ASSERT_EQ(c.put_vmKey(secret), S_OK);
  EXPECT_EQ(c.Properties().vmNotAuthorized, 0);
  EXPECT_EQ(HexBytes(c.Properties().vmKey, 16), "000000ef00ed00000000000000000000");
  ASSERT_EQ(c.put_vmKey(kVmKeyRefused), S_OK);
  EXPECT_EQ(c.put_vmKey(std::string(kVmKeyRefused) + "Q"), S_FALSE);
  EXPECT_EQ(c.Properties().vmNotAuthorized, 1);
  c.put_login("c2VjcmV0OnBhc3N3b3Jk");
  ASSERT_EQ(c.put_encryptKey("00112233445566778899AABBccddeeff"), S_OK);
  EXPECT_EQ(HexBytes(c.Properties().encryptKey, 16), "00112233445566778899aabbccddeeff");
  for (const std::string& s :
       {secret, std::string("00112233445566778899AABB"), std::string("c2VjcmV0OnBhc3N3b3Jk")})
    EXPECT_FALSE(capture.Contains(s)) << s;
}

TEST(RemConsProperties, PageHostAsTarget) {
  const std::pair<const char*, const char*> cases[] = {
      {"https://user:pw@192.168.1.20:8443/x?y#z", "192.168.1.20"},
      {"http://255.255.255.255", "255.255.255.255"},
      {"http://192.168.100.2001/", nullptr},   // 17 characters
      {"http://mp.rack.lab.local/", nullptr},  // four labels, not an address
      {"http://[::1]/", nullptr},
      {"", nullptr},
  };
  for (const auto& [location, target] : cases) {
    CRemCons c;
    c.put_target("172.16.0.5");
    EXPECT_EQ(c.ApplyPageHost(location), target != nullptr) << location;
    EXPECT_EQ(Get(c, "target"), target ? target : "172.16.0.5") << location;
  }
}

TEST(RemConsEvents, EverySinkReceivesEveryEventUntilItIsDisconnected) {
  CRemCons c;
  EventLog a, b;
  const uint32_t ca = c.Advise(&a);
  EXPECT_NE(c.Advise(&b), ca);
  c.put_width(1024);
  c.put_height(768);
  c.StoreStatusText("Video suspended");
  c.FireOnResize();
  c.FireOnStatus();
  c.FireOnDialog();
  EXPECT_TRUE(c.Unadvise(ca) && !c.Unadvise(ca));
  c.FireOnShutdown();
  EXPECT_EQ(a.Events(),
            (std::vector<std::string>{"OnResize 1024x768", "OnStatus 1024x768 | Video suspended",
                                      "OnDialog Video suspended"}));
  EXPECT_EQ(b.Events().back(), "OnShutdown");
}

// --- Loading by name ---

TEST(PropertyBag, Numbers) {
  const struct {
    const char* text;
    uint32_t max, value;  // value 99: refused
  } cases[] = {{"0x17", 0xFFFF, 23},  {" 42\t", 0xFFFF, 42},    {"65535", 0xFFFF, 65535},
               {"65536", 0xFFFF, 99}, {"4294967295", ~0u, ~0u}, {"4294967296", ~0u, 99},
               {"", 0xFFFF, 99},      {"0x", 0xFFFF, 99},       {"-1", 0xFFFF, 99},
               {"12abc", 0xFFFF, 99}};
  for (const auto& k : cases) {
    uint32_t v = 99;
    EXPECT_EQ(ParsePropertyNumber(k.text, k.max, &v), k.value != 99) << k.text;
    EXPECT_TRUE(k.value == 99 || v == k.value) << k.text;
  }
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
  const PropertyBag expected = {
      {"target", "10.0.0.2"},    {"port", "2323"},
      {"fullScreen", "0"},       {"serverName", "Rack & Row \"7\" AB<>\xC2\xA0"},
      {"login", "dXNlcjpwYXNz"}, {"muServer", "it's &unknown; &"},
      {"kbdMode", ""},           {"vmPort", "0x10"}};
  EXPECT_EQ(ParseHtmlParams(page), expected);
}

// Pages without a marked object, nested objects, pages cut inside a tag, and a hostile tag of
// 100,000 attributes whose repeats come after them.
TEST(PropertyBag, HtmlHostileAndUnusualPages) {
  std::string many = "<object classid=RemCons><param";
  for (int i = 0; i < 100000; ++i) many += " a" + std::to_string(i) + "=x";
  many += " value=first name=n value=second name=m a7=y></object>";
  const std::pair<std::string, PropertyBag> cases[] = {
      {"<object></object><object><param name=a value=1></object>"
       "<object><param name=b value=2></object>",
       {{"a", "1"}}},
      {"<object data=x><param name=a value=1><object classid=RemCons>"
       "<param name=b value=2></object><param name=c value=3></object>",
       {{"b", "2"}}},
      {"no markup at all < 3 > 2", {}},
      {"<object><param name=\"unterminated value=1>", {}},
      {"<object><param name=a value=\"1", {}},
      {"<object><param name=a value=1><param name=b value=2", {{"a", "1"}}},
      {many, {{"n", "first"}}},
  };
  for (const auto& [page, expected] : cases) EXPECT_EQ(ParseHtmlParams(page), expected);
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

}  // namespace
}  // namespace remcons
