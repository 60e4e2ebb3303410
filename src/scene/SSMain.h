// SSMAIN: the scene controller. Owns the built-in textures and the effect;
// clears, steps and draws each frame, then draws the screen overlay (the
// gliding logo-and-banner band, the effect's caption and the periodic dimmed
// banner) except in the host's small preview.
#pragma once

#include "maths/NiftyMaths.h"

struct SETTINGS;
class Texture;
class MAINCODE;

class SSMAIN {
public:
  double frameTime;   // the last frame step, seconds (set by Update)
  int width;          // drawable size in pixels
  int height;
  bool preview;       // running in the host's preview: no overlay
  float bandTimer;    // seconds left in the band's current phase
  bool bandShown;     // the band is in its shown phase
  bool bandAtTop;     // the band uses the top edge
  point2d bandPos;    // x of the logo strip, y of the band, pixels
  float bandBefore;   // the band's y before the last step
  unsigned int bannerIndex;  // texture slot of the banner, 4 or 5
  float dimTimer;     // countdown of the dimmed-banner cycle, seconds
  float dimAlpha;     // opacity of the dimming layer and its banner
  int textureCount;   // slots in `textures`
  Texture* textures;  // one slot per archive lump; owned
  MAINCODE* effect;   // owned

  SSMAIN();  // defaults; allocates nothing

  // Loads the archive's textures and sets up the effect from `settings`
  // (read during the call only). True when frames can be drawn. On failure
  // whatever was obtained stays owned and Cleanup releases it.
  bool Setup(bool preview, int width, int height, SETTINGS* settings, const char* archivePath);

  void SetSize(int width, int height);  // the drawable's new size
  void Update(double seconds);          // the step the next Draw moves by

  // Steps the scene by frameTime and draws one frame into the current
  // context. Safe after a failed Setup: pieces whose texture slot is missing
  // are left out.
  void Draw();
  // Draws one frame, stepping the scene by frameTime first when `step`.
  // `blend` places it between the step before the last and the last, as
  // MAINCODE::Draw does: the letters and the sliding band are drawn that far
  // toward the last; captions and dimming, which fade, as the last has them.
  void DrawFrame(bool step, float blend);

  // Releases the effect and the textures (the last slot first). The context
  // must be current. Safe to call more than once.
  void Cleanup();

  // The overlay, drawn by Draw after the effect: advanced by frameTime when
  // `step` (else as it is), the band drawn `blend` of the way from its place
  // before the last step. Leaves an orthographic projection and a scaled
  // model-view matrix behind.
  void DoOverlay(bool step, float blend);

private:
  // The GL name of slot `index`, or 0 when that slot is missing or empty.
  unsigned int SlotTexture(unsigned int index) const;
  void ReleaseTextures();
  void ReleaseEffect();
};
