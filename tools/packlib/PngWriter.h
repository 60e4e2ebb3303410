// PngWriter: PNG files built byte by byte, for pictures whose every field is
// chosen by the caller (declared sizes, depths, palettes, damaged data).
#pragma once

#include <cstdint>
#include <string>

struct PngHeader {
  uint32_t width, height;
  int depth;   // bits per sample
  int colour;  // 0 grey, 2 RGB, 3 palette, 4 grey + alpha, 6 RGBA
  bool interlaced = false;
};

// One chunk: length, type, data and CRC.
std::string PngChunk(const char* type, const std::string& data);

// A zlib stream of one fixed-Huffman deflate block; runs of a repeated byte
// become copies at distance 1, so that large uniform pictures stay small.
std::string PngZlib(const std::string& raw);

// A PNG file from already filtered scanlines; `extra` chunks (PLTE, tRNS) go
// before the image data. Nothing checks that the data matches the header.
std::string EncodePNG(const PngHeader& header, const std::string& scanlines,
                      const std::string& extra = "");
