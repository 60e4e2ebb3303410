// glymmer-xshot: tells what an X window (the root window unless told) shows
// on the server named by DISPLAY, for scripts that check the screen:
//
//   glymmer-xshot [--window ID] [--region X,Y,W,H] [--png FILE]
//
// prints one line "WIDTHxHEIGHT lit=P hash=H": P is the share of pixels in
// the region (the whole window by default) brighter than near-black, H a
// hash of those pixels (it changes when any of them does). --png also saves
// the whole window as a PNG file. Exit status 1 when the window cannot be
// read, 2 for a bad command line.

#include "platform/ImageFile.h"
#include "platform/X11Display.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

bool ParseRegion(const char* text, int region[4]) {
  return std::sscanf(text, "%d,%d,%d,%d", &region[0], &region[1], &region[2], &region[3]) == 4 &&
         region[0] >= 0 && region[1] >= 0 && region[2] > 0 && region[3] > 0;
}

int Usage() {
  std::fprintf(stderr, "usage: glymmer-xshot [--window ID] [--region X,Y,W,H] [--png FILE]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  unsigned long window = 0;
  int region[4] = {0, 0, 0, 0};
  bool regionGiven = false;
  const char* png = nullptr;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
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
    } else {
      return Usage();
    }
  }

  X11Display x;
  if (!x.Open(nullptr)) return 1;
  std::vector<unsigned char> rgb;
  int width = 0, height = 0;
  if (!x.Capture(window, rgb, &width, &height)) {
    std::fprintf(stderr, "glymmer-xshot: cannot read window 0x%lx\n", window);
    return 1;
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
  uint64_t lit = 0;
  for (int y = region[1]; y < region[1] + region[3]; ++y) {
    for (int x0 = region[0]; x0 < region[0] + region[2]; ++x0) {
      const unsigned char* p = &rgb[(static_cast<size_t>(y) * width + x0) * 3];
      if (p[0] > 24 || p[1] > 24 || p[2] > 24) ++lit;
      for (int c = 0; c < 3; ++c) {
        hash ^= p[c];
        hash *= 1099511628211ull;
      }
    }
  }
  double share = static_cast<double>(lit) / (static_cast<double>(region[2]) * region[3]);
  std::printf("%dx%d lit=%.4f hash=%016llx\n", width, height, share,
              static_cast<unsigned long long>(hash));
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
