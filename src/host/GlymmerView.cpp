// GlymmerView: view lifecycle and frame pacing.

#include "host/GlymmerView.h"

#include "host/SettingOverrides.h"
#include "platform/Bundle.h"
#include "platform/Clock.h"
#include "platform/OpenGLView.h"
#include "platform/ScreenSaverDefaults.h"
#include "platform/Screens.h"
#include "scene/SSMain.h"

#include <GL/gl.h>
#include <GL/glu.h>

#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

namespace {

const char kModuleName[] = "kvGlymmerSS";
constexpr double kFrameInterval = 0.016666666666666666;  // 1/60 s
constexpr double kStallLimit = 2.0;

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
      Scrn(NSMakeRect(0, 0, 0, 0)),
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
    return;
  }
  if (elapsed > kFrameInterval) {
    animtime = CFAbsoluteTimeGetCurrent();
    if (ssMain) ssMain->Update(elapsed);
    glReshape();
    if (ssMain) ssMain->Draw();
    glView->openGLContext()->flushBuffer();
  }
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
  return true;
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
