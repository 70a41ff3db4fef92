// The numbered user-visible texts in English and Japanese, and the choice between the two.
#pragma once

namespace remcons {

enum class Language { kEnglish, kJapanese };

// The language of the string table and of the Japanese literal forms. Starts from the locale
// (LC_ALL, LC_MESSAGES, LANG beginning with "ja"); the desktop may set it from its own locale.
Language UiLanguage();
void SetUiLanguage(Language language);
// True where a Japanese text form and the "MS UI Gothic" font apply.
inline bool JapaneseForms() {
  return UiLanguage() == Language::kJapanese;
}

// String number id of the current language's table, UTF-8; "" for a number without a text.
const char* LoadString(int id);
// The same from a chosen table.
const char* LoadString(int id, Language language);

}  // namespace remcons
