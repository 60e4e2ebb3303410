// The stored preferences of module "kvGlymmerSS" as one table: every key with
// its type and default, in the order a reset writes them; then the program's
// own settings, which live apart in the store "glymmer" (AppSettings.h). The
// settings loader, the configuration sheet and the screen-saver hack's
// description of its options all follow this table.
#pragma once

#include <cstdint>

// The preference store's module name.
constexpr const char kSettingsModuleName[] = "kvGlymmerSS";
// The value of "version" that the loader accepts; any other resets the store.
constexpr const char kSettingsVersion[] = "1.0";
// The store of the program's own settings, which no version resets.
constexpr const char kAppSettingsModuleName[] = "glymmer";

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
  // The program's own settings, in the store kAppSettingsModuleName, from
  // kFirstAppSetting on.
  kSettingWholeLibrary,
  kSettingCount
};
constexpr int kFirstAppSetting = kSettingWholeLibrary;

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
    {"WholeLibrary", SettingType::Bool, 0, nullptr},
};

// The screen-saver hack options: each setting but "version" can be given on
// glymmer's command line for one run, taking precedence over the store
// (SettingOverrides.h). xscreensaver's settings dialog offers the same
// options through glymmer.xml, which is generated from this table, and the
// numeric ranges are those of the configuration sheet's controls.

enum class OptionKind {
  Number,  // "--name N": a whole number from low to high
  Switch,  // "--name" sets the setting, "--offName" clears it
  Choice,  // "--name WORD": one of `choices`, whose index is the value
  Folder,  // "--name PATH": the picture folder (a picture file names its folder)
};

struct SettingOption {
  SettingIndex setting;            // the key it overrides
  OptionKind kind;
  const char* name;                // two-dash spelling; one dash works too
  const char* offName;             // a Switch's "off" spelling; null otherwise
  int64_t low, high;               // a Number's range; 0 otherwise
  const char* label;               // the settings dialog's label
  const char* widget;              // Number: "slider" or "spinbutton"; null otherwise
  const char* lowLabel;            // slider end labels; null otherwise
  const char* highLabel;
  const char* const* choices;      // Choice: the words for 0, 1, ...; null otherwise
  const char* const* choiceLabels; // Choice: how the settings dialog shows them
  int choiceCount;
};

// "--case" words for CHARTYPE 0, 1 and 2, and how the settings dialog names
// them (its menus carry no label of their own).
constexpr const char* kCaseWords[] = {"as-is", "upper", "lower"};
constexpr const char* kCaseLabels[] = {"Letters as in the file name", "Letters in UPPER CASE",
                                       "Letters in lower case"};

constexpr SettingOption kSettingOptions[] = {
    {kSettingPicSize, OptionKind::Number, "--glyphs", nullptr, 1, 100000, "Number of letters",
     "spinbutton", nullptr, nullptr, nullptr, nullptr, 0},
    {kSettingCharSize, OptionKind::Number, "--glyph-size", nullptr, 1, 100, "Letter size",
     "slider", "Small", "Large", nullptr, nullptr, 0},
    {kSettingCharType, OptionKind::Choice, "--case", nullptr, 0, 0, "Letter case", nullptr, nullptr,
     nullptr, kCaseWords, kCaseLabels, 3},
    {kSettingPicDelay, OptionKind::Number, "--picture-delay", nullptr, 5, 3600,
     "Change picture after (seconds)", "spinbutton", nullptr, nullptr, nullptr, nullptr, 0},
    {kSettingPicPath, OptionKind::Folder, "--folder", nullptr, 0, 0, "Picture folder", nullptr,
     nullptr, nullptr, nullptr, nullptr, 0},
    {kSettingWholeLibrary, OptionKind::Switch, "--library", "--no-library", 0, 0,
     "Include sub-folders and all photo formats", nullptr, nullptr, nullptr, nullptr, nullptr, 0},
    {kSettingMLFirst, OptionKind::Switch, "--builtin-first", "--no-builtin-first", 0, 0,
     "Start with the built-in picture", nullptr, nullptr, nullptr, nullptr, nullptr, 0},
    {kSettingShowCaption, OptionKind::Switch, "--captions", "--no-captions", 0, 0,
     "Show each picture's name", nullptr, nullptr, nullptr, nullptr, nullptr, 0},
    {kSettingMainMonitorOnly, OptionKind::Switch, "--main-monitor-only", "--all-monitors", 0, 0,
     "Only on the main monitor", nullptr, nullptr, nullptr, nullptr, nullptr, 0},
};
