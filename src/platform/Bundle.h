// Bundle: the module's bundle, that is the folder its resources are read from.
//
// An installed program finds its resources in <prefix>/share/glymmer beside
// <prefix>/bin; a program run from the build tree uses the source tree's
// resources/ folder. No environment variable is consulted.
#pragma once

#include <string>

class Bundle {
public:
  // The bundle that holds the module (every class of the module lives in the
  // same one). The object lives until the process ends.
  static const Bundle* bundleForClass();

  // A bundle whose resources are in `resourceFolder` (trailing "/" dropped),
  // as bundleForClass builds it; also lets tests look up in a folder of their
  // own.
  explicit Bundle(std::string resourceFolder);

  // The resource folder, absolute, without a trailing "/". It need not exist
  // (a broken installation); lookups in it then find nothing.
  const std::string& resourcePath() const { return resources; }

  // "<resourcePath>/<name>.<type>" (just "<name>" when type is empty) when
  // that file exists, else an empty string.
  std::string pathForResource(const char* name, const char* type) const;

  // The resource folder for a program whose executable is `executablePath`
  // (absolute): "<prefix>/share/glymmer" when the executable lies in a folder
  // <prefix>/<dir> and that folder exists, otherwise `buildTreeResources`.
  // Exposed so that both layouts can be checked with a temporary prefix.
  static std::string ResourceFolderForExecutable(const std::string& executablePath,
                                                 const std::string& buildTreeResources);

  // The source tree's resources/ folder this program was built from.
  static const char* BuildTreeResources();

private:
  std::string resources;
};

// This process's own program, links resolved, as the kernel knows it; for a
// program replaced while it runs, its new file. Empty when it cannot be found.
std::string OwnExecutable();
