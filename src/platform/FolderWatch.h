// FolderWatch: tells when the entries of chosen folders change (inotify), so
// that a listing of them is made again only when it may be stale.
#pragma once

class FolderWatch {
public:
  FolderWatch() : fd(-1), complete(true) {}  // watches nothing; allocates nothing
  ~FolderWatch();                            // Cleanup()
  FolderWatch(const FolderWatch&) = delete;
  FolderWatch& operator=(const FolderWatch&) = delete;

  // Starts watching nothing yet. False when the system offers no watch (no
  // inotify, or its instances are used up); every Add then fails.
  bool Setup();
  // Watches the entries of `folder`: created, deleted, moved in or out, and
  // the folder itself going. False when it cannot be watched (the per-user
  // limit of watches is reached, or the folder is gone); Complete() is then
  // false for good.
  bool Add(const char* folder);
  // Every Add so far succeeded.
  bool Complete() const { return complete; }
  // Takes the events that have arrived, without waiting. True when one of
  // them concerns an entry whose name does not start with "." (or a watched
  // folder itself, or events were lost): something listed may have changed.
  // Any thread, but one at a time.
  bool Changed();
  // Stops watching. Safe to call more than once.
  void Cleanup();

private:
  int fd;
  bool complete;
};
