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

// The entry's text. It runs "glymmer --idle" when the glymmer on PATH is this
// very program; otherwise this program by its absolute path (a build tree, a
// prefix off PATH). TryExec names the same program, so an entry left behind
// by a removed Glymmer starts nothing.
std::string AutostartEntryText();

// Whether the entry exists.
bool AutostartEntryInstalled();

// Writes the entry whole (a temporary file renamed over it), making the
// folder where needed. False, with the reason in *why, when it cannot.
bool InstallAutostartEntry(std::string* why);

// Removes the entry. True when there is none afterwards; false, with the
// reason in *why, when it stays.
bool RemoveAutostartEntry(std::string* why);
