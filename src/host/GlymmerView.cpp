// GlymmerView: view lifecycle and frame pacing.

#include "host/GlymmerView.h"

#include "host/SettingOverrides.h"
#include "platform/Bundle.h"
#include "platform/Clock.h"
#include "platform/OpenGLView.h"
#include "platform/ScreenSaverDefaults.h"
#include "platform/Screens.h"
#include "effect/Code.h"
#include "scene/SSMain.h"

#include <GL/gl.h>
#include <GL/glu.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

namespace {

const char kModuleName[] = "kvGlymmerSS";
constexpr double kFrameInterval = 0.016666666666666666;  // 1/60 s
// A tick this much before the step clock's next tick still steps. Ticks that
// follow a display's refresh come about one interval apart, give or take a
// millisecond; a strict test would skip every other one of them.
constexpr double kStepTolerance = 0.002;
// A step that comes more than this early moves the step clock later by what
// it came early beyond it. A display whose refreshes fall near the
// tolerance's edge (a 120 Hz one, say, with every other refresh 2 ms before a
// tick of the step clock) would otherwise step now in the refresh before the
// tick and now in the one after it, in two refreshes in a row and then three
// apart; moved, the clock settles on one side. It only ever moves later, so
// the rate stays capped.
constexpr double kStepEarly = 0.001;
constexpr double kStallLimit = 2.0;
// Between steps: how far a tick's own clock reading moves the estimate of
// when its frame is shown, from the grid of refreshes the ticks before set,
// and the estimate of the time between refreshes. Small: a tick comes late
// by what the loop and the compositor did, and the refreshes keep time; but
// a display may keep other time than its mode says (sway's headless
// outputs count whole milliseconds: "144 Hz" refreshes 160 times a second).
constexpr double kFollowTick = 0.1;
constexpr double kFollowRefresh = 0.02;

}  // namespace

GlymmerView::GlymmerView()
    : MainMonitorOnly(false),
      ThisScreenIsOn(false),
      glView(nullptr),
      viewAllocated(false),
      glReady(false),
      initialized(false),
      mySettings(),
      animtime(0),
      stepLead(0),
      Scrn(NSMakeRect(0, 0, 0, 0)),
      refreshInterval(0),
      refreshPaced(false),
      refreshSeen(0),
      presentAt(0),
      tickedAt(0),
      stepLength(kFrameInterval),
      ssMain(nullptr),
      configureSheetWindow(nullptr),
      oMainMonitorOnly(nullptr),
      oShowCaption(nullptr),
      oPicSize(nullptr),
      oCharSize(nullptr),
      oCharType(nullptr),
      oPicDelay(nullptr),
      oMLFirst(nullptr),
      oPicPath(nullptr),
      oWholeLibrary(nullptr) {
  std::memset(mySettings.PicPath, 0, sizeof mySettings.PicPath);
}

GlymmerView* GlymmerView::initWithFrame(NSRect frame, bool isPreview) {
  ScreenSaverDefaults::defaultsForModuleWithName(kModuleName);
  if (!ScreenSaverView::initWithFrame(frame, isPreview)) return nullptr;

  // Accelerated, 32-bit colour, never smaller than asked and as large as
  // available; no depth buffer size and no double buffer asked for.
  const uint32_t attributes[] = {NSOpenGLPFAAccelerated, NSOpenGLPFAColorSize, 32,
                                 NSOpenGLPFAMinimumPolicy, NSOpenGLPFAMaximumPolicy, 0};
  NSOpenGLPixelFormat format;
  format.initWithAttributes(attributes);
  glView = (new NSOpenGLView)->initWithFrame(NSMakeRect(0, 0, 0, 0), &format);
  addSubview(glView);
  viewAllocated = true;
  glReady = false;

  LoadSettings(&mySettings, &MainMonitorOnly);
  // Settings given for this run (the engine's hack options) win over the
  // store; the store is left as it is.
  ApplySettingOverrides(*ProcessSettingOverrides(), &mySettings, &MainMonitorOnly);

  NSRect b = bounds();
  Scrn.size.width = b.size.width;
  Scrn.size.height = b.size.height;
  ThisScreenIsOn = true;
  initialized = false;
  setAnimationTimeInterval(1.0 / 60.0);
  return this;
}

void GlymmerView::startAnimation() {
  ThisScreenIsOn = true;
  if (MainMonitorOnly) {
    const Screen* own = window() ? window()->screen() : mainScreen();
    if (own->screenNumber() != mainScreen()->screenNumber()) ThisScreenIsOn = false;
  }
  glView->openGLContext()->makeCurrentContext();
  glClearColor(0, 0, 0, 1);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  glView->openGLContext()->flushBuffer();
  ScreenSaverView::startAnimation();
}

void GlymmerView::stopAnimation() { ScreenSaverView::stopAnimation(); }

void GlymmerView::animateOneFrame() {
  if (!ThisScreenIsOn) {
    stopAnimation();
    return;
  }
  glView->openGLContext()->makeCurrentContext();
  if (!glReady) {
    glInit();
    glReady = true;
  }
  if (!initialized) {
    mainSetup();
    initialized = true;
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  }
  double elapsed = CFAbsoluteTimeGetCurrent() - animtime;
  if (elapsed > kStallLimit) {
    // A stall (sleep, a paused timer) costs one tick and never reaches the
    // scene as one big step.
    animtime = CFAbsoluteTimeGetCurrent();
    stepLead = -kStepTolerance;
    presentAt = 0;
    return;
  }
  if (DrawsBetweenSteps()) {
    TickBetweenSteps(CFAbsoluteTimeGetCurrent());
    return;
  }
  presentAt = 0;
  // How late this tick comes for the step clock's next tick. The step clock
  // advances by whole intervals, so steps never come more than 60 a second
  // in the long run however early within the tolerance each tick is. The
  // scene still steps by the time that really passed.
  double late = elapsed - stepLead - kFrameInterval;
  if (late > -kStepTolerance) {
    double stepClock = animtime + stepLead + kFrameInterval;
    animtime = CFAbsoluteTimeGetCurrent();
    // A clock left nearly a whole interval behind (the first steps, a display
    // slower than 60 Hz, a pause) starts again from this step, a tolerance
    // back, rather than catch up with steps in quick succession.
    if (late > kFrameInterval - kStepTolerance)
      stepClock = animtime - kStepTolerance;
    else if (late < -kStepEarly)
      stepClock += -late - kStepEarly;
    stepLead = stepClock - animtime;
    if (ssMain) ssMain->Update(elapsed);
    glReshape();
    if (ssMain) ssMain->Draw();
    glView->openGLContext()->flushBuffer();
  }
}

bool GlymmerView::DrawsBetweenSteps() const {
  return refreshInterval > 0 && refreshInterval < 0.9 * kFrameInterval;
}

void GlymmerView::TickBetweenSteps(double now) {
  double shownAt = now;
  if (!(refreshSeen > 0) || std::fabs(refreshSeen / refreshInterval - 1) > 0.25)
    refreshSeen = refreshInterval;
  if (presentAt > 0 && refreshPaced) {
    const double refreshes = std::max(1.0, std::round((now - presentAt) / refreshSeen));
    const double predicted = presentAt + refreshes * refreshSeen;
    if (std::fabs(now - predicted) < refreshSeen / 2) {
      shownAt = predicted + (now - predicted) * kFollowTick;
      refreshSeen += ((now - tickedAt) / refreshes - refreshSeen) * kFollowRefresh;
    }
  }
  tickedAt = now;
  presentAt = shownAt;
  // animtime is the clock reading the scene has reached, in whole steps.
  bool step = false;
  const double due = std::floor((shownAt - animtime) / kFrameInterval);
  if (due >= 1) {
    stepLength = due * kFrameInterval;
    animtime += stepLength;
    if (ssMain) ssMain->Update(stepLength);
    step = true;
  }
  const double shownScene = shownAt - kFrameInterval;
  const double blend = (shownScene - (animtime - stepLength)) / stepLength;
  if (ssMain && ssMain->effect) ssMain->effect->keepPrevious = true;
  glReshape();
  if (ssMain) ssMain->DrawFrame(step, static_cast<float>(std::min(1.0, std::max(0.0, blend))));
  glView->openGLContext()->flushBuffer();
}

void GlymmerView::setFrameSize(NSSize size) {
  ScreenSaverView::setFrameSize(size);
  if (viewAllocated) glView->setFrameSize(size);
  glReady = false;
}

void GlymmerView::glInit() {
  NSRect b = bounds();
  Scrn.size.width = b.size.width;
  Scrn.size.height = b.size.height;
  int width = static_cast<int>(b.size.width), height = static_cast<int>(b.size.height);
  glViewport(0, 0, width, height);
  if (ssMain) ssMain->SetSize(width, height);
  glShadeModel(GL_SMOOTH);
  glClearColor(0, 0, 0, 0);
  glClearDepth(1.0);
  glEnable(GL_DEPTH_TEST);
  glDepthFunc(GL_LEQUAL);
  glEnable(GL_COLOR_MATERIAL);
  glColorMaterial(GL_FRONT_AND_BACK, GL_AMBIENT_AND_DIFFUSE);
  glReshape();
}

void GlymmerView::glReshape() {
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  float aspect = static_cast<float>(Scrn.size.width) / static_cast<float>(Scrn.size.height);
  gluPerspective(45.0, aspect, 1.0, 100.0);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
}

bool GlymmerView::mainSetup() {
  NSRect b = bounds();
  std::srand(static_cast<unsigned int>(static_cast<long long>(CFAbsoluteTimeGetCurrent())));
  if (ssMain) {
    ssMain->Cleanup();
    delete ssMain;
  }
  ssMain = new (std::nothrow) SSMAIN;
  if (!ssMain) return false;

  // A missing archive gives an empty path, which the controller cannot open.
  // The path may have as many bytes as the toolkit converts (1024), with the
  // terminator on top; a longer one is said, not left to a black screen.
  char archive[kPicPathMaxText + 1] = "";
  std::string found = Bundle::bundleForClass()->pathForResource("zentari", "vostrelli");
  if (found.size() < sizeof archive)
    std::memcpy(archive, found.c_str(), found.size() + 1);
  else
    TellPathTooLong("the resource file", found, "the scene cannot start");

  if (!ssMain->Setup(isPreview(), static_cast<int>(b.size.width), static_cast<int>(b.size.height),
                     &mySettings, archive))
    return false;
  animtime = CFAbsoluteTimeGetCurrent();
  stepLead = -kStepTolerance;
  return true;
}

double GlymmerView::nextStepTime() const {
  // Between steps a tick is due at each refresh, a little before it.
  if (DrawsBetweenSteps() && presentAt > 0)
    return refreshPaced ? presentAt + refreshSeen - kStepTolerance : presentAt + refreshInterval;
  return animtime + stepLead + kFrameInterval;
}

GlymmerView::~GlymmerView() {
  if (glView) glView->openGLContext()->makeCurrentContext();
  if (ssMain) {
    ssMain->Cleanup();
    delete ssMain;
    ssMain = nullptr;
  }
  ReleaseConfigureSheet();
}
