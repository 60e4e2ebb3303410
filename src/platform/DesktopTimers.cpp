// DesktopTimers: GSettings, KDE's configuration files and the X server's own
// screen saver and DPMS timeouts.

#include "platform/DesktopTimers.h"

#include <X11/Xlib.h>
#include <X11/extensions/dpms.h>
#include <gio/gio.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace {

bool DesktopIs(const char* name) {
  const char* desktops = std::getenv("XDG_CURRENT_DESKTOP");
  if (!desktops) return false;
  std::string list = std::string(":") + desktops + ":";
  return list.find(std::string(":") + name + ":") != std::string::npos;
}

// A GSettings key of an installed schema; false where the schema or key is
// missing.
bool SettingOf(const char* schemaId, const char* key, GVariant** value) {
  GSettingsSchemaSource* source = g_settings_schema_source_get_default();
  GSettingsSchema* schema = source ? g_settings_schema_source_lookup(source, schemaId, TRUE) : nullptr;
  if (!schema) return false;
  bool known = g_settings_schema_has_key(schema, key);
  if (known) {
    // dconf reads through the process's shared session-bus connection, which
    // would raise SIGTERM here when the bus goes away.
    if (GDBusConnection* shared = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr)) {
      g_dbus_connection_set_exit_on_close(shared, FALSE);
      g_object_unref(shared);
    }
    GSettings* settings = g_settings_new_full(schema, nullptr, nullptr);
    *value = g_settings_get_value(settings, key);
    g_object_unref(settings);
  }
  g_settings_schema_unref(schema);
  return known;
}

void GnomeTimers(std::vector<DesktopTimer>* timers) {
  GVariant* value = nullptr;
  unsigned blank = 0, lockDelay = 0;
  bool lock = false;
  if (SettingOf("org.gnome.desktop.session", "idle-delay", &value)) {
    blank = g_variant_get_uint32(value);
    g_variant_unref(value);
  }
  if (blank == 0) return;  // "Never": no blank, and so no lock after idle
  if (SettingOf("org.gnome.desktop.screensaver", "lock-enabled", &value)) {
    lock = g_variant_get_boolean(value);
    g_variant_unref(value);
  }
  if (lock && SettingOf("org.gnome.desktop.screensaver", "lock-delay", &value)) {
    lockDelay = g_variant_get_uint32(value);
    g_variant_unref(value);
  }
  if (lock && lockDelay == 0) {
    timers->push_back({"GNOME", "blanks and locks the screen", blank});
    return;
  }
  timers->push_back({"GNOME", "blanks the screen", blank});
  if (lock) timers->push_back({"GNOME", "locks the screen", blank + lockDelay});
}

// One value of a KDE configuration file of the user's ($XDG_CONFIG_HOME):
// `group` as KDE writes its header, nested ones too ("[AC][DimDisplay]").
// False where the file or the key is missing.
bool KdeValue(const char* file, const char* group, const char* key, std::string* value) {
  const char* config = std::getenv("XDG_CONFIG_HOME");
  const char* home = std::getenv("HOME");
  std::string path = config && *config ? std::string(config) : std::string(home ? home : "") + "/.config";
  gchar* contents = nullptr;
  if (!g_file_get_contents((path + "/" + file).c_str(), &contents, nullptr, nullptr)) return false;
  std::string text = contents;
  g_free(contents);
  const std::string header = std::string("[") + group + "]", name = key;
  bool inGroup = false, found = false;
  for (size_t at = 0; at < text.size();) {
    size_t end = text.find('\n', at);
    std::string line = text.substr(at, end == std::string::npos ? std::string::npos : end - at);
    at = end == std::string::npos ? text.size() : end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty() && line[0] == '[') {
      inGroup = line == header;
      continue;
    }
    // "key=value", or "key[$i]=value" for a value an administrator fixed.
    size_t equals = line.find('=');
    if (!inGroup || equals == std::string::npos || line.compare(0, name.size(), name) != 0) continue;
    if (equals != name.size() && line[name.size()] != '[') continue;
    *value = line.substr(equals + 1);
    found = true;
  }
  return found;
}

bool KdeNumber(const char* file, const char* group, const char* key, long* value) {
  std::string text;
  if (!KdeValue(file, group, key, &text)) return false;
  char* end = nullptr;
  long number = std::strtol(text.c_str(), &end, 10);
  if (end == text.c_str() || number < 0) return false;
  *value = number;
  return true;
}

void KdeTimers(std::vector<DesktopTimer>* timers) {
  // The screen locker: on after 5 minutes unless its settings say otherwise.
  std::string autolock;
  bool lock = !KdeValue("kscreenlockerrc", "Daemon", "Autolock", &autolock) || autolock != "false";
  long minutes = 5;
  KdeNumber("kscreenlockerrc", "Daemon", "Timeout", &minutes);
  if (lock && minutes > 0)
    timers->push_back({"KDE Plasma", "locks the screen", static_cast<unsigned>(minutes * 60)});
  // PowerDevil, on mains power: dimming in milliseconds, turning the screen
  // off in seconds.
  long dim = 0, off = 0;
  if (KdeNumber("powermanagementprofilesrc", "AC][DimDisplay", "idleTime", &dim) && dim >= 1000)
    timers->push_back({"KDE Plasma", "dims the screen", static_cast<unsigned>(dim / 1000)});
  if (KdeNumber("powermanagementprofilesrc", "AC][DPMSControl", "idleTime", &off) && off > 0)
    timers->push_back({"KDE Plasma", "turns the screen off", static_cast<unsigned>(off)});
}

void XServerTimers(std::vector<DesktopTimer>* timers) {
  const char* name = std::getenv("DISPLAY");
  Display* display = name && *name ? XOpenDisplay(nullptr) : nullptr;
  if (!display) return;
  int timeout = 0, interval = 0, blanking = 0, exposures = 0;
  XGetScreenSaver(display, &timeout, &interval, &blanking, &exposures);
  if (timeout > 0) timers->push_back({"The X server", "blanks the screen", static_cast<unsigned>(timeout)});
  int event = 0, error = 0;
  CARD16 power = 0, standby = 0, suspend = 0, off = 0;
  BOOL enabled = False;
  if (DPMSQueryExtension(display, &event, &error) && DPMSCapable(display) &&
      DPMSInfo(display, &power, &enabled) && enabled &&
      DPMSGetTimeouts(display, &standby, &suspend, &off)) {
    unsigned first = 0;
    for (CARD16 t : {standby, suspend, off})
      if (t > 0 && (first == 0 || t < first)) first = t;
    if (first > 0) timers->push_back({"The X server", "turns the screen off", first});
  }
  XCloseDisplay(display);
}

}  // namespace

std::vector<DesktopTimer> DesktopTimersOf(const std::string& desktop) {
  std::vector<DesktopTimer> timers;
  if (desktop == "GNOME")
    GnomeTimers(&timers);
  else if (desktop == "KDE")
    KdeTimers(&timers);
  else if (desktop == "X11")
    XServerTimers(&timers);
  std::stable_sort(timers.begin(), timers.end(),
                   [](const DesktopTimer& a, const DesktopTimer& b) { return a.seconds < b.seconds; });
  return timers;
}

std::vector<DesktopTimer> DesktopTimers() {
  if (DesktopIs("GNOME")) return DesktopTimersOf("GNOME");
  if (DesktopIs("KDE")) return DesktopTimersOf("KDE");
  // Elsewhere on Wayland the compositor's own idle tool (swayidle, say) has
  // its timers in its own command line.
  if (!std::getenv("WAYLAND_DISPLAY")) return DesktopTimersOf("X11");
  return {};
}

std::string DescribeDesktopTimer(const DesktopTimer& timer) {
  unsigned s = timer.seconds;
  std::string after = s % 60 == 0 ? std::to_string(s / 60) + (s == 60 ? " minute" : " minutes")
                                  : std::to_string(s) + (s == 1 ? " second" : " seconds");
  return timer.desktop + " " + timer.action + " after " + after;
}

bool DesktopTimerSettings(std::vector<std::string>* command, std::string* label) {
  auto installed = [](const char* program) {
    gchar* path = g_find_program_in_path(program);
    bool found = path != nullptr;
    g_free(path);
    return found;
  };
  if (DesktopIs("GNOME") && installed("gnome-control-center")) {
    *command = {"gnome-control-center", "power"};
    *label = "Open GNOME's Power settings";
    return true;
  }
  if (DesktopIs("KDE") && installed("systemsettings")) {
    *command = {"systemsettings", "kcm_screenlocker"};
    *label = "Open Plasma's Screen Locking settings";
    return true;
  }
  return false;
}
