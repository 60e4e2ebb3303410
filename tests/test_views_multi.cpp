// Several GlymmerViews in one process, as the engine makes one per screen plus
// the preview: each has its own OpenGL context and its own scene, and they are
// set up, run and destroyed in any order without touching each other's GL
// objects. The process-wide state they share (the random generator, the glyph
// cell table, the TGA reader's work areas) must not break any of them.

#include "support/TestSupport.h"

#include "effect/Code.h"
#include "host/GlymmerView.h"
#include "platform/Clock.h"
#include "platform/OpenGLView.h"
#include "platform/ScreenSaverDefaults.h"
#include "platform/Screens.h"
#include "scene/SSMain.h"
#include "text/Text.h"
#include "textures/Texture.h"

#include <GL/gl.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

namespace {

struct Size {
  int width, height;
  bool preview;
};

class ViewsTest : public ::testing::Test {
protected:
  void SetUp() override {
    setenv("XDG_CONFIG_HOME", config.Path().c_str(), 1);
    ScreenSaverDefaults::ForgetStoresForTesting();
    ResetScreens();
    clock.now = 5000.0;
    clock.Install();
  }
  void TearDown() override {
    for (GlymmerView* v : views) delete v;
    clock.Uninstall();
    ResetScreens();
    ScreenSaverDefaults::ForgetStoresForTesting();
  }

  // The store the next view reads: few glyphs so that frames are cheap.
  void StoreSettings(long long glyphs) {
    ScreenSaverDefaults::ForgetStoresForTesting();
    ScreenSaverDefaults* store = ScreenSaverDefaults::defaultsForModuleWithName("kvGlymmerSS");
    store->setObject("1.0", "version");
    store->setBool(false, "MainMonitorOnly");
    store->setBool(true, "ShowCaption");
    store->setBool(true, "MLFirst");
    store->setInteger(60, "CharSize");  // large letters: a few pixels each
    store->setInteger(0, "CharType");
    store->setInteger(glyphs, "PicSize");
    store->setInteger(2, "PicDelay");
    std::string pics = std::string(GLYMMER_SOURCE_DIR) + "/resources/pics/";
    store->setObject(pics.c_str(), "PicPath");
    ASSERT_TRUE(store->synchronize());
    ScreenSaverDefaults::ForgetStoresForTesting();
  }

  GlymmerView* MakeView(Size s) {
    GlymmerView* view = new GlymmerView;
    EXPECT_EQ(view, view->initWithFrame(NSMakeRect(0, 0, s.width, s.height), s.preview));
    view->SetWindow(&window);
    view->setFrameSize(NSMakeSize(s.width, s.height));
    view->startAnimation();
    views.push_back(view);
    return view;
  }

  void Destroy(GlymmerView* view) {
    views.erase(std::find(views.begin(), views.end(), view));
    delete view;
  }

  // One tick of every view, 1/20 s later.
  void TickAll(int ticks = 1) {
    for (int i = 0; i < ticks; ++i) {
      clock.now += 0.05;
      for (GlymmerView* v : views) v->animateOneFrame();
    }
  }

  static void MakeCurrent(GlymmerView* view) {
    ASSERT_TRUE(view->glView->openGLContext()->makeCurrentContext());
  }

  // Draws the view's scene again without moving it (a step of 0 s changes
  // nothing) and reads the frame back.
  static std::vector<unsigned char> Redraw(GlymmerView* view) {
    MakeCurrent(view);
    view->glReshape();
    view->ssMain->Update(0.0);
    view->ssMain->Draw();
    glFlush();
    std::vector<unsigned char> rgba;
    int w = 0, h = 0;
    EXPECT_TRUE(view->glView->ReadPixels(rgba, &w, &h));
    return rgba;
  }

  static int LitPixels(const std::vector<unsigned char>& rgba) {
    int lit = 0;
    for (size_t i = 0; i + 3 < rgba.size(); i += 4) lit += rgba[i] + rgba[i + 1] + rgba[i + 2] > 30;
    return lit;
  }

  // The RGBA texels of texture `name` in the view's context; empty when the
  // name is no texture there.
  static std::vector<unsigned char> Texels(GlymmerView* view, GLuint name) {
    MakeCurrent(view);
    if (!glIsTexture(name)) return {};
    glBindTexture(GL_TEXTURE_2D, name);
    GLint w = 0, h = 0;
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &w);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_HEIGHT, &h);
    std::vector<unsigned char> texels(static_cast<size_t>(w) * h * 4);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_UNSIGNED_BYTE, texels.data());
    return texels;
  }

  // Every built texture slot of the view is still a texture in its own
  // context and holds what the first view's slot holds.
  void ExpectOwnTextures(GlymmerView* view, const std::vector<std::vector<unsigned char>>& want,
                         const char* when) {
    SSMAIN* scene = view->ssMain;
    ASSERT_NE(nullptr, scene);
    ASSERT_EQ(static_cast<int>(want.size()), scene->textureCount);
    for (int i = 0; i < scene->textureCount; ++i) {
      GLuint name = scene->textures[i].glName;
      if (name == 0) continue;
      std::vector<unsigned char> texels = Texels(view, name);
      EXPECT_FALSE(texels.empty()) << "slot " << i << " is no longer a texture " << when;
      EXPECT_TRUE(texels == want[i]) << "slot " << i << " holds other texels " << when;
    }
  }

  std::vector<std::vector<unsigned char>> SlotTexels(GlymmerView* view) {
    std::vector<std::vector<unsigned char>> out;
    for (int i = 0; i < view->ssMain->textureCount; ++i) {
      GLuint name = view->ssMain->textures[i].glName;
      out.push_back(name ? Texels(view, name) : std::vector<unsigned char>());
    }
    return out;
  }

  TempDir config;
  FakeClock clock;
  NSWindow window;
  std::vector<GlymmerView*> views;
};

}  // namespace

TEST_F(ViewsTest, NamesOfOneContextAreNotObjectsOfAnother) {
  StoreSettings(200);
  GlymmerView* first = MakeView({96, 64, false});
  TickAll(3);
  ASSERT_NE(nullptr, first->ssMain);
  GLuint font = first->ssMain->textures[0].glName;
  ASSERT_NE(0u, font);

  // A second view's context before its scene exists knows none of them.
  GlymmerView* second = MakeView({64, 48, true});
  MakeCurrent(second);
  for (int i = 0; i < first->ssMain->textureCount; ++i) {
    GLuint name = first->ssMain->textures[i].glName;
    if (name) {
      EXPECT_FALSE(glIsTexture(name)) << "slot " << i << " of the first view";
    }
  }

  // Once both have scenes, names made in one context stay unknown in the other.
  TickAll(3);
  ASSERT_NE(nullptr, second->ssMain);
  MakeCurrent(first);
  GLuint extra[40];
  glGenTextures(40, extra);
  for (GLuint name : extra) glBindTexture(GL_TEXTURE_2D, name);
  glBindTexture(GL_TEXTURE_2D, 0);
  std::set<GLuint> own;  // the second view's own names may be the same numbers
  for (int i = 0; i < second->ssMain->textureCount; ++i) own.insert(second->ssMain->textures[i].glName);
  MakeCurrent(second);
  for (GLuint name : extra)
    if (!own.count(name)) {
      EXPECT_FALSE(glIsTexture(name)) << "texture " << name << " of the first view";
    }
  MakeCurrent(first);
  glDeleteTextures(40, extra);
}

TEST_F(ViewsTest, SharedStateLeavesEveryViewItsOwnTexturesAndGlyphTable) {
  // Views set up one after another (each re-seeding the random generator and
  // refilling the glyph table, each reading the archive through the TGA
  // reader's shared work areas) while the earlier ones keep running.
  StoreSettings(300);
  GlymmerView* first = MakeView({128, 96, false});
  TickAll(2);
  ASSERT_NE(nullptr, first->ssMain);
  std::vector<std::vector<unsigned char>> reference = SlotTexels(first);
  FontCell table[96];
  std::memcpy(table, FontData, sizeof table);

  StoreSettings(150);
  GlymmerView* second = MakeView({80, 80, false});
  TickAll(2);
  StoreSettings(250);
  GlymmerView* third = MakeView({64, 48, true});
  TickAll(2);
  StoreSettings(100);
  GlymmerView* fourth = MakeView({100, 60, false});
  TickAll(100);

  EXPECT_EQ(0, std::memcmp(table, FontData, sizeof table)) << "the glyph table changed";
  EXPECT_EQ(300, first->ssMain->effect->glyphCount);
  EXPECT_EQ(150, second->ssMain->effect->glyphCount);
  EXPECT_EQ(250, third->ssMain->effect->glyphCount);
  EXPECT_EQ(100, fourth->ssMain->effect->glyphCount);
  for (GlymmerView* v : views) {
    ExpectOwnTextures(v, reference, "after four set-ups");
    EXPECT_EQ(v->ssMain->textures[0].glName, v->ssMain->effect->fontTexture);
    std::vector<unsigned char> frame = Redraw(v);
    EXPECT_GT(LitPixels(frame), 50) << "a view of " << v->Scrn.size.width << " wide draws nothing";
  }
}

// Destruction orders over four views: indices into the creation order.
class ViewsDestroyedInOrder : public ViewsTest,
                              public ::testing::WithParamInterface<std::vector<int>> {};

TEST_P(ViewsDestroyedInOrder, OthersKeepDrawingTheSameFrames) {
  const Size sizes[4] = {{96, 64, false}, {64, 48, true}, {80, 80, false}, {120, 90, false}};
  const long long glyphs[4] = {200, 120, 160, 240};
  std::vector<GlymmerView*> made;
  for (int i = 0; i < 4; ++i) {
    StoreSettings(glyphs[i]);
    made.push_back(MakeView(sizes[i]));
    TickAll(3);  // set up while the others run
  }
  TickAll(100);
  std::vector<std::vector<unsigned char>> reference = SlotTexels(made[0]);

  for (int index : GetParam()) {
    GlymmerView* going = made[index];
    // Each survivor's frame, drawn last so that its context is the current
    // one when the other view goes.
    std::vector<GlymmerView*> stay;
    std::vector<std::vector<unsigned char>> before;
    for (GlymmerView* v : views)
      if (v != going) stay.push_back(v);
    for (GlymmerView* v : stay) {
      before.push_back(Redraw(v));
      ASSERT_GT(LitPixels(before.back()), 50) << "nothing on view " << v->Scrn.size.width;
    }
    Destroy(going);
    const std::string when = "after view " + std::to_string(index) + " went";
    for (size_t k = 0; k < stay.size(); ++k) {
      ExpectOwnTextures(stay[k], reference, when.c_str());
      std::vector<unsigned char> after = Redraw(stay[k]);
      EXPECT_TRUE(after == before[k])
          << "view " << stay[k]->Scrn.size.width << "x" << stay[k]->Scrn.size.height
          << " draws another frame " << when;
    }
    // And the survivors go on running.
    std::vector<uint64_t> frames;
    for (GlymmerView* v : stay) frames.push_back(v->glView->PresentedFrames());
    TickAll(5);
    for (size_t k = 0; k < stay.size(); ++k)
      EXPECT_EQ(frames[k] + 5, stay[k]->glView->PresentedFrames()) << when;
  }
  EXPECT_TRUE(views.empty());
}

INSTANTIATE_TEST_SUITE_P(Orders, ViewsDestroyedInOrder,
                         ::testing::Values(std::vector<int>{0, 1, 2, 3},
                                           std::vector<int>{3, 2, 1, 0},
                                           std::vector<int>{1, 3, 0, 2},
                                           std::vector<int>{2, 0, 3, 1}));

TEST_F(ViewsTest, ViewsComeAndGoWhileOthersRun) {
  // The engine may create a view (a newly connected screen, the preview) at
  // any time and destroy it again; the long-lived view is undisturbed.
  StoreSettings(200);
  GlymmerView* lasting = MakeView({96, 64, false});
  TickAll(10);
  std::vector<std::vector<unsigned char>> reference = SlotTexels(lasting);
  for (int round = 0; round < 4; ++round) {
    GlymmerView* a = MakeView({48 + 16 * round, 40, round % 2 == 0});
    TickAll(2);
    GlymmerView* b = MakeView({64, 32 + 8 * round, false});
    TickAll(3);
    ASSERT_NE(nullptr, a->ssMain);
    ASSERT_NE(nullptr, b->ssMain);
    std::vector<unsigned char> before = Redraw(lasting);
    if (round % 2) {
      Destroy(a);
      Destroy(b);
    } else {
      Destroy(b);
      Destroy(a);
    }
    ExpectOwnTextures(lasting, reference, ("in round " + std::to_string(round)).c_str());
    EXPECT_TRUE(Redraw(lasting) == before) << "round " << round;
    TickAll(4);
  }
  ASSERT_EQ(1u, views.size());
  EXPECT_GT(LitPixels(Redraw(lasting)), 50);
}
