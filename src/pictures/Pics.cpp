// Pics: the picture source. Folder listings are read afresh for every choice
// (choices are rare), and pictures go through the platform's bitmap decoder.

#include "pictures/Pics.h"

#include "textures/Texture.h"

#include <GL/gl.h>

#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <memory>
#include <new>

namespace {

constexpr size_t kNameSize = 1024;  // the callers' name buffers
constexpr int kTextureSide = 512;

// The listed name, lower-cased, ends in `extension` and is strictly longer.
bool BelongsTo(const char* listed, const char* extension) {
  size_t length = std::strlen(listed);
  size_t extensionLength = std::strlen(extension);
  if (length <= extensionLength) return false;
  const char* tail = listed + (length - extensionLength);
  for (size_t i = 0; i < extensionLength; ++i) {
    if (std::tolower(static_cast<unsigned char>(tail[i])) !=
        static_cast<unsigned char>(extension[i]))
      return false;
  }
  return true;
}

// A folder listing that is closed on every way out.
class Listing {
public:
  explicit Listing(const char* folder) : dir(folder ? opendir(folder) : nullptr) {}
  ~Listing() {
    if (dir) closedir(dir);
  }
  Listing(const Listing&) = delete;
  Listing& operator=(const Listing&) = delete;
  bool IsOpen() const { return dir != nullptr; }
  const char* Next() {
    struct dirent* entry = readdir(dir);
    return entry ? entry->d_name : nullptr;
  }

private:
  DIR* dir;
};

// ReturnPicArray, giving up (null) once *stop turns true.
PicArray* DecodePicArray(const char* path, int* width, int* height,
                         const std::atomic<bool>* stop, NSBitmapImageRep::Formats formats) {
  std::unique_ptr<NSBitmapImageRep> image =
      NSBitmapImageRep::imageRepWithContentsOfFile(path, stop, formats);
  if (!image) return nullptr;
  PicArray* grid = new (std::nothrow) PicArray;
  if (!grid) return nullptr;
  if (!grid->Setup(image.get())) {
    delete grid;
    return nullptr;
  }
  image.release();
  *width = grid->width;
  *height = grid->height;
  return grid;
}

}  // namespace

int CountFiles(const char* folder, const char* extension) {
  Listing listing(folder);
  if (!listing.IsOpen()) return 0;
  int count = 0;
  while (const char* listed = listing.Next()) {
    if (BelongsTo(listed, extension)) ++count;
  }
  return count;
}

bool FindNthFile(const char* folder, char* name, const char* extension, int n) {
  int count = CountFiles(folder, extension);
  if (count <= 0 || count < n) return false;
  Listing listing(folder);
  if (!listing.IsOpen()) return false;
  int index = 0;
  while (const char* listed = listing.Next()) {
    if (!BelongsTo(listed, extension)) continue;
    if (index == n) {
      std::snprintf(name, kNameSize, "%s", listed);
      return true;
    }
    ++index;
  }
  return false;
}

bool ChooseRandomImageFile(const char* folder, char* name) {
  int jpg = CountFiles(folder, ".jpg");
  int gif = CountFiles(folder, ".gif");
  int png = CountFiles(folder, ".png");
  if (jpg + gif + png <= 0) return false;
  int r = std::rand() % (jpg + gif + png);
  if (r < jpg) return FindNthFile(folder, name, ".jpg", r);
  r -= jpg;
  if (r < gif) return FindNthFile(folder, name, ".gif", r);
  r -= gif;
  if (r < png) return FindNthFile(folder, name, ".png", r);
  return false;
}

PicArray::~PicArray() { delete image; }

bool PicArray::Setup(NSBitmapImageRep* decoded) {
  if (!decoded || image) return false;
  const int w = decoded->pixelsWide();
  const int h = decoded->pixelsHigh();
  const int bits = decoded->bitsPerPixel();
  const long long stride = decoded->bytesPerRow();
  if (w <= 0 || h <= 0 || (bits != 24 && bits != 32) || stride < w * (bits / 8LL)) return false;
  image = decoded;
  width = w;
  height = h;
  pixelBytes = bits / 8;
  rowStep = -static_cast<ptrdiff_t>(stride);
  bottom = decoded->bitmapData() + (h - 1) * stride;
  return true;
}

PicArray* ReturnPicArray(const char* path, int* width, int* height) {
  return DecodePicArray(path, width, height, nullptr, NSBitmapImageRep::kClassicFormats);
}

PicArrayLoad::PicArrayLoad()
    : formats(NSBitmapImageRep::kClassicFormats), result(nullptr), resultWidth(0), resultHeight(0) {
  path[0] = '\0';
}

PicArrayLoad::~PicArrayLoad() { Cleanup(); }

void PicArrayLoad::Start(const char* file, NSBitmapImageRep::Formats kinds) {
  Cleanup();
  std::snprintf(path, sizeof path, "%s", file ? file : "");
  formats = kinds;
  worker.Start([this](const std::atomic<bool>& stop) {
    result = DecodePicArray(path, &resultWidth, &resultHeight, &stop, formats);
  });
}

PicArray* PicArrayLoad::Take(int* width, int* height) {
  if (!worker.Busy()) return nullptr;
  worker.Wait();
  PicArray* taken = result;
  result = nullptr;
  if (taken) {
    *width = resultWidth;
    *height = resultHeight;
  }
  return taken;
}

void PicArrayLoad::Cleanup() {
  worker.Stop();
  delete result;
  result = nullptr;
}

bool loadPicFile(const char* path, Texture* texture) {
  if (!texture) return false;
  std::unique_ptr<NSBitmapImageRep> image = NSBitmapImageRep::imageRepWithContentsOfFile(path);
  if (!image) return false;
  unsigned int format;
  if (image->bitsPerPixel() == 24)
    format = GL_RGB;
  else if (image->bitsPerPixel() == 32)
    format = GL_RGBA;
  else
    return false;
  const int b = format == GL_RGBA ? 4 : 3;
  const int w = image->pixelsWide();
  const int h = image->pixelsHigh();
  if (w <= 0 || h <= 0 || image->bytesPerRow() < static_cast<long long>(w) * b) return false;

  unsigned char* pixels = static_cast<unsigned char*>(
      std::malloc(static_cast<size_t>(kTextureSide) * kTextureSide * b));
  if (!pixels) return false;

  // The record may already hold a picture: give it up rather than lose it.
  std::free(texture->pixels);
  texture->pixels = pixels;
  if (texture->glName != 0) {
    GLuint old = texture->glName;
    glDeleteTextures(1, &old);
    texture->glName = 0;
  }
  texture->pixelFormat = format;
  texture->bitsPerPixel = static_cast<unsigned int>(b * 8);
  texture->width = kTextureSide;
  texture->height = kTextureSide;

  // Nearest pixel; file rows run top first, texture rows bottom first.
  const float sx = static_cast<float>(w) / kTextureSide;
  const float sy = static_cast<float>(h) / kTextureSide;
  const unsigned char* data = image->bitmapData();
  const long long stride = image->bytesPerRow();
  for (int j = 0; j < kTextureSide; ++j) {
    int fileRow = static_cast<int>(j * sy);
    if (fileRow > h - 1) fileRow = h - 1;
    const unsigned char* row = data + fileRow * stride;
    unsigned char* out = pixels + static_cast<size_t>(kTextureSide - 1 - j) * kTextureSide * b;
    for (int i = 0; i < kTextureSide; ++i) {
      int fileColumn = static_cast<int>(i * sx);
      if (fileColumn > w - 1) fileColumn = w - 1;
      const unsigned char* pixel = row + static_cast<long long>(fileColumn) * b;
      out[i * b + 0] = pixel[0];
      out[i * b + 1] = pixel[1];
      out[i * b + 2] = pixel[2];
    }
  }

  bool built = BuildTexture(texture, 0);
  if (!built) {
    // The size below no longer describes these pixels; drop them so that
    // nothing can read them at that size.
    std::free(texture->pixels);
    texture->pixels = nullptr;
  }
  texture->width = static_cast<unsigned int>(w);
  texture->height = static_cast<unsigned int>(h);
  return built;
}

bool LoadPicture(const char* folder, Texture* texture) {
  char name[kNameSize];
  if (!ChooseRandomImageFile(folder, name)) return false;
  char path[2 * kNameSize + 2];
  size_t length = std::strlen(folder);
  const char* separator = length > 0 && folder[length - 1] != '/' ? "/" : "";
  int written = std::snprintf(path, sizeof path, "%s%s%s", folder, separator, name);
  if (written < 0 || static_cast<size_t>(written) >= sizeof path) return false;
  return loadPicFile(path, texture);
}
