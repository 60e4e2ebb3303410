// Autostart: the per-user XDG autostart entry that starts Glymmer's idle
// watcher with the desktop session. GNOME, KDE Plasma, Xfce, Cinnamon, MATE
// and LXQt all start the entries of ~/.config/autostart at login (GNOME and
// KDE through systemd's xdg-autostart generator), so one file serves every
// desktop; the file's name and text live here only.
#pragma once

#include <string>

// $XDG_CONFIG_HOME/autostart/glymmer.desktop (~/.config/autostart/... when
// the variable is unset or not absolute); "" when no home can be found.
std::string AutostartEntryPath();

// The entry's text: it runs this very program's watcher by its absolute
// path, which TryExec names too, so an entry left behind by a removed Glymmer
// starts nothing. "" when the path cannot be read or an entry cannot carry it.
std::string AutostartEntryText();

// Whether the entry exists.
bool AutostartEntryInstalled();

// Writes the entry whole (a temporary file renamed over it), making the
// folder where needed. False, with the reason in *why, when it cannot: also
// where this program's path holds what an entry cannot carry (%, a quote, a
// backslash, $, `, a control character, text that is not UTF-8), which
// systemd's xdg-autostart generator would refuse or mangle.
bool InstallAutostartEntry(std::string* why);

// Removes the entry. True when there is none afterwards; false, with the
// reason in *why, when it stays.
bool RemoveAutostartEntry(std::string* why);
