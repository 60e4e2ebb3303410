// Settings: loading the settings record from the preference store.

#include "host/Settings.h"

#include "host/AppSettings.h"
#include "host/SettingsTable.h"
#include "platform/gtk/Alert.h"
#include "platform/Bundle.h"
#include "platform/ScreenSaverDefaults.h"

#include <cstring>
#include <optional>
#include <string>

// The record's own defaults and the table must agree.
namespace {
constexpr SETTINGS kRecordDefaults{};
}
static_assert(kRecordDefaults.SHOWCAPTION == (kSettingKeys[kSettingShowCaption].defaultNumber != 0));
static_assert(kRecordDefaults.MLFIRST == (kSettingKeys[kSettingMLFirst].defaultNumber != 0));
static_assert(kRecordDefaults.CHARSIZE == kSettingKeys[kSettingCharSize].defaultNumber);
static_assert(kRecordDefaults.CHARTYPE == kSettingKeys[kSettingCharType].defaultNumber);
static_assert(kRecordDefaults.PIC_SIZE == kSettingKeys[kSettingPicSize].defaultNumber);
static_assert(kRecordDefaults.PICDELAY == kSettingKeys[kSettingPicDelay].defaultNumber);
static_assert(kRecordDefaults.WHOLELIBRARY == (kSettingKeys[kSettingWholeLibrary].defaultNumber != 0));
static_assert(sizeof(SETTINGS::PicPath) == kPicPathMaxText + 1);

namespace {

// Everything but the store's "version" and the picture folder, from the
// table.
void SetDefaults(SETTINGS* s, bool* mainMonitorOnly) {
  *mainMonitorOnly = kSettingKeys[kSettingMainMonitorOnly].defaultNumber != 0;
  s->SHOWCAPTION = kSettingKeys[kSettingShowCaption].defaultNumber != 0;
  s->MLFIRST = kSettingKeys[kSettingMLFirst].defaultNumber != 0;
  s->CHARSIZE = kSettingKeys[kSettingCharSize].defaultNumber;
  s->CHARTYPE = static_cast<int32_t>(kSettingKeys[kSettingCharType].defaultNumber);
  s->PIC_SIZE = kSettingKeys[kSettingPicSize].defaultNumber;
  s->PICDELAY = kSettingKeys[kSettingPicDelay].defaultNumber;
}

// Writes every key but "PicPath" with its default, in table order.
void WriteDefaults(ScreenSaverDefaults* store) {
  for (int i = 0; i < kSettingPicPath; ++i) {
    const SettingKey& k = kSettingKeys[i];
    switch (k.type) {
      case SettingType::String: store->setObject(k.defaultString, k.key); break;
      case SettingType::Bool: store->setBool(k.defaultNumber != 0, k.key); break;
      case SettingType::Integer: store->setInteger(k.defaultNumber, k.key); break;
    }
  }
}

// The low 32 bits, as the record's CHARTYPE keeps them.
int32_t Low32(int64_t v) {
  uint32_t low = static_cast<uint32_t>(static_cast<uint64_t>(v));
  int32_t out;
  std::memcpy(&out, &low, sizeof out);
  return out;
}

}  // namespace

void TellPathTooLong(const char* what, const std::string& path, const char* outcome) {
  std::string message = std::string("The path of ") + what + " is longer than " +
                        std::to_string(kPicPathMaxText) + " bytes; " + outcome + ": " + path;
  AlertPanel* alert = NSGetCriticalAlertPanel("ERROR", message.c_str(), "OK");
  runModalForWindow(alert);
  alert->close();
}

bool CopyPicPath(char out[1025], const char* text) {
  size_t n = text ? std::strlen(text) : 0;
  bool cut = n > kPicPathMaxText;
  if (cut) {
    TellPathTooLong("the picture folder", text, "it is cut");
    n = kPicPathMaxText;
    // text[n] is the first byte left out; when it continues a UTF-8
    // sequence, leave out the start of that sequence too.
    size_t start = n;
    for (int back = 0; back < 3 && start > 0 && (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80;
         ++back)
      --start;
    // Only a lead byte starts a sequence; bytes that are not UTF-8 are cut
    // where the field ends.
    if (start < n && (static_cast<unsigned char>(text[start]) & 0xC0) == 0xC0) n = start;
  }
  if (n) std::memcpy(out, text, n);
  out[n] = '\0';
  return !cut;
}

void AddFolderSeparator(char path[1025]) {
  size_t n = strnlen(path, kPicPathMaxText + 1);
  if (n > kPicPathMaxText) {  // never terminated within the field
    path[kPicPathMaxText] = '\0';
    n = kPicPathMaxText;
  }
  if (n > 2 && path[n - 1] != '/' && n < kPicPathMaxText) {
    path[n] = '/';
    path[n + 1] = '\0';
  }
}

void DefaultPicturePath(char out[1025]) {
  const std::string& resources = Bundle::bundleForClass()->resourcePath();
  std::string folder = resources;
  if (folder.size() > 2 && folder.back() != '/') folder += '/';
  folder += "pics/";
  CopyPicPath(out, folder.c_str());
}

bool LoadSettings(SETTINGS* s, bool* mainMonitorOnly) {
  ScreenSaverDefaults* store = ScreenSaverDefaults::defaultsForModuleWithName(kSettingsModuleName);
  bool ok = true;
  if (!store) {
    SetDefaults(s, mainMonitorOnly);
    DefaultPicturePath(s->PicPath);
    ok = false;
  } else {
    std::optional<std::string> version = store->stringForKey(kSettingKeys[kSettingVersion].key);
    *mainMonitorOnly = store->boolForKey(kSettingKeys[kSettingMainMonitorOnly].key);
    s->CHARSIZE = store->integerForKey(kSettingKeys[kSettingCharSize].key);
    s->PIC_SIZE = store->integerForKey(kSettingKeys[kSettingPicSize].key);
    s->CHARTYPE = Low32(store->integerForKey(kSettingKeys[kSettingCharType].key));
    s->PICDELAY = store->integerForKey(kSettingKeys[kSettingPicDelay].key);
    s->MLFIRST = store->boolForKey(kSettingKeys[kSettingMLFirst].key);
    s->SHOWCAPTION = store->boolForKey(kSettingKeys[kSettingShowCaption].key);
    std::optional<std::string> folder = store->stringForKey(kSettingKeys[kSettingPicPath].key);
    if (folder) CopyPicPath(s->PicPath, folder->c_str());

    if (!version || *version != kSettingsVersion) {
      WriteDefaults(store);
      DefaultPicturePath(s->PicPath);
      store->setObject(s->PicPath, kSettingKeys[kSettingPicPath].key);
      ok = store->synchronize();
      SetDefaults(s, mainMonitorOnly);
    }
  }
  s->fCHARSIZE = static_cast<float>(static_cast<double>(s->CHARSIZE) / 100.0);
  AddFolderSeparator(s->PicPath);
  // The program's own store, which the module's version does not reset.
  s->WHOLELIBRARY = ReadAppSetting(kSettingWholeLibrary) != 0;
  return ok;
}
