// Text: font cell table and captions.

#include "text/Text.h"

#include <GL/gl.h>

#include <cstdlib>
#include <cstring>

const float cWidth = 0.0625f;
const float cHeight = 0.125f;

FontCell FontData[96];

void SetupText() {
  for (int i = 0; i < 96; ++i) {
    FontData[i].u = static_cast<float>(i % 16) * cWidth;
    FontData[i].v = static_cast<float>(i / 16) * cHeight;
  }
}

CellRect CharacterRect(char c) {
  const FontCell& cell = FontData[FontIndex(c)];
  return CellRect{cell.u, cell.u + cWidth, 1.0f - cell.v, 1.0f - (cell.v + cHeight)};
}

namespace {

// The letter's quad with its left edge at x, in a glBegin(GL_QUADS) open.
void LetterQuad(char c, float size, float x) {
  CellRect r = CharacterRect(c);
  glTexCoord2f(r.right, r.top);
  glVertex3f(x + size, size / 2, 0);
  glTexCoord2f(r.left, r.top);
  glVertex3f(x, size / 2, 0);
  glTexCoord2f(r.left, r.bottom);
  glVertex3f(x, -size / 2, 0);
  glTexCoord2f(r.right, r.bottom);
  glVertex3f(x + size, -size / 2, 0);
}

// Advances by one letter (letters overlap by a quarter of their width) and
// draws the letter's quad with its left edge at the new origin, centred
// vertically. A space, or a letter not drawn (`shown` false), takes the
// advance only.
void AdvanceAndDrawLetter(char c, float size, bool shown = true) {
  glTranslatef(0.75f * size, 0, 0);
  if (c == ' ' || !shown) return;
  glBegin(GL_QUADS);
  LetterQuad(c, size, 0);
  glEnd();
}

void BeginText(unsigned int texture, int length, float size) {
  glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
  glEnable(GL_BLEND);
  glBindTexture(GL_TEXTURE_2D, texture);
  glTranslatef(-(length + 2) * size * 0.75f * 0.5f, 0, 0);
}

void EndText() {
  glDisable(GL_BLEND);
  glColor4f(1, 1, 1, 1);
}

}  // namespace

Caption::Caption() : length(0), size(0), active(false), timer(0) {
  colour.x = colour.y = colour.z = 0.0f;
}

void Caption::Set(const char* newText, VECTOR3D newColour, float newTimer, float newSize) {
  timer = newTimer;
  size = newSize;
  active = true;
  colour = newColour;
  size_t n = std::strlen(newText);
  length = n > 55 ? 55 : static_cast<int>(n);
  for (int i = 0; i < length; ++i) {
    text[i] = newText[i];
    alpha[i] = -2.5f - static_cast<float>(std::rand() % 200) / 100.0f;
  }
}

void Caption::Draw(unsigned int texture, double elapsed, bool oneDraw) {
  if (!active) return;
  timer = static_cast<float>(timer - elapsed);
  BeginText(texture, length, size);
  bool finished = true;
  float x = 0;  // one draw: the letter's left edge
  if (oneDraw) glBegin(GL_QUADS);
  for (int i = 0; i < length; ++i) {
    if (timer < 0) {
      alpha[i] = static_cast<float>(alpha[i] - 0.5 * elapsed);
      if (alpha[i] > 0) finished = false;
    } else {
      if (alpha[i] < 1) alpha[i] = static_cast<float>(alpha[i] + 0.5 * elapsed);
      else alpha[i] = 1;
      finished = false;
    }
    // A letter yet to fade in, or faded out, would blend nothing in; but
    // the first is drawn all the same, so that a renderer that prepares its
    // blending for the first letter it draws does so now, not in the middle
    // of the motion when one fades in.
    const bool shown = alpha[i] > 0 || i == 0;
    if (shown) glColor4f(colour.x, colour.y, colour.z, alpha[i]);
    if (!oneDraw) {
      AdvanceAndDrawLetter(text[i], size, shown);
      continue;
    }
    x += 0.75f * size;
    if (shown && text[i] != ' ') LetterQuad(text[i], size, x);
  }
  if (oneDraw) glEnd();
  EndText();
  if (finished) active = false;
}

void DrawString(const char* text, float size, float opacity, unsigned int texture) {
  glColor4f(1, 1, 1, opacity);
  int n = static_cast<int>(std::strlen(text));
  BeginText(texture, n, size);
  for (int i = 0; i < n; ++i) AdvanceAndDrawLetter(text[i], size);
  EndText();
}
