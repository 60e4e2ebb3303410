// ResFile: the archive reader and the built-in texture loader.

#include "textures/ResFile.h"

#include "textures/TGALoader.h"

#include <cstring>
#include <new>

namespace {

uint32_t Little32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// Counts of 2^31 and above cannot be indexed by the signed slot numbers.
constexpr uint32_t kMaxLumpCount = 0x7fffffffu;

}  // namespace

RESFILE::RESFILE() : fileSize(0), header(), lumps(nullptr), fileLength(0) {}

RESFILE::~RESFILE() { Close(); }

void RESFILE::Close() {
  delete[] lumps;
  lumps = nullptr;
  if (stream.is_open()) stream.close();
  stream.clear();
}

bool RESFILE::Open(const char* path) {
  Close();
  if (!path) return false;
  stream.open(path, std::ios::in | std::ios::binary);
  if (!stream.is_open()) return false;

  stream.seekg(0, std::ios::end);
  std::streamoff end = stream.tellg();
  if (!stream || end < 0) {
    Close();
    return false;
  }
  fileLength = static_cast<uint64_t>(end);
  fileSize = static_cast<uint32_t>(fileLength);
  stream.seekg(0, std::ios::beg);

  unsigned char raw[kResHeaderBytes];
  stream.read(reinterpret_cast<char*>(raw), sizeof raw);
  if (stream.gcount() != static_cast<std::streamsize>(sizeof raw)) {
    Close();
    return false;
  }
  std::memcpy(header.magic, raw, 4);
  std::memcpy(header.reserved, raw + 4, 8);
  header.lumpCount = Little32(raw + 12);
  header.check = Little32(raw + 16);
  header.dirOffset = Little32(raw + 20);

  if (std::memcmp(header.magic, "KAMB", 4) != 0 || header.check != ~fileSize) {
    Close();
    return false;
  }
  // A directory must lie inside the file, so a damaged count can never ask
  // for more memory than the file itself holds.
  const uint64_t dirEnd =
      static_cast<uint64_t>(header.dirOffset) + static_cast<uint64_t>(header.lumpCount) * kLumpBytes;
  if (header.lumpCount > kMaxLumpCount || (header.lumpCount > 0 && dirEnd > fileLength)) {
    Close();
    return false;
  }

  lumps = new (std::nothrow) LUMP[header.lumpCount];
  if (!lumps) {
    Close();
    return false;
  }
  stream.seekg(static_cast<std::streamoff>(header.dirOffset), std::ios::beg);
  for (uint32_t i = 0; i < header.lumpCount; ++i) {
    unsigned char entry[kLumpBytes];
    stream.read(reinterpret_cast<char*>(entry), sizeof entry);
    if (stream.gcount() != static_cast<std::streamsize>(sizeof entry)) break;
    lumps[i].size = Little32(entry);
    lumps[i].offset = Little32(entry + 4);
    lumps[i].type = static_cast<int32_t>(Little32(entry + 8));
    lumps[i].alphaMode = static_cast<int32_t>(Little32(entry + 12));
    std::memcpy(lumps[i].reserved, entry + 16, sizeof lumps[i].reserved);
  }
  if (stream.fail()) {
    Close();
    return false;
  }
  return true;
}

bool RESFILE::SeekLump(int index) {
  if (!stream.is_open() || !lumps || index < 0 ||
      static_cast<uint32_t>(index) >= header.lumpCount) {
    return false;
  }
  // A failed read of an earlier lump must not block seeks to the others.
  stream.clear();
  stream.seekg(static_cast<std::streamoff>(lumps[index].offset), std::ios::beg);
  return !stream.fail();
}

bool RESFILE::LoadData(int index, void** data) {
  if (!data || !SeekLump(index)) return false;
  const LUMP& lump = lumps[index];
  if (static_cast<uint64_t>(lump.offset) + lump.size > fileLength) return false;
  unsigned char* buffer = new (std::nothrow) unsigned char[lump.size];
  if (!buffer) return false;
  stream.read(reinterpret_cast<char*>(buffer), static_cast<std::streamsize>(lump.size));
  if (stream.gcount() != static_cast<std::streamsize>(lump.size)) {
    delete[] buffer;
    return false;
  }
  *data = buffer;
  return true;
}

bool LoadTexturesFromDataFile(const char* path, Texture** textures, int* count) {
  if (!textures || !count) return false;
  RESFILE* archive = new (std::nothrow) RESFILE;
  if (!archive) return false;
  if (!archive->Open(path)) {
    delete archive;
    return false;
  }
  const int lumpCount = static_cast<int>(archive->header.lumpCount);
  Texture* slots = new (std::nothrow) Texture[lumpCount];
  if (!slots) {
    delete archive;
    return false;
  }
  *count = lumpCount;
  *textures = slots;
  for (int i = 0; i < lumpCount; ++i) {
    const LUMP& lump = archive->lumps[i];
    if (lump.type != 1) continue;
    if (!archive->SeekLump(i) || !LoadTGA2(&slots[i], &archive->stream) ||
        !BuildTexture(&slots[i], lump.alphaMode)) {
      delete archive;
      return false;
    }
  }
  delete archive;
  return true;
}
