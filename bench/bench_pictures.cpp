// Picture decoding cost: a 12-megapixel JPEG through the bare decoder and
// through ReturnPicArray (decoder plus the float grid), with the grid's size
// and the process's peak memory.
//
// Usage: bench_pictures [runs]   (default 5; the median run is reported)

#include "pictures/Pics.h"
#include "platform/BitmapImageRep.h"
#include "platform/ImageFile.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kWidth = 4000;
constexpr int kHeight = 3000;

double Seconds() {
  using Clock = std::chrono::steady_clock;
  return std::chrono::duration<double>(Clock::now().time_since_epoch()).count();
}

long PeakKiB() {
  struct rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

// A shipped picture scaled up bilinearly to 4000 × 3000, with a little
// deterministic noise so that it compresses like a camera photo rather than
// like a smooth enlargement.
bool MakePhoto(const std::string& source, const std::string& out) {
  auto image = NSBitmapImageRep::imageRepWithContentsOfFile(source.c_str());
  if (!image) return false;
  const int w = image->pixelsWide(), h = image->pixelsHigh();
  const int b = image->bitsPerPixel() / 8;
  const unsigned char* data = image->bitmapData();
  std::vector<unsigned char> rgb(static_cast<size_t>(kWidth) * kHeight * 3);
  unsigned noise = 12345;
  for (int y = 0; y < kHeight; ++y) {
    float fy = (y + 0.5f) * h / kHeight - 0.5f;
    int y0 = std::max(0, std::min(h - 1, static_cast<int>(fy)));
    int y1 = std::min(h - 1, y0 + 1);
    float ty = std::max(0.0f, std::min(1.0f, fy - y0));
    for (int x = 0; x < kWidth; ++x) {
      float fx = (x + 0.5f) * w / kWidth - 0.5f;
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
        rgb[(static_cast<size_t>(y) * kWidth + x) * 3 + c] =
            static_cast<unsigned char>(std::max(0.0f, std::min(255.0f, v + 0.5f)));
      }
    }
  }
  return WriteJPEG(out.c_str(), kWidth, kHeight, rgb.data(), 90);
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  int runs = argc > 1 ? std::atoi(argv[1]) : 5;
  if (runs < 1) runs = 1;

  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/glymmer-bench-XXXXXX";
  std::vector<char> folder(pattern.begin(), pattern.end());
  folder.push_back('\0');
  if (!mkdtemp(folder.data())) {
    std::perror("mkdtemp");
    return 1;
  }
  std::string photo = std::string(folder.data()) + "/photo.jpg";
  std::string source = std::string(GLYMMER_SOURCE_DIR) + "/resources/pics/Hubble.jpg";
  // Made in a child process, so that its buffers stay out of this process's
  // peak memory.
  pid_t child = fork();
  if (child == 0) _exit(MakePhoto(source, photo) ? 0 : 1);
  int status = 1;
  if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status) ||
      WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "cannot make the test photo from %s\n", source.c_str());
    return 1;
  }
  FILE* f = std::fopen(photo.c_str(), "rb");
  long fileBytes = 0;
  if (f) {
    std::fseek(f, 0, SEEK_END);
    fileBytes = std::ftell(f);
    std::fclose(f);
  }
  long peakBefore = PeakKiB();

  std::vector<double> decoder, grid;
  for (int i = 0; i < runs; ++i) {
    double start = Seconds();
    auto image = NSBitmapImageRep::imageRepWithContentsOfFile(photo.c_str());
    double took = Seconds() - start;
    if (!image) {
      std::fprintf(stderr, "the decoder refused the photo\n");
      return 1;
    }
    decoder.push_back(took);
  }
  long peakDecoder = PeakKiB();
  int width = 0, height = 0;
  for (int i = 0; i < runs; ++i) {
    double start = Seconds();
    std::unique_ptr<VECTOR3D[]> cells(ReturnPicArray(photo.c_str(), &width, &height));
    double took = Seconds() - start;
    if (!cells) {
      std::fprintf(stderr, "ReturnPicArray refused the photo\n");
      return 1;
    }
    grid.push_back(took);
  }
  long peakGrid = PeakKiB();
  std::remove(photo.c_str());
  rmdir(folder.data());

  double d = Median(decoder), g = Median(grid);
  double pixels = static_cast<double>(width) * height;
  std::printf("photo: %d x %d JPEG (%.1f megapixels, %.2f MB file), median of %d runs\n", width,
              height, pixels / 1e6, fileBytes / 1e6, runs);
  std::printf("bare decoder (NSBitmapImageRep):  %8.1f ms\n", d * 1e3);
  std::printf("ReturnPicArray (decoder + grid):  %8.1f ms\n", g * 1e3);
  std::printf("ratio ReturnPicArray / decoder:   %8.2f\n", g / d);
  std::printf("grid: %zu bytes per pixel, %.1f MB\n", sizeof(VECTOR3D),
              pixels * sizeof(VECTOR3D) / 1e6);
  std::printf("peak resident memory: %.1f MB at start, %.1f MB after the decoder runs, "
              "%.1f MB after the grid runs\n",
              peakBefore / 1024.0, peakDecoder / 1024.0, peakGrid / 1024.0);
  return 0;
}
