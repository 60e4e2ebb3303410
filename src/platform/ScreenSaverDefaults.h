// ScreenSaverDefaults: the host's per-module preference store.
//
// Each module name has one store per process, kept in the file
// $XDG_CONFIG_HOME/glymmer/<name>.ini (~/.config/glymmer/<name>.ini when the
// variable is unset or not absolute) under the group [<name>], in the order
// the keys were first written. Absent keys read false, 0 or no string. The
// store is not meant to be used from several threads at once.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

class ScreenSaverDefaults {
public:
  // The store of module `name`, the same object for every call with that name
  // in this process; it lives until the process ends (or until
  // ForgetStoresForTesting). Its file is read when the store is first asked
  // for; a file that cannot be read or parsed is renamed to
  // "<file>.corrupt-<date>-<time>" beside it, with a line on standard error,
  // and the store starts empty. Null only for a name that cannot be a file
  // name (empty, ".", "..", containing "/", brackets or control characters).
  static ScreenSaverDefaults* defaultsForModuleWithName(const char* name);

  // The stored string, or no value when the key is absent.
  std::optional<std::string> stringForKey(const char* key) const;
  // The stored bool: true for "true" or "yes" (any case) or a non-zero
  // integer; false for anything else and when the key is absent.
  bool boolForKey(const char* key) const;
  // The stored decimal integer; 1 for a true bool; 0 for anything else and
  // when the key is absent.
  int64_t integerForKey(const char* key) const;

  // Set a key in memory; later reads return the value, synchronize writes it.
  // A key new to the store goes after the existing ones. A null string
  // removes the key. Keys with "=", brackets, line breaks or surrounding
  // spaces are not stored.
  void setObject(const char* value, const char* key);
  void setBool(bool value, const char* key);
  void setInteger(int64_t value, const char* key);

  // Writes the whole store to its file so that a crash at any moment leaves
  // either the previous file or the new one, whole: a temporary file in the
  // same folder is written, flushed to disk, renamed over the file, and the
  // folder is flushed. Creates the folder when needed. A store file that is a
  // symbolic link is replaced at the link's target. False when the file
  // cannot be written (the previous file then stays as it was), or when an
  // unreadable file could not be moved aside and must not be overwritten.
  bool synchronize();
  // Whether the latest synchronize failed; false before the first.
  bool LastSynchronizeFailed() const;

  // The file this store reads and writes; empty when no configuration folder
  // could be found (no HOME), in which case synchronize fails.
  const std::string& FilePath() const;

  // For tests only: destroys every store of this process, so that the next
  // defaultsForModuleWithName reads its file afresh, taking the folder from
  // the environment again. Pointers returned before become invalid.
  static void ForgetStoresForTesting();

  ~ScreenSaverDefaults();
  ScreenSaverDefaults(const ScreenSaverDefaults&) = delete;
  ScreenSaverDefaults& operator=(const ScreenSaverDefaults&) = delete;

private:
  ScreenSaverDefaults();
  bool WriteFile();  // synchronize's work
  struct Impl;
  std::unique_ptr<Impl> impl;
};

// The user's configuration folder: $XDG_CONFIG_HOME, or ~/.config when the
// variable is unset or not absolute; "" when no home can be found. Read from
// the environment at each call.
std::string UserConfigFolder();
