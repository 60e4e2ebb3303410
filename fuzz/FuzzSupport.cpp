// FuzzSupport: in-memory input files and outcome checks.

#include "FuzzSupport.h"

#include "platform/gtk/Alert.h"

#include <GL/gl.h>

#include <sys/mman.h>
#include <unistd.h>

const std::string& InputAsFile(const uint8_t* data, size_t size) {
  static int fd = memfd_create("glymmer-fuzz-input", 0);
  static const std::string path = "/proc/self/fd/" + std::to_string(fd);
  if (fd < 0) __builtin_trap();
  if (ftruncate(fd, 0) != 0) __builtin_trap();
  size_t done = 0;
  while (done < size) {
    ssize_t n = pwrite(fd, data + done, size - done, static_cast<off_t>(done));
    if (n <= 0) __builtin_trap();
    done += static_cast<size_t>(n);
  }
  ClearAlertsShown();
  return path;
}

void QuietAlerts() { SetAlertEcho(false); }

void CheckReadOutcome(bool ok, const Texture& t) {
  const size_t alerts = AlertsShown().size();
  if (!ok) {
    if (alerts != 1 || t.pixels != nullptr) __builtin_trap();
    return;
  }
  if (alerts != 0 || t.pixels == nullptr || t.width == 0 || t.height == 0) __builtin_trap();
  if (t.bitsPerPixel != 24 && t.bitsPerPixel != 32) __builtin_trap();
  if (t.pixelFormat != (t.bitsPerPixel == 24 ? GL_RGB : GL_RGBA)) __builtin_trap();
  const size_t bytes = static_cast<size_t>(t.width) * t.height * (t.bitsPerPixel / 8);
  volatile unsigned sum = 0;
  for (size_t i = 0; i < bytes; ++i) sum = sum + t.pixels[i];
  (void)sum;
}
