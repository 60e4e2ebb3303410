// A headless render of 10 seconds at 1920 x 1080, as glymmer --render draws
// it, timing each part of a frame: the effect's Move, its Draw and the
// overlay, and beside Move a pass that only creeps the glyphs' targets; then,
// for comparison, bare vertex-array draws of the same glyphs.
// Wall times include glFinish, so the renderer's own threads count.
// With --noop, Mesa's no-op driver (GALLIUM_NOOP) draws nothing, so only the
// CPU cost of the GL calls that any driver pays remains. With --paced each
// frame starts 1/60 s after the last, as on a display, where the caches have
// gone cold in between: Move then costs far more than back to back.
//
//   bench_render [SECONDS] [--noop] [--paced] [--size WxH]

#include "BenchSupport.h"
#include "effect/Code.h"
#include "host/Settings.h"
#include "platform/Clock.h"
#include "platform/gl/HeadlessGL.h"
#include "scene/SSMain.h"

#include <GL/gl.h>
#include <GL/glu.h>

#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

double Now(clockid_t id) {
  timespec t;
  clock_gettime(id, &t);
  return t.tv_sec + t.tv_nsec * 1e-9;
}

struct Split {
  double wall = 0, cpu = 0;
  void Add(double w0, double c0) {
    wall += Now(CLOCK_MONOTONIC) - w0;
    cpu += Now(CLOCK_PROCESS_CPUTIME_ID) - c0;
  }
};

}  // namespace

int main(int argc, char** argv) {
  int width = 1920, height = 1080;
  double fps = 30, seconds = 10;
  bool paced = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--noop") == 0) {
      setenv("GALLIUM_NOOP", "1", 1);
    } else if (std::strcmp(argv[i], "--paced") == 0) {
      paced = true;
    } else if (std::strcmp(argv[i], "--size") == 0 && i + 1 < argc) {
      if (std::sscanf(argv[++i], "%dx%d", &width, &height) != 2) return 2;
    } else if (std::atof(argv[i]) > 0) {
      seconds = std::atof(argv[i]);
    } else {
      std::fprintf(stderr, "usage: bench_render [SECONDS] [--noop] [--paced] [--size WxH]\n");
      return 2;
    }
  }
  HeadlessGL gl;
  if (!gl.Create(width, height)) return 1;
  std::printf("renderer: %s\n", gl.Renderer());

  SETTINGS settings;
  std::snprintf(settings.PicPath, sizeof settings.PicPath, "%s/resources/pics/", GLYMMER_SOURCE_DIR);
  std::string archive = std::string(GLYMMER_SOURCE_DIR) + "/resources/zentari.vostrelli";
  std::srand(1);
  glViewport(0, 0, width, height);
  glEnable(GL_DEPTH_TEST);
  glDepthFunc(GL_LEQUAL);
  SSMAIN scene;
  if (!scene.Setup(false, width, height, &settings, archive.c_str())) {
    std::fprintf(stderr, "scene set-up failed\n");
    return 1;
  }

  // The view's projection; the overlay leaves another behind.
  auto Perspective = [&] {
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluPerspective(45.0, static_cast<float>(width) / static_cast<float>(height), 1.0, 100.0);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
  };
  // With --paced, waits until 1/60 s after the last frame's start.
  auto Pace = [paced](double* due) {
    if (!paced) return;
    *due += 1.0 / 60;
    SleepUntil(*due);
  };
  Split move, draw, overlay, total;
  const int frames = static_cast<int>(seconds * fps);
  double due = CFAbsoluteTimeGetCurrent();
  for (int i = 0; i < frames; ++i) {
    Pace(&due);
    double w0 = Now(CLOCK_MONOTONIC), c0 = Now(CLOCK_PROCESS_CPUTIME_ID);
    scene.Update(1 / fps);
    Perspective();
    // SSMAIN::Draw's steps, timed one by one.
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glDisable(GL_LIGHTING);
    glEnable(GL_TEXTURE_2D);
    glColor4f(1, 1, 1, 1);
    glPushMatrix();
    double w1 = Now(CLOCK_MONOTONIC), c1 = Now(CLOCK_PROCESS_CPUTIME_ID);
    scene.effect->Move(static_cast<float>(scene.frameTime));
    move.Add(w1, c1);
    w1 = Now(CLOCK_MONOTONIC);
    c1 = Now(CLOCK_PROCESS_CPUTIME_ID);
    scene.effect->Draw();
    glFinish();
    draw.Add(w1, c1);
    glPopMatrix();
    w1 = Now(CLOCK_MONOTONIC);
    c1 = Now(CLOCK_PROCESS_CPUTIME_ID);
    scene.DoOverlay(true, 1.0f);
    glDisable(GL_TEXTURE_2D);
    glFinish();
    overlay.Add(w1, c1);
    total.Add(w0, c0);
  }

  // The last frame's glyphs as four vertices each (texture coordinates,
  // colour, position) in a plain array, drawn with one call: filled anew for
  // every frame, as any drawing of moving glyphs from arrays must, and filled
  // once only (the least the GL calls themselves cost).
  const MAINCODE& fx = *scene.effect;
  const float h = fx.halfSize;
  std::vector<float> vertices(static_cast<size_t>(fx.glyphCount) * 32);
  auto fill = [&] {
    float* v = vertices.data();
    for (int64_t i = 0; i < fx.glyphCount; ++i) {
      const GLYPH g = fx.Glyph(i);
      const float corner[4][4] = {{g.texLeft, g.texTop, -h, h},
                                  {g.texRight, g.texTop, h, h},
                                  {g.texRight, g.texBottom, h, -h},
                                  {g.texLeft, g.texBottom, -h, -h}};
      for (const float* c : corner) {
        *v++ = c[0];
        *v++ = c[1];
        *v++ = g.colour.x;
        *v++ = g.colour.y;
        *v++ = g.colour.z;
        *v++ = g.pos.x + c[2];
        *v++ = g.pos.y + c[3];
        *v++ = g.pos.z;
      }
    }
  };
  auto bareDraw = [&](bool refill) {
    Split split;
    fill();
    for (int i = 0; i < frames; ++i) {
      Perspective();
      glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
      glEnable(GL_TEXTURE_2D);
      double w1 = Now(CLOCK_MONOTONIC), c1 = Now(CLOCK_PROCESS_CPUTIME_ID);
      if (refill) fill();
      glBindTexture(GL_TEXTURE_2D, fx.fontTexture);
      glEnable(GL_BLEND);
      glDepthMask(GL_FALSE);
      glInterleavedArrays(GL_T2F_C3F_V3F, 0, vertices.data());
      glDrawArrays(GL_QUADS, 0, static_cast<GLsizei>(fx.glyphCount * 4));
      glDisableClientState(GL_TEXTURE_COORD_ARRAY);
      glDisableClientState(GL_COLOR_ARRAY);
      glDisableClientState(GL_VERTEX_ARRAY);
      glDisable(GL_BLEND);
      glDepthMask(GL_TRUE);
      glFinish();
      split.Add(w1, c1);
    }
    return split;
  };
  const Split bare = bareDraw(true), prefilled = bareDraw(false);
  // The least any step can cost: one pass that only creeps the targets of a
  // copy of the records, paced as the frames were. Move, which must pass over
  // every record, cannot fall below it.
  std::vector<GLYPH> records;
  for (int64_t i = 0; i < fx.glyphCount; ++i) records.push_back(fx.Glyph(i));
  Split creep;
  due = CFAbsoluteTimeGetCurrent();
  for (int i = 0; i < frames; ++i) {
    Pace(&due);
    double w1 = Now(CLOCK_MONOTONIC), c1 = Now(CLOCK_PROCESS_CPUTIME_ID);
    const float dt = static_cast<float>(1 / fps);
    for (GLYPH& g : records) {
      g.home.x += dt * g.drift.x * g.driftScale;
      g.home.y += dt * g.drift.y * g.driftScale;
      g.home.z += dt * g.drift.z * g.driftScale;
    }
    creep.Add(w1, c1);
  }
  const bool instanced = fx.glyphDraw == MAINCODE::kGlyphDrawInstanced;
  scene.Cleanup();
  std::printf("%d frames of %dx%d with %lld glyphs\n", frames, width, height,
              static_cast<long long>(settings.PIC_SIZE));
  std::printf("frames per second: %.1f\n", frames / total.wall);
  std::printf("Draw sends the glyphs as %s\n",
              instanced ? "instances (records read in place)" : "a vertex array filled each frame");
  std::printf("per frame, ms      wall     cpu\n");
  std::printf("  Move          %7.3f %7.3f\n", 1e3 * move.wall / frames, 1e3 * move.cpu / frames);
  std::printf("  creep alone   %7.3f %7.3f   (the least a pass over the records costs)\n",
              1e3 * creep.wall / frames, 1e3 * creep.cpu / frames);
  std::printf("  Draw          %7.3f %7.3f\n", 1e3 * draw.wall / frames, 1e3 * draw.cpu / frames);
  std::printf("  overlay       %7.3f %7.3f\n", 1e3 * overlay.wall / frames, 1e3 * overlay.cpu / frames);
  std::printf("  whole frame   %7.3f %7.3f\n", 1e3 * total.wall / frames, 1e3 * total.cpu / frames);
  std::printf("the same glyphs, bare vertex-array draws:\n");
  std::printf("  array filled  %7.3f %7.3f\n", 1e3 * bare.wall / frames, 1e3 * bare.cpu / frames);
  std::printf("  filled once   %7.3f %7.3f\n", 1e3 * prefilled.wall / frames,
              1e3 * prefilled.cpu / frames);
  std::printf("Move CPU / creep alone CPU: %.2f\n", move.cpu / creep.cpu);
  std::printf("Draw CPU / bare (array filled) CPU: %.2f\n", draw.cpu / bare.cpu);
  return 0;
}
