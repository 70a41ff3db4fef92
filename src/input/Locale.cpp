#include "input/Locale.h"

#include <cstdlib>

namespace remcons {

std::optional<uint16_t> LanguageOfLocale(std::string_view locale) {
  // Language, then region where it changes the identifier; the default region otherwise.
  struct Entry {
    const char* language;
    const char* region;  // nullptr: any other
    uint16_t id;
  };
  static const Entry kEntries[] = {
      {"ar", nullptr, 0x0401}, {"bg", nullptr, 0x0402}, {"ca", nullptr, 0x0403},
      {"zh", "CN", 0x0804},    {"zh", nullptr, 0x0404}, {"cs", nullptr, 0x0405},
      {"da", nullptr, 0x0406}, {"de", "AT", 0x0C07},    {"de", "CH", 0x0807},
      {"de", nullptr, 0x0407}, {"el", nullptr, 0x0408}, {"en", "GB", 0x0809},
      {"en", nullptr, 0x0409}, {"es", nullptr, 0x040A}, {"fi", nullptr, 0x040B},
      {"fr", "BE", 0x080C},    {"fr", "CA", 0x0C0C},    {"fr", "CH", 0x100C},
      {"fr", nullptr, 0x040C}, {"he", nullptr, 0x040D}, {"hu", nullptr, 0x040E},
      {"is", nullptr, 0x040F}, {"it", nullptr, 0x0410}, {"ja", nullptr, 0x0411},
      {"ko", nullptr, 0x0412}, {"nl", "BE", 0x0813},    {"nl", nullptr, 0x0413},
      {"nb", nullptr, 0x0414}, {"no", nullptr, 0x0414}, {"pl", nullptr, 0x0415},
      {"pt", "PT", 0x0816},    {"pt", nullptr, 0x0416}, {"ro", nullptr, 0x0418},
      {"ru", nullptr, 0x0419}, {"hr", nullptr, 0x041A}, {"sk", nullptr, 0x041B},
      {"sv", "FI", 0x081D},    {"sv", nullptr, 0x041D}, {"th", nullptr, 0x041E},
      {"tr", nullptr, 0x041F},
  };
  // language[_REGION][.codeset][@modifier]
  const std::string_view name = locale.substr(0, locale.find_first_of(".@"));
  const size_t underscore = name.find('_');
  const std::string_view language = name.substr(0, underscore);
  const std::string_view region =
      underscore == std::string_view::npos ? std::string_view() : name.substr(underscore + 1);
  for (const Entry& e : kEntries) {
    if (language == e.language && (!e.region || region == e.region)) return e.id;
  }
  return std::nullopt;
}

std::optional<uint16_t> UserLocaleLanguage() {
  for (const char* variable : {"LC_ALL", "LC_CTYPE", "LANG"}) {
    const char* value = std::getenv(variable);
    if (value && *value) return LanguageOfLocale(value);
  }
  return std::nullopt;
}

}  // namespace remcons
