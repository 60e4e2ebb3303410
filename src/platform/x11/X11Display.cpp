// X11Display: windows, input and events on an X server through Xlib.

#include "platform/x11/X11Display.h"

#include "platform/gl/WindowGL.h"

// Xlib's Screen would clash with the platform's own.
#define Screen XlibScreen
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/dpms.h>
#include <X11/extensions/scrnsaver.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xrandr.h>
#include <X11/keysym.h>
#undef Screen

#include <poll.h>
#include <time.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <strings.h>

namespace {

// X errors are asynchronous and Xlib's default handler ends the process.
// A window that vanishes under a view is normal here, so errors are counted
// instead; calls that must know wrap their requests in an ErrorTrap.
int errorCount = 0;

int CountError(Display*, XErrorEvent*) {
  ++errorCount;
  return 0;
}

class ErrorTrap {
public:
  explicit ErrorTrap(Display* d) : display(d) {
    XSync(display, False);
    before = errorCount;
  }
  // True when no request since the trap was set failed.
  bool Clean() {
    XSync(display, False);
    return errorCount == before;
  }

private:
  Display* display;
  int before;
};

Display* D(void* d) { return static_cast<Display*>(d); }

// Waits for the MapNotify of a window for up to two seconds, leaving other
// events queued.
void WaitUntilMapped(Display* d, Window w) {
  XEvent event;
  for (int i = 0; i < 200; ++i) {
    if (XCheckTypedWindowEvent(d, w, MapNotify, &event)) return;
    pollfd p{ConnectionNumber(d), POLLIN, 0};
    poll(&p, 1, 10);
  }
}

}  // namespace

X11Display::~X11Display() { Close(); }

bool X11Display::Open(const char* name) {
  Close();
  XSetErrorHandler(CountError);
  Display* d = XOpenDisplay(name);
  if (!d) {
    const char* shown = name ? name : XDisplayName(nullptr);
    std::fprintf(stderr, "glymmer: cannot open the X display \"%s\"\n", shown ? shown : "");
    return false;
  }
  display = d;
  deleteAtom = XInternAtom(d, "WM_DELETE_WINDOW", False);
  protocolsAtom = XInternAtom(d, "WM_PROTOCOLS", False);
  // An empty 1x1 cursor hides the pointer over full-screen windows.
  static const char empty[1] = {0};
  Pixmap bits = XCreateBitmapFromData(d, DefaultRootWindow(d), empty, 1, 1);
  XColor black;
  std::memset(&black, 0, sizeof black);
  blankCursor = XCreatePixmapCursor(d, bits, bits, &black, &black, 0, 0);
  XFreePixmap(d, bits);
  return true;
}

void X11Display::Close() {
  seen.clear();
  if (!display) return;
  Display* d = D(display);
  if (blankCursor) XFreeCursor(d, blankCursor);
  blankCursor = 0;
  XCloseDisplay(d);
  display = nullptr;
}

unsigned long X11Display::Root() const {
  return display ? DefaultRootWindow(D(display)) : 0;
}

NSSize X11Display::RootSize() const {
  NSSize size;
  if (display) {
    size.width = DisplayWidth(D(display), DefaultScreen(D(display)));
    size.height = DisplayHeight(D(display), DefaultScreen(D(display)));
  }
  return size;
}

bool X11Display::OpenWindow(NSRect rect, bool fullScreen, const char* title, NSWindow* window) {
  if (!display) return false;
  Display* d = D(display);
  int screen = DefaultScreen(d);
  Window root = DefaultRootWindow(d);
  unsigned long defaultVisual = XVisualIDFromVisual(DefaultVisual(d, screen));
  unsigned long visualId = WindowGL::PreferredVisual(display, defaultVisual);
  if (!visualId) {
    std::fprintf(stderr, "glymmer: OpenGL cannot draw into any window on this X server\n");
    return false;
  }
  XVisualInfo wanted;
  std::memset(&wanted, 0, sizeof wanted);
  wanted.visualid = visualId;
  wanted.screen = screen;
  int found = 0;
  XVisualInfo* info = XGetVisualInfo(d, VisualIDMask | VisualScreenMask, &wanted, &found);
  if (!info || found < 1) {
    if (info) XFree(info);
    std::fprintf(stderr, "glymmer: the X server has no visual 0x%lx\n", visualId);
    return false;
  }

  XSetWindowAttributes attributes;
  std::memset(&attributes, 0, sizeof attributes);
  unsigned long mask = CWBackPixel | CWBorderPixel | CWColormap | CWEventMask;
  attributes.background_pixel = 0;  // black in every TrueColor visual
  attributes.border_pixel = 0;
  attributes.colormap = XCreateColormap(d, root, info->visual, AllocNone);
  attributes.event_mask = KeyPressMask | StructureNotifyMask | ExposureMask | VisibilityChangeMask;
  if (fullScreen) {
    attributes.event_mask |= ButtonPressMask | PointerMotionMask;
    attributes.override_redirect = True;
    attributes.cursor = blankCursor;
    mask |= CWOverrideRedirect | CWCursor;
  }
  unsigned int width = static_cast<unsigned int>(std::fmax(1, std::fmin(16384, rect.size.width)));
  unsigned int height = static_cast<unsigned int>(std::fmax(1, std::fmin(16384, rect.size.height)));
  ErrorTrap trap(d);
  Window w = XCreateWindow(d, root, static_cast<int>(rect.origin.x), static_cast<int>(rect.origin.y),
                           width, height, 0, info->depth, InputOutput, info->visual, mask,
                           &attributes);
  XFree(info);
  if (!trap.Clean() || !w) {
    std::fprintf(stderr, "glymmer: the X server refused a %ux%u window\n", width, height);
    if (w) XDestroyWindow(d, w);
    XFreeColormap(d, attributes.colormap);
    return false;
  }

  const char* name = title ? title : "";
  XStoreName(d, w, name);
  Atom utf8 = XInternAtom(d, "UTF8_STRING", False);
  XChangeProperty(d, w, XInternAtom(d, "_NET_WM_NAME", False), utf8, 8, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(name), static_cast<int>(std::strlen(name)));
  XClassHint classHint;
  char resName[] = "glymmer", resClass[] = "Glymmer";
  classHint.res_name = resName;
  classHint.res_class = resClass;
  XSetClassHint(d, w, &classHint);
  if (!fullScreen) {
    Atom protocols[1] = {static_cast<Atom>(deleteAtom)};
    XSetWMProtocols(d, w, protocols, 1);
    // Ask the window manager for the position given, not one of its own.
    XSizeHints hints;
    std::memset(&hints, 0, sizeof hints);
    hints.flags = USPosition | USSize;
    hints.x = static_cast<int>(rect.origin.x);
    hints.y = static_cast<int>(rect.origin.y);
    hints.width = static_cast<int>(width);
    hints.height = static_cast<int>(height);
    XSetWMNormalHints(d, w, &hints);
  }
  XMapRaised(d, w);
  WaitUntilMapped(d, w);
  Seen mapped;
  mapped.window = w;
  mapped.mapped = true;
  seen.push_back(mapped);

  window->nativeDisplay = display;
  window->nativeWindow = w;
  window->nativeVisual = visualId;
  return true;
}

bool X11Display::AdoptWindow(unsigned long id, NSWindow* window, NSSize* size) {
  if (!display) return false;
  Display* d = D(display);
  ErrorTrap trap(d);
  XWindowAttributes attributes;
  std::memset(&attributes, 0, sizeof attributes);
  Status ok = XGetWindowAttributes(d, id, &attributes);
  if (!trap.Clean() || !ok || !attributes.visual) {
    std::fprintf(stderr, "glymmer: there is no window 0x%lx on the X server\n", id);
    return false;
  }
  // Our own event mask on the window; the owner's stays as it is.
  XSelectInput(d, id, StructureNotifyMask | ExposureMask | VisibilityChangeMask);
  if (!trap.Clean()) {
    std::fprintf(stderr, "glymmer: window 0x%lx went away\n", id);
    return false;
  }
  Seen* adopted = Find(id);
  if (!adopted) {
    seen.push_back(Seen());
    adopted = &seen.back();
    adopted->window = id;
  }
  adopted->mapped = attributes.map_state == IsViewable;
  adopted->covered = false;
  window->nativeDisplay = display;
  window->nativeWindow = id;
  window->nativeVisual = XVisualIDFromVisual(attributes.visual);
  size->width = attributes.width;
  size->height = attributes.height;
  return true;
}

bool X11Display::InSettingsPreview(unsigned long window) {
  if (!display || !window) return false;
  Display* d = D(display);
  ErrorTrap trap(d);
  Window w = window, root = DefaultRootWindow(d);
  // Up to the top-level window; a dialog nests its pane a few levels deep.
  for (int depth = 0; depth < 32 && w && w != root; ++depth) {
    XClassHint hint{nullptr, nullptr};
    if (XGetClassHint(d, w, &hint)) {
      bool dialog = false;
      for (const char* name : {hint.res_name, hint.res_class})
        dialog = dialog || (name && (!strcasecmp(name, "xscreensaver-settings") ||
                                     !strcasecmp(name, "xscreensaver-demo")));
      if (hint.res_name) XFree(hint.res_name);
      if (hint.res_class) XFree(hint.res_class);
      if (dialog) return trap.Clean();
    }
    Window parent = 0, treeRoot = 0, *children = nullptr;
    unsigned int count = 0;
    if (!XQueryTree(d, w, &treeRoot, &parent, &children, &count)) break;
    if (children) XFree(children);
    w = parent;
  }
  trap.Clean();
  return false;
}

void X11Display::CloseWindow(NSWindow* window) {
  if (!display || !window->nativeWindow) return;
  Display* d = D(display);
  for (size_t i = 0; i < seen.size(); ++i)
    if (seen[i].window == window->nativeWindow) {
      seen.erase(seen.begin() + static_cast<long>(i));
      break;
    }
  XWindowAttributes attributes;
  std::memset(&attributes, 0, sizeof attributes);
  ErrorTrap trap(d);
  bool exists = XGetWindowAttributes(d, window->nativeWindow, &attributes) && trap.Clean();
  XDestroyWindow(d, window->nativeWindow);
  if (exists && attributes.colormap != None &&
      attributes.colormap != DefaultColormap(d, DefaultScreen(d)))
    XFreeColormap(d, attributes.colormap);
  XSync(d, False);
  window->nativeWindow = 0;
  window->nativeVisual = 0;
  window->nativeDisplay = nullptr;
}

bool X11Display::WindowSize(const NSWindow& window, NSSize* size) {
  if (!display || !window.nativeWindow) return false;
  Display* d = D(display);
  ErrorTrap trap(d);
  XWindowAttributes attributes;
  std::memset(&attributes, 0, sizeof attributes);
  Status ok = XGetWindowAttributes(d, window.nativeWindow, &attributes);
  if (!trap.Clean() || !ok) return false;
  size->width = attributes.width;
  size->height = attributes.height;
  return true;
}

bool X11Display::GrabInput(const NSWindow& window) {
  if (!display || !window.nativeWindow) return false;
  Display* d = D(display);
  bool keyboard = false, pointer = false;
  for (int i = 0; i < 100 && !(keyboard && pointer); ++i) {
    if (!keyboard)
      keyboard = XGrabKeyboard(d, window.nativeWindow, True, GrabModeAsync, GrabModeAsync,
                               CurrentTime) == GrabSuccess;
    if (!pointer)
      pointer = XGrabPointer(d, window.nativeWindow, True, ButtonPressMask | PointerMotionMask,
                             GrabModeAsync, GrabModeAsync, None, blankCursor,
                             CurrentTime) == GrabSuccess;
    if (!(keyboard && pointer)) {
      timespec pause{0, 10 * 1000 * 1000};
      nanosleep(&pause, nullptr);
    }
  }
  return keyboard;
}

bool X11Display::PointerPosition(int* x, int* y) {
  if (!display) return false;
  Display* d = D(display);
  Window root, child;
  int rootX = 0, rootY = 0, winX = 0, winY = 0;
  unsigned int buttons = 0;
  if (!XQueryPointer(d, DefaultRootWindow(d), &root, &child, &rootX, &rootY, &winX, &winY,
                     &buttons))
    return false;
  *x = rootX;
  *y = rootY;
  return true;
}

void X11Display::PaintBlack(const NSWindow& window) {
  if (!display || !window.nativeWindow) return;
  Display* d = D(display);
  XSetWindowBackground(d, window.nativeWindow, BlackPixel(d, DefaultScreen(d)));
  XClearWindow(d, window.nativeWindow);
  XFlush(d);
}

void X11Display::Flush() {
  if (display) XFlush(D(display));
}

bool X11Display::ScreenIsDark() {
  if (!display) return false;
  Display* d = D(display);
  int event = 0, error = 0;
  CARD16 power = DPMSModeOn;
  BOOL enabled = False;
  if (DPMSQueryExtension(d, &event, &error) && DPMSCapable(d) && DPMSInfo(d, &power, &enabled) &&
      enabled && power != DPMSModeOn)
    return true;
  XScreenSaverInfo info = {};
  return XScreenSaverQueryExtension(d, &event, &error) &&
         XScreenSaverQueryInfo(d, DefaultRootWindow(d), &info) && info.state == ScreenSaverOn;
}

bool X11Display::WaitForEvents(double seconds) {
  if (!display) return false;
  Display* d = D(display);
  if (XPending(d) > 0) return true;
  if (!(seconds > 0)) return false;
  if (seconds > 3600) seconds = 3600;
  timespec timeout;
  timeout.tv_sec = static_cast<time_t>(seconds);
  timeout.tv_nsec = static_cast<long>((seconds - static_cast<double>(timeout.tv_sec)) * 1e9);
  pollfd p{ConnectionNumber(d), POLLIN, 0};
  int ready = ppoll(&p, 1, &timeout, nullptr);
  return ready > 0 && XPending(d) > 0;
}

bool X11Display::NextEvent(WindowEvent* out) {
  if (!display) return false;
  Display* d = D(display);
  while (XPending(d) > 0) {
    XEvent event;
    XNextEvent(d, &event);
    WindowEvent e;
    e.window = event.xany.window;
    switch (event.type) {
      case KeyPress:
        e.kind = WindowEvent::kKey;
        e.escape = XLookupKeysym(&event.xkey, 0) == XK_Escape;
        break;
      case ButtonPress:
        e.kind = WindowEvent::kButton;
        break;
      case MotionNotify:
        e.kind = WindowEvent::kMotion;
        e.rootX = event.xmotion.x_root;
        e.rootY = event.xmotion.y_root;
        break;
      case ConfigureNotify:
        // Only the window's own configuration, not its children's.
        if (event.xconfigure.window != event.xconfigure.event) continue;
        e.window = event.xconfigure.window;
        e.kind = WindowEvent::kResize;
        e.width = event.xconfigure.width;
        e.height = event.xconfigure.height;
        break;
      case DestroyNotify:
        if (event.xdestroywindow.window != event.xdestroywindow.event) continue;
        e.window = event.xdestroywindow.window;
        e.kind = WindowEvent::kDestroyed;
        break;
      case ClientMessage:
        if (event.xclient.message_type != protocolsAtom || event.xclient.format != 32 ||
            static_cast<unsigned long>(event.xclient.data.l[0]) != deleteAtom)
          continue;
        e.kind = WindowEvent::kClose;
        break;
      case Expose:
        if (event.xexpose.count != 0) continue;
        e.kind = WindowEvent::kExpose;
        break;
      case MapNotify:
        if (Seen* w = Find(event.xmap.window)) w->mapped = true;
        continue;
      case UnmapNotify:
        if (Seen* w = Find(event.xunmap.window)) w->mapped = false;
        continue;
      case VisibilityNotify:
        if (Seen* w = Find(event.xvisibility.window))
          w->covered = event.xvisibility.state == VisibilityFullyObscured;
        continue;
      default:
        continue;
    }
    *out = e;
    return true;
  }
  return false;
}

X11Display::Seen* X11Display::Find(unsigned long window) {
  for (Seen& w : seen)
    if (w.window == window) return &w;
  return nullptr;
}

bool X11Display::Shown(unsigned long window) const {
  for (const Seen& w : seen)
    if (w.window == window) return w.mapped && !w.covered;
  return false;
}

void X11Display::RequestClose(unsigned long window) {
  if (!display || !window) return;
  Display* d = D(display);
  XEvent event;
  std::memset(&event, 0, sizeof event);
  event.xclient.type = ClientMessage;
  event.xclient.window = window;
  event.xclient.message_type = protocolsAtom;
  event.xclient.format = 32;
  event.xclient.data.l[0] = static_cast<long>(deleteAtom);
  event.xclient.data.l[1] = CurrentTime;
  ErrorTrap trap(d);
  XSendEvent(d, window, False, NoEventMask, &event);
  trap.Clean();
}

bool X11Display::Capture(unsigned long window, std::vector<unsigned char>& rgb, int* width,
                         int* height) {
  if (!display) return false;
  Display* d = D(display);
  Window w = window ? window : DefaultRootWindow(d);
  ErrorTrap trap(d);
  XWindowAttributes attributes;
  std::memset(&attributes, 0, sizeof attributes);
  if (!XGetWindowAttributes(d, w, &attributes) || !trap.Clean()) return false;
  if (attributes.map_state != IsViewable || attributes.width < 1 || attributes.height < 1)
    return false;
  XImage* image = XGetImage(d, w, 0, 0, static_cast<unsigned int>(attributes.width),
                            static_cast<unsigned int>(attributes.height), AllPlanes, ZPixmap);
  if (!trap.Clean() || !image) {
    if (image) XDestroyImage(image);
    return false;
  }
  // Shift and scale each channel of a TrueColor pixel to 8 bits.
  auto channel = [](unsigned long pixel, unsigned long mask) -> unsigned char {
    if (!mask) return 0;
    int shift = 0;
    while (!((mask >> shift) & 1)) ++shift;
    unsigned long max = mask >> shift;
    return static_cast<unsigned char>(((pixel & mask) >> shift) * 255 / max);
  };
  size_t w64 = static_cast<size_t>(image->width), h64 = static_cast<size_t>(image->height);
  rgb.assign(w64 * h64 * 3, 0);
  for (int y = 0; y < image->height; ++y) {
    for (int x = 0; x < image->width; ++x) {
      unsigned long pixel = XGetPixel(image, x, y);
      unsigned char* out = &rgb[(static_cast<size_t>(y) * w64 + static_cast<size_t>(x)) * 3];
      out[0] = channel(pixel, image->red_mask);
      out[1] = channel(pixel, image->green_mask);
      out[2] = channel(pixel, image->blue_mask);
    }
  }
  *width = image->width;
  *height = image->height;
  XDestroyImage(image);
  return true;
}

bool NativeWindowCentre(void* xDisplay, unsigned long window, double* x, double* y) {
  if (!xDisplay || !window) return false;
  Display* d = D(xDisplay);
  ErrorTrap trap(d);
  XWindowAttributes attributes;
  std::memset(&attributes, 0, sizeof attributes);
  if (!XGetWindowAttributes(d, window, &attributes) || !trap.Clean()) return false;
  int rootX = 0, rootY = 0;
  Window child;
  if (!XTranslateCoordinates(d, window, attributes.root, attributes.width / 2,
                             attributes.height / 2, &rootX, &rootY, &child) ||
      !trap.Clean())
    return false;
  *x = rootX;
  *y = rootY;
  return true;
}

double WindowRefreshInterval(void* xDisplay, unsigned long window) {
  double cx = 0, cy = 0;
  if (!NativeWindowCentre(xDisplay, window, &cx, &cy)) return 0;
  Display* d = D(xDisplay);
  int eventBase = 0, errorBase = 0;
  if (!XRRQueryExtension(d, &eventBase, &errorBase)) return 0;
  XRRScreenResources* resources = XRRGetScreenResourcesCurrent(d, DefaultRootWindow(d));
  if (!resources) return 0;
  double interval = 0;
  for (int c = 0; c < resources->ncrtc && interval == 0; ++c) {
    XRRCrtcInfo* crtc = XRRGetCrtcInfo(d, resources, resources->crtcs[c]);
    if (!crtc) continue;
    if (crtc->mode != None && cx >= crtc->x && cy >= crtc->y && cx < crtc->x + static_cast<int>(crtc->width) &&
        cy < crtc->y + static_cast<int>(crtc->height)) {
      for (int m = 0; m < resources->nmode; ++m) {
        const XRRModeInfo& mode = resources->modes[m];
        if (mode.id != crtc->mode || !mode.dotClock || !mode.hTotal || !mode.vTotal) continue;
        double lines = mode.vTotal;
        if (mode.modeFlags & RR_DoubleScan) lines *= 2;
        if (mode.modeFlags & RR_Interlace) lines /= 2;
        interval = static_cast<double>(mode.hTotal) * lines / static_cast<double>(mode.dotClock);
      }
    }
    XRRFreeCrtcInfo(crtc);
  }
  XRRFreeScreenResources(resources);
  return interval;
}

bool QueryMonitors(void* xDisplay, std::vector<MonitorRect>* out) {
  if (!xDisplay) return false;
  Display* d = D(xDisplay);
  Window root = DefaultRootWindow(d);
  out->clear();
  int eventBase = 0, errorBase = 0, major = 0, minor = 0;
  // Monitors arrived with RandR 1.5.
  if (XRRQueryExtension(d, &eventBase, &errorBase) && XRRQueryVersion(d, &major, &minor) &&
      (major > 1 || (major == 1 && minor >= 5))) {
    int count = 0;
    XRRMonitorInfo* monitors = XRRGetMonitors(d, root, True, &count);
    for (int i = 0; monitors && i < count; ++i) {
      if (monitors[i].width <= 0 || monitors[i].height <= 0) continue;
      MonitorRect m;
      m.x = monitors[i].x;
      m.y = monitors[i].y;
      m.width = monitors[i].width;
      m.height = monitors[i].height;
      m.primary = monitors[i].primary != 0;
      if (char* name = monitors[i].name ? XGetAtomName(d, monitors[i].name) : nullptr) {
        m.name = name;
        XFree(name);
      }
      out->push_back(m);
    }
    if (monitors) XRRFreeMonitors(monitors);
  }
  if (out->empty()) {
    MonitorRect m;
    m.width = DisplayWidth(d, DefaultScreen(d));
    m.height = DisplayHeight(d, DefaultScreen(d));
    m.primary = true;
    out->push_back(m);
  }
  return true;
}
