// The idle watcher's stored delay.

#include "host/IdleDelay.h"

#include "platform/ScreenSaverDefaults.h"

int StoredIdleDelayMinutes() {
  ScreenSaverDefaults* store = ScreenSaverDefaults::defaultsForModuleWithName(kProgramStoreName);
  if (!store || !store->stringForKey(kIdleDelayKey)) return kIdleDelayDefaultMinutes;
  int64_t minutes = store->integerForKey(kIdleDelayKey);
  if (minutes < kIdleDelayLeastMinutes || minutes > kIdleDelayMostMinutes)
    return kIdleDelayDefaultMinutes;
  return static_cast<int>(minutes);
}
