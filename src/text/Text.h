// Text: the table of character cells of the font sheet, and the caption line
// whose letters fade in one by one, hold, and fade out.
#pragma once

#include "maths/NiftyMaths.h"

// Cell size in texture units: the sheet is 16 columns by 8 rows of cells, of
// which the top six rows hold characters 32 to 127.
extern const float cWidth;   // 0.0625
extern const float cHeight;  // 0.125

// One entry per character code 32..127 at index code − 32: u is the cell's
// left edge, v its distance down from the top of the texture.
struct FontCell {
  float u;
  float v;
};
extern FontCell FontData[96];

// Fills all 96 entries; any number of calls give the same table.
void SetupText();

// Index into FontData for any byte. Characters outside 32..127 (control codes,
// bytes of multi-byte names) all use the cell of '?', so the table is never
// indexed outside its 96 entries.
inline int FontIndex(char c) {
  unsigned char code = static_cast<unsigned char>(c);
  return (code >= 32 && code <= 127) ? code - 32 : '?' - 32;
}

// Texture rectangle of a character's cell: left/right s, top/bottom t.
struct CellRect {
  float left, right, top, bottom;
};
CellRect CharacterRect(char c);

class Caption {
public:
  VECTOR3D colour;  // red, green, blue of all letters
  char text[60];    // the letters, not zero-terminated; at most 55 used
  float alpha[60];  // opacity of each letter; negative is invisible
  int length;       // letters in use, 0..55
  float size;       // letter height and width in the caller's units
  bool active;      // showing
  float timer;      // seconds before fading out starts; negative once fading

  Caption();  // black, inactive

  // Starts showing `text` (cut to 55 letters), replacing whatever was shown.
  // Each letter's opacity starts at −2.5 − (rand() % 200) / 100.
  void Set(const char* text, VECTOR3D colour, float timer, float size);

  // Advances the caption's clock by `elapsed` seconds and draws it centred on
  // the current model-view origin with the font texture `texture`. Translates
  // the model-view matrix: callers save and restore it. No-op while inactive.
  // With `oneDraw` the letters go to GL in one draw, placed by their
  // coordinates; without, each is placed by the model-view matrix and drawn
  // on its own, as a render's frames always had them, bit for bit.
  void Draw(unsigned int texture, double elapsed, bool oneDraw = false);
};

// Draws a whole string in white at `opacity`, laid out like a caption.
// Translates the model-view matrix.
void DrawString(const char* text, float size, float opacity, unsigned int texture);
