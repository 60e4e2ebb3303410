// FolderWatch: inotify on a set of folders, read without waiting.

#include "platform/FolderWatch.h"

#include "platform/Verbose.h"

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
  if (fd >= 0) return true;
  complete = true;
  fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (fd < 0) complete = false;
  return fd >= 0;
}

void FolderWatch::BeginListing() {
  ++listing;
  complete = fd >= 0 && !full;
}

bool FolderWatch::Add(const char* folder) {
  if (fd < 0 || full) {
    complete = false;
    return false;
  }
  int wd = inotify_add_watch(fd, folder, kWatched);
  if (wd < 0) {
    if (errno == ENOSPC) {
      full = true;
      VerboseLine("the system's limit of folder watches (fs.inotify.max_user_watches) is met "
                  "at %d folders: changes in the others are found only when a picture is missed",
                  Count());
    }
    complete = false;
    return false;
  }
  listingOf[wd] = listing;
  return true;
}

void FolderWatch::EndListing() {
  for (auto it = listingOf.begin(); it != listingOf.end();) {
    if (it->second == listing) {
      ++it;
      continue;
    }
    inotify_rm_watch(fd, it->first);
    it = listingOf.erase(it);
  }
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
      // listed, so their coming and going changes nothing; nor does a watch
      // let go of (a folder gone says so on its own).
      if (!(e->mask & IN_IGNORED) && (e->len == 0 || e->name[0] != '.')) changed = true;
      at += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
    }
  }
  return changed;
}

void FolderWatch::Cleanup() {
  if (fd >= 0) close(fd);
  fd = -1;
  full = false;
  complete = true;
  listingOf.clear();
}
