// The idle watcher's X11 source: the server's idle time (MIT-SCREEN-SAVER),
// which every key, button and pointer motion resets, and so does a video
// player's XResetScreenSaver. While the session is active the source sleeps
// until the moment the delay could have passed, then asks the server again;
// once idle, a SYNC alarm on the server's IDLETIME counter wakes it at the
// next input. It never wakes on a schedule of its own.

#include "platform/IdleSource.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/scrnsaver.h>
#include <X11/extensions/sync.h>
#include <fcntl.h>
#include <glib-unix.h>
#include <glib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// Set when Xlib finds the connection broken; the source then ends the watch.
bool gConnectionLost = false;

int QuietIOError(Display*) { return 0; }
void NoteConnectionLost(Display*, void*) { gConnectionLost = true; }

class X11Idle : public IdleSource {
public:
  ~X11Idle() override;

  // Connects to DISPLAY and finds the extensions. False when something is
  // missing; *what then says what was looked for.
  bool Open(std::string* what);

  const char* Name() const override { return "MIT-SCREEN-SAVER"; }
  bool Start(unsigned delayMs, std::function<void(IdleEvent)> notify) override;
  bool Rearm(unsigned delayMs) override;

private:
  static gboolean OnReadable(gint fd, GIOCondition condition, gpointer data);
  static gboolean OnDue(gpointer data);
  // Asks the server for its idle time: says kIdle when the delay has passed
  // and arms the alarm for the next input; otherwise sleeps until it could.
  void Check();
  void ArmActivityAlarm();
  bool Lost();

  Display* display = nullptr;
  int syncEventBase = 0;
  XSyncCounter idleCounter = 0;
  XSyncAlarm alarm = 0;
  unsigned delay = 0;
  bool idle = false;
  guint watch = 0;
  guint timer = 0;
  std::function<void(IdleEvent)> notify;
};

bool X11Idle::Open(std::string* what) {
  const char* name = std::getenv("DISPLAY");
  std::string on = std::string(" on the X display \"") + (name ? name : "") + "\"";
  *what = "MIT-SCREEN-SAVER and SYNC" + on;
  display = XOpenDisplay(nullptr);
  if (!display) {
    *what = "MIT-SCREEN-SAVER" + on + ", which cannot be opened";
    return false;
  }
  // A broken connection is news for the watcher, not a reason for Xlib to
  // end the process.
  XSetIOErrorHandler(QuietIOError);
  XSetIOErrorExitHandler(display, NoteConnectionLost, nullptr);
  // The saver child must not inherit the connection.
  fcntl(ConnectionNumber(display), F_SETFD, FD_CLOEXEC);
  int eventBase, errorBase, major, minor;
  if (!XScreenSaverQueryExtension(display, &eventBase, &errorBase)) return false;
  if (!XSyncQueryExtension(display, &syncEventBase, &errorBase) ||
      !XSyncInitialize(display, &major, &minor))
    return false;
  int count = 0;
  XSyncSystemCounter* counters = XSyncListSystemCounters(display, &count);
  for (int i = 0; i < count; ++i)
    if (!std::strcmp(counters[i].name, "IDLETIME")) idleCounter = counters[i].counter;
  if (counters) XSyncFreeSystemCounterList(counters);
  return idleCounter != 0;
}

X11Idle::~X11Idle() {
  if (watch) g_source_remove(watch);
  if (timer) g_source_remove(timer);
  if (!display) return;
  if (alarm && !gConnectionLost) XSyncDestroyAlarm(display, alarm);
  XCloseDisplay(display);
}

bool X11Idle::Lost() {
  if (!gConnectionLost) return false;
  std::fprintf(stderr, "glymmer: the X server went away\n");
  if (timer) g_source_remove(timer);
  timer = 0;
  if (notify) notify(IdleEvent::kLost);
  return true;
}

void X11Idle::Check() {
  XScreenSaverInfo info;
  std::memset(&info, 0, sizeof info);
  Status answered = XScreenSaverQueryInfo(display, DefaultRootWindow(display), &info);
  if (gConnectionLost) return;
  // A server that does not answer this once is asked again after the delay.
  if (!answered) info.idle = 0;
  if (info.idle >= delay) {
    idle = true;
    ArmActivityAlarm();
    notify(IdleEvent::kIdle);
    return;
  }
  // Input since then moves the moment on; the server is asked again then.
  timer = g_timeout_add(static_cast<guint>(delay - info.idle), OnDue, this);
}

void X11Idle::ArmActivityAlarm() {
  // IDLETIME only grows while the user is away, and falls to 0 at input:
  // the alarm fires when it falls below half the delay.
  XSyncAlarmAttributes a;
  std::memset(&a, 0, sizeof a);
  a.trigger.counter = idleCounter;
  a.trigger.value_type = XSyncAbsolute;
  XSyncIntToValue(&a.trigger.wait_value, static_cast<int>(delay / 2));
  a.trigger.test_type = XSyncNegativeComparison;
  XSyncIntToValue(&a.delta, 0);
  a.events = True;
  if (alarm) XSyncDestroyAlarm(display, alarm);
  alarm = XSyncCreateAlarm(display,
                           XSyncCACounter | XSyncCAValueType | XSyncCAValue | XSyncCATestType |
                               XSyncCADelta | XSyncCAEvents,
                           &a);
  XFlush(display);
}

gboolean X11Idle::OnDue(gpointer data) {
  X11Idle* self = static_cast<X11Idle*>(data);
  self->timer = 0;
  self->Check();
  if (self->Lost() && self->watch) {
    g_source_remove(self->watch);
    self->watch = 0;
  }
  return G_SOURCE_REMOVE;
}

gboolean X11Idle::OnReadable(gint, GIOCondition, gpointer data) {
  X11Idle* self = static_cast<X11Idle*>(data);
  bool active = false;
  while (!gConnectionLost && XPending(self->display)) {
    XEvent event;
    XNextEvent(self->display, &event);
    if (event.type == self->syncEventBase + XSyncAlarmNotify &&
        reinterpret_cast<XSyncAlarmNotifyEvent*>(&event)->alarm == self->alarm)
      active = true;
  }
  if (active && self->idle) {
    self->idle = false;
    XSyncDestroyAlarm(self->display, self->alarm);
    self->alarm = 0;
    // Asked before the news, which may arm the watch anew.
    self->Check();
    if (!gConnectionLost) self->notify(IdleEvent::kActive);
  }
  if (self->Lost()) {
    self->watch = 0;
    return G_SOURCE_REMOVE;
  }
  return G_SOURCE_CONTINUE;
}

bool X11Idle::Rearm(unsigned delayMs) {
  if (gConnectionLost) return false;
  if (timer) g_source_remove(timer);
  timer = 0;
  if (alarm) XSyncDestroyAlarm(display, alarm);
  alarm = 0;
  idle = false;
  delay = delayMs;
  Check();
  return true;
}

bool X11Idle::Start(unsigned delayMs, std::function<void(IdleEvent)> tell) {
  notify = std::move(tell);
  delay = delayMs;
  watch = g_unix_fd_add(ConnectionNumber(display),
                        static_cast<GIOCondition>(G_IO_IN | G_IO_HUP | G_IO_ERR), OnReadable, this);
  Check();
  if (!gConnectionLost) return true;
  std::fprintf(stderr, "glymmer: the X server went away\n");
  return false;
}

}  // namespace

std::unique_ptr<IdleSource> MakeX11IdleSource(std::string* lookedFor) {
  std::unique_ptr<X11Idle> source(new X11Idle);
  if (!source->Open(lookedFor)) return nullptr;
  return source;
}

bool XScreenSaverDaemonRuns(std::string* version) {
  Display* display = XOpenDisplay(nullptr);
  if (!display) return false;
  // A window may vanish while it is looked at: that is no error here.
  XErrorHandler before = XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
  bool found = false;
  // The atom exists once a daemon has run on this server; the daemon's
  // window carries it while it runs.
  Atom atom = XInternAtom(display, "_SCREENSAVER_VERSION", True);
  Window root = DefaultRootWindow(display), parent = 0, *children = nullptr;
  unsigned int count = 0;
  if (atom != None && XQueryTree(display, root, &root, &parent, &children, &count)) {
    for (unsigned int i = 0; i < count && !found; ++i) {
      Atom type = None;
      int format = 0;
      unsigned long items = 0, after = 0;
      unsigned char* value = nullptr;
      if (XGetWindowProperty(display, children[i], atom, 0, 64, False, XA_STRING, &type, &format,
                             &items, &after, &value) == Success &&
          type == XA_STRING && value) {
        found = true;
        *version = std::string(reinterpret_cast<char*>(value), items);
      }
      if (value) XFree(value);
    }
    if (children) XFree(children);
  }
  XCloseDisplay(display);
  XSetErrorHandler(before);
  return found;
}
