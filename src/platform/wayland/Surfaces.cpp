// A surface's life after its shell made it: its size in device pixels, its
// black buffer, the frame callbacks that say whether the compositor shows it,
// and its end.

#include "platform/wayland/WaylandSystem.h"

namespace wayland {

namespace {

}  // namespace

const wl_surface_listener* SurfaceListener() {
  static const wl_surface_listener listener = [] {
    wl_surface_listener l{};
    l.enter = [](void* data, wl_surface*, wl_output* output) {
      Surface* s = static_cast<Surface*>(data);
      Output* o = s->system->FindOutput(output);
      if (!o) return;
      s->entered.push_back(o->global);
      s->system->Rescale(s);
    };
    l.leave = [](void* data, wl_surface*, wl_output* output) {
      Surface* s = static_cast<Surface*>(data);
      Output* o = s->system->FindOutput(output);
      if (!o) return;
      s->entered.erase(std::remove(s->entered.begin(), s->entered.end(), o->global),
                       s->entered.end());
      s->system->Rescale(s);
    };
    return l;
  }();
  return &listener;
}

const wp_fractional_scale_v1_listener* FractionalScaleListener() {
  static const wp_fractional_scale_v1_listener listener = {
      [](void* data, wp_fractional_scale_v1*, uint32_t scale) {
        Surface* s = static_cast<Surface*>(data);
        s->preferredScale = static_cast<int>(std::min(scale, 120u * 16));
        s->system->Rescale(s);
      }};
  return &listener;
}

namespace {

// The compositor wants the surface's next frame: it has shown the last one,
// or has just begun a refresh of an output that shows the surface.
const wl_callback_listener kFrameListener = {[](void* data, wl_callback* callback, uint32_t) {
  Surface* s = static_cast<Surface*>(data);
  wl_callback_destroy(callback);
  s->frame = nullptr;
}};

// Frames committed between two asks for presentation feedback, once the
// refresh is known: it changes only with the output or its mode.
constexpr int kFramesBetweenFeedback = 120;

void EndFeedback(Surface* s) {
  if (s->feedback) wp_presentation_feedback_destroy(s->feedback);
  s->feedback = nullptr;
}

const wp_presentation_feedback_listener kFeedbackListener = {
    [](void*, struct wp_presentation_feedback*, wl_output*) {},
    [](void* data, struct wp_presentation_feedback*, uint32_t, uint32_t, uint32_t, uint32_t refresh,
       uint32_t, uint32_t, uint32_t) {
      Surface* s = static_cast<Surface*>(data);
      s->system->Presented(s, refresh);
    },
    [](void* data, struct wp_presentation_feedback*) { EndFeedback(static_cast<Surface*>(data)); }};

}  // namespace

void WaylandSystem::Presented(Surface* s, uint32_t refreshNs) {
  EndFeedback(s);
  // 0: the output has no steady refresh (variable refresh, say).
  s->presentedRefresh = static_cast<double>(refreshNs) * 1e-9;
}

double WaylandSystem::RefreshInterval(const NSWindow& window) {
  Surface* s = FindSurface(window.nativeWindow);
  if (!s) return 0;
  if (s->presentedRefresh > 0) return s->presentedRefresh;
  Output* o = s->Covers() ? FindOutput(s->output)
                          : (s->entered.empty() ? nullptr : FindOutput(s->entered.front()));
  return o && o->refreshMilliHz > 0 ? 1000.0 / o->refreshMilliHz : 0;
}

Surface* WaylandSystem::FindSurface(wl_surface* surface) {
  for (auto& s : surfaces)
    if (surface && s->surface == surface) return s.get();
  return nullptr;
}

Surface* WaylandSystem::FindSurface(unsigned long id) {
  for (auto& s : surfaces)
    if (s->id == id) return s.get();
  return nullptr;
}

Output* WaylandSystem::FindOutput(uint32_t global) {
  for (auto& o : outputs)
    if (o->global == global) return o.get();
  return nullptr;
}

Output* WaylandSystem::FindOutput(wl_output* output) {
  for (auto& o : outputs)
    if (o->output == output) return o.get();
  return nullptr;
}

void WaylandSystem::Configured(Surface* s, int width, int height) {
  if (width > 0 && height > 0) {
    s->width = width;
    s->height = height;
  }
  s->configured = true;
  ApplySize(s);
}

void WaylandSystem::Rescale(Surface* s) {
  int scale = 0;
  if (s->Covers()) {
    if (Output* o = FindOutput(s->output)) scale = o->scale;
  } else {
    for (uint32_t global : s->entered)
      if (Output* o = FindOutput(global)) scale = std::max(scale, o->scale);
  }
  if (scale >= 1) s->scale = scale;
  // The buffer's size may follow the output's mode or the preferred scale
  // whatever the integer scale did; the view hears of a new size once.
  ApplySize(s);
}

void WaylandSystem::BufferSize(Surface* s, int* width, int* height) {
  // Without a viewport the buffer is a whole multiple of the logical size, so
  // that the buffer scale divides it.
  *width = s->width * s->scale;
  *height = s->height * s->scale;
  if (!s->viewport) return;
  // With one the buffer may be any size. A surface that covers an output
  // draws the output's own pixels: at a fractional scale the integer scale
  // would draw more than the panel has, and the compositor would shrink them.
  // It does so while its logical size has the output's shape, also between
  // the two parts of a new scale (the output's description, the configure);
  // given another shape by the compositor, it draws its own size.
  Output* o = s->Covers() ? FindOutput(s->output) : nullptr;
  if (o && o->PixelWidth() > 0 && o->PixelHeight() > 0 && o->LogicalWidth() > 0 &&
      o->LogicalHeight() > 0 &&
      std::labs(static_cast<long>(s->width) * o->LogicalHeight() -
                static_cast<long>(s->height) * o->LogicalWidth()) <=
          std::max(o->LogicalWidth(), o->LogicalHeight())) {
    *width = o->PixelWidth();
    *height = o->PixelHeight();
  } else if (s->preferredScale > 0) {
    *width = std::max(1, (s->width * s->preferredScale + 60) / 120);
    *height = std::max(1, (s->height * s->preferredScale + 60) / 120);
  }
}

void WaylandSystem::ApplySize(Surface* s) {
  if (!s->eglWindow || s->width < 1 || s->height < 1) return;
  int pixelWidth = 0, pixelHeight = 0;
  BufferSize(s, &pixelWidth, &pixelHeight);
  wl_egl_window_resize(s->eglWindow, pixelWidth, pixelHeight, 0, 0);
  if (s->viewport)
    wp_viewport_set_destination(s->viewport, s->width, s->height);
  else
    wl_surface_set_buffer_scale(s->surface, s->scale);
  wl_region* opaque = wl_compositor_create_region(compositor);
  wl_region_add(opaque, 0, 0, s->width, s->height);
  wl_surface_set_opaque_region(s->surface, opaque);
  wl_region_destroy(opaque);
  if (pixelWidth == s->reportedWidth && pixelHeight == s->reportedHeight) return;
  s->reportedWidth = pixelWidth;
  s->reportedHeight = pixelHeight;
  // A change that comes in parts (an output's scale, then the configure
  // with its new logical size) sets the view up once.
  for (WindowEvent& queued : events)
    if (queued.kind == WindowEvent::kResize && queued.window == s->id) {
      queued.width = pixelWidth;
      queued.height = pixelHeight;
      return;
    }
  WindowEvent e;
  e.kind = WindowEvent::kResize;
  e.window = s->id;
  e.width = pixelWidth;
  e.height = pixelHeight;
  Push(e);
}

void WaylandSystem::DestroySurface(Surface* s) {
  if (keyboardFocus == s) keyboardFocus = nullptr;
  if (pointerFocus == s) pointerFocus = nullptr;
  if (s->frame) wl_callback_destroy(s->frame);
  EndFeedback(s);
  if (s->eglWindow) wl_egl_window_destroy(s->eglWindow);
  if (s->fractional) wp_fractional_scale_v1_destroy(s->fractional);
  if (s->viewport) wp_viewport_destroy(s->viewport);
  if (s->decoration) zxdg_toplevel_decoration_v1_destroy(s->decoration);
  Undecorate(s);
  if (s->toplevel) xdg_toplevel_destroy(s->toplevel);
  if (s->xdgSurface) xdg_surface_destroy(s->xdgSurface);
#if GLYMMER_HAVE_LAYER_SHELL
  if (s->layer) zwlr_layer_surface_v1_destroy(s->layer);
#endif
  if (s->surface) wl_surface_destroy(s->surface);
  if (s->black) wl_buffer_destroy(s->black);
  unsigned long id = s->id;
  events.erase(std::remove_if(events.begin(), events.end(),
                              [id](const WindowEvent& e) {
                                return e.window == id && e.kind != WindowEvent::kOutputAdded &&
                                       e.kind != WindowEvent::kOutputRemoved;
                              }),
               events.end());
  for (size_t i = 0; i < surfaces.size(); ++i)
    if (surfaces[i].get() == s) {
      surfaces.erase(surfaces.begin() + static_cast<long>(i));
      break;
    }
}

void WaylandSystem::CloseSurface(NSWindow* window) {
  if (Surface* s = FindSurface(window->nativeWindow)) DestroySurface(s);
  if (display && !lost) wl_display_flush(display);
  window->nativeDisplay = nullptr;
  window->nativeWindow = 0;
  window->nativeSurface = nullptr;
}

std::string WaylandSystem::Describe(const NSWindow& window) {
  std::string text = "surface " + std::to_string(window.nativeWindow);
  Surface* s = FindSurface(window.nativeWindow);
  if (s && s->Covers())
    if (Output* o = FindOutput(s->output)) text += " on output " + (o->name.empty() ? "?" : o->name);
  if (s && s->width > 0 && s->reportedWidth != s->width) {
    char scale[32];
    std::snprintf(scale, sizeof scale, ", scale %.3g",
                  static_cast<double>(s->reportedWidth) / s->width);
    text += scale;
  }
  return text;
}

bool WaylandSystem::MakeBlackBuffer(Surface* s) {
  // One black pixel, stretched by the viewport; where there is no viewport,
  // a buffer of the surface's size in device pixels, at its buffer scale.
  int width = s->viewport ? 1 : s->width * s->scale;
  int height = s->viewport ? 1 : s->height * s->scale;
  if (s->black && width == s->blackWidth && height == s->blackHeight) return true;
  if (!shm || width < 1 || height < 1) return false;
  size_t bytes = static_cast<size_t>(width) * static_cast<size_t>(height) * 4;
  int fd = memfd_create("glymmer-black", MFD_CLOEXEC);
  if (fd < 0) return false;
  // A fresh file reads as zeros: black, and XRGB ignores the fourth byte.
  if (ftruncate(fd, static_cast<off_t>(bytes)) != 0) {
    close(fd);
    return false;
  }
  wl_shm_pool* pool = wl_shm_create_pool(shm, fd, static_cast<int32_t>(bytes));
  wl_buffer* black =
      wl_shm_pool_create_buffer(pool, 0, width, height, width * 4, WL_SHM_FORMAT_XRGB8888);
  wl_shm_pool_destroy(pool);
  close(fd);
  if (!black) return false;
  // The compositor keeps what it was shown of the old one.
  if (s->black) wl_buffer_destroy(s->black);
  s->black = black;
  s->blackWidth = width;
  s->blackHeight = height;
  return true;
}

void WaylandSystem::PaintBlack(const NSWindow& window) {
  Surface* s = FindSurface(window.nativeWindow);
  if (!s || lost || !MakeBlackBuffer(s)) return;
  // Over the whole surface at its size now, and at the buffer scale that
  // the view's own frames use, should it draw again.
  if (s->viewport)
    wp_viewport_set_destination(s->viewport, s->width, s->height);
  else
    wl_surface_set_buffer_scale(s->surface, s->scale);
  wl_surface_attach(s->surface, s->black, 0, 0);
  wl_surface_damage(s->surface, 0, 0, INT32_MAX, INT32_MAX);
  wl_surface_commit(s->surface);
  wl_display_flush(display);
}

bool WaylandSystem::WantsFrame(const NSWindow& window) {
  Surface* s = FindSurface(window.nativeWindow);
  if (!s || lost) return true;
  // The compositor answers each commit's frame callback at a refresh of an
  // output that shows the surface, and never while it is shown nowhere. So
  // the views draw at each output's own refresh, and a hidden one waits;
  // swaps never wait for the callback (they would block the loop, every
  // other view and every way out with it, for as long as it is hidden).
  if (s->frame) return false;
  // Asked now, sent with the frame the view presents next or with an empty
  // commit (TickEnded).
  s->frame = wl_surface_frame(s->surface);
  wl_callback_add_listener(s->frame, &kFrameListener, s);
  if (presentation && !s->feedback &&
      (s->presentedRefresh <= 0 || ++s->framesUnasked >= kFramesBetweenFeedback)) {
    s->framesUnasked = 0;
    s->feedback = wp_presentation_feedback(presentation, s->surface);
    wp_presentation_feedback_add_listener(s->feedback, &kFeedbackListener, s);
  }
  return true;
}

void WaylandSystem::TickEnded(const NSWindow& window, bool presented) {
  Surface* s = FindSurface(window.nativeWindow);
  if (!s || lost || presented) return;
  // Nothing new to show (no step was due at this refresh): the surface
  // keeps its frame, and the commit only asks to hear of the next refresh.
  wl_surface_commit(s->surface);
}

}  // namespace wayland
