// SettingOverrides: settings given for one run, as the screen-saver hack
// options on glymmer's command line (kSettingOptions in SettingsTable.h).
// Every view applies them right after loading its settings from the store, so
// they take precedence over the stored preferences for this process only; the
// store itself is never written with them.
#pragma once

#include "host/Settings.h"
#include "host/SettingsTable.h"

#include <cstdint>
#include <string>

struct SettingOverrides {
  bool given[kSettingCount] = {};      // the key has a value for this run
  int64_t number[kSettingCount] = {};  // value of a bool (0/1) or integer key
  char PicPath[1025] = {};             // value of "PicPath": absolute, ends in "/"
};

// The process's overrides: empty until the engine fills them from its command
// line. Every view created afterwards applies them. Lives until the process
// ends; only the engine's one thread uses it.
SettingOverrides* ProcessSettingOverrides();

// The entry of kSettingOptions that `name` spells (two dashes, no "=value"),
// with *off true for a Switch's off spelling; null when `name` is no setting
// option.
const SettingOption* FindSettingOption(const std::string& name, bool* off);

// Records one option's value in *overrides. A Number must be a whole decimal
// number within the option's range; a Choice one of its words; a Folder an
// existing folder, or a file standing for the folder it lies in, made
// absolute against the working folder, at most 1024 bytes with the trailing
// "/". A Switch takes no value: `off` says which spelling was given. Returns
// false, with a one-line message in *error and *overrides unchanged, for a
// value it refuses.
bool SetSettingOption(const SettingOption& option, bool off, const std::string& value,
                      SettingOverrides* overrides, std::string* error);

// Replaces the values of the given keys in a loaded record and the view's
// main-monitor-only flag. fCHARSIZE follows CHARSIZE. Keys not given keep
// their loaded values.
void ApplySettingOverrides(const SettingOverrides& overrides, SETTINGS* settings,
                           bool* mainMonitorOnly);

// One line naming every setting by its option, as a view uses it, for the
// engine's --verbose output: "glyphs 15000, glyph-size 20, case as-is, ...";
// the whole library only when it is on.
std::string DescribeSettings(const SETTINGS& settings, bool mainMonitorOnly);
