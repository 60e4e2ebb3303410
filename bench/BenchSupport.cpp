// BenchSupport: photos, peak memory and sleeping for the benchmarks.

#include "BenchSupport.h"

#include "host/GlymmerView.h"
#include "platform/BitmapImageRep.h"
#include "platform/Clock.h"
#include "platform/ImageFile.h"
#include "platform/OpenGLView.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

bool MakePhoto(const std::string& source, const std::string& out, int width, int height) {
  auto image = NSBitmapImageRep::imageRepWithContentsOfFile(source.c_str());
  if (!image) return false;
  const int w = image->pixelsWide(), h = image->pixelsHigh();
  const int b = image->bitsPerPixel() / 8;
  const unsigned char* data = image->bitmapData();
  std::vector<unsigned char> rgb(static_cast<size_t>(width) * height * 3);
  unsigned noise = 12345;
  for (int y = 0; y < height; ++y) {
    float fy = (y + 0.5f) * h / height - 0.5f;
    int y0 = std::max(0, std::min(h - 1, static_cast<int>(fy)));
    int y1 = std::min(h - 1, y0 + 1);
    float ty = std::max(0.0f, std::min(1.0f, fy - y0));
    for (int x = 0; x < width; ++x) {
      float fx = (x + 0.5f) * w / width - 0.5f;
      int x0 = std::max(0, std::min(w - 1, static_cast<int>(fx)));
      int x1 = std::min(w - 1, x0 + 1);
      float tx = std::max(0.0f, std::min(1.0f, fx - x0));
      for (int c = 0; c < 3; ++c) {
        auto at = [&](int px, int py) {
          size_t offset = static_cast<size_t>(py) * image->bytesPerRow() + px * b + c;
          return static_cast<float>(data[offset]);
        };
        float top = at(x0, y0) + (at(x1, y0) - at(x0, y0)) * tx;
        float bottom = at(x0, y1) + (at(x1, y1) - at(x0, y1)) * tx;
        noise = noise * 1103515245u + 12345u;
        float v = top + (bottom - top) * ty + static_cast<float>((noise >> 16) % 9) - 4.0f;
        rgb[(static_cast<size_t>(y) * width + x) * 3 + c] =
            static_cast<unsigned char>(std::max(0.0f, std::min(255.0f, v + 0.5f)));
      }
    }
  }
  return WriteJPEG(out.c_str(), width, height, rgb.data(), 90);
}

bool MakePhotoApart(const std::string& source, const std::string& out, int width, int height) {
  pid_t child = fork();
  if (child == 0) _exit(MakePhoto(source, out, width, height) ? 0 : 1);
  int status = 1;
  return child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status) &&
         WEXITSTATUS(status) == 0;
}

long PeakKiB() {
  struct rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

void SleepUntil(double when) {
  double wait = when - CFAbsoluteTimeGetCurrent();
  if (wait <= 0) return;
  timespec t{static_cast<time_t>(wait),
             static_cast<long>((wait - static_cast<double>(static_cast<time_t>(wait))) * 1e9)};
  nanosleep(&t, nullptr);
}

GlymmerView* StartHeadlessView(int width, int height, NSWindow* window) {
  GlymmerView* view = new GlymmerView;
  view->initWithFrame(NSMakeRect(0, 0, width, height), false);
  view->SetWindow(window);
  view->setFrameSize(NSMakeSize(width, height));
  view->startAnimation();
  view->animateOneFrame();
  return view;
}
