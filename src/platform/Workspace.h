// Workspace: handing an address to the desktop, as `open <address>` does on
// the host.
#pragma once

#include <functional>
#include <string>
#include <vector>

// Opens `address` with the desktop's handler for it: starts "xdg-open" with
// the address as its only argument, found on PATH and run directly (no shell
// sees the address, whatever it holds), without waiting for it. True when the
// handler was started.
bool OpenAddressWithDesktop(const std::string& address);

// Starts `command` (a program found on PATH, then its arguments) directly,
// without a shell and without waiting for it. True when it was started.
bool StartDesktopProgram(const std::vector<std::string>& command);

// The file:// address of an absolute path, every byte other than letters,
// digits, "-._~/" percent-encoded. Empty for a path that is not absolute.
std::string FileAddressForPath(const std::string& absolutePath);

// For tests: while a hook is set, OpenAddressWithDesktop and
// StartDesktopProgram start nothing and
// hands the command it would run (program, then arguments) to the hook, whose
// result it returns. An empty function removes the hook.
typedef std::function<bool(const std::vector<std::string>& command)> SpawnHook;
void SetSpawnHookForTesting(SpawnHook hook);
