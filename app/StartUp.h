// StartUp: how Glymmer starts itself as the session's screen saver. The idle
// delay lives in the program's own store beside the module's, outside the
// module's fixed keys: module "glymmer" ($XDG_CONFIG_HOME/glymmer/glymmer.ini),
// key "IdleDelay", whole minutes. Whether the watcher starts at login is the
// autostart entry itself (platform/Autostart.h), not a stored flag.
#pragma once

#include "host/SettingsTable.h"

#include <string>

// In the store kAppSettingsModuleName, beside "WholeLibrary"; not in the
// settings table, since it is no option of a run: the watcher's --after is.
constexpr const char* kIdleDelayKey = "IdleDelay";
// Minutes; the dialog's field offers the same range.
constexpr int kIdleDelayDefault = 5;
constexpr int kIdleDelayLowest = 1;
constexpr int kIdleDelayHighest = 240;

// The stored delay in minutes: the default when none is stored, a stored
// value outside the range brought to its nearest end.
int StoredIdleDelayMinutes();

// Stores the delay (brought into range) and writes the store's file. False
// when it cannot be written; *where then names the file.
bool StoreIdleDelayMinutes(int minutes, std::string* where);

// The session a watcher serves, as a file-name-safe word: the Wayland
// display, else the X display, one name however the environment spells it
// (DisplayLockName).
std::string SessionName();

// One watcher per session: a lock file in the user's runtime folder, held
// while the watcher runs, with the holder's process id in it. The
// descriptor, -1 when another watcher holds it, or -2 when there is no place
// for it (nothing to refuse on then).
int ClaimSession(const std::string& session);

// Makes the dialog's switch take effect at once, not only at the next login:
// with `on`, a watcher of this session is started again (so that it takes the
// stored delay) or started anew, in the background and on its own; without,
// the running one is ended. False when the running one does not end within
// 8 s, or a new watcher could not be started.
bool ApplyStartUpNow(bool on);
