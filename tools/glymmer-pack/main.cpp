// glymmer-pack: resource archives of TGA images for people who make their own
// art packs.
//
//   glymmer-pack create ARCHIVE IMAGE.tga[:ALPHAMODE]...
//   glymmer-pack list ARCHIVE
//   glymmer-pack extract ARCHIVE INDEX FILE
//
// Every image is checked with the same reader that the screen saver uses
// before it is packed. Errors are one line on standard error and exit status 1
// (2 for a wrong command line); an archive or extracted file is written whole
// or not at all.

#include "ArchiveWriter.h"

#include "platform/gtk/Alert.h"
#include "textures/ResFile.h"
#include "textures/TGALoader.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace {

const char kUsage[] =
    "usage: glymmer-pack create ARCHIVE IMAGE.tga[:ALPHAMODE]...\n"
    "       glymmer-pack list ARCHIVE\n"
    "       glymmer-pack extract ARCHIVE INDEX FILE\n"
    "ALPHAMODE: 0 opaque (the default), 1 colour key (the first pixel's colour is\n"
    "transparent), 2 brightness (alpha is the brightest of red, green and blue).\n"
    "Images are TGA type 2 or 10, 24 or 32 bits, no ID field, no colour map.\n";

int Fail(const std::string& message) {
  std::fprintf(stderr, "glymmer-pack: %s\n", message.c_str());
  return 1;
}

int Usage(const char* problem) {
  if (problem) std::fprintf(stderr, "glymmer-pack: %s\n", problem);
  std::fputs(kUsage, stderr);
  return 2;
}

// A whole decimal integer in [low, high], nothing else.
bool ParseInt(const std::string& text, long low, long high, long* value) {
  if (text.empty()) return false;
  errno = 0;
  char* end = nullptr;
  long v = std::strtol(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || v < low || v > high) return false;
  for (char c : text) {
    if (c != '-' && (c < '0' || c > '9')) return false;  // no spaces or '+'
  }
  *value = v;
  return true;
}

// The alert the reader raised for the last refusal, as text.
std::string LastAlert() {
  std::vector<AlertRecord> shown = AlertsShown();
  if (shown.empty()) return "not a readable image";
  std::string message = shown.back().message;
  while (!message.empty() && message.back() == ' ') message.pop_back();
  return message;
}

// Why RESFILE::Open refused `path`, worked out from the file itself.
std::string WhyNotAnArchive(const std::string& path) {
  std::string bytes, error;
  if (!ReadFileWhole(path, &bytes, &error)) return error;
  if (bytes.size() < kResHeaderBytes || bytes.compare(0, 4, "KAMB") != 0) {
    return path + ": not a Glymmer archive";
  }
  auto at = [&](size_t i) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(bytes.data()) + i;
    return static_cast<uint32_t>(p[0] | (p[1] << 8) | (p[2] << 16) |
                                 (static_cast<uint32_t>(p[3]) << 24));
  };
  const uint32_t count = at(12), check = at(16), dirOffset = at(20);
  if (check != ~static_cast<uint32_t>(bytes.size())) {
    return path + ": wrong check value (the archive is damaged or cut short)";
  }
  if (count > 0x7fffffffu ||
      static_cast<uint64_t>(dirOffset) + static_cast<uint64_t>(count) * kLumpBytes > bytes.size()) {
    return path + ": the directory does not lie inside the file";
  }
  return path + ": cannot read the directory";
}

bool OpenArchive(RESFILE* archive, const std::string& path, std::string* error) {
  if (archive->Open(path.c_str())) return true;
  *error = WhyNotAnArchive(path);
  return false;
}

int Create(int argc, char** argv) {
  if (argc < 4) return Usage("create needs an archive and at least one image");
  const std::string archivePath = argv[2];
  std::vector<PackLump> lumps;
  for (int i = 3; i < argc; ++i) {
    std::string arg = argv[i];
    std::string path = arg;
    long alphaMode = 0;
    size_t colon = arg.rfind(':');
    if (colon != std::string::npos && colon + 1 < arg.size() &&
        arg.find_first_not_of("-0123456789", colon + 1) == std::string::npos) {
      path = arg.substr(0, colon);
      if (!ParseInt(arg.substr(colon + 1), 0, 2, &alphaMode)) {
        return Fail(arg + ": alpha mode must be 0 (opaque), 1 (colour key) or 2 (brightness)");
      }
    }
    std::string bytes, error;
    if (!ReadFileWhole(path, &bytes, &error)) return Fail(error);
    ClearAlertsShown();
    Texture image;
    if (!LoadTGA(&image, path.c_str())) return Fail(path + ": " + LastAlert());
    lumps.push_back(PackLump{1, static_cast<int32_t>(alphaMode), std::move(bytes)});
  }
  std::string archive, error;
  if (!BuildArchive(lumps, &archive, &error)) return Fail(archivePath + ": " + error);
  if (!WriteFileWhole(archivePath, archive, &error)) return Fail(error);
  return 0;
}

int List(int argc, char** argv) {
  if (argc != 3) return Usage("list needs exactly one archive");
  const std::string path = argv[2];
  RESFILE archive;
  std::string error;
  if (!OpenArchive(&archive, path, &error)) return Fail(error);
  int unreadable = -1;
  const uint32_t count = archive.header.lumpCount;
  for (uint32_t i = 0; i < count; ++i) {
    const LUMP& lump = archive.lumps[i];
    std::printf("%u: type %d, alpha mode %d, %u bytes at offset %u", i, lump.type, lump.alphaMode,
                lump.size, lump.offset);
    if (lump.type == 1) {
      ClearAlertsShown();
      Texture image;
      if (archive.SeekLump(static_cast<int>(i)) && LoadTGA2(&image, &archive.stream)) {
        std::printf(", image %ux%ux%u", image.width, image.height, image.bitsPerPixel);
      } else {
        std::printf(", unreadable image: %s", LastAlert().c_str());
        if (unreadable < 0) unreadable = static_cast<int>(i);
      }
    }
    std::printf("\n");
  }
  std::fflush(stdout);
  if (unreadable >= 0) {
    return Fail(path + ": lump " + std::to_string(unreadable) + " is not a readable image");
  }
  return 0;
}

int Extract(int argc, char** argv) {
  if (argc != 5) return Usage("extract needs an archive, an index and a file");
  const std::string path = argv[2];
  const std::string out = argv[4];
  long index = 0;
  if (!ParseInt(argv[3], 0, LONG_MAX, &index)) {
    return Fail(std::string(argv[3]) + ": the index must be a whole number from 0");
  }
  RESFILE archive;
  std::string error;
  if (!OpenArchive(&archive, path, &error)) return Fail(error);
  const uint32_t count = archive.header.lumpCount;
  if (static_cast<unsigned long>(index) >= count) {
    return Fail("index " + std::to_string(index) + " is out of range: " + path + " has " +
                std::to_string(count) + (count == 1 ? " lump" : " lumps"));
  }
  void* data = nullptr;
  if (!archive.LoadData(static_cast<int>(index), &data)) {
    return Fail(path + ": lump " + std::to_string(index) + " does not lie inside the file");
  }
  const uint32_t size = archive.lumps[index].size;
  std::string bytes(static_cast<const char*>(data), size);
  delete[] static_cast<unsigned char*>(data);
  if (!WriteFileWhole(out, bytes, &error)) return Fail(error);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  // The reader's alerts become this tool's own one-line errors.
  SetAlertEcho(false);
  if (argc < 2) return Usage(nullptr);
  const std::string command = argv[1];
  if (command == "-h" || command == "--help" || command == "help") {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (command == "create") return Create(argc, argv);
  if (command == "list") return List(argc, argv);
  if (command == "extract") return Extract(argc, argv);
  return Usage(("unknown command: " + command).c_str());
}
