// The scene controller and its overlay on a real GL context, with a small
// archive of solid-colour textures so that every piece can be recognised.

#include "support/TestSupport.h"

#include "effect/Code.h"
#include "host/Settings.h"
#include "maths/Misc.h"
#include "platform/ImageFile.h"
#include "scene/SSMain.h"
#include "textures/Texture.h"

#include <GL/gl.h>
#include <GL/glu.h>

#include <sys/stat.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Solid {
  int width, height;
  unsigned char r, g, b;
};

void Put32(std::string& s, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) s[at + i] = static_cast<char>((v >> (8 * i)) & 0xff);
}

std::string SolidTGA(const Solid& image) {
  std::string tga(18, '\0');
  tga[2] = 2;
  tga[12] = static_cast<char>(image.width & 0xff);
  tga[13] = static_cast<char>(image.width >> 8);
  tga[14] = static_cast<char>(image.height & 0xff);
  tga[15] = static_cast<char>(image.height >> 8);
  tga[16] = 24;
  for (int i = 0; i < image.width * image.height; ++i) {
    tga += static_cast<char>(image.b);
    tga += static_cast<char>(image.g);
    tga += static_cast<char>(image.r);
  }
  return tga;
}

// An archive whose image lumps are the given solid images, all opaque.
std::string Archive(const std::vector<Solid>& images) {
  std::string file(24, '\0');
  std::memcpy(&file[0], "KAMB", 4);
  std::vector<std::pair<uint32_t, uint32_t>> lumps;
  for (const Solid& image : images) {
    std::string tga = SolidTGA(image);
    lumps.emplace_back(static_cast<uint32_t>(tga.size()), static_cast<uint32_t>(file.size()));
    file += tga;
  }
  uint32_t dirOffset = static_cast<uint32_t>(file.size());
  for (auto& lump : lumps) {
    std::string entry(28, '\0');
    Put32(entry, 0, lump.first);
    Put32(entry, 4, lump.second);
    Put32(entry, 8, 1);
    Put32(entry, 12, 0);
    file += entry;
  }
  Put32(file, 12, static_cast<uint32_t>(images.size()));
  Put32(file, 20, dirOffset);
  Put32(file, 16, ~static_cast<uint32_t>(file.size()));
  return file;
}

const Solid kFont{16, 8, 255, 255, 255};
const Solid kLogo{4, 4, 255, 0, 0};
const Solid kSpare{1, 1, 9, 9, 9};
const Solid kBannerA{4, 4, 0, 255, 0};
const Solid kBannerB{4, 4, 0, 0, 255};

class SceneTest : public GLTest {
protected:
  static constexpr int W = 640;
  static constexpr int H = 240;

  void SetUp() override {
    GLTest::SetUp();
    ASSERT_TRUE(gl.Resize(W, H));
    archive = dir.Write("zentari.vostrelli",
                        Archive({kFont, kLogo, kSpare, kSpare, kBannerA, kBannerB}));
    std::string pics = dir.File("pics");
    ASSERT_EQ(0, mkdir(pics.c_str(), 0755));
    std::vector<unsigned char> grey(8 * 8 * 3, 128);
    ASSERT_TRUE(WriteJPEG((pics + "/Quorinda.jpg").c_str(), 8, 8, grey.data(), 90));
    std::snprintf(settings.PicPath, sizeof settings.PicPath, "%s/", pics.c_str());
    settings.PIC_SIZE = 0;  // overlay tests: no glyphs in the way
    glViewport(0, 0, W, H);
    glClearColor(0, 0, 0, 0);
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LEQUAL);
  }

  void TearDown() override {
    scene.Cleanup();
    GLTest::TearDown();
  }

  // One frame as the view draws it: perspective, identity model-view, Draw.
  void Frame(double dt) {
    scene.Update(dt);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluPerspective(45.0, static_cast<float>(W) / static_cast<float>(H), 1.0, 100.0);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    scene.Draw();
  }

  // Runs frames of 1/30 s until `seconds` of scene time have passed.
  void RunTo(double seconds) {
    while (elapsed + 1e-9 < seconds) {
      Frame(1.0 / 30);
      elapsed += 1.0 / 30;
    }
  }

  bool Near(GLTest::RGBA p, int r, int g, int b) {
    return std::abs(p.r - r) < 12 && std::abs(p.g - g) < 12 && std::abs(p.b - b) < 12;
  }

  // Counts pixels of the given colour in rows [y0, y1).
  int CountColour(int y0, int y1, int r, int g, int b) {
    std::vector<unsigned char> rgba = GLTest::Frame();
    int n = 0;
    for (int y = y0; y < y1; ++y)
      for (int x = 0; x < W; ++x) {
        const unsigned char* p = &rgba[(static_cast<size_t>(y) * W + x) * 4];
        if (std::abs(p[0] - r) < 12 && std::abs(p[1] - g) < 12 && std::abs(p[2] - b) < 12) ++n;
      }
    return n;
  }

  TempDir dir;
  std::string archive;
  SETTINGS settings;
  SSMAIN scene;
  double elapsed = 0;
};

}  // namespace

TEST_F(SceneTest, SetupLoadsSlotsAndSetsTheStartupCaption) {
  ASSERT_TRUE(scene.Setup(false, W, H, &settings, archive.c_str()));
  EXPECT_EQ(6, scene.textureCount);
  ASSERT_NE(nullptr, scene.effect);
  EXPECT_EQ(scene.textures[0].glName, scene.effect->fontTexture);
  EXPECT_TRUE(scene.effect->caption.active);
  EXPECT_EQ("Display your own images! See the website for info.",
            std::string(scene.effect->caption.text, scene.effect->caption.length));
  EXPECT_EQ(15.0f, scene.effect->caption.timer);
  EXPECT_EQ(16.0f, scene.effect->caption.size);
  EXPECT_EQ(W, scene.width);
  EXPECT_EQ(H, scene.height);
}

TEST_F(SceneTest, ConstructionDefaults) {
  EXPECT_EQ(80.0f, scene.bandTimer);
  EXPECT_FALSE(scene.bandShown);
  EXPECT_FALSE(scene.bandAtTop);
  EXPECT_EQ(-35.0f, scene.bandPos.y);
  EXPECT_EQ(5u, scene.bannerIndex);
  EXPECT_EQ(60.0f, scene.dimTimer);
  EXPECT_EQ(0.0f, scene.dimAlpha);
  EXPECT_EQ(nullptr, scene.textures);
  EXPECT_EQ(nullptr, scene.effect);
}

TEST_F(SceneTest, UpdateReplacesTheStep) {
  ASSERT_TRUE(scene.Setup(false, W, H, &settings, archive.c_str()));
  scene.Update(1.0);
  scene.Update(0.25);
  scene.Draw();
  EXPECT_FLOAT_EQ(79.75f, scene.bandTimer);
  EXPECT_FLOAT_EQ(59.75f, scene.dimTimer);
}

TEST_F(SceneTest, BandFirstShowsAtTheTopAfter80SecondsThenAlternates) {
  settings.SHOWCAPTION = false;  // no picture caption over the bottom band at 120 s
  ASSERT_TRUE(scene.Setup(false, W, H, &settings, archive.c_str()));
  RunTo(79.9);
  EXPECT_FALSE(scene.bandShown);
  EXPECT_EQ(0, CountColour(0, H, 255, 0, 0)) << "no logo before 80 s";
  RunTo(86);
  EXPECT_TRUE(scene.bandShown);
  EXPECT_TRUE(scene.bandAtTop);
  EXPECT_NEAR(H - 40, scene.bandPos.y, 1.0);
  // The banner (512 wide, centred) is drawn after the logo and overlaps it;
  // together they fill 576 columns of the top strip, the logo's outer end
  // showing beside the banner.
  auto band = [&](int y0, int y1) {
    return CountColour(y0, y1, 255, 0, 0) + CountColour(y0, y1, 0, 255, 0) +
           CountColour(y0, y1, 0, 0, 255);
  };
  EXPECT_GE(band(H - 40, H - 8), 576 * 31) << "the band lies along the top";
  EXPECT_GE(CountColour(H - 40, H - 8, 255, 0, 0), 64 * 31) << "the logo shows beside the banner";
  EXPECT_EQ(0, band(0, H / 2));
  // Shown for 20 s, hidden for 30 s, then shown at the bottom edge (after
  // the dimming of 120 to 142 s, which would cover it).
  RunTo(101);
  EXPECT_FALSE(scene.bandShown);
  RunTo(145);
  EXPECT_TRUE(scene.bandShown);
  EXPECT_FALSE(scene.bandAtTop);
  EXPECT_NEAR(5, scene.bandPos.y, 1.0);
  EXPECT_GE(band(6, 37), 576 * 31);
  EXPECT_EQ(0, band(H / 2, H));
}

TEST_F(SceneTest, BandSideAndBannerAreDrawnAtRandom) {
  bool left = false, right = false, bannerA = false, bannerB = false;
  for (unsigned seed = 1; seed < 40 && !(left && right && bannerA && bannerB); ++seed) {
    SSMAIN s;
    ASSERT_TRUE(s.Setup(false, W, H, &settings, archive.c_str()));
    s.bandTimer = 0.01f;
    std::srand(seed);
    s.Update(0.02);
    s.Draw();
    EXPECT_TRUE(s.bandShown);
    if (s.bandPos.x == 0) left = true;
    else if (s.bandPos.x == W - 256) right = true;
    else ADD_FAILURE() << "logo at x = " << s.bandPos.x;
    (s.bannerIndex == 4 ? bannerA : bannerB) = true;
    EXPECT_TRUE(s.bannerIndex == 4 || s.bannerIndex == 5);
    EXPECT_EQ(20.0f, s.bandTimer);
    EXPECT_TRUE(s.bandAtTop);
    s.Cleanup();
  }
  EXPECT_TRUE(left && right) << "both sides should occur";
  EXPECT_TRUE(bannerA && bannerB) << "both banners should occur";
}

TEST_F(SceneTest, TimersAtExactlyZeroDoNotSwitch) {
  ASSERT_TRUE(scene.Setup(false, W, H, &settings, archive.c_str()));
  scene.bandTimer = 0.5f;
  scene.dimTimer = 0.5f;
  Frame(0.5);
  EXPECT_EQ(0.0f, scene.bandTimer);
  EXPECT_FALSE(scene.bandShown);
  EXPECT_EQ(0.0f, scene.dimAlpha);
  Frame(0.0625);
  EXPECT_TRUE(scene.bandShown);
  EXPECT_GT(scene.dimAlpha, 0.0f);
}

TEST_F(SceneTest, DimmingCycle) {
  ASSERT_TRUE(scene.Setup(false, W, H, &settings, archive.c_str()));
  RunTo(59.9);
  EXPECT_EQ(0.0f, scene.dimAlpha);
  RunTo(62.1);
  EXPECT_EQ(1.0f, scene.dimAlpha);
  // Black everywhere but the full-width banner across the middle (slot 5,
  // since the band has not shown yet).
  int midRow = static_cast<int>((352 + 32) * H / 768.0);
  std::vector<unsigned char> rgba = GLTest::Frame();
  EXPECT_TRUE(Near(Pixel(10, midRow), 0, 0, 255)) << "banner across the middle";
  EXPECT_TRUE(Near(Pixel(W - 10, midRow), 0, 0, 255));
  EXPECT_TRUE(Near(Pixel(W / 2, 5), 0, 0, 0)) << "dimmed to black below";
  EXPECT_TRUE(Near(Pixel(W / 2, H - 5), 0, 0, 0)) << "dimmed to black above";
  RunTo(80.5);
  EXPECT_GT(scene.dimTimer, 39.0f) << "timer restarts at 40 once below -20";
  EXPECT_LE(scene.dimTimer, 40.0f);
  RunTo(82.2);
  EXPECT_EQ(0.0f, scene.dimAlpha);
  RunTo(119);
  EXPECT_EQ(0.0f, scene.dimAlpha);
  RunTo(121);
  EXPECT_GT(scene.dimAlpha, 0.0f) << "the next dimming 60 s after the first";
}

TEST_F(SceneTest, PreviewDrawsTheEffectOnly) {
  settings.PIC_SIZE = 50;
  SSMAIN full, preview;
  ASSERT_TRUE(preview.Setup(true, W, H, &settings, archive.c_str()));
  ASSERT_TRUE(full.Setup(false, W, H, &settings, archive.c_str()));
  for (SSMAIN* s : {&full, &preview}) {
    s->bandTimer = 0.01f;  // band about to show
    s->dimTimer = -5;      // dimming under way
    s->dimAlpha = 0.9f;
    for (int i = 0; i < 5; ++i) s->effect->caption.alpha[i] = 1;
  }
  full.Update(0.05);
  full.Draw();
  EXPECT_TRUE(full.bandShown);
  EXPECT_GT(full.dimAlpha, 0.9f);
  preview.Update(0.05);
  preview.Draw();
  EXPECT_FALSE(preview.bandShown) << "the preview never runs the overlay";
  EXPECT_FLOAT_EQ(0.9f, preview.dimAlpha);
  EXPECT_FLOAT_EQ(preview.effect->caption.timer, 15.0f) << "caption not drawn, so it does not age";
  full.Cleanup();
  preview.Cleanup();
}

TEST_F(SceneTest, CaptionSitsAtTheBottomCentreOfAnySize) {
  for (auto size : {std::pair<int, int>{640, 240}, {300, 500}, {1024, 768}}) {
    ASSERT_TRUE(gl.Resize(size.first, size.second));
    glViewport(0, 0, size.first, size.second);
    SSMAIN s;
    ASSERT_TRUE(s.Setup(false, size.first, size.second, &settings, archive.c_str()));
    s.effect->caption.Set("MMMM", MakePoint(1, 1, 1), 30, 32);
    for (int i = 0; i < 4; ++i) s.effect->caption.alpha[i] = 1;
    s.Update(0.01);
    s.Draw();
    std::vector<unsigned char> rgba;
    ASSERT_TRUE(gl.ReadPixels(rgba));
    // Bounding box of white pixels.
    int minX = 1 << 30, maxX = -1, minY = 1 << 30, maxY = -1;
    for (int y = 0; y < size.second; ++y)
      for (int x = 0; x < size.first; ++x) {
        const unsigned char* p = &rgba[(static_cast<size_t>(y) * size.first + x) * 4];
        if (p[0] > 200 && p[1] > 200 && p[2] > 200) {
          minX = std::min(minX, x);
          maxX = std::max(maxX, x);
          minY = std::min(minY, y);
          maxY = std::max(maxY, y);
        }
      }
    ASSERT_GE(maxX, 0) << "caption not drawn at " << size.first << "x" << size.second;
    double sx = size.first / 1024.0, sy = size.second / 768.0;
    // Four letters of 32 advancing 24: from 512 - 6 * 12 + 24 = 464 to 464 + 3 * 24 + 32 = 568.
    EXPECT_NEAR(464 * sx, minX, 2);
    EXPECT_NEAR(568 * sx, maxX + 1, 2);
    EXPECT_NEAR(34 * sy, minY, 2);
    EXPECT_NEAR(66 * sy, maxY + 1, 2);
    s.Cleanup();
  }
}

TEST_F(SceneTest, CleanupTwiceIsHarmless) {
  ASSERT_TRUE(scene.Setup(false, W, H, &settings, archive.c_str()));
  scene.Cleanup();
  EXPECT_EQ(nullptr, scene.effect);
  EXPECT_EQ(nullptr, scene.textures);
  EXPECT_EQ(6, scene.textureCount) << "the count keeps its value";
  scene.Cleanup();
  EXPECT_EQ(GL_FALSE, glIsEnabled(GL_CULL_FACE));
  EXPECT_EQ(GL_FALSE, glIsEnabled(GL_LIGHTING));
}

TEST_F(SceneTest, DrawAfterAFailedSetupStillClears) {
  EXPECT_FALSE(scene.Setup(false, W, H, &settings, dir.File("missing.vostrelli").c_str()));
  EXPECT_EQ(nullptr, scene.effect);
  glClearColor(1, 0, 0, 1);
  glClear(GL_COLOR_BUFFER_BIT);
  glClearColor(0, 0, 0, 0);
  RunTo(90);  // through the band's and the dimming's timetables
  EXPECT_TRUE(Near(Pixel(W / 2, H / 2), 0, 0, 0));
  EXPECT_TRUE(scene.bandShown);
}

TEST_F(SceneTest, ArchiveWithFewerSlotsDrawsWhatExists) {
  std::string small = dir.Write("small.vostrelli", Archive({kFont, kLogo}));
  ASSERT_TRUE(scene.Setup(false, W, H, &settings, small.c_str()));
  EXPECT_EQ(2, scene.textureCount);
  RunTo(86);
  EXPECT_TRUE(scene.bandShown);
  EXPECT_GT(CountColour(H - 40, H - 8, 255, 0, 0), 256 * 30) << "the logo still shows";
  EXPECT_EQ(0, CountColour(0, H, 0, 255, 0) + CountColour(0, H, 0, 0, 255));
}

TEST_F(SceneTest, MosaicIsDrawnUnderTheOverlay) {
  settings.PIC_SIZE = 2000;
  ASSERT_TRUE(scene.Setup(false, W, H, &settings, archive.c_str()));
  RunTo(8);
  // The grey picture: the sheet of glyphs shows mid grey.
  EXPECT_GT(CountColour(0, H, 128, 128, 128), 500);
}
