// BitmapImageRep: picture decoding through gdk-pixbuf's incremental loader,
// which tells the declared size before it allocates the picture, so that
// oversized pictures are refused before any decoding.

#include "platform/BitmapImageRep.h"

#include <gdk-pixbuf/gdk-pixbuf.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <initializer_list>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct UnrefObject {
  void operator()(void* object) const { g_object_unref(object); }
};
using PixbufRef = std::unique_ptr<GdkPixbuf, UnrefObject>;

// An incremental loader that is always closed before its last reference goes,
// as gdk-pixbuf requires; closing twice is harmless.
struct LoaderRef {
  GdkPixbufLoader* loader = nullptr;
  ~LoaderRef() {
    if (!loader) return;
    gdk_pixbuf_loader_close(loader, nullptr);
    g_object_unref(loader);
  }
};

struct ErrorSlot {
  GError* error = nullptr;
  ~ErrorSlot() { Clear(); }
  void Clear() {
    if (error) g_error_free(error);
    error = nullptr;
  }
};

struct FileDescriptor {
  int fd = -1;
  ~FileDescriptor() {
    if (fd >= 0) close(fd);
  }
};

bool SizeAllowed(long long width, long long height) {
  return width > 0 && height > 0 && width <= NSBitmapImageRep::kMaxSide &&
         height <= NSBitmapImageRep::kMaxSide && width * height <= NSBitmapImageRep::kMaxPixels;
}

// Follows the framing of a PNG or JPEG stream as it passes, to tell whether
// the file reaches its end marker: gdk-pixbuf hands out a PNG or JPEG cut
// short as a picture whose missing rows were never written. (Its GIF module
// already fails a GIF without its trailer.)
class EndWatch {
public:
  enum Format { kPng, kJpeg, kOther };
  explicit EndWatch(Format f) : format(f) {}
  bool Complete() const { return format == kOther || complete; }
  void Feed(const unsigned char* data, size_t size) {
    if (format == kPng)
      FeedPng(data, size);
    else if (format == kJpeg)
      FeedJpeg(data, size);
  }

private:
  // PNG: the signature, then chunks of length, type, data and checksum; the
  // file is whole once the IEND chunk's checksum has passed.
  void FeedPng(const unsigned char* data, size_t size) {
    while (size > 0 && !complete) {
      if (position < next) {
        uint64_t skip = next - position < size ? next - position : size;
        position += skip;
        data += skip;
        size -= static_cast<size_t>(skip);
        if (position == next && lastChunk) complete = true;
        continue;
      }
      header[filled++] = *data++;
      --size;
      ++position;
      if (filled == 8) {
        filled = 0;
        uint64_t length = (uint64_t{header[0]} << 24) | (uint64_t{header[1]} << 16) |
                          (uint64_t{header[2]} << 8) | header[3];
        next = position + length + 4;
        lastChunk = std::memcmp(header + 4, "IEND", 4) == 0;
      }
    }
  }

  // JPEG: marker segments with lengths, entropy-coded data after each start
  // of scan (where 0xFF is followed by 0x00 or a restart marker), and the
  // end-of-image marker, found at the top level only (not inside an embedded
  // thumbnail, which sits within a segment).
  void FeedJpeg(const unsigned char* data, size_t size) {
    const unsigned char* end = data + size;
    while (data < end && !complete) {
      switch (state) {
        case kBetween:  // expecting 0xFF; stray bytes are skipped as decoders do
          if (*data++ == 0xff) state = kMarker;
          break;
        case kEntropy: {
          const void* ff = std::memchr(data, 0xff, static_cast<size_t>(end - data));
          if (!ff) return;
          data = static_cast<const unsigned char*>(ff) + 1;
          state = kEntropyMarker;
          break;
        }
        case kMarker:
        case kEntropyMarker: {
          unsigned char code = *data++;
          if (code == 0xff) break;  // fill byte
          if (state == kEntropyMarker && (code == 0x00 || (code >= 0xd0 && code <= 0xd7))) {
            state = kEntropy;  // stuffed byte or restart marker inside a scan
          } else if (code == 0xd9) {
            complete = true;
          } else if (code == 0xd8 || code == 0x01 || (code >= 0xd0 && code <= 0xd7)) {
            state = kBetween;  // markers without a length
          } else {
            startOfScan = code == 0xda;
            state = kLengthHigh;
          }
          break;
        }
        case kLengthHigh:
          remaining = static_cast<uint64_t>(*data++) << 8;
          state = kLengthLow;
          break;
        case kLengthLow:
          remaining |= *data++;
          remaining = remaining >= 2 ? remaining - 2 : 0;
          state = kSegment;
          break;
        case kSegment: {
          uint64_t available = static_cast<uint64_t>(end - data);
          uint64_t skip = remaining < available ? remaining : available;
          data += skip;
          remaining -= skip;
          break;
        }
      }
      if (state == kSegment && remaining == 0) state = startOfScan ? kEntropy : kBetween;
    }
  }

  Format format;
  bool complete = false;
  // PNG
  uint64_t position = 0;
  uint64_t next = 8;  // the first chunk follows the signature
  unsigned char header[8] = {};
  int filled = 0;
  bool lastChunk = false;
  // JPEG
  enum State { kBetween, kMarker, kLengthHigh, kLengthLow, kSegment, kEntropy, kEntropyMarker };
  State state = kBetween;
  uint64_t remaining = 0;
  bool startOfScan = false;
};

struct LoadState {
  bool refused = false;
};

// Called with the size the file declares, before the picture is allocated.
// Setting the size to 0 × 0 makes the format module stop without allocating.
void OnSizePrepared(GdkPixbufLoader* loader, gint width, gint height, gpointer data) {
  if (SizeAllowed(width, height)) return;
  static_cast<LoadState*>(data)->refused = true;
  gdk_pixbuf_loader_set_size(loader, 0, 0);
}

// Called once the picture is allocated, before any row is decoded: rows that
// a damaged file never fills stay black instead of holding stale memory.
void OnAreaPrepared(GdkPixbufLoader* loader, gpointer) {
  if (GdkPixbuf* pixbuf = gdk_pixbuf_loader_get_pixbuf(loader)) gdk_pixbuf_fill(pixbuf, 0);
}

// The kind of picture a file holds, recognised by its signature.
enum class Kind { kNone, kPng, kJpeg, kGif, kWebp, kHeif, kAvif, kTiff, kBmp };

// Brands of an ISO media file ("ftyp" box) that name AVIF, and those that
// name HEIF with HEVC pictures; "mif1" and "msf1" say only that the file is
// HEIF-structured, whatever its codec.
bool IsAvifBrand(const unsigned char* b) {
  return std::memcmp(b, "avif", 4) == 0 || std::memcmp(b, "avis", 4) == 0;
}
bool IsHeifBrand(const unsigned char* b) {
  for (const char* brand : {"heic", "heix", "heim", "heis", "hevc", "hevx", "mif1", "msf1"})
    if (std::memcmp(b, brand, 4) == 0) return true;
  return false;
}

// An AVIF or HEIF file by its "ftyp" box: the major brand first, then the
// compatible ones (an AVIF file often says "mif1" first).
Kind IsoMediaKind(const unsigned char* head, size_t length) {
  if (length < 16 || std::memcmp(head + 4, "ftyp", 4) != 0) return Kind::kNone;
  if (IsAvifBrand(head + 8)) return Kind::kAvif;
  size_t box = (size_t{head[0]} << 24) | (size_t{head[1]} << 16) | (size_t{head[2]} << 8) | head[3];
  size_t end = box < length ? box : length;
  bool heif = IsHeifBrand(head + 8);
  for (size_t at = 16; at + 4 <= end; at += 4) {
    if (IsAvifBrand(head + at)) return Kind::kAvif;
    if (IsHeifBrand(head + at)) heif = true;
  }
  return heif ? Kind::kHeif : Kind::kNone;
}

// JPEG, PNG and GIF always; the photo formats only when asked for, so that
// no other module (such as SVG, which may read further files) ever sees
// picture-folder content.
Kind KindOf(const unsigned char* head, size_t length, NSBitmapImageRep::Formats formats) {
  static const unsigned char png[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
  if (length >= 8 && std::memcmp(head, png, 8) == 0) return Kind::kPng;
  if (length >= 3 && head[0] == 0xff && head[1] == 0xd8 && head[2] == 0xff) return Kind::kJpeg;
  if (length >= 6 && (std::memcmp(head, "GIF87a", 6) == 0 || std::memcmp(head, "GIF89a", 6) == 0))
    return Kind::kGif;
  if (formats != NSBitmapImageRep::kPhotoFormats) return Kind::kNone;
  if (length >= 12 && std::memcmp(head, "RIFF", 4) == 0 && std::memcmp(head + 8, "WEBP", 4) == 0)
    return Kind::kWebp;
  if (length >= 4 && (std::memcmp(head, "II*\0", 4) == 0 || std::memcmp(head, "MM\0*", 4) == 0))
    return Kind::kTiff;
  if (length >= 14 && head[0] == 'B' && head[1] == 'M') return Kind::kBmp;
  return IsoMediaKind(head, length);
}

// The name of the installed gdk-pixbuf module that reads `kind`: the
// modules that may read it are tried in order (AVIF has a module of its own,
// libavif's, and libheif's module reads it too). Null when none is there.
const char* InstalledModule(Kind kind) {
  static const char* const kNone[] = {nullptr};
  static const char* const kPng[] = {"png", nullptr};
  static const char* const kJpeg[] = {"jpeg", nullptr};
  static const char* const kGif[] = {"gif", nullptr};
  static const char* const kWebp[] = {"webp", nullptr};
  static const char* const kHeif[] = {"heif/avif", "heif", nullptr};
  static const char* const kAvif[] = {"avif", "heif/avif", nullptr};
  static const char* const kTiff[] = {"tiff", nullptr};
  static const char* const kBmp[] = {"bmp", nullptr};
  const char* const* modules = kNone;
  switch (kind) {
    case Kind::kNone: break;
    case Kind::kPng: modules = kPng; break;
    case Kind::kJpeg: modules = kJpeg; break;
    case Kind::kGif: modules = kGif; break;
    case Kind::kWebp: modules = kWebp; break;
    case Kind::kHeif: modules = kHeif; break;
    case Kind::kAvif: modules = kAvif; break;
    case Kind::kTiff: modules = kTiff; break;
    case Kind::kBmp: modules = kBmp; break;
  }
  if (!modules[0]) return nullptr;
  GSList* formats = gdk_pixbuf_get_formats();
  const char* found = nullptr;
  for (; *modules && !found; ++modules) {
    for (GSList* f = formats; f && !found; f = f->next) {
      gchar* name = gdk_pixbuf_format_get_name(static_cast<GdkPixbufFormat*>(f->data));
      if (name && std::strcmp(name, *modules) == 0) found = *modules;
      g_free(name);
    }
  }
  g_slist_free(formats);
  return found;
}

// Reads as much as fits into `buffer`, retrying interrupted reads; -1 on error.
ssize_t ReadFull(int fd, unsigned char* buffer, size_t size) {
  size_t got = 0;
  while (got < size) {
    ssize_t n = read(fd, buffer + got, size - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) break;
    got += static_cast<size_t>(n);
  }
  return static_cast<ssize_t>(got);
}

// Decodes the whole file into a pixbuf (one reference), or null; null as
// well once *stop turns true.
PixbufRef Decode(const char* path, const std::atomic<bool>* stop,
                 NSBitmapImageRep::Formats formats) {
  // Non-blocking open, so that a FIFO in the folder cannot hang us; only
  // regular files are read.
  FileDescriptor file;
  file.fd = open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (file.fd < 0) return nullptr;
  struct stat info;
  if (fstat(file.fd, &info) != 0 || !S_ISREG(info.st_mode)) return nullptr;

  static constexpr size_t kChunk = 64 * 1024;
  std::unique_ptr<unsigned char[]> buffer(new (std::nothrow) unsigned char[kChunk]);
  if (!buffer) return nullptr;
  ssize_t length = ReadFull(file.fd, buffer.get(), kChunk);
  if (length <= 0) return nullptr;
  const Kind kind = KindOf(buffer.get(), static_cast<size_t>(length), formats);

  const char* module = InstalledModule(kind);
  if (!module) return nullptr;
  ErrorSlot failure;
  LoaderRef loader;
  loader.loader = gdk_pixbuf_loader_new_with_type(module, &failure.error);
  if (!loader.loader) return nullptr;
  LoadState state;
  g_signal_connect(loader.loader, "size-prepared", G_CALLBACK(OnSizePrepared), &state);
  // GIF frames are composed by gdk-pixbuf on a cleared picture of its own;
  // the HEIF and AVIF modules decode the whole picture before they announce
  // it, so clearing it then would black it out.
  if (kind != Kind::kGif && kind != Kind::kHeif && kind != Kind::kAvif)
    g_signal_connect(loader.loader, "area-prepared", G_CALLBACK(OnAreaPrepared), nullptr);
  EndWatch watch(kind == Kind::kPng    ? EndWatch::kPng
                 : kind == Kind::kJpeg ? EndWatch::kJpeg
                                       : EndWatch::kOther);

  auto stopped = [stop] { return stop && stop->load(std::memory_order_relaxed); };
  while (length > 0) {
    if (stopped()) return nullptr;
    if (!gdk_pixbuf_loader_write(loader.loader, buffer.get(), static_cast<gsize>(length),
                                 &failure.error))
      return nullptr;
    if (state.refused) return nullptr;
    watch.Feed(buffer.get(), static_cast<size_t>(length));
    length = ReadFull(file.fd, buffer.get(), kChunk);
  }
  if (length < 0 || stopped()) return nullptr;
  // Some damage shows only when the loader is closed; a damaged or cut file
  // counts as unreadable.
  if (!gdk_pixbuf_loader_close(loader.loader, &failure.error) || state.refused) return nullptr;
  if (!watch.Complete()) return nullptr;

  GdkPixbuf* loaded = gdk_pixbuf_loader_get_pixbuf(loader.loader);
  if (!loaded) return nullptr;
  // Turned upright as the file's orientation tag says: a new pixbuf, or a new
  // reference to the same one when there is nothing to turn. Only the JPEG
  // module sets the tag; the HEIF and AVIF modules turn their pictures
  // themselves and set none, so nothing is turned twice.
  return PixbufRef(gdk_pixbuf_apply_embedded_orientation(loaded));
}

}  // namespace

std::unique_ptr<NSBitmapImageRep> NSBitmapImageRep::imageRepWithContentsOfFile(
    const char* path, const std::atomic<bool>* stop, Formats formats) {
  if (!path) return nullptr;
  PixbufRef pixbuf = Decode(path, stop, formats);
  if (!pixbuf) return nullptr;

  // The layout promised to callers; anything else is refused rather than
  // misread.
  GdkPixbuf* p = pixbuf.get();
  int channels = gdk_pixbuf_get_n_channels(p);
  bool alpha = gdk_pixbuf_get_has_alpha(p);
  int width = gdk_pixbuf_get_width(p);
  int height = gdk_pixbuf_get_height(p);
  int stride = gdk_pixbuf_get_rowstride(p);
  if (gdk_pixbuf_get_colorspace(p) != GDK_COLORSPACE_RGB ||
      gdk_pixbuf_get_bits_per_sample(p) != 8 || channels != (alpha ? 4 : 3) ||
      !SizeAllowed(width, height) || stride < width * channels)
    return nullptr;
  long long needed =
      static_cast<long long>(height - 1) * stride + static_cast<long long>(width) * channels;
  if (static_cast<long long>(gdk_pixbuf_get_byte_length(p)) < needed) return nullptr;

  std::unique_ptr<NSBitmapImageRep> image(new (std::nothrow) NSBitmapImageRep());
  if (!image) return nullptr;
  image->data = gdk_pixbuf_read_pixels(p);
  image->width = width;
  image->height = height;
  image->stride = stride;
  image->bits = channels * 8;
  image->pixbuf = pixbuf.release();
  return image;
}

std::string NSBitmapImageRep::ModuleFor(const char* path, Formats formats) {
  FileDescriptor file;
  file.fd = path ? open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK) : -1;
  if (file.fd < 0) return std::string();
  unsigned char head[64];
  ssize_t length = ReadFull(file.fd, head, sizeof head);
  if (length <= 0) return std::string();
  const char* module = InstalledModule(KindOf(head, static_cast<size_t>(length), formats));
  return module ? module : "";
}

NSBitmapImageRep::~NSBitmapImageRep() {
  if (pixbuf) g_object_unref(pixbuf);
}
