// The picture decoder front end on arbitrary bytes in a file: ReturnPicArray
// as the effect calls it. (loadPicFile needs a GL context and shares the
// decoding; it is left out.) Checks the grid it promises: either none and the
// size untouched, or a size within the caps and every colour in 0..1.

#include "FuzzSupport.h"

#include "pictures/Pics.h"

#include <cmath>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string& path = InputAsFile(data, size);
  int width = -7, height = -7;
  PicArray* grid = ReturnPicArray(path.c_str(), &width, &height);
  if (!grid) {
    if (width != -7 || height != -7) __builtin_trap();
    return 0;
  }
  if (width < 1 || height < 1 || width > kMaxPictureSide || height > kMaxPictureSide ||
      static_cast<long long>(width) * height > kMaxPicturePixels)
    __builtin_trap();
  if (grid->width != width || grid->height != height) __builtin_trap();
  for (int row = 0; row < height; ++row) {
    for (int column = 0; column < width; ++column) {
      const VECTOR3D c = grid->Colour(column, row);
      if (!(c.x >= 0.0f && c.x <= 1.0f && c.y >= 0.0f && c.y <= 1.0f && c.z >= 0.0f &&
            c.z <= 1.0f))
        __builtin_trap();
    }
  }
  delete grid;
  return 0;
}
