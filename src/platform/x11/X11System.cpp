// X11System: the display system on an X server, through X11Display. Outputs
// are the XRandR monitors; surfaces are X windows, ours or a daemon's.

#include "platform/DisplaySystem.h"
#include "platform/Screens.h"
#include "platform/dbus/DisplayPower.h"
#include "platform/x11/X11Display.h"

#include <cstdio>
#include <cstring>

namespace {

class X11System : public DisplaySystem {
public:
  const char* Name() const override { return "X11"; }

  bool Connect(const DisplaySettings& settings) override {
    if (!x.Open(nullptr) || !LoadMonitorScreens(x.Native())) return false;
    if (!settings.mainOutput.empty()) ChooseMain(settings.mainOutput);
    if (settings.verbose && ScreenCount() > 1)
      std::fprintf(stderr, "glymmer: main monitor: %s (screen %d)\n",
                   mainScreen()->name[0] ? mainScreen()->name : "unnamed",
                   mainScreen()->screenNumber());
    return true;
  }

  void Disconnect() override { x.Close(); }

  std::vector<DisplayOutput> Outputs() override {
    std::vector<DisplayOutput> outputs;
    for (int i = 0; i < ScreenCount(); ++i) {
      const Screen* s = ScreenAt(i);
      DisplayOutput o;
      o.id = static_cast<uint32_t>(s->number);
      o.screen = s->number;
      o.name = s->name;
      o.x = static_cast<int>(s->x);
      o.y = static_cast<int>(s->y);
      o.width = static_cast<int>(s->width);
      o.height = static_cast<int>(s->height);
      o.main = s == mainScreen();
      outputs.push_back(o);
    }
    return outputs;
  }

  NSSize DesktopSize() override { return x.RootSize(); }
  bool ReportsOutputChanges() const override { return false; }

  bool Supports(SurfaceKind kind) override {
    if (kind != SurfaceKind::kSaverLayer) return true;
    std::fprintf(stderr,
                 "glymmer: --saver needs a Wayland compositor; on X11 use xscreensaver (-root) "
                 "or --fullscreen\n");
    return false;
  }

  bool ClaimSaver() override { return true; }  // X11 has no saver layer

  bool OpenSurface(const SurfaceRequest& request, NSWindow* window, NSSize* size) override {
    if (request.kind == SurfaceKind::kForeign) {
      unsigned long id = request.foreignWindow ? request.foreignWindow : x.Root();
      return x.AdoptWindow(id, window, size);
    }
    NSRect rect = request.rect;
    bool fullScreen = request.kind != SurfaceKind::kWindow;
    if (fullScreen) {
      const Screen* screen = ScreenByNumber(static_cast<int32_t>(request.output));
      if (!screen) return false;
      rect = NSMakeRect(screen->x, screen->y, screen->width, screen->height);
    }
    if (!x.OpenWindow(rect, fullScreen, request.title, window)) return false;
    *size = rect.size;
    // The window manager may have given another size than the one asked for.
    if (!fullScreen) x.WindowSize(*window, size);
    return true;
  }

  void CloseSurface(NSWindow* window) override { x.CloseWindow(window); }

  bool InPreviewPane(const NSWindow& window) override {
    return x.InSettingsPreview(window.nativeWindow);
  }

  std::string Describe(const NSWindow& window) override {
    char text[32];
    std::snprintf(text, sizeof text, "window 0x%lx", window.nativeWindow);
    return text;
  }

  bool GrabInput(const NSWindow& window) override { return x.GrabInput(window); }
  bool PointerPosition(int* px, int* py) override { return x.PointerPosition(px, py); }
  void PaintBlack(const NSWindow& window) override { x.PaintBlack(window); }
  // mutter (GNOME on Xorg) may blank the monitors without the server's DPMS.
  bool ScreenIsDark() override { return MonitorsAsleep() || x.ScreenIsDark(); }
  double RefreshInterval(const NSWindow& window) override {
    return WindowRefreshInterval(x.Native(), window.nativeWindow);
  }
  bool PacesFrames(const NSWindow&) override { return false; }
  bool MayWaitForRefresh(const NSWindow& window) override { return x.Shown(window.nativeWindow); }
  bool WantsFrame(const NSWindow&) override { return true; }
  void TickEnded(const NSWindow&, bool) override {}
  void Flush() override { x.Flush(); }
  bool WaitForEvents(double seconds) override { return x.WaitForEvents(seconds); }
  bool NextEvent(WindowEvent* event) override { return x.NextEvent(event); }

private:
  static const Screen* ScreenByNumber(int32_t number) {
    for (int i = 0; i < ScreenCount(); ++i)
      if (ScreenAt(i)->number == number) return ScreenAt(i);
    return nullptr;
  }

  // Makes the monitor called `name` the main screen, if there is one.
  static void ChooseMain(const std::string& name) {
    std::vector<Screen> screens;
    int main = -1;
    for (int i = 0; i < ScreenCount(); ++i) {
      screens.push_back(*ScreenAt(i));
      if (name == ScreenAt(i)->name) main = i;
    }
    if (main < 0) {
      std::fprintf(stderr, "glymmer: no monitor is called \"%s\"; the main monitor stays %s\n",
                   name.c_str(), mainScreen()->name[0] ? mainScreen()->name : "the primary one");
      return;
    }
    SetScreens(screens, main);
  }

  X11Display x;
};

}  // namespace

std::unique_ptr<DisplaySystem> MakeX11System() { return std::unique_ptr<DisplaySystem>(new X11System); }
