// SSMAIN: scene controller and screen overlay.

#include "scene/SSMain.h"

#include "effect/Code.h"
#include "maths/Misc.h"
#include "text/Text.h"
#include "textures/ResFile.h"
#include "textures/Texture.h"

#include <GL/gl.h>

#include <cstdlib>

namespace {

// One textured quad with its lower-left corner at (x, y), the whole texture
// stretched over it, row t = 0 at the bottom.
void Quad(float x, float y, float w, float h) {
  glBegin(GL_QUADS);
  glTexCoord2f(0, 0);
  glVertex2f(x, y);
  glTexCoord2f(1, 0);
  glVertex2f(x + w, y);
  glTexCoord2f(1, 1);
  glVertex2f(x + w, y + h);
  glTexCoord2f(0, 1);
  glVertex2f(x, y + h);
  glEnd();
}

const char kStartupCaption[] = "Display your own images! See the website for info.";

}  // namespace

SSMAIN::SSMAIN()
    : frameTime(0),
      width(0),
      height(0),
      preview(false),
      bandTimer(80),
      bandShown(false),
      bandAtTop(false),
      bandPos(Make2DPoint(0, -35)),
      bandBefore(-35),
      bannerIndex(5),
      dimTimer(60),
      dimAlpha(0),
      textureCount(0),
      textures(nullptr),
      effect(nullptr) {}

bool SSMAIN::Setup(bool isPreview, int newWidth, int newHeight, SETTINGS* settings,
                   const char* archivePath) {
  preview = isPreview;
  glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
  ReleaseTextures();
  if (!LoadTexturesFromDataFile(archivePath, &textures, &textureCount)) return false;
  width = newWidth;
  height = newHeight;
  glDisable(GL_LIGHTING);
  glCullFace(GL_BACK);

  ReleaseEffect();
  effect = new MAINCODE;
  if (!effect->Setup(settings)) return false;
  effect->fontTexture = SlotTexture(0);
  SetupText();
  if (!effect->caption.active)
    effect->caption.Set(kStartupCaption, MakePoint(1, 1, 1), 15, 16);
  return true;
}

void SSMAIN::SetSize(int newWidth, int newHeight) {
  width = newWidth;
  height = newHeight;
}

void SSMAIN::Update(double seconds) { frameTime = seconds; }

void SSMAIN::Draw() { DrawFrame(true, 1.0f); }

void SSMAIN::DrawFrame(bool step, float blend) {
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  glDisable(GL_LIGHTING);
  glEnable(GL_TEXTURE_2D);
  glColor4f(1, 1, 1, 1);
  glPushMatrix();
  if (effect) {
    if (step) effect->Move(static_cast<float>(frameTime));
    effect->Draw(blend);
  }
  glPopMatrix();
  if (!preview) DoOverlay(step, blend);
  glDisable(GL_TEXTURE_2D);
}

void SSMAIN::Cleanup() {
  ReleaseEffect();
  ReleaseTextures();
  glDisable(GL_LIGHTING);
  glDisable(GL_LIGHT0);
  glDisable(GL_CULL_FACE);
}

void SSMAIN::DoOverlay(bool step, float blend) {
  const float dt = step ? static_cast<float>(frameTime) : 0.0f;

  // Band timing: hidden 80 s at first, then shown 20 s and hidden 30 s,
  // alternating between the top and the bottom edge. A band that moves to
  // the other edge starts there, from nowhere between.
  if (step) bandTimer -= dt;
  if (step && bandTimer < 0) {
    bandTimer = 30;
    if (!bandShown) {
      bannerIndex = 4 + std::rand() % 2;
      bandPos.x = (std::rand() % 2) ? static_cast<float>(width - 256) : 0.0f;
      bandAtTop = !bandAtTop;
      bandPos.y = bandAtTop ? static_cast<float>(height + 40) : -40.0f;
      bandTimer = 20;
    }
    bandShown = !bandShown;
  }
  float target;
  if (bandShown) target = bandAtTop ? static_cast<float>(height - 40) : 5.0f;
  else target = bandAtTop ? static_cast<float>(height + 40) : -40.0f;
  if (step) {
    bandBefore = bandPos.y;
    bandPos.y += (target - bandPos.y) * dt;
  }
  const float bandY = blend < 1 ? bandBefore + (bandPos.y - bandBefore) * blend : bandPos.y;

  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  glOrtho(0, width, 0, height, -1, 1);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  glDisable(GL_LIGHTING);
  glDisable(GL_DEPTH_TEST);
  glColor4f(1, 1, 1, 1);
  glNormal3f(0, 0, 1);
  glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
  glEnable(GL_BLEND);

  // While hidden the band lies off the drawable: nothing to draw.
  const bool bandSeen = bandY < static_cast<float>(height) && bandY + 32 > 0;
  if (unsigned int logo = bandSeen ? SlotTexture(1) : 0) {
    glBindTexture(GL_TEXTURE_2D, logo);
    Quad(bandPos.x, bandY, 256, 32);
  }
  if (unsigned int banner = bandSeen ? SlotTexture(bannerIndex) : 0) {
    glBindTexture(GL_TEXTURE_2D, banner);
    Quad(width / 2.0f - 256, bandY, 512, 32);
  }
  glDisable(GL_BLEND);

  // Caption and dimming in the 1024 x 768 overlay space.
  glScalef(width / 1024.0f, height / 768.0f, 1);
  unsigned int font = SlotTexture(0);
  if (effect && effect->caption.active && font) {
    glPushMatrix();
    glTranslatef(512, 50, 0);
    // A render draws it letter by letter, as it draws its glyphs (see
    // MAINCODE::glyphDraw), so that a seed gives the frames it always gave.
    effect->caption.Draw(font, step ? frameTime : 0.0,
                         effect->glyphDraw != MAINCODE::kGlyphDrawImmediate);
    glPopMatrix();
  }

  // Every 60 s the screen darkens over 2 s behind the banner, stays dark
  // until 20 s after the darkening began, then brightens again.
  if (step) {
    dimTimer -= dt;
    if (dimTimer < 0) {
      dimAlpha = dimAlpha >= 1 ? 1 : dimAlpha + 0.5f * dt;
      if (dimTimer < -20) dimTimer = 40;
    } else if (dimAlpha > 0) {
      dimAlpha -= 0.5f * dt;
    }
  }
  bool dimmed = true;
  if (!(dimAlpha > 0)) {
    dimAlpha = 0;
    dimmed = false;
  }
  if (dimmed) {
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glEnable(GL_BLEND);
    glColor4f(0, 0, 0, dimAlpha);
    glDisable(GL_TEXTURE_2D);
    Quad(0, 0, 1024, 768);
    glEnable(GL_TEXTURE_2D);
    if (unsigned int banner = SlotTexture(bannerIndex)) {
      glColor4f(1, 1, 1, dimAlpha);
      glBindTexture(GL_TEXTURE_2D, banner);
      Quad(0, 352, 1024, 64);
    }
    glDisable(GL_BLEND);
    glColor4f(1, 1, 1, 1);
  }
  glEnable(GL_LIGHTING);
  glEnable(GL_DEPTH_TEST);
}

unsigned int SSMAIN::SlotTexture(unsigned int index) const {
  if (!textures || index >= static_cast<unsigned int>(textureCount < 0 ? 0 : textureCount))
    return 0;
  return textures[index].glName;
}

void SSMAIN::ReleaseTextures() {
  // delete[] destroys the slots last first, as the texture names were made.
  delete[] textures;
  textures = nullptr;
}

void SSMAIN::ReleaseEffect() {
  if (!effect) return;
  effect->Cleanup();
  delete effect;
  effect = nullptr;
}
