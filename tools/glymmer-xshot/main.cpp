// glymmer-xshot: tells what an X window (the root window unless told) shows
// on the server named by DISPLAY, or what a screenshot file shows, for
// scripts that check the screen:
//
//   glymmer-xshot [--window ID | --file IMAGE | --kwin] [--region X,Y,W,H] [--png FILE]
//
// prints one line "WIDTHxHEIGHT lit=P hash=H red=R fine=F": P is the share
// of pixels in the region (the whole window by default) brighter than
// near-black, H a hash of those pixels (it changes when any of them does), R
// the share of pure red ones, and F the share of sharp steps between
// horizontal neighbours that lie inside pairs of columns (0 and 1, 2 and 3,
// ...): about a half for a picture drawn at its full size, none for one
// drawn at half the size and doubled. --png also saves the whole window as a
// PNG file. --kwin takes the screen that KWin shows (its active output)
// through org.kde.KWin.ScreenShot2 on the session bus, which answers anyone
// when KWin runs with KWIN_SCREENSHOT_NO_PERMISSION_CHECKS=1. Exit status 1
// when the window or file cannot be read, 2 for a bad command line.
//
//   glymmer-xshot --close ID
//
// asks window ID to close, as a window manager's close button does.
//
//   glymmer-xshot --grab
//
// takes the keyboard and the pointer, as a virtual machine's viewer in grab
// mode does, says "grabbed" and holds them until it is killed (exit status 1
// when another client holds the keyboard).

#include "platform/BitmapImageRep.h"
#include "platform/ImageFile.h"
#include "platform/x11/X11Display.h"

#include <gio/gio.h>
#include <gio/gunixfdlist.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

bool ParseRegion(const char* text, int region[4]) {
  return std::sscanf(text, "%d,%d,%d,%d", &region[0], &region[1], &region[2], &region[3]) == 4 &&
         region[0] >= 0 && region[1] >= 0 && region[2] > 0 && region[3] > 0;
}

int Usage() {
  std::fprintf(stderr,
               "usage: glymmer-xshot [--window ID | --file IMAGE | --kwin] [--region X,Y,W,H] "
               "[--png FILE]\n");
  return 2;
}

// Reads an image file (a compositor's screenshot) as RGB rows, top first.
bool ReadImage(const char* path, std::vector<unsigned char>& rgb, int* width, int* height) {
  std::unique_ptr<NSBitmapImageRep> image = NSBitmapImageRep::imageRepWithContentsOfFile(path);
  if (!image) return false;
  *width = image->pixelsWide();
  *height = image->pixelsHigh();
  int bytes = image->bitsPerPixel() / 8;
  rgb.assign(static_cast<size_t>(*width) * static_cast<size_t>(*height) * 3, 0);
  for (int y = 0; y < *height; ++y)
    for (int x = 0; x < *width; ++x)
      std::memcpy(&rgb[(static_cast<size_t>(y) * *width + x) * 3],
                  image->bitmapData() + static_cast<size_t>(y) * image->bytesPerRow() +
                      static_cast<size_t>(x) * bytes,
                  3);
  return true;
}

// KWin's screenshot of its active output: the image comes raw (QImage's
// 32-bit formats, blue first in memory) on a pipe, its size in the reply.
bool CaptureKWin(std::vector<unsigned char>& rgb, int* width, int* height) {
  GError* error = nullptr;
  GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error);
  if (!bus) {
    std::fprintf(stderr, "glymmer-xshot: no session bus: %s\n", error->message);
    g_error_free(error);
    return false;
  }
  int pipe[2];
  if (pipe2(pipe, O_CLOEXEC) != 0) return false;
  // The list owns the write end; it is closed here once the call is sent,
  // so that the read below ends when KWin closes its copy.
  GUnixFDList* fds = g_unix_fd_list_new_from_array(&pipe[1], 1);
  GVariantBuilder options;
  g_variant_builder_init(&options, G_VARIANT_TYPE("a{sv}"));
  g_variant_builder_add(&options, "{sv}", "native-resolution", g_variant_new_boolean(TRUE));
  GVariant* reply = g_dbus_connection_call_with_unix_fd_list_sync(
      bus, "org.kde.KWin", "/org/kde/KWin/ScreenShot2", "org.kde.KWin.ScreenShot2",
      "CaptureActiveScreen", g_variant_new("(a{sv}h)", &options, 0), G_VARIANT_TYPE("(a{sv})"),
      G_DBUS_CALL_FLAGS_NONE, 10000, fds, nullptr, nullptr, &error);
  g_object_unref(fds);
  std::vector<unsigned char> raw;
  unsigned char buffer[65536];
  ssize_t got;
  while (reply && (got = read(pipe[0], buffer, sizeof buffer)) > 0) raw.insert(raw.end(), buffer, buffer + got);
  close(pipe[0]);
  g_object_unref(bus);
  if (!reply) {
    std::fprintf(stderr, "glymmer-xshot: KWin took no screenshot: %s\n", error->message);
    g_error_free(error);
    return false;
  }
  GVariant* results = g_variant_get_child_value(reply, 0);
  guint32 w = 0, h = 0, stride = 0, format = 0;
  g_variant_lookup(results, "width", "u", &w);
  g_variant_lookup(results, "height", "u", &h);
  g_variant_lookup(results, "stride", "u", &stride);
  g_variant_lookup(results, "format", "u", &format);
  g_variant_unref(results);
  g_variant_unref(reply);
  // QImage::Format_RGB32, Format_ARGB32, Format_ARGB32_Premultiplied.
  if (format < 4 || format > 6 || !w || !h || stride < w * 4 ||
      raw.size() < static_cast<size_t>(stride) * h) {
    std::fprintf(stderr, "glymmer-xshot: KWin's screenshot is not a 32-bit image (format %u)\n",
                 format);
    return false;
  }
  *width = static_cast<int>(w);
  *height = static_cast<int>(h);
  rgb.resize(static_cast<size_t>(w) * h * 3);
  for (size_t y = 0; y < h; ++y)
    for (size_t x = 0; x < w; ++x)
      for (int c = 0; c < 3; ++c) rgb[(y * w + x) * 3 + c] = raw[y * stride + x * 4 + 2 - c];
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  unsigned long window = 0;
  int region[4] = {0, 0, 0, 0};
  bool regionGiven = false;
  const char* png = nullptr;
  const char* file = nullptr;
  bool kwin = false;
  if (argc == 3 && std::string(argv[1]) == "--close") {
    char* end = nullptr;
    unsigned long id = std::strtoul(argv[2], &end, 0);
    if (!end || *end || !id) return Usage();
    X11Display x;
    if (!x.Open(nullptr)) return 1;
    x.RequestClose(id);
    return 0;
  }
  if (argc == 2 && std::string(argv[1]) == "--grab") {
    X11Display x;
    if (!x.Open(nullptr)) return 1;
    NSWindow root;
    root.nativeWindow = x.Root();
    if (!x.GrabInput(root)) {
      std::fprintf(stderr, "glymmer-xshot: another client holds the keyboard\n");
      return 1;
    }
    std::printf("grabbed\n");
    std::fflush(stdout);
    for (;;) pause();
  }
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--kwin") {
      kwin = true;
      continue;
    }
    if (i + 1 >= argc) return Usage();
    const char* value = argv[++i];
    if (arg == "--window") {
      char* end = nullptr;
      window = std::strtoul(value, &end, 0);
      if (!end || *end || !window) return Usage();
    } else if (arg == "--region") {
      if (!ParseRegion(value, region)) return Usage();
      regionGiven = true;
    } else if (arg == "--png") {
      png = value;
    } else if (arg == "--file") {
      file = value;
    } else {
      return Usage();
    }
  }

  std::vector<unsigned char> rgb;
  int width = 0, height = 0;
  if (kwin) {
    if (!CaptureKWin(rgb, &width, &height)) return 1;
  } else if (file) {
    if (!ReadImage(file, rgb, &width, &height)) {
      std::fprintf(stderr, "glymmer-xshot: cannot read the image %s\n", file);
      return 1;
    }
  } else {
    X11Display x;
    if (!x.Open(nullptr)) return 1;
    if (!x.Capture(window, rgb, &width, &height)) {
      std::fprintf(stderr, "glymmer-xshot: cannot read window 0x%lx\n", window);
      return 1;
    }
  }
  if (!regionGiven) {
    region[2] = width;
    region[3] = height;
  }
  if (region[0] + region[2] > width || region[1] + region[3] > height) {
    std::fprintf(stderr, "glymmer-xshot: the region lies outside the %dx%d window\n", width, height);
    return 2;
  }
  uint64_t hash = 1469598103934665603ull;  // FNV-1a
  uint64_t lit = 0, red = 0, steps = 0, stepsInside = 0;
  for (int y = region[1]; y < region[1] + region[3]; ++y) {
    for (int x0 = region[0]; x0 < region[0] + region[2]; ++x0) {
      const unsigned char* p = &rgb[(static_cast<size_t>(y) * width + x0) * 3];
      if (p[0] > 24 || p[1] > 24 || p[2] > 24) ++lit;
      if (p[0] > 230 && p[1] < 25 && p[2] < 25) ++red;
      if (x0 > region[0]) {
        const unsigned char* q = p - 3;
        int step = std::max({std::abs(p[0] - q[0]), std::abs(p[1] - q[1]), std::abs(p[2] - q[2])});
        if (step > 48) {
          ++steps;
          if (x0 % 2 == 1) ++stepsInside;
        }
      }
      for (int c = 0; c < 3; ++c) {
        hash ^= p[c];
        hash *= 1099511628211ull;
      }
    }
  }
  double pixels = static_cast<double>(region[2]) * region[3];
  std::printf("%dx%d lit=%.4f hash=%016llx red=%.4f fine=%.4f\n", width, height,
              static_cast<double>(lit) / pixels, static_cast<unsigned long long>(hash),
              static_cast<double>(red) / pixels,
              steps ? static_cast<double>(stepsInside) / static_cast<double>(steps) : 0.0);
  if (png) {
    std::vector<unsigned char> rgba(static_cast<size_t>(width) * height * 4);
    for (size_t i = 0, n = static_cast<size_t>(width) * height; i < n; ++i) {
      std::memcpy(&rgba[i * 4], &rgb[i * 3], 3);
      rgba[i * 4 + 3] = 255;
    }
    if (!WritePNG(png, width, height, rgba.data(), false)) return 1;
  }
  return 0;
}
