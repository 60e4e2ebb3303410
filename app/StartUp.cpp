// StartUp: the idle delay in the program's own store.

#include "StartUp.h"

#include "platform/ScreenSaverDefaults.h"

#include <algorithm>
#include <cstdint>

namespace {

int InRange(int64_t minutes) {
  return static_cast<int>(std::clamp<int64_t>(minutes, kIdleDelayLowest, kIdleDelayHighest));
}

}  // namespace

int StoredIdleDelayMinutes() {
  ScreenSaverDefaults* store = ScreenSaverDefaults::defaultsForModuleWithName(kAppSettingsModuleName);
  if (!store || !store->stringForKey(kIdleDelayKey)) return kIdleDelayDefault;
  return InRange(store->integerForKey(kIdleDelayKey));
}

bool StoreIdleDelayMinutes(int minutes, std::string* where) {
  ScreenSaverDefaults* store = ScreenSaverDefaults::defaultsForModuleWithName(kAppSettingsModuleName);
  if (store) {
    store->setInteger(InRange(minutes), kIdleDelayKey);
    if (store->synchronize()) return true;
  }
  *where = store && !store->FilePath().empty() ? store->FilePath() : "the configuration folder";
  return false;
}
