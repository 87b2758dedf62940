// The user's default UI language.
#include "platform/win32/win32.h"

namespace tqp {

uint16_t UserDefaultUILanguage() { return GetUserDefaultUILanguage(); }

}  // namespace tqp
