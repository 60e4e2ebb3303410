// OnScreen: the modes that show views on a display: a window, the preview
// window, every monitor at full screen, the Wayland saver layer and the
// xscreensaver hack. The modes, the pacing and the ways out are written here
// once; the display system (X11 or Wayland) is reached only through
// DisplaySystem. All views are driven on this thread; every way out destroys
// each view in order.

#include "Engine.h"

#include "host/GlymmerView.h"
#include "host/SettingOverrides.h"
#include "platform/Bundle.h"
#include "platform/Clock.h"
#include "platform/DisplaySystem.h"
#include "platform/OpenGLView.h"
#include "platform/dbus/PowerProfile.h"
#include "platform/Screens.h"
#include "scene/SSMain.h"
#include "text/Text.h"
#include "textures/Texture.h"

#include <GL/gl.h>
#include <sys/resource.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

namespace {

// The longest the loop sleeps, so that signals are seen promptly.
constexpr double kLongestWait = 0.25;
// A view whose display has not asked for its next frame this long after its
// last tick is shown nowhere: it pauses until the display asks again. The
// span counts only while the loop reads the display's events, so time spent
// drawing the other views (a slow first frame) never hides a view.
constexpr double kHiddenAfter = 0.5;
// How often the engine looks whether the monitors are dark and whether the
// power-saver profile is on.
constexpr double kConditionsEvery = 0.5;
// How often a view's refresh is asked for once known (a monitor's mode
// seldom changes; on X11 each ask is a few round trips), and while not.
constexpr double kRefreshKnownEvery = 5;
constexpr double kRefreshUnknownEvery = 0.5;
// The power-saver profile: at most 30 frames a second, every other refresh
// at 60 Hz (a refresh comes up to 2 ms early).
constexpr double kPowerSaverInterval = 1.0 / 30.0 - 0.002;
// Seconds the views have to end in order once the display has gone away.
constexpr unsigned kLostGraceSeconds = 4;
// Pointer travel, in pixels, that ends the full-screen and saver modes.
// Mapping and raising the windows sends motion events with no travel at all.
constexpr int kMotionSlack = 8;

// One view in its window, and what the engine keeps about it.
struct Shown {
  int number = 0;             // 1 up, for messages
  GlymmerView* view = nullptr;
  NSWindow window;
  bool ownWindow = false;     // made here, destroyed here
  uint32_t output = 0;        // full screen and saver: the output it covers
  bool gone = false;          // the window was destroyed under the view
  bool hidden = false;        // the display shows it nowhere; it does not draw
  double tickedAt = 0;        // when its last tick ended
  bool onMain = false;        // its window is on the main screen
  bool waitWanted = false;    // asked to let its swaps wait for the refresh
  bool waits = false;         // its swaps wait for the refresh
  bool drawable = true;       // the view has an OpenGL context
  NSSize size;
  // Frame-rate display and measurements.
  uint64_t presentedAtSecond = 0;
  double secondStart = 0;
  char fpsText[32] = "";
  uint64_t firstFrame = 0;    // frames presented when the first was seen
  double firstFrameTime = -1;
  double lastFrameTime = 0;
  // Frames drawn between steps: how far the scene moved from one to the next.
  double refreshAskedAt = -1;  // when the display was last asked its refresh
  double lastShownScene = 0;
  std::vector<float> sceneSteps;  // seconds; the first million
};

double CpuSeconds() {
  rusage usage;
  if (getrusage(RUSAGE_SELF, &usage) != 0) return 0;
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
}

// Draws the frame-rate line in the lower left corner with the scene's font,
// over the finished frame, leaving every bit of OpenGL state as it found it.
void DrawFrameRate(NSOpenGLView*, void* context) {
  Shown* s = static_cast<Shown*>(context);
  GlymmerView* view = s->view;
  if (!s->fpsText[0] || !view->ssMain || view->ssMain->textureCount < 1 ||
      !view->ssMain->textures)
    return;
  unsigned int font = view->ssMain->textures[0].glName;
  if (!font) return;
  int width = static_cast<int>(view->bounds().size.width);
  int height = static_cast<int>(view->bounds().size.height);
  if (width < 1 || height < 1) return;

  glPushAttrib(GL_ALL_ATTRIB_BITS);
  glMatrixMode(GL_TEXTURE);
  glPushMatrix();
  glLoadIdentity();
  glMatrixMode(GL_PROJECTION);
  glPushMatrix();
  glLoadIdentity();
  glOrtho(0, width, 0, height, -1, 1);
  glMatrixMode(GL_MODELVIEW);
  glPushMatrix();
  glLoadIdentity();

  glViewport(0, 0, width, height);
  glDisable(GL_DEPTH_TEST);
  glDisable(GL_LIGHTING);
  glDisable(GL_CULL_FACE);
  glDisable(GL_FOG);
  glEnable(GL_BLEND);
  glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);

  float size = std::min(32.0f, std::max(10.0f, height / 24.0f));
  float margin = size / 2;
  float length = static_cast<float>(std::string(s->fpsText).size());
  // A dark band behind the letters keeps them readable over the mosaic.
  glDisable(GL_TEXTURE_2D);
  glColor4f(0, 0, 0, 0.6f);
  glBegin(GL_QUADS);
  glVertex2f(0, 0);
  glVertex2f(2 * margin + 0.75f * length * size + size, 0);
  glVertex2f(2 * margin + 0.75f * length * size + size, 2 * margin + size);
  glVertex2f(0, 2 * margin + size);
  glEnd();
  glEnable(GL_TEXTURE_2D);
  // DrawString centres the line on the origin; its first letter starts
  // 0.375 letter widths per letter left of it.
  glTranslatef(margin + 0.375f * length * size, margin + size / 2, 0);
  DrawString(s->fpsText, size, 1.0f, font);

  glMatrixMode(GL_MODELVIEW);
  glPopMatrix();
  glMatrixMode(GL_PROJECTION);
  glPopMatrix();
  glMatrixMode(GL_TEXTURE);
  glPopMatrix();
  glPopAttrib();
}

class OnScreenEngine {
public:
  explicit OnScreenEngine(const Options& o) : options(o) {}
  ~OnScreenEngine() { DestroyAll(); }

  int Run();

private:
  bool OpenViews();
  bool OpenWindowView(bool preview);
  bool OpenOutputViews();
  bool OpenOutputView(const DisplayOutput& output);
  bool OpenHackView();
  Shown* OpenView(const SurfaceRequest& request);
  Shown* AddView(const NSWindow& window, bool ownWindow, NSSize size, bool preview);
  void RemoveView(Shown* s);
  void FollowMain();
  bool EndsOnInput() const;
  bool AllShown() const;
  void Loop();
  void Handle(const WindowEvent& e);
  bool Tick(Shown* s);
  double DueTime(const Shown* s) const;
  void ChooseWaitingView();
  void FollowConditions();
  uint64_t FramesSoFar() const;
  void WaitForStop();
  void Report();
  void DestroyAll();
  Shown* Find(unsigned long window);

  const Options& options;
  std::unique_ptr<DisplaySystem> display;
  std::vector<std::unique_ptr<Shown>> shown;
  bool quit = false;
  bool shownReported = false;
  bool lost = false;  // the display went away under the views
  bool pointerKnown = false;
  // Outputs came or went: the main role is settled once the events in hand
  // are all handled. A screen is let go as its output goes, before the event
  // that removes the view on it, so no view's screen is read in between.
  bool outputsChanged = false;
  int pointerX = 0, pointerY = 0;
  int nextNumber = 1;
  double startTime = 0;
  double cpuAtFirstFrame = -1;
  double timeAtFirstFrame = -1;
  uint64_t framesAtFirstFrame = 0;
  uint64_t framesOfRemoved = 0;  // frames presented by views removed since
  double conditionsAt = 0;       // when FollowConditions is due
  bool dark = false;             // the monitors show nothing: nothing is drawn
  bool powerSaver = false;       // the power-saver profile is on
};

Shown* OnScreenEngine::Find(unsigned long window) {
  for (auto& s : shown)
    if (s->window.nativeWindow == window) return s.get();
  return nullptr;
}

Shown* OnScreenEngine::AddView(const NSWindow& window, bool ownWindow, NSSize size,
                               bool preview) {
  std::unique_ptr<Shown> s(new Shown);
  s->number = nextNumber++;
  s->window = window;
  s->ownWindow = ownWindow;
  s->size = size;
  GlymmerView* view = new GlymmerView;
  if (!view->initWithFrame(NSMakeRect(0, 0, size.width, size.height), preview)) {
    std::fprintf(stderr, "glymmer: the view could not be created\n");
    delete view;
    return nullptr;
  }
  s->view = view;
  shown.push_back(std::move(s));
  Shown* added = shown.back().get();
  // The window is held by `added`, whose address stays put.
  view->SetWindow(&added->window);
  view->setFrameSize(size);
  if (options.showFps) view->glView->SetPresentHook(DrawFrameRate, added);
  view->startAnimation();
  added->drawable = view->glView->openGLContext()->makeCurrentContext();
  // A view without a context never draws: its surface shows black instead.
  if (!added->drawable) display->PaintBlack(added->window);
  added->onMain = added->window.screen()->screenNumber() == mainScreen()->screenNumber();
  if (options.verbose) {
    const Screen* screen = added->window.screen();
    std::fprintf(stderr, "glymmer: view %d: %.0fx%.0f in %s on screen %d%s%s\n", added->number,
                 size.width, size.height, display->Describe(added->window).c_str(),
                 screen->screenNumber(),
                 screen->screenNumber() == mainScreen()->screenNumber() ? " (main)" : "",
                 preview ? ", preview" : "");
    std::fprintf(stderr, "glymmer: view %d: settings: %s\n", added->number,
                 DescribeSettings(view->mySettings, view->MainMonitorOnly).c_str());
  }
  return added;
}

void OnScreenEngine::RemoveView(Shown* s) {
  // The view cleans its scene up with its own context current, before its
  // surface goes.
  if (s->view) {
    framesOfRemoved += s->view->glView->PresentedFrames();
    delete s->view;
    s->view = nullptr;
    if (options.verbose) std::fprintf(stderr, "glymmer: view %d destroyed\n", s->number);
  }
  if (s->ownWindow && !s->gone) display->CloseSurface(&s->window);
  for (size_t i = 0; i < shown.size(); ++i)
    if (shown[i].get() == s) {
      shown.erase(shown.begin() + static_cast<long>(i));
      break;
    }
}

// The main role follows the outputs: when the main output goes, another one
// takes it, and the one named main takes it back when it returns. Starting a
// view again decides its screen anew: a view whose screen became main draws,
// one whose screen is main no more goes black.
void OnScreenEngine::FollowMain() {
  for (auto& s : shown) {
    GlymmerView* view = s->view;
    if (!view || s->gone || !s->drawable || !view->MainMonitorOnly) continue;
    bool main = view->window()->screen()->screenNumber() == mainScreen()->screenNumber();
    if (main == view->ThisScreenIsOn) continue;
    if (options.verbose)
      std::fprintf(stderr, "glymmer: view %d %s\n", s->number,
                   main ? "draws: its screen is main now" : "is main no more");
    view->startAnimation();
  }
}

bool OnScreenEngine::OpenWindowView(bool preview) {
  const Screen* main = mainScreen();
  NSRect rect = NSMakeRect(0, 0, preview ? 320 : 960, preview ? 200 : 540);
  if (options.sizeGiven) {
    rect.size.width = options.width;
    rect.size.height = options.height;
  }
  const Geometry& g = options.geometry;
  if (g.hasSize) {
    rect.size.width = g.width;
    rect.size.height = g.height;
  }
  if (!options.sizeGiven && !g.hasSize) {
    // The default size never exceeds the main monitor.
    rect.size.width = std::min(rect.size.width, main->width);
    rect.size.height = std::min(rect.size.height, main->height);
  }
  NSSize root = display->DesktopSize();
  if (g.hasPosition) {
    rect.origin.x = g.xFromRight ? root.width - rect.size.width - g.x : g.x;
    rect.origin.y = g.yFromBottom ? root.height - rect.size.height - g.y : g.y;
  } else {
    // Centred on the main monitor.
    rect.origin.x = std::floor(main->x + (main->width - rect.size.width) / 2);
    rect.origin.y = std::floor(main->y + (main->height - rect.size.height) / 2);
    rect.origin.x = std::max(0.0, rect.origin.x);
    rect.origin.y = std::max(0.0, rect.origin.y);
  }
  SurfaceRequest request;
  request.kind = SurfaceKind::kWindow;
  request.rect = rect;
  request.placed = g.hasPosition;
  Shown* s = OpenView(request);
  return s && s->drawable;
}

Shown* OnScreenEngine::OpenView(const SurfaceRequest& request) {
  NSWindow window;
  NSSize size;
  if (!display->OpenSurface(request, &window, &size)) return nullptr;
  Shown* s = AddView(window, true, size, options.preview);
  if (!s) display->CloseSurface(&window);
  return s;
}

bool OnScreenEngine::OpenOutputView(const DisplayOutput& output) {
  SurfaceRequest request;
  request.kind = options.mode == RunMode::Saver ? SurfaceKind::kSaverLayer : SurfaceKind::kFullScreen;
  request.output = output.id;
  Shown* s = OpenView(request);
  if (s) s->output = output.id;
  return s != nullptr;
}

bool OnScreenEngine::OpenOutputViews() {
  SurfaceKind kind =
      options.mode == RunMode::Saver ? SurfaceKind::kSaverLayer : SurfaceKind::kFullScreen;
  if (!display->Supports(kind)) return false;
  if (kind == SurfaceKind::kSaverLayer && !display->ClaimSaver()) return false;
  // An output that fails (it went away meanwhile, say) is left out; the
  // others still get their views.
  for (const DisplayOutput& output : display->Outputs())
    if (!OpenOutputView(output))
      std::fprintf(stderr, "glymmer: no view on output %s\n", output.name.c_str());
  if (shown.empty()) {
    std::fprintf(stderr, "glymmer: the display has no output to show on\n");
    return false;
  }
  if (!display->GrabInput(shown.front()->window))
    std::fprintf(stderr, "glymmer: cannot take the keyboard; click or move the pointer to end\n");
  // Motion counts from where the pointer is once the windows are up; where
  // the system cannot tell, from the first place it reports.
  pointerKnown = display->PointerPosition(&pointerX, &pointerY);
  return true;
}

bool OnScreenEngine::OpenHackView() {
  unsigned long id = 0;
  if (options.windowIdGiven) {
    id = options.windowId;
  } else if (const char* named = std::getenv("XSCREENSAVER_WINDOW")) {
    if (!ParseWindowId(named, &id)) {
      std::fprintf(stderr, "glymmer: XSCREENSAVER_WINDOW=\"%s\" is not a window id\n", named);
      return false;
    }
  } else if (!options.root) {
    std::fprintf(stderr, "glymmer: no window to draw into\n");
    return false;
  }
  if (!display->Supports(SurfaceKind::kForeign)) return false;
  SurfaceRequest request;
  request.kind = SurfaceKind::kForeign;
  request.foreignWindow = id;  // 0: the root window
  NSWindow window;
  NSSize size;
  if (!display->OpenSurface(request, &window, &size)) return false;
  // xscreensaver's settings dialog runs the hack in a pane of its own: that
  // view is the preview (no band, no dimming), whatever the command line.
  bool preview = options.preview || display->InPreviewPane(window);
  Shown* s = AddView(window, false, size, preview);
  if (!s) return false;
  return s->drawable;
}

bool OnScreenEngine::OpenViews() {
  switch (options.mode) {
    case RunMode::FullScreen:
    case RunMode::Saver:
      return OpenOutputViews();
    case RunMode::Hack:
      return OpenHackView();
    case RunMode::Preview:
      return OpenWindowView(true);
    default:
      return OpenWindowView(options.preview);
  }
}

// Whether any key, click or pointer travel ends the mode.
bool OnScreenEngine::EndsOnInput() const {
  return options.mode == RunMode::FullScreen || options.mode == RunMode::Saver;
}

// Whether every view that draws has put its first frame on screen (the
// others show black from their start): from then on the surfaces are up,
// and what the display tells of the user is no longer their appearance.
bool OnScreenEngine::AllShown() const {
  if (shown.empty()) return false;
  for (auto& s : shown)
    if (!s->gone && s->drawable && s->view->isAnimating() && s->firstFrameTime < 0)
      return false;
  return true;
}

// Lets the swaps of one view wait for its monitor's refresh, where the driver
// offers that: X11 without a compositor shows swaps that do not wait as they
// come, torn. One view only: all views are drawn on this thread, one after
// another, so with every view waiting each would wait for its own monitor
// and then for the next one's as well, and the frame rate would fall with
// every monitor added. A view a thread instead would break the rule that
// the views and the scene they share (the random generator, the glyph table,
// the picture reader) are driven on one thread. The view that waits is the
// main screen's, where it animates and is shown; its refresh paces the loop,
// and the others swap at once. A hack has one view, as xscreensaver and
// XSecureLock run one hack a monitor, so every hack waits for its own.
// A view whose window is unmapped or covered never waits: a swap into a
// window shown nowhere may wait a second, or for ever.
void OnScreenEngine::ChooseWaitingView() {
  Shown* chosen = nullptr;
  for (int pass = 0; pass < 2 && !chosen; ++pass)
    for (auto& s : shown)
      if (!chosen && s->onMain == (pass == 0) && !s->gone && s->drawable &&
          s->view->isAnimating() && display->MayWaitForRefresh(s->window))
        chosen = s.get();
  for (auto& s : shown) {
    bool wanted = s.get() == chosen;
    if (wanted == s->waitWanted || s->gone || !s->drawable) continue;
    s->waitWanted = wanted;
    s->waits = s->view->glView->SetWaitForRefresh(wanted);
    if (options.verbose && wanted)
      std::fprintf(stderr,
                   s->waits ? "glymmer: view %d: its swaps wait for its monitor's refresh\n"
                            : "glymmer: view %d: the driver offers no swaps that wait for the "
                              "refresh; the view's clock paces its frames\n",
                   s->number);
  }
}

// When a view that the display does not pace is due its next tick: at its
// step clock's next tick (a tick a little early still steps).
double OnScreenEngine::DueTime(const Shown* s) const {
  const GlymmerView* view = s->view;
  if (!view->initialized) return 0;  // the set-up tick: at once
  double due = view->nextStepTime();
  if (powerSaver && s->firstFrameTime >= 0) due = std::max(due, s->lastFrameTime + kPowerSaverInterval);
  return due;
}

uint64_t OnScreenEngine::FramesSoFar() const {
  uint64_t frames = framesOfRemoved;
  for (const auto& s : shown) frames += s->view->glView->PresentedFrames();
  return frames;
}

// Monitors that show nothing (the X server's own screen saver, DPMS) get no
// frames until they are lit again, as a daemon's hacks get none; the
// power-saver profile halves the frames.
void OnScreenEngine::FollowConditions() {
  bool nowDark = display->ScreenIsDark();
  if (nowDark != dark && options.verbose)
    std::fprintf(stderr,
                 nowDark ? "glymmer: the screen is dark; nothing is drawn until it is lit (%llu "
                           "frames so far)\n"
                         : "glymmer: the screen is lit again (%llu frames so far)\n",
                 static_cast<unsigned long long>(FramesSoFar()));
  dark = nowDark;
  PowerProfileUpdate();
  bool saving = PowerSaverOn();
  if (saving != powerSaver && options.verbose)
    std::fprintf(stderr, saving ? "glymmer: the power-saver profile is on: at most 30 frames a second\n"
                                : "glymmer: the power-saver profile is off: up to 60 frames a second\n");
  powerSaver = saving;
  // A display faster than the steps gets a frame at every refresh, drawn
  // between steps; not to save power.
  const double now = CFAbsoluteTimeGetCurrent();
  for (auto& s : shown) {
    if (s->gone || !s->drawable) continue;
    GlymmerView* view = s->view;
    const bool before = view->DrawsBetweenSteps();
    const double every = view->refreshInterval > 0 ? kRefreshKnownEvery : kRefreshUnknownEvery;
    if (powerSaver) {
      view->refreshInterval = 0;
      s->refreshAskedAt = -1;
    } else if (s->refreshAskedAt < 0 || now - s->refreshAskedAt >= every) {
      view->refreshInterval = display->RefreshInterval(s->window);
      s->refreshAskedAt = now;
    }
    view->refreshPaced = display->PacesFrames(s->window) || s->waits;
    if (options.verbose && view->DrawsBetweenSteps() != before)
      std::fprintf(stderr,
                   before ? "glymmer: view %d: a frame at each step\n"
                          : "glymmer: view %d: the display refreshes %.1f times a second: a frame "
                            "at every refresh, between steps\n",
                   s->number, 1 / view->refreshInterval);
  }
}

// One tick of the view; true when it presented a frame.
bool OnScreenEngine::Tick(Shown* s) {
  GlymmerView* view = s->view;
  bool wasReady = view->glReady;
  uint64_t before = view->glView->PresentedFrames();
  view->animateOneFrame();
  if (!view->isAnimating()) {
    // The view will not draw again; its surface keeps showing black.
    display->PaintBlack(s->window);
    if (options.verbose)
      std::fprintf(stderr, "glymmer: view %d stays black: it is not on the main screen\n",
                   s->number);
  }
  if (options.verbose && !wasReady && view->glReady) {
    GLint viewport[4] = {0, 0, 0, 0};
    glGetIntegerv(GL_VIEWPORT, viewport);
    std::fprintf(stderr, "glymmer: view %d: OpenGL set up for %.0fx%.0f, viewport %d %d %d %d\n",
                 s->number, view->bounds().size.width, view->bounds().size.height, viewport[0],
                 viewport[1], viewport[2], viewport[3]);
  }
  uint64_t after = view->glView->PresentedFrames();
  if (after == before) return false;
  double now = CFAbsoluteTimeGetCurrent();
  if (s->firstFrameTime < 0) {
    s->firstFrameTime = now;
    s->firstFrame = after;
    s->secondStart = now;
    s->presentedAtSecond = after;
    if (timeAtFirstFrame < 0) {
      timeAtFirstFrame = now;
      cpuAtFirstFrame = CpuSeconds();
      for (auto& other : shown) framesAtFirstFrame += other->view->glView->PresentedFrames();
    }
  }
  s->lastFrameTime = now;
  if (options.verbose && view->DrawsBetweenSteps()) {  // only --verbose reports it
    const double shown = view->presentAt;
    if (s->lastShownScene > 0 && s->sceneSteps.size() < 1000000)
      s->sceneSteps.push_back(static_cast<float>(shown - s->lastShownScene));
    s->lastShownScene = shown;
  } else {
    s->lastShownScene = 0;
  }
  if (now - s->secondStart >= 1.0) {
    double rate = static_cast<double>(after - s->presentedAtSecond) / (now - s->secondStart);
    std::snprintf(s->fpsText, sizeof s->fpsText, "FPS: %.1f", rate);
    s->secondStart = now;
    s->presentedAtSecond = after;
  }
  return true;
}

void OnScreenEngine::Handle(const WindowEvent& e) {
  Shown* s = Find(e.window);
  bool endsOnInput = EndsOnInput();
  bool hack = options.mode == RunMode::Hack;
  // Outputs that come and go while a view covers each one.
  bool followsOutputs = endsOnInput && display->ReportsOutputChanges();
  switch (e.kind) {
    case WindowEvent::kKey:
      if (endsOnInput || (!hack && e.escape)) quit = true;
      break;
    case WindowEvent::kButton:
      if (endsOnInput) quit = true;
      break;
    case WindowEvent::kMotion:
      if (endsOnInput) {
        // Only motion from a reference point counts as travel.
        if (!pointerKnown || e.newReference) {
          pointerX = e.rootX;
          pointerY = e.rootY;
          pointerKnown = true;
        } else if (std::abs(e.rootX - pointerX) + std::abs(e.rootY - pointerY) > kMotionSlack) {
          quit = true;
        }
      }
      break;
    case WindowEvent::kResize:
      if (s && !s->gone && (e.width != s->size.width || e.height != s->size.height)) {
        s->size.width = e.width;
        s->size.height = e.height;
        s->refreshAskedAt = -1;  // perhaps on another monitor now
        s->view->setFrameSize(s->size);
        if (options.verbose)
          std::fprintf(stderr, "glymmer: view %d: window resized to %dx%d\n", s->number, e.width,
                       e.height);
        // A view that does not draw shows black at the new size, or the
        // desktop would show beside it.
        if (!s->view->isAnimating() || !s->drawable) display->PaintBlack(s->window);
      }
      break;
    case WindowEvent::kClose:
      if (!hack) quit = true;
      break;
    case WindowEvent::kDestroyed:
      if (s && followsOutputs) {
        // Its output was closed; the views on the others go on.
        RemoveView(s);
        break;
      }
      if (s) s->gone = true;
      // A hack waits for its SIGTERM; the other modes end with their window.
      if (!hack) quit = true;
      break;
    case WindowEvent::kExpose:
      // Views that no longer draw stay black; the others draw again soon.
      if (s && !s->gone && (!s->view->isAnimating() || !s->drawable))
        display->PaintBlack(s->window);
      break;
    case WindowEvent::kOutputAdded:
      // The desktop's coordinates may shift under the pointer.
      pointerKnown = false;
      if (followsOutputs)
        for (const DisplayOutput& output : display->Outputs())
          if (output.id == e.output) {
            if (options.verbose)
              std::fprintf(stderr, "glymmer: output %s appeared\n", output.name.c_str());
            if (!OpenOutputView(output))
              std::fprintf(stderr, "glymmer: no view on the new output %s\n", output.name.c_str());
          }
      if (followsOutputs) outputsChanged = true;
      break;
    case WindowEvent::kOutputRemoved:
      pointerKnown = false;
      if (followsOutputs)
        for (auto& each : shown)
          if (each->output == e.output) {
            if (options.verbose)
              std::fprintf(stderr, "glymmer: the output of view %d went away\n", each->number);
            RemoveView(each.get());
            break;
          }
      if (followsOutputs) outputsChanged = true;
      break;
    case WindowEvent::kLost:
      lost = true;
      quit = true;
      for (auto& each : shown) each->gone = true;
      break;
  }
}

void OnScreenEngine::Loop() {
  double end = options.secondsGiven && options.mode != RunMode::Hack
                   ? startTime + options.seconds
                   : HUGE_VAL;
  while (!gStopSignal && !quit) {
    WindowEvent e;
    // Whatever the display sent before now is read here, frame requests too.
    double readAt = CFAbsoluteTimeGetCurrent();
    while (!quit && display->NextEvent(&e)) Handle(e);
    if (quit || gStopSignal) break;
    if (outputsChanged) {
      outputsChanged = false;
      FollowMain();
      for (auto& each : shown) each->refreshAskedAt = -1;  // modes may have changed too
    }
    double now = CFAbsoluteTimeGetCurrent();
    if (now >= end) break;
    double next = std::min(end, now + kLongestWait);
    if (now >= conditionsAt) {
      FollowConditions();
      conditionsAt = now + kConditionsEvery;
    }
    if (dark) {
      display->Flush();
      display->WaitForEvents(std::min(next, conditionsAt) - now);
      continue;
    }
    ChooseWaitingView();
    for (auto& s : shown) {
      if (s->gone || !s->drawable || !s->view->isAnimating()) continue;
      // A view the display paces ticks at each of its refreshes, and steps
      // at those its step clock allows; the others tick by the step clock.
      bool paced = display->PacesFrames(s->window);
      if (!paced && now < DueTime(s.get())) {
        next = std::min(next, DueTime(s.get()));
        continue;
      }
      if (!display->WantsFrame(s->window)) {
        // Until the display asks (its event ends the wait below); no
        // request for a while means that it shows the view nowhere.
        if (!s->hidden && readAt - s->tickedAt > kHiddenAfter) {
          if (options.verbose)
            std::fprintf(stderr, "glymmer: view %d is hidden; it pauses\n", s->number);
          s->hidden = true;
        }
        continue;
      }
      if (s->hidden && options.verbose)
        std::fprintf(stderr, "glymmer: view %d is shown again\n", s->number);
      s->hidden = false;
      if (paced && powerSaver && s->firstFrameTime >= 0 && now - s->lastFrameTime < kPowerSaverInterval) {
        // This refresh keeps the last frame; the next is asked for.
        display->TickEnded(s->window, false);
        s->tickedAt = now;
        continue;
      }
      bool presented = Tick(s.get());
      display->TickEnded(s->window, presented);
      if (s->waits && !s->view->glView->WaitsForRefresh()) {
        s->waits = false;
        if (options.verbose)
          std::fprintf(stderr,
                       "glymmer: view %d: a swap waited too long for the refresh; its swaps "
                       "no longer wait\n",
                       s->number);
      }
      now = CFAbsoluteTimeGetCurrent();
      s->tickedAt = now;
      if (!paced && s->view->isAnimating()) next = std::min(next, DueTime(s.get()));
    }
    display->Flush();
    if (!shownReported && AllShown()) {
      shownReported = true;
      ReportShown();
    }
    double wait = next - CFAbsoluteTimeGetCurrent();
    if (wait > 0) display->WaitForEvents(wait);
  }
}

void OnScreenEngine::WaitForStop() {
  // A hack that exits by itself counts as crashed: wait for the daemon's
  // SIGTERM, keeping the window black meanwhile.
  while (!gStopSignal) {
    if (display && !lost) {
      WindowEvent e;
      while (display->NextEvent(&e)) {
        Shown* s = Find(e.window);
        if (e.kind == WindowEvent::kExpose && s && !s->gone) display->PaintBlack(s->window);
        if (e.kind == WindowEvent::kDestroyed && s) s->gone = true;
        if (e.kind == WindowEvent::kLost) lost = true;
      }
      display->WaitForEvents(kLongestWait);
    } else {
      timespec pause{0, 250 * 1000 * 1000};
      nanosleep(&pause, nullptr);
    }
  }
}

void OnScreenEngine::Report() {
  if (!options.verbose || timeAtFirstFrame < 0) return;
  double now = CFAbsoluteTimeGetCurrent();
  double cpu = CpuSeconds() - cpuAtFirstFrame;
  uint64_t frames = framesOfRemoved;
  for (auto& s : shown) {
    uint64_t presented = s->view->glView->PresentedFrames();
    frames += presented;
    if (s->firstFrameTime < 0 || s->lastFrameTime <= s->firstFrameTime) continue;
    double seconds = s->lastFrameTime - s->firstFrameTime;
    std::fprintf(stderr, "glymmer: view %d: %llu frames in %.2f s, %.1f frames per second\n",
                 s->number, static_cast<unsigned long long>(presented - s->firstFrame), seconds,
                 static_cast<double>(presented - s->firstFrame) / seconds);
    if (s->sceneSteps.size() > 1) {
      std::vector<float>& moved = s->sceneSteps;
      double sum = 0, squares = 0;
      for (float m : moved) {
        sum += m;
        squares += static_cast<double>(m) * m;
      }
      const double n = static_cast<double>(moved.size());
      const double mean = sum / n;
      const double spread = std::sqrt(std::max(0.0, squares / n - mean * mean));
      const float longest = *std::max_element(moved.begin(), moved.end());
      std::nth_element(moved.begin(), moved.begin() + static_cast<long>(moved.size() / 2), moved.end());
      std::fprintf(stderr,
                   "glymmer: view %d: frames between steps: the scene moves %.3f ms a frame, "
                   "deviation %.3f ms, most frames %.3f ms, at most %.3f ms, over %zu frames\n",
                   s->number, 1000 * mean, 1000 * spread, 1000.0 * moved[moved.size() / 2],
                   1000.0 * longest, moved.size());
    }
  }
  frames -= framesAtFirstFrame;
  if (frames > 0)
    std::fprintf(stderr, "glymmer: CPU time %.2f ms per frame (%llu frames in %.2f s)\n",
                 1000.0 * cpu / static_cast<double>(frames), static_cast<unsigned long long>(frames),
                 now - timeAtFirstFrame);
}

void OnScreenEngine::DestroyAll() {
  // Each view cleans its scene up with its own context current; then the
  // windows made here go, and last the connection.
  for (auto& s : shown) {
    if (!s->view) continue;
    delete s->view;
    s->view = nullptr;
    if (options.verbose) std::fprintf(stderr, "glymmer: view %d destroyed\n", s->number);
  }
  if (display) {
    for (auto& s : shown)
      if (s->ownWindow && !s->gone) display->CloseSurface(&s->window);
  }
  shown.clear();
  if (display) display->Disconnect();
}

int OnScreenEngine::Run() {
  bool hack = options.mode == RunMode::Hack;
  for (const std::string& w : options.warnings) std::fprintf(stderr, "glymmer: %s\n", w.c_str());
  if (options.verbose)
    std::fprintf(stderr, "glymmer: resources in %s\n",
                 Bundle::bundleForClass()->resourcePath().c_str());
  startTime = CFAbsoluteTimeGetCurrent();
  // Starts following the power profile, which answers while the views set up.
  PowerSaverOn();
  DisplayBackend backend = DisplayBackend::kX11;
  if (options.backendGiven)
    backend = options.backend;
  else if (!hack)
    DisplayBackendFromEnvironment(&backend);  // a hack is always an X11 client
  display = MakeDisplaySystem(backend);
  DisplaySettings settings;
  settings.mainOutput = options.mainOutput;
  settings.verbose = options.verbose;
  if (!display->Connect(settings)) {
    display.reset();
    ReportStarted(false);
    if (!hack) return 1;
    WaitForStop();
    return 0;
  }
  if (options.verbose)
    std::fprintf(stderr, "glymmer: on %s, %d output%s\n", display->Name(), ScreenCount(),
                 ScreenCount() == 1 ? "" : "s");
  if (!OpenViews()) {
    ReportStarted(false);
    if (!hack) {
      DestroyAll();
      return 1;
    }
    WaitForStop();
    DestroyAll();
    return 0;
  }
  ReportStarted(true);
  Loop();
  if (lost) {
    // Whatever the driver does with surfaces of a connection that is gone,
    // the process ends soon.
    EndWithin(kLostGraceSeconds, 1);
  }
  Report();
  DestroyAll();
  return lost ? 1 : 0;
}

}  // namespace

int RunOnScreen(const Options& options) {
  OnScreenEngine engine(options);
  return engine.Run();
}
