// The user's language as the keyboard needs it (some keys are rewritten for Swedish users), taken
// from the POSIX locale.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace remcons {

// The language identifier of a locale name ("sv_SE.UTF-8" gives 1053, "sv_FI" 2077); nullopt for
// "C", "POSIX", an empty name and languages not known here.
std::optional<uint16_t> LanguageOfLocale(std::string_view locale);
// The user's language: that of the locale in LC_ALL, else LC_CTYPE, else LANG.
std::optional<uint16_t> UserLocaleLanguage();

}  // namespace remcons
