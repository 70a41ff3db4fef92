#include "platform/strings.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <map>

namespace remcons {
namespace {

using Table = std::map<int, const char*>;

const Table& EnglishTable() {
  static const Table table = {
      {110, "Session Acquired by another user."},
      {111, "Session terminated by firmware update."},
      {130, "Attempting to connect to Kro remote console."},
      {131, "Attempting to connect to the session leader."},
      {132, "Video suspended"},
      {133, "The Multi-User session is full."},
      {134, "The Session Leader is not accepting new connections."},
      {135, "Connection to Kro lost"},
      {136, "Connection to session leader lost"},
  };
  return table;
}

const Table& JapaneseTable() {
  static const Table table = {};
  return table;
}

Language LanguageFromEnvironment() {
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(name);
    if (value && *value)
      return std::strncmp(value, "ja", 2) == 0 ? Language::kJapanese : Language::kEnglish;
  }
  return Language::kEnglish;
}

std::atomic<int>& CurrentLanguage() {
  static std::atomic<int> language{static_cast<int>(LanguageFromEnvironment())};
  return language;
}

}  // namespace

Language UiLanguage() {
  return static_cast<Language>(CurrentLanguage().load());
}
void SetUiLanguage(Language language) {
  CurrentLanguage() = static_cast<int>(language);
}

const char* LoadString(int id, Language language) {
  const Table& table = language == Language::kJapanese ? JapaneseTable() : EnglishTable();
  auto it = table.find(id);
  if (it != table.end()) return it->second;
  // A number missing from the Japanese table falls back to its English text.
  if (language == Language::kJapanese) return LoadString(id, Language::kEnglish);
  return "";
}

const char* LoadString(int id) {
  return LoadString(id, UiLanguage());
}

}  // namespace remcons
