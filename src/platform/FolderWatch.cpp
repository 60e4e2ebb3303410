// FolderWatch: inotify on a set of folders, read without waiting.

#include "platform/FolderWatch.h"

#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstring>

namespace {

// Entries appearing and going, and the folder itself going; not writes to
// files already there, which do not change a listing.
constexpr uint32_t kWatched = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO |
                              IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

}  // namespace

FolderWatch::~FolderWatch() { Cleanup(); }

bool FolderWatch::Setup() {
  Cleanup();
  complete = true;
  fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (fd < 0) complete = false;
  return fd >= 0;
}

bool FolderWatch::Add(const char* folder) {
  if (fd < 0 || inotify_add_watch(fd, folder, kWatched) < 0) {
    complete = false;
    return false;
  }
  return true;
}

bool FolderWatch::Changed() {
  if (fd < 0) return false;
  bool changed = false;
  alignas(inotify_event) char buffer[16 * (sizeof(inotify_event) + NAME_MAX + 1)];
  for (;;) {
    ssize_t got = read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    for (ssize_t at = 0; at + static_cast<ssize_t>(sizeof(inotify_event)) <= got;) {
      const inotify_event* e = reinterpret_cast<const inotify_event*>(buffer + at);
      // Hidden entries (editors' and importers' scratch files) are never
      // listed, so their coming and going changes nothing.
      if (e->len == 0 || e->name[0] != '.') changed = true;
      at += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
    }
  }
  return changed;
}

void FolderWatch::Cleanup() {
  if (fd >= 0) close(fd);
  fd = -1;
}
