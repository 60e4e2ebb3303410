// The character-mosaic effect: set-up, picture loading, phases, sampling,
// motion and drawing, on real picture files and a real GL context.

#include "effect/Code.h"

#include "maths/Misc.h"
#include "platform/ImageFile.h"
#include "support/TestSupport.h"
#include "text/Text.h"

#define GL_GLEXT_PROTOTYPES
#include <GL/gl.h>
#include <GL/glext.h>
#include <GL/glu.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <limits>
#include <set>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

struct RGB {
  unsigned char r, g, b;
};

// Writes a w x h PNG whose pixel (column, row from the top) is colour(x, y).
void WritePicture(const std::string& path, int w, int h,
                  const std::function<RGB(int, int)>& colour) {
  std::vector<unsigned char> rgba(static_cast<size_t>(w) * h * 4);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      RGB c = colour(x, y);
      unsigned char* p = &rgba[(static_cast<size_t>(y) * w + x) * 4];
      p[0] = c.r;
      p[1] = c.g;
      p[2] = c.b;
      p[3] = 255;
    }
  }
  ASSERT_TRUE(WritePNG(path.c_str(), w, h, rgba.data(), false)) << path;
}

void WriteSolid(const std::string& path, int w, int h, RGB c) {
  WritePicture(path, w, h, [c](int, int) { return c; });
}

SETTINGS SettingsFor(const std::string& folder, int64_t glyphs) {
  SETTINGS s;
  std::string path = folder + "/";
  std::strncpy(s.PicPath, path.c_str(), sizeof(s.PicPath) - 1);
  s.PIC_SIZE = glyphs;
  s.MLFIRST = false;
  return s;
}

// Changes glyph i through a copy of its record.
template <class Change>
void EditGlyph(MAINCODE& fx, int64_t i, Change change) {
  GLYPH g = fx.Glyph(i);
  change(g);
  fx.SetGlyph(i, g);
}

std::string CaptionText(const Caption& c) { return std::string(c.text, c.length); }

bool ShowsLetter(const GLYPH& g, char c) {
  CellRect r = CharacterRect(c);
  return g.texLeft == r.left && g.texRight == r.right && g.texTop == r.top &&
         g.texBottom == r.bottom;
}

// The letters the glyphs show, as far as they are among `candidates`; a glyph
// showing anything else adds '#'.
std::set<char> LettersShown(const MAINCODE& fx, const std::string& candidates) {
  std::set<char> shown;
  for (int64_t i = 0; i < fx.glyphCount; ++i) {
    char found = '#';
    for (char c : candidates) {
      if (ShowsLetter(fx.Glyph(i), c)) found = c;
    }
    shown.insert(found);
  }
  return shown;
}

// A phase change at once, without moving anything (dt = 0).
void ForcePhaseChange(MAINCODE& fx) {
  fx.phaseTime = -1.0f;
  fx.Move(0.0f);
}

// A flat phase that lasts, with the window standing still.
void HoldFlatPhase(MAINCODE& fx) {
  fx.spinMode = false;
  fx.phaseTime = 1000.0f;
  fx.picTimer = 1000.0f;
  fx.sampleVel = VECTOR3D();
}

bool IsWholeIn(float v, int low, int high) {
  return v == std::floor(v) && v >= low && v <= high;
}

bool IsTenthIn(float v, int low, int high) {
  float tenths = std::round(v * 10.0f);
  return std::fabs(v * 10.0f - tenths) < 1e-3f && tenths >= low && tenths <= high;
}

class Effect : public ::testing::Test {
protected:
  void SetUp() override { SetupText(); }
  void TearDown() override { fx.Cleanup(); }
  MAINCODE fx;
  TempDir dir;
};

}  // namespace

// ---------------------------------------------------------------------------
// Set-up

TEST_F(Effect, SetupCopiesTheSettingsAndScattersADeepCloud) {
  WriteSolid(dir.File("a.png"), 2, 2, {10, 20, 30});
  SETTINGS s = SettingsFor(dir.Path(), 600);
  s.CHARSIZE = 5;
  s.CHARTYPE = 2;
  s.PICDELAY = 45;
  ASSERT_TRUE(fx.Setup(&s));

  EXPECT_EQ(dir.Path() + "/", std::string(fx.picPath));
  EXPECT_EQ(0.05f, fx.halfSize);
  EXPECT_EQ(5, fx.charSize);
  EXPECT_EQ(2, fx.charType);
  EXPECT_EQ(45, fx.picDelay);
  EXPECT_EQ(45.0f, fx.picTimer);
  EXPECT_EQ(0.0f, fx.phaseTime);
  EXPECT_TRUE(fx.spinMode);
  EXPECT_NE(nullptr, fx.picColours);
  EXPECT_EQ("a", std::string(fx.picName));
  EXPECT_FALSE(fx.caption.active) << "the first picture's caption is dropped";
  EXPECT_EQ(0.0f, fx.centre.x);
  EXPECT_EQ(0.0f, fx.centre.y);
  EXPECT_TRUE(IsWholeIn(fx.centre.z, -59, -10)) << fx.centre.z;

  for (int i = 0; i < 600; ++i) {
    const GLYPH g = fx.Glyph(i);
    ASSERT_TRUE(IsTenthIn(g.pos.x, -100, 99) && IsTenthIn(g.pos.y, -100, 99))
        << "glyph " << i << " starts at " << g.pos.x << ", " << g.pos.y;
    ASSERT_TRUE(IsWholeIn(g.pos.z, -100, 99)) << "glyph " << i << " z " << g.pos.z;
    ASSERT_TRUE(IsTenthIn(g.home.x, -100, 99) && IsTenthIn(g.home.y, -100, 99));
    ASSERT_EQ(-10.0f, g.home.z);
    ASSERT_EQ(0.0f, g.colour.x + g.colour.y + g.colour.z) << "glyphs start black";
    ASSERT_TRUE(ShowsLetter(g, 'a'));
  }

  MAINCODE other;
  s.CHARSIZE = 20;
  ASSERT_TRUE(other.Setup(&s));
  EXPECT_EQ(0.2f, other.halfSize);
  other.Cleanup();
}

TEST_F(Effect, SetupTakesAll1024BytesOfAPicPathAndNeverOverrunsOneUnterminated) {
  SETTINGS s = SettingsFor(dir.Path(), 1);
  std::memset(s.PicPath, 'x', sizeof(s.PicPath));  // not even terminated
  ASSERT_TRUE(fx.Setup(&s));
  EXPECT_EQ(std::string(1024, 'x'), std::string(fx.picPath));
  EXPECT_EQ(nullptr, fx.picColours);
}

TEST_F(Effect, SetupRefusesNegativeAndAbsurdGlyphCountsCleanly) {
  WriteSolid(dir.File("a.png"), 2, 2, {10, 20, 30});
  const int64_t counts[] = {-1,
                            std::numeric_limits<int64_t>::min(),
                            kMaxGlyphs + 1,
                            static_cast<int64_t>(SIZE_MAX / sizeof(float) / 16 + 1),
                            std::numeric_limits<int64_t>::max()};
  for (int64_t count : counts) {
    MAINCODE bad;
    SETTINGS s = SettingsFor(dir.Path(), count);
    EXPECT_FALSE(bad.Setup(&s)) << "glyph count " << count;
    EXPECT_EQ(nullptr, bad.glyphs.x) << count;
    EXPECT_EQ(nullptr, bad.picColours) << "no picture is loaded when glyphs fail";
    EXPECT_EQ(0, bad.glyphCount) << count;
    bad.Move(0.5f);  // harmless on the failed object
    bad.Cleanup();
  }
}

TEST_F(Effect, ZeroGlyphsStillChangePicturesAndCaptions) {
  WriteSolid(dir.File("one.png"), 2, 2, {255, 0, 0});
  SETTINGS s = SettingsFor(dir.Path(), 0);
  s.PICDELAY = 1;
  std::srand(3);
  ASSERT_TRUE(fx.Setup(&s));
  fx.waitForPictures = true;  // a hundred seconds pass in a few milliseconds here
  EXPECT_FALSE(fx.caption.active);
  int loads = 0;
  for (int frame = 0; frame < 30 * 100; ++frame) {
    float timer = fx.picTimer;
    fx.Move(1.0f / 30);
    if (fx.picTimer > timer) ++loads;
  }
  EXPECT_GE(loads, 3) << "pictures change every phase once the delay is past";
  EXPECT_TRUE(fx.caption.active);
  EXPECT_EQ("Image: one", CaptionText(fx.caption));

  // With no glyph to draw a spin time from, a spin phase keeps the 10..29 s
  // of a flat one.
  int spins = 0;
  for (int i = 0; i < 300; ++i) {
    ForcePhaseChange(fx);
    if (fx.spinMode) {
      ++spins;
      EXPECT_TRUE(IsWholeIn(fx.phaseTime, 10, 29)) << fx.phaseTime;
    }
  }
  EXPECT_GT(spins, 0);
}

// ---------------------------------------------------------------------------
// Phases

TEST_F(Effect, FirstFrameStartsAFlatPhaseButZeroTimeDoesNot) {
  WriteSolid(dir.File("p.png"), 4, 4, {255, 255, 255});
  SETTINGS s = SettingsFor(dir.Path(), 50);
  ASSERT_TRUE(fx.Setup(&s));
  VECTOR3D centre = fx.centre;

  fx.Move(0.0f);
  EXPECT_TRUE(fx.spinMode) << "dt = 0 leaves phaseTime at 0, which is no change";
  EXPECT_EQ(0.0f, fx.phaseTime);
  EXPECT_EQ(centre.z, fx.centre.z);
  EXPECT_EQ(1.0f, fx.approach);

  fx.Move(0.001f);
  EXPECT_FALSE(fx.spinMode) << "the first phase is flat";
  EXPECT_TRUE(IsWholeIn(fx.phaseTime, 10, 29)) << fx.phaseTime;
  EXPECT_FLOAT_EQ(0.001f * 10.0f * 0.025f, fx.approach) << "approach restarts from 0";
  for (int i = 0; i < 50; ++i) ASSERT_EQ(0.0f, fx.Glyph(i).home.z) << "flat targets";
}

TEST_F(Effect, APhaseThatReachesExactlyZeroDoesNotChange) {
  SETTINGS s = SettingsFor(dir.Path(), 5);
  ASSERT_TRUE(fx.Setup(&s));
  fx.Move(0.01f);
  fx.phaseTime = 0.5f;
  float approach = fx.approach;
  fx.Move(0.5f);
  EXPECT_EQ(0.0f, fx.phaseTime);
  EXPECT_GT(fx.approach, approach) << "no phase change, so approach kept rising";
  fx.Move(0.25f);
  EXPECT_GE(fx.phaseTime, 2.0f) << "below 0 starts the next phase";
  EXPECT_FLOAT_EQ(0.25f * 10.0f * 0.025f, fx.approach);
}

TEST_F(Effect, PhaseChangesKeepTheirRangesAndSpinIsAlwaysFollowedByFlat) {
  SETTINGS s = SettingsFor(dir.Path(), 40);
  std::srand(11);
  ASSERT_TRUE(fx.Setup(&s));
  int spins = 0, flats = 0;
  for (int change = 0; change < 400; ++change) {
    bool wasSpin = fx.spinMode;
    ForcePhaseChange(fx);
    if (wasSpin) {
      ASSERT_FALSE(fx.spinMode) << "a spin phase followed by another at " << change;
    }
    ASSERT_TRUE(IsWholeIn(fx.centre.x, -5, 4) && IsWholeIn(fx.centre.y, -5, 4));
    ASSERT_TRUE(IsWholeIn(fx.centre.z, -29, -10)) << fx.centre.z;
    ASSERT_EQ(0.0f, fx.approach);
    ASSERT_TRUE(fx.sampleScale >= 0.0999f && fx.sampleScale <= 0.9901f) << fx.sampleScale;
    ASSERT_TRUE(fx.samplePos.x >= 0.1999f && fx.samplePos.x <= 0.9901f);
    ASSERT_TRUE(fx.samplePos.y >= 0.1999f && fx.samplePos.y <= 0.9901f);
    ASSERT_LE(std::fabs(fx.sampleVel.x), 0.0501f);
    ASSERT_LE(std::fabs(fx.sampleVel.y), 0.0501f);
    for (int i = 0; i < 40; ++i) {
      const GLYPH g = fx.Glyph(i);
      float r = std::sqrt(g.home.x * g.home.x + g.home.y * g.home.y + g.home.z * g.home.z);
      ASSERT_TRUE(g.drift.x >= 0 && g.drift.x <= 0.2901f && g.drift.z == 0.0f);
      ASSERT_TRUE(g.driftScale >= -0.5f && g.driftScale <= 0.4901f) << g.driftScale;
      if (fx.spinMode) {
        ASSERT_LE(r, 17.33f) << "spin targets fill a ball";
      } else {
        ASSERT_EQ(0.0f, g.home.z) << "flat targets lie in the sheet";
        ASSERT_LE(r, 14.15f);
      }
    }
    if (fx.spinMode) {
      ++spins;
      ASSERT_TRUE(IsWholeIn(fx.phaseTime, 2, 21)) << "spin time " << fx.phaseTime;
      ASSERT_TRUE(IsWholeIn(fx.spinRate.x, -15, 14) && IsWholeIn(fx.spinRate.y, -15, 14) &&
                  IsWholeIn(fx.spinRate.z, -15, 14));
    } else {
      ++flats;
      ASSERT_TRUE(IsWholeIn(fx.phaseTime, 10, 29)) << "flat time " << fx.phaseTime;
    }
  }
  // About one change in ten from a flat phase spins.
  EXPECT_GT(spins, 15);
  EXPECT_LT(spins, 70);

  fx.spinMode = true;
  ForcePhaseChange(fx);
  EXPECT_FALSE(fx.spinMode);
}

TEST_F(Effect, SetupAndPhaseChangeDrawTheirRandomNumbersInOrder) {
  // No picture in the folder: loading draws no number.
  SETTINGS s = SettingsFor(dir.Path(), 3);
  std::srand(99);
  ASSERT_TRUE(fx.Setup(&s));
  ASSERT_EQ(1, fx.nameLen);
  std::vector<GLYPH> scattered = {fx.Glyph(0), fx.Glyph(1), fx.Glyph(2)};
  float setupCentreZ = fx.centre.z;
  ForcePhaseChange(fx);  // spinMode was true: a flat phase, no mode draw

  std::srand(99);
  auto roll = [](int n) { return std::rand() % n; };
  auto tenth = [&] { return static_cast<float>(roll(200) - 100) / 10.0f; };
  for (int i = 0; i < 3; ++i) {
    float px = tenth();
    float py = tenth();
    float pz = static_cast<float>(roll(200) - 100);
    float hx = tenth();
    float hy = tenth();
    roll(1);  // the letter
    EXPECT_EQ(px, scattered[i].pos.x) << i;
    EXPECT_EQ(py, scattered[i].pos.y) << i;
    EXPECT_EQ(pz, scattered[i].pos.z) << i;
    EXPECT_EQ(hx, scattered[i].home.x) << i;
    EXPECT_EQ(hy, scattered[i].home.y) << i;
  }
  EXPECT_EQ(static_cast<float>(-roll(50) - 10), setupCentreZ);

  float cx = static_cast<float>(roll(10) - 5);
  float cy = static_cast<float>(roll(10) - 5);
  float cz = static_cast<float>(-roll(20) - 10);
  float phase = static_cast<float>(roll(20) + 10);
  float scale = static_cast<float>(roll(90)) / 100.0f + 0.1f;
  float spx = static_cast<float>(roll(80)) / 100.0f + 0.2f;
  float spy = static_cast<float>(roll(80)) / 100.0f + 0.2f;
  float svx = static_cast<float>(roll(10) - 5) / 100.0f;
  float svy = static_cast<float>(roll(10) - 5) / 100.0f;
  EXPECT_EQ(cx, fx.centre.x);
  EXPECT_EQ(cy, fx.centre.y);
  EXPECT_EQ(cz, fx.centre.z);
  EXPECT_EQ(phase, fx.phaseTime);
  EXPECT_EQ(scale, fx.sampleScale);
  EXPECT_EQ(spx, fx.samplePos.x);
  EXPECT_EQ(spy, fx.samplePos.y);
  // The frame's bounce may have turned the window round.
  if ((spx > 0.8f && svx > 0) || (spx < 0.2f && svx < 0)) svx = -svx;
  if ((spy > 0.8f && svy > 0) || (spy < 0.2f && svy < 0)) svy = -svy;
  EXPECT_EQ(svx, fx.sampleVel.x);
  EXPECT_EQ(svy, fx.sampleVel.y);
  EXPECT_FALSE(fx.spinMode);
  for (int i = 0; i < 3; ++i) {
    VECTOR3D home;
    home.x = tenth();
    home.y = tenth();
    Rotate(&home, 0, 0, static_cast<float>(roll(3600)) / 10.0f);
    float dx = static_cast<float>(roll(30)) / 100.0f;
    float dy = static_cast<float>(roll(30)) / 100.0f;
    float scaleDrift = static_cast<float>(roll(100) - 50) / 100.0f;
    roll(1);  // the letter
    EXPECT_EQ(home.x, fx.Glyph(i).home.x) << i;
    EXPECT_EQ(home.y, fx.Glyph(i).home.y) << i;
    EXPECT_EQ(dx, fx.Glyph(i).drift.x) << i;
    EXPECT_EQ(dy, fx.Glyph(i).drift.y) << i;
    EXPECT_EQ(scaleDrift, fx.Glyph(i).driftScale) << i;
  }
}

TEST_F(Effect, ASeededRunIsReproducible) {
  WriteSolid(dir.File("red.png"), 8, 8, {255, 0, 0});
  WritePicture(dir.File("grad.png"), 16, 8, [](int x, int y) {
    return RGB{static_cast<unsigned char>(x * 16), static_cast<unsigned char>(y * 30), 99};
  });
  auto run = [&](unsigned seed, std::vector<unsigned char>& state) {
    MAINCODE e;
    SETTINGS s = SettingsFor(dir.Path(), 300);
    s.PICDELAY = 2;
    std::srand(seed);
    ASSERT_TRUE(e.Setup(&s));
    e.waitForPictures = true;  // as a render does; on screen decodes end when they end
    for (int frame = 0; frame < 30 * 40; ++frame) e.Move(1.0f / 30);
    state.clear();
    for (int i = 0; i < 300; ++i) {
      const GLYPH g = e.Glyph(i);
      const unsigned char* b = reinterpret_cast<const unsigned char*>(&g);
      state.insert(state.end(), b, b + sizeof(GLYPH));
    }
    const unsigned char* c = reinterpret_cast<const unsigned char*>(&e.centre);
    state.insert(state.end(), c, c + sizeof(VECTOR3D));
    state.insert(state.end(), e.picName, e.picName + std::strlen(e.picName));
    e.Cleanup();
  };
  std::vector<unsigned char> first, second, other;
  run(2024, first);
  run(2024, second);
  run(2025, other);
  EXPECT_TRUE(first == second) << "the same seed gave different glyphs";
  EXPECT_FALSE(first == other) << "a different seed gave the same glyphs";
}

// ---------------------------------------------------------------------------
// Sampling

TEST_F(Effect, WorkedLookupFindsEntry138608) {
  // Column 368 from the left, row 216 from the bottom: file row 479 - 216.
  WritePicture(dir.File("big.png"), 640, 480, [](int x, int y) {
    return (x == 368 && y == 479 - 216) ? RGB{255, 0, 0} : RGB{0, 0, 255};
  });
  SETTINGS s = SettingsFor(dir.Path(), 1);
  ASSERT_TRUE(fx.Setup(&s));
  ASSERT_EQ(640, fx.picWidth);
  ASSERT_EQ(480, fx.picHeight);
  EXPECT_EQ(1.3333334f, fx.picAspect);
  EXPECT_EQ(1.0f, fx.picColours->Colour(368, 216).x) << "entry 138608";

  HoldFlatPhase(fx);
  fx.sampleScale = 0.5f;
  fx.samplePos = MakePoint(0.5f, 0.5f, 0);
  EditGlyph(fx, 0, [](GLYPH& g) {
    g.home = MakePoint(4, -2, 0);
    g.drift = VECTOR3D();
  });
  fx.Move(0.01f);
  EXPECT_EQ(1.0f, fx.Glyph(0).goalColour.x) << "entry 138608 is the red pixel";
  EXPECT_EQ(0.0f, fx.Glyph(0).goalColour.z);
}

TEST_F(Effect, GlyphsOnTheWindowsEdgeKeepTheirColourAndInsideOnesStayInTheGrid) {
  // 4 x 4, aspect 1; pixel (column c, row r from the bottom) = (60c, 60r, 200).
  WritePicture(dir.File("sq.png"), 4, 4, [](int x, int y) {
    return RGB{static_cast<unsigned char>(60 * x), static_cast<unsigned char>(60 * (3 - y)), 200};
  });
  SETTINGS s = SettingsFor(dir.Path(), 9);
  ASSERT_TRUE(fx.Setup(&s));
  ASSERT_EQ(1.0f, fx.picAspect);
  HoldFlatPhase(fx);
  fx.sampleScale = 1.0f;
  fx.samplePos = MakePoint(0.5f, 0.5f, 0);
  const float nan = std::numeric_limits<float>::quiet_NaN();
  // px or py exactly 0 or 1, far outside, and not a number: all outside.
  const VECTOR3D outside[] = {MakePoint(10, 0, 0),  MakePoint(-10, 0, 0), MakePoint(0, 10, 0),
                              MakePoint(0, -10, 0), MakePoint(30, 30, 0),  MakePoint(nan, 0, 0)};
  const VECTOR3D held = MakePoint(0.3f, 0.6f, 0.9f);
  for (int i = 0; i < 6; ++i) {
    EditGlyph(fx, i, [&](GLYPH& g) {
      g.home = outside[i];
      g.drift = VECTOR3D();
      g.colour = held;
    });
  }
  EditGlyph(fx, 6, [](GLYPH& g) {
    g.home = MakePoint(9.9f, -9.9f, 0);  // just inside: last column, row 0
    g.drift = VECTOR3D();
  });
  fx.Move(0.02f);
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(held.x, fx.Glyph(i).goalColour.x) << "glyph " << i;
    EXPECT_EQ(held.z, fx.Glyph(i).goalColour.z) << "glyph " << i;
    EXPECT_EQ(held.y, fx.Glyph(i).colour.y) << "glyph " << i << " changed colour";
  }
  EXPECT_FLOAT_EQ(180.0f / 255, fx.Glyph(6).goalColour.x);
  EXPECT_FLOAT_EQ(0.0f, fx.Glyph(6).goalColour.y);

  // A window centre one step below 1 (or above 0) samples the last (first)
  // column and row, never one past them.
  EditGlyph(fx, 7, [](GLYPH& g) {
    g.home = VECTOR3D();
    g.drift = VECTOR3D();
  });
  fx.samplePos = MakePoint(std::nextafter(1.0f, 0.0f), std::nextafter(1.0f, 0.0f), 0);
  fx.Move(0.02f);
  EXPECT_FLOAT_EQ(180.0f / 255, fx.Glyph(7).goalColour.x);
  EXPECT_FLOAT_EQ(180.0f / 255, fx.Glyph(7).goalColour.y);
  fx.samplePos = MakePoint(std::nextafter(0.0f, 1.0f), std::nextafter(0.0f, 1.0f), 0);
  fx.Move(0.02f);
  EXPECT_EQ(0.0f, fx.Glyph(7).goalColour.x);
  EXPECT_EQ(0.0f, fx.Glyph(7).goalColour.y);
}

TEST_F(Effect, EveryGlyphSamplesThePixelUnderItsTarget) {
  // Each pixel's colour names its grid entry: red = entry % 256, green = entry / 256.
  const int w = 97, h = 61;
  WritePicture(dir.File("odd.png"), w, h, [&](int x, int y) {
    int entry = (h - 1 - y) * w + x;
    return RGB{static_cast<unsigned char>(entry % 256), static_cast<unsigned char>(entry / 256), 7};
  });
  SETTINGS s = SettingsFor(dir.Path(), 3000);
  std::srand(17);
  ASSERT_TRUE(fx.Setup(&s));
  for (int round = 0; round < 5; ++round) {
    ForcePhaseChange(fx);
    HoldFlatPhase(fx);
    // Some targets exactly on the window's edges.
    EditGlyph(fx, round, [&](GLYPH& g) { g.home = MakePoint(round % 2 ? 10.0f : -10.0f, 0, 0); });
    std::vector<VECTOR3D> homes;
    for (int i = 0; i < 3000; ++i) homes.push_back(fx.Glyph(i).home);
    std::vector<VECTOR3D> before;
    for (int i = 0; i < 3000; ++i) before.push_back(fx.Glyph(i).colour);
    fx.Move(1.0f / 30);
    int inside = 0;
    for (int i = 0; i < 3000; ++i) {
      float px = homes[i].x / 20 * fx.sampleScale / fx.picAspect + fx.samplePos.x;
      float py = homes[i].y / 20 * fx.sampleScale + fx.samplePos.y;
      const VECTOR3D goal = fx.Glyph(i).goalColour;
      if (px <= 0 || px >= 1 || py <= 0 || py >= 1) {
        ASSERT_EQ(before[i].x, goal.x) << "glyph " << i << " outside should hold its colour";
        continue;
      }
      ++inside;
      int entry = static_cast<int>(h * py) * w + static_cast<int>(w * px);
      int got = static_cast<int>(std::lround(goal.x * 255)) + 256 * static_cast<int>(std::lround(goal.y * 255));
      ASSERT_EQ(entry, got) << "glyph " << i << " in round " << round;
    }
    EXPECT_GT(inside, 100);
  }
}

TEST_F(Effect, WithoutAPictureGlyphsInsideTheWindowFlickerAndOthersHold) {
  SETTINGS s = SettingsFor(dir.Path(), 2);
  ASSERT_TRUE(fx.Setup(&s));
  ASSERT_EQ(nullptr, fx.picColours);
  HoldFlatPhase(fx);
  fx.sampleScale = 0.5f;
  fx.samplePos = MakePoint(0.5f, 0.5f, 0);
  EditGlyph(fx, 0, [](GLYPH& g) { g.home = VECTOR3D(); });
  EditGlyph(fx, 1, [](GLYPH& g) {
    g.home = MakePoint(40, 0, 0);
    g.colour = MakePoint(0.25f, 0.5f, 0.75f);
  });
  for (int i = 0; i < 2; ++i) EditGlyph(fx, i, [](GLYPH& g) { g.drift = VECTOR3D(); });
  int changes = 0;
  VECTOR3D last = fx.Glyph(0).goalColour;
  for (int frame = 0; frame < 20; ++frame) {
    fx.Move(1.0f / 30);
    VECTOR3D goal = fx.Glyph(0).goalColour;
    for (float v : {goal.x, goal.y, goal.z}) {
      ASSERT_TRUE(v >= 0 && v <= 0.99f && std::fabs(v * 100 - std::round(v * 100)) < 1e-3f) << v;
    }
    if (goal.x != last.x || goal.y != last.y || goal.z != last.z) ++changes;
    last = goal;
    ASSERT_EQ(0.5f, fx.Glyph(1).colour.y) << "a glyph outside the window holds its colour";
  }
  EXPECT_GE(changes, 18) << "a new random colour every frame";
}

TEST_F(Effect, TheWindowBouncesBetweenPointTwoAndPointEight) {
  SETTINGS s = SettingsFor(dir.Path(), 1);
  ASSERT_TRUE(fx.Setup(&s));
  HoldFlatPhase(fx);
  fx.samplePos = MakePoint(0.85f, 0.15f, 0);
  fx.sampleVel = MakePoint(0.03f, -0.02f, 0);
  fx.centre = MakePoint(1, 2, -20);
  fx.Move(0.5f);
  EXPECT_FLOAT_EQ(0.865f, fx.samplePos.x) << "the window steps before it turns";
  EXPECT_FLOAT_EQ(0.14f, fx.samplePos.y);
  EXPECT_FLOAT_EQ(-0.03f, fx.sampleVel.x);
  EXPECT_FLOAT_EQ(0.02f, fx.sampleVel.y);
  EXPECT_FLOAT_EQ(1.0f - 10 * 0.5f * 0.03f, fx.centre.x) << "the centre follows the turned window";
  EXPECT_FLOAT_EQ(2.0f + 10 * 0.5f * 0.02f, fx.centre.y);

  fx.samplePos = MakePoint(0.5f, 0.5f, 0);
  fx.Move(0.5f);
  EXPECT_FLOAT_EQ(0.485f, fx.samplePos.x);
  EXPECT_FLOAT_EQ(-0.03f, fx.sampleVel.x);
  EXPECT_FLOAT_EQ(0.85f - 0.15f, fx.centre.x);
}

// ---------------------------------------------------------------------------
// Motion

TEST_F(Effect, GlyphsCloseOnTargetsAndColoursAtTheStatedPace) {
  WriteSolid(dir.File("p.png"), 4, 4, {255, 255, 255});
  SETTINGS s = SettingsFor(dir.Path(), 1);
  ASSERT_TRUE(fx.Setup(&s));
  fx.Move(0.0001f);  // the first phase change
  HoldFlatPhase(fx);
  fx.approach = 0.0f;
  fx.centre = MakePoint(0, 0, -20);
  fx.sampleScale = 0.5f;
  fx.samplePos = MakePoint(0.5f, 0.5f, 0);
  EditGlyph(fx, 0, [](GLYPH& g) {
    g.home = VECTOR3D();
    g.drift = VECTOR3D();
    g.pos = MakePoint(0, 0, 80);  // 100 units from its target
    g.colour = VECTOR3D();
  });
  struct Mark {
    int frames;
    float approach, covered, faded;
  };
  // After 1, 3 and 5 seconds at 30 frames a second.
  const Mark marks[] = {{30, 0.25f, 0.12f, -1}, {90, -1, 0.67f, 0.94f}, {150, -1, 0.95f, -1}};
  int frame = 0;
  for (const Mark& m : marks) {
    while (frame < m.frames) {
      fx.Move(1.0f / 30);
      ++frame;
    }
    const GLYPH g = fx.Glyph(0);
    float covered = (80.0f - g.pos.z) / 100.0f;
    EXPECT_NEAR(m.covered, covered, 0.02f) << "after " << frame << " frames";
    if (m.approach >= 0) {
      EXPECT_NEAR(m.approach, fx.approach, 0.01f);
    }
    if (m.faded >= 0) {
      EXPECT_NEAR(m.faded, g.colour.x, 0.02f);
    }
    EXPECT_EQ(0.0f, g.pos.x);
  }
  // Drift makes the target creep: dt x drift x driftScale per second.
  EditGlyph(fx, 0, [](GLYPH& g) {
    g.drift = MakePoint(0.2f, 0.1f, 0);
    g.driftScale = -0.5f;
  });
  VECTOR3D home = fx.Glyph(0).home;
  fx.Move(1.0f);
  EXPECT_FLOAT_EQ(home.x - 0.1f, fx.Glyph(0).home.x);
  EXPECT_FLOAT_EQ(home.y - 0.05f, fx.Glyph(0).home.y);
}

TEST_F(Effect, SpinPhasesTurnTheBallAsOneBodyAndKeepGoalColours) {
  SETTINGS s = SettingsFor(dir.Path(), 2);
  ASSERT_TRUE(fx.Setup(&s));
  fx.spinMode = true;
  fx.phaseTime = 100;
  fx.spinRate = MakePoint(0, 0, 90);
  for (int i = 0; i < 2; ++i) {
    EditGlyph(fx, i, [&](GLYPH& g) {
      g.home = i == 0 ? MakePoint(10, 0, 0) : MakePoint(0, 0, 7);
      g.drift = VECTOR3D();
      g.goalColour = MakePoint(0.1f, 0.2f, 0.3f);
    });
  }
  fx.Move(1.0f);
  const VECTOR3D a = fx.Glyph(0).home;
  EXPECT_NEAR(0.0f, a.x, 1e-4f);
  EXPECT_NEAR(10.0f, std::fabs(a.y), 1e-4f) << "a quarter turn about z";
  EXPECT_EQ(0.0f, a.z);
  const VECTOR3D b = fx.Glyph(1).home;
  EXPECT_NEAR(0.0f, b.x, 1e-5f);
  EXPECT_NEAR(7.0f, b.z, 1e-5f) << "a point on the axis stays";
  EXPECT_EQ(0.2f, fx.Glyph(0).goalColour.y) << "spin phases sample no colour";
}

// ---------------------------------------------------------------------------
// Pictures and names

TEST_F(Effect, ANewPictureComesOnlyAtAPhaseChangeAfterTheDelay) {
  WriteSolid(dir.File("red.png"), 4, 4, {255, 0, 0});
  WriteSolid(dir.File("blue.png"), 4, 4, {0, 0, 255});
  SETTINGS s = SettingsFor(dir.Path(), 20);
  s.PICDELAY = 25;
  std::srand(5);
  ASSERT_TRUE(fx.Setup(&s));
  fx.waitForPictures = true;  // each new picture takes effect at its phase change
  const float dt = 1.0f / 30;
  float sinceLoad = 0;
  int loads = 0, changesWithoutLoad = 0, nameChanges = 0;
  std::string name = fx.picName;
  for (int frame = 0; frame < 30 * 400; ++frame) {
    float approach = fx.approach, timer = fx.picTimer;
    fx.Move(dt);
    sinceLoad += dt;
    bool phaseChanged = fx.approach < approach;
    bool loaded = fx.picTimer > timer;
    if (std::string(fx.picName) != name) {
      ASSERT_TRUE(loaded) << "the name changed without a load at frame " << frame;
      ++nameChanges;
      name = fx.picName;
    }
    if (loaded) {
      ++loads;
      ASSERT_TRUE(phaseChanged) << "a picture loaded outside a phase change at frame " << frame;
      EXPECT_GE(sinceLoad, 25.0f - 0.01f) << "pictures came too close together";
      EXPECT_LE(sinceLoad, 25.0f + 29.0f + 0.1f) << "a picture waited past the next phase";
      EXPECT_EQ(25.0f, fx.picTimer);
      sinceLoad = 0;
    } else if (phaseChanged) {
      ++changesWithoutLoad;
    }
  }
  EXPECT_GE(loads, 7);
  EXPECT_GT(changesWithoutLoad, 0) << "phases before the delay keep the picture";
  EXPECT_GT(nameChanges, 0);
}

TEST_F(Effect, HolidayJpgInTheThreeLetterCases) {
  std::vector<unsigned char> rgb(16 * 16 * 3, 128);
  ASSERT_TRUE(WriteJPEG(dir.File("Holiday.JPG").c_str(), 16, 16, rgb.data(), 90));
  const char* expected[] = {"Holiday", "HOLIDAY", "holiday"};
  for (int type = 0; type < 3; ++type) {
    MAINCODE e;
    SETTINGS s = SettingsFor(dir.Path(), 400);
    s.CHARTYPE = type;
    ASSERT_TRUE(e.Setup(&s));
    EXPECT_EQ(expected[type], std::string(e.picName)) << "case rule " << type;
    EXPECT_EQ(7, e.nameLen);
    EXPECT_FALSE(e.caption.active);

    ASSERT_TRUE(e.LoadPic());
    ASSERT_TRUE(e.caption.active);
    EXPECT_EQ(std::string("Image: ") + expected[type], CaptionText(e.caption));
    EXPECT_EQ(20.0f, e.caption.timer);
    EXPECT_EQ(20.0f, e.caption.size);
    EXPECT_EQ(1.0f, e.caption.colour.x * e.caption.colour.y * e.caption.colour.z);

    ForcePhaseChange(e);
    std::string letters = expected[type];
    std::set<char> shown = LettersShown(e, letters);
    EXPECT_EQ(std::set<char>(letters.begin(), letters.end()), shown)
        << "every glyph shows a letter of the name, and every letter shows";
    e.Cleanup();
  }
}

TEST_F(Effect, AOneLetterNameGivesEveryGlyphThatLetter) {
  WriteSolid(dir.File("a.png"), 3, 2, {1, 2, 3});
  SETTINGS s = SettingsFor(dir.Path(), 100);
  ASSERT_TRUE(fx.Setup(&s));
  EXPECT_EQ(1.5f, fx.picAspect);
  ForcePhaseChange(fx);
  EXPECT_EQ(std::set<char>{'a'}, LettersShown(fx, "a"));
}

TEST_F(Effect, NameBytesOutside32To127ShowTheQuestionMarkCell) {
  WriteSolid(dir.File("\x01\xC3\xA9\x7F.png"), 2, 2, {9, 9, 9});
  SETTINGS s = SettingsFor(dir.Path(), 300);
  s.CHARTYPE = 1;
  ASSERT_TRUE(fx.Setup(&s));
  ASSERT_EQ(4, fx.nameLen);
  ForcePhaseChange(fx);
  // Code 127 has its own cell; the other three bytes fall back to '?'.
  EXPECT_EQ((std::set<char>{'?', '\x7F'}), LettersShown(fx, "?\x7F"));
}

TEST_F(Effect, NoPictureAtAllLeavesErrorLettersWithoutACaption) {
  SETTINGS s = SettingsFor(dir.Path(), 300);
  s.MLFIRST = true;  // no Quorinda.jpg and nothing else either
  ASSERT_TRUE(fx.Setup(&s));
  EXPECT_FALSE(fx.builtInFirst) << "the built-in picture is tried once";
  EXPECT_EQ("ERROR!", std::string(fx.picName));
  EXPECT_EQ(6, fx.nameLen);
  EXPECT_FALSE(fx.caption.active) << "Setup drops the first load's caption";
  ForcePhaseChange(fx);
  EXPECT_EQ((std::set<char>{'E', 'R', 'O', '!'}), LettersShown(fx, "ERO!"));

  // Later loads with the folder still empty fail at the first choice.
  EXPECT_FALSE(fx.LoadPic());
  EXPECT_FALSE(fx.caption.active);
  EXPECT_EQ(1, fx.nameLen);
  EXPECT_EQ("ERROR!", std::string(fx.picName));
  ForcePhaseChange(fx);
  EXPECT_EQ(std::set<char>{'E'}, LettersShown(fx, "ERO!"));

  // Asked for the built-in picture again: its retry finds nothing either.
  fx.builtInFirst = true;
  fx.showCaption = false;
  EXPECT_FALSE(fx.LoadPic());
  ASSERT_TRUE(fx.caption.active) << "failures are told even with captions off";
  EXPECT_EQ("No Image Files Found!", CaptionText(fx.caption));
  EXPECT_EQ(30.0f, fx.caption.timer);
  EXPECT_EQ(32.0f, fx.caption.size);
  EXPECT_EQ(6, fx.nameLen);
}

TEST_F(Effect, AnUndecodableFileIsReportedByNameAndKeepsTheOldSize) {
  WriteSolid(dir.File("good.png"), 8, 4, {0, 255, 0});
  SETTINGS s = SettingsFor(dir.Path(), 200);
  s.SHOWCAPTION = false;
  ASSERT_TRUE(fx.Setup(&s));
  ASSERT_EQ(2.0f, fx.picAspect);
  ASSERT_EQ(0, std::remove(dir.File("good.png").c_str()));
  dir.Write("bad.png", std::string("not a picture at all"));

  fx.caption.Set("showing", MakePoint(1, 1, 1), 20, 20);
  EXPECT_FALSE(fx.LoadPic());
  EXPECT_EQ("Error loading file:bad.png", CaptionText(fx.caption))
      << "replaces a showing caption, captions off or not";
  EXPECT_EQ(30.0f, fx.caption.timer);
  EXPECT_EQ(32.0f, fx.caption.size);
  EXPECT_EQ("ERROR!", std::string(fx.picName));
  EXPECT_EQ(6, fx.nameLen);
  EXPECT_EQ(nullptr, fx.picColours);
  EXPECT_EQ(8, fx.picWidth);
  EXPECT_EQ(4, fx.picHeight);
  EXPECT_EQ(2.0f, fx.picAspect);
  ForcePhaseChange(fx);
  EXPECT_EQ((std::set<char>{'E', 'R', 'O', '!'}), LettersShown(fx, "ERO!"));
}

TEST_F(Effect, BuiltInFirstPictureAndItsFallBack) {
  std::vector<unsigned char> rgb(8 * 8 * 3, 200);
  ASSERT_TRUE(WriteJPEG(dir.File("Quorinda.jpg").c_str(), 8, 8, rgb.data(), 90));
  WriteSolid(dir.File("other.png"), 2, 2, {0, 0, 0});
  SETTINGS s = SettingsFor(dir.Path(), 10);
  s.MLFIRST = true;
  ASSERT_TRUE(fx.Setup(&s));
  EXPECT_EQ("Quorinda", std::string(fx.picName));
  EXPECT_FALSE(fx.builtInFirst);

  // Without the built-in file, the retry picks a picture of the folder.
  ASSERT_EQ(0, std::remove(dir.File("Quorinda.jpg").c_str()));
  fx.builtInFirst = true;
  EXPECT_TRUE(fx.LoadPic());
  EXPECT_EQ("other", std::string(fx.picName));
  EXPECT_EQ("Image: other", CaptionText(fx.caption));
}

TEST_F(Effect, AFailedFirstChoiceKeepsTheNameButOnlyItsFirstLetter) {
  WriteSolid(dir.File("Holiday.png"), 2, 2, {5, 5, 5});
  SETTINGS s = SettingsFor(dir.Path(), 200);
  ASSERT_TRUE(fx.Setup(&s));
  ASSERT_EQ(0, std::remove(dir.File("Holiday.png").c_str()));
  EXPECT_FALSE(fx.LoadPic());
  EXPECT_FALSE(fx.caption.active);
  EXPECT_EQ("Holiday", std::string(fx.picName));
  EXPECT_EQ(1, fx.nameLen);
  EXPECT_EQ(nullptr, fx.picColours);
  ForcePhaseChange(fx);
  EXPECT_EQ(std::set<char>{'H'}, LettersShown(fx, "Holiday"));
}

TEST_F(Effect, ASuccessfulLoadDoesNotReplaceAShowingCaption) {
  WriteSolid(dir.File("x.png"), 2, 2, {5, 5, 5});
  SETTINGS s = SettingsFor(dir.Path(), 1);
  ASSERT_TRUE(fx.Setup(&s));
  fx.caption.Set("keep me", MakePoint(1, 1, 1), 20, 20);
  EXPECT_TRUE(fx.LoadPic());
  EXPECT_EQ("keep me", CaptionText(fx.caption));
  fx.caption.active = false;
  fx.showCaption = false;
  EXPECT_TRUE(fx.LoadPic());
  EXPECT_FALSE(fx.caption.active) << "captions off: no picture caption";
}

// ---------------------------------------------------------------------------
// Picture changes off the animation thread

namespace {

// Steps with no time passing until the change under way has taken effect.
void AwaitPicture(MAINCODE& e) {
  for (int i = 0; i < 20000 && e.PicChangePending(); ++i) {
    usleep(500);
    e.Move(0.0f);
  }
}

// The next step changes phase with a picture due.
void DuePicture(MAINCODE& e) {
  e.picTimer = -1;
  e.phaseTime = -1;
}

}  // namespace

TEST_F(Effect, ADecodedPictureTakesEffectLaterExactlyAsIfLoadedAtOnce) {
  // The change draws its numbers at the phase change as ever; the old
  // picture, name and letters stay until the decode is taken; then name,
  // colours and letters are those of a change that waited. (A caption draws
  // numbers when it is set, so it is off here.)
  auto run = [&](MAINCODE& e, bool wait, int* nextDraw) {
    WriteSolid(dir.File("red.png"), 4, 4, {255, 0, 0});
    std::remove(dir.File("Stripes.png").c_str());
    SETTINGS s = SettingsFor(dir.Path(), 400);
    s.SHOWCAPTION = false;
    std::srand(8);
    ASSERT_TRUE(e.Setup(&s));
    e.waitForPictures = wait;
    for (int frame = 0; frame < 30; ++frame) e.Move(1.0f / 30);
    std::remove(dir.File("red.png").c_str());
    WritePicture(dir.File("Stripes.png"), 300, 200, [](int x, int y) {
      return RGB{static_cast<unsigned char>(x), static_cast<unsigned char>(y), 50};
    });
    const PicArray* old = e.picColours;
    DuePicture(e);
    e.Move(1.0f / 30);
    if (!wait) {
      EXPECT_TRUE(e.PicChangePending());
      EXPECT_EQ(old, e.picColours) << "the old picture goes on showing";
      EXPECT_EQ("red", std::string(e.picName));
      EXPECT_EQ((std::set<char>{'r', 'e', 'd'}), LettersShown(e, "red"));
    }
    *nextDraw = std::rand();
    AwaitPicture(e);
  };
  MAINCODE waited;
  int waitedDraw = 0, ownDraw = 0;
  run(waited, true, &waitedDraw);
  run(fx, false, &ownDraw);
  EXPECT_EQ(waitedDraw, ownDraw) << "the change drew other numbers";
  ASSERT_FALSE(fx.PicChangePending());
  EXPECT_EQ("Stripes", std::string(fx.picName));
  EXPECT_EQ(7, fx.nameLen);
  ASSERT_NE(nullptr, fx.picColours);
  EXPECT_EQ(1.5f, fx.picAspect);
  for (int i = 0; i < 400; ++i) {
    ASSERT_TRUE(std::memcmp(&waited.glyphs.cell[i], &fx.glyphs.cell[i], sizeof(CellRect)) == 0)
        << "glyph " << i << " shows another letter";
  }
  const VECTOR3D a = waited.picColours->Colour(123, 45), b = fx.picColours->Colour(123, 45);
  EXPECT_TRUE(a.x == b.x && a.y == b.y && a.z == b.z && a.x == 123.0f / 255);
  waited.Cleanup();
}

TEST_F(Effect, FailedSupersededAbandonedAndSimultaneousDecodesEndCleanly) {
  std::vector<unsigned char> rgb(static_cast<size_t>(3000) * 2000 * 3, 90);
  ASSERT_TRUE(WriteJPEG(dir.File("big.jpg").c_str(), 3000, 2000, rgb.data(), 90));
  SETTINGS s = SettingsFor(dir.Path(), 50);

  // A file that cannot be decoded, and its retry: the failure is still told.
  ASSERT_TRUE(fx.Setup(&s));
  fx.showCaption = false;
  TempDir bad;
  bad.Write("bad.png", std::string("not a picture"));
  std::snprintf(fx.picPath, sizeof fx.picPath, "%s/", bad.Path().c_str());
  DuePicture(fx);
  fx.Move(0.01f);
  ASSERT_TRUE(fx.PicChangePending());
  AwaitPicture(fx);
  EXPECT_EQ("Error loading file:bad.png", CaptionText(fx.caption));
  EXPECT_EQ("ERROR!", std::string(fx.picName));
  EXPECT_EQ(nullptr, fx.picColours);

  // A change still decoding when the next is due gives way to it: only the
  // later picture ever takes effect.
  std::snprintf(fx.picPath, sizeof fx.picPath, "%s/", dir.Path().c_str());
  DuePicture(fx);
  fx.Move(0.01f);
  ASSERT_TRUE(fx.PicChangePending());
  WriteSolid(dir.File("later.png"), 2, 2, {1, 2, 3});
  ASSERT_EQ(0, std::rename(dir.File("big.jpg").c_str(), dir.File("big.dat").c_str()));
  DuePicture(fx);
  for (int i = 0; i < 20000 && (i == 0 || fx.PicChangePending()); ++i) {
    fx.Move(0.0f);
    ASSERT_NE("big", std::string(fx.picName)) << "the superseded picture took effect";
    usleep(500);
  }
  EXPECT_EQ("later", std::string(fx.picName));
  ASSERT_EQ(0, std::rename(dir.File("big.dat").c_str(), dir.File("big.jpg").c_str()));
  std::remove(dir.File("later.png").c_str());

  // Several effects decoding at once, and effects cleaned up or destroyed in
  // the middle of a decode.
  std::vector<MAINCODE> views(4);
  for (MAINCODE& e : views) {
    ASSERT_TRUE(e.Setup(&s));
    DuePicture(e);
    e.Move(0.01f);
    ASSERT_TRUE(e.PicChangePending());
  }
  views[1].Cleanup();
  EXPECT_FALSE(views[1].PicChangePending());
  for (int i : {0, 3}) {
    AwaitPicture(views[i]);
    EXPECT_EQ("big", std::string(views[i].picName));
    EXPECT_EQ(3000, views[i].picWidth);
  }
}

// ---------------------------------------------------------------------------
// Drawing

namespace {

// A 128 x 64 font sheet (16 x 8 cells of 8 x 8 texels), transparent except
// in the cells that `cell` paints.
GLuint MakeFont(const std::function<void(int index, int x, int y, unsigned char* texel)>& cell) {
  std::vector<unsigned char> texels(128 * 64 * 4, 0);
  for (int i = 0; i < 96; ++i) {
    int column = i % 16, row = i / 16;  // row 0 at the top of the sheet
    for (int y = 0; y < 8; ++y) {
      for (int x = 0; x < 8; ++x) {
        int t = 63 - (row * 8 + y);  // GL rows count from the bottom
        cell(i, x, y, &texels[(static_cast<size_t>(t) * 128 + column * 8 + x) * 4]);
      }
    }
  }
  GLuint name = 0;
  glGenTextures(1, &name);
  glBindTexture(GL_TEXTURE_2D, name);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
  glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, 128, 64, 0, GL_RGBA, GL_UNSIGNED_BYTE, texels.data());
  return name;
}

// The scene's view: 45 degree perspective, depth test less-or-equal,
// texturing on, lighting off, alpha blending.
void SetView(int width, int height) {
  glViewport(0, 0, width, height);
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  gluPerspective(45.0, static_cast<double>(width) / height, 1.0, 100.0);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  glEnable(GL_DEPTH_TEST);
  glDepthFunc(GL_LEQUAL);
  glEnable(GL_TEXTURE_2D);
  glDisable(GL_LIGHTING);
  glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
}

// Where a world point lands in window coordinates under SetView.
struct Screen {
  int width, height;
  float sx(float x, float z) const {
    float f = 1.0f / std::tan(22.5f * 3.14159265f / 180.0f);
    return (1.0f + f * height / width * x / -z) * width / 2;
  }
  float sy(float y, float z) const {
    float f = 1.0f / std::tan(22.5f * 3.14159265f / 180.0f);
    return (1.0f + f * y / -z) * height / 2;
  }
};

class EffectDraw : public GLTest {
protected:
  void SetUp() override {
    GLTest::SetUp();
    SetupText();
  }
  void TearDown() override {
    fx.Cleanup();
    GLTest::TearDown();
  }
  MAINCODE fx;
  TempDir dir;
};

}  // namespace

TEST_F(EffectDraw, GlyphQuadsShowTheirLetterCellUprightInTheirColour) {
  // 'A': opaque white top half, clear bottom half. '#': half-transparent white.
  GLuint font = MakeFont([](int index, int, int y, unsigned char* t) {
    if (index == 'A' - 32 && y < 4) t[0] = t[1] = t[2] = t[3] = 255;
    if (index == '#' - 32) t[0] = t[1] = t[2] = 255, t[3] = 128;
  });
  SETTINGS s = SettingsFor(dir.Path(), 3);
  s.CHARSIZE = 100;  // 2 x 2 squares
  ASSERT_TRUE(fx.Setup(&s));
  fx.fontTexture = font;
  auto place = [&](int i, float x, char letter, VECTOR3D colour) {
    EditGlyph(fx, i, [&](GLYPH& g) {
      g.pos = MakePoint(x, 0, -10);
      g.colour = colour;
      CellRect r = CharacterRect(letter);
      g.texLeft = r.left;
      g.texRight = r.right;
      g.texTop = r.top;
      g.texBottom = r.bottom;
    });
  };
  place(0, 0, 'A', MakePoint(0, 1, 0));
  place(1, -2.5f, 'B', MakePoint(1, 1, 1));
  place(2, 2.5f, '#', MakePoint(0, 0, 1));

  SetView(kWidth, kHeight);
  glClearColor(1, 0, 0, 1);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  glDepthMask(GL_FALSE);
  fx.Draw();
  KeepFrame("effect_draw_cells");

  Screen sc{kWidth, kHeight};
  int cx = static_cast<int>(sc.sx(0, -10));
  int upper = static_cast<int>(sc.sy(0.5f, -10)), lower = static_cast<int>(sc.sy(-0.5f, -10));
  RGBA top = Pixel(cx, upper), bottom = Pixel(cx, lower);
  EXPECT_TRUE(top.r == 0 && top.g == 255 && top.b == 0)
      << "top of the 'A' glyph: expected green, got " << top.r << "," << top.g << "," << top.b;
  EXPECT_TRUE(bottom.r == 255 && bottom.g == 0)
      << "bottom half of the cell is clear: expected the red background, got " << bottom.r << ","
      << bottom.g << "," << bottom.b;
  RGBA b = Pixel(static_cast<int>(sc.sx(-2.5f, -10)), upper);
  EXPECT_TRUE(b.r == 255 && b.g == 0 && b.b == 0) << "the empty 'B' cell draws nothing";
  RGBA blended = Pixel(static_cast<int>(sc.sx(2.5f, -10)), upper);
  EXPECT_NEAR(127, blended.r, 2) << "half-transparent letters blend with what is behind";
  EXPECT_NEAR(128, blended.b, 2);
  // Outside every square.
  RGBA out = Pixel(cx, static_cast<int>(sc.sy(1.5f, -10)));
  EXPECT_TRUE(out.r == 255 && out.g == 0);

  // State left behind.
  EXPECT_FALSE(glIsEnabled(GL_BLEND));
  GLboolean mask = GL_FALSE;
  glGetBooleanv(GL_DEPTH_WRITEMASK, &mask);
  EXPECT_TRUE(mask);
  GLfloat current[4];
  glGetFloatv(GL_CURRENT_COLOR, current);
  EXPECT_EQ(0.0f, current[0]);
  EXPECT_EQ(1.0f, current[2]) << "the current colour is the last glyph's";
  EXPECT_EQ(1.0f, current[3]);
  GLint bound = 0;
  glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
  EXPECT_EQ(static_cast<GLint>(font), bound);
  EXPECT_EQ(static_cast<GLenum>(GL_NO_ERROR), glGetError());
}

TEST_F(EffectDraw, GlyphsDoNotHideOneAnotherByDepthButEarlierSolidsHideThem) {
  // The pbuffer may have no depth buffer: draw into a framebuffer that has one.
  GLuint fbo = 0, colour = 0, depth = 0;
  glGenFramebuffers(1, &fbo);
  glBindFramebuffer(GL_FRAMEBUFFER, fbo);
  glGenRenderbuffers(1, &colour);
  glBindRenderbuffer(GL_RENDERBUFFER, colour);
  glRenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, kWidth, kHeight);
  glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, colour);
  glGenRenderbuffers(1, &depth);
  glBindRenderbuffer(GL_RENDERBUFFER, depth);
  glRenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH_COMPONENT24, kWidth, kHeight);
  glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, depth);
  ASSERT_EQ(static_cast<GLenum>(GL_FRAMEBUFFER_COMPLETE), glCheckFramebufferStatus(GL_FRAMEBUFFER));

  GLuint font = MakeFont([](int, int, int, unsigned char* t) { t[0] = t[1] = t[2] = t[3] = 255; });
  SETTINGS s = SettingsFor(dir.Path(), 2);
  s.CHARSIZE = 100;
  ASSERT_TRUE(fx.Setup(&s));
  fx.fontTexture = font;
  EditGlyph(fx, 0, [](GLYPH& g) {
    g.pos = MakePoint(0, 0, -10);
    g.colour = MakePoint(1, 0, 0);
  });
  EditGlyph(fx, 1, [](GLYPH& g) {
    g.pos = MakePoint(0, 0, -20);  // behind the first, drawn after it
    g.colour = MakePoint(0, 0, 1);
  });
  SetView(kWidth, kHeight);
  glClearColor(0, 0, 0, 1);
  glClearDepth(1.0);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  // A solid drawn earlier with depth writes on, over the right half, nearer.
  glDisable(GL_TEXTURE_2D);
  glColor3f(0, 1, 0);
  glBegin(GL_QUADS);
  glVertex3f(0.2f, -3, -5);
  glVertex3f(3, -3, -5);
  glVertex3f(3, 3, -5);
  glVertex3f(0.2f, 3, -5);
  glEnd();
  glEnable(GL_TEXTURE_2D);
  fx.Draw();

  Screen sc{kWidth, kHeight};
  RGBA centre = Pixel(kWidth / 2 - 3, kHeight / 2);
  EXPECT_TRUE(centre.b == 255 && centre.r == 0)
      << "depth writes are off, so the later, farther glyph shows: got " << centre.r << ","
      << centre.g << "," << centre.b;
  RGBA hidden = Pixel(static_cast<int>(sc.sx(0.3f, -5)), kHeight / 2);  // inside glyph 0
  EXPECT_TRUE(hidden.g == 255 && hidden.r == 0 && hidden.b == 0) << "the nearer solid hides the glyphs";
  float stored = 0;
  glReadPixels(kWidth / 2 - 3, kHeight / 2, 1, 1, GL_DEPTH_COMPONENT, GL_FLOAT, &stored);
  EXPECT_EQ(1.0f, stored) << "glyphs wrote depth";

  glBindFramebuffer(GL_FRAMEBUFFER, 0);
  glDeleteRenderbuffers(1, &colour);
  glDeleteRenderbuffers(1, &depth);
  glDeleteFramebuffers(1, &fbo);
}

TEST_F(EffectDraw, AnEmptyBatchStillRestoresBlendingAndDepthWrites) {
  SETTINGS s = SettingsFor(dir.Path(), 0);
  ASSERT_TRUE(fx.Setup(&s));
  glEnable(GL_BLEND);
  glDepthMask(GL_FALSE);
  fx.Draw();
  EXPECT_FALSE(glIsEnabled(GL_BLEND));
  GLboolean mask = GL_FALSE;
  glGetBooleanv(GL_DEPTH_WRITEMASK, &mask);
  EXPECT_TRUE(mask);
  EXPECT_EQ(static_cast<GLenum>(GL_NO_ERROR), glGetError());
}

TEST_F(EffectDraw, InstancesAndArraysDrawTheSameQuadsAsImmediateMode) {
  // Byte for byte, each way Draw has, against the quads sent one call per
  // colour, texture coordinate and corner. Letters of uneven opacity
  // overlap, so the order shows. (llvmpipe draws a quad by another path when
  // the batch of vertices it holds also holds one crossing the frame's edge,
  // and immediate mode's batches follow the history of its buffer; so the
  // glyphs stay inside.)
  GLuint font = MakeFont([](int index, int x, int y, unsigned char* t) {
    t[0] = static_cast<unsigned char>(255 - index);
    t[1] = t[2] = 255;
    t[3] = static_cast<unsigned char>((index * 37 + x * 11 + y * 5) & 255);
  });
  WritePicture(dir.File("Gradient.png"), 64, 48, [](int x, int y) {
    return RGB{static_cast<unsigned char>(x * 4), static_cast<unsigned char>(y * 5), 128};
  });
  SETTINGS s = SettingsFor(dir.Path(), 3000);
  std::srand(21);
  ASSERT_TRUE(fx.Setup(&s));
  fx.fontTexture = font;
  for (int frame = 0; frame < 150; ++frame) fx.Move(1.0f / 30);
  for (int64_t i = 0; i < fx.glyphCount; ++i) {
    EditGlyph(fx, i, [&](GLYPH& g) {
      g.pos = MakePoint(g.pos.x * 0.3f, g.pos.y * 0.3f, -40.0f - static_cast<float>(i % 7) * 0.01f);
    });
  }
  SetView(kWidth, kHeight);
  auto draw = [&](MAINCODE::GlyphDraw way) {
    glClearColor(0.2f, 0.1f, 0.3f, 1);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    if (way != MAINCODE::kGlyphDrawImmediate) {
      fx.glyphDraw = way;
      fx.Draw();
    } else {
      const float h = fx.halfSize;
      glBindTexture(GL_TEXTURE_2D, font);
      glEnable(GL_BLEND);
      glDepthMask(GL_FALSE);
      glBegin(GL_QUADS);
      for (int64_t i = 0; i < fx.glyphCount; ++i) {
        const GLYPH g = fx.Glyph(i);
        glColor4f(g.colour.x, g.colour.y, g.colour.z, 1.0f);
        glTexCoord2f(g.texLeft, g.texTop);
        glVertex3f(g.pos.x - h, g.pos.y + h, g.pos.z);
        glTexCoord2f(g.texRight, g.texTop);
        glVertex3f(g.pos.x + h, g.pos.y + h, g.pos.z);
        glTexCoord2f(g.texRight, g.texBottom);
        glVertex3f(g.pos.x + h, g.pos.y - h, g.pos.z);
        glTexCoord2f(g.texLeft, g.texBottom);
        glVertex3f(g.pos.x - h, g.pos.y - h, g.pos.z);
      }
      glEnd();
      glDisable(GL_BLEND);
      glDepthMask(GL_TRUE);
    }
    return Frame();
  };
  fx.Draw();
  EXPECT_EQ(MAINCODE::kGlyphDrawInstanced, fx.glyphDraw) << "llvmpipe offers OpenGL 3.3 or later";
  GLint program = -1, enabled = -1;
  glGetIntegerv(GL_CURRENT_PROGRAM, &program);
  glGetVertexAttribiv(1, GL_VERTEX_ATTRIB_ARRAY_ENABLED, &enabled);
  EXPECT_EQ(0, program);
  EXPECT_EQ(0, enabled);
  const std::vector<unsigned char> immediate = draw(MAINCODE::kGlyphDrawImmediate);
  size_t lit = 0;
  for (size_t i = 0; i < immediate.size(); ++i)
    lit += immediate[i] != (i % 4 == 0 ? 51 : i % 4 == 1 ? 26 : i % 4 == 2 ? 77 : 255);
  EXPECT_GT(lit, immediate.size() / 8) << "the sheet covers much of the frame";
  for (MAINCODE::GlyphDraw way : {MAINCODE::kGlyphDrawInstanced, MAINCODE::kGlyphDrawArrays}) {
    const std::vector<unsigned char> other = draw(way);
    size_t differ = 0;
    for (size_t i = 0; i < immediate.size(); ++i) differ += immediate[i] != other[i];
    EXPECT_EQ(0u, differ) << "bytes that differ from immediate mode, way " << way;
  }
  EXPECT_EQ(static_cast<GLenum>(GL_NO_ERROR), glGetError());
}

TEST_F(EffectDraw, BetweenStepsEachWayBlendsTheLastTwoStepsAndAJumpIsNotSmeared) {
  GLuint font = MakeFont([](int, int, int, unsigned char* t) { t[0] = t[1] = t[2] = t[3] = 255; });
  SetView(kWidth, kHeight);
  auto frame = [&](float blend) {
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    fx.Draw(blend);
    return Frame();
  };
  for (MAINCODE::GlyphDraw way :
       {MAINCODE::kGlyphDrawInstanced, MAINCODE::kGlyphDrawArrays, MAINCODE::kGlyphDrawImmediate}) {
    SETTINGS s = SettingsFor(dir.Path(), 400);
    std::srand(5);
    ASSERT_TRUE(fx.Setup(&s));
    fx.fontTexture = font;
    fx.keepPrevious = true;
    fx.Draw();  // chooses the instanced draw
    if (way != MAINCODE::kGlyphDrawInstanced) fx.glyphDraw = way;
    for (int step = 0; step < 20; ++step) fx.Move(1.0f / 30);
    const std::vector<unsigned char> before = frame(1);
    fx.Move(1.0f / 30);
    EXPECT_TRUE(before == frame(0)) << "way " << way << ": blend 0 shows the step before";
    const std::vector<unsigned char> last = frame(1), half = frame(0.5f);
    EXPECT_FALSE(before == last) << "way " << way;
    EXPECT_FALSE(half == before || half == last) << "way " << way << ": half way is neither";
    // A glyph placed anew is shown where it is, from nowhere between.
    EditGlyph(fx, 0, [](GLYPH& g) { g.pos = MakePoint(0, 0, -5); });
    EXPECT_TRUE(frame(1) == frame(0.5f)) << "way " << way;
    fx.Cleanup();
    fx.fontTexture = font = MakeFont([](int, int, int, unsigned char* t) { t[0] = t[1] = t[2] = t[3] = 255; });
  }
  EXPECT_EQ(static_cast<GLenum>(GL_NO_ERROR), glGetError());
}

TEST_F(EffectDraw, CleanupDeletesTheFontTextureAndReleasesEverything) {
  WriteSolid(dir.File("p.png"), 2, 2, {1, 2, 3});
  GLuint font = MakeFont([](int, int, int, unsigned char*) {});
  ASSERT_TRUE(glIsTexture(font));
  SETTINGS s = SettingsFor(dir.Path(), 10);
  ASSERT_TRUE(fx.Setup(&s));
  fx.fontTexture = font;
  fx.Draw();
  const GLuint program = fx.glyphProgram;
  ASSERT_TRUE(glIsProgram(program));
  fx.Cleanup();
  EXPECT_FALSE(glIsTexture(font));
  EXPECT_FALSE(glIsProgram(program));
  EXPECT_EQ(nullptr, fx.glyphs.x);
  EXPECT_EQ(nullptr, fx.picColours);
  fx.Cleanup();  // twice is harmless
}

// A few seconds of the real effect drawn at 320 x 240: the rendered sheet
// shows the glyphs' colours, and those follow the picture under them.
namespace {

struct RenderCheck {
  int checked = 0;
  int mismatched = 0;
  std::string firstMismatch;
};

// Compares every second pixel whose colour is certain (the last glyph drawn
// there covers it with most of a pixel to spare, and no later glyph comes that
// close) with that glyph's colour.
RenderCheck CompareWithGlyphs(const MAINCODE& fx, const std::vector<unsigned char>& frame,
                              int width, int height) {
  Screen sc{width, height};
  struct Box {
    float x0, x1, y0, y1;
    bool visible;
  };
  std::vector<Box> boxes(static_cast<size_t>(fx.glyphCount));
  for (int64_t i = 0; i < fx.glyphCount; ++i) {
    const GLYPH g = fx.Glyph(i);
    Box& b = boxes[i];
    b.visible = g.pos.z < -1.01f && g.pos.z > -99.9f;
    if (!b.visible) continue;
    b.x0 = sc.sx(g.pos.x - fx.halfSize, g.pos.z);
    b.x1 = sc.sx(g.pos.x + fx.halfSize, g.pos.z);
    b.y0 = sc.sy(g.pos.y - fx.halfSize, g.pos.z);
    b.y1 = sc.sy(g.pos.y + fx.halfSize, g.pos.z);
  }
  RenderCheck result;
  for (int y = 2; y < height - 2; y += 2) {
    for (int x = 2; x < width - 2; x += 2) {
      float cx = x + 0.5f, cy = y + 0.5f, m = 0.75f;
      int64_t last = -1;
      for (int64_t i = fx.glyphCount - 1; i >= 0; --i) {
        const Box& b = boxes[i];
        if (b.visible && b.x0 < cx + m && b.x1 > cx - m && b.y0 < cy + m && b.y1 > cy - m) {
          last = i;
          break;
        }
      }
      if (last < 0) continue;
      const Box& b = boxes[last];
      if (!(b.x0 < cx - m && b.x1 > cx + m && b.y0 < cy - m && b.y1 > cy + m)) continue;
      const VECTOR3D c = fx.Glyph(last).colour;
      const unsigned char* p = &frame[(static_cast<size_t>(y) * width + x) * 4];
      ++result.checked;
      int want[3] = {static_cast<int>(std::lround(c.x * 255)), static_cast<int>(std::lround(c.y * 255)),
                     static_cast<int>(std::lround(c.z * 255))};
      if (std::abs(p[0] - want[0]) > 2 || std::abs(p[1] - want[1]) > 2 ||
          std::abs(p[2] - want[2]) > 2) {
        if (result.mismatched++ == 0) {
          result.firstMismatch = "pixel " + std::to_string(x) + "," + std::to_string(y) +
                                 " is " + std::to_string(p[0]) + "," + std::to_string(p[1]) + "," +
                                 std::to_string(p[2]) + ", glyph " + std::to_string(last) +
                                 " has " + std::to_string(want[0]) + "," + std::to_string(want[1]) +
                                 "," + std::to_string(want[2]);
        }
      }
    }
  }
  return result;
}

// Runs the effect for `seconds` at 1/30 s a frame and draws it once.
void RunAndDraw(MAINCODE& fx, float seconds, int width, int height) {
  for (int frame = 0; frame < static_cast<int>(seconds * 30); ++frame) fx.Move(1.0f / 30);
  SetView(width, height);
  glClearColor(0, 0, 0, 1);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  glColor4f(1, 1, 1, 1);
  fx.Draw();
  glFinish();
}

}  // namespace

TEST_F(EffectDraw, HeadlessRenderShowsTheMosaicOfThePicture) {
  const int W = 320, H = 240;
  ASSERT_TRUE(gl.Resize(W, H));
  // Left half red, right half blue.
  WritePicture(dir.File("halves.png"), 64, 48, [](int x, int) {
    return x < 32 ? RGB{255, 0, 0} : RGB{0, 0, 255};
  });
  GLuint font = MakeFont([](int, int, int, unsigned char* t) { t[0] = t[1] = t[2] = t[3] = 255; });

  // The glyphs' colours follow the picture under their targets. Seeds are
  // tried until the window shows enough of both halves.
  int red = 0, blue = 0, wrong = 0;
  unsigned seed = 1;
  for (; seed < 20; ++seed) {
    fx.Cleanup();
    SETTINGS s = SettingsFor(dir.Path(), 15000);
    std::srand(seed);
    ASSERT_TRUE(fx.Setup(&s));
    for (int frame = 0; frame < 8 * 30; ++frame) fx.Move(1.0f / 30);
    ASSERT_FALSE(fx.spinMode) << "the first phase (10 s or more) is flat";
    red = blue = wrong = 0;
    for (int64_t i = 0; i < fx.glyphCount; ++i) {
      const GLYPH g = fx.Glyph(i);
      float px = g.home.x / 20 * fx.sampleScale / fx.picAspect + fx.samplePos.x;
      float py = g.home.y / 20 * fx.sampleScale + fx.samplePos.y;
      if (py < 0.05f || py > 0.95f || px < 0.05f || px > 0.95f || std::fabs(px - 0.5f) < 0.05f)
        continue;
      bool wantRed = px < 0.5f;
      bool isRed = g.colour.x > 0.9f && g.colour.z < 0.1f;
      bool isBlue = g.colour.z > 0.9f && g.colour.x < 0.1f;
      if (wantRed ? isRed : isBlue) wantRed ? ++red : ++blue;
      else ++wrong;
    }
    EXPECT_EQ(0, wrong) << "seed " << seed
                        << ": glyphs well inside one half of the picture with another colour";
    if (red > 1000 && blue > 1000) break;
  }
  ASSERT_LT(seed, 20u) << "no seed showed both halves";

  fx.fontTexture = font;
  RunAndDraw(fx, 0.0f, W, H);
  std::vector<unsigned char> frame = Frame();
  KeepFrame("effect_mosaic_halves");

  // The rendered pixels are the glyphs' colours.
  RenderCheck check = CompareWithGlyphs(fx, frame, W, H);
  EXPECT_GT(check.checked, 1000);
  EXPECT_EQ(0, check.mismatched) << check.firstMismatch;

  // And the sheet reads as the picture: red pixels left of blue ones.
  double redX = 0, blueX = 0;
  int redCount = 0, blueCount = 0;
  for (int y = 0; y < H; ++y) {
    for (int x = 0; x < W; ++x) {
      const unsigned char* p = &frame[(static_cast<size_t>(y) * W + x) * 4];
      if (p[0] > 200 && p[2] < 50) redX += x, ++redCount;
      if (p[2] > 200 && p[0] < 50) blueX += x, ++blueCount;
    }
  }
  ASSERT_GT(redCount, 500);
  ASSERT_GT(blueCount, 500);
  EXPECT_LT(redX / redCount, blueX / blueCount) << "red half of the picture drawn left of the blue";
}

TEST_F(EffectDraw, HeadlessRenderOfTheBuiltInPicture) {
  const std::string pics = std::string(GLYMMER_SOURCE_DIR) + "/resources/pics";
  if (ReadFileBytes(pics + "/Quorinda.jpg").empty()) GTEST_SKIP() << "no built-in picture";
  const int W = 320, H = 240;
  ASSERT_TRUE(gl.Resize(W, H));
  GLuint font = MakeFont([](int, int, int, unsigned char* t) { t[0] = t[1] = t[2] = t[3] = 255; });
  // A seed whose window takes in most of the picture and whose sheet is far
  // enough away to be seen whole, for a person looking at the frame.
  for (unsigned seed = 1; seed < 200; ++seed) {
    fx.Cleanup();
    SETTINGS s = SettingsFor(pics, 15000);
    s.MLFIRST = true;
    std::srand(seed);
    ASSERT_TRUE(fx.Setup(&s));
    fx.Move(1.0f / 30);
    if (fx.sampleScale > 0.8f && fx.centre.z < -22) break;
  }
  ASSERT_EQ("Quorinda", std::string(fx.picName));
  fx.fontTexture = font;
  RunAndDraw(fx, 8.0f, W, H);
  std::vector<unsigned char> frame = Frame();
  KeepFrame("effect_mosaic_quorinda");

  // Every glyph inside the window is close to the picture colour under it.
  int inside = 0, near = 0;
  for (int64_t i = 0; i < fx.glyphCount; ++i) {
    const GLYPH g = fx.Glyph(i);
    float px = g.home.x / 20 * fx.sampleScale / fx.picAspect + fx.samplePos.x;
    float py = g.home.y / 20 * fx.sampleScale + fx.samplePos.y;
    if (!(px > 0 && px < 1 && py > 0 && py < 1)) continue;
    ++inside;
    const VECTOR3D want = fx.picColours->Colour(static_cast<int>(fx.picWidth * px),
                                                static_cast<int>(fx.picHeight * py));
    if (std::fabs(want.x - g.colour.x) + std::fabs(want.y - g.colour.y) +
            std::fabs(want.z - g.colour.z) < 0.3f)
      ++near;
  }
  ASSERT_GT(inside, 1000);
  EXPECT_GT(near, inside * 8 / 10) << near << " of " << inside << " glyphs near their pixel";
  RenderCheck check = CompareWithGlyphs(fx, frame, W, H);
  EXPECT_GT(check.checked, 1000);
  EXPECT_EQ(0, check.mismatched) << check.firstMismatch;
}
