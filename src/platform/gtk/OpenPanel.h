// OpenPanel: the open panel, a modal file or folder chooser.
#pragma once

#include <functional>
#include <string>
#include <vector>

// The result of a confirmed panel.
enum : int { NSCancelButton = 0, NSOKButton = 1 };

class NSOpenPanel {
public:
  // The process's panel, set back to its defaults (one selection, files
  // chosen, no folders, no title) for each caller. Never null.
  static NSOpenPanel* openPanel();

  void setAllowsMultipleSelection(bool allow) { multiple = allow; }
  void setCanChooseFiles(bool can) { files = can; }
  void setCanChooseDirectories(bool can) { folders = can; }
  void setTitle(const std::string& text) { titleText = text; }

  // Shows the panel and waits for the person: it starts in `directory` (its
  // parent, or the home folder, when that is no folder), preselects `file`
  // when given, and offers files whose names end in "." plus one of `types`
  // (as written) as a filter. Returns NSOKButton (1) when a choice was
  // confirmed, and filenames() then holds the chosen paths as the file system
  // spells them (no trailing "/" but for "/" itself); NSCancelButton (0)
  // otherwise, also when there is no display. Needs the toolkit started
  // (StartToolkit); without it, 0.
  int runModalForDirectory(const std::string& directory, const std::string& file,
                           const std::vector<std::string>& types);

  // The paths chosen by the last confirmed run; empty after a cancelled one.
  const std::vector<std::string>& filenames() const { return chosen; }

  bool allowsMultipleSelection() const { return multiple; }
  bool canChooseFiles() const { return files; }
  bool canChooseDirectories() const { return folders; }
  const std::string& title() const { return titleText; }

  // For tests: while a hook is set, runModalForDirectory shows nothing and
  // returns what the hook returns, with the paths it put into *chosen. The
  // hook sees the panel and the arguments of the run. An empty function
  // removes the hook.
  typedef std::function<int(const NSOpenPanel& panel, const std::string& directory,
                            const std::string& file, const std::vector<std::string>& types,
                            std::vector<std::string>* chosen)>
      RunHook;
  static void SetRunHookForTesting(RunHook hook);

private:
  bool multiple = false;
  bool files = true;
  bool folders = false;
  std::string titleText;
  std::vector<std::string> chosen;
};
