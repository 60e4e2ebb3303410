// Texture: the record and its upload to OpenGL.

#include "textures/Texture.h"

#include <GL/gl.h>

#include <cstdint>
#include <cstdlib>

Texture::Texture()
    : pixels(nullptr), bitsPerPixel(0), width(0), height(0), glName(0), pixelFormat(0) {}

Texture::~Texture() {
  if (pixels) {
    std::free(pixels);
    pixels = nullptr;
  }
  // Deleting name 0 is a no-op; skipping it lets tools that never touch GL
  // destroy records without a context.
  if (glName != 0) glDeleteTextures(1, &glName);
}

namespace {

// Bytes of the RGBA scratch image, or 0 when the size is out of range: empty,
// or too large for the 32-bit sizes that the readers and OpenGL work with.
uint64_t ScratchBytes(const Texture* t) {
  uint64_t bytes = static_cast<uint64_t>(t->width) * t->height * 4u;
  if (bytes == 0 || bytes > UINT32_MAX) return 0;
  return bytes;
}

// Generates the record's texture name and binds it. This comes before the
// scratch image is allocated: when that allocation fails, the record keeps
// the name with its pixels, and its destructor deletes both. A name kept so
// by an earlier build is deleted first, so that building again leaks none.
void BindNewName(Texture* t) {
  if (t->glName != 0) glDeleteTextures(1, &t->glName);
  glGenTextures(1, &t->glName);
  glBindTexture(GL_TEXTURE_2D, t->glName);
}

// Uploads the RGBA scratch image into the bound name and sets its
// parameters, then lets go of the record's pixels.
void Upload(Texture* t, const unsigned char* rgba) {
  glTexImage2D(GL_TEXTURE_2D, 0, 4, static_cast<GLsizei>(t->width),
               static_cast<GLsizei>(t->height), 0, GL_RGBA, GL_UNSIGNED_BYTE, rgba);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
  std::free(t->pixels);
  t->pixels = nullptr;
}

}  // namespace

bool BuildTexture(Texture* t, int alphaMode) {
  if (!t || !t->pixels) return false;
  uint64_t bytes = ScratchBytes(t);
  if (bytes == 0) return false;
  const size_t stride = t->pixelFormat == GL_RGBA ? 4 : 3;
  const unsigned char key[3] = {t->pixels[0], t->pixels[1], t->pixels[2]};

  BindNewName(t);
  unsigned char* scratch = static_cast<unsigned char*>(std::malloc(bytes));
  if (!scratch) return false;
  const size_t count = static_cast<size_t>(bytes / 4);
  const unsigned char* src = t->pixels;
  unsigned char* dst = scratch;
  for (size_t i = 0; i < count; ++i, src += stride, dst += 4) {
    dst[0] = src[0];
    dst[1] = src[1];
    dst[2] = src[2];
    unsigned char alpha = 255;
    if (alphaMode == 1) {
      if (src[0] == key[0] && src[1] == key[1] && src[2] == key[2]) alpha = 0;
    } else if (alphaMode == 2) {
      alpha = src[0];
      if (src[1] > alpha) alpha = src[1];
      if (src[2] > alpha) alpha = src[2];
    }
    dst[3] = alpha;
  }
  Upload(t, scratch);
  std::free(scratch);
  return true;
}

bool BuildTGATextureWithAlpha(Texture* t, unsigned char** alphaPixels) {
  if (!t || !t->pixels || !alphaPixels || !*alphaPixels) return false;
  uint64_t bytes = ScratchBytes(t);
  if (bytes == 0) return false;

  BindNewName(t);
  unsigned char* scratch = static_cast<unsigned char*>(std::malloc(bytes));
  if (!scratch) return false;
  const size_t count = static_cast<size_t>(bytes / 4);
  const unsigned char* src = t->pixels;
  const unsigned char* alpha = *alphaPixels;
  unsigned char* dst = scratch;
  for (size_t i = 0; i < count; ++i, src += 3, alpha += 3, dst += 4) {
    dst[0] = src[0];
    dst[1] = src[1];
    dst[2] = src[2];
    dst[3] = alpha[0];
  }
  Upload(t, scratch);
  std::free(scratch);
  return true;
}
