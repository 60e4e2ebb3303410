// Idle: glymmer --idle, the screen saver of a session. It only listens (idle
// and activity from the session's idle source, the session lock, stop
// signals) and runs the saver as a child process, so that a saver that
// crashes or leaks never ends the watch. It opens no OpenGL and no pictures,
// and between events it sleeps in one poll.

#include "Engine.h"

#include "StartUp.h"
#include "platform/Bundle.h"
#include "platform/IdleLoop.h"
#include "platform/IdleSource.h"
#include "platform/DesktopTimers.h"
#include "platform/dbus/SessionLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

// How long a saver has to end in order after SIGTERM before it is killed;
// the saver gives its own teardown 5 s.
constexpr unsigned kSaverGraceMs = 6000;
// Activity ends the saver even where the saver sees no input (another client
// holds the grabs), but only once the session has been calm this long after
// the saver showed itself: some compositors count a surface's appearance or
// focus as activity (cage 0.1.4 does, 0.2 s after), which must not end it.
// The calm is timed by the session itself, through the idle source armed
// anew when the saver says that it is shown: so a slow first frame (a loaded
// machine, the sanitizers) or a late report of the appearance only moves the
// moment on, where a fixed time after the start would guess.
constexpr unsigned kSettleMs = 1500;

std::string DescribeStatus(int status) {
  if (WIFEXITED(status)) return "status " + std::to_string(WEXITSTATUS(status));
  if (WIFSIGNALED(status)) {
    const char* name = strsignal(WTERMSIG(status));
    return std::string("signal ") + std::to_string(WTERMSIG(status)) + (name ? std::string(", ") + name : "");
  }
  return "status " + std::to_string(status);
}

class Watcher {
public:
  Watcher(const Options& o, IdleLoop& l, IdleSource& s, unsigned delayMs)
      : options(o), loop(l), source(s), delay(delayMs) {
    program = OwnExecutable();
    saverMode = source.OffersSaverLayer() ? "--saver" : "--fullscreen";
  }

  const char* SaverMode() const { return saverMode; }
  void WatchLock(const LockWatch* watch) { lockWatch = watch; }

  void OnIdleEvent(IdleEvent event) {
    switch (event) {
      case IdleEvent::kIdle:
        if (settling) {
          // Calm since the saver showed itself: activity from now on is the
          // user's.
          settling = false;
          settled = saver > 0;
          if (settled && options.verbose)
            std::fprintf(stderr, "glymmer: the saver is up; activity ends it\n");
          return;
        }
        heldBack = false;
        StartSaverUnlessHeld();
        return;
      case IdleEvent::kLookAgain:
        // Only a period that an inhibitor held back: a saver that failed
        // waits for the user as ever.
        if (!heldBack) return;
        heldBack = false;
        if (options.verbose)
          std::fprintf(stderr, "glymmer: an inhibitor went while the session is still idle\n");
        StartSaverUnlessHeld();
        return;
      case IdleEvent::kActive:
        heldBack = false;
        if (options.verbose) std::fprintf(stderr, "glymmer: the user is active again\n");
        if (settled && saver > 0 && !stopping) {
          if (options.verbose) std::fprintf(stderr, "glymmer: the saver ends\n");
          EndSaver();
        }
        // The watch for the saver's settling has done its work: the next
        // idle period counts the whole delay again, from this activity.
        EndShortWatch();
        // logind's Lock only asks for a locker: swaylock and i3lock, started
        // by it, never say that they locked, nor that they were unlocked. A
        // lock no locker confirmed is over when the user is back (typing
        // the password is activity), or no saver would come again.
        if (locked && lockWatch && !lockWatch->Confirmed()) {
          locked = false;
          if (options.verbose)
            std::fprintf(stderr, "glymmer: no locker confirmed logind's lock; it counts as over "
                                 "now that the user is back\n");
        }
        return;
      case IdleEvent::kLost:
        Stop(1);
        return;
    }
  }

  // A locked session shows its lock screen: nothing draws under it, and no
  // saver is left to dismiss after unlocking.
  void OnLockChanged(bool nowLocked) {
    if (nowLocked == locked) return;
    locked = nowLocked;
    if (!locked) {
      if (options.verbose) std::fprintf(stderr, "glymmer: the session is unlocked\n");
      return;
    }
    if (saver <= 0) {
      if (options.verbose) std::fprintf(stderr, "glymmer: the session locked\n");
      return;
    }
    if (options.verbose) std::fprintf(stderr, "glymmer: the session locked; the saver ends\n");
    EndSaver();
  }

  // Ends the saver, if one runs, then the loop; Run then returns `status`.
  void Stop(int status) {
    if (stopping) return;
    stopping = true;
    exitStatus = status;
    if (saver <= 0) {
      loop.Quit();
      return;
    }
    EndSaver();
  }

  int ExitStatus() const { return exitStatus; }

private:
  void StartSaverUnlessHeld() {
    if (saver > 0 || stopping) return;
    if (locked) {
      if (options.verbose)
        std::fprintf(stderr, "glymmer: idle for %u s, but the session is locked\n", delay / 1000);
      return;
    }
    if (source.Inhibited()) {
      // The user may stay away long after the video ends: the source says
      // when to look again.
      heldBack = true;
      if (options.verbose)
        std::fprintf(stderr, "glymmer: idle for %u s, but an inhibitor holds the session\n",
                     delay / 1000);
      return;
    }
    StartSaver();
  }

  // Ends the watch for the saver's settling, if armed: the next idle period
  // counts the whole delay again, from now. True when there was one.
  bool EndShortWatch() {
    if (!shortWatch) return false;
    shortWatch = settling = settled = false;
    source.Rearm(delay);
    return true;
  }

  // SIGTERM, and SIGKILL for a saver that has not ended in order by then.
  void EndSaver() {
    kill(saver, SIGTERM);
    pid_t stuck = saver;
    loop.Cancel(killTimer);
    killTimer = loop.After(kSaverGraceMs, [stuck] { kill(stuck, SIGKILL); });
  }

  void StartSaver() {
    std::vector<std::string> argv = {program, saverMode};
    argv.insert(argv.end(), options.saverArguments.begin(), options.saverArguments.end());
    // The saver says on this pipe when its surfaces are all shown.
    int shown[2] = {-1, -1};
    if (!program.empty() && pipe2(shown, O_CLOEXEC) == 0) {
      argv.push_back("--shown-fd");
      argv.push_back(std::to_string(shown[1]));
    }
    saver = program.empty() ? -1
                            : loop.StartChild(argv, [this](int status) { SaverEnded(status); },
                                              shown[1]);
    if (shown[1] >= 0) close(shown[1]);
    if (saver < 0) {
      if (shown[0] >= 0) close(shown[0]);
      Failed("it could not be started");
      return;
    }
    if (shown[0] >= 0) {
      shownPipe = shown[0];
      shownWatch = loop.WhenReadable(shownPipe, [this] { SaverShown(); });
    }
    if (options.verbose)
      std::fprintf(stderr, "glymmer: idle for %u s: the saver starts (glymmer %s, process %d)\n",
                   delay / 1000, saverMode, static_cast<int>(saver));
  }

  // The saver's surfaces are all up (or it ended without saying so): the
  // watch is armed anew, to learn when the session has settled after their
  // appearance.
  void SaverShown() {
    char byte = 1;
    bool up = read(shownPipe, &byte, 1) == 1 && byte == 0;
    CloseShownPipe();
    if (!up || saver <= 0 || stopping) return;
    if (options.verbose) std::fprintf(stderr, "glymmer: the saver is shown\n");
    shortWatch = settling = true;
    settled = false;
    if (!source.Rearm(kSettleMs)) shortWatch = settling = false;
  }

  void CloseShownPipe() {
    if (shownPipe < 0) return;
    loop.Cancel(shownWatch);
    close(shownPipe);
    shownPipe = -1;
  }

  void SaverEnded(int status) {
    saver = -1;
    settled = false;
    CloseShownPipe();
    loop.Cancel(killTimer);
    killTimer = 0;
    if (stopping) {
      loop.Quit();
      return;
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) {
      failedBefore = false;
      if (options.verbose)
        std::fprintf(stderr, "glymmer: the saver ended; it starts again after the next idle period\n");
      // It ended at input of its own (or at the lock) while the watch was
      // armed for its settling: the session may not tell that input, so the
      // next idle period counts from now. A failed saver waits for activity.
      EndShortWatch();
      return;
    }
    // One that was up and failed (its compositor restarted under it, say):
    // the watch for its settling is moot, and the whole delay counts again
    // from now, so the next idle period brings it back.
    Failed("it ended with " + DescribeStatus(status), EndShortWatch());
  }

  // A saver that could not start, or crashed before it was up, is tried
  // again only after the user has been back: said once, not at every try.
  void Failed(const std::string& why, bool afterIdle = false) {
    if (!failedBefore)
      std::fprintf(stderr, "glymmer: the saver failed (%s); it is tried again after the next %s\n",
                   why.c_str(), afterIdle ? "idle period" : "activity");
    failedBefore = true;
  }

  const Options& options;
  IdleLoop& loop;
  IdleSource& source;
  unsigned delay;
  std::string program;
  const char* saverMode;
  int saver = -1;
  bool failedBefore = false;
  bool stopping = false;
  bool locked = false;
  bool heldBack = false;  // this idle period's saver was held back by an inhibitor
  const LockWatch* lockWatch = nullptr;
  unsigned killTimer = 0;
  int exitStatus = 0;
  int shownPipe = -1;        // read end of the saver's --shown-fd, until it speaks
  unsigned shownWatch = 0;
  bool shortWatch = false;   // the source is armed for kSettleMs, not the delay
  bool settling = false;     // its kIdle is awaited: the saver's appearance settling
  bool settled = false;      // since then calm: activity ends the saver
};

}  // namespace

int RunIdle(const Options& options) {
  unsigned delayMs = options.afterGiven ? static_cast<unsigned>(options.afterSeconds) * 1000u
                                        : static_cast<unsigned>(StoredIdleDelayMinutes()) * 60000u;
  std::string session = SessionName();
  int claim = ClaimSession(session);
  if (claim == -1) {
    std::fprintf(stderr, "glymmer: an idle watcher already runs on %s\n", session.c_str());
    return 1;
  }
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  const char* x11 = std::getenv("DISPLAY");
  std::string version;
  if (!(wayland && *wayland) && x11 && *x11 && XScreenSaverDaemonRuns(&version)) {
    std::fprintf(stderr,
                 "glymmer: the xscreensaver daemon %s already runs on %s and two savers would "
                 "fight: add glymmer --root to its programs instead\n",
                 version.c_str(), x11);
    if (claim >= 0) close(claim);
    return 1;
  }
  std::string lookedFor;
  std::unique_ptr<IdleSource> source = MakeIdleSource(options.verbose, &lookedFor);
  if (!source) {
    std::fprintf(stderr, "glymmer: this session offers no idle source; looked for %s\n",
                 lookedFor.c_str());
    if (claim >= 0) close(claim);
    return 1;
  }
  int status;
  {
    IdleLoop loop;
    Watcher watcher(options, loop, *source, delayMs);
    loop.WatchStopSignals([&](int signal) {
      if (options.verbose)
        std::fprintf(stderr, "glymmer: %s: the idle watcher ends\n", strsignal(signal));
      watcher.Stop(0);
    });
    if (options.verbose)
      std::fprintf(stderr, "glymmer: idle watcher on %s: %s; the saver (glymmer %s) after %u s\n",
                   session.c_str(), source->Name(), watcher.SaverMode(), delayMs / 1000);
    if (!source->Start(delayMs, [&](IdleEvent event) { watcher.OnIdleEvent(event); })) {
      if (claim >= 0) close(claim);
      return 1;
    }
    // A desktop that blanks or locks first hides every saver: said once,
    // whatever --verbose says, so that it reaches the journal.
    std::vector<DesktopTimer> timers = DesktopTimers();
    if (!timers.empty() && timers.front().seconds * 1000u <= delayMs)
      std::fprintf(stderr,
                   "glymmer: %s, no later than Glymmer's %u s: the saver would not be seen. Set "
                   "fewer minutes in glymmer --configure, or change the desktop's settings\n",
                   DescribeDesktopTimer(timers.front()).c_str(), delayMs / 1000);
    std::unique_ptr<LockWatch> lock = MakeLockWatch(options.verbose);
    if (lock && !lock->Start([&](bool locked) { watcher.OnLockChanged(locked); })) lock.reset();
    if (options.verbose && !lock)
      std::fprintf(stderr, "glymmer: no session lock to watch\n");
    watcher.WatchLock(lock.get());
    loop.Run();
    status = watcher.ExitStatus();
    watcher.WatchLock(nullptr);
    lock.reset();
  }
  source.reset();
  if (claim >= 0) close(claim);
  return status;
}
