// Autostart: the XDG autostart entry, written with GLib.

#include "platform/Autostart.h"
#include "platform/Bundle.h"

#include "platform/ScreenSaverDefaults.h"

#include <glib.h>
#include <glib/gstdio.h>

#include <errno.h>
#include <unistd.h>

#include <cstring>

namespace {

// One argument of an Exec line: quoted when it holds anything but plain path
// characters, then the escapes of a string value. ProgramCarried has kept
// out every character that either quoting would have to escape.
std::string ExecArgument(const std::string& arg) {
  for (char c : arg)
    if (!(g_ascii_isalnum(c) || std::strchr("/._+-", c))) return "\"" + arg + "\"";
  return arg;
}

// Whether an entry can start `path`, as the desktop entry format, GLib and
// systemd's xdg-autostart generator (which starts the entries on GNOME and
// KDE) read it; *why says why not. The format is UTF-8 text, one line a key.
// The generator takes a % as it stands, into a unit where systemd reads it as
// a specifier, and %% as two; its units refuse quotes and backslashes in a
// program's name, and its Exec parser refuses $ and `.
bool ProgramCarried(const std::string& path, std::string* why) {
  if (!g_utf8_validate(path.data(), static_cast<gssize>(path.size()), nullptr)) {
    *why = "Glymmer's own path is not UTF-8 text, which autostart entries must be";
    return false;
  }
  for (char c : path) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
      *why = "Glymmer's own path holds a control character (a line break or a tab), which "
             "autostart entries cannot carry";
      return false;
    }
    if (std::strchr("%\\\"'$`", c)) {
      *why = "Glymmer's own path " + path + " holds the character " + c +
             ", which autostart entries cannot carry; move Glymmer to a folder without it";
      return false;
    }
  }
  return true;
}

}  // namespace

std::string AutostartEntryPath() {
  std::string config = UserConfigFolder();
  if (config.empty()) return std::string();
  return config + "/autostart/glymmer.desktop";
}

std::string AutostartEntryText() {
  // The program by its absolute path always: the PATH at login may not be
  // the PATH of a terminal (a ~/.local/bin known only to ~/.bashrc).
  std::string program = OwnExecutable();
  std::string why;
  if (program.empty() || !ProgramCarried(program, &why)) return std::string();
  return "[Desktop Entry]\n"
         "Type=Application\n"
         "Name=Glymmer screen saver\n"
         "Comment=Starts the Glymmer screen saver when the session has been idle for a while\n"
         "TryExec=" + program + "\n"
         "Exec=" + ExecArgument(program) + " --idle\n"
         "Terminal=false\n"
         "NoDisplay=true\n"
         "X-GNOME-Autostart-enabled=true\n";
}

bool AutostartEntryInstalled() {
  std::string path = AutostartEntryPath();
  return !path.empty() && g_file_test(path.c_str(), G_FILE_TEST_EXISTS);
}

bool InstallAutostartEntry(std::string* why) {
  std::string path = AutostartEntryPath();
  if (path.empty()) {
    *why = "no home folder";
    return false;
  }
  gchar* folder = g_path_get_dirname(path.c_str());
  bool made = g_mkdir_with_parents(folder, 0755) == 0;
  int err = errno;
  g_free(folder);
  if (!made) {
    *why = std::strerror(err);
    return false;
  }
  std::string program = OwnExecutable();
  if (program.empty()) {
    *why = "this program's own path cannot be read";
    return false;
  }
  if (!ProgramCarried(program, why)) return false;
  std::string text = AutostartEntryText();
  GError* error = nullptr;
  if (!g_file_set_contents(path.c_str(), text.data(), static_cast<gssize>(text.size()), &error)) {
    *why = error->message;
    g_error_free(error);
    return false;
  }
  return true;
}

bool RemoveAutostartEntry(std::string* why) {
  std::string path = AutostartEntryPath();
  if (path.empty()) return true;
  if (g_unlink(path.c_str()) != 0 && errno != ENOENT) {
    *why = std::strerror(errno);
    return false;
  }
  return true;
}
