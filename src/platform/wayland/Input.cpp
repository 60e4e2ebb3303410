// The seat: keys, buttons, the wheel and pointer travel as the engine's
// events, in desktop coordinates.

#include "platform/wayland/WaylandSystem.h"

#include <linux/input-event-codes.h>

namespace wayland {

namespace {

const wl_keyboard_listener* KeyboardListener() {
  static const wl_keyboard_listener listener = [] {
    wl_keyboard_listener l{};
    l.keymap = [](void*, wl_keyboard*, uint32_t, int32_t fd, uint32_t) { close(fd); };
    // Keys already down when the focus comes are not new input.
    l.enter = [](void* data, wl_keyboard*, uint32_t, wl_surface* surface, wl_array*) {
      WaylandSystem* w = static_cast<WaylandSystem*>(data);
      w->keyboardFocus = w->FindSurface(surface);
    };
    l.leave = [](void* data, wl_keyboard*, uint32_t, wl_surface*) {
      static_cast<WaylandSystem*>(data)->keyboardFocus = nullptr;
    };
    l.key = [](void* data, wl_keyboard*, uint32_t, uint32_t, uint32_t key, uint32_t state) {
      WaylandSystem* w = static_cast<WaylandSystem*>(data);
      if (state != WL_KEYBOARD_KEY_STATE_PRESSED) return;
      WindowEvent e;
      e.kind = WindowEvent::kKey;
      e.window = w->keyboardFocus ? w->keyboardFocus->id : 0;
      e.escape = key == KEY_ESC;
      w->Push(e);
    };
    l.modifiers = [](void*, wl_keyboard*, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t) {};
    l.repeat_info = [](void*, wl_keyboard*, int32_t, int32_t) {};
    return l;
  }();
  return &listener;
}

const wl_pointer_listener* PointerListener() {
  static const wl_pointer_listener listener = [] {
    wl_pointer_listener l{};
    l.enter = [](void* data, wl_pointer* pointer, uint32_t serial, wl_surface* surface,
                 wl_fixed_t x, wl_fixed_t y) {
      WaylandSystem* w = static_cast<WaylandSystem*>(data);
      w->pointerFocus = w->FindSurface(surface);
      // No pointer over a screen-covering surface, as a saver should be.
      if (w->pointerFocus && w->pointerFocus->Covers())
        wl_pointer_set_cursor(pointer, serial, nullptr, 0, 0);
      w->PointerAt(w->pointerFocus, x, y, true);
    };
    l.leave = [](void* data, wl_pointer*, uint32_t, wl_surface*) {
      static_cast<WaylandSystem*>(data)->pointerFocus = nullptr;
    };
    l.motion = [](void* data, wl_pointer*, uint32_t, wl_fixed_t x, wl_fixed_t y) {
      WaylandSystem* w = static_cast<WaylandSystem*>(data);
      w->PointerAt(w->pointerFocus, x, y, false);
    };
    l.button = [](void* data, wl_pointer*, uint32_t, uint32_t, uint32_t, uint32_t state) {
      WaylandSystem* w = static_cast<WaylandSystem*>(data);
      if (state != WL_POINTER_BUTTON_STATE_PRESSED) return;
      WindowEvent e;
      e.kind = WindowEvent::kButton;
      e.window = w->pointerFocus ? w->pointerFocus->id : 0;
      w->Push(e);
    };
    // A turned wheel is input as a click is.
    l.axis = [](void* data, wl_pointer*, uint32_t, uint32_t, wl_fixed_t) {
      WaylandSystem* w = static_cast<WaylandSystem*>(data);
      WindowEvent e;
      e.kind = WindowEvent::kButton;
      e.window = w->pointerFocus ? w->pointerFocus->id : 0;
      w->Push(e);
    };
    l.frame = [](void*, wl_pointer*) {};
    l.axis_source = [](void*, wl_pointer*, uint32_t) {};
    l.axis_stop = [](void*, wl_pointer*, uint32_t, uint32_t) {};
    l.axis_discrete = [](void*, wl_pointer*, uint32_t, int32_t) {};
    return l;
  }();
  return &listener;
}

const wl_seat_listener kSeatListener = {
    [](void* data, wl_seat*, uint32_t capabilities) {
      static_cast<WaylandSystem*>(data)->Seat(capabilities);
    },
    [](void*, wl_seat*, const char*) {}};

}  // namespace

const wl_seat_listener* SeatListener() { return &kSeatListener; }

void WaylandSystem::Seat(uint32_t capabilities) {
  bool hasKeyboard = capabilities & WL_SEAT_CAPABILITY_KEYBOARD;
  bool hasPointer = capabilities & WL_SEAT_CAPABILITY_POINTER;
  if (hasKeyboard && !keyboard) {
    keyboard = wl_seat_get_keyboard(seat);
    wl_keyboard_add_listener(keyboard, KeyboardListener(), this);
  } else if (!hasKeyboard && keyboard) {
    wl_keyboard_destroy(keyboard);
    keyboard = nullptr;
    keyboardFocus = nullptr;
  }
  if (hasPointer && !pointer) {
    pointer = wl_seat_get_pointer(seat);
    wl_pointer_add_listener(pointer, PointerListener(), this);
  } else if (!hasPointer && pointer) {
    wl_pointer_destroy(pointer);
    pointer = nullptr;
    pointerFocus = nullptr;
  }
}

void WaylandSystem::PointerAt(Surface* s, wl_fixed_t x, wl_fixed_t y, bool entered) {
  // Desktop coordinates, so that crossing from one output's surface to
  // another's is no travel by itself. Entering a surface is not travel
  // either: the compositor puts the pointer where it likes when the output
  // under it goes, and desktop coordinates shift when outputs change.
  WindowEvent e;
  e.kind = WindowEvent::kMotion;
  e.newReference = entered || outputsMoved;
  outputsMoved = false;
  e.window = s ? s->id : 0;
  e.rootX = wl_fixed_to_int(x);
  e.rootY = wl_fixed_to_int(y);
  if (s && s->Covers())
    if (Output* o = FindOutput(s->output)) {
      e.rootX += o->X();
      e.rootY += o->Y();
    }
  Push(e);
}

}  // namespace wayland
