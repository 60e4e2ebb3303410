// GlymmerView driven as the engine drives it, with a fake clock, on real
// headless contexts and a real preference store in a temporary folder.

#include "support/TestSupport.h"

#include "host/GlymmerView.h"
#include "host/SettingOverrides.h"
#include "platform/Clock.h"
#include "platform/OpenGLView.h"
#include "platform/ScreenSaverDefaults.h"
#include "platform/Screens.h"
#include "scene/SSMain.h"

#include <GL/gl.h>

#include <algorithm>
#include <cstdlib>
#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include <unistd.h>

namespace {

class ViewTest : public ::testing::Test {
protected:
  void SetUp() override {
    setenv("XDG_CONFIG_HOME", config.Path().c_str(), 1);
    ScreenSaverDefaults::ForgetStoresForTesting();
    ResetScreens();
    clock.now = 1000.0;
    clock.Install();
  }
  void TearDown() override {
    *ProcessSettingOverrides() = SettingOverrides();
    clock.Uninstall();
    ResetScreens();
    ScreenSaverDefaults::ForgetStoresForTesting();
  }

  // Stores version "1.0" settings with few glyphs so that frames are cheap.
  void StoreSettings(bool mainMonitorOnly, long long glyphs = 300) {
    ScreenSaverDefaults* store = ScreenSaverDefaults::defaultsForModuleWithName("kvGlymmerSS");
    store->setObject("1.0", "version");
    store->setBool(mainMonitorOnly, "MainMonitorOnly");
    store->setBool(true, "ShowCaption");
    store->setBool(true, "MLFirst");
    store->setInteger(20, "CharSize");
    store->setInteger(0, "CharType");
    store->setInteger(glyphs, "PicSize");
    store->setInteger(120, "PicDelay");
    std::string pics = std::string(GLYMMER_SOURCE_DIR) + "/resources/pics/";
    store->setObject(pics.c_str(), "PicPath");
    ASSERT_TRUE(store->synchronize());
    ScreenSaverDefaults::ForgetStoresForTesting();
  }

  GlymmerView* MakeView(int w = 160, int h = 120, bool preview = false) {
    GlymmerView* view = new GlymmerView;
    EXPECT_EQ(view, view->initWithFrame(NSMakeRect(0, 0, w, h), preview));
    view->SetWindow(&window);
    view->setFrameSize(NSMakeSize(w, h));
    return view;
  }

  uint64_t Presented(GlymmerView* view) { return view->glView->PresentedFrames(); }

  TempDir config;
  FakeClock clock;
  NSWindow window;
};

}  // namespace

TEST_F(ViewTest, CreationLoadsSettingsAndAsksFor60Ticks) {
  GlymmerView* view = MakeView();
  EXPECT_TRUE(view->viewAllocated);
  EXPECT_FALSE(view->glReady);
  EXPECT_FALSE(view->initialized);
  EXPECT_TRUE(view->ThisScreenIsOn);
  EXPECT_EQ(nullptr, view->ssMain);
  EXPECT_DOUBLE_EQ(1.0 / 60.0, view->animationTimeInterval());
  EXPECT_EQ(15000, view->mySettings.PIC_SIZE) << "an empty store is reset to the defaults";
  EXPECT_EQ(1u, view->subviews().size());
  EXPECT_EQ(view->glView, view->subviews()[0].get());
  EXPECT_DOUBLE_EQ(160, view->Scrn.size.width);
  EXPECT_TRUE(GlymmerView::performGammaFade());
  EXPECT_TRUE(view->hasConfigureSheet());
  delete view;
}

TEST_F(ViewTest, FirstTickSetsUpAndDrawsNothingThenStepsComeAtTheInterval) {
  StoreSettings(false);
  GlymmerView* view = MakeView();
  view->startAnimation();
  uint64_t afterStart = Presented(view);
  view->animateOneFrame();
  ASSERT_NE(nullptr, view->ssMain);
  EXPECT_TRUE(view->initialized);
  EXPECT_TRUE(view->glReady);
  EXPECT_DOUBLE_EQ(1000.0, view->animtime);
  EXPECT_EQ(afterStart, Presented(view)) << "the set-up tick draws nothing";

  // A tick well short of 1/60 s is no frame.
  view->animtime = 0;
  clock.now = 0.012;
  view->animateOneFrame();
  EXPECT_EQ(afterStart, Presented(view));
  EXPECT_EQ(0.0, view->animtime);
  // The next tick draws with the larger elapsed time.
  clock.now = 0.03;
  view->animateOneFrame();
  EXPECT_EQ(afterStart + 1, Presented(view));
  EXPECT_DOUBLE_EQ(0.03, view->ssMain->frameTime);
  EXPECT_DOUBLE_EQ(0.03, view->animtime);
  delete view;
}

TEST_F(ViewTest, TwoSecondsIsAFrameAndAHairMoreOnlyResetsTheClock) {
  StoreSettings(false);
  GlymmerView* view = MakeView();
  view->startAnimation();
  view->animateOneFrame();
  uint64_t frames = Presented(view);

  view->animtime = 0;
  clock.now = 2.0;
  view->animateOneFrame();
  EXPECT_EQ(frames + 1, Presented(view));
  EXPECT_DOUBLE_EQ(2.0, view->ssMain->frameTime) << "exactly 2 s is a normal step";

  view->animtime = 0;
  clock.now = std::nextafter(2.0, 3.0);
  view->animateOneFrame();
  EXPECT_EQ(frames + 1, Presented(view)) << "a stall draws nothing";
  EXPECT_DOUBLE_EQ(2.0, view->ssMain->frameTime) << "no update after a stall";
  EXPECT_EQ(clock.now, view->animtime) << "the clock is reset";

  // After a stall of seconds the scene never gets a step above 2 s.
  clock.now += 7.5;
  view->animateOneFrame();
  clock.now += 0.05;
  view->animateOneFrame();
  EXPECT_NEAR(0.05, view->ssMain->frameTime, 1e-9);
  delete view;
}

// What a view did with the ticks it was given.
struct Stepped {
  std::vector<long> ticks;  // the ticks that drew, numbered from 1
  double scene = 0;         // the scene's frame times summed
  double longest = 0;       // the longest of them
};

// Ticks as a display of `hertz` gives them, each up to `jitter` seconds early
// or late, for `seconds` after the scene was set up; from tick `stallAt` on,
// `stall` seconds later. The display's refreshes fall 1.9 ms short of the
// view's whole intervals since its set-up.
Stepped TickLikeADisplay(GlymmerView* view, FakeClock* clock, double hertz, double jitter,
                         double seconds, long stallAt = 0, double stall = 0) {
  const double start = clock->now;
  std::srand(7);
  Stepped out;
  const long ticks = std::lround(seconds * hertz);
  for (long i = 1; i <= ticks; ++i) {
    double wobble = jitter * (2.0 * std::rand() / RAND_MAX - 1.0);
    clock->now = start + (stallAt && i >= stallAt ? stall : 0) + static_cast<double>(i) / hertz -
                 0.0019 + wobble;
    uint64_t before = view->glView->PresentedFrames();
    view->animateOneFrame();
    if (view->glView->PresentedFrames() == before) continue;
    out.ticks.push_back(i);
    out.scene += view->ssMain->frameTime;
    out.longest = std::max(out.longest, view->ssMain->frameTime);
  }
  return out;
}

// The step rule: whatever pace the ticks come at, at most 60 steps a second,
// one for each tick that can have one, never in two refreshes that follow
// each other on a faster display, and the scene moves by the time that
// passed; a stall only resets the clock.
TEST_F(ViewTest, StepsFollowTheDisplayUpTo60ASecond) {
  StoreSettings(false, 20);
  struct Case {
    double hertz, least;  // steps a second at least (and at most 60)
  };
  for (const Case& c : {Case{60, 60}, Case{144, 59}, Case{30, 30}, Case{120, 60}}) {
    SCOPED_TRACE(c.hertz);
    clock.now = 1000.0;
    GlymmerView* view = MakeView(32, 24);
    view->startAnimation();
    view->animateOneFrame();
    Stepped run = TickLikeADisplay(view, &clock, c.hertz, 0.001, 10);
    EXPECT_GE(static_cast<double>(run.ticks.size()), 10 * c.least - 1);
    EXPECT_LE(static_cast<double>(run.ticks.size()), std::min(10 * 60.0, 10 * c.hertz) + 1);
    long shortest = 1000;
    for (size_t i = 1; i < run.ticks.size(); ++i)
      shortest = std::min(shortest, run.ticks[i] - run.ticks[i - 1]);
    EXPECT_GE(static_cast<double>(shortest), std::max(1.0, std::floor(c.hertz / 60)));
    EXPECT_NEAR(10.0, run.scene, 0.03) << "the scene keeps to the clock";
    delete view;
  }

  // A stall of 3 s: the tick after it draws nothing, and no step reaches the
  // scene as a long one; then one step a refresh as before.
  clock.now = 1000.0;
  GlymmerView* view = MakeView(32, 24);
  view->startAnimation();
  view->animateOneFrame();
  Stepped run = TickLikeADisplay(view, &clock, 60, 0.001, 4, 60, 3);
  EXPECT_EQ(0, std::count(run.ticks.begin(), run.ticks.end(), 60)) << "the tick after the stall";
  EXPECT_NEAR(239, static_cast<double>(run.ticks.size()), 1);
  EXPECT_LT(run.longest, 0.02);
  delete view;
}

TEST_F(ViewTest, StopAndRestartWithinTwoSecondsStepsByThePause) {
  StoreSettings(false);
  GlymmerView* view = MakeView();
  view->startAnimation();
  view->animateOneFrame();
  SSMAIN* scene = view->ssMain;
  clock.now += 0.05;
  view->animateOneFrame();
  view->stopAnimation();
  EXPECT_FALSE(view->isAnimating());
  EXPECT_EQ(scene, view->ssMain) << "stopping keeps the scene";
  clock.now += 1.5;
  view->startAnimation();
  EXPECT_TRUE(view->isAnimating());
  view->animateOneFrame();
  EXPECT_EQ(scene, view->ssMain);
  EXPECT_NEAR(1.5, view->ssMain->frameTime, 1e-9);
  delete view;
}

TEST_F(ViewTest, ResizeRerunsGlInitWithoutRestartingTheScene) {
  StoreSettings(false);
  GlymmerView* view = MakeView(160, 120);
  view->startAnimation();
  view->animateOneFrame();
  SSMAIN* scene = view->ssMain;
  view->setFrameSize(NSMakeSize(200, 100));
  EXPECT_FALSE(view->glReady);
  clock.now += 0.05;
  view->animateOneFrame();
  EXPECT_TRUE(view->glReady);
  EXPECT_EQ(scene, view->ssMain);
  EXPECT_EQ(200, scene->width);
  EXPECT_EQ(100, scene->height);
  GLint viewport[4];
  glGetIntegerv(GL_VIEWPORT, viewport);
  EXPECT_EQ(200, viewport[2]);
  EXPECT_EQ(100, viewport[3]);
  float projection[16];
  glGetFloatv(GL_PROJECTION_MATRIX, projection);
  EXPECT_NEAR(projection[5] / projection[0], 2.0, 1e-4) << "aspect ratio 200 / 100";
  std::vector<unsigned char> rgba;
  int w = 0, h = 0;
  ASSERT_TRUE(view->glView->ReadPixels(rgba, &w, &h));
  EXPECT_EQ(200, w);
  EXPECT_EQ(100, h);
  delete view;
}

TEST_F(ViewTest, MainMonitorOnlyLeavesOtherScreensBlackWithoutAScene) {
  StoreSettings(true);
  ASSERT_TRUE(SetVirtualScreens(2, 0, 160, 120));
  NSWindow mainWindow, otherWindow;
  mainWindow.screenOfWindow = ScreenAt(0);
  otherWindow.screenOfWindow = ScreenAt(1);
  GlymmerView* onMain = MakeView();
  onMain->SetWindow(&mainWindow);
  GlymmerView* onOther = MakeView();
  onOther->SetWindow(&otherWindow);
  EXPECT_TRUE(onOther->MainMonitorOnly);

  onMain->startAnimation();
  onOther->startAnimation();
  EXPECT_TRUE(onMain->ThisScreenIsOn);
  EXPECT_FALSE(onOther->ThisScreenIsOn);
  for (int i = 0; i < 120; ++i) {
    clock.now += 0.05;
    if (onMain->isAnimating()) onMain->animateOneFrame();
    if (onOther->isAnimating()) onOther->animateOneFrame();
  }
  EXPECT_NE(nullptr, onMain->ssMain);
  EXPECT_EQ(nullptr, onOther->ssMain);
  EXPECT_FALSE(onOther->isAnimating()) << "the excluded view stops at its first tick";
  EXPECT_TRUE(onMain->isAnimating());

  std::vector<unsigned char> rgba;
  int w, h;
  ASSERT_TRUE(onOther->glView->ReadPixels(rgba, &w, &h));
  for (size_t i = 0; i < rgba.size(); i += 4) {
    ASSERT_EQ(0, rgba[i] | rgba[i + 1] | rgba[i + 2]) << "excluded screen must stay black";
    ASSERT_EQ(255, rgba[i + 3]);
  }
  ASSERT_TRUE(onMain->glView->ReadPixels(rgba, &w, &h));
  int lit = 0;
  for (size_t i = 0; i < rgba.size(); i += 4) lit += rgba[i] + rgba[i + 1] + rgba[i + 2] > 30;
  EXPECT_GT(lit, 50) << "the main screen shows the mosaic";
  delete onOther;
  delete onMain;
}

TEST_F(ViewTest, WithoutTheRuleEveryScreenRunsItsOwnScene) {
  StoreSettings(false);
  ASSERT_TRUE(SetVirtualScreens(2, 1, 160, 120));
  NSWindow a, b;
  a.screenOfWindow = ScreenAt(0);
  b.screenOfWindow = ScreenAt(1);
  GlymmerView* first = MakeView();
  first->SetWindow(&a);
  GlymmerView* second = MakeView();
  second->SetWindow(&b);
  first->startAnimation();
  second->startAnimation();
  for (int i = 0; i < 3; ++i) {
    clock.now += 0.05;
    first->animateOneFrame();
    second->animateOneFrame();
  }
  ASSERT_NE(nullptr, first->ssMain);
  ASSERT_NE(nullptr, second->ssMain);
  EXPECT_NE(first->ssMain, second->ssMain);
  delete first;  // in either order, each with its own context
  clock.now += 0.05;
  second->animateOneFrame();
  EXPECT_TRUE(second->isAnimating());
  delete second;
}

TEST_F(ViewTest, DestroyingBeforeAnyTickAndAfterAFailedSetupIsSafe) {
  GlymmerView* untouched = MakeView();
  delete untouched;
  StoreSettings(false, -5);  // a glyph count the effect refuses
  GlymmerView* view = MakeView();
  view->startAnimation();
  view->animateOneFrame();
  EXPECT_TRUE(view->initialized) << "initialized whatever the set-up returned";
  ASSERT_NE(nullptr, view->ssMain);
  uint64_t frames = Presented(view);
  // The failed set-up never read the clock, so its own tick only reset it;
  // from then on the failed scene is updated and drawn like any other.
  EXPECT_EQ(clock.now, view->animtime);
  clock.now += 0.05;
  view->animateOneFrame();
  clock.now += 0.05;
  view->animateOneFrame();
  EXPECT_EQ(frames + 2, Presented(view)) << "the failed scene is still updated and drawn";
  delete view;
}

// The engine's settings for one run reach every view created afterwards and
// never the store: neither a store read as it is nor one that is reset.
TEST_F(ViewTest, SettingsForTheRunWinOverTheStoreWhichStaysAsItWas) {
  StoreSettings(false, 300);
  const std::string storeFile = config.File("glymmer/kvGlymmerSS.ini");
  const std::string stored = ReadFileBytes(storeFile);
  ASSERT_FALSE(stored.empty());

  SettingOverrides* run = ProcessSettingOverrides();
  std::string error;
  bool off = false;
  for (const std::pair<const char*, const char*>& o :
       {std::pair<const char*, const char*>{"--glyphs", "200"}, {"--glyph-size", "35"},
        {"--case", "upper"}, {"--main-monitor-only", ""}, {"--no-captions", ""}}) {
    const SettingOption* option = FindSettingOption(o.first, &off);
    ASSERT_NE(nullptr, option) << o.first;
    ASSERT_TRUE(SetSettingOption(*option, off, o.second, run, &error)) << error;
  }

  GlymmerView* view = MakeView();
  EXPECT_EQ(200, view->mySettings.PIC_SIZE);
  EXPECT_EQ(35, view->mySettings.CHARSIZE);
  EXPECT_FLOAT_EQ(0.35f, view->mySettings.fCHARSIZE);
  EXPECT_EQ(1, view->mySettings.CHARTYPE);
  EXPECT_TRUE(view->MainMonitorOnly);
  EXPECT_FALSE(view->mySettings.SHOWCAPTION);
  EXPECT_EQ(120, view->mySettings.PICDELAY) << "what is not given comes from the store";
  EXPECT_TRUE(view->mySettings.MLFIRST);
  // The scene is set up with them too.
  view->startAnimation();
  view->animateOneFrame();
  ASSERT_NE(nullptr, view->ssMain);
  delete view;
  EXPECT_EQ(stored, ReadFileBytes(storeFile)) << "the store was written";

  // An empty store is reset to the defaults, and only the store gets them.
  ASSERT_EQ(0, unlink(storeFile.c_str()));
  ScreenSaverDefaults::ForgetStoresForTesting();
  view = MakeView();
  EXPECT_EQ(200, view->mySettings.PIC_SIZE);
  EXPECT_TRUE(view->MainMonitorOnly);
  delete view;
  const std::string reset = ReadFileBytes(storeFile);
  EXPECT_NE(std::string::npos, reset.find("PicSize=15000")) << reset;
  EXPECT_NE(std::string::npos, reset.find("MainMonitorOnly=false")) << reset;
  EXPECT_NE(std::string::npos, reset.find("CharType=0")) << reset;

  *run = SettingOverrides();
  ScreenSaverDefaults::ForgetStoresForTesting();
  view = MakeView();
  EXPECT_EQ(15000, view->mySettings.PIC_SIZE) << "cleared overrides leave the store in force";
  delete view;
}
