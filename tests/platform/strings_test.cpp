#include "platform/strings.h"

#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <string>
#include <vector>

namespace remcons {
namespace {

// Every numbered text the system shows or sends, exactly as it must read in English.
const std::map<int, std::string>& Expected() {
  static const std::map<int, std::string> texts = {
      {110, "Session Acquired by another user."},
      {111, "Session terminated by firmware update."},
      {112, "This drive type is already in use."},
      {113, "Invalid session key."},
      {115, "Session key has expired."},
      {116, "Drive has not been configured."},
      {117, "Virtual media permission is required."},
      {118, "Unable to connect to drive."},
      {119, "Invalid image type"},
      {130, "Attempting to connect to Kro remote console."},
      {131, "Attempting to connect to the session leader."},
      {132, "Video suspended"},
      {133, "The Multi-User session is full."},
      {134, "The Session Leader is not accepting new connections."},
      {135, "Connection to Kro lost"},
      {136, "Connection to session leader lost"},
      {137, "Elapse Time: %.2f sec"},
      {138, "The session leader has terminated your connection."},
      {139, "The session leader has closed the multi-user session."},
      {140, "Choose a folder to mount:\n\t(Folder is READ ONLY; MAX size is 1024MB)"},
      {141, "Unable to mount folder; verify path.(1)"},
      {142, "Selected folder exceeds maximum allowed folder size of %d MB."},
      {143, "System memory allocation failed. [%d]"},
      {144, "File error occurred on %s. [%d%03d]"},
      {145, "File copy error occurred. [%d%03d]"},
      {146, "Folder path creation error. [%d%03d]"},
      {147, "Selected folder exceeds maximum entries for file system root directory."},
      {148, "Invalid sector request 0x%x."},
      {149, "Invalid buffer size 0x%x."},
      {150, "Unknown error(%03d) while attempting to map Folder. Try again."},
      {151, "Accepted"},
      {153, "User \"%s\" (%s) disconnected"},
      {154, "The user \"%s\" (%s) would like to join the multi-user session."},
      {155, "User \"%s\" (%s) joined the multi-user session."},
      {156, "The user \"%s\" (%s) has requested control"},
      {157, "The user \"%s\" (%s) has relinquished control"},
      {158, "Session Leader disconnected user \"%s\" (%s)"},
  };
  return texts;
}

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

TEST(Strings, EnglishTextsAreExact) {
  for (const auto& [id, text] : Expected()) {
    EXPECT_EQ(LoadString(id, Language::kEnglish), text) << "string " << id;
  }
}

TEST(Strings, NoEnglishTextBeyondTheKnownNumbers) {
  for (int id = 0; id < 1000; ++id) {
    if (Expected().count(id)) continue;
    EXPECT_STREQ(LoadString(id, Language::kEnglish), "") << "string " << id;
  }
}

// Each number has its own Japanese text (not the English fallback), valid UTF-8, holding the same
// printf conversions in the same order so that the same arguments format it.
TEST(Strings, JapaneseTwinsKeepTheConversions) {
  for (const auto& [id, text] : Expected()) {
    SCOPED_TRACE("string " + std::to_string(id));
    const std::string japanese = LoadString(id, Language::kJapanese);
    EXPECT_NE(japanese, text);
    EXPECT_TRUE(ValidUtf8(japanese));
    EXPECT_EQ(Conversions(japanese), Conversions(text));
    EXPECT_LE(japanese.size(), 255u);
  }
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
