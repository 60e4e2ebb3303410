// BitmapImageRep: the bitmap image decoder (JPEG, GIF, PNG; for a photo
// library also WebP, HEIF, AVIF, TIFF and BMP) behind the picture source,
// delivering 8-bit RGB or RGBA rows.
#pragma once

#include <atomic>
#include <memory>
#include <string>

class NSBitmapImageRep {
public:
  // Largest picture accepted, checked against the size a file declares before
  // any pixel is decoded: 128 Mi pixels (the 108-megapixel photos of current
  // phone cameras load) and 65535 pixels per side. The picture source keeps
  // the decoded pixels, at most 4 bytes each, so this bounds it near 512 MiB.
  static constexpr long long kMaxPixels = 128LL * 1024 * 1024;
  static constexpr int kMaxSide = 65535;

  // The formats a decode accepts: JPEG, GIF and PNG; or those and the
  // formats of today's cameras and phones, WebP, HEIF (HEIC), AVIF, TIFF and
  // BMP, each read by the gdk-pixbuf loader installed for it (a format
  // without one is unreadable).
  enum Formats { kClassicFormats, kPhotoFormats };

  // Decodes the first picture of the file at `path` (a GIF's first frame),
  // recognised by its content whatever its name, and turned upright as the
  // file says: a JPEG's orientation tag, a HEIF or AVIF file's rotation and
  // mirroring. Grey, palette, 16-bit and interlaced files arrive as 8-bit
  // RGB(A). Null when the path is not a readable regular file, holds a format
  // outside `formats`, is corrupt or truncated, declares a size above the
  // caps, or memory runs out; nothing is kept then. Null too, soon after,
  // once `stop` (when given) turns true: the file is read in chunks, and
  // another thread may set it to give up a decode no longer wanted.
  static std::unique_ptr<NSBitmapImageRep> imageRepWithContentsOfFile(
      const char* path, const std::atomic<bool>* stop = nullptr,
      Formats formats = kClassicFormats);

  // The name of the gdk-pixbuf module that would read the file at `path`
  // within `formats` ("jpeg", "webp", "heif/avif", ...); empty when the file
  // cannot be opened, holds no such format, or no module for it is installed.
  static std::string ModuleFor(const char* path, Formats formats);

  ~NSBitmapImageRep();
  NSBitmapImageRep(const NSBitmapImageRep&) = delete;
  NSBitmapImageRep& operator=(const NSBitmapImageRep&) = delete;

  // 24 (red, green, blue) or 32 (red, green, blue, alpha; not premultiplied).
  int bitsPerPixel() const { return bits; }
  // Distance between rows, at least pixelsWide × bitsPerPixel / 8. The bytes
  // of pixel (x, y), y from the top, start at y × bytesPerRow + x × bytes per
  // pixel; the last row may end right after its last pixel.
  int bytesPerRow() const { return stride; }
  int pixelsWide() const { return width; }   // 1 .. kMaxSide
  int pixelsHigh() const { return height; }  // 1 .. kMaxSide; wide × high ≤ kMaxPixels
  // The pixels, rows top first; owned by this object.
  const unsigned char* bitmapData() const { return data; }

private:
  NSBitmapImageRep() = default;

  void* pixbuf = nullptr;  // the decoded GdkPixbuf, one reference held
  const unsigned char* data = nullptr;
  int width = 0;
  int height = 0;
  int stride = 0;
  int bits = 0;
};
