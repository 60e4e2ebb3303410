// Picture decoding cost: a 12-megapixel JPEG through the bare decoder and
// through ReturnPicArray (the decoder, whose pixels the grid keeps), with
// the grid's size and the process's peak memory.
//
// Usage: bench_pictures [runs]   (default 5; the median run is reported)

#include "BenchSupport.h"
#include "pictures/Pics.h"
#include "platform/BitmapImageRep.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kWidth = 4000;
constexpr int kHeight = 3000;

double Seconds() {
  using Clock = std::chrono::steady_clock;
  return std::chrono::duration<double>(Clock::now().time_since_epoch()).count();
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
  if (!MakePhotoApart(source, photo, kWidth, kHeight)) {
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
  int bytesPerPixel = 0;
  for (int i = 0; i < runs; ++i) {
    double start = Seconds();
    auto image = NSBitmapImageRep::imageRepWithContentsOfFile(photo.c_str());
    double took = Seconds() - start;
    if (!image) {
      std::fprintf(stderr, "the decoder refused the photo\n");
      return 1;
    }
    bytesPerPixel = image->bitsPerPixel() / 8;
    decoder.push_back(took);
  }
  long peakDecoder = PeakKiB();
  int width = 0, height = 0;
  for (int i = 0; i < runs; ++i) {
    double start = Seconds();
    std::unique_ptr<PicArray> cells(ReturnPicArray(photo.c_str(), &width, &height));
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
  std::printf("grid: %d bytes per pixel, %.1f MB\n", bytesPerPixel,
              pixels * bytesPerPixel / 1e6);
  std::printf("peak resident memory: %.1f MB at start, %.1f MB after the decoder runs, "
              "%.1f MB after the grid runs\n",
              peakBefore / 1024.0, peakDecoder / 1024.0, peakGrid / 1024.0);
  return 0;
}
