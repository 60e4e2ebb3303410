// TgaWriter: true-colour TGA images as the archive's reader takes them.
#pragma once

#include <string>
#include <vector>

// Encodes width x height pixels given as RGBA bytes, rows bottom first (the
// TGA default, so that the image stands upright as a texture), into a type 2
// (uncompressed) or type 10 (run-length, packets never crossing a row) TGA of
// 24 or 32 bits. The 24-bit form drops the alpha bytes. Empty when the size or
// the bit depth is not one that the reader accepts.
std::string EncodeTGA(int width, int height, int bits, bool runLength,
                      const std::vector<unsigned char>& rgbaBottomFirst);
