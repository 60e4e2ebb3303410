// Pics: finding picture files in a folder, choosing one at random, and
// decoding pictures into colour grids (at once or off the calling thread) and
// textures.
#pragma once

#include "maths/NiftyMaths.h"
#include "platform/BitmapImageRep.h"
#include "platform/Worker.h"

#include <cstddef>

class Texture;

// Largest picture decoded, in pixels (128 Mi) and per side (65535), judged by
// the size the file declares before anything is decoded; a larger one counts
// as unreadable. A grid of that size takes up to 512 MiB.
constexpr long long kMaxPicturePixels = NSBitmapImageRep::kMaxPixels;
constexpr int kMaxPictureSide = NSBitmapImageRep::kMaxSide;

// Number of entries of `folder`, of any kind, whose lower-cased name ends in
// `extension` (given in lower case) and is longer than it; 0 when the folder
// cannot be listed.
int CountFiles(const char* folder, const char* extension);

// Writes into `name` (1024 bytes) the name, as listed, of match number n (from
// 0, listing order) among the entries of `extension`. False when there is no
// such match, the folder cannot be listed, or it changed since it was counted.
bool FindNthFile(const char* folder, char* name, const char* extension, int n);

// Writes into `name` (1024 bytes) a uniformly chosen ".jpg", ".gif" or ".png"
// entry of `folder` (ranked jpg, gif, png, each in listing order; one rand()
// draw). False when the folder holds none or cannot be listed.
bool ChooseRandomImageFile(const char* folder, char* name);

// byte / 255 as a float, for every byte value: the colour a grid gives.
struct ByteUnits {
  float value[256];
  constexpr ByteUnits() : value() {
    for (int i = 0; i < 256; ++i) value[i] = static_cast<float>(i) / 255.0f;
  }
};
inline constexpr ByteUnits kByteUnits{};

// A picture's grid of colours. It keeps the decoder's own 8-bit pixels rather
// than a copy: 3 bytes a pixel (red, green, blue) or 4 (and alpha, never
// read), rows top row first, `bytesPerRow` apart. The grid counts rows from
// the bottom, so entry (column, row) lies Offset(column, row) bytes from the
// start of the bottom row; its colour is each byte / 255 as a float, exactly
// what a grid of floats would hold, in a quarter of the memory or less.
class PicArray {
public:
  int width;   // pixels, 1 .. kMaxPictureSide
  int height;

  PicArray() : width(0), height(0), image(nullptr), bottom(nullptr), rowStep(0), pixelBytes(0) {}
  ~PicArray();  // releases the decoded picture
  PicArray(const PicArray&) = delete;
  PicArray& operator=(const PicArray&) = delete;

  // Takes over a decoded picture (delete releases it, with this object).
  // False, with nothing taken, when its layout is not 8-bit RGB or RGBA.
  bool Setup(NSBitmapImageRep* decoded);

  // Where entry (column from the left, row from the bottom) starts, in bytes
  // from Bytes(0); both must lie inside the grid.
  ptrdiff_t Offset(int column, int row) const {
    return static_cast<ptrdiff_t>(row) * rowStep + static_cast<ptrdiff_t>(column) * pixelBytes;
  }
  const unsigned char* Bytes(ptrdiff_t offset) const { return bottom + offset; }
  // The colour at an offset from Offset, each channel 0..1.
  VECTOR3D ColourAt(ptrdiff_t offset) const {
    const unsigned char* p = bottom + offset;
    VECTOR3D c;
    c.x = kByteUnits.value[p[0]];
    c.y = kByteUnits.value[p[1]];
    c.z = kByteUnits.value[p[2]];
    return c;
  }
  VECTOR3D Colour(int column, int row) const { return ColourAt(Offset(column, row)); }

private:
  NSBitmapImageRep* image;      // owned
  const unsigned char* bottom;  // first byte of the bottom row
  ptrdiff_t rowStep;            // minus the decoder's bytes per row
  ptrdiff_t pixelBytes;         // 3 or 4
};

// Decodes the picture at `path` into a new width × height grid of colours
// (0..1), bottom row first, alpha ignored; the caller releases it with
// delete. Null when the file cannot be decoded, is larger than
// kMaxPicturePixels or kMaxPictureSide, or the grid cannot be had; *width and
// *height are then untouched.
PicArray* ReturnPicArray(const char* path, int* width, int* height);

// ReturnPicArray on a thread of its own, one file at a time: started, looked
// at and taken on the owner's thread while that thread goes on with its own
// work.
class PicArrayLoad {
public:
  PicArrayLoad();   // nothing started; allocates nothing
  ~PicArrayLoad();  // Cleanup()
  PicArrayLoad(const PicArrayLoad&) = delete;
  PicArrayLoad& operator=(const PicArrayLoad&) = delete;

  // Starts decoding the file at `path` (copied, up to 4095 bytes) in the
  // given formats; a decode still running is stopped and its result dropped
  // first.
  void Start(const char* path,
             NSBitmapImageRep::Formats formats = NSBitmapImageRep::kClassicFormats);
  // A decode was started and its result not yet taken.
  bool Pending() const { return worker.Busy(); }
  // ... and it has finished: Take will not wait.
  bool Ready() const { return worker.Finished(); }
  // Waits for the decode started last and hands over its result as
  // ReturnPicArray would; null, with the sizes untouched, when none is
  // pending.
  PicArray* Take(int* width, int* height);
  // Stops a running decode (it gives up within one chunk of the file) and
  // drops its result.
  void Cleanup();

private:
  Worker worker;
  char path[4096];  // any path the system can open
  NSBitmapImageRep::Formats formats;
  PicArray* result;  // written by the worker, owned until taken
  int resultWidth;
  int resultHeight;
};

// Decodes the picture at `path` into a 512 × 512 opaque texture (nearest
// pixel, proportions not kept) with the GL context current; the record then
// reports the picture's own size, and any texture it held before is released.
// False, with the record untouched, when the file cannot be decoded; false
// too when the build fails, the record then holding no pixels.
bool loadPicFile(const char* path, Texture* texture);

// loadPicFile on a random picture of `folder` (a "/" is put between folder
// and name where the folder does not end in one).
bool LoadPicture(const char* folder, Texture* texture);
