// Bundle: the resource folder, found from the executable's own location.

#include "platform/Bundle.h"

#include <sys/stat.h>
#include <unistd.h>

#include <utility>
#include <vector>

#ifndef GLYMMER_SOURCE_RESOURCES
#define GLYMMER_SOURCE_RESOURCES "resources"
#endif

namespace {

// The folder part of an absolute path, lexically: "/a/b/c" gives "/a/b",
// "/a" gives "/".
std::string ParentFolder(const std::string& path) {
  std::string p = path;
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  size_t slash = p.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  p.resize(slash);
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  return p;
}

std::string Join(const std::string& folder, const char* name) {
  if (folder.empty() || folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

bool IsFolder(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

std::string OwnExecutable() {
  std::vector<char> buffer(4096);
  std::string path;
  for (;;) {
    ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n < 0) return std::string();
    if (static_cast<size_t>(n) < buffer.size()) {
      path.assign(buffer.data(), static_cast<size_t>(n));
      break;
    }
    if (buffer.size() >= (size_t{1} << 20)) return std::string();
    buffer.resize(buffer.size() * 2);
  }
  // A program replaced while it runs (a package upgrade) is started anew
  // from its new file.
  const std::string deleted = " (deleted)";
  if (path.size() > deleted.size() &&
      path.compare(path.size() - deleted.size(), deleted.size(), deleted) == 0)
    path.resize(path.size() - deleted.size());
  return path;
}

std::string Bundle::ResourceFolderForExecutable(const std::string& executablePath,
                                                const std::string& buildTreeResources) {
  if (!executablePath.empty() && executablePath[0] == '/') {
    std::string prefix = ParentFolder(ParentFolder(executablePath));
    std::string installed = Join(Join(prefix, "share"), "glymmer");
    if (IsFolder(installed)) return installed;
  }
  return buildTreeResources;
}

const char* Bundle::BuildTreeResources() { return GLYMMER_SOURCE_RESOURCES; }

Bundle::Bundle(std::string resourceFolder) : resources(std::move(resourceFolder)) {
  while (resources.size() > 1 && resources.back() == '/') resources.pop_back();
}

const Bundle* Bundle::bundleForClass() {
  static const Bundle bundle(ResourceFolderForExecutable(OwnExecutable(), BuildTreeResources()));
  return &bundle;
}

std::string Bundle::pathForResource(const char* name, const char* type) const {
  if (!name || !*name) return std::string();
  std::string file = name;
  if (type && *type) {
    file += '.';
    file += type;
  }
  std::string path = Join(resources, file.c_str());
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return std::string();
  return path;
}
