// PngWriter: PNG files built byte by byte.

#include "PngWriter.h"

namespace {

void Put32(std::string& s, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) s.push_back(static_cast<char>((v >> shift) & 0xff));
}

uint32_t Crc32(const std::string& bytes) {
  static const struct Table {
    uint32_t entry[256];
    Table() {
      for (uint32_t n = 0; n < 256; ++n) {
        uint32_t c = n;
        for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xedb88320u ^ (c >> 1) : c >> 1;
        entry[n] = c;
      }
    }
  } table;
  uint32_t c = 0xffffffffu;
  for (unsigned char b : bytes) c = table.entry[(c ^ b) & 0xff] ^ (c >> 8);
  return c ^ 0xffffffffu;
}

}  // namespace

std::string PngChunk(const char* type, const std::string& data) {
  std::string body = std::string(type, 4) + data;
  std::string chunk;
  Put32(chunk, static_cast<uint32_t>(data.size()));
  chunk += body;
  Put32(chunk, Crc32(body));
  return chunk;
}

std::string PngZlib(const std::string& raw) {
  std::string out = "\x78\x01";
  uint32_t accumulator = 0;
  int filled = 0;
  auto bits = [&](uint32_t value, int count) {  // least significant bit first
    for (int i = 0; i < count; ++i) {
      accumulator |= ((value >> i) & 1u) << filled;
      if (++filled == 8) {
        out.push_back(static_cast<char>(accumulator));
        accumulator = 0;
        filled = 0;
      }
    }
  };
  auto code = [&](uint32_t value, int length) {  // Huffman codes go most significant bit first
    for (int i = length - 1; i >= 0; --i) bits((value >> i) & 1u, 1);
  };
  auto literal = [&](unsigned char v) {
    if (v < 144) code(0x30 + v, 8);
    else code(0x190 + (v - 144), 9);
  };
  bits(1, 1);  // final block
  bits(1, 2);  // fixed codes
  size_t i = 0;
  while (i < raw.size()) {
    literal(static_cast<unsigned char>(raw[i]));
    size_t j = i + 1;
    while (j < raw.size() && raw[j] == raw[i]) ++j;
    size_t run = j - i - 1;
    ++i;
    for (; run >= 258; run -= 258, i += 258) {
      code(0xc5, 8);  // length 258
      code(0, 5);     // distance 1
    }
  }
  code(0, 7);  // end of block
  if (filled) out.push_back(static_cast<char>(accumulator));
  uint32_t a = 1, b = 0;
  for (unsigned char c : raw) {
    a = (a + c) % 65521;
    b = (b + a) % 65521;
  }
  Put32(out, (b << 16) | a);
  return out;
}

std::string EncodePNG(const PngHeader& h, const std::string& scanlines, const std::string& extra) {
  std::string ihdr;
  Put32(ihdr, h.width);
  Put32(ihdr, h.height);
  ihdr += static_cast<char>(h.depth);
  ihdr += static_cast<char>(h.colour);
  ihdr += '\0';
  ihdr += '\0';
  ihdr += static_cast<char>(h.interlaced ? 1 : 0);
  return std::string("\x89PNG\r\n\x1a\n", 8) + PngChunk("IHDR", ihdr) + extra +
         PngChunk("IDAT", PngZlib(scanlines)) + PngChunk("IEND", "");
}
