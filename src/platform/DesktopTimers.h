// DesktopTimers: what the desktop itself does once the session has been idle
// a while (blank, dim, lock the screen, turn it off), which a screen saver
// that comes later is never seen behind.
#pragma once

#include <string>
#include <vector>

struct DesktopTimer {
  std::string desktop;  // "GNOME", "KDE Plasma", "The X server"
  std::string action;   // "locks the screen", "blanks and locks the screen", ...
  unsigned seconds;     // after this much idle time
};

// The timers of the desktop this session runs, earliest first, as its own
// settings hold them: on GNOME (XDG_CURRENT_DESKTOP) GSettings'
// org.gnome.desktop.session idle-delay and org.gnome.desktop.screensaver
// lock-enabled and lock-delay; on KDE Plasma kscreenlockerrc's [Daemon]
// Autolock and Timeout and powermanagementprofilesrc's [AC] DimDisplay and
// DPMSControl in $XDG_CONFIG_HOME (the lock's defaults where the file says
// nothing); elsewhere on X11 the server's own screen saver and DPMS timeouts.
// Empty where none is set.
std::vector<DesktopTimer> DesktopTimers();
// The same for one desktop, whatever the session runs: "GNOME", "KDE" or "X11".
std::vector<DesktopTimer> DesktopTimersOf(const std::string& desktop);

// "GNOME locks the screen after 5 minutes".
std::string DescribeDesktopTimer(const DesktopTimer& timer);

// The desktop's own settings page for these timers, where its program is
// installed: the command to start it and a label for the button that does.
// False where there is none.
bool DesktopTimerSettings(std::vector<std::string>* command, std::string* label);
