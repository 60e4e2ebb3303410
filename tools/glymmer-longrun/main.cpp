// glymmer-longrun: one headless view, driven by a virtual clock for many
// simulated hours over a picture folder that mixes good pictures with corrupt,
// truncated and enormous ones, a folder named like a picture, a FIFO and a
// dangling link. Every frame steps the effect by one frame time; the view
// draws every Nth frame (the effect's Move runs directly for the frames
// between, so the glyphs move exactly as at the full rate; the overlay and
// the caption, which advance only when drawn, run N times slower).
//
// Checks: every simulated minute, every glyph's position, target and colours
// are finite and in bounds; every drawn frame is presented without a GL
// error; after the first simulated hour, neither the peak RSS nor the memory
// malloc has handed out (read once a simulated minute) may grow by more than
// the tolerance over the first hour's.
//
//   glymmer-longrun [--hours H] [--fps F] [--draw-every N] [--size WxH]
//                   [--glyphs N] [--delay S] [--seed S] [--tolerance-mb M]
//                   [--pictures FOLDER] [--preview yes|no]
//
// Exit status 0 when every check passed, 1 when one failed, 2 on bad usage.

#include "PngWriter.h"
#include "effect/Code.h"
#include "host/GlymmerView.h"
#include "platform/Bundle.h"
#include "platform/Clock.h"
#include "platform/Memory.h"
#include "platform/OpenGLView.h"
#include "platform/ScreenSaverDefaults.h"
#include "platform/Screens.h"
#include "scene/SSMain.h"

#include <GL/gl.h>

#include <dirent.h>
#include <ftw.h>
#include <malloc.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Options {
  double hours = 24;
  double fps = 30;
  long drawEvery = 30;
  int width = 160;
  int height = 120;
  long long glyphs = 15000;
  long long delay = 3;
  double seed = 1000000;
  double toleranceMb = 16;
  bool preview = false;  // the host's small preview: the effect without the overlay
  std::string pictures;  // good pictures to copy; the bundle's pics/ by default
};

[[noreturn]] void Usage(const char* why) {
  std::fprintf(stderr, "glymmer-longrun: %s\n", why);
  std::exit(2);
}

Options Parse(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (i + 1 >= argc) Usage(("missing value after " + a).c_str());
    const char* v = argv[++i];
    char* end = nullptr;
    if (a == "--hours") o.hours = std::strtod(v, &end);
    else if (a == "--fps") o.fps = std::strtod(v, &end);
    else if (a == "--draw-every") o.drawEvery = std::strtol(v, &end, 10);
    else if (a == "--glyphs") o.glyphs = std::strtoll(v, &end, 10);
    else if (a == "--delay") o.delay = std::strtoll(v, &end, 10);
    else if (a == "--seed") o.seed = std::strtod(v, &end);
    else if (a == "--tolerance-mb") o.toleranceMb = std::strtod(v, &end);
    else if (a == "--pictures") { o.pictures = v; continue; }
    else if (a == "--preview") { o.preview = std::strcmp(v, "yes") == 0; continue; }
    else if (a == "--size") {
      if (std::sscanf(v, "%dx%d", &o.width, &o.height) != 2) Usage("--size takes WxH");
      continue;
    } else Usage(("unknown option " + a).c_str());
    if (!end || *end) Usage(("bad value for " + a).c_str());
  }
  if (!(o.hours > 0) || !(o.fps > 1) || o.drawEvery < 1 || o.width < 16 || o.height < 16 ||
      o.glyphs < 1 || o.delay < 0)
    Usage("values out of range");
  return o;
}

// ---------------------------------------------------------------------------
// Picture files, good and bad.

std::string GradientPng(int w, int h) {
  std::string rows;
  for (int y = 0; y < h; ++y) {
    rows += '\0';
    for (int x = 0; x < w; ++x) {
      rows += static_cast<char>(x * 255 / (w - 1));
      rows += static_cast<char>(y * 255 / (h - 1));
      rows += static_cast<char>(128);
    }
  }
  return EncodePNG({static_cast<uint32_t>(w), static_cast<uint32_t>(h), 8, 2}, rows);
}

std::string Noise(size_t n, uint32_t seed) {
  std::string out;
  for (size_t i = 0; i < n; ++i) {
    seed = seed * 1664525u + 1013904223u;
    out += static_cast<char>(seed >> 24);
  }
  return out;
}

bool WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream f(path, std::ios::binary);
  f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(f);
}

std::string ReadFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

// Fills `folder`; returns the number of good pictures in it, or -1.
int MakePictureFolder(const std::string& folder, const std::string& source) {
  int good = 0;
  std::string largest;
  DIR* dir = opendir(source.c_str());
  if (!dir) {
    std::fprintf(stderr, "glymmer-longrun: cannot list %s\n", source.c_str());
    return -1;
  }
  while (struct dirent* e = readdir(dir)) {
    std::string name = e->d_name;
    if (name.size() < 5 || name.compare(name.size() - 4, 4, ".jpg") != 0) continue;
    std::string bytes = ReadFile(source + "/" + name);
    if (bytes.empty() || !WriteFile(folder + "/" + name, bytes)) continue;
    if (bytes.size() > largest.size()) largest = bytes;
    ++good;
  }
  closedir(dir);
  if (good == 0) {
    std::fprintf(stderr, "glymmer-longrun: no .jpg pictures in %s\n", source.c_str());
    return -1;
  }
  std::string gradient = GradientPng(64, 48);
  bool ok = WriteFile(folder + "/Gradient.png", gradient);
  ++good;

  // Corrupt: the right signatures, then rubbish.
  ok = ok && WriteFile(folder + "/Corrupt.jpg", std::string("\xff\xd8\xff\xe0", 4) + Noise(4096, 7));
  std::string scrambled = gradient;
  for (size_t i = 60; i < scrambled.size() - 20; i += 7) scrambled[i] = static_cast<char>(i * 31);
  ok = ok && WriteFile(folder + "/Scrambled.png", scrambled);
  ok = ok && WriteFile(folder + "/Text.gif", "this is not a picture\n");
  ok = ok && WriteFile(folder + "/Empty.png", "");
  // Truncated: a good JPEG and a good PNG cut short.
  ok = ok && WriteFile(folder + "/Truncated.jpg", largest.substr(0, largest.size() * 55 / 100));
  ok = ok && WriteFile(folder + "/Cut.png", gradient.substr(0, gradient.size() / 2));
  // Enormous: a few hundred bytes declaring 100000 × 100000 pixels (120 GB
  // as a colour grid), and a GIF declaring 65535 × 65535.
  ok = ok && WriteFile(folder + "/Enormous.png",
                       EncodePNG({100000, 100000, 8, 2}, std::string(1000, '\0')));
  std::string gif("GIF89a\xff\xff\xff\xff\x80\x00\x00", 13);
  gif += std::string("\x00\x00\x00\xff\xff\xff", 6);             // two colours
  gif += std::string("\x2c\x00\x00\x00\x00\x01\x00\x01\x00\x00", 10);  // a 1 × 1 frame
  gif += std::string("\x02\x02\x44\x01\x00\x3b", 6);
  ok = ok && WriteFile(folder + "/Enormous.gif", gif);
  // Not files at all: a folder named like a picture (holding one), a FIFO
  // and a dangling link.
  std::string album = folder + "/Album.jpg";
  ok = ok && mkdir(album.c_str(), 0755) == 0 && WriteFile(album + "/Inside.jpg", largest);
  ok = ok && mkfifo((folder + "/Pipe.png").c_str(), 0600) == 0;
  ok = ok && symlink((folder + "/nowhere.jpg").c_str(), (folder + "/Dangling.jpg").c_str()) == 0;
  if (!ok) {
    std::fprintf(stderr, "glymmer-longrun: cannot fill the picture folder %s\n", folder.c_str());
    return -1;
  }
  return good;
}

int RemoveEntry(const char* path, const struct stat*, int, struct FTW*) { return remove(path); }

// ---------------------------------------------------------------------------
// Memory and glyph checks.

struct Memory {
  double peakMb = 0;   // VmHWM
  double rssMb = 0;    // VmRSS
  double inUseMb = 0;  // bytes malloc has handed out and not had back
};

Memory ReadMemory() {
  Memory m;
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    long kb = 0;
    if (std::sscanf(line.c_str(), "VmHWM: %ld kB", &kb) == 1) m.peakMb = kb / 1024.0;
    if (std::sscanf(line.c_str(), "VmRSS: %ld kB", &kb) == 1) m.rssMb = kb / 1024.0;
  }
  struct mallinfo2 info = mallinfo2();
  m.inUseMb = static_cast<double>(info.uordblks + info.hblkhd) / (1024.0 * 1024.0);
  return m;
}

bool Finite(const VECTOR3D& v) {
  return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}
bool Within(const VECTOR3D& v, float lo, float hi) {
  return v.x >= lo && v.x <= hi && v.y >= lo && v.y <= hi && v.z >= lo && v.z <= hi;
}

// Empty when every glyph is sound, else what is wrong with the first bad one.
std::string CheckGlyphs(const MAINCODE& e) {
  char why[256];
  if (!Finite(e.centre) || !Within(e.centre, -1000, 1000)) return "the centre ran away";
  for (int64_t i = 0; i < e.glyphCount; ++i) {
    const GLYPH g = e.Glyph(i);
    const char* what = nullptr;
    if (!Finite(g.pos) || !Within(g.pos, -999.999f, 999.999f)) what = "position";
    else if (!Finite(g.home) || !Within(g.home, -1000, 1000)) what = "target";
    else if (!Finite(g.colour) || !Within(g.colour, -0.01f, 1.01f)) what = "colour";
    else if (!Finite(g.goalColour) || !Within(g.goalColour, -0.01f, 1.01f)) what = "goal colour";
    if (what) {
      std::snprintf(why, sizeof why,
                    "glyph %lld: %s out of bounds (pos %g %g %g, colour %g %g %g)",
                    static_cast<long long>(i), what, g.pos.x, g.pos.y, g.pos.z, g.colour.x,
                    g.colour.y, g.colour.z);
      return why;
    }
  }
  return std::string();
}

}  // namespace

int main(int argc, char** argv) {
  TuneAllocatorForLongRuns();  // as glymmer itself does
  Options o = Parse(argc, argv);
  if (o.pictures.empty()) o.pictures = Bundle::bundleForClass()->resourcePath() + "/pics";

  const char* tmp = std::getenv("TMPDIR");
  std::string work = std::string(tmp && *tmp ? tmp : "/tmp") + "/glymmer-longrun-XXXXXX";
  if (!mkdtemp(&work[0])) {
    std::perror("glymmer-longrun: mkdtemp");
    return 1;
  }
  const std::string config = work + "/config", folder = work + "/pictures";
  mkdir(config.c_str(), 0700);
  mkdir(folder.c_str(), 0755);
  int good = MakePictureFolder(folder, o.pictures);
  int status = good > 0 ? 0 : 1;

  // The store a view reads: version "1.0", so nothing is reset.
  setenv("XDG_CONFIG_HOME", config.c_str(), 1);
  ScreenSaverDefaults::ForgetStoresForTesting();
  if (status == 0) {
    ScreenSaverDefaults* store = ScreenSaverDefaults::defaultsForModuleWithName("kvGlymmerSS");
    store->setObject("1.0", "version");
    store->setBool(false, "MainMonitorOnly");
    store->setBool(true, "ShowCaption");
    store->setBool(true, "MLFirst");
    store->setInteger(20, "CharSize");
    store->setInteger(0, "CharType");
    store->setInteger(o.glyphs, "PicSize");
    store->setInteger(o.delay, "PicDelay");
    store->setObject((folder + "/").c_str(), "PicPath");
    if (!store->synchronize()) {
      std::fprintf(stderr, "glymmer-longrun: cannot write the preference store\n");
      status = 1;
    }
    ScreenSaverDefaults::ForgetStoresForTesting();
  }

  const long long ticks = std::llround(o.hours * 3600 * o.fps);
  const long long perMinute = std::llround(60 * o.fps);
  const long long perHour = perMinute * 60;
  const float frameTime = static_cast<float>(1.0 / o.fps);
  std::printf("glymmer-longrun: %g simulated hours at %g frames a second (%lld frames), "
              "drawn every %ld, %dx%d, %lld glyphs, picture delay %lld s\n",
              o.hours, o.fps, ticks, o.drawEvery, o.width, o.height, o.glyphs, o.delay);
  std::printf("pictures: %d good, 8 broken files, a folder, a FIFO and a dangling link in %s\n",
              good, folder.c_str());
  std::fflush(stdout);

  FakeClock clock;
  clock.now = o.seed;
  const double start = clock.now;
  clock.Install();
  SetVirtualScreens(1, 0, o.width, o.height);
  NSWindow window;
  window.screenOfWindow = mainScreen();
  GlymmerView* view = nullptr;
  if (status == 0) {
    view = new GlymmerView;
    if (!view->initWithFrame(NSMakeRect(0, 0, o.width, o.height), o.preview)) {
      std::fprintf(stderr, "glymmer-longrun: the view could not be created\n");
      delete view;
      view = nullptr;
      status = 1;
    }
  }

  Memory atStart, afterHour, atEnd;
  // Highest readings, once a simulated minute: within the first hour, and after.
  double firstHourInUse = 0, laterInUse = 0, laterRss = 0, hourInUse = 0;
  std::map<std::string, long> loads;  // picture name (or the error name) → loads
  long failedLoads = 0, checks = 0, drawn = 0;
  auto began = std::chrono::steady_clock::now();
  auto seconds = [&] {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
  };

  if (view) {
    view->SetWindow(&window);
    view->setFrameSize(NSMakeSize(o.width, o.height));
    view->startAnimation();
    view->animateOneFrame();  // sets the scene up
    MAINCODE* effect = view->ssMain ? view->ssMain->effect : nullptr;
    if (!effect || !effect->glyphs.x) {
      std::fprintf(stderr, "glymmer-longrun: the scene did not set up\n");
      status = 1;
    }
    atStart = ReadMemory();
    std::printf("start: peak RSS %.1f MB, RSS %.1f MB\n", atStart.peakMb, atStart.rssMb);
    std::fflush(stdout);

    float lastPicTimer = effect ? effect->picTimer : 0;
    bool changing = false;  // a picture change has started and not yet taken effect
    for (long long i = 1; i <= ticks && status == 0; ++i) {
      clock.now = start + static_cast<double>(i) / o.fps;
      if (i % o.drawEvery == 0) {
        // The view steps the scene by one frame time and draws it.
        uint64_t before = view->glView->PresentedFrames();
        view->animateOneFrame();
        if (view->glView->PresentedFrames() != before + 1) {
          std::fprintf(stderr, "glymmer-longrun: frame %lld was not drawn\n", i);
          status = 1;
        }
        if (GLenum error = glGetError(); error != GL_NO_ERROR) {
          std::fprintf(stderr, "glymmer-longrun: GL error 0x%x at frame %lld\n", error, i);
          status = 1;
        }
        ++drawn;
      } else {
        effect->Move(frameTime);
        view->animtime = clock.now;  // as if the view had stepped this frame
      }
      // A restarted picture timer means a picture change started in this
      // step; it takes effect once its picture is decoded, perhaps steps later
      // (one that the next change overtakes never does).
      if (effect->picTimer > lastPicTimer) changing = true;
      if (changing && !effect->PicChangePending()) {
        changing = false;
        ++loads[effect->picName];
        if (!effect->picColours) ++failedLoads;
      }
      lastPicTimer = effect->picTimer;

      if (i % perMinute == 0) {
        ++checks;
        std::string why = CheckGlyphs(*effect);
        if (!why.empty()) {
          std::fprintf(stderr, "glymmer-longrun: at %.2f simulated hours: %s\n",
                       static_cast<double>(i) / perHour, why.c_str());
          status = 1;
        }
      }
      // Memory is read half-way between two drawn frames, once the driver has
      // finished the last one and released what it needed for it.
      if ((i + o.drawEvery / 2) % perMinute == 0) {
        Memory now = ReadMemory();
        hourInUse = std::max(hourInUse, now.inUseMb);
        if (i < perHour) {
          firstHourInUse = std::max(firstHourInUse, now.inUseMb);
        } else {
          laterInUse = std::max(laterInUse, now.inUseMb);
          laterRss = std::max(laterRss, now.rssMb);
        }
      }
      if (i % perHour == 0) {
        Memory now = ReadMemory();
        long total = 0;
        for (const auto& entry : loads) total += entry.second;
        if (i == perHour) afterHour = now;
        std::printf("hour %lld: peak RSS %.1f MB, RSS %.1f MB, malloc in use up to %.1f MB, "
                    "%ld picture loads (%ld failed), %.0f s real\n",
                    i / perHour, now.peakMb, now.rssMb, hourInUse, total, failedLoads, seconds());
        hourInUse = 0;
        std::fflush(stdout);
      }
    }
    atEnd = ReadMemory();
    delete view;
  }
  const bool ran = view != nullptr;
  clock.Uninstall();
  ScreenSaverDefaults::ForgetStoresForTesting();
  nftw(work.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
  if (!ran) return 1;

  std::printf("pictures loaded, by name:");
  for (const auto& entry : loads) std::printf(" %s %ld,", entry.first.c_str(), entry.second);
  std::printf(" failed loads %ld\n", failedLoads);
  std::printf("%ld glyph checks, %ld frames drawn, %.0f s real\n", checks, drawn, seconds());
  std::printf("peak RSS: start %.1f MB, after 1 simulated hour %.1f MB, end %.1f MB "
              "(RSS at the end %.1f MB)\n",
              atStart.peakMb, afterHour.peakMb, atEnd.peakMb, atEnd.rssMb);
  if (ticks > perHour) {
    std::printf("highest after the first hour: RSS %.1f MB, malloc in use %.1f MB "
                "(first hour: malloc in use up to %.1f MB)\n",
                laterRss, laterInUse, firstHourInUse);
    const double tolerance = o.toleranceMb;
    if (atEnd.peakMb > afterHour.peakMb + tolerance) {
      std::fprintf(stderr, "glymmer-longrun: peak RSS grew after the first hour: %.1f MB, "
                   "allowed %.1f MB\n", atEnd.peakMb, afterHour.peakMb + tolerance);
      status = 1;
    }
    if (laterInUse > firstHourInUse + tolerance) {
      std::fprintf(stderr, "glymmer-longrun: memory in use grew after the first hour: %.1f MB, "
                   "allowed %.1f MB\n", laterInUse, firstHourInUse + tolerance);
      status = 1;
    }
  }
  std::printf("%s\n", status == 0 ? "PASS" : "FAIL");
  return status;
}
