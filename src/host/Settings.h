// SETTINGS: the user's choices for the effect, as one plain record.
#pragma once

#include <cstdint>

struct SETTINGS {
  bool SHOWCAPTION = true;   // caption naming each new picture
  int64_t PICDELAY = 120;    // seconds a picture stays at least
  int64_t PIC_SIZE = 15000;  // number of glyphs
  int64_t CHARSIZE = 20;     // half the glyph side, hundredths of a scene unit
  float fCHARSIZE = 0.2f;    // CHARSIZE / 100
  int32_t CHARTYPE = 0;      // 0 as written, 1 upper case, 2 lower case
  bool MLFIRST = true;       // start with the built-in first picture
  char PicPath[1025] = {};   // picture folder, ends in "/" once loaded
};
