// Workspace: xdg-open through posix_spawnp.

#include "platform/Workspace.h"

#include <glib.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/types.h>

#include <utility>

extern char** environ;

namespace {

SpawnHook& Hook() {
  static SpawnHook hook;
  return hook;
}

// The handler may run for as long as the document is open; it is reaped
// when it ends instead of being waited for.
void Reap(GPid pid, gint, gpointer) { g_spawn_close_pid(pid); }

}  // namespace

void SetSpawnHookForTesting(SpawnHook hook) { Hook() = std::move(hook); }

bool OpenAddressWithDesktop(const std::string& address) {
  return StartDesktopProgram({"xdg-open", address});
}

bool StartDesktopProgram(const std::vector<std::string>& given) {
  if (Hook()) return Hook()(given);
  std::vector<std::string> command = given;

  posix_spawn_file_actions_t actions;
  if (posix_spawn_file_actions_init(&actions) != 0) return false;
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  std::vector<char*> argv;
  for (std::string& part : command) argv.push_back(&part[0]);
  argv.push_back(nullptr);
  pid_t pid = -1;
  int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return false;
  g_child_watch_add(pid, Reap, nullptr);
  return true;
}

std::string FileAddressForPath(const std::string& path) {
  if (path.empty() || path[0] != '/') return std::string();
  static const char kHex[] = "0123456789ABCDEF";
  std::string out = "file://";
  for (unsigned char c : path) {
    bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
                 c == '.' || c == '_' || c == '~' || c == '/';
    if (plain) {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}
