// Builds without the DDE layer: there is never a DDE object to use.
#include "settings/tqConfig.h"

int tqConfig::PublishDde(int) { return 0; }
int tqConfig::FetchFromDde() { return 0; }
