// ImageFile: PNG and JPEG output through gdk-pixbuf.

#include "platform/ImageFile.h"

#include <gdk-pixbuf/gdk-pixbuf.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

bool SaveAtomically(GdkPixbuf* pixbuf, const char* path, const char* type, const char* key,
                    const char* value) {
  std::string temporary = std::string(path) + ".part";
  GError* error = nullptr;
  gboolean ok = gdk_pixbuf_save(pixbuf, temporary.c_str(), type, &error, key, value, nullptr);
  if (!ok) {
    std::fprintf(stderr, "glymmer: cannot write %s: %s\n", path,
                 error ? error->message : "unknown error");
    if (error) g_error_free(error);
    std::remove(temporary.c_str());
    return false;
  }
  if (std::rename(temporary.c_str(), path) != 0) {
    std::perror(path);
    std::remove(temporary.c_str());
    return false;
  }
  return true;
}

}  // namespace

bool WritePNG(const char* path, int width, int height, const unsigned char* rgba,
              bool bottomRowFirst) {
  if (width <= 0 || height <= 0 || !rgba) return false;
  GdkPixbuf* pixbuf = gdk_pixbuf_new(GDK_COLORSPACE_RGB, TRUE, 8, width, height);
  if (!pixbuf) return false;
  int stride = gdk_pixbuf_get_rowstride(pixbuf);
  guchar* out = gdk_pixbuf_get_pixels(pixbuf);
  for (int y = 0; y < height; ++y) {
    int sourceRow = bottomRowFirst ? height - 1 - y : y;
    std::memcpy(out + static_cast<size_t>(y) * stride,
                rgba + static_cast<size_t>(sourceRow) * width * 4, static_cast<size_t>(width) * 4);
  }
  bool ok = SaveAtomically(pixbuf, path, "png", "compression", "6");
  g_object_unref(pixbuf);
  return ok;
}

bool WriteJPEG(const char* path, int width, int height, const unsigned char* rgb, int quality) {
  if (width <= 0 || height <= 0 || !rgb) return false;
  GdkPixbuf* pixbuf = gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, width, height);
  if (!pixbuf) return false;
  int stride = gdk_pixbuf_get_rowstride(pixbuf);
  guchar* out = gdk_pixbuf_get_pixels(pixbuf);
  for (int y = 0; y < height; ++y)
    std::memcpy(out + static_cast<size_t>(y) * stride, rgb + static_cast<size_t>(y) * width * 3,
                static_cast<size_t>(width) * 3);
  char q[8];
  std::snprintf(q, sizeof q, "%d", quality < 1 ? 1 : quality > 100 ? 100 : quality);
  bool ok = SaveAtomically(pixbuf, path, "jpeg", "quality", q);
  g_object_unref(pixbuf);
  return ok;
}
