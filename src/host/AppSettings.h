// AppSettings: the program's own preferences, kept apart from the module's
// nine keys in a store of their own, "glymmer" (glymmer.ini beside
// kvGlymmerSS.ini): the keys of kSettingKeys from kFirstAppSetting on. The
// store has no version and is never reset; an absent key reads as its
// default from the table.
#pragma once

#include "host/SettingsTable.h"

#include <cstdint>
#include <string>

// The stored value of a bool (0 or 1) or integer key of the store, or the
// table's default when the key is absent or the store cannot be had.
int64_t ReadAppSetting(SettingIndex key);

// Sets a bool or integer key in memory; SaveAppSettings writes it.
void WriteAppSetting(SettingIndex key, int64_t value);

// Writes the store to its file, whole or not at all. False when it could not
// be written; *file (when given) then names the file, or is empty when there
// is no configuration folder.
bool SaveAppSettings(std::string* file);

// The latest SaveAppSettings failed.
bool AppSettingsSaveFailed();
