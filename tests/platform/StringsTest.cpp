#include "platform/Strings.h"

#include <gtest/gtest.h>

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

bool ValidUtf8(const std::string& s) {
  size_t n = 0;
  while (n < s.size()) {
    const auto c = static_cast<unsigned char>(s[n]);
    size_t extra;
    if (c < 0x80) {
      extra = 0;
    } else if ((c & 0xE0) == 0xC0) {
      extra = 1;
    } else if ((c & 0xF0) == 0xE0) {
      extra = 2;
    } else if ((c & 0xF8) == 0xF0) {
      extra = 3;
    } else {
      return false;
    }
    if (n + extra >= s.size() && extra > 0) return false;
    for (size_t k = 1; k <= extra; ++k) {
      if ((static_cast<unsigned char>(s[n + k]) & 0xC0) != 0x80) return false;
    }
    n += extra + 1;
  }
  return true;
}

// Each number has its own Japanese text (not the English fallback), valid UTF-8, holding the same
// printf conversions in the same order so that the same arguments format it.
// The English texts themselves are held by the tests of the code that shows them.
TEST(Strings, JapaneseTwinsKeepTheConversions) {
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

TEST(Strings, ConversionExtractorSeesEveryKind) {
  EXPECT_EQ(Conversions("a %.2f b %d%03d c 0x%x %s %%"),
            (std::vector<std::string>{"%.2f", "%d", "%03d", "%x", "%s", "%%"}));
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
