// The UI language identifier from the POSIX locale variables.
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/tqPlatform.h"

namespace tqp {

namespace {

struct LanguageId {
  const char* locale;  // language, or language_TERRITORY
  uint16_t id;
};

// Territory entries come before the bare language they refine.
const LanguageId kLanguages[] = {
    {"ja", 0x0411},    {"en_GB", 0x0809}, {"en_AU", 0x0C09}, {"en_CA", 0x1009},
    {"en", 0x0409},    {"zh_TW", 0x0404}, {"zh_HK", 0x0C04}, {"zh_SG", 0x1004},
    {"zh", 0x0804},    {"ko", 0x0412},    {"fr_CA", 0x0C0C}, {"fr", 0x040C},
    {"de", 0x0407},    {"es_MX", 0x080A}, {"es", 0x0C0A},    {"it", 0x0410},
    {"pt_BR", 0x0416}, {"pt", 0x0816},    {"ru", 0x0419},    {"pl", 0x0415},
    {"nl", 0x0413},    {"sv", 0x041D},    {"fi", 0x040B},    {"da", 0x0406},
    {"nb", 0x0414},    {"cs", 0x0405},    {"hu", 0x040E},    {"tr", 0x041F},
    {"th", 0x041E},    {"vi", 0x042A},    {"id", 0x0421},    {"uk", 0x0422},
};

}  // namespace

uint16_t UserDefaultUILanguage() {
  const char* value = nullptr;
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* v = getenv(name);
    if (v && *v) {
      value = v;
      break;
    }
  }
  if (!value) return 0x0409;
  // language[_TERRITORY][.charset][@modifier]
  std::string locale(value, strcspn(value, ".@"));
  for (const LanguageId& entry : kLanguages) {
    size_t n = strlen(entry.locale);
    bool territory = strchr(entry.locale, '_') != nullptr;
    if (territory ? locale == entry.locale
                  : locale.compare(0, n, entry.locale) == 0 && (locale.size() == n || locale[n] == '_'))
      return entry.id;
  }
  return 0x0409;  // C, POSIX and unknown languages
}

}  // namespace tqp
