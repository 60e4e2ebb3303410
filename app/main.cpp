// glymmer: Glymmer's own engine. It creates the screen-saver views, drives
// them on one thread and ends them in order.

#include "Engine.h"
#include "Options.h"

#include "host/SettingOverrides.h"
#include "platform/DisplaySystem.h"
#include "platform/Memory.h"
#include "platform/Verbose.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>

volatile std::sig_atomic_t gStopSignal = 0;

// Whether a stop signal is a normal way out (exit status 0) rather than a
// cut-short run (128 + the signal).
static volatile std::sig_atomic_t gStopExitsCleanly = 0;
// Seconds the run has to end in order after a stop signal.
constexpr unsigned kStopGrace = 5;

static void OnStopSignal(int signal) {
  if (gStopSignal) return;
  gStopSignal = signal;
  // A run stuck in the GL driver (its X server gone, say) never returns to
  // its loop; the alarm ends it all the same.
  alarm(kStopGrace);
}

// Set by EndWithin: the status to end with when the alarm comes first.
static volatile std::sig_atomic_t gOverdueStatus = -1;

static void OnStopOverdue(int) {
  if (gOverdueStatus >= 0) _exit(gOverdueStatus);
  _exit(gStopExitsCleanly ? 0 : 128 + gStopSignal);
}

void EndWithin(unsigned seconds, int status) {
  gOverdueStatus = status;
  alarm(seconds);
}

// --detach: the write end of the pipe on which the detached process tells
// the one that started it whether its views came up; -1 when not detached.
static int gReadyPipe = -1;
// --detach --verbose: the file the detached process's messages go to once it
// has reported; empty: they go nowhere.
static std::string gDetachedLog;

// The caller may be reading standard output and error to their end
// (out=$(glymmer --saver --detach)): once it has its answer, they go to the
// log file or to /dev/null, so that the caller's command ends.
static void LeaveCallersOutput() {
  std::fflush(stdout);
  std::fflush(stderr);
  int fd = -1;
  if (!gDetachedLog.empty())
    fd = open(gDetachedLog.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) fd = open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (fd < 0) return;
  dup2(fd, STDOUT_FILENO);
  dup2(fd, STDERR_FILENO);
  close(fd);
}

// --shown-fd: where the idle watcher learns that every view is shown; -1
// when no one asked.
static int gShownPipe = -1;

// Writes the one byte of a report to a parent and closes the pipe; false
// when there was no pipe (no one asked, or it was told already).
static bool Tell(int* pipe, bool yes) {
  if (*pipe < 0) return false;
  char status = yes ? 0 : 1;
  ssize_t written = write(*pipe, &status, 1);
  (void)written;
  close(*pipe);
  *pipe = -1;
  return true;
}

void ReportStarted(bool started) {
  if (Tell(&gReadyPipe, started) && started) LeaveCallersOutput();
}

void ReportShown() { Tell(&gShownPipe, true); }

// Goes on in a new process of its own session; this one waits until the new
// one says whether it started, and ends with 0 or 1 accordingly; a stop
// signal ends the wait at once, and the new process with it (status 128 plus
// the signal). The fork comes before anything starts a thread (the GL driver
// does).
static bool Detach(bool verbose, int* status) {
  int ready[2];
  if (pipe(ready) != 0) return false;
  pid_t child = fork();
  if (child < 0) {
    close(ready[0]);
    close(ready[1]);
    return false;
  }
  if (child > 0) {
    close(ready[1]);
    // The stop signals are let in only while the wait sleeps, so that one
    // cannot slip in between the check and the wait.
    sigset_t stops, waiting;
    sigemptyset(&stops);
    sigaddset(&stops, SIGINT);
    sigaddset(&stops, SIGTERM);
    sigaddset(&stops, SIGUSR1);
    sigprocmask(SIG_BLOCK, &stops, &waiting);
    sigdelset(&waiting, SIGINT);
    sigdelset(&waiting, SIGTERM);
    sigdelset(&waiting, SIGUSR1);
    pollfd p{ready[0], POLLIN, 0};
    int polled;
    do {
      polled = ppoll(&p, 1, nullptr, &waiting);
    } while (polled < 0 && errno == EINTR && !gStopSignal);
    if (gStopSignal) {
      // Whoever stops the command stops the saver it was starting.
      kill(child, gStopSignal);
      alarm(0);
      close(ready[0]);
      *status = 128 + gStopSignal;
      return true;
    }
    char answer = 1;
    ssize_t got = polled > 0 ? read(ready[0], &answer, 1) : -1;
    close(ready[0]);
    *status = got == 1 ? answer : 1;
    return true;
  }
  close(ready[0]);
  gReadyPipe = ready[1];
  // A caller that closed its end of a pipe never ends the saver.
  struct sigaction ignore;
  std::memset(&ignore, 0, sizeof ignore);
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  sigaction(SIGPIPE, &ignore, nullptr);
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (verbose && runtime && *runtime) gDetachedLog = std::string(runtime) + "/glymmer.log";
  setsid();
  int devnull = open("/dev/null", O_RDONLY);
  if (devnull >= 0) {
    dup2(devnull, STDIN_FILENO);
    close(devnull);
  }
  return false;
}

void InstallStopHandlers() {
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  // XSecureLock resets its saver with SIGUSR1 and starts again one that ends.
  sigaction(SIGUSR1, &action, nullptr);
  action.sa_handler = OnStopOverdue;
  sigaction(SIGALRM, &action, nullptr);
}

int main(int argc, char** argv) {
  TuneAllocatorForLongRuns();
  Options options;
  std::string error;
  if (!ParseOptions(argc, argv, &options, &error)) {
    std::fprintf(stderr, "glymmer: %s\n", error.c_str());
    return 2;
  }
  if (options.showHelp) {
    std::fputs(UsageText().c_str(), stdout);
    return 0;
  }
  if (options.showVersion) {
    std::printf("glymmer %s\n", GLYMMER_VERSION);
    return 0;
  }
  if (options.mode == RunMode::Configure && options.settingsGiven) {
    // The dialog saves what it shows: a run's settings would end up stored.
    std::fprintf(stderr,
                 "glymmer: setting options apply to one run; --configure changes the stored "
                 "settings and takes none\n");
    return 2;
  }
  if (options.afterGiven && options.mode != RunMode::Idle) {
    std::fprintf(stderr, "glymmer: --after goes with --idle\n");
    return 2;
  }
  // Only a pipe that this process really holds is reported to, and no
  // program it starts inherits it.
  if (options.shownFd >= 0 && fcntl(options.shownFd, F_SETFD, FD_CLOEXEC) == 0)
    gShownPipe = options.shownFd;
  if (options.mode == RunMode::Idle) {
    if (options.detach) {
      std::fprintf(stderr, "glymmer: --idle runs until the session ends; start it in the "
                           "background instead of --detach\n");
      return 2;
    }
    return RunIdle(options);
  }
  // Every view this process creates applies them after loading the store.
  *ProcessSettingOverrides() = options.overrides;
  // Lines said from the views' worker threads as well.
  SetVerbose(options.verbose);
  InstallStopHandlers();
  RunMode mode = options.mode;
  if (mode == RunMode::Default) {
    DisplayBackend backend;
    if (!options.backendGiven && !DisplayBackendFromEnvironment(&backend)) {
      std::fprintf(stderr, "glymmer: no display to show on; use --render to render to files\n");
      return 2;
    }
    mode = RunMode::Window;
  }
  if (mode == RunMode::Window && options.preview) mode = RunMode::Preview;
  // On screen a stop signal is the normal way out (xscreensaver ends its
  // hacks so); a render it cuts short reports the signal.
  gStopExitsCleanly = mode != RunMode::Render;
  switch (mode) {
    case RunMode::Render:
      return RunRender(options);
    case RunMode::Configure:
      return RunConfigure(options);
    case RunMode::Window:
    case RunMode::Preview:
    case RunMode::FullScreen:
    case RunMode::Saver:
    case RunMode::Hack: {
      Options onScreen = options;
      onScreen.mode = mode;
      int status = 0;
      if (options.detach && mode != RunMode::Hack) {
        if (Detach(options.verbose, &status)) return status;
        if (options.verbose && gReadyPipe >= 0)
          std::fprintf(stderr, "glymmer: goes on in the background as process %d; once up, %s%s\n",
                       static_cast<int>(getpid()),
                       gDetachedLog.empty() ? "it says no more" : "its messages go to ",
                       gDetachedLog.c_str());
      }
      return RunOnScreen(onScreen);
    }
    default:
      std::fprintf(stderr, "glymmer: this mode is not available\n");
      return 2;
  }
}
