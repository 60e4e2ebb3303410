// The preference store on an arbitrary file: the bytes become
// kvGlymmerSS.ini in a private configuration folder, the store reads them
// afresh, every key is read, the settings are loaded from it (which resets a
// store of another version), and what it holds is written back and read
// again. Checks that readings agree with each other, that the settings record
// comes out usable, and that whatever the store held survives a write and a
// fresh read unchanged.

#include "host/Settings.h"
#include "host/SettingsTable.h"
#include "platform/ScreenSaverDefaults.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace {

std::string gFolder;  // $XDG_CONFIG_HOME/glymmer

// The nine keys, and keys the store must treat as absent or store apart.
std::vector<const char*> Keys() {
  std::vector<const char*> keys;
  for (const SettingKey& k : kSettingKeys) keys.push_back(k.key);
  for (const char* odd : {"", "a=b", " version", "version ", "[x]", "Other", "PicPath[de]"})
    keys.push_back(odd);
  return keys;
}

// Removes every entry of the store's folder: the file of the last run, its
// temporaries and the copies kept aside.
void EmptyFolder() {
  DIR* dir = opendir(gFolder.c_str());
  if (!dir) __builtin_trap();
  while (struct dirent* e = readdir(dir)) {
    if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
    if (unlinkat(dirfd(dir), e->d_name, 0) != 0) __builtin_trap();
  }
  closedir(dir);
}

int CountAside() {
  int count = 0;
  DIR* dir = opendir(gFolder.c_str());
  if (!dir) __builtin_trap();
  while (struct dirent* e = readdir(dir))
    if (std::strstr(e->d_name, ".corrupt-")) ++count;
  closedir(dir);
  return count;
}

void WriteStoreFile(const uint8_t* data, size_t size) {
  std::string path = gFolder + "/" + kSettingsModuleName + ".ini";
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) __builtin_trap();
  size_t done = 0;
  while (done < size) {
    ssize_t n = write(fd, data + done, size - done);
    if (n <= 0) __builtin_trap();
    done += static_cast<size_t>(n);
  }
  close(fd);
}

ScreenSaverDefaults* FreshStore() {
  ScreenSaverDefaults::ForgetStoresForTesting();
  ScreenSaverDefaults* store = ScreenSaverDefaults::defaultsForModuleWithName(kSettingsModuleName);
  if (!store) __builtin_trap();
  return store;
}

// Reads every key; the three readings of one key must agree.
std::vector<std::optional<std::string>> ReadAll(ScreenSaverDefaults* store) {
  std::vector<std::optional<std::string>> values;
  for (const char* key : Keys()) {
    std::optional<std::string> text = store->stringForKey(key);
    bool flag = store->boolForKey(key);
    int64_t number = store->integerForKey(key);
    if (flag != (number != 0)) __builtin_trap();
    if (!text && (flag || number != 0)) __builtin_trap();
    if (text && text->find('\0') != std::string::npos) __builtin_trap();
    values.push_back(text);
  }
  return values;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // A memory file system when there is one: synchronize flushes to disk.
  const char* base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
  std::string pattern = std::string(base) + "/glymmer-fuzz-store-XXXXXX";
  if (!mkdtemp(&pattern[0])) __builtin_trap();
  setenv("XDG_CONFIG_HOME", pattern.c_str(), 1);
  gFolder = pattern + "/glymmer";
  if (mkdir(gFolder.c_str(), 0700) != 0) __builtin_trap();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  EmptyFolder();
  WriteStoreFile(data, size);
  ScreenSaverDefaults* store = FreshStore();
  std::vector<std::optional<std::string>> stored = ReadAll(store);

  // The settings as a view loads them.
  SETTINGS s;
  bool mainMonitorOnly = true;
  if (!LoadSettings(&s, &mainMonitorOnly)) __builtin_trap();  // the folder is writable
  size_t pathLength = strnlen(s.PicPath, sizeof s.PicPath);
  if (pathLength > kPicPathMaxText) __builtin_trap();
  if (s.fCHARSIZE != static_cast<float>(static_cast<double>(s.CHARSIZE) / 100.0)) __builtin_trap();
  const std::optional<std::string>& version = stored[kSettingVersion];
  if (version && *version == kSettingsVersion) {
    if (s.CHARSIZE != store->integerForKey("CharSize") ||
        s.PIC_SIZE != store->integerForKey("PicSize") ||
        s.PICDELAY != store->integerForKey("PicDelay") ||
        s.SHOWCAPTION != store->boolForKey("ShowCaption") ||
        s.MLFIRST != store->boolForKey("MLFirst") ||
        mainMonitorOnly != store->boolForKey("MainMonitorOnly"))
      __builtin_trap();
  } else {
    // Reset: the defaults, and a store that now says "1.0".
    if (s.PIC_SIZE != 15000 || s.PICDELAY != 120 || s.CHARSIZE != 20 || mainMonitorOnly)
      __builtin_trap();
    std::optional<std::string> now = store->stringForKey("version");
    if (!now || *now != kSettingsVersion) __builtin_trap();
  }

  // Everything the store holds now is written back through the setters and
  // must come back unchanged from the file.
  std::vector<std::optional<std::string>> before = ReadAll(store);
  std::vector<const char*> keys = Keys();
  for (size_t i = 0; i < keys.size(); ++i)
    if (before[i]) store->setObject(before[i]->c_str(), keys[i]);
  if (!store->synchronize()) __builtin_trap();
  int aside = CountAside();
  store = FreshStore();
  if (CountAside() != aside) __builtin_trap();  // a file the store wrote must load
  if (ReadAll(store) != before) __builtin_trap();
  ScreenSaverDefaults::ForgetStoresForTesting();
  return 0;
}
