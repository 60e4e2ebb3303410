// Render: one view on a pbuffer, driven by a virtual clock, writing chosen
// frames as PNG files.

#include "Engine.h"

#include "effect/Code.h"
#include "host/GlymmerView.h"
#include "host/SettingOverrides.h"
#include "platform/Bundle.h"
#include "platform/Clock.h"
#include "platform/ImageFile.h"
#include "platform/OpenGLView.h"
#include "platform/Screens.h"
#include "scene/SSMain.h"

#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <vector>

namespace {

bool MakeFolder(const std::string& path) {
  if (mkdir(path.c_str(), 0755) == 0 || errno == EEXIST) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
  }
  return false;
}

}  // namespace

int RunRender(const Options& o) {
  if (!MakeFolder(o.output)) {
    std::fprintf(stderr, "glymmer: cannot use output folder %s: %s\n", o.output.c_str(),
                 std::strerror(errno));
    return 1;
  }

  // Tick i happens at seed + i / fps; tick 0 sets the scene up.
  const long long ticks = std::llround(o.seconds * o.fps);
  std::set<long long> chosen;
  for (double t : o.at) chosen.insert(std::llround(t * o.fps));
  int every = o.every;
  if (every == 0 && o.at.empty()) every = std::max(1, static_cast<int>(std::lround(o.fps)));

  FakeClock clock;
  clock.now = o.seedGiven ? o.seed : std::floor(CFAbsoluteTimeGetCurrent());
  const double start = clock.now;
  clock.Install();
  SetVirtualScreens(1, 0, o.width, o.height);

  NSWindow window;
  window.screenOfWindow = mainScreen();
  GlymmerView* view = new GlymmerView;
  if (!view->initWithFrame(NSMakeRect(0, 0, o.width, o.height), o.preview)) {
    std::fprintf(stderr, "glymmer: the view could not be created\n");
    delete view;
    return 1;
  }
  if (o.verbose) {
    std::fprintf(stderr, "glymmer: resources in %s\n",
                 Bundle::bundleForClass()->resourcePath().c_str());
    std::fprintf(stderr, "glymmer: settings: %s\n",
                 DescribeSettings(view->mySettings, view->MainMonitorOnly).c_str());
  }
  view->SetWindow(&window);
  view->setFrameSize(NSMakeSize(o.width, o.height));
  view->startAnimation();
  // More frames a second than steps: each tick is a refresh of such a
  // display, and draws between steps.
  view->refreshInterval = 1 / o.fps;
  view->refreshPaced = true;  // the ticks come on the dot
  const bool between = view->DrawsBetweenSteps();

  int status = 0;
  long long written = 0;
  std::vector<unsigned char> rgba;
  auto lastReport = std::chrono::steady_clock::now();
  for (long long i = 0; i <= ticks; ++i) {
    if (gStopSignal) {
      std::fprintf(stderr, "glymmer: stopped after %lld of %lld frames\n", i, ticks);
      status = 128 + gStopSignal;
      break;
    }
    clock.now = start + static_cast<double>(i) / o.fps;
    // Every tick is a step, each by the time this clock says passed since the
    // last. A tick that lands on the interval after the last step, or through
    // rounding just short of it, comes at the first clock reading past the
    // interval instead, as it always has: each such step is longer than the
    // interval by one rounding step of the clock (a tenth of a microsecond at
    // today's date), and a seed gives the same frames, bit for bit, as ever.
    if (view->initialized && !between) {
      const double interval = view->animationTimeInterval();
      if (!(clock.now - view->animtime > interval)) clock.now = view->animtime + interval;
      while (!(clock.now - view->animtime > interval))
        clock.now = std::nextafter(clock.now, HUGE_VAL);
    }
    if (view->isAnimating()) view->animateOneFrame();
    // Picture changes wait for their decode at the step that starts them, and
    // glyphs are drawn one by one as they always were, so that a seed always
    // gives the same frames, bit for bit, as it did before.
    if (view->ssMain && view->ssMain->effect) {
      view->ssMain->effect->waitForPictures = true;
      view->ssMain->effect->glyphDraw = MAINCODE::kGlyphDrawImmediate;
    }
    bool write = (every > 0 && i > 0 && i % every == 0) || chosen.count(i);
    if (write) {
      int w = 0, h = 0;
      if (!view->glView->ReadPixels(rgba, &w, &h)) {
        std::fprintf(stderr, "glymmer: cannot read frame %lld\n", i);
        status = 1;
        break;
      }
      // The screen is opaque whatever alpha the scene left in the buffer.
      for (size_t k = 3; k < rgba.size(); k += 4) rgba[k] = 255;
      char name[64];
      std::snprintf(name, sizeof name, "/frame-%06lld.png", i);
      std::string path = o.output + name;
      if (!WritePNG(path.c_str(), w, h, rgba.data(), true)) {
        status = 1;
        break;
      }
      ++written;
    }
    auto now = std::chrono::steady_clock::now();
    if (!o.quiet && now - lastReport > std::chrono::seconds(2)) {
      std::fprintf(stderr, "glymmer: frame %lld of %lld (%.0f%%), %lld written\n", i, ticks,
                   ticks ? 100.0 * i / ticks : 100.0, written);
      lastReport = now;
    }
  }
  delete view;
  clock.Uninstall();
  if (!o.quiet && status == 0)
    std::fprintf(stderr, "glymmer: %lld frames written to %s\n", written, o.output.c_str());
  return status;
}
