// PowerProfile: whether the user asked the machine to save power: the
// power-saver profile of power-profiles-daemon (net.hadess.PowerProfiles, or
// its newer name org.freedesktop.UPower.PowerProfiles) on the system bus.
#pragma once

// True while the power-saver profile is on. The first call reads it and
// starts following it; later changes arrive at the calls of
// PowerProfileUpdate (or while the thread's GLib main loop runs).
bool PowerSaverOn();
// Takes the news that has arrived, without waiting: for a thread that runs
// no GLib main loop.
void PowerProfileUpdate();
