// FolderWatch: tells when the entries of chosen folders change (inotify), so
// that a listing of them is made again only when it may be stale. One watch
// serves a library for as long as it is kept: a listing made again adds the
// same folders, which keep their watches, and lets go of those it no longer
// lists.
#pragma once

#include <unordered_map>

class FolderWatch {
public:
  FolderWatch() : fd(-1), complete(true), full(false), listing(0) {}  // allocates nothing
  ~FolderWatch();                                                      // Cleanup()
  FolderWatch(const FolderWatch&) = delete;
  FolderWatch& operator=(const FolderWatch&) = delete;

  // Starts watching nothing yet, unless started before. False when the
  // system offers no watch (no inotify, or its instances are used up);
  // every Add then fails.
  bool Setup();
  // A new listing of the watched folders begins: its Adds count for
  // Complete(), and EndListing lets go of the folders it did not add.
  void BeginListing();
  // Watches the entries of `folder`: created, deleted, moved in or out, and
  // the folder itself going; a folder watched already keeps its watch. False
  // when it cannot be watched (the folder is gone, or the per-user limit of
  // watches is reached: then, said once, no folder is added any more, so
  // that the other programs of the user keep what is left).
  bool Add(const char* folder);
  // The listing begun last is whole: the folders it did not add are watched
  // no more.
  void EndListing();
  // Every Add of the listing begun last succeeded.
  bool Complete() const { return complete; }
  // Folders watched now.
  int Count() const { return static_cast<int>(listingOf.size()); }
  // Takes the events that have arrived, without waiting. True when one of
  // them concerns an entry whose name does not start with "." (or a watched
  // folder itself, or events were lost): something listed may have changed.
  // Any thread, but one at a time, also while another thread adds.
  bool Changed();
  // Stops watching. Safe to call more than once.
  void Cleanup();

private:
  int fd;
  bool complete;
  bool full;     // the per-user limit of watches was met
  unsigned listing;
  std::unordered_map<int, unsigned> listingOf;  // watch descriptor -> the listing that last added it
};
