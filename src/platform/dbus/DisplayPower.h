// DisplayPower: whether GNOME's compositor has put the monitors to sleep:
// mutter's PowerSaveMode (org.gnome.Mutter.DisplayConfig on the session bus),
// on Wayland and on X11 alike.
#pragma once

// True while mutter holds the monitors in standby, suspend or off. The first
// call reads the mode and starts following it; each later call takes the news
// that has arrived since, without waiting. Without a session bus nothing is
// followed; without mutter on it, nothing is read until mutter appears.
bool MonitorsAsleep();
