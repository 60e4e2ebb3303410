// AppSettings: the store "glymmer".

#include "host/AppSettings.h"

#include "platform/ScreenSaverDefaults.h"

namespace {

ScreenSaverDefaults* Store() {
  return ScreenSaverDefaults::defaultsForModuleWithName(kAppSettingsModuleName);
}

bool IsAppKey(SettingIndex key) {
  return key >= kFirstAppSetting && key < kSettingCount &&
         kSettingKeys[key].type != SettingType::String;
}

}  // namespace

int64_t ReadAppSetting(SettingIndex key) {
  if (!IsAppKey(key)) return 0;
  const SettingKey& k = kSettingKeys[key];
  ScreenSaverDefaults* store = Store();
  // The store reads an absent key as false or 0; here it has its default.
  if (!store || !store->stringForKey(k.key)) return k.defaultNumber;
  if (k.type == SettingType::Bool) return store->boolForKey(k.key) ? 1 : 0;
  return store->integerForKey(k.key);
}

void WriteAppSetting(SettingIndex key, int64_t value) {
  ScreenSaverDefaults* store = Store();
  if (!IsAppKey(key) || !store) return;
  const SettingKey& k = kSettingKeys[key];
  if (k.type == SettingType::Bool)
    store->setBool(value != 0, k.key);
  else
    store->setInteger(value, k.key);
}

bool SaveAppSettings(std::string* file) {
  ScreenSaverDefaults* store = Store();
  if (store && store->synchronize()) return true;
  if (file) *file = store ? store->FilePath() : std::string();
  return false;
}

bool AppSettingsSaveFailed() {
  ScreenSaverDefaults* store = Store();
  return !store || store->LastSynchronizeFailed();
}
