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

std::string Canonical(const std::string& path) {
  char* resolved = realpath(path.c_str(), nullptr);
  if (!resolved) return std::string();
  std::string out = resolved;
  free(resolved);
  return out;
}

// One argument of an Exec line as the desktop entry format wants it: quoted
// when it holds anything but plain path characters, with the quoting's own
// escapes, then the escapes of a string value.
std::string ExecArgument(const std::string& arg) {
  bool plain = !arg.empty();
  for (char c : arg)
    if (!(g_ascii_isalnum(c) || std::strchr("/._+-", c))) plain = false;
  if (plain) return arg;
  std::string quoted = "\"";
  for (char c : arg) {
    if (std::strchr("\"`$\\", c)) quoted += '\\';
    if (c == '%') quoted += '%';
    quoted += c;
  }
  quoted += '"';
  std::string value;
  for (char c : quoted) {
    if (c == '\\') value += '\\';
    value += c;
  }
  return value;
}

// A string value of a desktop entry: its own escapes only.
std::string StringValue(const std::string& text) {
  std::string value;
  for (char c : text) {
    if (c == '\\') value += "\\\\";
    else if (c == '\n') value += "\\n";
    else value += c;
  }
  return value;
}

// How the entry names this program: "glymmer" when PATH finds this very
// program, else its absolute path.
std::string ProgramForEntry() {
  std::string self = OwnExecutable();
  gchar* onPath = g_find_program_in_path("glymmer");
  std::string found = onPath ? Canonical(onPath) : std::string();
  g_free(onPath);
  if (self.empty() || (!found.empty() && found == Canonical(self))) return "glymmer";
  return self;
}

}  // namespace

std::string AutostartEntryPath() {
  std::string config = UserConfigFolder();
  if (config.empty()) return std::string();
  return config + "/autostart/glymmer.desktop";
}

std::string AutostartEntryText() {
  std::string program = ProgramForEntry();
  return "[Desktop Entry]\n"
         "Type=Application\n"
         "Name=Glymmer screen saver\n"
         "Comment=Starts the Glymmer screen saver when the session has been idle for a while\n"
         "TryExec=" + StringValue(program) + "\n"
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
