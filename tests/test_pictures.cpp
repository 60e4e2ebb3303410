// The picture source: folder scanning and random choice on real folders, the
// bitmap decoder and the colour grid on real PNG, JPEG and GIF files written
// here byte by byte, and the 512 × 512 picture texture on a real GL context.

#include "support/TestSupport.h"

#include "PngWriter.h"
#include "effect/Code.h"
#include "host/Settings.h"
#include "pictures/Library.h"
#include "pictures/Pics.h"
#include "platform/BitmapImageRep.h"
#include "platform/ImageFile.h"
#include "platform/Verbose.h"
#include "textures/Texture.h"

#include <GL/gl.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <sched.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

// ---------------------------------------------------------------------------
// Writing test pictures

void Put32LE(std::string& s, uint32_t v) {
  for (int shift = 0; shift < 32; shift += 8) s.push_back(static_cast<char>((v >> shift) & 0xff));
}
void Put16LE(std::string& s, unsigned v) {
  s.push_back(static_cast<char>(v & 0xff));
  s.push_back(static_cast<char>((v >> 8) & 0xff));
}

// Rows of packed sample bytes, each behind filter type 0.
std::string Scanlines(const std::vector<std::string>& rows) {
  std::string out;
  for (const std::string& row : rows) out += '\0' + row;
  return out;
}

std::string Bytes(std::initializer_list<int> values) {
  std::string out;
  for (int v : values) out.push_back(static_cast<char>(v));
  return out;
}

struct RGB {
  int r, g, b;
};
const RGB kRed{255, 0, 0}, kGreen{0, 255, 0}, kBlue{0, 0, 255}, kWhite{255, 255, 255};

// 8-bit RGB picture, rows top first.
std::string RgbPng(int width, const std::vector<RGB>& pixels, bool interlaced = false) {
  int height = static_cast<int>(pixels.size()) / width;
  auto at = [&](int x, int y) {
    const RGB& p = pixels[static_cast<size_t>(y) * width + x];
    return Bytes({p.r, p.g, p.b});
  };
  std::string scanlines;
  if (!interlaced) {
    for (int y = 0; y < height; ++y) {
      scanlines += '\0';
      for (int x = 0; x < width; ++x) scanlines += at(x, y);
    }
  } else {
    // Adam7: seven sub-images, each row behind its own filter byte.
    static const int pass[7][4] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                                   {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};
    for (const auto& p : pass) {
      if (p[0] >= width) continue;
      for (int y = p[1]; y < height; y += p[3]) {
        scanlines += '\0';
        for (int x = p[0]; x < width; x += p[2]) scanlines += at(x, y);
      }
    }
  }
  return EncodePNG({static_cast<uint32_t>(width), static_cast<uint32_t>(height), 8, 2, interlaced},
             scanlines);
}

// A GIF of up to four colours, one frame per index list (all full size).
std::string Gif(int width, int height, const std::vector<RGB>& palette,
                const std::vector<std::vector<int>>& frames) {
  std::string out = "GIF89a";
  Put16LE(out, static_cast<unsigned>(width));
  Put16LE(out, static_cast<unsigned>(height));
  out += Bytes({0x91, 0, 0});  // global table of 4 colours
  for (int i = 0; i < 4; ++i) {
    RGB c = i < static_cast<int>(palette.size()) ? palette[i] : RGB{0, 0, 0};
    out += Bytes({c.r, c.g, c.b});
  }
  for (const std::vector<int>& indices : frames) {
    out += Bytes({0x21, 0xf9, 4, 0x04, 10, 0, 0, 0});  // 0.1 s, keep the frame
    out += Bytes({0x2c, 0, 0, 0, 0});
    Put16LE(out, static_cast<unsigned>(width));
    Put16LE(out, static_cast<unsigned>(height));
    out += Bytes({0, 2});  // no local table; minimum code size 2
    // 3-bit codes: a clear code before every second pixel keeps the code
    // width from growing.
    std::string data;
    uint32_t accumulator = 0;
    int filled = 0;
    auto emit = [&](int c) {
      accumulator |= static_cast<uint32_t>(c) << filled;
      filled += 3;
      while (filled >= 8) {
        data.push_back(static_cast<char>(accumulator & 0xff));
        accumulator >>= 8;
        filled -= 8;
      }
    };
    for (size_t i = 0; i < indices.size(); ++i) {
      if (i % 2 == 0) emit(4);
      emit(indices[i]);
    }
    emit(5);
    if (filled) data.push_back(static_cast<char>(accumulator & 0xff));
    for (size_t at = 0; at < data.size(); at += 255) {
      size_t n = std::min<size_t>(255, data.size() - at);
      out += static_cast<char>(n);
      out += data.substr(at, n);
    }
    out += '\0';
  }
  out += ';';
  return out;
}

// A JPEG written by the platform's encoder, rows top first.
std::string Jpeg(const TempDir& dir, int width, int height, const std::vector<RGB>& pixels,
                 int quality = 95) {
  std::vector<unsigned char> rgb;
  for (const RGB& p : pixels) {
    rgb.push_back(static_cast<unsigned char>(p.r));
    rgb.push_back(static_cast<unsigned char>(p.g));
    rgb.push_back(static_cast<unsigned char>(p.b));
  }
  std::string path = dir.File("encoder-out.jpg");
  if (!WriteJPEG(path.c_str(), width, height, rgb.data(), quality)) return "";
  std::string bytes = ReadFileBytes(path);
  std::remove(path.c_str());
  return bytes;
}

// The same JPEG with an Exif orientation tag, as cameras write it.
std::string WithOrientation(const std::string& jpeg, int orientation) {
  std::string exif = std::string("Exif\0\0", 6) + "MM" + Bytes({0, 42, 0, 0, 0, 8}) +
                     Bytes({0, 1, 0x01, 0x12, 0, 3, 0, 0, 0, 1, 0, orientation, 0, 0, 0, 0, 0, 0});
  std::string segment = Bytes({0xff, 0xe1});
  segment += static_cast<char>((exif.size() + 2) >> 8);
  segment += static_cast<char>((exif.size() + 2) & 0xff);
  segment += exif;
  size_t at = 2;  // after the start-of-image marker, and after JFIF if present
  if (jpeg.size() > 4 && static_cast<unsigned char>(jpeg[2]) == 0xff &&
      static_cast<unsigned char>(jpeg[3]) == 0xe0)
    at = 4 + ((static_cast<unsigned char>(jpeg[4]) << 8) | static_cast<unsigned char>(jpeg[5]));
  return jpeg.substr(0, at) + segment + jpeg.substr(at);
}

std::vector<RGB> Quadrants(int side, RGB topLeft, RGB topRight, RGB bottomLeft, RGB bottomRight) {
  std::vector<RGB> pixels;
  for (int y = 0; y < side; ++y)
    for (int x = 0; x < side; ++x) {
      bool top = y < side / 2, left = x < side / 2;
      pixels.push_back(top ? (left ? topLeft : topRight) : (left ? bottomLeft : bottomRight));
    }
  return pixels;
}

// ---------------------------------------------------------------------------
// Reading results

struct Grid {
  std::unique_ptr<PicArray> cells;
  int width = -1;
  int height = -1;
  bool ok() const { return cells != nullptr; }
  // Colour bytes of column x, row y counted from the bottom.
  RGB At(int x, int y) const {
    const VECTOR3D v = cells->Colour(x, y);
    return RGB{static_cast<int>(std::lround(v.x * 255)), static_cast<int>(std::lround(v.y * 255)),
               static_cast<int>(std::lround(v.z * 255))};
  }
};

Grid Decode(const std::string& path) {
  Grid g;
  g.cells.reset(ReturnPicArray(path.c_str(), &g.width, &g.height));
  return g;
}

std::string Text(RGB c) {
  return "(" + std::to_string(c.r) + ", " + std::to_string(c.g) + ", " + std::to_string(c.b) + ")";
}

::testing::AssertionResult SameColour(RGB expected, RGB got, int tolerance = 0) {
  if (std::abs(expected.r - got.r) <= tolerance && std::abs(expected.g - got.g) <= tolerance &&
      std::abs(expected.b - got.b) <= tolerance)
    return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "expected " << Text(expected) << ", got " << Text(got);
}

// Names in the order the folder listing gives them.
std::vector<std::string> ListingOrder(const std::string& folder) {
  std::vector<std::string> names;
  DIR* dir = opendir(folder.c_str());
  if (!dir) return names;
  while (struct dirent* entry = readdir(dir)) names.push_back(entry->d_name);
  closedir(dir);
  return names;
}

int OpenDescriptors() {
  return static_cast<int>(ListingOrder("/proc/self/fd").size());
}

bool EndsWith(const std::string& name, const std::string& tail) {
  if (name.size() <= tail.size()) return false;
  std::string lower = name;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower.compare(lower.size() - tail.size(), tail.size(), tail) == 0;
}

}  // namespace

// ---------------------------------------------------------------------------
// Folder scanning and random choice

TEST(PictureFolder, RanksJpgThenGifThenPngInListingOrderAndDrawsMapToRanks) {
  TempDir dir;
  for (const char* name : {"zebra.png", "alpha.jpg", "notes.txt", "middle.JPG", "photo.jpeg",
                           "scan.tif"})
    dir.Write(name, "x");

  // The ranking the folder should give: its ".jpg" entries in listing order,
  // then its ".png" entries.
  std::vector<std::string> ranking;
  for (const char* tail : {".jpg", ".gif", ".png"})
    for (const std::string& name : ListingOrder(dir.Path()))
      if (EndsWith(name, tail)) ranking.push_back(name);
  ASSERT_EQ(3u, ranking.size());

  const char* folder = dir.Path().c_str();
  EXPECT_EQ(2, CountFiles(folder, ".jpg"));
  EXPECT_EQ(0, CountFiles(folder, ".gif"));
  EXPECT_EQ(1, CountFiles(folder, ".png"));

  char name[1024];
  ASSERT_TRUE(FindNthFile(folder, name, ".jpg", 0));
  EXPECT_EQ(ranking[0], name);
  ASSERT_TRUE(FindNthFile(folder, name, ".jpg", 1));
  EXPECT_EQ(ranking[1], name);
  ASSERT_TRUE(FindNthFile(folder, name, ".png", 0));
  EXPECT_EQ(ranking[2], name);
  EXPECT_FALSE(FindNthFile(folder, name, ".jpg", 2)) << "n equal to the count has no match";
  EXPECT_FALSE(FindNthFile(folder, name, ".gif", 0)) << "no .gif entries";

  // One rand() draw, reduced modulo 3, picks the rank.
  bool seen[3] = {false, false, false};
  for (unsigned seed = 1; seed <= 60; ++seed) {
    std::srand(seed);
    int draw = std::rand() % 3;
    std::srand(seed);
    ASSERT_TRUE(ChooseRandomImageFile(folder, name));
    EXPECT_EQ(ranking[static_cast<size_t>(draw)], name) << "draw " << draw << ", seed " << seed;
    seen[draw] = true;
  }
  EXPECT_TRUE(seen[0] && seen[1] && seen[2]) << "the seeds should reach every rank";
}

TEST(PictureFolder, MatchesEndingsInAnyCaseOnlyWhenLongerThanTheExtension) {
  TempDir dir;
  for (const char* name : {".png", ".jpg", ".GIF", "x.png", "PHOTO.JPG", "Holiday.Png", "scan.GiF",
                           "jpg", "pngfile", "pic.jpeg", "a.jpg.txt"})
    dir.Write(name, "x");
  const char* folder = dir.Path().c_str();
  EXPECT_EQ(1, CountFiles(folder, ".jpg"));
  EXPECT_EQ(1, CountFiles(folder, ".gif"));
  EXPECT_EQ(2, CountFiles(folder, ".png"));

  char name[1024];
  ASSERT_TRUE(FindNthFile(folder, name, ".jpg", 0));
  EXPECT_STREQ("PHOTO.JPG", name) << "the name comes back as listed, not lower-cased";
  ASSERT_TRUE(FindNthFile(folder, name, ".gif", 0));
  EXPECT_STREQ("scan.GiF", name);
}

TEST(PictureFolder, CountsSubFoldersAndHiddenEntriesThatEndLikePictures) {
  TempDir dir;
  ASSERT_EQ(0, mkdir(dir.File("summer.gif").c_str(), 0755));
  dir.Write(".hidden.jpg", "x");
  const char* folder = dir.Path().c_str();
  EXPECT_EQ(1, CountFiles(folder, ".gif"));
  EXPECT_EQ(1, CountFiles(folder, ".jpg"));

  char name[1024];
  ASSERT_TRUE(FindNthFile(folder, name, ".gif", 0));
  EXPECT_STREQ("summer.gif", name);
  // Choosing it is possible; decoding it fails without harm.
  Grid g = Decode(dir.File("summer.gif"));
  EXPECT_FALSE(g.ok());
  EXPECT_EQ(-1, g.width) << "width must stay untouched on failure";
  EXPECT_EQ(-1, g.height);
}

TEST(PictureFolder, EmptyAndMissingFoldersHoldNoPictures) {
  TempDir dir;
  char name[1024] = "unchanged";
  for (std::string folder : {dir.Path(), dir.File("missing")}) {
    EXPECT_EQ(0, CountFiles(folder.c_str(), ".jpg")) << folder;
    EXPECT_FALSE(FindNthFile(folder.c_str(), name, ".jpg", 0)) << folder;
    EXPECT_FALSE(ChooseRandomImageFile(folder.c_str(), name)) << folder;
  }
  EXPECT_STREQ("unchanged", name);
  // A file is not a folder.
  std::string file = dir.Write("plain.jpg", "x");
  EXPECT_FALSE(ChooseRandomImageFile(file.c_str(), name));
}

TEST(PictureFolder, EveryListingIsClosedOnEveryWayOut) {
  TempDir dir;
  for (const char* name : {"a.jpg", "b.gif", "c.png", "d.png"}) dir.Write(name, "x");
  const char* folder = dir.Path().c_str();
  char name[1024];
  int before = OpenDescriptors();
  for (int i = 0; i < 300; ++i) {
    std::srand(static_cast<unsigned>(i));
    ASSERT_TRUE(ChooseRandomImageFile(folder, name));
    ASSERT_TRUE(FindNthFile(folder, name, ".png", 1));   // found
    ASSERT_FALSE(FindNthFile(folder, name, ".png", 2));  // walked to the end
    ASSERT_FALSE(FindNthFile(folder, name, ".jpeg", 0));
  }
  EXPECT_EQ(before, OpenDescriptors()) << "a folder listing was left open";
}

// ---------------------------------------------------------------------------
// Decoding into the colour grid

TEST(PictureGrid, PutsTheTopLeftPixelOfATwoByTwoPictureAtEntryTwo) {
  TempDir dir;
  std::string path = dir.Write("square.png", RgbPng(2, {kRed, kGreen, kBlue, kWhite}));
  Grid g = Decode(path);
  ASSERT_TRUE(g.ok());
  EXPECT_EQ(2, g.width);
  EXPECT_EQ(2, g.height);
  EXPECT_TRUE(SameColour(kBlue, g.At(0, 0))) << "entry 0: bottom-left";
  EXPECT_TRUE(SameColour(kWhite, g.At(1, 0))) << "entry 1: bottom-right";
  EXPECT_TRUE(SameColour(kRed, g.At(0, 1))) << "entry 2: top-left";
  EXPECT_TRUE(SameColour(kGreen, g.At(1, 1))) << "entry 3: top-right";
}

TEST(PictureGrid, EveryByteGivesExactlyTheFloatByteOver255WithOrWithoutAlpha) {
  // 256 pixels in one row; pixel i holds red i, green 255 - i, blue 7i mod 256.
  TempDir dir;
  for (int colourType : {2, 6}) {
    std::string row;
    for (int i = 0; i < 256; ++i) {
      row += static_cast<char>(i);
      row += static_cast<char>(255 - i);
      row += static_cast<char>((7 * i) & 255);
      if (colourType == 6) row += static_cast<char>(i ^ 0x5a);
    }
    Grid g = Decode(dir.Write("bytes.png", EncodePNG({256, 1, 8, colourType},
                                                     Scanlines({row}))));
    ASSERT_TRUE(g.ok()) << "colour type " << colourType;
    for (int i = 0; i < 256; ++i) {
      const VECTOR3D c = g.cells->Colour(i, 0);
      ASSERT_EQ(static_cast<float>(i) / 255.0f, c.x) << "red " << i << ", type " << colourType;
      ASSERT_EQ(static_cast<float>(255 - i) / 255.0f, c.y) << "green " << 255 - i;
      ASSERT_EQ(static_cast<float>((7 * i) & 255) / 255.0f, c.z) << "blue " << ((7 * i) & 255);
    }
  }
}

TEST(PictureGrid, ReadsJpegFilesUpsideDownLikeEveryOtherFormat) {
  TempDir dir;
  std::string bytes = Jpeg(dir, 32, 32, Quadrants(32, kRed, kGreen, kBlue, kWhite));
  ASSERT_FALSE(bytes.empty());
  Grid g = Decode(dir.Write("quadrants.jpg", bytes));
  ASSERT_TRUE(g.ok());
  EXPECT_EQ(32, g.width);
  EXPECT_EQ(32, g.height);
  EXPECT_TRUE(SameColour(kBlue, g.At(8, 8), 24)) << "bottom-left quadrant";
  EXPECT_TRUE(SameColour(kWhite, g.At(24, 8), 24)) << "bottom-right quadrant";
  EXPECT_TRUE(SameColour(kRed, g.At(8, 24), 24)) << "top-left quadrant";
  EXPECT_TRUE(SameColour(kGreen, g.At(24, 24), 24)) << "top-right quadrant";
}

TEST(PictureGrid, ReadsTheFirstFrameOfGifFiles) {
  TempDir dir;
  std::vector<RGB> palette = {kRed, kGreen, kBlue, kWhite};
  Grid still = Decode(dir.Write("still.gif", Gif(2, 2, palette, {{0, 1, 2, 3}})));
  ASSERT_TRUE(still.ok());
  EXPECT_EQ(2, still.width);
  EXPECT_TRUE(SameColour(kRed, still.At(0, 1))) << "top-left";
  EXPECT_TRUE(SameColour(kGreen, still.At(1, 1))) << "top-right";
  EXPECT_TRUE(SameColour(kBlue, still.At(0, 0))) << "bottom-left";
  EXPECT_TRUE(SameColour(kWhite, still.At(1, 0))) << "bottom-right";

  std::string twoFrames = Gif(2, 2, palette, {{3, 3, 3, 3}, {0, 0, 0, 0}});
  Grid animated = Decode(dir.Write("animated.gif", twoFrames));
  ASSERT_TRUE(animated.ok());
  for (int i = 0; i < 4; ++i)
    EXPECT_TRUE(SameColour(kWhite, animated.At(i % 2, i / 2))) << "pixel " << i << " of frame 1";
}

TEST(PictureGrid, ConvertsGreyPaletteAndSixteenBitPngsToEightBitColour) {
  TempDir dir;
  // Grey, 8 bits: 0, 85 / 170, 255.
  Grid grey = Decode(dir.Write("grey.png", EncodePNG({2, 2, 8, 0}, Scanlines({Bytes({0, 85}),
                                                                        Bytes({170, 255})}))));
  ASSERT_TRUE(grey.ok());
  EXPECT_TRUE(SameColour({0, 0, 0}, grey.At(0, 1)));
  EXPECT_TRUE(SameColour({85, 85, 85}, grey.At(1, 1)));
  EXPECT_TRUE(SameColour({170, 170, 170}, grey.At(0, 0)));
  EXPECT_TRUE(SameColour({255, 255, 255}, grey.At(1, 0)));

  // Grey, 1 bit: 1 0 1 1 0 across one row.
  Grid bits = Decode(dir.Write("bits.png", EncodePNG({5, 1, 1, 0}, Scanlines({Bytes({0xb0})}))));
  ASSERT_TRUE(bits.ok());
  ASSERT_EQ(5, bits.width);
  const int expectedBits[5] = {255, 0, 255, 255, 0};
  for (int x = 0; x < 5; ++x)
    EXPECT_TRUE(SameColour({expectedBits[x], expectedBits[x], expectedBits[x]}, bits.At(x, 0)))
        << "column " << x;

  // Grey with alpha: the grey comes through, the alpha does not.
  Grid greyAlpha = Decode(dir.Write("grey-alpha.png",
                                    EncodePNG({1, 1, 8, 4}, Scanlines({Bytes({200, 0})}))));
  ASSERT_TRUE(greyAlpha.ok());
  EXPECT_TRUE(SameColour({200, 200, 200}, greyAlpha.At(0, 0)));

  // Palette, 2 bits per index, with and without transparency.
  std::string plte = PngChunk("PLTE", Bytes({10, 20, 30, 200, 100, 50, 0, 255, 128, 255, 255, 0}));
  std::string indices = Scanlines({Bytes({0x1b})});  // 0 1 2 3
  const RGB entries[4] = {{10, 20, 30}, {200, 100, 50}, {0, 255, 128}, {255, 255, 0}};
  for (bool transparent : {false, true}) {
    std::string extra = plte + (transparent ? PngChunk("tRNS", Bytes({0, 128})) : "");
    std::string path = dir.Write(transparent ? "palette-trns.png" : "palette.png",
                                 EncodePNG({4, 1, 2, 3}, indices, extra));
    auto image = NSBitmapImageRep::imageRepWithContentsOfFile(path.c_str());
    ASSERT_TRUE(image);
    EXPECT_EQ(transparent ? 32 : 24, image->bitsPerPixel());
    Grid palette = Decode(path);
    ASSERT_TRUE(palette.ok());
    for (int x = 0; x < 4; ++x)
      EXPECT_TRUE(SameColour(entries[x], palette.At(x, 0))) << "index " << x << ", tRNS "
                                                             << transparent;
  }

  // 16 bits per sample: 0x0000, 0x8080, 0xffff in the three channels.
  Grid deep = Decode(dir.Write("deep.png", EncodePNG({1, 1, 16, 2}, Scanlines({Bytes({0, 0, 0x80, 0x80,
                                                                                0xff, 0xff})}))));
  ASSERT_TRUE(deep.ok());
  EXPECT_TRUE(SameColour({0, 128, 255}, deep.At(0, 0)));
}

TEST(PictureGrid, ReadsInterlacedPngsPixelForPixel) {
  const int side = 9;
  std::vector<RGB> pixels;
  for (int y = 0; y < side; ++y)
    for (int x = 0; x < side; ++x) pixels.push_back({x * 20, y * 25, (x * 7 + y * 3) % 256});
  TempDir dir;
  Grid g = Decode(dir.Write("interlaced.png", RgbPng(side, pixels, true)));
  ASSERT_TRUE(g.ok());
  ASSERT_EQ(side, g.width);
  ASSERT_EQ(side, g.height);
  for (int y = 0; y < side; ++y)
    for (int x = 0; x < side; ++x)
      ASSERT_TRUE(SameColour(pixels[static_cast<size_t>(y) * side + x], g.At(x, side - 1 - y)))
          << "file pixel (" << x << ", " << y << ")";
}

TEST(PictureGrid, TakesColoursOfTransparentPixelsAsStored) {
  TempDir dir;
  std::string scanlines = Scanlines({Bytes({10, 200, 30, 0, 250, 128, 6, 77})});
  std::string path = dir.Write("clear.png", EncodePNG({2, 1, 8, 6}, scanlines));
  auto image = NSBitmapImageRep::imageRepWithContentsOfFile(path.c_str());
  ASSERT_TRUE(image);
  EXPECT_EQ(32, image->bitsPerPixel());
  EXPECT_GE(image->bytesPerRow(), 8);
  Grid g = Decode(path);
  ASSERT_TRUE(g.ok());
  EXPECT_TRUE(SameColour({10, 200, 30}, g.At(0, 0))) << "fully transparent pixel";
  EXPECT_TRUE(SameColour({250, 128, 6}, g.At(1, 0))) << "half transparent pixel";
}

TEST(PictureGrid, TurnsPhotosUprightAsTheirOrientationTagSays) {
  // Stored 16 wide and 8 high, red left of blue; tag 6 says "turn a quarter
  // clockwise", which shows it 8 wide and 16 high with red on top.
  std::vector<RGB> pixels;
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 16; ++x) pixels.push_back(x < 8 ? kRed : kBlue);
  TempDir dir;
  std::string plain = Jpeg(dir, 16, 8, pixels);
  ASSERT_FALSE(plain.empty());

  Grid stored = Decode(dir.Write("plain.jpg", plain));
  ASSERT_TRUE(stored.ok());
  EXPECT_EQ(16, stored.width);
  EXPECT_EQ(8, stored.height);

  Grid turned = Decode(dir.Write("turned.jpg", WithOrientation(plain, 6)));
  ASSERT_TRUE(turned.ok());
  EXPECT_EQ(8, turned.width);
  EXPECT_EQ(16, turned.height);
  EXPECT_TRUE(SameColour(kRed, turned.At(4, 12), 40)) << "top half";
  EXPECT_TRUE(SameColour(kBlue, turned.At(4, 3), 40)) << "bottom half";
}

TEST(PictureGrid, RecognisesTheFormatByContentNotByName) {
  TempDir dir;
  std::string png = RgbPng(1, {kGreen});
  Grid g = Decode(dir.Write("misnamed.jpg", png));
  ASSERT_TRUE(g.ok());
  EXPECT_TRUE(SameColour(kGreen, g.At(0, 0)));
  // Other formats that the decoding library knows are not taken.
  // A sound 1 × 1 BMP and a sound SVG.
  std::string bmp = "BM";
  for (uint32_t field : {58u, 0u, 54u, 40u, 1u, 1u}) Put32LE(bmp, field);
  bmp += Bytes({1, 0, 24, 0});  // planes, bits per pixel
  for (uint32_t field : {0u, 4u, 0u, 0u, 0u, 0u}) Put32LE(bmp, field);
  bmp += Bytes({0, 0, 255, 0});  // one red pixel, padded
  EXPECT_FALSE(Decode(dir.Write("bitmap.png", bmp)).ok());
  EXPECT_FALSE(Decode(dir.Write("drawing.png", "<svg xmlns='http://www.w3.org/2000/svg' "
                                               "width='4' height='4'/>")).ok());
}

TEST(PictureGrid, RefusesMissingEmptyAndCorruptFilesAndBlacksOutMissingRows) {
  TempDir dir;
  std::vector<RGB> pixels;
  for (int i = 0; i < 64 * 64; ++i) pixels.push_back({(i * 37) % 256, (i * 11) % 256, i % 256});
  std::string png = RgbPng(64, pixels);
  std::string jpeg = Jpeg(dir, 64, 64, pixels);
  ASSERT_FALSE(jpeg.empty());
  ASSERT_TRUE(Decode(dir.Write("whole.png", png)).ok());
  ASSERT_TRUE(Decode(dir.Write("whole.jpg", jpeg)).ok());

  std::string badCrc = png;
  badCrc[badCrc.size() - 20] ^= 0x55;  // inside the image data
  std::string zeroWidth = png;
  zeroWidth[16] = zeroWidth[17] = zeroWidth[18] = zeroWidth[19] = 0;
  // GIF frames with a side of 0 (found by fuzzing): gdk-pixbuf's GIF module
  // complains on standard error and gives up; the picture must be refused.
  std::string gif = Gif(2, 2, {kRed, kGreen, kBlue, kWhite}, {{0, 1, 2, 3}});
  ASSERT_TRUE(Decode(dir.Write("whole.gif", gif)).ok());
  std::string gifZeroWidth = gif, gifZeroHeight = gif;
  gifZeroWidth[38] = gifZeroWidth[39] = 0;  // the frame's width
  gifZeroHeight[40] = gifZeroHeight[41] = 0;
  struct Case {
    const char* what;
    std::string bytes;
  } cases[] = {
      {"empty file", ""},
      {"text", "not a picture at all"},
      {"PNG with a bad checksum", badCrc},
      {"PNG declaring width 0", zeroWidth},
      {"PNG signature and garbage", png.substr(0, 8) + std::string(200, '\x5a')},
      {"JPEG signature and garbage", jpeg.substr(0, 3) + std::string(500, '\x33')},
      {"GIF signature and garbage", "GIF89a" + std::string(300, '\x7f')},
      {"GIF frame of width 0", gifZeroWidth},
      {"GIF frame of height 0", gifZeroHeight},
  };
  for (const Case& c : cases) {
    Grid g = Decode(dir.Write("case.png", c.bytes));
    EXPECT_FALSE(g.ok()) << c.what;
    EXPECT_EQ(-1, g.width) << c.what << ": width must stay untouched";
    EXPECT_FALSE(NSBitmapImageRep::imageRepWithContentsOfFile(dir.File("case.png").c_str()))
        << c.what;
  }
  EXPECT_FALSE(Decode(dir.File("missing.png")).ok());
  EXPECT_FALSE(Decode("").ok());
  EXPECT_FALSE(NSBitmapImageRep::imageRepWithContentsOfFile(nullptr));

  // Whole in its framing but with too little image data: the rows that never
  // come are black, not whatever the memory held.
  Grid shortData = Decode(dir.Write("short.png", EncodePNG({2, 2, 8, 2}, Scanlines({Bytes({255, 0, 0, 0,
                                                                                    255, 0})}))));
  ASSERT_TRUE(shortData.ok());
  EXPECT_TRUE(SameColour(kRed, shortData.At(0, 1))) << "the row that is there";
  EXPECT_TRUE(SameColour({0, 0, 0}, shortData.At(0, 0))) << "the row that is missing";
  EXPECT_TRUE(SameColour({0, 0, 0}, shortData.At(1, 0))) << "the row that is missing";
}

TEST(PictureGrid, RefusesFilesCutShortButTakesDataAfterTheirEnd) {
  // A progressive JPEG with restart markers (made with libjpeg: ten scans,
  // a restart marker after every block), an interlaced PNG and a GIF.
  std::string progressive =
      ReadFileBytes(std::string(GLYMMER_SOURCE_DIR) + "/tests/data/progressive-restarts.jpg");
  ASSERT_GT(progressive.size(), 500u);
  std::vector<RGB> pixels;
  for (int i = 0; i < 81; ++i) pixels.push_back({i * 3, 255 - i * 3, (i * 40) % 256});
  std::vector<int> indices(36);
  for (size_t i = 0; i < indices.size(); ++i) indices[i] = static_cast<int>(i * 7 % 4);
  struct Whole {
    const char* what;
    std::string bytes;
  } files[] = {{"progressive JPEG", progressive},
               {"interlaced PNG", RgbPng(9, pixels, true)},
               {"GIF", Gif(6, 6, {kRed, kGreen, kBlue, kWhite}, {indices})}};

  TempDir dir;
  for (const Whole& file : files) {
    ASSERT_TRUE(Decode(dir.Write("whole", file.bytes)).ok()) << file.what;
    // Every length through the headers and near the end, every fifth between.
    const size_t size = file.bytes.size();
    for (size_t length = 1; length < size; length += (length < 160 || length + 16 > size) ? 1 : 5) {
      Grid g = Decode(dir.Write("cut", file.bytes.substr(0, length)));
      ASSERT_FALSE(g.ok()) << file.what << " cut to " << length << " of " << size << " bytes";
    }
    // Data after the end, as some cameras append, does no harm.
    EXPECT_TRUE(Decode(dir.Write("longer", file.bytes + std::string(300, '\x42'))).ok())
        << file.what;
  }

  Grid g = Decode(dir.Write("whole", progressive));
  ASSERT_EQ(48, g.width);
  ASSERT_EQ(32, g.height);
  EXPECT_TRUE(SameColour(kRed, g.At(8, 24), 24)) << "top-left quadrant";
  EXPECT_TRUE(SameColour(kGreen, g.At(40, 24), 24)) << "top-right quadrant";
  EXPECT_TRUE(SameColour(kBlue, g.At(8, 8), 24)) << "bottom-left quadrant";
  EXPECT_TRUE(SameColour(kWhite, g.At(40, 8), 24)) << "bottom-right quadrant";
}

TEST(PictureGrid, DoesNotWaitOnAPipeNamedLikeAPicture) {
  TempDir dir;
  ASSERT_EQ(0, mkfifo(dir.File("pipe.jpg").c_str(), 0600));
  EXPECT_FALSE(Decode(dir.File("pipe.jpg")).ok());
}

// ---------------------------------------------------------------------------
// The size cap

TEST(PictureSizeCap, RefusesDeclaredSizesAboveTheCapBeforeDecoding) {
  TempDir dir;
  // A few hundred bytes that declare 100000 × 100000 pixels (30 GB decoded,
  // 120 GB as a grid).
  std::string huge = EncodePNG({100000, 100000, 8, 2}, std::string(1000, '\0'));
  ASSERT_LT(huge.size(), 1000u);
  Grid g = Decode(dir.Write("huge.png", huge));
  EXPECT_FALSE(g.ok());
  EXPECT_EQ(-1, g.width);

  // A GIF declaring 65535 × 65535, and a JPEG whose header says 60000 × 60000.
  std::string gif = Gif(1, 1, {kRed}, {{0}});
  gif[6] = gif[7] = gif[8] = gif[9] = '\xff';
  EXPECT_FALSE(Decode(dir.Write("huge.gif", gif)).ok());
  std::string jpeg = Jpeg(dir, 8, 8, std::vector<RGB>(64, kRed));
  size_t sof = jpeg.find("\xff\xc0");
  ASSERT_NE(std::string::npos, sof);
  jpeg[sof + 5] = jpeg[sof + 7] = '\xea';  // 0xea60 = 60000
  jpeg[sof + 6] = jpeg[sof + 8] = '\x60';
  EXPECT_FALSE(Decode(dir.Write("huge.jpg", jpeg)).ok());
}

TEST(PictureSizeCap, LoadsUpToTheCapAndNoFurther) {
  TempDir dir;
  auto blackPng = [&](const char* name, uint32_t width, uint32_t height) {
    // 1-bit grey, all black: small files that decode to full-size pictures.
    size_t rowBytes = (width + 7) / 8;
    return dir.Write(name, EncodePNG({width, height, 1, 0}, std::string(height * (rowBytes + 1), '\0')));
  };

  // 8192 × 8192 = 64 Mi pixels loads.
  auto big = NSBitmapImageRep::imageRepWithContentsOfFile(blackPng("big.png", 8192, 8192).c_str());
  ASSERT_TRUE(big) << "a 64-megapixel picture must load";
  EXPECT_EQ(8192, big->pixelsWide());
  EXPECT_EQ(8192, big->pixelsHigh());
  big.reset();

  // One row more than the cap allows is refused, though the file is sound.
  ASSERT_EQ(16384LL * 8192, kMaxPicturePixels);
  std::string over = blackPng("over.png", 16384, 8193);
  EXPECT_FALSE(NSBitmapImageRep::imageRepWithContentsOfFile(over.c_str()));
  EXPECT_FALSE(Decode(over).ok());

  // Sides: 65535 pixels wide loads, 65536 does not.
  std::string wide = blackPng("wide.png", 65535, 1), wider = blackPng("wider.png", 65536, 1);
  auto widest = NSBitmapImageRep::imageRepWithContentsOfFile(wide.c_str());
  ASSERT_TRUE(widest);
  EXPECT_EQ(65535, widest->pixelsWide());
  EXPECT_FALSE(NSBitmapImageRep::imageRepWithContentsOfFile(wider.c_str()));
}

// ---------------------------------------------------------------------------
// The pictures shipped as the default folder

TEST(DefaultPictures, AllDecodeAndTheFirstPictureIsThere) {
  std::string folder = std::string(GLYMMER_SOURCE_DIR) + "/resources/pics/";
  EXPECT_EQ(5, CountFiles(folder.c_str(), ".jpg"));
  int decoded = 0;
  for (const std::string& name : ListingOrder(folder)) {
    if (!EndsWith(name, ".jpg")) continue;
    Grid g = Decode(folder + name);
    EXPECT_TRUE(g.ok()) << name;
    decoded += g.ok();
  }
  EXPECT_EQ(5, decoded);
  Grid first = Decode(folder + "Quorinda.jpg");
  ASSERT_TRUE(first.ok());
  EXPECT_EQ(512, first.width);
  EXPECT_EQ(512, first.height);
  // The orange suit fills the lower middle of the picture.
  RGB suit = first.At(100, 150);
  EXPECT_GT(suit.r, 150) << Text(suit);
  EXPECT_GT(suit.r, suit.g + 40) << Text(suit);
  EXPECT_GT(suit.g, suit.b) << Text(suit);
}

// ---------------------------------------------------------------------------
// The picture texture

class PictureTexture : public GLTest {
protected:
  // The texture's level 0 as RGBA bytes, rows bottom first.
  std::vector<unsigned char> Texels(GLuint name, int* width, int* height) {
    glBindTexture(GL_TEXTURE_2D, name);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, width);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_HEIGHT, height);
    std::vector<unsigned char> texels(static_cast<size_t>(*width) * *height * 4);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_UNSIGNED_BYTE, texels.data());
    return texels;
  }
};

TEST_F(PictureTexture, SamplesAWidePictureByNearestPixelIntoAnUprightSquare) {
  // 1024 × 256: red and green hold the column, blue the row (top first).
  const int width = 1024, height = 256;
  std::string scanlines;
  for (int y = 0; y < height; ++y) {
    scanlines += '\0';
    for (int x = 0; x < width; ++x) scanlines += Bytes({x & 0xff, x >> 8, y});
  }
  TempDir dir;
  std::string path = dir.Write("wide.png", EncodePNG({width, height, 8, 2}, scanlines));

  Texture texture;
  ASSERT_TRUE(loadPicFile(path.c_str(), &texture));
  EXPECT_EQ(1024u, texture.width) << "the record reports the picture's own size";
  EXPECT_EQ(256u, texture.height);
  EXPECT_EQ(nullptr, texture.pixels);
  ASSERT_NE(0u, texture.glName);

  int w = 0, h = 0;
  std::vector<unsigned char> texels = Texels(texture.glName, &w, &h);
  ASSERT_EQ(512, w);
  ASSERT_EQ(512, h);
  int wrong = 0;
  for (int t = 0; t < 512 && wrong < 5; ++t) {
    int fileRow = (511 - t) / 2;  // each file row used twice, top row at the top
    for (int i = 0; i < 512 && wrong < 5; ++i) {
      int fileColumn = 2 * i;  // every second column
      const unsigned char* p = &texels[(static_cast<size_t>(t) * 512 + i) * 4];
      if (p[0] != (fileColumn & 0xff) || p[1] != (fileColumn >> 8) || p[2] != fileRow ||
          p[3] != 255) {
        ADD_FAILURE() << "texel (" << i << ", " << t << ") expected column " << fileColumn
                      << " row " << fileRow << " opaque, got (" << int(p[0]) << ", " << int(p[1])
                      << ", " << int(p[2]) << ", " << int(p[3]) << ")";
        ++wrong;
      }
    }
  }
}

TEST_F(PictureTexture, MakesTransparentPicturesOpaqueAndKeepsTheirColours) {
  TempDir dir;
  std::string path = dir.Write("clear.png", EncodePNG({2, 1, 8, 6}, Scanlines({Bytes({10, 200, 30, 0,
                                                                              250, 128, 6, 77})})));
  Texture texture;
  ASSERT_TRUE(loadPicFile(path.c_str(), &texture));
  EXPECT_EQ(2u, texture.width);
  EXPECT_EQ(1u, texture.height);
  int w = 0, h = 0;
  std::vector<unsigned char> texels = Texels(texture.glName, &w, &h);
  ASSERT_EQ(512, w);
  const unsigned char* left = &texels[(100 * 512 + 10) * 4];
  const unsigned char* right = &texels[(100 * 512 + 300) * 4];
  EXPECT_TRUE(SameColour({10, 200, 30}, {left[0], left[1], left[2]}));
  EXPECT_EQ(255, left[3]);
  EXPECT_TRUE(SameColour({250, 128, 6}, {right[0], right[1], right[2]}));
  EXPECT_EQ(255, right[3]);
}

TEST_F(PictureTexture, LeavesTheRecordAloneWhenTheFileCannotBeDecoded) {
  TempDir dir;
  Texture texture;
  texture.width = 77;
  EXPECT_FALSE(loadPicFile(dir.File("missing.png").c_str(), &texture));
  EXPECT_FALSE(loadPicFile(dir.Write("bad.png", "\x89PNG\r\n\x1a\n garbage").c_str(), &texture));
  EXPECT_EQ(nullptr, texture.pixels);
  EXPECT_EQ(0u, texture.glName);
  EXPECT_EQ(77u, texture.width);
}

TEST_F(PictureTexture, ReloadingARecordReleasesItsEarlierTexture) {
  TempDir dir;
  std::string path = dir.Write("one.png", RgbPng(1, {kRed}));
  Texture texture;
  ASSERT_TRUE(loadPicFile(path.c_str(), &texture));
  GLuint first = texture.glName;
  ASSERT_TRUE(loadPicFile(path.c_str(), &texture));
  EXPECT_NE(0u, texture.glName);
  EXPECT_EQ(GL_FALSE, glIsTexture(first)) << "the first texture name was lost, not released";
}

TEST_F(PictureTexture, LoadsARandomPictureOfAFolderWithOrWithoutItsFinalSlash) {
  TempDir dir;
  ASSERT_EQ(0, mkdir(dir.File("ab").c_str(), 0755));
  dir.Write("ab/only.png", RgbPng(3, {kRed, kGreen, kBlue}));

  Texture a, b;
  EXPECT_TRUE(LoadPicture(dir.File("ab").c_str(), &a)) << "without the final slash";
  EXPECT_TRUE(LoadPicture(dir.File("ab/").c_str(), &b)) << "with the final slash";
  EXPECT_EQ(3u, a.width);
  EXPECT_EQ(3u, b.width);

  // Short relative folders ("ab", ".") get their slash too.
  char previous[4096];
  ASSERT_NE(nullptr, getcwd(previous, sizeof previous));
  ASSERT_EQ(0, chdir(dir.Path().c_str()));
  Texture c, d;
  bool shortName = LoadPicture("ab", &c);
  bool here = chdir("ab") == 0 && LoadPicture(".", &d);
  ASSERT_EQ(0, chdir(previous));
  EXPECT_TRUE(shortName) << "folder \"ab\"";
  EXPECT_TRUE(here) << "folder \".\"";

  TempDir empty;
  Texture e;
  EXPECT_FALSE(LoadPicture(empty.Path().c_str(), &e));
  EXPECT_EQ(0u, e.glName);
}

// ---------------------------------------------------------------------------
// The whole photo library

namespace {

// A 24-bit BMP, rows stored bottom first as the format has them.
std::string Bmp(int width, const std::vector<RGB>& pixels) {
  const int height = static_cast<int>(pixels.size()) / width;
  const uint32_t rowBytes = (static_cast<uint32_t>(width) * 3 + 3) & ~3u;
  std::string out = "BM";
  Put32LE(out, 54 + rowBytes * height);
  Put32LE(out, 0);
  Put32LE(out, 54);
  Put32LE(out, 40);
  Put32LE(out, static_cast<uint32_t>(width));
  Put32LE(out, static_cast<uint32_t>(height));
  Put16LE(out, 1);
  Put16LE(out, 24);
  for (uint32_t v : {0u, rowBytes * height, 2835u, 2835u, 0u, 0u}) Put32LE(out, v);
  for (int y = height - 1; y >= 0; --y) {
    std::string row;
    for (int x = 0; x < width; ++x) {
      const RGB& p = pixels[static_cast<size_t>(y) * width + x];
      row += Bytes({p.b, p.g, p.r});
    }
    row.resize(rowBytes, '\0');
    out += row;
  }
  return out;
}

// An uncompressed 8-bit RGB TIFF in one strip.
std::string Tiff(int width, const std::vector<RGB>& pixels) {
  const int height = static_cast<int>(pixels.size()) / width;
  std::string out = "II";
  Put16LE(out, 42);
  Put32LE(out, 8);
  const uint32_t entries = 9, bitsAt = 8 + 2 + entries * 12 + 4, dataAt = bitsAt + 6;
  Put16LE(out, entries);
  auto entry = [&](unsigned tag, unsigned type, uint32_t count, uint32_t value) {
    Put16LE(out, tag);
    Put16LE(out, type);
    Put32LE(out, count);
    Put32LE(out, value);  // a SHORT sits in the low half
  };
  const uint32_t w = static_cast<uint32_t>(width), h = static_cast<uint32_t>(height);
  entry(256, 3, 1, w);               // width
  entry(257, 3, 1, h);               // height
  entry(258, 3, 3, bitsAt);          // 8, 8, 8 bits
  entry(259, 3, 1, 1);               // no compression
  entry(262, 3, 1, 2);               // RGB
  entry(273, 4, 1, dataAt);          // strip offset
  entry(277, 3, 1, 3);               // samples per pixel
  entry(278, 3, 1, h);               // rows per strip
  entry(279, 4, 1, w * h * 3);       // strip bytes
  Put32LE(out, 0);
  for (int i = 0; i < 3; ++i) Put16LE(out, 8);
  for (const RGB& p : pixels) out += Bytes({p.r, p.g, p.b});
  return out;
}

std::string Ppm(int width, const std::vector<RGB>& pixels) {
  std::string out = "P6\n" + std::to_string(width) + " " +
                    std::to_string(pixels.size() / static_cast<size_t>(width)) + "\n255\n";
  for (const RGB& p : pixels) out += Bytes({p.r, p.g, p.b});
  return out;
}

bool RunQuietly(const std::string& command) {
  return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

bool HaveTool(const std::string& tool) { return RunQuietly("command -v " + tool); }

// The library's pictures as paths below `top`, with the top's own path cut.
std::vector<std::string> Listed(const LibraryIndex& index, const std::string& top) {
  std::vector<std::string> out;
  char path[4096];
  for (int n = 0; n < index.Count(); ++n) {
    const char* name = nullptr;
    if (!index.PathOf(n, path, sizeof path, &name)) {
      out.push_back("(no path for " + std::to_string(n) + ")");
      continue;
    }
    std::string full = path;
    EXPECT_EQ(0u, full.find(top + "/")) << full;
    EXPECT_STREQ(path + full.rfind('/') + 1, name);
    out.push_back(full.substr(top.size() + 1));
  }
  std::sort(out.begin(), out.end());
  return out;
}

// A view's settings for a whole library at `folder`.
SETTINGS LibrarySettings(const std::string& folder) {
  SETTINGS s;
  s.PIC_SIZE = 50;
  s.MLFIRST = false;
  s.WHOLELIBRARY = true;
  CopyPicPath(s.PicPath, (folder + "/").c_str());
  return s;
}

}  // namespace

TEST(PhotoLibrary, WalksEveryFolderOnceAndOnlyPicturesWithinItsBounds) {
  TempDir dir;
  const std::string top = dir.File("top");
  const std::string png = RgbPng(1, {kRed});
  for (const char* folder : {"top", "top/.cache", "top/album.gif", "top/2024", "top/2024/05",
                             "top/deep", "top/deep/1", "top/deep/2", "top/deep/2/3", "outside"})
    ASSERT_EQ(0, mkdir(dir.File(folder).c_str(), 0755)) << folder;
  ASSERT_EQ(0, rename(dir.File("top/deep/2").c_str(), dir.File("top/deep/1/2").c_str()));
  for (const char* file :
       {"top/a.jpg", "top/B.JPEG", "top/Beach.Day.jpe", "top/notes.txt", "top/x.png.bak",
        "top/.hidden.jpg", "top/.cache/x.jpg", "top/album.gif/c.png", "top/\xff\xfe.png",
        "top/2024/05/d.WebP", "top/2024/05/e.HEIC", "top/2024/05/f.avif", "top/2024/05/g.TIF",
        "top/2024/05/h.tiff", "top/2024/05/i.bmp", "top/2024/05/j.heif", "top/2024/05/k.Gif",
        "top/deep/1/2/3/l.png", "outside/o.png"})
    dir.Write(file, png);
  ASSERT_EQ(0, mkfifo(dir.File("top/pipe.jpg").c_str(), 0644));
  ASSERT_EQ(0, symlink("/dev/null", dir.File("top/null.jpg").c_str()));
  ASSERT_EQ(0, symlink("missing.jpg", dir.File("top/broken.jpg").c_str()));
  ASSERT_EQ(0, symlink("a.jpg", dir.File("top/same.jpg").c_str()));
  ASSERT_EQ(0, symlink("../..", dir.File("top/2024/05/up").c_str()));  // a loop
  ASSERT_EQ(0, symlink("../outside", dir.File("top/l1").c_str()));
  ASSERT_EQ(0, symlink("../outside", dir.File("top/l2").c_str()));

  LibraryIndex index;
  FolderWatch watch;
  ASSERT_TRUE(watch.Setup());
  ASSERT_TRUE(index.Build(top.c_str(), kLibraryLimits, nullptr, &watch));
  std::vector<std::string> got = Listed(index, top);
  // The folder outside is listed once, through whichever link comes first.
  std::string outside = std::count(got.begin(), got.end(), "l1/o.png") ? "l1/o.png" : "l2/o.png";
  std::vector<std::string> expected = {
      "2024/05/d.WebP", "2024/05/e.HEIC", "2024/05/f.avif",      "2024/05/g.TIF",
      "2024/05/h.tiff", "2024/05/i.bmp",  "2024/05/j.heif",      "2024/05/k.Gif",
      "B.JPEG",         "Beach.Day.jpe",  "a.jpg",               "album.gif/c.png",
      "deep/1/2/3/l.png", outside,        "same.jpg",            "\xff\xfe.png"};
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(expected, got) << "links followed once, hidden, odd and other entries passed over";
  EXPECT_EQ(0, index.unreadable);
  EXPECT_FALSE(index.depthLimited || index.entryLimited);
  EXPECT_LT(index.Bytes(), 4096u) << "a few bytes a picture";

  // The folders are watched: a new picture anywhere is news, a hidden file is not.
  EXPECT_FALSE(watch.Changed());
  dir.Write("top/.partial.jpg", png);
  EXPECT_FALSE(watch.Changed());
  dir.Write("top/2024/05/new.png", png);
  EXPECT_TRUE(watch.Changed());
  EXPECT_FALSE(watch.Changed()) << "the news is taken once";

  // Bounds: folders four levels down, then entries.
  LibraryIndex shallow;
  ASSERT_TRUE(shallow.Build(top.c_str(), LibraryLimits{3, 1000000}, nullptr, nullptr));
  EXPECT_TRUE(shallow.depthLimited);
  EXPECT_FALSE(shallow.entryLimited);
  std::vector<std::string> shallowGot = Listed(shallow, top);
  EXPECT_EQ(0, std::count(shallowGot.begin(), shallowGot.end(), "deep/1/2/3/l.png"));
  EXPECT_EQ(got.size(), shallowGot.size()) << "only the deepest picture is left out";
  LibraryIndex few;
  ASSERT_TRUE(few.Build(top.c_str(), LibraryLimits{32, 5}, nullptr, nullptr));
  EXPECT_TRUE(few.entryLimited);
  EXPECT_EQ(5, few.entries);
  EXPECT_LE(few.Count(), 5);

  // A folder that cannot be read is passed over (root reads every folder).
  if (geteuid() != 0) {
    ASSERT_EQ(0, mkdir(dir.File("top/locked").c_str(), 0755));
    dir.Write("top/locked/m.png", png);
    ASSERT_EQ(0, chmod(dir.File("top/locked").c_str(), 0));
    LibraryIndex locked;
    bool built = locked.Build(top.c_str(), kLibraryLimits, nullptr, nullptr);
    chmod(dir.File("top/locked").c_str(), 0755);
    ASSERT_TRUE(built);
    EXPECT_EQ(1, locked.unreadable);
    EXPECT_EQ(static_cast<int>(got.size()) + 1, locked.Count()) << "new.png, not m.png";
  } else {
    std::printf("unreadable folders not tried: root reads every folder\n");
  }
  LibraryIndex missing;
  ASSERT_TRUE(missing.Build(dir.File("nowhere").c_str(), kLibraryLimits, nullptr, nullptr));
  EXPECT_EQ(0, missing.Count());
  EXPECT_EQ(1, missing.unreadable);
  LibraryIndex unnamed;  // an empty folder setting names no folder, not "/"
  ASSERT_TRUE(unnamed.Build("", kLibraryLimits, nullptr, nullptr));
  EXPECT_EQ(0, unnamed.Count());
}

TEST(PhotoLibrary, AFolderMissingAtFirstIsListedAgainWhenAChoiceFindsNothing) {
  TempDir dir;
  const std::string top = dir.File("drive");
  SETTINGS settings = LibrarySettings(top);
  MAINCODE effect;
  ASSERT_TRUE(effect.Setup(&settings));
  effect.library.WaitForListing();
  ASSERT_EQ(0, effect.library.Count());
  ASSERT_EQ(0, mkdir(top.c_str(), 0755));  // the drive is mounted
  dir.Write("drive/found.png", RgbPng(1, {kGreen}));
  EXPECT_FALSE(effect.LoadPic());
  effect.library.WaitForListing();
  ASSERT_TRUE(effect.LoadPic());
  EXPECT_STREQ("found", effect.picName);
  effect.Cleanup();
}

// The inotify instances this process holds, and their watches in all.
void InotifyWatches(int* instances, int* watches) {
  *instances = *watches = 0;
  DIR* fds = opendir("/proc/self/fd");
  while (dirent* entry = fds ? readdir(fds) : nullptr) {
    char link[64] = "";
    std::string fd = std::string("/proc/self/fd/") + entry->d_name;
    if (readlink(fd.c_str(), link, sizeof link - 1) <= 0 || std::strcmp(link, "anon_inode:inotify"))
      continue;
    ++*instances;
    std::string info = ReadFileBytes("/proc/self/fdinfo/" + std::string(entry->d_name));
    for (size_t at = 0; (at = info.find("inotify wd:", at)) != std::string::npos; ++at) ++*watches;
  }
  if (fds) closedir(fds);
}

TEST(PhotoLibrary, ViewsShareOneListingAndOneWatchThatListingsAgainKeep) {
  TempDir dir;
  const std::string top = dir.File("lib"), png = RgbPng(1, {kGreen});
  for (const char* folder : {"lib", "lib/a", "lib/b", "lib/b/c"})
    ASSERT_EQ(0, mkdir(dir.File(folder).c_str(), 0755));
  dir.Write("lib/b/c/one.png", png);
  int instancesBefore = 0, watchesBefore = 0, instances = 0, watches = 0;
  InotifyWatches(&instancesBefore, &watchesBefore);

  // Two views on the same library: one listing, one index, one watch.
  PictureLibrary one, two;
  one.Start(top.c_str());
  two.Start(top.c_str());
  two.WaitForListing();
  ASSERT_TRUE(one.Listed() && two.Listed());
  EXPECT_EQ(one.Index(), two.Index());
  InotifyWatches(&instances, &watches);
  EXPECT_EQ(instancesBefore + 1, instances);
  EXPECT_EQ(watchesBefore + 4, watches);

  // Listed again after each change, both views stepping it as they draw:
  // the folders keep their watches, a new one is added, one gone is let go.
  auto listedAgain = [&] {
    const LibraryIndex* before = one.Index();
    for (int i = 0; i < 400 && one.Index() == before; ++i) {
      one.Update(0.25f);
      two.Update(0.25f);
      usleep(10000);
    }
    return one.Index() != before && one.Index() == two.Index();
  };
  ASSERT_EQ(0, mkdir(dir.File("lib/new").c_str(), 0755));
  dir.Write("lib/new/two.png", png);
  ASSERT_TRUE(listedAgain());
  EXPECT_EQ(2, two.Count());
  InotifyWatches(&instances, &watches);
  EXPECT_EQ(instancesBefore + 1, instances);
  EXPECT_EQ(watchesBefore + 5, watches) << "the folders listed again are watched once";
  ASSERT_EQ(0, rename(dir.File("lib/b/c").c_str(), dir.File("elsewhere").c_str()));
  ASSERT_TRUE(listedAgain());
  EXPECT_EQ(1, two.Count());
  InotifyWatches(&instances, &watches);
  EXPECT_EQ(watchesBefore + 4, watches) << "a folder moved out of the library is watched no more";
  EXPECT_EQ(4, one.Watch()->Count());

  // The last view to go closes the watch.
  one.Cleanup();
  EXPECT_TRUE(two.Listed());
  two.Cleanup();
  InotifyWatches(&instances, &watches);
  EXPECT_EQ(instancesBefore, instances);
}

// Writes `text` to a file of /proc; false when it cannot.
bool WriteProc(const char* path, const std::string& text) {
  FILE* f = std::fopen(path, "w");
  if (!f) return false;
  bool ok = std::fputs(text.c_str(), f) >= 0;
  return std::fclose(f) == 0 && ok;
}

TEST(FolderWatch, AtTheUsersLimitOfWatchesItSaysSoOnceAndAddsNoMore) {
  // A user namespace of its own, whose limit of watches a child may lower
  // without touching the machine's.
  TempDir dir;
  for (const char* folder : {"a", "b", "c", "d", "e"}) ASSERT_EQ(0, mkdir(dir.File(folder).c_str(), 0755));
  const std::string said = dir.File("said");
  const uid_t uid = getuid();
  const gid_t gid = getgid();
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (unshare(CLONE_NEWUSER) != 0 || !WriteProc("/proc/self/setgroups", "deny") ||
        !WriteProc("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1") ||
        !WriteProc("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1") ||
        !WriteProc("/proc/sys/user/max_inotify_watches", "2"))
      _exit(77);
    if (!std::freopen(said.c_str(), "w", stderr)) _exit(2);
    SetVerbose(true);
    FolderWatch watch;
    if (!watch.Setup()) _exit(3);
    watch.BeginListing();
    bool added[4] = {watch.Add(dir.File("a").c_str()), watch.Add(dir.File("b").c_str()),
                     watch.Add(dir.File("c").c_str()), watch.Add(dir.File("d").c_str())};
    // Room again: the user's other programs may take it; this watch adds no more.
    if (!WriteProc("/proc/sys/user/max_inotify_watches", "100")) _exit(4);
    bool later = watch.Add(dir.File("e").c_str());
    std::fflush(stderr);
    _exit(added[0] && added[1] && !added[2] && !added[3] && !later && !watch.Complete() &&
                  watch.Count() == 2
              ? 0
              : 5);
  }
  int status = 0;
  ASSERT_EQ(child, waitpid(child, &status, 0));
  ASSERT_TRUE(WIFEXITED(status));
  if (WEXITSTATUS(status) == 77) GTEST_SKIP() << "no user namespace to lower the limit in";
  EXPECT_EQ(0, WEXITSTATUS(status)) << "the watch went on adding, or took more than the limit";
  std::string lines = ReadFileBytes(said);
  EXPECT_EQ(1, std::count(lines.begin(), lines.end(), '\n')) << lines;
  EXPECT_NE(std::string::npos, lines.find("max_user_watches")) << lines;
}

TEST(PhotoLibrary, DrawsEveryPictureOfTheLibraryAlikeHoweverTheFoldersAreFilled) {
  TempDir dir;
  // 40 pictures: 1 at the top, 3 in a folder, 36 three folders down.
  const std::string top = dir.File("lib"), png = RgbPng(1, {kGreen});
  for (const char* folder : {"lib", "lib/a", "lib/b", "lib/b/c", "lib/b/c/d"})
    ASSERT_EQ(0, mkdir(dir.File(folder).c_str(), 0755));
  for (int i = 0; i < 40; ++i) {
    const char* folder = i == 0 ? "lib/" : i < 4 ? "lib/a/" : "lib/b/c/d/";
    char name[32];
    std::snprintf(name, sizeof name, "p%02d.png", i);
    dir.Write(folder + std::string(name), png);
  }
  SETTINGS settings = LibrarySettings(top);
  MAINCODE effect;
  ASSERT_TRUE(effect.Setup(&settings));
  effect.library.WaitForListing();
  ASSERT_EQ(40, effect.library.Count());

  std::srand(12345);
  constexpr int kDraws = 4000;
  std::map<std::string, int> shown;
  for (int i = 0; i < kDraws; ++i) {
    ASSERT_TRUE(effect.LoadPic());
    ++shown[effect.picName];
  }
  EXPECT_EQ(40u, shown.size());
  double chiSquare = 0;
  for (const auto& each : shown) chiSquare += std::pow(each.second - kDraws / 40.0, 2) / (kDraws / 40.0);
  // 39 degrees of freedom: above 72.05 one time in a thousand. A choice of
  // folder first would give the lone top picture a tenth of the draws.
  EXPECT_LT(chiSquare, 72.05) << "p00 " << shown["p00"] << ", p01 " << shown["p01"] << ", p39 "
                              << shown["p39"];
  effect.Cleanup();
}

TEST(PhotoLibrary, ShowsAPhotoOfEachFormatUprightAndNamedWithoutItsExtension) {
  TempDir dir;
  const int w = 48, h = 32;
  std::vector<RGB> upright;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      upright.push_back(y < h / 2 ? (x < w / 2 ? kRed : kGreen) : (x < w / 2 ? kBlue : kWhite));
  // As a camera held upright on its side stores it: a quarter turn
  // anticlockwise, with orientation 6 to turn it back.
  std::vector<RGB> sideways;
  for (int r = 0; r < w; ++r)
    for (int c = 0; c < h; ++c) sideways.push_back(upright[static_cast<size_t>(c) * w + (w - 1 - r)]);

  const std::string top = dir.File("lib");
  for (const char* folder : {"src", "lib", "lib/2024", "lib/2024/05"})
    ASSERT_EQ(0, mkdir(dir.File(folder).c_str(), 0755));
  const std::string srcPng = dir.Write("src/upright.png", RgbPng(w, upright));
  const std::string srcPpm = dir.Write("src/upright.ppm", Ppm(w, upright));
  const std::string srcSideways = dir.Write("src/sideways.ppm", Ppm(h, sideways));
  std::vector<int> indices;
  for (const RGB& p : upright) indices.push_back(p.r && p.g ? 3 : p.r ? 0 : p.g ? 1 : 2);
  dir.Write("lib/Drawn.png", RgbPng(w, upright));
  dir.Write("lib/Anim.gif", Gif(w, h, {kRed, kGreen, kBlue, kWhite}, {indices}));
  dir.Write("lib/2024/Scan.tiff", Tiff(w, upright));
  dir.Write("lib/2024/Paint.BMP", Bmp(w, upright));

  // The photo formats, from Debian's encoders.
  struct Encoded {
    const char* tool;
    const char* file;
    std::string command;
  };
  const std::string turned = dir.File("src/turned.jpg");
  std::vector<Encoded> encoded = {
      {"cjpeg", "lib/Plain.jpg", "cjpeg -quality 95 -outfile " + dir.File("lib/Plain.jpg") + " " + srcPpm},
      {"cjpeg", "lib/2024/Holiday.2024.JPEG", "cjpeg -quality 95 -outfile " + turned + " " + srcSideways},
      {"cwebp", "lib/2024/Web.webp", "cwebp -q 95 " + srcPng + " -o " + dir.File("lib/2024/Web.webp")},
      {"heif-enc", "lib/2024/05/Phone.HEIC", "heif-enc -q 95 " + srcPng + " -o " + dir.File("lib/2024/05/Phone.HEIC")},
      // avifenc turns the JPEG's orientation tag into the AVIF's rotation.
      {"avifenc", "lib/2024/05/Turned.avif", ""},
  };
  std::map<std::string, std::string> expected;  // name as shown -> gdk-pixbuf module
  for (const char* name : {"Drawn.png", "Anim.gif", "Scan.tiff", "Paint.BMP"}) expected[name] = "";
  for (Encoded& e : encoded) {
    std::string file = dir.File(e.file);
    if (!HaveTool(e.tool)) {
      std::printf("%s: skipped, no %s here\n", e.file, e.tool);
      continue;
    }
    if (std::string(e.file) == "lib/2024/Holiday.2024.JPEG") {
      ASSERT_TRUE(RunQuietly(e.command)) << e.command;
      dir.Write(e.file, WithOrientation(ReadFileBytes(turned), 6));
      continue;
    }
    if (e.command.empty())
      e.command = "avifenc " + dir.File("lib/2024/Holiday.2024.JPEG") + " " + file;
    ASSERT_TRUE(RunQuietly(e.command)) << e.command;
  }
  // Whatever no installed module reads is left out, and said.
  LibraryIndex all;
  ASSERT_TRUE(all.Build(top.c_str(), kLibraryLimits, nullptr, nullptr));
  for (const std::string& relative : Listed(all, top)) {
    const std::string path = top + "/" + relative;
    const std::string module = NSBitmapImageRep::ModuleFor(path.c_str(), NSBitmapImageRep::kPhotoFormats);
    const std::string name = relative.substr(relative.rfind('/') + 1);
    if (module.empty()) {
      std::printf("%s: skipped, no gdk-pixbuf module reads it here\n", relative.c_str());
      std::remove(path.c_str());
      continue;
    }
    std::printf("%s: read by gdk-pixbuf's module \"%s\"\n", relative.c_str(), module.c_str());
    expected[name] = module;
  }

  SETTINGS settings = LibrarySettings(top);
  MAINCODE effect;
  ASSERT_TRUE(effect.Setup(&settings));
  effect.waitForPictures = true;
  effect.library.WaitForListing();
  ASSERT_EQ(static_cast<int>(expected.size()), effect.library.Count());
  std::srand(1);
  std::set<std::string> shown;
  for (int i = 0; i < 300 && shown.size() < expected.size(); ++i) {
    ASSERT_TRUE(effect.LoadPic()) << effect.loadPath;
    const std::string file = effect.loadName;
    ASSERT_EQ(1u, expected.count(file)) << file;
    EXPECT_EQ(file.substr(0, file.rfind('.')), std::string(effect.picName, effect.nameLen))
        << "the name without its extension";
    ASSERT_TRUE(effect.picColours);
    ASSERT_EQ(w, effect.picWidth) << file << " is on its side";
    ASSERT_EQ(h, effect.picHeight) << file;
    const PicArray& grid = *effect.picColours;
    auto at = [&](int x, int yFromTop) {
      VECTOR3D v = grid.Colour(x, h - 1 - yFromTop);
      return RGB{static_cast<int>(v.x * 255 + 0.5f), static_cast<int>(v.y * 255 + 0.5f),
                 static_cast<int>(v.z * 255 + 0.5f)};
    };
    EXPECT_TRUE(SameColour(kRed, at(w / 4, h / 4), 48)) << file << " top left";
    EXPECT_TRUE(SameColour(kGreen, at(3 * w / 4, h / 4), 48)) << file << " top right";
    EXPECT_TRUE(SameColour(kBlue, at(w / 4, 3 * h / 4), 48)) << file << " bottom left";
    EXPECT_TRUE(SameColour(kWhite, at(3 * w / 4, 3 * h / 4), 48)) << file << " bottom right";
    shown.insert(file);
  }
  for (const auto& each : expected) EXPECT_EQ(1u, shown.count(each.first)) << each.first << " never shown";
  effect.Cleanup();
}
