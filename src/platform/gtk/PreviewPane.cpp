// PreviewPane: frames shown in a GtkDrawingArea, asked for by its frame
// clock.

#include "platform/gtk/PreviewPane.h"

#include <gtk/gtk.h>

#include <cairo.h>

#include <algorithm>

struct PreviewPane::Native {
  GtkWidget* widget = nullptr;  // a reference of ours, so it outlives the window
  cairo_surface_t* frame = nullptr;
  guint tick = 0;
  gulong draw = 0;
};

namespace {

// Whether the pane can be seen: mapped, in a window that is neither
// minimised nor withdrawn. The frame clock of a minimised window still runs
// under some window managers, which leave it mapped.
bool OnScreen(GtkWidget* widget) {
  if (!gtk_widget_get_mapped(widget)) return false;
  GdkWindow* top = gtk_widget_get_window(gtk_widget_get_toplevel(widget));
  if (!top) return false;
  GdkWindowState state = gdk_window_get_state(top);
  return !(state & (GDK_WINDOW_STATE_ICONIFIED | GDK_WINDOW_STATE_WITHDRAWN));
}

gboolean Draw(GtkWidget* widget, cairo_t* cr, gpointer data) {
  PreviewPane::Native* native = static_cast<PreviewPane::Native*>(data);
  double width = gtk_widget_get_allocated_width(widget);
  double height = gtk_widget_get_allocated_height(widget);
  cairo_set_source_rgb(cr, 0, 0, 0);
  cairo_paint(cr);
  if (!native->frame) return TRUE;
  double fw = cairo_image_surface_get_width(native->frame);
  double fh = cairo_image_surface_get_height(native->frame);
  double scale = std::min(width / fw, height / fh);
  cairo_translate(cr, (width - fw * scale) / 2, (height - fh * scale) / 2);
  cairo_scale(cr, scale, scale);
  cairo_set_source_surface(cr, native->frame, 0, 0);
  cairo_paint(cr);
  return TRUE;
}

}  // namespace

PreviewPane::PreviewPane(void* widget) : native(new Native) {
  native->widget = GTK_WIDGET(g_object_ref(widget));
  native->draw = g_signal_connect(native->widget, "draw", G_CALLBACK(Draw), native);
}

PreviewPane::~PreviewPane() {
  SetFrameHandler(FrameHandler());
  // A destroyed widget has dropped its handlers already.
  if (g_signal_handler_is_connected(native->widget, native->draw))
    g_signal_handler_disconnect(native->widget, native->draw);
  g_object_unref(native->widget);
  if (native->frame) cairo_surface_destroy(native->frame);
  delete native;
}

namespace {

gboolean Tick(GtkWidget* widget, GdkFrameClock*, gpointer data) {
  auto* handler = static_cast<PreviewPane::FrameHandler*>(data);
  if (OnScreen(widget))
    (*handler)(gtk_widget_get_allocated_width(widget), gtk_widget_get_allocated_height(widget));
  return G_SOURCE_CONTINUE;
}

}  // namespace

void PreviewPane::SetFrameHandler(FrameHandler newHandler) {
  // A destroyed widget has dropped its tick callbacks already, and removing
  // one it no longer has does nothing.
  if (native->tick) gtk_widget_remove_tick_callback(native->widget, native->tick);
  native->tick = 0;
  handler = std::move(newHandler);
  if (handler) native->tick = gtk_widget_add_tick_callback(native->widget, Tick, &handler, nullptr);
}

void PreviewPane::ShowFrame(const unsigned char* rgba, int width, int height) {
  if (!rgba || width < 1 || height < 1) return;
  if (!native->frame || cairo_image_surface_get_width(native->frame) != width ||
      cairo_image_surface_get_height(native->frame) != height) {
    if (native->frame) cairo_surface_destroy(native->frame);
    native->frame = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
  }
  if (cairo_surface_status(native->frame) != CAIRO_STATUS_SUCCESS) return;
  cairo_surface_flush(native->frame);
  unsigned char* data = cairo_image_surface_get_data(native->frame);
  int stride = cairo_image_surface_get_stride(native->frame);
  for (int y = 0; y < height; ++y) {
    const unsigned char* from = rgba + static_cast<size_t>(height - 1 - y) * width * 4;
    uint32_t* to = reinterpret_cast<uint32_t*>(data + static_cast<size_t>(y) * stride);
    for (int x = 0; x < width; ++x, from += 4)
      to[x] = (uint32_t{from[0]} << 16) | (uint32_t{from[1]} << 8) | from[2];
  }
  cairo_surface_mark_dirty(native->frame);
  gtk_widget_queue_draw(native->widget);
  ++shown;
}

bool PreviewPane::LastFrame(std::vector<unsigned char>* rgb, int* width, int* height) const {
  if (!native->frame || cairo_surface_status(native->frame) != CAIRO_STATUS_SUCCESS) return false;
  cairo_surface_flush(native->frame);
  int w = cairo_image_surface_get_width(native->frame), h = cairo_image_surface_get_height(native->frame);
  int stride = cairo_image_surface_get_stride(native->frame);
  const unsigned char* data = cairo_image_surface_get_data(native->frame);
  rgb->resize(static_cast<size_t>(w) * h * 3);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      uint32_t p = reinterpret_cast<const uint32_t*>(data + static_cast<size_t>(y) * stride)[x];
      unsigned char* to = &(*rgb)[(static_cast<size_t>(y) * w + x) * 3];
      to[0] = static_cast<unsigned char>(p >> 16);
      to[1] = static_cast<unsigned char>(p >> 8);
      to[2] = static_cast<unsigned char>(p);
    }
  *width = w;
  *height = h;
  return true;
}
