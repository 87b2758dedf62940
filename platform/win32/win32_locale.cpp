// The user's default UI language.
#include <windows.h>

#include "platform/tqPlatform.h"

namespace tqp {

uint16_t UserDefaultUILanguage() { return GetUserDefaultUILanguage(); }

}  // namespace tqp
