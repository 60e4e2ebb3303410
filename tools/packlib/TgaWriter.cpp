// TgaWriter: type 2 and type 10 TGA encoding.

#include "TgaWriter.h"

#include <cstdint>

namespace {

void AppendPixel(std::string* out, const unsigned char* rgba, int bytes) {
  out->push_back(static_cast<char>(rgba[2]));
  out->push_back(static_cast<char>(rgba[1]));
  out->push_back(static_cast<char>(rgba[0]));
  if (bytes == 4) out->push_back(static_cast<char>(rgba[3]));
}

bool Same(const unsigned char* a, const unsigned char* b, int bytes) {
  return a[0] == b[0] && a[1] == b[1] && a[2] == b[2] && (bytes == 3 || a[3] == b[3]);
}

// One row as run and raw packets of at most 128 pixels each.
void EncodeRow(std::string* out, const unsigned char* row, int width, int bytes) {
  int x = 0;
  while (x < width) {
    int run = 1;
    while (x + run < width && run < 128 && Same(row + 4 * x, row + 4 * (x + run), bytes)) ++run;
    if (run >= 2) {
      out->push_back(static_cast<char>(127 + run));
      AppendPixel(out, row + 4 * x, bytes);
      x += run;
      continue;
    }
    // Raw packet up to the next pair of equal pixels.
    int raw = 1;
    while (x + raw < width && raw < 128 &&
           !(x + raw + 1 < width && Same(row + 4 * (x + raw), row + 4 * (x + raw + 1), bytes))) {
      ++raw;
    }
    out->push_back(static_cast<char>(raw - 1));
    for (int i = 0; i < raw; ++i) AppendPixel(out, row + 4 * (x + i), bytes);
    x += raw;
  }
}

}  // namespace

std::string EncodeTGA(int width, int height, int bits, bool runLength,
                      const std::vector<unsigned char>& rgbaBottomFirst) {
  if (width <= 0 || height <= 0 || width > 65535 || height > 65535 || (bits != 24 && bits != 32) ||
      rgbaBottomFirst.size() != static_cast<uint64_t>(width) * height * 4) {
    return std::string();
  }
  const int bytes = bits / 8;
  std::string out(18, '\0');
  out[2] = static_cast<char>(runLength ? 10 : 2);
  out[12] = static_cast<char>(width & 0xff);
  out[13] = static_cast<char>(width >> 8);
  out[14] = static_cast<char>(height & 0xff);
  out[15] = static_cast<char>(height >> 8);
  out[16] = static_cast<char>(bits);
  out[17] = static_cast<char>(bits == 32 ? 8 : 0);  // alpha bits; origin bottom left
  for (int y = 0; y < height; ++y) {
    const unsigned char* row = rgbaBottomFirst.data() + static_cast<size_t>(y) * width * 4;
    if (runLength) {
      EncodeRow(&out, row, width, bytes);
    } else {
      for (int x = 0; x < width; ++x) AppendPixel(&out, row + 4 * x, bytes);
    }
  }
  return out;
}
