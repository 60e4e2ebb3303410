// Making a surface of a kind: an xdg-shell toplevel for a window or a full
// screen, a layer-shell surface on the overlay layer for the saver; the
// first configure is awaited before any buffer is attached.

#include "platform/wayland/WaylandSystem.h"

namespace wayland {

namespace {

const xdg_surface_listener kXdgSurfaceListener = {
    [](void* data, xdg_surface* xdgSurface, uint32_t serial) {
      Surface* s = static_cast<Surface*>(data);
      xdg_surface_ack_configure(xdgSurface, serial);
      s->system->Configured(s, s->pendingWidth, s->pendingHeight);
    }};

const xdg_toplevel_listener* ToplevelListener() {
  static const xdg_toplevel_listener listener = [] {
    xdg_toplevel_listener l{};
    l.configure = [](void* data, xdg_toplevel*, int32_t width, int32_t height, wl_array*) {
      Surface* s = static_cast<Surface*>(data);
      s->pendingWidth = width;
      s->pendingHeight = height;
    };
    l.close = [](void* data, xdg_toplevel*) {
      Surface* s = static_cast<Surface*>(data);
      WindowEvent e;
      e.kind = WindowEvent::kClose;
      e.window = s->id;
      s->system->Push(e);
    };
    return l;
  }();
  return &listener;
}

const zxdg_toplevel_decoration_v1_listener kDecorationListener = {
    [](void*, zxdg_toplevel_decoration_v1*, uint32_t) {}};

#if GLYMMER_HAVE_LAYER_SHELL
const zwlr_layer_surface_v1_listener kLayerListener = {
    [](void* data, zwlr_layer_surface_v1* layer, uint32_t serial, uint32_t width,
       uint32_t height) {
      Surface* s = static_cast<Surface*>(data);
      zwlr_layer_surface_v1_ack_configure(layer, serial);
      s->system->Configured(s, static_cast<int>(width), static_cast<int>(height));
    },
    [](void* data, zwlr_layer_surface_v1*) {
      // The compositor took the surface away (its output went, or was turned
      // off): the view in it must go.
      Surface* s = static_cast<Surface*>(data);
      s->closed = true;
      WindowEvent e;
      e.kind = WindowEvent::kDestroyed;
      e.window = s->id;
      s->system->Push(e);
    }};
#endif

}  // namespace

bool WaylandSystem::OpenSurface(const SurfaceRequest& request, NSWindow* window, NSSize* size) {
  if (!display || lost || !Supports(request.kind)) return false;
  Output* output = nullptr;
  if (request.kind != SurfaceKind::kWindow) {
    output = FindOutput(request.output);
    if (!output || !output->announced) {
      std::fprintf(stderr, "glymmer: output %u is gone\n", request.output);
      return false;
    }
  }
  std::unique_ptr<Surface> owned(new Surface);
  Surface* s = owned.get();
  s->system = this;
  s->id = nextSurfaceId++;
  s->kind = request.kind;
  s->surface = wl_compositor_create_surface(compositor);
  wl_surface_add_listener(s->surface, SurfaceListener(), s);
  surfaces.push_back(std::move(owned));
  // A viewport maps the buffer onto the logical size whatever the scale; a
  // plain buffer scale does where there is none.
  if (viewporter) s->viewport = wp_viewporter_get_viewport(viewporter, s->surface);
  // The compositor's preferred scale, where it says one (fractional scales
  // need the viewport).
  if (s->viewport && fractionalScales) {
    s->fractional = wp_fractional_scale_manager_v1_get_fractional_scale(fractionalScales, s->surface);
    wp_fractional_scale_v1_add_listener(s->fractional, FractionalScaleListener(), s);
  }

  if (output) {
    s->output = output->global;
    s->scale = output->scale;
    s->width = output->LogicalWidth();
    s->height = output->LogicalHeight();
  } else {
    Output* main = MainOutput();
    s->scale = main ? main->scale : 1;
    s->width = std::max(1, static_cast<int>(request.rect.size.width));
    s->height = std::max(1, static_cast<int>(request.rect.size.height));
  }

  if (request.kind == SurfaceKind::kSaverLayer) {
#if GLYMMER_HAVE_LAYER_SHELL
    s->layer = zwlr_layer_shell_v1_get_layer_surface(
        layerShell, s->surface, output->output, ZWLR_LAYER_SHELL_V1_LAYER_OVERLAY, "glymmer");
    zwlr_layer_surface_v1_add_listener(s->layer, &kLayerListener, s);
    zwlr_layer_surface_v1_set_size(s->layer, 0, 0);
    zwlr_layer_surface_v1_set_anchor(
        s->layer, ZWLR_LAYER_SURFACE_V1_ANCHOR_TOP | ZWLR_LAYER_SURFACE_V1_ANCHOR_BOTTOM |
                      ZWLR_LAYER_SURFACE_V1_ANCHOR_LEFT | ZWLR_LAYER_SURFACE_V1_ANCHOR_RIGHT);
    // Over panels too: no other surface's exclusive zone moves it.
    zwlr_layer_surface_v1_set_exclusive_zone(s->layer, -1);
    zwlr_layer_surface_v1_set_keyboard_interactivity(s->layer, 1);
#endif
  } else if (request.kind == SurfaceKind::kWindow && !decorations &&
             Decorate(s, request.title ? request.title : "Glymmer")) {
    // The compositor draws no title bar (GNOME): libdecor made the toplevel
    // with one.
  } else {
    s->xdgSurface = xdg_wm_base_get_xdg_surface(wmBase, s->surface);
    xdg_surface_add_listener(s->xdgSurface, &kXdgSurfaceListener, s);
    s->toplevel = xdg_surface_get_toplevel(s->xdgSurface);
    xdg_toplevel_add_listener(s->toplevel, ToplevelListener(), s);
    xdg_toplevel_set_title(s->toplevel, request.title ? request.title : "Glymmer");
    xdg_toplevel_set_app_id(s->toplevel, "glymmer");
    if (decorations && request.kind == SurfaceKind::kWindow) {
      s->decoration = zxdg_decoration_manager_v1_get_toplevel_decoration(decorations, s->toplevel);
      zxdg_toplevel_decoration_v1_add_listener(s->decoration, &kDecorationListener, s);
      zxdg_toplevel_decoration_v1_set_mode(s->decoration,
                                           ZXDG_TOPLEVEL_DECORATION_V1_MODE_SERVER_SIDE);
    }
    if (output) xdg_toplevel_set_fullscreen(s->toplevel, output->output);
  }
  wl_surface_commit(s->surface);

  // No buffer may be attached before the first configure. The wait reads
  // everything the compositor sends: the output may go meanwhile, and its
  // record with it.
  timespec start;
  clock_gettime(CLOCK_MONOTONIC, &start);
  while (!s->configured && !s->closed && !lost) {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    long waited = (now.tv_sec - start.tv_sec) * 1000 + (now.tv_nsec - start.tv_nsec) / 1000000;
    if (waited >= kConfigureTimeoutMs) break;
    Pump(static_cast<int>(kConfigureTimeoutMs - waited));
  }
  if (request.kind != SurfaceKind::kWindow) output = FindOutput(request.output);
  if (!lost && (s->closed || (request.kind != SurfaceKind::kWindow && !output))) {
    std::fprintf(stderr, "glymmer: output %u went away while its surface was made\n",
                 request.output);
    DestroySurface(s);
    return false;
  }
  if (!s->configured) {
    if (!lost) std::fprintf(stderr, "glymmer: the Wayland compositor did not configure the surface\n");
    DestroySurface(s);
    return false;
  }
  int pixelWidth = 0, pixelHeight = 0;
  BufferSize(s, &pixelWidth, &pixelHeight);
  s->eglWindow = wl_egl_window_create(s->surface, pixelWidth, pixelHeight);
  if (!s->eglWindow) {
    std::fprintf(stderr, "glymmer: cannot make an EGL window for the Wayland surface\n");
    DestroySurface(s);
    return false;
  }
  s->reportedWidth = s->reportedHeight = 0;
  ApplySize(s);
  // The engine starts from this size; the resize just queued says the same.
  events.erase(std::remove_if(events.begin(), events.end(),
                              [s](const WindowEvent& e) {
                                return e.kind == WindowEvent::kResize && e.window == s->id;
                              }),
               events.end());

  window->nativeDisplay = display;
  window->nativeWindow = s->id;
  window->nativeSurface = s->eglWindow;
  window->nativeVisual = 0;
  window->screenOfWindow = nullptr;
  if (output)
    for (int i = 0; i < ScreenCount(); ++i)
      if (ScreenAt(i)->number == output->number) window->screenOfWindow = ScreenAt(i);
  size->width = s->reportedWidth;
  size->height = s->reportedHeight;
  return true;
}

}  // namespace wayland
