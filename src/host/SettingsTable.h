// The stored preferences of module "kvGlymmerSS" as one table: every key with
// its type and default, in the order a reset writes them. The settings
// loader, the configuration sheet and the screen-saver hack's description of
// its options all follow this table.
#pragma once

#include <cstdint>

// The preference store's module name.
constexpr const char kSettingsModuleName[] = "kvGlymmerSS";
// The value of "version" that the loader accepts; any other resets the store.
constexpr const char kSettingsVersion[] = "1.0";

enum class SettingType { String, Bool, Integer };

struct SettingKey {
  const char* key;           // the store's key
  SettingType type;          // how it is read and written
  int64_t defaultNumber;     // default of a bool (0/1) or integer key
  const char* defaultString; // default of a string key; null for "PicPath",
                             // whose default is the default picture folder
};

// Indexes into kSettingKeys.
enum SettingIndex {
  kSettingVersion,
  kSettingMainMonitorOnly,
  kSettingShowCaption,
  kSettingMLFirst,
  kSettingCharSize,
  kSettingCharType,
  kSettingPicSize,
  kSettingPicDelay,
  kSettingPicPath,
  kSettingCount
};

constexpr SettingKey kSettingKeys[kSettingCount] = {
    {"version", SettingType::String, 0, kSettingsVersion},
    {"MainMonitorOnly", SettingType::Bool, 0, nullptr},
    {"ShowCaption", SettingType::Bool, 1, nullptr},
    {"MLFirst", SettingType::Bool, 1, nullptr},
    {"CharSize", SettingType::Integer, 20, nullptr},
    {"CharType", SettingType::Integer, 0, nullptr},
    {"PicSize", SettingType::Integer, 15000, nullptr},
    {"PicDelay", SettingType::Integer, 120, nullptr},
    {"PicPath", SettingType::String, 0, nullptr},
};
