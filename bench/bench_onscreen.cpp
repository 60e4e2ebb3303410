// Frame pacing and the on-screen frame rate.
//
// 1. A view on a small pbuffer driven by the real clock under two tick
//    schedules: a plain timer of exactly 1/60 s, as a 60 Hz display gives
//    ticks, and the engine's timer for views no display paces (at the view's
//    step clock's next tick). Each should give 60 frames a second.
// 2. glymmer's window mode on a private Xvfb (Mesa's software renderer), for
//    a few window sizes and glyph counts: the frames per second the view
//    achieves and the process's CPU time per frame, from its --verbose report.
//
//   bench_onscreen [SECONDS]   (default 5 per run)

#include "BenchSupport.h"
#include "host/GlymmerView.h"
#include "platform/Clock.h"
#include "platform/OpenGLView.h"
#include "platform/ScreenSaverDefaults.h"
#include "support/Xvfb.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {


void WriteSettings(const std::string& configHome, int glyphs) {
  mkdir((configHome + "/glymmer").c_str(), 0755);
  std::ofstream ini(configHome + "/glymmer/kvGlymmerSS.ini");
  ini << "[kvGlymmerSS]\nversion=1.0\nMainMonitorOnly=false\nShowCaption=true\nMLFirst=true\n"
         "CharSize=20\nCharType=0\nPicSize="
      << glyphs << "\nPicDelay=120\nPicPath=" << GLYMMER_SOURCE_DIR << "/resources/pics/\n";
}

// Frames per second a headless view draws when ticked by `fixedTimer`
// (every 1/60 s exactly) or by the engine's timer.
double PacedRate(bool fixedTimer, double seconds) {
  NSWindow window;
  GlymmerView* view = StartHeadlessView(64, 48, &window);
  const double interval = view->animationTimeInterval();
  double start = CFAbsoluteTimeGetCurrent();
  uint64_t before = view->glView->PresentedFrames();
  double tick = start;
  while (CFAbsoluteTimeGetCurrent() - start < seconds) {
    if (fixedTimer) {
      tick += interval;
      SleepUntil(tick);
    } else {
      SleepUntil(view->nextStepTime());
    }
    view->animateOneFrame();
  }
  double rate = static_cast<double>(view->glView->PresentedFrames() - before) /
                (CFAbsoluteTimeGetCurrent() - start);
  delete view;
  return rate;
}

// Runs glymmer's window mode for `seconds` and returns its report.
std::string RunWindowMode(const std::string& display, const std::string& configHome, int width,
                          int height, double seconds) {
  std::string log = configHome + "/report.txt";
  std::ostringstream command;
  command << "DISPLAY=" << display << " XDG_CONFIG_HOME=" << configHome << " " << GLYMMER_BINARY_DIR
          << "/app/glymmer --size " << width << "x" << height << " --seconds " << seconds
          << " --verbose 2>" << log;
  if (std::system(command.str().c_str()) != 0) return "";
  std::ifstream in(log);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

double Number(const std::string& text, const std::string& before) {
  size_t at = text.find(before);
  if (at == std::string::npos) return -1;
  size_t start = at < 2 ? std::string::npos : text.rfind(' ', at - 2);
  return std::atof(text.c_str() + (start == std::string::npos ? 0 : start + 1));
}

}  // namespace

int main(int argc, char** argv) {
  double seconds = argc > 1 ? std::atof(argv[1]) : 5;
  if (!(seconds > 0)) seconds = 5;
  char pattern[] = "/tmp/glymmer-bench-XXXXXX";
  if (!mkdtemp(pattern)) return 1;
  std::string configHome = pattern;

  WriteSettings(configHome, 300);
  setenv("XDG_CONFIG_HOME", configHome.c_str(), 1);
  double timer = PacedRate(true, seconds);
  double rule = PacedRate(false, seconds);
  std::printf("pacing, headless 64x48 view, 300 glyphs:\n");
  std::printf("  timer of exactly 1/60 s:          %5.1f frames per second (%.2f of 60)\n", timer,
              timer / 60);
  std::printf("  the step clock's next tick:       %5.1f frames per second (%.2f of 60)\n", rule,
              rule / 60);

  struct Run {
    int width, height, glyphs;
  };
  const Run runs[] = {{320, 240, 300}, {320, 240, 15000}, {640, 480, 15000}, {960, 540, 15000}};
  Xvfb xvfb;
  if (!xvfb.Start(1024, 768)) {
    std::fprintf(stderr, "Xvfb cannot start\n");
    return 1;
  }
  std::printf("window mode on Xvfb, %.0f s each:\n", seconds);
  for (const Run& r : runs) {
    WriteSettings(configHome, r.glyphs);
    std::string report = RunWindowMode(xvfb.Display(), configHome, r.width, r.height, seconds);
    double fps = Number(report, "frames per second");
    double cpu = Number(report, "ms per frame");
    std::printf("  %4dx%-4d %5d glyphs: %5.1f frames per second, CPU time %6.2f ms per frame\n",
                r.width, r.height, r.glyphs, fps, cpu);
  }
  xvfb.Stop();
  std::string cleanup = "rm -rf " + configHome;
  return std::system(cleanup.c_str()) == 0 ? 0 : 1;
}
