// Library: a whole photo library, every picture file in a folder and its
// sub-folders, listed off the animation thread into a compact index from
// which a picture is drawn in microseconds, and listed again when it may
// have changed.
#pragma once

#include "platform/FolderWatch.h"
#include "platform/Worker.h"

#include <atomic>
#include <cstddef>
#include <cstdint>

// How far a walk goes: folders at most `depth` levels below the top (whose
// own files are at level 0), and at most `entries` folder entries read, of
// every kind, before it stops.
struct LibraryLimits {
  int depth;
  int64_t entries;
};
constexpr LibraryLimits kLibraryLimits = {32, 1000000};

// The name ends in a picture extension of a library, in any letter case:
// jpg, jpeg, jpe, png, gif, webp, heic, heif, avif, tif, tiff, bmp, after at
// least one other character.
bool IsLibraryPictureName(const char* name);

// The picture files under one folder. Each file costs its name plus 8 bytes;
// each folder its name plus 8 bytes. Paths are put together on demand.
class LibraryIndex {
public:
  // What the last Build met.
  int folders;         // folders listed, the top included
  int unreadable;      // folders passed over because they could not be read
  bool depthLimited;   // a folder lay deeper than the limit
  bool entryLimited;   // the walk stopped at the limit of entries
  int64_t entries;     // folder entries read

  LibraryIndex();   // empty; allocates nothing
  ~LibraryIndex();  // Cleanup()
  LibraryIndex(const LibraryIndex&) = delete;
  LibraryIndex& operator=(const LibraryIndex&) = delete;

  // Lists the picture files (IsLibraryPictureName) under the folder `top`
  // (with or without its final "/"), in listing order, folder by folder,
  // depth first. Symbolic links are followed, but no folder is entered
  // twice, so a loop of links or two links to one folder list it once.
  // Entries whose names start with "." are passed over, and so is anything
  // that is not a regular file or folder (a FIFO, a device). A folder that
  // cannot be read is passed over with a --verbose line, and a path longer
  // than the system takes is passed over; reaching a limit is said in one
  // line on standard error, --verbose or not. With a `watch` (set up), every
  // listed folder is watched for changes, and once the listing is whole the
  // folders it no longer holds are let go. False when `stop` turned true or
  // memory ran out: the index is then empty. True otherwise, also when the
  // top itself cannot be read.
  bool Build(const char* top, const LibraryLimits& limits, const std::atomic<bool>* stop,
             FolderWatch* watch);

  int Count() const { return static_cast<int>(fileCount); }
  // Writes the full path of picture n (0 .. Count() - 1) into `path` (`size`
  // bytes) and points *name at its file name there. False when n is out of
  // range or the path does not fit.
  bool PathOf(int n, char* path, size_t size, const char** name) const;
  // Memory the index holds, in bytes.
  size_t Bytes() const;

  void Cleanup();

private:
  struct Folder {
    uint32_t parent;  // index of the folder it lies in; the top is its own
    uint32_t name;    // offset in names; the top's is its whole path
  };
  struct File {
    uint32_t folder;
    uint32_t name;
  };
  bool AddName(const char* name, size_t length, uint32_t* offset);
  bool AddFolder(uint32_t parent, const char* name, size_t length);
  bool AddFile(uint32_t folder, const char* name, size_t length);
  bool Shrink();

  char* names;  // NUL-terminated names, one after the other
  size_t nameBytes, nameCapacity;
  Folder* folderTable;
  size_t folderCount, folderCapacity;
  File* files;
  size_t fileCount, fileCapacity;
};

// A library kept current for the effect: listed on a worker thread at the
// worker's low priority, never on the owner's thread, and listed again (on
// that thread) when its folders have changed or a chosen file has gone. Every
// PictureLibrary of the process that names the same folder shares one
// listing, one index and one watch of its folders: the views of several
// monitors list and watch a library once. The owners' thread calls every
// operation.
class PictureLibrary {
public:
  PictureLibrary();   // nothing listed; allocates nothing
  ~PictureLibrary();  // Cleanup()
  PictureLibrary(const PictureLibrary&) = delete;
  PictureLibrary& operator=(const PictureLibrary&) = delete;

  // Takes the process's library of the folder `top` (at most 1024 bytes),
  // starting its listing where no other owner has it; whatever this one had
  // before is let go.
  void Start(const char* top);
  // Takes a listing that has finished in place of the index. Once the
  // watched folders have changed and then stayed quiet for two seconds,
  // starts listing them again. `seconds`: the time since the last call; of
  // the owners of one library, the first that calls counts the time for all.
  // Costs a flag test on most calls and a read of the watch once a second.
  void Update(float seconds);
  // Waits for a listing under way and takes it.
  void WaitForListing();
  // A first listing has been taken (it may hold no pictures).
  bool Listed() const;
  // Pictures in the index; 0 before the first listing.
  int Count() const;
  // As LibraryIndex::PathOf; false before the first listing.
  bool PathOf(int n, char* path, size_t size, const char** name) const;
  // The index, for measuring; null before the first listing.
  const LibraryIndex* Index() const;
  // The watch of its folders; null before Start.
  const FolderWatch* Watch() const;
  // A listing is under way (or finished and not yet taken).
  bool Listing() const;
  // Seconds the walk of the index in use took.
  double ListingSeconds() const;
  // A chosen picture at `path` could not be decoded: if the file has gone,
  // the library is listed again. The check and the listing run on the
  // worker; nothing is done while a listing is under way.
  void PictureFailed(const char* path);
  // A choice found no pictures: the folder may have been missing (a drive
  // not yet mounted) or empty, so it is listed again on the worker, unless a
  // listing is under way.
  void FoundNothing();
  // Lets the library go; the last owner's going stops a listing under way
  // and drops the index.
  void Cleanup();

  struct Shared;  // one folder's listing, index and watch

private:
  Shared* shared;
};
