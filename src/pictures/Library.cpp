// Library: walking a photo library into a compact index, and keeping it
// current from a worker thread.

#include "pictures/Library.h"

#include "platform/Verbose.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {

// The longest path the system opens, its terminator included.
constexpr size_t kPathSize = 4096;
// Unreadable folders named one by one before the rest are only counted.
constexpr int kUnreadableNamed = 10;
// How often the walk looks at its stop flag, in entries.
constexpr int64_t kStopCheck = 256;

// Grows a malloc'd array to hold at least `needed` items; false, leaving it
// as it was, when memory runs out.
template <typename T>
bool Reserve(T** items, size_t* capacity, size_t needed) {
  if (needed <= *capacity) return true;
  size_t grown = *capacity ? *capacity * 2 : 1024;
  while (grown < needed) grown *= 2;
  T* moved = static_cast<T*>(std::realloc(*items, grown * sizeof(T)));
  if (!moved) return false;
  *items = moved;
  *capacity = grown;
  return true;
}

// The folders a walk has entered, by device and inode: an open-addressed
// table that a walk of any size keeps small (16 bytes a folder, at most half
// full).
class FolderSet {
public:
  FolderSet() : slots(nullptr), capacity(0), used(0) {}
  ~FolderSet() { std::free(slots); }
  FolderSet(const FolderSet&) = delete;
  FolderSet& operator=(const FolderSet&) = delete;

  // Adds the folder; *added is false when it was there already. False when
  // memory runs out.
  bool Add(dev_t device, ino_t inode, bool* added) {
    if ((used + 1) * 2 > capacity && !Grow()) return false;
    Slot key{static_cast<uint64_t>(device), static_cast<uint64_t>(inode) + 1};
    size_t at = Hash(key) & (capacity - 1);
    while (slots[at].inode != 0) {
      if (slots[at].device == key.device && slots[at].inode == key.inode) {
        *added = false;
        return true;
      }
      at = (at + 1) & (capacity - 1);
    }
    slots[at] = key;
    ++used;
    *added = true;
    return true;
  }

private:
  struct Slot {
    uint64_t device;
    uint64_t inode;  // the inode + 1; 0 marks a free slot
  };
  static size_t Hash(const Slot& s) {
    uint64_t h = (s.inode * 0x9E3779B97F4A7C15ull) ^ (s.device * 0xC2B2AE3D27D4EB4Full);
    return static_cast<size_t>(h ^ (h >> 29));
  }
  bool Grow() {
    size_t bigger = capacity ? capacity * 2 : 256;
    Slot* fresh = static_cast<Slot*>(std::calloc(bigger, sizeof(Slot)));
    if (!fresh) return false;
    for (size_t i = 0; i < capacity; ++i) {
      if (slots[i].inode == 0) continue;
      size_t at = Hash(slots[i]) & (bigger - 1);
      while (fresh[at].inode != 0) at = (at + 1) & (bigger - 1);
      fresh[at] = slots[i];
    }
    std::free(slots);
    slots = fresh;
    capacity = bigger;
    return true;
  }
  Slot* slots;
  size_t capacity;  // a power of two
  size_t used;
};

// One folder being read: its listing, its index and the length of its path.
struct Level {
  DIR* dir;
  uint32_t folder;
  size_t pathLength;
};

// Opens the folder `name` inside the open folder `parent` (or the path
// `name` when parent is -1) for listing, following a link. Null, errno set,
// when it cannot be read.
DIR* OpenFolder(int parent, const char* name) {
  int flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
  int fd = parent < 0 ? open(name, flags) : openat(parent, name, flags);
  if (fd < 0) return nullptr;
  DIR* dir = fdopendir(fd);
  if (!dir) {
    int saved = errno;
    close(fd);
    errno = saved;
  }
  return dir;
}

}  // namespace

bool IsLibraryPictureName(const char* name) {
  static const char* const kExtensions[] = {"jpg", "jpeg", "jpe", "png",  "gif", "webp",
                                            "heic", "heif", "avif", "tif", "tiff", "bmp"};
  const char* dot = std::strrchr(name, '.');
  if (!dot || dot == name) return false;
  const char* extension = dot + 1;
  size_t length = std::strlen(extension);
  if (length < 3 || length > 4) return false;
  char lower[5];
  for (size_t i = 0; i <= length; ++i)
    lower[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(extension[i])));
  for (const char* known : kExtensions)
    if (std::strcmp(lower, known) == 0) return true;
  return false;
}

// ---- LibraryIndex ----------------------------------------------------------

LibraryIndex::LibraryIndex()
    : folders(0),
      unreadable(0),
      depthLimited(false),
      entryLimited(false),
      entries(0),
      names(nullptr),
      nameBytes(0),
      nameCapacity(0),
      folderTable(nullptr),
      folderCount(0),
      folderCapacity(0),
      files(nullptr),
      fileCount(0),
      fileCapacity(0) {}

LibraryIndex::~LibraryIndex() { Cleanup(); }

void LibraryIndex::Cleanup() {
  std::free(names);
  names = nullptr;
  nameBytes = nameCapacity = 0;
  std::free(folderTable);
  folderTable = nullptr;
  folderCount = folderCapacity = 0;
  std::free(files);
  files = nullptr;
  fileCount = fileCapacity = 0;
  folders = unreadable = 0;
  depthLimited = entryLimited = false;
  entries = 0;
}

bool LibraryIndex::AddName(const char* name, size_t length, uint32_t* offset) {
  // Offsets are 32 bits: the entry limit keeps the names far below 4 GiB.
  if (nameBytes + length + 1 > UINT32_MAX) return false;
  if (!Reserve(&names, &nameCapacity, nameBytes + length + 1)) return false;
  std::memcpy(names + nameBytes, name, length);
  names[nameBytes + length] = '\0';
  *offset = static_cast<uint32_t>(nameBytes);
  nameBytes += length + 1;
  return true;
}

bool LibraryIndex::AddFolder(uint32_t parent, const char* name, size_t length) {
  if (!Reserve(&folderTable, &folderCapacity, folderCount + 1)) return false;
  Folder& f = folderTable[folderCount];
  if (!AddName(name, length, &f.name)) return false;
  f.parent = parent;
  ++folderCount;
  return true;
}

bool LibraryIndex::AddFile(uint32_t folder, const char* name, size_t length) {
  if (!Reserve(&files, &fileCapacity, fileCount + 1)) return false;
  File& f = files[fileCount];
  if (!AddName(name, length, &f.name)) return false;
  f.folder = folder;
  ++fileCount;
  return true;
}

// Gives back what the doubling left over: an index is kept for hours.
bool LibraryIndex::Shrink() {
  if (nameBytes && nameBytes < nameCapacity) {
    if (char* n = static_cast<char*>(std::realloc(names, nameBytes))) names = n, nameCapacity = nameBytes;
  }
  if (folderCount && folderCount < folderCapacity) {
    if (Folder* f = static_cast<Folder*>(std::realloc(folderTable, folderCount * sizeof(Folder))))
      folderTable = f, folderCapacity = folderCount;
  }
  if (fileCount && fileCount < fileCapacity) {
    if (File* f = static_cast<File*>(std::realloc(files, fileCount * sizeof(File))))
      files = f, fileCapacity = fileCount;
  }
  return true;
}

bool LibraryIndex::Build(const char* top, const LibraryLimits& limits,
                         const std::atomic<bool>* stop, FolderWatch* watch) {
  Cleanup();
  if (!top || !top[0]) return true;  // no folder named: no pictures, not the whole disk
  if (watch) watch->BeginListing();

  // The path of the folder being read, for the watch, the lines said and
  // the length check; folder 0 is the top, named by its whole path less a
  // final "/".
  char path[kPathSize];
  size_t topLength = strnlen(top, kPathSize);
  while (topLength > 1 && top[topLength - 1] == '/') --topLength;
  if (topLength >= kPathSize) return true;
  std::memcpy(path, top, topLength);
  path[topLength] = '\0';
  if (!AddFolder(0, path, topLength == 1 && path[0] == '/' ? 0 : topLength)) {
    Cleanup();
    return false;
  }

  FolderSet entered;
  Level stack[64];  // the limit of depth is capped below to fit
  const int maxDepth = limits.depth < 0 ? 0 : (limits.depth > 62 ? 62 : limits.depth);
  int depth = 0;
  bool added = false;
  struct stat info;
  bool ok = true;

  auto unreadableFolder = [&](const char* folder) {
    if (++unreadable <= kUnreadableNamed)
      VerboseLine("the picture library passes over the folder %s: %s", folder,
                  std::strerror(errno));
  };

  stack[0].dir = OpenFolder(-1, path[0] ? path : "/");
  if (!stack[0].dir) {
    unreadableFolder(path[0] ? path : "/");
    return true;
  }
  if (fstat(dirfd(stack[0].dir), &info) != 0 || !entered.Add(info.st_dev, info.st_ino, &added)) {
    closedir(stack[0].dir);
    Cleanup();
    return false;
  }
  stack[0].folder = 0;
  stack[0].pathLength = topLength == 1 && path[0] == '/' ? 0 : topLength;
  if (watch) watch->Add(path[0] ? path : "/");
  folders = 1;

  while (depth >= 0 && ok) {
    Level& level = stack[depth];
    errno = 0;
    struct dirent* entry = readdir(level.dir);
    if (!entry) {
      closedir(level.dir);
      --depth;
      continue;
    }
    const char* name = entry->d_name;
    if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) continue;
    if (entries >= limits.entries) {
      entryLimited = true;
      path[level.pathLength] = '\0';
      SayLine("the picture library stops after %lld entries, in %s",
                  static_cast<long long>(entries), path[0] ? path : "/");
      break;
    }
    ++entries;
    if (stop && entries % kStopCheck == 0 && stop->load(std::memory_order_relaxed)) {
      ok = false;
      break;
    }
    if (name[0] == '.') continue;  // hidden

    unsigned char type = entry->d_type;
    if (type == DT_LNK || type == DT_UNKNOWN) {
      // A link counts as what it leads to; a broken one as nothing.
      if (fstatat(dirfd(level.dir), name, &info, 0) != 0) continue;
      type = S_ISDIR(info.st_mode) ? DT_DIR : S_ISREG(info.st_mode) ? DT_REG : DT_UNKNOWN;
    }
    const size_t nameLength = std::strlen(name);
    // The entry's full path must fit what the system opens.
    const bool fits = level.pathLength + 1 + nameLength < kPathSize;
    if (type == DT_REG) {
      if (fits && IsLibraryPictureName(name) && !AddFile(level.folder, name, nameLength)) ok = false;
      continue;
    }
    if (type != DT_DIR) continue;  // FIFOs, devices, sockets
    if (depth + 1 > maxDepth) {
      if (!depthLimited) {
        path[level.pathLength] = '\0';
        SayLine("the picture library stops at folders %d deep, below %s", maxDepth,
                    path[0] ? path : "/");
      }
      depthLimited = true;
      continue;
    }
    if (!fits) continue;
    path[level.pathLength] = '/';
    std::memcpy(path + level.pathLength + 1, name, nameLength + 1);
    DIR* dir = OpenFolder(dirfd(level.dir), name);
    if (!dir) {
      unreadableFolder(path);
      continue;
    }
    if (fstat(dirfd(dir), &info) != 0) {
      unreadableFolder(path);
      closedir(dir);
      continue;
    }
    if (!entered.Add(info.st_dev, info.st_ino, &added)) {
      closedir(dir);
      ok = false;
      break;
    }
    if (!added) {  // entered before, through a link or a loop
      closedir(dir);
      continue;
    }
    if (folderCount >= UINT32_MAX || !AddFolder(level.folder, name, nameLength)) {
      closedir(dir);
      ok = false;
      break;
    }
    // Watched before it is read, so that nothing added meanwhile is missed.
    if (watch) watch->Add(path);
    ++folders;
    Level& next = stack[++depth];
    next.dir = dir;
    next.folder = static_cast<uint32_t>(folderCount - 1);
    next.pathLength = level.pathLength + 1 + nameLength;
  }
  for (; depth >= 0; --depth) closedir(stack[depth].dir);
  if (unreadable > kUnreadableNamed)
    VerboseLine("the picture library passes over %d more folders it cannot read",
                unreadable - kUnreadableNamed);
  if (!ok) {
    Cleanup();
    return false;
  }
  if (watch) watch->EndListing();
  return Shrink();
}

bool LibraryIndex::PathOf(int n, char* path, size_t size, const char** name) const {
  if (n < 0 || static_cast<size_t>(n) >= fileCount || size == 0) return false;
  const File& file = files[n];
  // The folders from the file's up to the top, at most the depth limit.
  uint32_t chain[64];
  int links = 0;
  for (uint32_t f = file.folder; f != 0 && links < 64; f = folderTable[f].parent) chain[links++] = f;
  const char* top = names + folderTable[0].name;
  size_t length = std::strlen(top);
  if (length >= size) return false;
  std::memcpy(path, top, length);
  auto append = [&](const char* part) {
    size_t partLength = std::strlen(part);
    if (length + 1 + partLength >= size) return false;
    path[length] = '/';
    std::memcpy(path + length + 1, part, partLength);
    length += 1 + partLength;
    return true;
  };
  while (links > 0)
    if (!append(names + folderTable[chain[--links]].name)) return false;
  if (!append(names + file.name)) return false;
  path[length] = '\0';
  if (name) *name = path + length - std::strlen(names + file.name);
  return true;
}

size_t LibraryIndex::Bytes() const {
  return nameCapacity + folderCapacity * sizeof(Folder) + fileCapacity * sizeof(File);
}

// ---- PictureLibrary --------------------------------------------------------

// One folder's library, shared by every PictureLibrary of the process that
// names it.
struct PictureLibrary::Shared {
  Worker worker;
  FolderWatch watch;       // kept across listings; added to on the worker
  char top[1025];
  char gone[4096];         // a file whose absence the next job checks first; "" for none
  LibraryIndex* index;     // the listing in use; owned
  LibraryIndex* listing;   // written by the worker; owned until taken
  bool unchanged;          // the job found `gone` still there and listed nothing
  double listingSeconds;   // how long the job's walk took
  double indexSeconds;     // ... and that of the index in use
  float sinceCheck;        // seconds since the watch was last read
  float quietFor;          // seconds since its last change, while one is pending
  bool changePending;      // the watch saw a change not yet listed
  int owners;
  const PictureLibrary* clock;  // the owner whose Update counts the time

  Shared()
      : index(nullptr),
        listing(nullptr),
        unchanged(false),
        listingSeconds(0),
        indexSeconds(0),
        sinceCheck(0),
        quietFor(0),
        changePending(false),
        owners(0),
        clock(nullptr) {
    top[0] = '\0';
    gone[0] = '\0';
  }
  ~Shared() {
    worker.Stop();
    delete listing;
    delete index;
  }

  void StartListing(const char* check);
  void TakeListing();
  void Update(float seconds);
};

namespace {

// The libraries of the process, one per folder; the owners' thread alone
// reads and changes the list.
constexpr int kMostLibraries = 16;
PictureLibrary::Shared* gLibraries[kMostLibraries];

}  // namespace

void PictureLibrary::Shared::StartListing(const char* check) {
  size_t length = check ? strnlen(check, sizeof gone - 1) : 0;
  if (length) std::memcpy(gone, check, length);
  gone[length] = '\0';
  unchanged = false;
  worker.Start([this](const std::atomic<bool>& stop) {
    struct stat info;
    if (gone[0] && stat(gone, &info) == 0) {
      unchanged = true;  // the file is there; it is only unreadable
      return;
    }
    const auto started = std::chrono::steady_clock::now();
    LibraryIndex* fresh = new (std::nothrow) LibraryIndex;
    if (fresh && !fresh->Build(top, kLibraryLimits, &stop, &watch)) {
      delete fresh;
      fresh = nullptr;
    }
    listing = fresh;
    listingSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  });
}

void PictureLibrary::Shared::TakeListing() {
  worker.Wait();
  if (unchanged || !listing) return;  // nothing new, or out of memory: keep the old
  // The watch stays with the library, so dropping an index costs no more
  // than giving its memory back.
  delete index;
  index = listing;
  listing = nullptr;
  indexSeconds = listingSeconds;
  VerboseLine("picture library %s: %d pictures in %d folders (%lld entries), listed in %.2f s; "
              "index %.1f KiB%s",
              top, index->Count(), index->folders, static_cast<long long>(index->entries),
              listingSeconds, index->Bytes() / 1024.0,
              watch.Complete() ? "" : "; not every folder can be watched for changes");
}

void PictureLibrary::Shared::Update(float seconds) {
  if (worker.Busy()) {
    if (!worker.Finished()) return;
    TakeListing();
  }
  if (!index) return;
  sinceCheck += seconds;
  if (sinceCheck < 1.0f) return;
  // Copying photos in sends a stream of changes: list once they pause.
  if (watch.Changed()) {
    changePending = true;
    quietFor = 0;
  } else if (changePending) {
    quietFor += sinceCheck;
  }
  sinceCheck = 0;
  if (changePending && quietFor >= 2.0f) {
    changePending = false;
    StartListing(nullptr);
  }
}

PictureLibrary::PictureLibrary() : shared(nullptr) {}

PictureLibrary::~PictureLibrary() { Cleanup(); }

void PictureLibrary::Cleanup() {
  if (!shared) return;
  if (shared->clock == this) shared->clock = nullptr;
  if (--shared->owners == 0) {
    for (Shared*& each : gLibraries)
      if (each == shared) each = nullptr;
    delete shared;
  }
  shared = nullptr;
}

void PictureLibrary::Start(const char* folder) {
  Cleanup();
  char top[sizeof shared->top];
  size_t length = folder ? strnlen(folder, sizeof top - 1) : 0;
  if (length) std::memcpy(top, folder, length);
  top[length] = '\0';
  Shared** slot = nullptr;
  for (Shared*& each : gLibraries) {
    if (each && std::strcmp(each->top, top) == 0) {
      shared = each;
      ++shared->owners;
      return;
    }
    if (!each && !slot) slot = &each;
  }
  shared = new (std::nothrow) Shared;
  if (!shared) return;
  // Past the list's room a library serves its owner alone.
  if (slot) *slot = shared;
  shared->owners = 1;
  std::memcpy(shared->top, top, length + 1);
  shared->watch.Setup();
  shared->StartListing(nullptr);
}

void PictureLibrary::Update(float seconds) {
  if (!shared) return;
  if (!shared->clock) shared->clock = this;
  if (shared->clock == this) shared->Update(seconds);
}

void PictureLibrary::WaitForListing() {
  if (shared && shared->worker.Busy()) shared->TakeListing();
}

bool PictureLibrary::Listed() const { return shared && shared->index; }

int PictureLibrary::Count() const { return Listed() ? shared->index->Count() : 0; }

bool PictureLibrary::PathOf(int n, char* path, size_t size, const char** name) const {
  return Listed() && shared->index->PathOf(n, path, size, name);
}

const LibraryIndex* PictureLibrary::Index() const { return shared ? shared->index : nullptr; }

const FolderWatch* PictureLibrary::Watch() const { return shared ? &shared->watch : nullptr; }

bool PictureLibrary::Listing() const { return shared && shared->worker.Busy(); }

double PictureLibrary::ListingSeconds() const { return shared ? shared->indexSeconds : 0; }

void PictureLibrary::FoundNothing() {
  if (shared && !shared->worker.Busy()) shared->StartListing(nullptr);
}

void PictureLibrary::PictureFailed(const char* path) {
  if (!shared || !shared->index || shared->worker.Busy()) return;
  shared->StartListing(path);
}
