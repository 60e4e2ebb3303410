// ResFile: the resource archive ("KAMB") and the loading of its images into
// texture slots.
//
// Layout, all integers 32-bit little-endian, offsets from the file's start:
// a 24-byte header (magic "KAMB", 8 reserved bytes, lumpCount, check = the
// bitwise complement of the file's length, dirOffset), and a directory of
// lumpCount 28-byte entries (size, offset, type, alphaMode, 12 reserved bytes)
// at dirOffset. Lump data may lie anywhere; type 1 lumps are TGA images.
#pragma once

#include "textures/Texture.h"

#include <cstdint>
#include <fstream>

struct RESHEADER {
  char magic[4];  // "KAMB"
  unsigned char reserved[8];
  uint32_t lumpCount;
  uint32_t check;      // ~(file length mod 2^32)
  uint32_t dirOffset;
};

struct LUMP {
  uint32_t size;      // bytes of data
  uint32_t offset;    // where the data starts
  int32_t type;       // 1: TGA image; other kinds are passed over
  int32_t alphaMode;  // given to BuildTexture for images
  unsigned char reserved[12];
};

// Bytes of the header and of one directory entry in the file.
constexpr uint32_t kResHeaderBytes = 24;
constexpr uint32_t kLumpBytes = 28;

class RESFILE {
public:
  uint32_t fileSize;     // length of the open archive (low 32 bits), 0 before Open
  std::ifstream stream;  // the open archive; TGA images are read straight from it
  RESHEADER header;      // as read by Open
  LUMP* lumps;           // the directory, header.lumpCount entries, or null
  uint64_t fileLength;   // the archive's full length, for bounds checks

  RESFILE();   // closed: no stream, no directory
  ~RESFILE();  // Close()
  RESFILE(const RESFILE&) = delete;
  RESFILE& operator=(const RESFILE&) = delete;

  // Opens the archive and reads its directory. True leaves the stream open
  // and the directory held. False (nothing shown to the user) for a missing
  // or unreadable file, a short header, a wrong magic or check value, a count
  // of 2^31 or more, or a directory that does not lie wholly inside the file;
  // the reader is then closed. Opening an open reader closes it first.
  bool Open(const char* path);

  // Places the stream at the first byte of lump `index`. False, changing
  // nothing, when closed or `index` is outside the directory. An offset past
  // the end of the file is not refused here: the read that follows fails.
  bool SeekLump(int index);

  // Reads lump `index` whole into a new byte array that the caller releases
  // with delete[]. False, storing nothing through `data`, when closed, when
  // `index` is outside the directory, when the lump does not lie inside the
  // file, or when the read fails.
  bool LoadData(int index, void** data);

  // Releases the directory and closes the stream. Any number of calls.
  void Close();
};

// Loads every type 1 lump of the archive at `path` into a new array of
// lumpCount texture slots, slot i for directory entry i; other slots stay
// empty (no pixels, name 0). When the archive opens, *textures and *count
// describe the array whatever follows, and the caller owns it (delete[]); a
// failed image read (with its alert) or upload leaves the slots before it
// built. When the archive does not open, both are left alone. Needs a current
// GL context.
bool LoadTexturesFromDataFile(const char* path, Texture** textures, int* count);
