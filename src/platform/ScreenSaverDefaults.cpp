// ScreenSaverDefaults: the preference store over GLib's GKeyFile.

#include "platform/ScreenSaverDefaults.h"

#include <glib.h>

#include <errno.h>
#include <fcntl.h>
#include <pwd.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <map>
#include <vector>

namespace {

// A store of nine short keys is well under a kilobyte; anything past this is
// not a store this program wrote, and is kept aside rather than loaded.
constexpr int64_t kMaxStoreBytes = int64_t{1} << 20;

bool ValidModuleName(const char* name) {
  if (!name || !*name) return false;
  size_t n = std::strlen(name);
  if (n > 200) return false;
  if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) return false;
  for (size_t i = 0; i < n; ++i) {
    unsigned char c = static_cast<unsigned char>(name[i]);
    if (c < 0x20 || c == 0x7f || c == '/' || c == '[' || c == ']') return false;
  }
  return true;
}

bool ValidKey(const char* key) {
  if (!key || !*key) return false;
  size_t n = std::strlen(key);
  if (key[0] == ' ' || key[n - 1] == ' ') return false;
  for (size_t i = 0; i < n; ++i) {
    unsigned char c = static_cast<unsigned char>(key[i]);
    if (c < 0x20 || c == 0x7f || c == '=' || c == '[' || c == ']') return false;
  }
  return true;
}

}  // namespace

std::string UserConfigFolder() {
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg && xdg[0] == '/') return xdg;
  const char* home = std::getenv("HOME");
  if (home && home[0] == '/') return std::string(home) + "/.config";
  struct passwd entry {};
  struct passwd* found = nullptr;
  std::vector<char> buffer(16384);
  if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
      found->pw_dir && found->pw_dir[0] == '/')
    return std::string(found->pw_dir) + "/.config";
  return std::string();
}

namespace {

std::string FolderOf(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// Undoes GKeyFile's escapes (\s \n \t \r \\). Unlike g_key_file_get_string it
// accepts bytes that are not UTF-8: paths are bytes on this platform.
std::string Unescape(const char* raw) {
  std::string out;
  for (const char* p = raw; *p; ++p) {
    if (*p != '\\' || p[1] == '\0') {
      out += *p;
      continue;
    }
    switch (p[1]) {
      case 's': out += ' '; break;
      case 'n': out += '\n'; break;
      case 't': out += '\t'; break;
      case 'r': out += '\r'; break;
      case '\\': out += '\\'; break;
      default: out += '\\'; out += p[1]; break;
    }
    ++p;
  }
  return out;
}

std::string Trimmed(const std::string& s) {
  size_t a = 0, b = s.size();
  while (a < b && g_ascii_isspace(s[a])) ++a;
  while (b > a && g_ascii_isspace(s[b - 1])) --b;
  return s.substr(a, b - a);
}

bool ParseInteger(const std::string& text, int64_t* value) {
  if (text.empty()) return false;
  const char* begin = text.c_str();
  char* end = nullptr;
  errno = 0;
  gint64 v = g_ascii_strtoll(begin, &end, 10);
  if (errno != 0 || end == begin || *end != '\0') return false;
  *value = v;
  return true;
}

bool WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    ssize_t n = write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

// Reads a whole regular file of at most kMaxStoreBytes. Sets *missing when
// there is no file at all.
bool ReadStoreFile(const std::string& path, std::string* bytes, bool* missing, std::string* why) {
  *missing = false;
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) {
    if (errno == ENOENT) {
      *missing = true;
    } else {
      *why = std::strerror(errno);
    }
    return false;
  }
  struct stat st {};
  bool ok = fstat(fd, &st) == 0;
  if (!ok) {
    *why = std::strerror(errno);
  } else if (!S_ISREG(st.st_mode)) {
    *why = "not a regular file";
    ok = false;
  } else if (static_cast<int64_t>(st.st_size) > kMaxStoreBytes) {
    *why = "too large to be a preference store";
    ok = false;
  }
  if (ok) {
    bytes->clear();
    char chunk[8192];
    for (;;) {
      ssize_t n = read(fd, chunk, sizeof chunk);
      if (n < 0) {
        if (errno == EINTR) continue;
        *why = std::strerror(errno);
        ok = false;
        break;
      }
      if (n == 0) break;
      if (static_cast<int64_t>(bytes->size()) + n > kMaxStoreBytes) {
        *why = "too large to be a preference store";
        ok = false;
        break;
      }
      bytes->append(chunk, static_cast<size_t>(n));
    }
  }
  close(fd);
  return ok;
}

// Renames `path` to "<path>.corrupt-<UTC date>-<time>[-N]" without replacing
// anything already there. Returns the new name, or "" when it failed.
std::string MoveAside(const std::string& path) {
  char stamp[32] = "unknown";
  std::time_t now = std::time(nullptr);
  std::tm utc{};
  if (gmtime_r(&now, &utc)) std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &utc);
  for (int attempt = 1; attempt <= 100; ++attempt) {
    std::string aside = path + ".corrupt-" + stamp;
    if (attempt > 1) aside += "-" + std::to_string(attempt);
    if (renameat2(AT_FDCWD, path.c_str(), AT_FDCWD, aside.c_str(), RENAME_NOREPLACE) == 0)
      return aside;
    if (errno == EEXIST) continue;
    if (errno != EINVAL && errno != ENOSYS) return std::string();
    // A file system without RENAME_NOREPLACE: check, then rename.
    struct stat st {};
    if (lstat(aside.c_str(), &st) == 0) continue;
    if (rename(path.c_str(), aside.c_str()) == 0) return aside;
    return std::string();
  }
  return std::string();
}

}  // namespace

struct ScreenSaverDefaults::Impl {
  std::string group;
  std::string file;
  GKeyFile* keys = nullptr;
  // Set when the file existed but could be neither loaded nor moved aside:
  // writing would destroy it.
  bool mustNotOverwrite = false;
  bool lastSynchronizeFailed = false;

  Impl() : keys(g_key_file_new()) {}
  ~Impl() { g_key_file_free(keys); }

  void Load() {
    std::string bytes, why;
    bool missing = false;
    if (ReadStoreFile(file, &bytes, &missing, &why)) {
      if (std::memchr(bytes.data(), '\0', bytes.size())) {
        why = "contains NUL bytes";
      } else {
        GError* error = nullptr;
        if (g_key_file_load_from_data(keys, bytes.data(), bytes.size(),
                                      static_cast<GKeyFileFlags>(G_KEY_FILE_KEEP_COMMENTS |
                                                                 G_KEY_FILE_KEEP_TRANSLATIONS),
                                      &error))
          return;
        why = error ? error->message : "cannot be parsed";
        if (error) g_error_free(error);
        g_key_file_free(keys);
        keys = g_key_file_new();
      }
    } else if (missing) {
      return;
    }
    std::string aside = MoveAside(file);
    if (aside.empty()) {
      mustNotOverwrite = true;
      std::fprintf(stderr, "glymmer: preferences %s unusable (%s) and cannot be moved aside; "
                   "using defaults and leaving the file alone\n", file.c_str(), why.c_str());
    } else {
      std::fprintf(stderr, "glymmer: preferences %s unusable (%s); kept as %s\n", file.c_str(),
                   why.c_str(), aside.c_str());
    }
  }

  // The raw (still escaped) value, or null; g_free it.
  gchar* Raw(const char* key) const {
    if (!ValidKey(key)) return nullptr;
    return g_key_file_get_value(keys, group.c_str(), key, nullptr);
  }
};

namespace {

std::map<std::string, std::unique_ptr<ScreenSaverDefaults>>& Stores() {
  static std::map<std::string, std::unique_ptr<ScreenSaverDefaults>> stores;
  return stores;
}

}  // namespace

ScreenSaverDefaults::ScreenSaverDefaults() : impl(new Impl) {}
ScreenSaverDefaults::~ScreenSaverDefaults() = default;

ScreenSaverDefaults* ScreenSaverDefaults::defaultsForModuleWithName(const char* name) {
  if (!ValidModuleName(name)) return nullptr;
  auto& stores = Stores();
  auto found = stores.find(name);
  if (found != stores.end()) return found->second.get();
  std::unique_ptr<ScreenSaverDefaults> store(new ScreenSaverDefaults);
  store->impl->group = name;
  std::string folder = UserConfigFolder();
  if (!folder.empty()) {
    store->impl->file = folder + "/glymmer/" + name + ".ini";
    store->impl->Load();
  }
  ScreenSaverDefaults* result = store.get();
  stores[name] = std::move(store);
  return result;
}

void ScreenSaverDefaults::ForgetStoresForTesting() { Stores().clear(); }

const std::string& ScreenSaverDefaults::FilePath() const { return impl->file; }

std::optional<std::string> ScreenSaverDefaults::stringForKey(const char* key) const {
  gchar* raw = impl->Raw(key);
  if (!raw) return std::nullopt;
  std::string value = Unescape(raw);
  g_free(raw);
  return value;
}

bool ScreenSaverDefaults::boolForKey(const char* key) const {
  std::optional<std::string> value = stringForKey(key);
  if (!value) return false;
  std::string text = Trimmed(*value);
  if (g_ascii_strcasecmp(text.c_str(), "true") == 0 || g_ascii_strcasecmp(text.c_str(), "yes") == 0)
    return true;
  int64_t number = 0;
  return ParseInteger(text, &number) && number != 0;
}

int64_t ScreenSaverDefaults::integerForKey(const char* key) const {
  std::optional<std::string> value = stringForKey(key);
  if (!value) return 0;
  std::string text = Trimmed(*value);
  if (g_ascii_strcasecmp(text.c_str(), "true") == 0 || g_ascii_strcasecmp(text.c_str(), "yes") == 0)
    return 1;
  int64_t number = 0;
  return ParseInteger(text, &number) ? number : 0;
}

void ScreenSaverDefaults::setObject(const char* value, const char* key) {
  if (!ValidKey(key)) return;
  if (!value) {
    g_key_file_remove_key(impl->keys, impl->group.c_str(), key, nullptr);
    return;
  }
  // set_string escapes line breaks, backslashes and a leading space, and
  // leaves other bytes as they are, so any path survives the round trip.
  g_key_file_set_string(impl->keys, impl->group.c_str(), key, value);
}

void ScreenSaverDefaults::setBool(bool value, const char* key) {
  if (!ValidKey(key)) return;
  g_key_file_set_boolean(impl->keys, impl->group.c_str(), key, value ? TRUE : FALSE);
}

void ScreenSaverDefaults::setInteger(int64_t value, const char* key) {
  if (!ValidKey(key)) return;
  g_key_file_set_int64(impl->keys, impl->group.c_str(), key, value);
}

bool ScreenSaverDefaults::synchronize() {
  bool written = WriteFile();
  impl->lastSynchronizeFailed = !written;
  return written;
}

bool ScreenSaverDefaults::LastSynchronizeFailed() const { return impl->lastSynchronizeFailed; }

bool ScreenSaverDefaults::WriteFile() {
  if (impl->file.empty() || impl->mustNotOverwrite) return false;
  std::string target = impl->file;
  // Write through a symbolic link (a dotfile manager's, say) instead of
  // replacing the link with a plain file.
  struct stat linkInfo {};
  if (lstat(target.c_str(), &linkInfo) == 0 && S_ISLNK(linkInfo.st_mode)) {
    char* resolved = realpath(target.c_str(), nullptr);
    if (resolved) {
      target = resolved;
      free(resolved);
    }
  }
  std::string folder = FolderOf(target);
  if (g_mkdir_with_parents(folder.c_str(), 0700) != 0) return false;

  gsize size = 0;
  gchar* data = g_key_file_to_data(impl->keys, &size, nullptr);
  if (!data) return false;

  std::string temporary = target + ".XXXXXX";
  int fd = mkostemp(&temporary[0], O_CLOEXEC);
  if (fd < 0) {
    g_free(data);
    return false;
  }
  // Keep the permissions the user gave an existing file; new files are 0600.
  struct stat old {};
  if (stat(target.c_str(), &old) == 0 && S_ISREG(old.st_mode)) fchmod(fd, old.st_mode & 07777);
  bool ok = WriteAll(fd, data, size) && fsync(fd) == 0;
  g_free(data);
  if (close(fd) != 0) ok = false;
  if (ok && rename(temporary.c_str(), target.c_str()) != 0) ok = false;
  if (!ok) {
    unlink(temporary.c_str());
    return false;
  }
  // Make the rename itself durable. Some file systems cannot sync a folder
  // (EINVAL); the data is in place all the same.
  int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    int synced = fsync(dir);
    int err = errno;
    close(dir);
    if (synced != 0 && err != EINVAL && err != EROFS) return false;
  }
  return true;
}
