// On screen, each test on a private Xvfb server: the OpenGL view in X
// windows, XRandR monitors as screens, and the glymmer program's window,
// full-screen and xscreensaver hack modes, looked at through screenshots.

#include "support/Program.h"
#include "support/TestSupport.h"
#include "support/Xvfb.h"

#include "host/GlymmerView.h"
#include "platform/Clock.h"
#include "platform/OpenGLView.h"
#include "platform/ScreenSaverDefaults.h"
#include "platform/Screens.h"
#include "platform/x11/X11Display.h"
#include "scene/SSMain.h"

#include <GL/gl.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <time.h>
#include <vector>

namespace {

void Nap(double seconds) {
  timespec t{static_cast<time_t>(seconds),
             static_cast<long>((seconds - static_cast<double>(static_cast<time_t>(seconds))) * 1e9)};
  nanosleep(&t, nullptr);
}

// A screenshot: RGB rows top first.
struct Shot {
  std::vector<unsigned char> rgb;
  int width = 0, height = 0;

  // Share of pixels in [x0, x1) x [y0, y1) that are not near-black.
  double Lit(int x0, int y0, int x1, int y1) const {
    long long lit = 0, all = 0;
    for (int y = y0; y < y1; ++y)
      for (int x = x0; x < x1; ++x, ++all) {
        const unsigned char* p = &rgb[(static_cast<size_t>(y) * width + x) * 3];
        if (p[0] > 24 || p[1] > 24 || p[2] > 24) ++lit;
      }
    return all ? static_cast<double>(lit) / static_cast<double>(all) : 0;
  }
  double Lit() const { return Lit(0, 0, width, height); }
  // Colour of one pixel as 0xRRGGBB.
  unsigned Colour(int x, int y) const {
    const unsigned char* p = &rgb[(static_cast<size_t>(y) * width + x) * 3];
    return (static_cast<unsigned>(p[0]) << 16) | (static_cast<unsigned>(p[1]) << 8) | p[2];
  }
};

// Each test gets its own X server, preference store and log folder.
class OnScreenTest : public ::testing::Test {
protected:
  void SetUp() override {
    setenv("XDG_CONFIG_HOME", dir.Path().c_str(), 1);
    ScreenSaverDefaults::ForgetStoresForTesting();
    ResetScreens();
  }
  void TearDown() override {
    x.Close();
    ResetScreens();
    ScreenSaverDefaults::ForgetStoresForTesting();
  }

  // Starts the server and connects to it.
  void StartServer(int width = 320, int height = 240) {
    ASSERT_TRUE(server.Start(width, height)) << "Xvfb is not installed or cannot start";
    ASSERT_TRUE(x.Open(server.Display().c_str()));
  }

  // Splits the screen into two RandR monitors, "left" and "right", of
  // half the width each; `primary` is "left", "right" or "" for neither.
  void TwoMonitors(int width, int height, const std::string& primary) {
    std::string half = std::to_string(width / 2) + "/100x" + std::to_string(height) + "/100";
    std::string left = (primary == "left" ? "'*left' " : "left ") + half + "+0+0 screen";
    std::string right = (primary == "right" ? "'*right' " : "right ") + half + "+" +
                        std::to_string(width / 2) + "+0 none";
    ASSERT_EQ(0, RunOnDisplay(server.Display(), "xrandr --setmonitor " + left + " >/dev/null"));
    ASSERT_EQ(0, RunOnDisplay(server.Display(), "xrandr --setmonitor " + right + " >/dev/null"));
  }

  // Writes version "1.0" settings with `glyphs` glyphs and the built-in
  // pictures, where both this process and a glymmer started by the test
  // read them.
  void StoreSettings(bool mainMonitorOnly, int glyphs = 3000) {
    mkdir((dir.Path() + "/glymmer").c_str(), 0755);
    std::ofstream ini(dir.Path() + "/glymmer/kvGlymmerSS.ini");
    ini << "[kvGlymmerSS]\nversion=1.0\nMainMonitorOnly=" << (mainMonitorOnly ? "true" : "false")
        << "\nShowCaption=true\nMLFirst=true\nCharSize=20\nCharType=0\nPicSize=" << glyphs
        << "\nPicDelay=120\nPicPath=" << GLYMMER_SOURCE_DIR << "/resources/pics/\n";
    ScreenSaverDefaults::ForgetStoresForTesting();
  }

  Shot Capture(unsigned long window = 0) {
    Shot s;
    EXPECT_TRUE(x.Capture(window, s.rgb, &s.width, &s.height)) << "cannot read window " << window;
    return s;
  }

  // Starts glymmer on the server with these arguments; its output goes to
  // log. `env` adds to or changes the environment.
  void StartGlymmer(const std::vector<std::string>& args, std::vector<std::string> env = {}) {
    std::vector<std::string> argv{std::string(GLYMMER_BINARY_DIR) + "/app/glymmer"};
    argv.insert(argv.end(), args.begin(), args.end());
    env.push_back("DISPLAY=" + server.Display());
    env.push_back("XDG_CONFIG_HOME=" + dir.Path());
    ASSERT_TRUE(glymmer.Start(argv, env, Log()));
  }
  std::string Log() const { return dir.File("glymmer.log"); }
  std::string LogText() const { return ReadFileBytes(Log()); }

  // The window glymmer reports for view `number` in its --verbose output.
  unsigned long ReportedWindow(int number) {
    std::string marker = "view " + std::to_string(number) + ": ";
    std::string text = LogText();
    size_t at = text.find(marker);
    size_t win = at == std::string::npos ? at : text.find("in window 0x", at);
    if (win == std::string::npos) return 0;
    return std::strtoul(text.c_str() + win + 10, nullptr, 16);
  }

  // Waits until the region of `window` is lit by more than `share`; the
  // last screenshot.
  Shot WaitForLight(unsigned long window, double share, int x0, int y0, int x1, int y1,
                    double seconds = 10) {
    Shot s;
    for (double waited = 0; waited < seconds; waited += 0.1) {
      s = Capture(window);
      if (s.width >= x1 && s.height >= y1 && s.Lit(x0, y0, x1, y1) > share) break;
      Nap(0.1);
    }
    return s;
  }

  // Ends glymmer with SIGTERM and returns its exit status.
  int Terminate() {
    glymmer.Signal(SIGTERM);
    int status = -1;
    EXPECT_TRUE(glymmer.Wait(10, &status)) << "glymmer did not end on SIGTERM";
    return status;
  }

  TempDir dir;
  Xvfb server;
  X11Display x;
  Program glymmer;
};

// A plain view with an OpenGL child view, drawn into directly.
struct PlainView {
  ScreenSaverView view;
  NSOpenGLView* gl = nullptr;
  explicit PlainView(NSWindow* window, double w, double h) {
    view.initWithFrame(NSMakeRect(0, 0, w, h), false);
    view.SetWindow(window);
    NSOpenGLPixelFormat format;
    const uint32_t attributes[] = {NSOpenGLPFAColorSize, 32, 0};
    format.initWithAttributes(attributes);
    gl = (new NSOpenGLView)->initWithFrame(NSMakeRect(0, 0, w, h), &format);
    view.addSubview(gl);
  }
  void Clear(float r, float g, float b) {
    glClearColor(r, g, b, 1);
    glClear(GL_COLOR_BUFFER_BIT);
  }
};

}  // namespace

// ---------------------------------------------------------------------------
// Screens from XRandR monitors.

TEST_F(OnScreenTest, ScreensAreTheMonitorsWithThePrimaryAsMain) {
  StartServer(320, 240);
  ASSERT_TRUE(LoadMonitorScreens(x.Native()));
  EXPECT_EQ(1, ScreenCount()) << "a plain Xvfb has one monitor";
  EXPECT_DOUBLE_EQ(320, mainScreen()->width);

  TwoMonitors(320, 240, "right");
  ASSERT_TRUE(LoadMonitorScreens(x.Native()));
  ASSERT_EQ(2, ScreenCount());
  EXPECT_NE(ScreenAt(0)->screenNumber(), ScreenAt(1)->screenNumber());
  EXPECT_DOUBLE_EQ(160, mainScreen()->x) << "the primary monitor (the right half) is main";
  EXPECT_DOUBLE_EQ(160, mainScreen()->width);
  EXPECT_EQ(ScreenAtPoint(0, 0), ScreenAtPoint(159, 239));
  EXPECT_EQ(mainScreen(), ScreenAtPoint(160, 0));
  EXPECT_EQ(nullptr, ScreenAtPoint(320, 0)) << "right edges are exclusive";
}

TEST_F(OnScreenTest, WithoutAPrimaryMonitorTheFirstIsMain) {
  StartServer(320, 240);
  TwoMonitors(320, 240, "");
  ASSERT_TRUE(LoadMonitorScreens(x.Native()));
  ASSERT_EQ(2, ScreenCount());
  EXPECT_EQ(ScreenAt(0), mainScreen());
}

TEST_F(OnScreenTest, AWindowIsOnTheMonitorThatHoldsItsCentre) {
  StartServer(320, 240);
  TwoMonitors(320, 240, "left");
  ASSERT_TRUE(LoadMonitorScreens(x.Native()));
  const Screen* left = ScreenAtPoint(10, 10);
  const Screen* right = ScreenAtPoint(300, 10);
  ASSERT_NE(left, right);
  NSWindow mostlyRight, mostlyLeft;
  // 40..200: its centre (120) is on the left monitor although it reaches
  // into the right one.
  ASSERT_TRUE(x.OpenWindow(NSMakeRect(40, 20, 160, 100), false, "a", &mostlyLeft));
  ASSERT_TRUE(x.OpenWindow(NSMakeRect(150, 20, 160, 100), false, "b", &mostlyRight));
  EXPECT_EQ(left, mostlyLeft.screen());
  EXPECT_EQ(right, mostlyRight.screen());
  EXPECT_EQ(0, RunOnDisplay(server.Display(), "xdotool windowmove " +
                                                  std::to_string(mostlyLeft.nativeWindow) +
                                                  " 200 20"));
  EXPECT_EQ(right, mostlyLeft.screen()) << "a window that moved is on its new monitor";
  x.CloseWindow(&mostlyLeft);
  x.CloseWindow(&mostlyRight);
}

// ---------------------------------------------------------------------------
// The OpenGL view in X windows.

TEST_F(OnScreenTest, AWindowShowsOnlyFinishedFramesDrawnWithItsOwnVisual) {
  StartServer(320, 240);
  NSWindow window;
  ASSERT_TRUE(x.OpenWindow(NSMakeRect(0, 0, 120, 90), false, "frames", &window));
  {
    PlainView plain(&window, 120, 90);
    ASSERT_TRUE(plain.gl->openGLContext()->makeCurrentContext());
    EXPECT_FALSE(plain.gl->IsHeadless());
    EXPECT_EQ(window.nativeVisual, plain.gl->DrawableVisual());

    plain.Clear(1, 0, 0);
    plain.gl->openGLContext()->flushBuffer();
    EXPECT_EQ(1u, plain.gl->PresentedFrames());
    Shot red = Capture(window.nativeWindow);
    ASSERT_EQ(120, red.width);
    EXPECT_EQ(0xFF0000u, red.Colour(5, 5));
    EXPECT_EQ(0xFF0000u, red.Colour(119, 89));

    // Drawn but not yet flushed: still the last finished frame on screen.
    plain.Clear(0, 0, 1);
    glFinish();
    EXPECT_EQ(0xFF0000u, Capture(window.nativeWindow).Colour(60, 45))
        << "a half-drawn frame is visible";
    plain.gl->openGLContext()->flushBuffer();
    EXPECT_EQ(0x0000FFu, Capture(window.nativeWindow).Colour(60, 45));
  }
  x.CloseWindow(&window);
}

TEST_F(OnScreenTest, TwoViewsOnOneThreadKeepTheirOwnContexts) {
  StartServer(320, 240);
  NSWindow a, b;
  ASSERT_TRUE(x.OpenWindow(NSMakeRect(0, 0, 100, 80), false, "a", &a));
  ASSERT_TRUE(x.OpenWindow(NSMakeRect(150, 0, 100, 80), false, "b", &b));
  {
    PlainView one(&a, 100, 80), two(&b, 100, 80);
    ASSERT_TRUE(one.gl->openGLContext()->makeCurrentContext());
    glClearColor(0, 1, 0, 1);  // state of one context only
    ASSERT_TRUE(two.gl->openGLContext()->makeCurrentContext());
    two.Clear(1, 0, 1);
    two.gl->openGLContext()->flushBuffer();
    ASSERT_TRUE(one.gl->openGLContext()->makeCurrentContext());
    glClear(GL_COLOR_BUFFER_BIT);
    one.gl->openGLContext()->flushBuffer();
    EXPECT_EQ(0x00FF00u, Capture(a.nativeWindow).Colour(50, 40));
    EXPECT_EQ(0xFF00FFu, Capture(b.nativeWindow).Colour(50, 40));
  }
  x.CloseWindow(&a);
  x.CloseWindow(&b);
}

TEST_F(OnScreenTest, AResizeReachesGlInitAndTheWindowSurface) {
  StartServer(320, 240);
  StoreSettings(false, 300);
  NSWindow window;
  ASSERT_TRUE(x.OpenWindow(NSMakeRect(0, 0, 160, 120), false, "resize", &window));
  FakeClock clock;
  clock.now = 5000;
  clock.Install();
  GlymmerView* view = new GlymmerView;
  ASSERT_EQ(view, view->initWithFrame(NSMakeRect(0, 0, 160, 120), false));
  view->SetWindow(&window);
  view->setFrameSize(NSMakeSize(160, 120));
  view->startAnimation();
  view->animateOneFrame();
  clock.now += 0.02;
  view->animateOneFrame();
  ASSERT_NE(nullptr, view->ssMain);
  EXPECT_EQ(2u, view->glView->PresentedFrames()) << "the start's black frame and one frame";

  ASSERT_EQ(0, RunOnDisplay(server.Display(), "xdotool windowsize " +
                                                  std::to_string(window.nativeWindow) +
                                                  " 240 100"));
  view->setFrameSize(NSMakeSize(240, 100));
  EXPECT_FALSE(view->glReady);
  clock.now += 0.02;
  view->animateOneFrame();
  EXPECT_TRUE(view->glReady);
  GLint viewport[4];
  glGetIntegerv(GL_VIEWPORT, viewport);
  EXPECT_EQ(240, viewport[2]);
  EXPECT_EQ(100, viewport[3]);
  EXPECT_EQ(240, view->ssMain->width);
  int w = 0, h = 0;
  ASSERT_TRUE(view->glView->DrawableSize(&w, &h));
  EXPECT_EQ(240, w) << "the window surface did not follow the window";
  EXPECT_EQ(100, h);
  Shot shot = Capture(window.nativeWindow);
  EXPECT_EQ(240, shot.width);
  delete view;
  clock.Uninstall();
  x.CloseWindow(&window);
}

// ---------------------------------------------------------------------------
// The glymmer program.

TEST_F(OnScreenTest, WindowModeShowsAChangingMosaicAndEscapeEndsIt) {
  StartServer(320, 240);
  StoreSettings(false);
  StartGlymmer({"--size", "240x180", "--verbose"});
  ASSERT_TRUE(WaitForText(Log(), "OpenGL set up for 240x180", 10)) << LogText();
  unsigned long window = ReportedWindow(1);
  ASSERT_NE(0u, window) << LogText();
  Shot first = WaitForLight(window, 0.02, 0, 0, 240, 180);
  EXPECT_GT(first.Lit(), 0.02) << "the window stays black";
  Nap(0.3);
  Shot later = Capture(window);
  EXPECT_GT(later.Lit(), 0.02);
  EXPECT_NE(first.rgb, later.rgb) << "the mosaic does not move";

  ASSERT_EQ(0, RunOnDisplay(server.Display(),
                            "xdotool keydown --window " + std::to_string(window) + " Escape"));
  int status = -1;
  ASSERT_TRUE(glymmer.Wait(10, &status)) << "Escape did not end the window mode";
  EXPECT_EQ(0, status);
  EXPECT_NE(std::string::npos, LogText().find("view 1 destroyed"));
}

TEST_F(OnScreenTest, ResizingTheWindowReachesGlInitAndClosingEndsIt) {
  StartServer(320, 240);
  StoreSettings(false, 300);
  StartGlymmer({"-size", "160x120", "-verbose"});
  ASSERT_TRUE(WaitForText(Log(), "OpenGL set up for 160x120, viewport 0 0 160 120", 10))
      << LogText();
  unsigned long window = ReportedWindow(1);
  ASSERT_NE(0u, window);
  ASSERT_EQ(0, RunOnDisplay(server.Display(),
                            "xdotool windowsize " + std::to_string(window) + " 300 200"));
  EXPECT_TRUE(WaitForText(Log(), "OpenGL set up for 300x200, viewport 0 0 300 200", 10))
      << LogText();
  x.RequestClose(window);
  int status = -1;
  ASSERT_TRUE(glymmer.Wait(10, &status)) << "closing the window did not end it";
  EXPECT_EQ(0, status);
  EXPECT_NE(std::string::npos, LogText().find("view 1 destroyed"));
}

TEST_F(OnScreenTest, ThePreviewIsASmallWindowAndGeometryPlacesTheWindow) {
  StartServer(320, 240);
  StoreSettings(false, 300);
  StartGlymmer({"--preview", "--verbose"});
  ASSERT_TRUE(WaitForText(Log(), "OpenGL set up for 320x200", 10)) << LogText();
  EXPECT_NE(std::string::npos, LogText().find("320x200 in window")) << LogText();
  EXPECT_NE(std::string::npos, LogText().find(", preview")) << LogText();
  EXPECT_EQ(0, Terminate()) << "SIGTERM ends the window modes in order too";
  EXPECT_NE(std::string::npos, LogText().find("view 1 destroyed"));

  StartGlymmer({"-geometry", "100x80-10+20", "--verbose"});
  ASSERT_TRUE(WaitForText(Log(), "OpenGL set up for 100x80", 10)) << LogText();
  // The window sits 10 pixels from the right edge and 20 from the top:
  // the screen is lit there and nowhere else.
  Shot screen = WaitForLight(0, 0.005, 210, 20, 310, 100);
  EXPECT_GT(screen.Lit(210, 20, 310, 100), 0.005) << "the window is not where it was asked";
  EXPECT_EQ(0, screen.Lit(0, 0, 320, 20));
  EXPECT_EQ(0, screen.Lit(0, 100, 320, 240));
  EXPECT_EQ(0, screen.Lit(0, 0, 210, 240));
  EXPECT_EQ(0, Terminate());
}

TEST_F(OnScreenTest, TheHackDrawsIntoTheWindowItIsGivenAndSigtermEndsIt) {
  StartServer(320, 240);
  StoreSettings(false);
  NSWindow given, other;
  ASSERT_TRUE(x.OpenWindow(NSMakeRect(0, 0, 200, 150), false, "given", &given));
  ASSERT_TRUE(x.OpenWindow(NSMakeRect(200, 0, 100, 100), false, "other", &other));
  char hex[32];
  std::snprintf(hex, sizeof hex, "0x%lx", given.nativeWindow);
  // The settings preview appends -window-id to a line that says -root.
  StartGlymmer({"-root", "-fps", "-install", "-visual", "default", "-mono", "-geometry",
                "200x150+0+0", "-window-id", hex, "--verbose"},
               {"XSCREENSAVER_WINDOW=" + std::to_string(other.nativeWindow)});
  Shot first = WaitForLight(given.nativeWindow, 0.02, 0, 0, 200, 150);
  EXPECT_GT(first.Lit(), 0.02) << LogText();
  Nap(0.3);
  EXPECT_NE(first.rgb, Capture(given.nativeWindow).rgb) << "the mosaic does not move";
  EXPECT_EQ(0, Capture(other.nativeWindow).Lit()) << "-window-id must win over -root";
  // The daemon resizes its window: the view follows.
  ASSERT_EQ(0, RunOnDisplay(server.Display(),
                            "xdotool windowsize " + std::to_string(given.nativeWindow) + " 160 120"));
  EXPECT_TRUE(WaitForText(Log(), "OpenGL set up for 160x120, viewport 0 0 160 120", 10))
      << LogText();
  EXPECT_TRUE(glymmer.Running());
  EXPECT_EQ(0, Terminate());
  EXPECT_NE(std::string::npos, LogText().find("view 1 destroyed")) << LogText();

  // -root alone means the daemon's window, named in decimal here.
  StartGlymmer({"--root"}, {"XSCREENSAVER_WINDOW=" + std::to_string(other.nativeWindow)});
  Shot shown = WaitForLight(other.nativeWindow, 0.02, 0, 0, 100, 100);
  EXPECT_GT(shown.Lit(), 0.02) << LogText();
  EXPECT_EQ(0, Terminate());
}

// Swaps wait for the monitor's refresh only where the driver offers that
// (Xvfb's software renderer does not: the view's clock paces the frames, as
// before), and a window that is unmapped or covered never holds the hack up.
TEST_F(OnScreenTest, TheHacksSwapsWaitOnlyWhereOfferedAndItsWindowHiddenNeverHoldsItUp) {
  StartServer(320, 240);
  StoreSettings(false, 300);
  NSWindow given;
  ASSERT_TRUE(x.OpenWindow(NSMakeRect(0, 0, 200, 150), false, "given", &given));
  const std::string id = std::to_string(given.nativeWindow);
  StartGlymmer({"-window-id", id, "--verbose"});
  ASSERT_TRUE(WaitForText(Log(), "OpenGL set up for 200x150", 10)) << LogText();
  EXPECT_NE(std::string::npos, LogText().find("view 1: the driver offers no swaps that wait"))
      << LogText();
  EXPECT_EQ(std::string::npos, LogText().find("wait for its monitor's refresh")) << LogText();

  // Unmapped, then covered by another window, and shown again: it still
  // draws a moving mosaic, and ends on SIGTERM. The display system sees
  // each change (a window it shows nowhere never gets swaps that wait).
  auto shown = [&]() {
    WindowEvent e;
    Nap(0.3);
    while (x.NextEvent(&e)) {
    }
    return x.Shown(given.nativeWindow);
  };
  EXPECT_TRUE(shown());
  ASSERT_EQ(0, RunOnDisplay(server.Display(), "xdotool windowunmap --sync " + id));
  EXPECT_FALSE(shown());
  ASSERT_EQ(0, RunOnDisplay(server.Display(), "xdotool windowmap --sync " + id));
  EXPECT_TRUE(shown());
  NSWindow cover;
  ASSERT_TRUE(x.OpenWindow(NSMakeRect(0, 0, 200, 150), false, "cover", &cover));
  EXPECT_FALSE(shown());
  x.CloseWindow(&cover);
  EXPECT_TRUE(shown());
  Shot first = WaitForLight(given.nativeWindow, 0.02, 0, 0, 200, 150);
  Nap(0.3);
  EXPECT_NE(first.rgb, Capture(given.nativeWindow).rgb) << "the mosaic stopped: " << LogText();
  EXPECT_TRUE(glymmer.Running());
  EXPECT_EQ(0, Terminate());
}

TEST_F(OnScreenTest, TheHackNeverEndsByItselfOnlyOnSigterm) {
  StartServer(320, 240);
  StoreSettings(false, 300);
  // No such window: the message, then a wait for the daemon's signal.
  StartGlymmer({"-window-id", "0x7ffffff"});
  ASSERT_TRUE(WaitForText(Log(), "no window 0x7ffffff", 10)) << LogText();
  Nap(0.3);
  EXPECT_TRUE(glymmer.Running()) << "the hack exited by itself";
  EXPECT_EQ(0, Terminate());

  // Options the daemon may pass that mean nothing here are passed over.
  NSWindow window;
  ASSERT_TRUE(x.OpenWindow(NSMakeRect(0, 0, 100, 80), false, "hack", &window));
  StartGlymmer({"-window-id", std::to_string(window.nativeWindow), "-pair", "--verbose"});
  ASSERT_TRUE(WaitForText(Log(), "OpenGL set up for 100x80", 10)) << LogText();
  EXPECT_NE(std::string::npos, LogText().find("unknown option '-pair'"));
  // The daemon destroys its window before it stops the hack.
  x.CloseWindow(&window);
  Nap(0.3);
  EXPECT_TRUE(glymmer.Running()) << "a vanished window ended the hack: " << LogText();
  EXPECT_EQ(0, Terminate());
  EXPECT_NE(std::string::npos, LogText().find("view 1 destroyed"));

  // No X server at all.
  std::vector<std::string> argv{std::string(GLYMMER_BINARY_DIR) + "/app/glymmer", "-root"};
  ASSERT_TRUE(glymmer.Start(argv, {"DISPLAY=:9999", "XDG_CONFIG_HOME=" + dir.Path()}, Log()));
  ASSERT_TRUE(WaitForText(Log(), "cannot open the X display", 10)) << LogText();
  EXPECT_TRUE(glymmer.Running());
  EXPECT_EQ(0, Terminate());
}

// xscreensaver's settings dialog runs the hack in a pane inside its window;
// the daemon runs it in a window of its own. Only the pane's view is the
// preview.
TEST_F(OnScreenTest, TheSettingsDialogsPaneGetsThePreviewAndTheDaemonsWindowDoesNot) {
  StartServer(320, 240);
  StoreSettings(false, 300);
  NSWindow daemon, dialog;
  ASSERT_TRUE(x.OpenWindow(NSMakeRect(0, 0, 120, 90), false, "XScreenSaver", &daemon));
  ASSERT_TRUE(x.OpenWindow(NSMakeRect(150, 0, 120, 90), false, "Settings", &dialog));
  auto setClass = [&](const NSWindow& w, const std::string& name) {
    return RunOnDisplay(server.Display(), "xdotool set_window --classname " + name + " --class " +
                                              name + " " + std::to_string(w.nativeWindow));
  };
  ASSERT_EQ(0, setClass(daemon, "xscreensaver"));
  ASSERT_EQ(0, setClass(dialog, "xscreensaver-settings"));

  StartGlymmer({"-root", "--verbose"},
               {"XSCREENSAVER_WINDOW=" + std::to_string(daemon.nativeWindow)});
  ASSERT_TRUE(WaitForText(Log(), "OpenGL set up for 120x90", 10)) << LogText();
  EXPECT_EQ(std::string::npos, LogText().find(", preview")) << LogText();
  EXPECT_EQ(0, Terminate());

  std::remove(Log().c_str());  // so that the first run's lines cannot be read as the second's
  StartGlymmer({"-root", "--verbose", "-window-id", std::to_string(dialog.nativeWindow)},
               {"XSCREENSAVER_WINDOW=" + std::to_string(dialog.nativeWindow)});
  ASSERT_TRUE(WaitForText(Log(), "OpenGL set up for 120x90", 10)) << LogText();
  EXPECT_NE(std::string::npos, LogText().find(", preview")) << LogText();
  EXPECT_EQ(0, Terminate());
  x.CloseWindow(&daemon);
  x.CloseWindow(&dialog);
}

TEST_F(OnScreenTest, FullScreenOnTwoMonitorsAnimatesOnlyTheMainOneUnderTheRule) {
  StartServer(320, 240);
  TwoMonitors(320, 240, "right");
  StoreSettings(true);
  StartGlymmer({"--fullscreen", "--verbose"});
  ASSERT_TRUE(WaitForText(Log(), "view 2:", 10)) << LogText();
  ASSERT_TRUE(WaitForText(Log(), "stays black", 10)) << LogText();
  std::string log = LogText();
  EXPECT_EQ(std::string::npos, log.find("view 3:")) << "one view per monitor: " << log;
  // The main (right) half shows the mosaic, the other stays black.
  Shot shot = WaitForLight(0, 0.02, 160, 0, 320, 240);
  EXPECT_GT(shot.Lit(160, 0, 320, 240), 0.02) << "the main monitor is black";
  Nap(0.3);
  shot = Capture();
  EXPECT_EQ(0, shot.Lit(0, 0, 160, 240)) << "the other monitor is not black";
  EXPECT_GT(shot.Lit(160, 0, 320, 240), 0.02);

  // Pointer motion ends it; the windows' own mapping did not.
  EXPECT_TRUE(glymmer.Running());
  ASSERT_EQ(0, RunOnDisplay(server.Display(), "xdotool mousemove_relative 40 30"));
  int status = -1;
  ASSERT_TRUE(glymmer.Wait(10, &status)) << "pointer motion did not end it";
  EXPECT_EQ(0, status);
  log = LogText();
  EXPECT_NE(std::string::npos, log.find("view 1 destroyed"));
  EXPECT_NE(std::string::npos, log.find("view 2 destroyed"));
}

TEST_F(OnScreenTest, FullScreenWithoutTheRuleAnimatesEveryMonitorAndAKeyEndsIt) {
  StartServer(320, 240);
  TwoMonitors(320, 240, "left");
  StoreSettings(false, 1500);
  StartGlymmer({"-fullscreen", "-verbose"});
  ASSERT_TRUE(WaitForText(Log(), "view 2:", 10)) << LogText();
  // One screenshot with both lit: while the letters fly in from their deep
  // cloud, a monitor's share of them can dip under the mark for a frame.
  Shot shot;
  for (double waited = 0; waited < 10; waited += 0.1) {
    shot = WaitForLight(0, 0.02, 0, 0, 160, 240, 0.1);
    if (shot.Lit(160, 0, 320, 240) > 0.02 && shot.Lit(0, 0, 160, 240) > 0.02) break;
    Nap(0.1);
  }
  EXPECT_GT(shot.Lit(0, 0, 160, 240), 0.02);
  EXPECT_GT(shot.Lit(160, 0, 320, 240), 0.02);
  EXPECT_EQ(std::string::npos, LogText().find("stays black"));
  ASSERT_EQ(0, RunOnDisplay(server.Display(), "xdotool key a"));
  int status = -1;
  ASSERT_TRUE(glymmer.Wait(10, &status)) << "a key did not end it";
  EXPECT_EQ(0, status);
}
