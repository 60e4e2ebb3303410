// PowerProfile: whether the user asked the machine to save power (the
// power-saver profile of power-profiles-daemon, as GLib's power profile
// monitor follows it, or its portal inside a sandbox).
#pragma once

// True while the power-saver profile is on. The first call starts following
// it; later changes arrive while the thread's default GLib main context runs,
// or at the calls of PowerProfileUpdate.
bool PowerSaverOn();
// Takes the news that has arrived, without waiting: for a thread that runs no
// GLib main loop.
void PowerProfileUpdate();
