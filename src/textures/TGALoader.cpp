// TGALoader: the TGA reader in its stream and file-path forms.

#include "textures/TGALoader.h"

#include "platform/gtk/Alert.h"

#include <GL/gl.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

TGAHeader tgaheader;
TGA tga;

const unsigned char uTGAcompare[12] = {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0};
const unsigned char cTGAcompare[12] = {0, 0, 10, 0, 0, 0, 0, 0, 0, 0, 0, 0};

int MessageBox(void* /*owner*/, const char* message, const char* title,
               unsigned int /*flags*/) {
  AlertPanel* panel = NSGetCriticalAlertPanel(title, message, "OK");
  int result = runModalForWindow(panel);
  panel->close();
  return result;
}

namespace {

constexpr const char* kError = "ERROR";

void Alert(const char* message) { MessageBox(nullptr, message, kError, 0); }

// The two forms read through one of these, so that both run the same steps.
struct StreamSource {
  std::ifstream* stream;
  bool Read(void* into, size_t count) {
    stream->read(static_cast<char*>(into), static_cast<std::streamsize>(count));
    return static_cast<size_t>(stream->gcount()) == count;
  }
};

struct FileSource {
  FILE* file;
  bool Read(void* into, size_t count) { return std::fread(into, 1, count, file) == count; }
};

void ReleasePixels(Texture* t) {
  std::free(t->pixels);
  t->pixels = nullptr;
}

// The pixel buffer grows as pixels actually arrive, up to imageSize, so a few
// header bytes that claim a huge image cannot make the reader take gigabytes
// before the data runs out. It starts at this size and at least doubles.
constexpr size_t kFirstPixelBytes = 64 * 1024;

// Makes room for `needed` bytes (never more than imageSize) in t->pixels.
// False, with the allocation alert and the pixels released, when memory runs
// out.
bool Reserve(Texture* t, size_t* capacity, size_t needed) {
  if (needed <= *capacity) return true;
  size_t next = std::max(needed, std::max<size_t>(*capacity * 2, kFirstPixelBytes));
  next = std::min<size_t>(next, tga.imageSize);
  unsigned char* grown = static_cast<unsigned char*>(std::realloc(t->pixels, next));
  if (!grown) {
    Alert("Could not allocate memory for image");
    ReleasePixels(t);
    return false;
  }
  t->pixels = grown;
  *capacity = next;
  return true;
}

// Common start of both bodies: the size and depth bytes, their checks and the
// first part of the pixel buffer. Sizes are worked out in 64 bits, and an
// image whose RGBA form would not fit in 32 bits is refused before anything is
// allocated, so no size below can wrap.
template <class Source>
bool ReadInfo(Texture* t, Source& source, size_t* capacity) {
  // A record being refilled lets go of its old pixels first, so they can
  // never be taken for the new image's.
  if (t->pixels) ReleasePixels(t);
  *capacity = 0;
  if (!source.Read(tga.header, sizeof tga.header)) {
    Alert("Could not read info header");
    return false;
  }
  t->width = tga.header[0] | (tga.header[1] << 8);
  t->height = tga.header[2] | (tga.header[3] << 8);
  t->bitsPerPixel = tga.header[4];
  tga.width = t->width;
  tga.height = t->height;
  tga.bpp = t->bitsPerPixel;
  const uint64_t rgbaBytes = static_cast<uint64_t>(t->width) * t->height * 4u;
  if (t->width == 0 || t->height == 0 || (t->bitsPerPixel != 24 && t->bitsPerPixel != 32) ||
      rgbaBytes > UINT32_MAX) {
    Alert("Invalid texture information");
    return false;
  }
  t->pixelFormat = t->bitsPerPixel == 24 ? GL_RGB : GL_RGBA;
  tga.bytesPerPixel = tga.bpp / 8;
  tga.imageSize = static_cast<unsigned int>(static_cast<uint64_t>(tga.bytesPerPixel) *
                                            tga.width * tga.height);
  return Reserve(t, capacity, std::min<size_t>(tga.imageSize, kFirstPixelBytes));
}

template <class Source>
bool ReadUncompressed(Texture* t, Source& source) {
  size_t capacity = 0;
  if (!ReadInfo(t, source, &capacity)) return false;
  const size_t total = tga.imageSize;
  size_t done = 0;
  while (done < total) {
    const size_t chunk = std::min(total - done, std::max(done, kFirstPixelBytes));
    if (!Reserve(t, &capacity, done + chunk)) return false;
    if (!source.Read(t->pixels + done, chunk)) {
      Alert("Could not read image data");
      ReleasePixels(t);
      return false;
    }
    done += chunk;
  }
  const size_t step = tga.bytesPerPixel;
  unsigned char* end = t->pixels + total;
  for (unsigned char* p = t->pixels; p < end; p += step) {
    unsigned char blue = p[0];
    p[0] = p[2];
    p[2] = blue;
  }
  return true;
}

template <class Source>
bool ReadCompressed(Texture* t, Source& source) {
  size_t capacity = 0;
  if (!ReadInfo(t, source, &capacity)) return false;
  const uint64_t pixelCount = static_cast<uint64_t>(tga.width) * tga.height;
  const size_t step = tga.bytesPerPixel;
  uint64_t done = 0;
  unsigned char colour[4] = {0, 0, 0, 0};

  // Stores one pixel, refusing any beyond width × height.
  auto store = [&]() {
    if (done == pixelCount) {
      Alert("Too many pixels read");
      ReleasePixels(t);
      return false;
    }
    const size_t at = static_cast<size_t>(done) * step;
    if (!Reserve(t, &capacity, at + step)) return false;
    unsigned char* p = t->pixels + at;
    p[0] = colour[2];
    p[1] = colour[1];
    p[2] = colour[0];
    if (step == 4) p[3] = colour[3];
    ++done;
    return true;
  };

  while (done < pixelCount) {
    unsigned char packet = 0;
    if (!source.Read(&packet, 1)) {
      Alert("Could not read RLE header");
      ReleasePixels(t);
      return false;
    }
    if (packet < 128) {
      for (int i = 0; i <= packet; ++i) {
        if (!source.Read(colour, step)) {
          Alert("Could not read image data");
          ReleasePixels(t);
          return false;
        }
        if (!store()) return false;
      }
    } else {
      if (!source.Read(colour, step)) {
        Alert("Could not read from file");
        ReleasePixels(t);
        return false;
      }
      for (int i = 0; i < packet - 127; ++i) {
        if (!store()) return false;
      }
    }
  }
  return true;
}

enum class Body { Uncompressed, Compressed, Refused };

// Which body follows the 12 bytes now in tgaheader.
Body Classify() {
  if (std::memcmp(tgaheader.Header, uTGAcompare, sizeof uTGAcompare) == 0) {
    return Body::Uncompressed;
  }
  if (std::memcmp(tgaheader.Header, cTGAcompare, sizeof cTGAcompare) == 0) {
    return Body::Compressed;
  }
  return Body::Refused;
}

void RefuseType() { MessageBox(nullptr, "TGA file be type 2 or type 10 ", "Invalid Image", 0); }

}  // namespace

bool LoadUncompressedTGA2(Texture* t, std::ifstream* stream) {
  StreamSource source{stream};
  return ReadUncompressed(t, source);
}

bool LoadCompressedTGA2(Texture* t, std::ifstream* stream) {
  StreamSource source{stream};
  return ReadCompressed(t, source);
}

bool LoadUncompressedTGA(Texture* t, const char* /*path*/, FILE* file) {
  FileSource source{file};
  bool ok = ReadUncompressed(t, source);
  std::fclose(file);
  return ok;
}

bool LoadCompressedTGA(Texture* t, const char* /*path*/, FILE* file) {
  FileSource source{file};
  bool ok = ReadCompressed(t, source);
  std::fclose(file);
  return ok;
}

bool LoadTGA2(Texture* t, std::ifstream* stream) {
  if (!t) return false;
  if (!stream || !stream->is_open()) {
    Alert("Could not open texture file");
    return false;
  }
  StreamSource source{stream};
  if (!source.Read(tgaheader.Header, sizeof tgaheader.Header)) {
    Alert("Could not read file header");
    return false;
  }
  switch (Classify()) {
    case Body::Uncompressed:
      return LoadUncompressedTGA2(t, stream);
    case Body::Compressed:
      return LoadCompressedTGA2(t, stream);
    case Body::Refused:
      break;
  }
  RefuseType();
  return false;
}

bool LoadTGA(Texture* t, const char* path) {
  if (!t) return false;
  FILE* file = path ? std::fopen(path, "rb") : nullptr;
  if (!file) {
    Alert("Could not open texture file");
    return false;
  }
  FileSource source{file};
  if (!source.Read(tgaheader.Header, sizeof tgaheader.Header)) {
    Alert("Could not read file header");
    std::fclose(file);
    return false;
  }
  switch (Classify()) {
    case Body::Uncompressed:
      return LoadUncompressedTGA(t, path, file);
    case Body::Compressed:
      return LoadCompressedTGA(t, path, file);
    case Body::Refused:
      break;
  }
  RefuseType();
  std::fclose(file);
  return false;
}
