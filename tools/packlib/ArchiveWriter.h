// ArchiveWriter: assembles "KAMB" resource archives and writes files whole.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct PackLump {
  int32_t type;       // 1 for a TGA image
  int32_t alphaMode;  // given to BuildTexture when the lump is an image
  std::string data;   // the lump's bytes
};

// The archive's bytes: the 24-byte header, the lumps' data in order, then the
// directory; the check value matches the total length. False, with a reason in
// *error, when the archive would not fit the format's 32-bit offsets.
bool BuildArchive(const std::vector<PackLump>& lumps, std::string* archive, std::string* error);

// Writes `bytes` to `path` so that the file appears complete or not at all: a
// temporary file beside it, flushed to disk, then renamed over it. False, with
// a reason in *error, leaving no temporary file behind.
bool WriteFileWhole(const std::string& path, const std::string& bytes, std::string* error);

// The whole content of a file. False, with a reason in *error, when it cannot
// be read.
bool ReadFileWhole(const std::string& path, std::string* bytes, std::string* error);
