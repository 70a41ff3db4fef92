#include "platform/Strings.h"

#include <gtest/gtest.h>
#include <iconv.h>

#include <regex>
#include <string>
#include <vector>

namespace remcons {
namespace {

std::vector<std::string> Conversions(const std::string& text) {
  static const std::regex conversion(
      "%[-+ #0]*[0-9]*(\\.[0-9]+)?(hh|h|ll|l|L|z|j|t)?[diouxXeEfgGcsp%]");
  std::vector<std::string> found;
  for (auto it = std::sregex_iterator(text.begin(), text.end(), conversion);
       it != std::sregex_iterator(); ++it) {
    found.push_back(it->str());
  }
  return found;
}

// UTF-8 as the C library's iconv reads it.
bool ValidUtf8(std::string s) {
  iconv_t cd = iconv_open("UTF-32LE", "UTF-8");
  std::vector<char> out(s.size() * 4 + 4);
  char *in = s.data(), *to = out.data();
  size_t inLeft = s.size(), outLeft = out.size();
  const bool ok = iconv(cd, &in, &inLeft, &to, &outLeft) != static_cast<size_t>(-1);
  iconv_close(cd);
  return ok && inLeft == 0;
}

// Each number has its own Japanese text (not the English fallback), valid UTF-8, holding the same
// printf conversions in the same order so that the same arguments format it.
// The English texts themselves are held by the tests of the code that shows them.
TEST(Strings, JapaneseTwinsKeepTheConversions) {
  EXPECT_EQ(Conversions("a %.2f b %d%03d c 0x%x %s %%"),
            (std::vector<std::string>{"%.2f", "%d", "%03d", "%x", "%s", "%%"}));
  EXPECT_FALSE(ValidUtf8("caf\xE9"));
  int texts = 0;
  for (int id = 0; id < 1000; ++id) {
    const std::string text = LoadString(id, Language::kEnglish);
    if (text.empty()) continue;
    ++texts;
    SCOPED_TRACE("string " + std::to_string(id));
    const std::string japanese = LoadString(id, Language::kJapanese);
    EXPECT_NE(japanese, text);
    EXPECT_TRUE(ValidUtf8(japanese));
    EXPECT_EQ(Conversions(japanese), Conversions(text));
    EXPECT_LE(japanese.size(), 255u);
  }
  EXPECT_GT(texts, 30);
}

TEST(Strings, CurrentLanguageSelectsTheTable) {
  const Language before = UiLanguage();
  SetUiLanguage(Language::kJapanese);
  EXPECT_TRUE(JapaneseForms());
  EXPECT_STREQ(LoadString(132), LoadString(132, Language::kJapanese));
  SetUiLanguage(Language::kEnglish);
  EXPECT_FALSE(JapaneseForms());
  EXPECT_STREQ(LoadString(132), "Video suspended");
  EXPECT_STREQ(LoadString(9999), "");
  SetUiLanguage(before);
}

}  // namespace
}  // namespace remcons
