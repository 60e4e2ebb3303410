// make-art: renders Glymmer's built-in art and packs it into the resource
// archive the screen saver loads.
//
//   make-art [--fonts DIR] [--preview DIR] ARCHIVE
//   make-art --freetype-version
//
// Slots: 0 the glyph font sheet, 1 the logo strip, 2 and 3 two small images
// that nothing draws, 4 and 5 the banners. All letters come from the DejaVu
// fonts through FreeType; everything else is drawn here with integer
// arithmetic, so the same fonts and the same FreeType give the same bytes.
// --preview also writes each image as a PNG over a coloured backdrop, the way
// the overlay blends it, for a person to judge.

#include "ArchiveWriter.h"
#include "TgaWriter.h"

#include "platform/ImageFile.h"

#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

// The FreeType release that rendered the committed archive; another release
// may place antialiased edges differently.
const char kArtFreeType[] = "2.12.1";

const char kDefaultFontDir[] = "/usr/share/fonts/truetype/dejavu";

// ---------------------------------------------------------------------------
// Coverage masks and colour images, top row first while drawing.

struct Mask {
  int w = 0, h = 0;
  std::vector<int> v;  // coverage 0..255
  Mask(int width, int height) : w(width), h(height), v(static_cast<size_t>(width) * height, 0) {}
  int& At(int x, int y) { return v[static_cast<size_t>(y) * w + x]; }
  int Get(int x, int y) const {
    return (x < 0 || y < 0 || x >= w || y >= h) ? 0 : v[static_cast<size_t>(y) * w + x];
  }
};

struct Colour {
  int r, g, b;
};

struct Image {
  int w = 0, h = 0;
  std::vector<int> rgb;  // 0..255 each
  Image(int width, int height) : w(width), h(height), rgb(static_cast<size_t>(width) * height * 3, 0) {}
  int* At(int x, int y) { return &rgb[(static_cast<size_t>(y) * w + x) * 3]; }
};

// Paints `colour` through `mask` at `strength` (0..256) over the image.
void Paint(Image* image, const Mask& mask, Colour top, Colour bottom, int strength = 256) {
  for (int y = 0; y < image->h; ++y) {
    // Vertical gradient from `top` to `bottom`.
    const int t = image->h > 1 ? y * 256 / (image->h - 1) : 0;
    const int c[3] = {top.r + (bottom.r - top.r) * t / 256, top.g + (bottom.g - top.g) * t / 256,
                      top.b + (bottom.b - top.b) * t / 256};
    for (int x = 0; x < image->w; ++x) {
      const int m = mask.Get(x, y) * strength / 256;
      if (m == 0) continue;
      int* p = image->At(x, y);
      for (int k = 0; k < 3; ++k) p[k] = (c[k] * m + p[k] * (255 - m) + 127) / 255;
    }
  }
}

// A soft copy of the mask: three box blurs of the given radius.
Mask Blur(const Mask& mask, int radius) {
  Mask a = mask;
  Mask b(mask.w, mask.h);
  const int span = 2 * radius + 1;
  for (int pass = 0; pass < 3; ++pass) {
    for (int y = 0; y < a.h; ++y) {
      for (int x = 0; x < a.w; ++x) {
        int sum = 0;
        for (int d = -radius; d <= radius; ++d) sum += a.Get(x + d, y);
        b.At(x, y) = sum / span;
      }
    }
    for (int y = 0; y < a.h; ++y) {
      for (int x = 0; x < a.w; ++x) {
        int sum = 0;
        for (int d = -radius; d <= radius; ++d) sum += b.Get(x, y + d);
        a.At(x, y) = sum / span;
      }
    }
  }
  return a;
}

// Filled rectangle with an antialiased-free edge, as used for mosaic tiles.
void Rect(Mask* mask, int x0, int y0, int x1, int y1, int coverage = 255) {
  for (int y = std::max(0, y0); y < std::min(mask->h, y1); ++y) {
    for (int x = std::max(0, x0); x < std::min(mask->w, x1); ++x) {
      mask->At(x, y) = std::max(mask->At(x, y), coverage);
    }
  }
}

// RGBA bytes, rows bottom first, as the TGA writer wants them.
std::vector<unsigned char> BottomFirst(const Image& image, const Mask* alpha = nullptr) {
  std::vector<unsigned char> out(static_cast<size_t>(image.w) * image.h * 4);
  for (int y = 0; y < image.h; ++y) {
    const int from = image.h - 1 - y;
    for (int x = 0; x < image.w; ++x) {
      const int* p = &image.rgb[(static_cast<size_t>(from) * image.w + x) * 3];
      unsigned char* q = &out[(static_cast<size_t>(y) * image.w + x) * 4];
      q[0] = static_cast<unsigned char>(p[0]);
      q[1] = static_cast<unsigned char>(p[1]);
      q[2] = static_cast<unsigned char>(p[2]);
      q[3] = static_cast<unsigned char>(alpha ? alpha->Get(x, from) : 255);
    }
  }
  return out;
}

// ---------------------------------------------------------------------------
// Text through FreeType.

struct Glyph {
  int left = 0, top = 0, width = 0, rows = 0;  // bitmap placement from pen and baseline
  long advance = 0;                            // 26.6 pixels
  std::vector<int> coverage;
};

class Font {
public:
  Font() = default;
  ~Font() {
    if (face) FT_Done_Face(face);
  }
  Font(const Font&) = delete;
  Font& operator=(const Font&) = delete;

  bool Load(FT_Library library, const std::string& path) {
    if (FT_New_Face(library, path.c_str(), 0, &face) != 0) {
      face = nullptr;
      std::fprintf(stderr, "make-art: cannot load font %s\n", path.c_str());
      return false;
    }
    return true;
  }

  bool SetPixels(int pixels) { return FT_Set_Pixel_Sizes(face, 0, pixels) == 0; }
  // Wider than tall by `widthPercent`.
  bool SetPixels(int pixels, int widthPercent) {
    return FT_Set_Pixel_Sizes(face, static_cast<FT_UInt>(pixels * widthPercent / 100),
                              static_cast<FT_UInt>(pixels)) == 0;
  }

  bool Render(char32_t code, Glyph* glyph) const {
    if (FT_Load_Char(face, code, FT_LOAD_RENDER | FT_LOAD_TARGET_LIGHT) != 0) return false;
    FT_GlyphSlot slot = face->glyph;
    glyph->left = slot->bitmap_left;
    glyph->top = slot->bitmap_top;
    glyph->width = static_cast<int>(slot->bitmap.width);
    glyph->rows = static_cast<int>(slot->bitmap.rows);
    glyph->advance = slot->advance.x;
    glyph->coverage.assign(static_cast<size_t>(glyph->width) * glyph->rows, 0);
    for (int y = 0; y < glyph->rows; ++y) {
      const unsigned char* row = slot->bitmap.buffer + static_cast<long>(y) * slot->bitmap.pitch;
      for (int x = 0; x < glyph->width; ++x) {
        glyph->coverage[static_cast<size_t>(y) * glyph->width + x] = row[x];
      }
    }
    return true;
  }

  long Kerning(char32_t a, char32_t b) const {
    if (!FT_HAS_KERNING(face)) return 0;
    FT_Vector k{0, 0};
    FT_Get_Kerning(face, FT_Get_Char_Index(face, a), FT_Get_Char_Index(face, b),
                   FT_KERNING_DEFAULT, &k);
    return k.x;
  }

  FT_Face face = nullptr;
};

void Stamp(Mask* mask, const Glyph& glyph, int x0, int y0) {
  for (int y = 0; y < glyph.rows; ++y) {
    for (int x = 0; x < glyph.width; ++x) {
      const int mx = x0 + x, my = y0 + y;
      if (mx < 0 || my < 0 || mx >= mask->w || my >= mask->h) continue;
      int& m = mask->At(mx, my);
      m = std::min(255, m + glyph.coverage[static_cast<size_t>(y) * glyph.width + x]);
    }
  }
}

// Ink box of a line of text set from pen 0 on baseline 0 (y grows down).
struct Box {
  int left = 1 << 30, top = 1 << 30, right = -(1 << 30), bottom = -(1 << 30);
  int Width() const { return right - left; }
  int Height() const { return bottom - top; }
};

// A piece of a line in one font.
struct Run {
  const Font* font;
  std::u32string text;
};

// Sets the runs one after the other with the pen starting at `penX` on
// `baseline` into `mask` (when given) and returns the ink box they covered.
Box SetRuns(Mask* mask, const std::vector<Run>& runs, int penX, int baseline, int tracking = 0) {
  Box box;
  long pen = static_cast<long>(penX) * 64;
  for (const Run& run : runs) {
    const std::u32string& text = run.text;
    for (size_t i = 0; i < text.size(); ++i) {
      if (i > 0) pen += run.font->Kerning(text[i - 1], text[i]) + tracking * 64;
      Glyph glyph;
      if (!run.font->Render(text[i], &glyph)) continue;
      const int x = static_cast<int>((pen + 32) >> 6) + glyph.left;
      const int y = baseline - glyph.top;
      if (glyph.width > 0 && glyph.rows > 0) {
        box.left = std::min(box.left, x);
        box.right = std::max(box.right, x + glyph.width);
        box.top = std::min(box.top, y);
        box.bottom = std::max(box.bottom, y + glyph.rows);
        if (mask) Stamp(mask, glyph, x, y);
      }
      pen += glyph.advance;
    }
    pen += tracking * 64;
  }
  return box;
}

Box SetText(Mask* mask, const Font& font, const std::u32string& text, int penX, int baseline,
            int tracking = 0) {
  return SetRuns(mask, {Run{&font, text}}, penX, baseline, tracking);
}

// Sets the runs so that their ink is centred on (cx, cy).
Box SetCentred(Mask* mask, const std::vector<Run>& runs, int cx, int cy, int tracking = 0) {
  Box ink = SetRuns(nullptr, runs, 0, 0, tracking);
  const int penX = cx - (ink.left + ink.right) / 2;
  const int baseline = cy - (ink.top + ink.bottom) / 2;
  return SetRuns(mask, runs, penX, baseline, tracking);
}

Box SetCentred(Mask* mask, const Font& font, const std::u32string& text, int cx, int cy,
               int tracking = 0) {
  return SetCentred(mask, {Run{&font, text}}, cx, cy, tracking);
}

// The largest pixel size (at most h) at which the runs, all set at that
// size, fit in w x h.
int FitPixels(const std::vector<Run>& runs, int w, int h, int tracking = 0) {
  for (int px = h; px > 4; --px) {
    for (const Run& run : runs) const_cast<Font*>(run.font)->SetPixels(px);
    Box ink = SetRuns(nullptr, runs, 0, 0, tracking);
    if (ink.Width() <= w && ink.Height() <= h) return px;
  }
  return 4;
}

int FitPixels(Font* font, const std::u32string& text, int w, int h, int tracking = 0) {
  return FitPixels({Run{font, text}}, w, h, tracking);
}

// ---------------------------------------------------------------------------
// The pictures.

struct Art {
  std::string name;
  int w, h, bits;
  bool runLength;
  int alphaMode;
  std::vector<unsigned char> rgbaBottomFirst;
};

// Slot 0: characters 32..127 in a 16 x 8 grid of 64-pixel cells, read left to
// right from the top row; light letters on black for the brightness alpha.
// One size and one baseline for the whole set, chosen so that the tallest and
// the widest glyphs still keep a margin from the cell edges (texture filtering
// must not pull a neighbour's ink in); each glyph centred across its cell.
Art FontSheet(Font* font) {
  // Monospaced letters are narrow for a square cell; widened a little they
  // cover more of each mosaic tile and match the caption's advance of three
  // quarters of a cell.
  const int kSheetWidthPercent = 135;
  const int cell = 64, margin = 3, inner = cell - 2 * margin;
  int pixels = 8;
  int inkTop = 0, inkBottom = 0;
  for (int px = cell; px > 8; --px) {
    font->SetPixels(px, kSheetWidthPercent);
    int top = -(1 << 30), bottom = 1 << 30, widest = 0;
    for (char32_t c = 33; c < 127; ++c) {
      Glyph glyph;
      if (!font->Render(c, &glyph)) continue;
      top = std::max(top, glyph.top);
      bottom = std::min(bottom, glyph.top - glyph.rows);
      widest = std::max(widest, glyph.width);
    }
    if (top - bottom <= inner && widest <= inner) {
      pixels = px;
      inkTop = top;
      inkBottom = bottom;
      break;
    }
  }
  font->SetPixels(pixels, kSheetWidthPercent);
  const int baseline = margin + (inner - (inkTop - inkBottom)) / 2 + inkTop;

  Mask mask(16 * cell, 8 * cell);
  for (char32_t c = 33; c < 127; ++c) {
    const int index = static_cast<int>(c) - 32;
    const int cx = (index % 16) * cell, cy = (index / 16) * cell;
    Glyph glyph;
    if (!font->Render(c, &glyph)) continue;
    Stamp(&mask, glyph, cx + (cell - glyph.width) / 2, cy + baseline - glyph.top);
  }
  Image image(mask.w, mask.h);
  Paint(&image, mask, Colour{255, 255, 255}, Colour{255, 255, 255});
  return Art{"font-sheet", image.w, image.h, 24, true, 2, BottomFirst(image)};
}

// A small mosaic mark: a 3 x 3 block of tiles in the colours of a picture.
void MosaicMark(Image* image, int x0, int y0, int tile, int gap) {
  static const Colour kTiles[9] = {
      {255, 196, 92}, {255, 150, 80}, {236, 96, 110},  {255, 222, 140}, {250, 250, 240},
      {150, 120, 230}, {120, 210, 255}, {96, 170, 250}, {90, 120, 220},
  };
  for (int i = 0; i < 9; ++i) {
    Mask square(image->w, image->h);
    const int x = x0 + (i % 3) * (tile + gap), y = y0 + (i / 3) * (tile + gap);
    Rect(&square, x, y, x + tile, y + tile);
    Paint(image, square, kTiles[i], kTiles[i]);
  }
}

// Slot 1: the logo strip, drawn 256 x 32 in the band: the mark and the name,
// warm white with a soft glow, over black that the brightness alpha makes
// transparent. The group is centred so that the strip looks the same at
// either edge of the screen.
Art Logo(Font* bold) {
  const int w = 512, h = 64;
  Image image(w, h);
  const int tile = 12, gap = 3, markSize = 3 * tile + 2 * gap, space = 18;

  const std::u32string name = U"Glymmer";
  const int pixels = FitPixels(bold, name, w - markSize - space - 48, 46, 1);
  bold->SetPixels(pixels);
  Box ink = SetText(nullptr, *bold, name, 0, 0, 1);
  const int groupWidth = markSize + space + ink.Width();
  const int markX = (w - groupWidth) / 2, markY = (h - markSize) / 2;
  const int textLeft = markX + markSize + space;
  Mask text(w, h);
  SetText(&text, *bold, name, textLeft - ink.left, h / 2 - (ink.top + ink.bottom) / 2, 1);

  Mask glowShape = text;
  Rect(&glowShape, markX, markY, markX + markSize, markY + markSize, 160);
  Paint(&image, Blur(glowShape, 4), Colour{255, 170, 70}, Colour{230, 110, 60}, 150);
  MosaicMark(&image, markX, markY, tile, gap);
  Paint(&image, text, Colour{255, 252, 240}, Colour{255, 214, 150});
  return Art{"logo", w, h, 24, true, 2, BottomFirst(image)};
}

// Slots 4 and 5: banners, drawn 512 x 32 in the band and 1024 x 64 across the
// dimmed screen: a line of light text centred, with a faint cool glow.
Art Banner(const char* name, const std::vector<Run>& line, int tracking) {
  const int w = 1024, h = 64;
  Image image(w, h);
  FitPixels(line, w - 96, 38, tracking);
  Mask text(w, h);
  SetCentred(&text, line, w / 2, h / 2, tracking);
  Paint(&image, Blur(text, 5), Colour{120, 170, 255}, Colour{150, 120, 255}, 130);
  Paint(&image, text, Colour{250, 250, 255}, Colour{214, 226, 255});
  return Art{name, w, h, 24, true, 2, BottomFirst(image)};
}

// Slot 2: a small monogram, stored uncompressed.
Art Monogram(Font* bold) {
  const int w = 32, h = 32;
  Image image(w, h);
  Mask back(w, h);
  Rect(&back, 0, 0, w, h);
  Paint(&image, back, Colour{40, 60, 120}, Colour{16, 20, 48});
  bold->SetPixels(FitPixels(bold, U"G", 24, 24));
  Mask letter(w, h);
  SetCentred(&letter, *bold, U"G", w / 2, h / 2);
  Paint(&image, letter, Colour{255, 240, 200}, Colour{255, 200, 120});
  return Art{"monogram", w, h, 24, false, 0, BottomFirst(image)};
}

// Slot 3: a 4 x 4 tile swatch with a rounded fade at its edge, 32 bits.
Art Swatch() {
  const int w = 32, h = 32;
  Image image(w, h);
  Mask alpha(w, h);
  for (int ty = 0; ty < 4; ++ty) {
    for (int tx = 0; tx < 4; ++tx) {
      Mask tile(w, h);
      Rect(&tile, tx * 8 + 1, ty * 8 + 1, tx * 8 + 7, ty * 8 + 7);
      Rect(&alpha, tx * 8 + 1, ty * 8 + 1, tx * 8 + 7, ty * 8 + 7);
      const Colour c{80 + tx * 55, 90 + ty * 45, 240 - (tx + ty) * 25};
      Paint(&image, tile, c, c);
    }
  }
  return Art{"swatch", w, h, 32, true, 0, BottomFirst(image, &alpha)};
}

// ---------------------------------------------------------------------------

// The image as the overlay shows it (brightness alpha over a backdrop of
// coloured bands), rows bottom first.
std::vector<unsigned char> Preview(const Art& art) {
  std::vector<unsigned char> out(art.rgbaBottomFirst.size());
  for (int y = 0; y < art.h; ++y) {
    for (int x = 0; x < art.w; ++x) {
      const size_t i = (static_cast<size_t>(y) * art.w + x) * 4;
      const unsigned char* p = &art.rgbaBottomFirst[i];
      int alpha = 255;
      if (art.alphaMode == 2) alpha = std::max({p[0], p[1], p[2]});
      const int band = (x / 64 + y / 16) % 3;
      const int back[3] = {band == 0 ? 40 : 160, band == 1 ? 60 : 120, band == 2 ? 200 : 80};
      for (int k = 0; k < 3; ++k) {
        out[i + k] = static_cast<unsigned char>((p[k] * alpha + back[k] * (255 - alpha)) / 255);
      }
      out[i + 3] = 255;
    }
  }
  return out;
}

int Usage() {
  std::fputs("usage: make-art [--fonts DIR] [--preview DIR] ARCHIVE\n"
             "       make-art --freetype-version\n",
             stderr);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::string fontDir = kDefaultFontDir, previewDir, archivePath;
  bool showVersion = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--fonts" && i + 1 < argc) {
      fontDir = argv[++i];
    } else if (arg == "--preview" && i + 1 < argc) {
      previewDir = argv[++i];
    } else if (arg == "--freetype-version") {
      showVersion = true;
    } else if (!arg.empty() && arg[0] != '-' && archivePath.empty()) {
      archivePath = arg;
    } else {
      return Usage();
    }
  }

  FT_Library library = nullptr;
  if (FT_Init_FreeType(&library) != 0) {
    std::fputs("make-art: cannot start FreeType\n", stderr);
    return 1;
  }
  if (showVersion) {
    FT_Int major = 0, minor = 0, patch = 0;
    FT_Library_Version(library, &major, &minor, &patch);
    std::printf("%d.%d.%d %s\n", major, minor, patch, kArtFreeType);
    FT_Done_FreeType(library);
    return 0;
  }
  if (archivePath.empty()) {
    FT_Done_FreeType(library);
    return Usage();
  }

  int status = 1;
  {
    Font mono, bold, sans;
    if (mono.Load(library, fontDir + "/DejaVuSansMono-Bold.ttf") &&
        bold.Load(library, fontDir + "/DejaVuSans-Bold.ttf") &&
        sans.Load(library, fontDir + "/DejaVuSans.ttf")) {
      std::vector<Art> art;
      art.push_back(FontSheet(&mono));
      art.push_back(Logo(&bold));
      art.push_back(Monogram(&bold));
      art.push_back(Swatch());
      art.push_back(Banner("banner-tagline", {Run{&sans, U"every picture, letter by letter"}}, 2));
      art.push_back(Banner("banner-name",
                           {Run{&bold, U"Glymmer"}, Run{&sans, U"  \u00b7  pictures as letters"}},
                           2));

      std::vector<PackLump> lumps;
      bool ok = true;
      for (const Art& a : art) {
        std::string tga = EncodeTGA(a.w, a.h, a.bits, a.runLength, a.rgbaBottomFirst);
        if (tga.empty()) {
          std::fprintf(stderr, "make-art: cannot encode %s\n", a.name.c_str());
          ok = false;
          break;
        }
        lumps.push_back(PackLump{1, a.alphaMode, std::move(tga)});
        if (!previewDir.empty()) {
          std::string png = previewDir + "/" + a.name + ".png";
          std::vector<unsigned char> shown = Preview(a);
          ok = ok && WritePNG(png.c_str(), a.w, a.h, shown.data(), true);
        }
      }
      std::string archive, error;
      if (ok && BuildArchive(lumps, &archive, &error) &&
          WriteFileWhole(archivePath, archive, &error)) {
        status = 0;
      } else if (!error.empty()) {
        std::fprintf(stderr, "make-art: %s\n", error.c_str());
      }
    }
  }
  FT_Done_FreeType(library);
  return status;
}
