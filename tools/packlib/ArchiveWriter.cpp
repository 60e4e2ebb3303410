// ArchiveWriter: "KAMB" archives and whole-file writes.

#include "ArchiveWriter.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr uint64_t kHeaderBytes = 24;
constexpr uint64_t kEntryBytes = 28;

void Put32(std::string* s, uint64_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) (*s)[at + i] = static_cast<char>((v >> (8 * i)) & 0xff);
}

void Append32(std::string* s, uint32_t v) {
  for (int i = 0; i < 4; ++i) s->push_back(static_cast<char>((v >> (8 * i)) & 0xff));
}

std::string Reason(const std::string& what, const std::string& path) {
  return what + " " + path + ": " + std::strerror(errno);
}

}  // namespace

bool BuildArchive(const std::vector<PackLump>& lumps, std::string* archive, std::string* error) {
  uint64_t total = kHeaderBytes + kEntryBytes * lumps.size();
  for (const PackLump& lump : lumps) total += lump.data.size();
  if (total > UINT32_MAX || lumps.size() > 0x7fffffffu) {
    *error = "archive would be larger than 4 GiB";
    return false;
  }
  std::string out(kHeaderBytes, '\0');
  std::memcpy(&out[0], "KAMB", 4);
  std::vector<uint32_t> offsets;
  for (const PackLump& lump : lumps) {
    offsets.push_back(static_cast<uint32_t>(out.size()));
    out += lump.data;
  }
  const uint32_t dirOffset = static_cast<uint32_t>(out.size());
  for (size_t i = 0; i < lumps.size(); ++i) {
    Append32(&out, static_cast<uint32_t>(lumps[i].data.size()));
    Append32(&out, offsets[i]);
    Append32(&out, static_cast<uint32_t>(lumps[i].type));
    Append32(&out, static_cast<uint32_t>(lumps[i].alphaMode));
    out.append(12, '\0');
  }
  Put32(&out, 12, static_cast<uint32_t>(lumps.size()));
  Put32(&out, 16, ~static_cast<uint32_t>(out.size()));
  Put32(&out, 20, dirOffset);
  *archive = std::move(out);
  return true;
}

bool WriteFileWhole(const std::string& path, const std::string& bytes, std::string* error) {
  std::string temporary = path + ".XXXXXX";
  int fd = mkstemp(&temporary[0]);
  if (fd < 0) {
    *error = Reason("cannot create a temporary file beside", path);
    return false;
  }
  size_t written = 0;
  while (written < bytes.size()) {
    ssize_t n = write(fd, bytes.data() + written, bytes.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      *error = Reason("cannot write", temporary);
      close(fd);
      unlink(temporary.c_str());
      return false;
    }
    written += static_cast<size_t>(n);
  }
  // mkstemp makes the file private; an archive is ordinary data.
  mode_t mask = umask(0);
  umask(mask);
  if (fchmod(fd, 0666 & ~mask) != 0 || fsync(fd) != 0) {
    *error = Reason("cannot finish", temporary);
    close(fd);
    unlink(temporary.c_str());
    return false;
  }
  if (close(fd) != 0) {
    *error = Reason("cannot finish", temporary);
    unlink(temporary.c_str());
    return false;
  }
  if (std::rename(temporary.c_str(), path.c_str()) != 0) {
    *error = Reason("cannot write", path);
    unlink(temporary.c_str());
    return false;
  }
  return true;
}

bool ReadFileWhole(const std::string& path, std::string* bytes, std::string* error) {
  FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) {
    *error = Reason("cannot open", path);
    return false;
  }
  std::string out;
  char buffer[65536];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) out.append(buffer, n);
  bool failed = std::ferror(file) != 0;
  std::fclose(file);
  if (failed) {
    *error = Reason("cannot read", path);
    return false;
  }
  *bytes = std::move(out);
  return true;
}
