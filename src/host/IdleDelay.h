// The idle watcher's delay as the preference store keeps it: in the store of
// module "glymmer" ($XDG_CONFIG_HOME/glymmer/glymmer.ini), the program's own
// beside the module's, so that the module's fixed keys stay as they are. The
// watcher reads it; the settings dialog's row writes it.
#pragma once

// The program's own preference store.
constexpr const char kProgramStoreName[] = "glymmer";
// Whole minutes of inactivity before the watcher starts the saver.
constexpr const char kIdleDelayKey[] = "IdleDelay";
constexpr int kIdleDelayDefaultMinutes = 5;
constexpr int kIdleDelayLeastMinutes = 1;
constexpr int kIdleDelayMostMinutes = 720;

// The stored delay in minutes; the default where the key is absent or its
// value lies outside kIdleDelayLeastMinutes to kIdleDelayMostMinutes.
int StoredIdleDelayMinutes();
