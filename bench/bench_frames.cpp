// Frame times at picture changes: one headless view at 320 x 240 with 3000
// glyphs, ticked on the real clock as the on-screen engine ticks a view that
// no display paces (at its step clock's next tick), over a folder of two generated
// 24-megapixel JPEGs. A picture change is forced every few seconds. Prints
// the worst frame interval overall (after the first second, which builds the
// renderer's shaders) and within two seconds of a change, the intervals over
// 33 ms (two frame intervals), the longest a change took to show, and the
// process's peak RSS.
//
//   bench_frames [CHANGES] [SECONDS_BETWEEN]   (default 6 changes, 3 s apart)

#include "BenchSupport.h"
#include "effect/Code.h"
#include "host/GlymmerView.h"
#include "platform/Clock.h"
#include "platform/Memory.h"
#include "platform/OpenGLView.h"
#include "scene/SSMain.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

namespace {

constexpr int kPhotoWidth = 6000, kPhotoHeight = 4000;  // 24 megapixels



}  // namespace

int main(int argc, char** argv) {
  TuneAllocatorForLongRuns();  // as glymmer does
  const int changes = argc > 1 ? std::max(1, std::atoi(argv[1])) : 6;
  const double between = argc > 2 && std::atof(argv[2]) > 0 ? std::atof(argv[2]) : 3.0;

  char pattern[] = "/tmp/glymmer-bench-XXXXXX";
  if (!mkdtemp(pattern)) return 1;
  const std::string work = pattern, folder = work + "/pictures";
  mkdir(folder.c_str(), 0755);
  mkdir((work + "/glymmer").c_str(), 0755);
  const std::string pics = std::string(GLYMMER_SOURCE_DIR) + "/resources/pics/";
  if (!MakePhotoApart(pics + "Hubble.jpg", folder + "/Hubble.jpg", kPhotoWidth, kPhotoHeight) ||
      !MakePhotoApart(pics + "Coffee.jpg", folder + "/Coffee.jpg", kPhotoWidth, kPhotoHeight)) {
    std::fprintf(stderr, "cannot make the photos\n");
    return 1;
  }
  {
    std::ofstream ini(work + "/glymmer/kvGlymmerSS.ini");
    ini << "[kvGlymmerSS]\nversion=1.0\nMainMonitorOnly=false\nShowCaption=true\nMLFirst=false\n"
           "CharSize=20\nCharType=0\nPicSize=3000\nPicDelay=5\nPicPath="
        << folder << "/\n";
  }
  setenv("XDG_CONFIG_HOME", work.c_str(), 1);

  NSWindow window;
  GlymmerView* view = StartHeadlessView(320, 240, &window);  // with the first picture
  MAINCODE* effect = view->ssMain ? view->ssMain->effect : nullptr;
  if (!effect) {
    std::fprintf(stderr, "the scene did not set up\n");
    return 1;
  }

  const double interval = view->animationTimeInterval();
  double worst = 0, worstAtChange = 0, lastFrame = CFAbsoluteTimeGetCurrent();
  double changedAt = -1e9;
  const double warmedUp = lastFrame + 1.0;
  double slowestChange = 0;  // from the step that starts a change to the frame showing it
  bool changing = false;
  long frames = 0, over = 0;
  for (int change = 0; change <= changes; ++change) {
    const double until = CFAbsoluteTimeGetCurrent() + between;
    if (change > 0) {
      // The next step changes phase with a picture due.
      effect->picTimer = -1;
      effect->phaseTime = -1;
      changedAt = CFAbsoluteTimeGetCurrent();
      changing = true;
    }
    while (CFAbsoluteTimeGetCurrent() < until) {
      SleepUntil(view->nextStepTime());
      uint64_t before = view->glView->PresentedFrames();
      view->animateOneFrame();
      if (view->glView->PresentedFrames() == before) continue;
      const double now = CFAbsoluteTimeGetCurrent(), took = now - lastFrame;
      lastFrame = now;
      if (changing && !effect->PicChangePending()) {
        changing = false;
        slowestChange = std::max(slowestChange, now - changedAt);
      }
      if (now < warmedUp) continue;  // the first frames build the renderer's shaders
      ++frames;
      worst = std::max(worst, took);
      if (now - changedAt < 2.0) worstAtChange = std::max(worstAtChange, took);
      if (took > 2 * interval) ++over;
    }
  }
  delete view;
  std::string cleanup = "rm -rf " + work;
  if (std::system(cleanup.c_str()) != 0) return 1;

  std::printf("320x240, 3000 glyphs, %d changes between two %dx%d JPEGs, %.0f s apart\n", changes,
              kPhotoWidth, kPhotoHeight, between);
  std::printf("frames: %ld\n", frames);
  std::printf("worst frame interval: %.1f ms\n", worst * 1e3);
  std::printf("worst within 2 s of a picture change: %.1f ms\n", worstAtChange * 1e3);
  std::printf("intervals over 33 ms: %ld\n", over);
  std::printf("slowest change, started to shown: %.0f ms\n", slowestChange * 1e3);
  std::printf("peak RSS: %.1f MB\n", PeakKiB() / 1024.0);
  return 0;
}
