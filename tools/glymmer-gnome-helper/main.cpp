// glymmer-gnome-helper: what the GNOME check needs of a user at mutter.
//
//   glymmer-gnome-helper serve
//       reads commands from standard input, one a line, and answers each with
//       one line, "ok" or "error: WHY":
//         key                press and release a key (left Shift)
//         move DX DY         move the pointer by (DX, DY)
//         click              press and release the left button
//         shot FILE          a PNG screenshot of the primary monitor
//       Input goes through one org.gnome.Mutter.RemoteDesktop session, held
//       for as long as the helper runs (mutter ends it with the connection);
//       its devices appear with their first event. Screenshots record the
//       monitor with org.gnome.Mutter.ScreenCast and take one frame from
//       PipeWire with GStreamer's pipewiresrc.
//
//   glymmer-gnome-helper watch MILLISECONDS
//       runs the idle watcher's GNOME idle source and lock watch, printing
//       "idle", "active" (with "inhibited 0|1" before each "idle"), "locked"
//       and "lost" as they come; "blanking SECONDS" or "blanking none" first.
//       Exit status 1 on "lost", or when there is no idle source.

#include "platform/dbus/Bus.h"
#include "platform/DesktopTimers.h"
#include "platform/dbus/GnomeIdle.h"
#include "platform/dbus/SessionLock.h"

#include <gio/gio.h>
#include <linux/input-event-codes.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <sstream>
#include <string>

namespace {

GDBusConnection* bus = nullptr;

GVariant* Call(const char* name, const char* path, const char* interface, const char* method,
               GVariant* parameters, const char* replyType, std::string* why) {
  return dbus::CallSync(bus, name, path, interface, method, parameters,
                        replyType ? G_VARIANT_TYPE(replyType) : nullptr, 10000, why);
}

bool CallVoid(const char* name, const char* path, const char* interface, const char* method,
              GVariant* parameters, std::string* why) {
  GVariant* reply = Call(name, path, interface, method, parameters, nullptr, why);
  if (reply) g_variant_unref(reply);
  return reply != nullptr;
}

std::string remoteSession;  // the RemoteDesktop session's path, once made

bool RemoteDesktop(const char* method, GVariant* parameters, std::string* why) {
  const char* kName = "org.gnome.Mutter.RemoteDesktop";
  const char* kSession = "org.gnome.Mutter.RemoteDesktop.Session";
  if (remoteSession.empty()) {
    GVariant* reply = Call(kName, "/org/gnome/Mutter/RemoteDesktop", kName, "CreateSession",
                           nullptr, "(o)", why);
    if (!reply) return false;
    const gchar* path = nullptr;
    g_variant_get(reply, "(&o)", &path);
    std::string made = path;
    g_variant_unref(reply);
    if (!CallVoid(kName, made.c_str(), kSession, "Start", nullptr, why)) return false;
    remoteSession = made;
  }
  return CallVoid(kName, remoteSession.c_str(), kSession, method, parameters, why);
}

void OnStreamAdded(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
                   GVariant* parameters, gpointer data) {
  g_variant_get(parameters, "(u)", static_cast<guint32*>(data));
}

// One frame of the primary monitor as a PNG file, from a screen cast made for
// it: a new stream starts with a whole frame.
bool Shot(const std::string& file, std::string* why) {
  const char* kName = "org.gnome.Mutter.ScreenCast";
  GVariant* reply = Call(kName, "/org/gnome/Mutter/ScreenCast", kName, "CreateSession",
                         g_variant_new_parsed("(@a{sv} {},)"), "(o)", why);
  if (!reply) return false;
  const gchar* p = nullptr;
  g_variant_get(reply, "(&o)", &p);
  std::string session = p;
  g_variant_unref(reply);
  bool ok = false;
  guint32 node = 0;
  guint subscription = 0;
  reply = Call(kName, session.c_str(), "org.gnome.Mutter.ScreenCast.Session", "RecordMonitor",
               g_variant_new_parsed("(%s, @a{sv} {'cursor-mode': <@u 0>})", ""), "(o)", why);
  if (reply) {
    g_variant_get(reply, "(&o)", &p);
    std::string stream = p;
    g_variant_unref(reply);
    subscription = g_dbus_connection_signal_subscribe(
        bus, nullptr, "org.gnome.Mutter.ScreenCast.Stream", "PipeWireStreamAdded", stream.c_str(),
        nullptr, G_DBUS_SIGNAL_FLAGS_NONE, OnStreamAdded, &node, nullptr);
    if (CallVoid(kName, session.c_str(), "org.gnome.Mutter.ScreenCast.Session", "Start", nullptr,
                 why)) {
      gint64 until = g_get_monotonic_time() + 10 * G_USEC_PER_SEC;
      while (!node && g_get_monotonic_time() < until) g_main_context_iteration(nullptr, FALSE), g_usleep(10000);
      if (!node) {
        *why = "no PipeWire stream came";
      } else {
        // The pipeline's words go to gst-launch as arguments, with no shell
        // to parse them first.
        std::string path = "path=" + std::to_string(node), location = "location=" + file;
        const char* argv[] = {"timeout", "20", "gst-launch-1.0", "-q", "pipewiresrc", path.c_str(),
                              "num-buffers=1", "!", "videoconvert", "!", "pngenc", "!",
                              "filesink", location.c_str(), nullptr};
        gchar* out = nullptr;
        gchar* err = nullptr;
        gint status = 0;
        GError* error = nullptr;
        if (!g_spawn_sync(nullptr, const_cast<gchar**>(argv), nullptr, G_SPAWN_SEARCH_PATH, nullptr,
                          nullptr, &out, &err, &status, &error)) {
          *why = error->message;
          g_error_free(error);
        } else if (!g_spawn_check_wait_status(status, nullptr)) {
          *why = std::string("gst-launch-1.0 failed: ") + (err ? err : "");
        } else {
          ok = true;
        }
        g_free(out);
        g_free(err);
      }
    }
    g_dbus_connection_signal_unsubscribe(bus, subscription);
  }
  std::string ignored;
  CallVoid(kName, session.c_str(), "org.gnome.Mutter.ScreenCast.Session", "Stop", nullptr, &ignored);
  return ok;
}

int Serve() {
  GError* error = nullptr;
  bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error);
  if (!bus) {
    std::fprintf(stderr, "glymmer-gnome-helper: no session bus: %s\n", error->message);
    return 1;
  }
  std::string line;
  while (std::getline(std::cin, line)) {
    std::istringstream words(line);
    std::string command, why = "bad command";
    words >> command;
    bool ok = false;
    if (command == "key") {
      ok = RemoteDesktop("NotifyKeyboardKeycode", g_variant_new("(ub)", KEY_LEFTSHIFT, TRUE), &why) &&
           RemoteDesktop("NotifyKeyboardKeycode", g_variant_new("(ub)", KEY_LEFTSHIFT, FALSE), &why);
    } else if (command == "move") {
      double dx = 0, dy = 0;
      if (words >> dx >> dy)
        ok = RemoteDesktop("NotifyPointerMotionRelative", g_variant_new("(dd)", dx, dy), &why);
    } else if (command == "click") {
      ok = RemoteDesktop("NotifyPointerButton", g_variant_new("(ib)", BTN_LEFT, TRUE), &why) &&
           RemoteDesktop("NotifyPointerButton", g_variant_new("(ib)", BTN_LEFT, FALSE), &why);
    } else if (command == "shot") {
      std::string file;
      if (words >> file) ok = Shot(file, &why);
    }
    std::cout << (ok ? "ok" : "error: " + why) << std::endl;
  }
  return 0;
}

int Watch(unsigned delayMs) {
  unsigned blanking = 0;
  for (const DesktopTimer& timer : DesktopTimersOf("GNOME"))
    if (!blanking && timer.action.find("blanks") != std::string::npos) blanking = timer.seconds;
  if (blanking)
    std::printf("blanking %u\n", blanking);
  else
    std::printf("blanking none\n");
  std::fflush(stdout);
  std::unique_ptr<IdleSource> source = MakeGnomeIdleSource(true);
  if (!source) return 1;
  GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
  int status = 0;
  IdleSource* s = source.get();
  bool started = source->Start(delayMs, [&](IdleEvent e) {
    if (e == IdleEvent::kIdle) std::printf("inhibited %d\nidle\n", s->Inhibited() ? 1 : 0);
    if (e == IdleEvent::kActive) std::printf("active\n");
    if (e == IdleEvent::kLost) {
      std::printf("lost\n");
      status = 1;
      g_main_loop_quit(loop);
    }
    std::fflush(stdout);
  });
  std::unique_ptr<LockWatch> lock = MakeLockWatch(true);
  if (lock) lock->Start([](bool locked) {
    std::printf(locked ? "locked\n" : "unlocked\n");
    std::fflush(stdout);
  });
  if (started) {
    std::printf("watching\n");
    std::fflush(stdout);
    g_main_loop_run(loop);
  } else {
    status = 1;
  }
  g_main_loop_unref(loop);
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "serve" && argc == 2) return Serve();
  if (mode == "watch" && argc == 3) return Watch(static_cast<unsigned>(std::strtoul(argv[2], nullptr, 10)));
  std::fprintf(stderr, "usage: glymmer-gnome-helper serve | watch MILLISECONDS\n");
  return 2;
}
