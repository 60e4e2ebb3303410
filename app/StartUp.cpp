// StartUp: the idle delay in the program's own store.

#include "StartUp.h"

#include "host/AppSettings.h"
#include "platform/Bundle.h"
#include "platform/DisplaySystem.h"
#include "platform/IdleLoop.h"
#include "platform/ScreenSaverDefaults.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include <algorithm>
#include <cstdint>

namespace {

int InRange(int64_t minutes) {
  return static_cast<int>(std::clamp<int64_t>(minutes, kIdleDelayLowest, kIdleDelayHighest));
}

}  // namespace

int StoredIdleDelayMinutes() {
  ScreenSaverDefaults* store = ScreenSaverDefaults::defaultsForModuleWithName(kAppSettingsModuleName);
  if (!store || !store->stringForKey(kIdleDelayKey)) return kIdleDelayDefault;
  return InRange(store->integerForKey(kIdleDelayKey));
}

bool StoreIdleDelayMinutes(int minutes, std::string* where) {
  ScreenSaverDefaults* store = ScreenSaverDefaults::defaultsForModuleWithName(kAppSettingsModuleName);
  if (store) store->setInteger(InRange(minutes), kIdleDelayKey);
  if (SaveAppSettings(where)) return true;
  if (where->empty()) *where = "the configuration folder";
  return false;
}

std::string SessionName() {
  DisplayBackend backend;
  return DisplayBackendFromEnvironment(&backend) ? DisplayLockName(backend) : "none";
}

namespace {

std::string LockPath(const std::string& session) {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  return runtime && *runtime
             ? std::string(runtime) + "/glymmer-idle-" + session + ".lock"
             : "/tmp/glymmer-idle-" + std::to_string(getuid()) + "-" + session + ".lock";
}

int OpenLock(const std::string& session) {
  int fd = open(LockPath(session).c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return -2;
  struct stat info;
  if (fstat(fd, &info) != 0 || info.st_uid != getuid() || !S_ISREG(info.st_mode)) {
    close(fd);
    return -2;
  }
  return fd;
}

// The process id a watcher wrote into its lock; 0 when none can be read.
pid_t LockHolder(int fd) {
  char text[32] = {};
  ssize_t got = pread(fd, text, sizeof text - 1, 0);
  long pid = got > 0 ? std::strtol(text, nullptr, 10) : 0;
  return pid > 1 ? static_cast<pid_t>(pid) : 0;
}

// Whether a watcher holds the lock now.
bool Held(int fd) {
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) return true;
  flock(fd, LOCK_UN);
  return false;
}

}  // namespace

int ClaimSession(const std::string& session) {
  int fd = OpenLock(session);
  if (fd < 0) return fd;
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    close(fd);
    return -1;
  }
  std::string pid = std::to_string(getpid()) + "\n";
  if (ftruncate(fd, 0) == 0 && pwrite(fd, pid.data(), pid.size(), 0) < 0) {
    // The lock still holds; only a dialog's switch cannot end this watcher.
  }
  return fd;
}

bool ApplyStartUpNow(bool on) {
  std::string session = SessionName();
  int fd = OpenLock(session);
  if (fd >= 0 && Held(fd)) {
    // End the running watcher (its saver ends with it), and wait for its lock.
    if (pid_t pid = LockHolder(fd)) kill(pid, SIGTERM);
    for (int i = 0; i < 80 && Held(fd); ++i) usleep(100 * 1000);
  }
  // A watcher that holds on past the wait would refuse the new one unseen.
  const bool stillHeld = fd >= 0 && Held(fd);
  if (fd >= 0) close(fd);
  if (stillHeld) return false;
  if (!on) return true;
  std::string program = OwnExecutable();
  if (program.empty()) return false;
  pid_t child = ForkWithDefaultSignals();
  if (child < 0) return false;
  if (child == 0) {
    // A grandchild in a session of its own: it outlives the dialog, and no
    // terminal's hang-up reaches it.
    if (fork() != 0) _exit(0);
    setsid();
    int null = open("/dev/null", O_RDWR);
    if (null >= 0) {
      dup2(null, STDIN_FILENO);
      dup2(null, STDOUT_FILENO);
      dup2(null, STDERR_FILENO);
      if (null > STDERR_FILENO) close(null);
    }
    execl(program.c_str(), program.c_str(), "--idle", static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}
