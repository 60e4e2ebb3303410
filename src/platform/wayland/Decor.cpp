// Window decorations drawn on the client's side, where the compositor offers
// no xdg-decoration (GNOME's mutter): libdecor makes the window's toplevel
// and draws its title bar and close button (with its plugin, libdecor-cairo
// on Debian), as SDL and GLFW do. Only ordinary windows get them; full screen
// and the saver have no frame. The context is made with the first such
// window, so that a saver never loads a plugin.

#include "platform/wayland/WaylandSystem.h"

#include <libdecor.h>

namespace wayland {

namespace {

void OnDecorError(libdecor*, libdecor_error, const char* message) {
  std::fprintf(stderr, "glymmer: window decorations: %s\n", message ? message : "error");
}
libdecor_interface kDecorInterface = {OnDecorError, {}, {}, {}, {}, {}, {}, {}, {}, {}, {}};

libdecor_frame_interface* FrameInterface() {
  static libdecor_frame_interface frame = [] {
    libdecor_frame_interface f{};
    f.configure = [](libdecor_frame* frame, libdecor_configuration* configuration, void* data) {
      Surface* s = static_cast<Surface*>(data);
      int width = 0, height = 0;
      // No size asked for (a floating window): the window keeps its own.
      if (!libdecor_configuration_get_content_size(configuration, frame, &width, &height) ||
          width <= 0 || height <= 0) {
        width = s->width;
        height = s->height;
      }
      libdecor_state* state = libdecor_state_new(width, height);
      libdecor_frame_commit(frame, state, configuration);
      libdecor_state_free(state);
      s->system->Configured(s, width, height);
    };
    f.close = [](libdecor_frame*, void* data) {
      Surface* s = static_cast<Surface*>(data);
      WindowEvent e;
      e.kind = WindowEvent::kClose;
      e.window = s->id;
      s->system->Push(e);
    };
    // The frame's subsurfaces change with the main surface's next commit.
    f.commit = [](libdecor_frame*, void* data) { wl_surface_commit(static_cast<Surface*>(data)->surface); };
    f.dismiss_popup = [](libdecor_frame*, const char*, void*) {};
    return f;
  }();
  return &frame;
}

}  // namespace

bool WaylandSystem::Decorate(Surface* s, const char* title) {
  if (!decor) decor = libdecor_new(display, &kDecorInterface);
  if (!decor) return false;
  s->decorFrame = libdecor_decorate(decor, s->surface, FrameInterface(), s);
  if (!s->decorFrame) return false;
  libdecor_frame_set_title(s->decorFrame, title);
  libdecor_frame_set_app_id(s->decorFrame, "glymmer");
  libdecor_frame_set_min_content_size(s->decorFrame, 64, 48);
  libdecor_frame_map(s->decorFrame);
  return true;
}

void WaylandSystem::Undecorate(Surface* s) {
  // The frame owns the toplevel it made and the decorations' surfaces.
  if (s->decorFrame) libdecor_frame_unref(s->decorFrame);
  s->decorFrame = nullptr;
}

void WaylandSystem::DispatchDecor() {
  // What the plugin reads for itself (nothing more than the queue for
  // libdecor-cairo); never waits.
  if (decor && !lost && libdecor_dispatch(decor, 0) < 0) Lose();
}

void WaylandSystem::EndDecor() {
  if (decor) libdecor_unref(decor);
  decor = nullptr;
}

}  // namespace wayland
