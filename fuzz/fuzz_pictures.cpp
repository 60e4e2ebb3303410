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
  VECTOR3D* grid = ReturnPicArray(path.c_str(), &width, &height);
  if (!grid) {
    if (width != -7 || height != -7) __builtin_trap();
    return 0;
  }
  if (width < 1 || height < 1 || width > kMaxPictureSide || height > kMaxPictureSide ||
      static_cast<long long>(width) * height > kMaxPicturePixels)
    __builtin_trap();
  const size_t count = static_cast<size_t>(width) * static_cast<size_t>(height);
  for (size_t i = 0; i < count; ++i) {
    const VECTOR3D& c = grid[i];
    if (!(c.x >= 0.0f && c.x <= 1.0f && c.y >= 0.0f && c.y <= 1.0f && c.z >= 0.0f && c.z <= 1.0f))
      __builtin_trap();
  }
  delete[] grid;
  return 0;
}
