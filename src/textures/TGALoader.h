// TGALoader: reads uncompressed (type 2) and run-length (type 10) true-colour
// TGA images of 24 or 32 bits into a Texture, pixels in red-green-blue(-alpha)
// order, rows in the order stored. Every refusal shows one critical alert.
#pragma once

#include "textures/Texture.h"

#include <cstdio>
#include <fstream>

// The first 12 bytes of the image being read.
struct TGAHeader {
  unsigned char Header[12];
};

// The work record of the image being read.
struct TGA {
  unsigned char header[6];     // width and height (16-bit little-endian), bits, descriptor
  unsigned int bytesPerPixel;  // bits / 8
  unsigned int imageSize;      // bytesPerPixel × width × height
  unsigned int height;
  unsigned int width;
  unsigned int bpp;
};

// Process-wide work areas: images are read one at a time, on one thread.
extern TGAHeader tgaheader;
extern TGA tga;

// The only accepted first 12 bytes: no ID, no colour map, zero origin.
extern const unsigned char uTGAcompare[12];  // type 2, uncompressed
extern const unsigned char cTGAcompare[12];  // type 10, run-length

// Stream form: reads the image that starts at the stream's position. On
// success the stream stands just after the image's bytes and `t` holds
// malloc'd pixels, bitsPerPixel, width, height and pixelFormat (GL_RGB or
// GL_RGBA); glName is never touched. On failure one alert has been shown and
// `t->pixels` is null.
bool LoadTGA2(Texture* t, std::ifstream* stream);

// File-path form of LoadTGA2: opens `path` itself and always closes it.
bool LoadTGA(Texture* t, const char* path);

// Body readers, used by the entry points once the first 12 bytes matched.
// The file forms close `file` on every exit; `path` is not used.
bool LoadUncompressedTGA2(Texture* t, std::ifstream* stream);
bool LoadCompressedTGA2(Texture* t, std::ifstream* stream);
bool LoadUncompressedTGA(Texture* t, const char* path, FILE* file);
bool LoadCompressedTGA(Texture* t, const char* path, FILE* file);

// Shows a critical alert with `title` and `message` and one button "OK", and
// returns when it has been dismissed. `owner` and `flags` are ignored.
int MessageBox(void* owner, const char* message, const char* title, unsigned int flags);
