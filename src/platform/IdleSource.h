// IdleSource: what the session tells of its user, for the idle watcher. Each
// source arms one watch: it says kIdle once the user has left the session
// alone for the delay, then kActive at their next input, then kIdle again
// after the next idle period, and so on. A source whose service went away and
// came back starts over: kIdle may then come without kActive before it. Every
// source delivers its news from the thread's default GLib main context (a
// Wayland or X11 connection's fd added to it, or GDBus), so the watcher waits
// in one GMainLoop and wakes for nothing else.
#pragma once

#include <functional>
#include <memory>
#include <string>

enum class IdleEvent {
  kIdle,       // idle for the delay
  kActive,     // input again after kIdle
  kLookAgain,  // still idle after kIdle, and something that may have held the
               // saver back went away (one of gnome-session's inhibitors)
  kLost,       // the compositor, the X server or the bus went away: the watcher
               // ends; the source has said so on stderr, in one line
};

class IdleSource {
public:
  virtual ~IdleSource() = default;
  // What it watches, for --verbose: "ext-idle-notify-v1", "org_kde_kwin_idle",
  // "org.gnome.Mutter.IdleMonitor", "MIT-SCREEN-SAVER".
  virtual const char* Name() const = 0;
  // Arms the watch for `delayMs`; `notify` is then called from the main
  // context. False when the watch cannot be set up (said on stderr).
  virtual bool Start(unsigned delayMs, std::function<void(IdleEvent)> notify) = 0;
  // Arms the watch anew for `delayMs`, from now: kIdle once the user has
  // left the session alone that long (at once where the session already
  // counts that much idle time), then kActive at their next input; nothing
  // more comes of the watch before. May be called from `notify`. False where
  // the source cannot (its watch goes on as it was).
  virtual bool Rearm(unsigned delayMs) {
    (void)delayMs;
    return false;
  }
  // True when something that the compositor does not already account for
  // keeps the session from idling at this moment (gnome-session's idle
  // inhibitors); asked just before a saver is started.
  virtual bool Inhibited() { return false; }
  // True when the compositor offers the layer shell, so that the saver can
  // cover every output as `glymmer --saver`; otherwise it runs full screen.
  virtual bool OffersSaverLayer() const { return false; }
};

// The session lock: calls `locked` (from the main context) whenever the
// session locks (logind's Lock, the desktop's ScreenSaver ActiveChanged true).
class LockWatch {
public:
  virtual ~LockWatch() = default;
  // `changed` is called with true when the session locks, with false when it
  // is unlocked again.
  virtual bool Start(std::function<void(bool locked)> changed) = 0;
  // Whether the lock last told is the session's state, not only a request to
  // lock it that no locker has confirmed.
  virtual bool Confirmed() const = 0;
};

// The idle source the session offers, tried in this order: on Wayland
// (WAYLAND_DISPLAY set) ext-idle-notify-v1, then org_kde_kwin_idle; then
// GNOME's org.gnome.Mutter.IdleMonitor on the session bus; then, without
// Wayland, X11's MIT-SCREEN-SAVER on DISPLAY. Null when the session offers
// none; *lookedFor then names what was looked for, in one line. With
// `verbose`, what was passed over is said on stderr.
std::unique_ptr<IdleSource> MakeIdleSource(bool verbose, std::string* lookedFor);

// Whether an xscreensaver daemon watches the X display that DISPLAY names,
// seen as xscreensaver-command finds it: a window of the daemon's carrying
// the _SCREENSAVER_VERSION property. *version is then its version.
bool XScreenSaverDaemonRuns(std::string* version);
