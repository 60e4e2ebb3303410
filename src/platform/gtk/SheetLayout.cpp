// SheetLayout: the sheet's window and controls over GtkBuilder.

#include "platform/gtk/SheetLayout.h"

#include "platform/Bundle.h"
#include "platform/gtk/PreviewPane.h"

#include <gtk/gtk.h>

#include <cairo.h>

#include <climits>
#include <cmath>
#include <cstring>

namespace {

// Programmatic changes (setState, setIntValue, ...) send no actions, as a
// person's changes do: the toolkit's signals still fire, and the actions
// connected by the loader look at this depth and stay quiet.
int gQuietDepth = 0;

struct Quiet {
  Quiet() { ++gQuietDepth; }
  ~Quiet() { --gQuietDepth; }
  Quiet(const Quiet&) = delete;
  Quiet& operator=(const Quiet&) = delete;
};

// A GClosure that sends one action, whatever the signal's parameters.
struct ActionClosure {
  GClosure closure;
  NibConnections::Action action;
  void* owner;
};

void MarshalAction(GClosure* closure, GValue* returnValue, guint paramCount, const GValue* params,
                   gpointer, gpointer) {
  ActionClosure* a = reinterpret_cast<ActionClosure*>(closure);
  // A signal that asks whether it was handled (a window's delete-event, for
  // one) is handled by its action: the toolkit's default is not run on top.
  if (returnValue && G_VALUE_HOLDS_BOOLEAN(returnValue)) g_value_set_boolean(returnValue, TRUE);
  if (gQuietDepth > 0) return;
  void* sender = paramCount > 0 && G_VALUE_HOLDS_OBJECT(&params[0]) ? g_value_get_object(&params[0]) : nullptr;
  a->action(a->owner, sender);
}

GtkLabel* FirstLabel(GtkWidget* widget) {
  if (!widget) return nullptr;
  if (GTK_IS_LABEL(widget)) return GTK_LABEL(widget);
  if (!GTK_IS_CONTAINER(widget)) return nullptr;
  GtkLabel* found = nullptr;
  GList* children = gtk_container_get_children(GTK_CONTAINER(widget));
  for (GList* c = children; c && !found; c = c->next) found = FirstLabel(GTK_WIDGET(c->data));
  g_list_free(children);
  return found;
}

void ClearMixed(GtkToggleButton* button, gpointer) {
  if (gtk_toggle_button_get_inconsistent(button)) gtk_toggle_button_set_inconsistent(button, FALSE);
}

gboolean QuitLoop(gpointer loop) {
  g_main_loop_quit(static_cast<GMainLoop*>(loop));
  return G_SOURCE_REMOVE;
}

// Lets the toolkit do what is queued (drawing, closing) without waiting.
void DrainEvents() {
  for (int i = 0; i < 1000 && g_main_context_iteration(nullptr, FALSE); ++i) {
  }
}

}  // namespace

bool StartToolkit() {
  static bool started = false;
  if (!started) started = gtk_init_check(nullptr, nullptr);
  return started;
}

// ---- NSButton --------------------------------------------------------------

NSButton::NSButton(void* w) : widget(w) {
  if (GTK_IS_TOGGLE_BUTTON(widget)) g_signal_connect(widget, "toggled", G_CALLBACK(ClearMixed), nullptr);
}

NSButton::~NSButton() = default;

void NSButton::setState(int state) {
  if (!GTK_IS_TOGGLE_BUTTON(widget)) return;
  Quiet quiet;
  GtkToggleButton* toggle = GTK_TOGGLE_BUTTON(widget);
  if (state == NSMixedState) {
    gtk_toggle_button_set_inconsistent(toggle, TRUE);
    return;
  }
  gtk_toggle_button_set_active(toggle, state != NSOffState);
  gtk_toggle_button_set_inconsistent(toggle, FALSE);
}

int NSButton::state() const {
  if (!GTK_IS_TOGGLE_BUTTON(widget)) return NSOffState;
  GtkToggleButton* toggle = GTK_TOGGLE_BUTTON(widget);
  if (gtk_toggle_button_get_inconsistent(toggle)) return NSMixedState;
  return gtk_toggle_button_get_active(toggle) ? NSOnState : NSOffState;
}

void NSButton::setTitle(const std::string& title) {
  titleText = title;
  hasTitle = true;
  // The toolkit shows only UTF-8; a path in another encoding is shown with
  // replacement marks but kept whole in titleText.
  gchar* shown = g_utf8_make_valid(title.data(), static_cast<gssize>(title.size()));
  GtkButton* button = GTK_BUTTON(widget);
  GtkLabel* label = gtk_button_get_label(button) ? nullptr : FirstLabel(gtk_bin_get_child(GTK_BIN(button)));
  if (label) {
    gtk_label_set_text(label, shown);
  } else {
    gtk_button_set_use_underline(button, FALSE);
    gtk_button_set_label(button, shown);
  }
  gtk_widget_set_tooltip_text(GTK_WIDGET(button), shown);
  g_free(shown);
}

std::string NSButton::title() const {
  if (hasTitle) return titleText;
  GtkButton* button = GTK_BUTTON(widget);
  if (const gchar* label = gtk_button_get_label(button)) return label;
  if (GtkLabel* child = FirstLabel(gtk_bin_get_child(GTK_BIN(button)))) return gtk_label_get_text(child);
  return std::string();
}

const char* NSButton::ClassName() const { return G_OBJECT_TYPE_NAME(widget); }

void NSButton::performClick() { gtk_button_clicked(GTK_BUTTON(widget)); }

// ---- NSControl -------------------------------------------------------------

NSControl::NSControl(void* w) : widget(w) {}
NSControl::~NSControl() = default;

void NSControl::setIntValue(int value) {
  Quiet quiet;
  if (GTK_IS_SPIN_BUTTON(widget))
    gtk_spin_button_set_value(GTK_SPIN_BUTTON(widget), value);
  else
    gtk_range_set_value(GTK_RANGE(widget), value);
}

int NSControl::intValue() const {
  if (GTK_IS_SPIN_BUTTON(widget)) {
    // Take in what was typed and not yet confirmed with Enter or by leaving
    // the field, so that Save never misses a person's last edit.
    Quiet quiet;
    gtk_spin_button_update(GTK_SPIN_BUTTON(widget));
  }
  return confirmedIntValue();
}

int NSControl::confirmedIntValue() const {
  double v = GTK_IS_SPIN_BUTTON(widget) ? gtk_spin_button_get_value(GTK_SPIN_BUTTON(widget))
                                        : gtk_range_get_value(GTK_RANGE(widget));
  v = std::round(v);
  if (!(v >= INT_MIN)) return INT_MIN;
  if (v > INT_MAX) return INT_MAX;
  return static_cast<int>(v);
}

const char* NSControl::ClassName() const { return G_OBJECT_TYPE_NAME(widget); }

static GtkAdjustment* AdjustmentOf(void* widget) {
  if (GTK_IS_SPIN_BUTTON(widget)) return gtk_spin_button_get_adjustment(GTK_SPIN_BUTTON(widget));
  return gtk_range_get_adjustment(GTK_RANGE(widget));
}

int NSControl::minValue() const { return static_cast<int>(gtk_adjustment_get_lower(AdjustmentOf(widget))); }
int NSControl::maxValue() const { return static_cast<int>(gtk_adjustment_get_upper(AdjustmentOf(widget))); }

// ---- NSPopUpButton ---------------------------------------------------------

NSPopUpButton::NSPopUpButton(void* w) : widget(w) {}
NSPopUpButton::~NSPopUpButton() = default;

int NSPopUpButton::numberOfItems() const {
  GtkTreeModel* model = gtk_combo_box_get_model(GTK_COMBO_BOX(widget));
  return model ? gtk_tree_model_iter_n_children(model, nullptr) : 0;
}

void NSPopUpButton::selectItemAtIndex(int index) {
  Quiet quiet;
  if (index < 0 || index >= numberOfItems()) index = -1;
  gtk_combo_box_set_active(GTK_COMBO_BOX(widget), index);
}

void NSPopUpButton::setIntValue(int index) { selectItemAtIndex(index); }

int NSPopUpButton::indexOfSelectedItem() const { return gtk_combo_box_get_active(GTK_COMBO_BOX(widget)); }

std::string NSPopUpButton::itemTitleAtIndex(int index) const {
  GtkTreeModel* model = gtk_combo_box_get_model(GTK_COMBO_BOX(widget));
  GtkTreeIter iter;
  if (!model || index < 0 || !gtk_tree_model_iter_nth_child(model, &iter, nullptr, index)) return std::string();
  int column = gtk_combo_box_get_entry_text_column(GTK_COMBO_BOX(widget));
  if (column < 0) column = 0;
  gchar* text = nullptr;
  gtk_tree_model_get(model, &iter, column, &text, -1);
  std::string out = text ? text : "";
  g_free(text);
  return out;
}

const char* NSPopUpButton::ClassName() const { return G_OBJECT_TYPE_NAME(widget); }

// ---- NSSwitch --------------------------------------------------------------

NSSwitch::NSSwitch(void* w) : widget(w) {}
NSSwitch::~NSSwitch() = default;

void NSSwitch::setState(int state) {
  Quiet quiet;
  gtk_switch_set_active(GTK_SWITCH(widget), state == NSOnState);
}

int NSSwitch::state() const { return gtk_switch_get_active(GTK_SWITCH(widget)) ? NSOnState : NSOffState; }

// ---- NSPanel ---------------------------------------------------------------

struct NSPanel::Native {
  GtkBuilder* builder = nullptr;
  GtkWidget* window = nullptr;
  bool destroyed = false;     // the window is gone (closed without a handler)
  GMainLoop* loop = nullptr;  // runSheet's, while it waits
  bool endedInLoop = false;
};

NSPanel::NSPanel() : native(new Native) {}

NSPanel::~NSPanel() {
  if (native->window && !native->destroyed) gtk_widget_destroy(native->window);
  if (!native->builder) return;
  // Toplevel windows belong to the toolkit, not to the builder: any other
  // window the layout made goes now too.
  GSList* objects = gtk_builder_get_objects(native->builder);
  for (GSList* o = objects; o; o = o->next)
    if (GTK_IS_WINDOW(o->data) && o->data != native->window) gtk_widget_destroy(GTK_WIDGET(o->data));
  g_slist_free(objects);
  g_object_unref(native->builder);
}

std::string NSPanel::title() const {
  const gchar* t = gtk_window_get_title(GTK_WINDOW(native->window));
  return t ? t : "";
}

const char* NSPanel::ClassName() const { return G_OBJECT_TYPE_NAME(native->window); }

bool NSPanel::isVisible() const { return !native->destroyed && gtk_widget_get_visible(native->window); }

void NSPanel::show() {
  if (native->destroyed) return;
  gtk_widget_show(native->window);
  gtk_window_present(GTK_WINDOW(native->window));
}

bool NSPanel::PerformClick(const char* objectId) {
  if (!objectId) return false;
  GObject* object = gtk_builder_get_object(native->builder, objectId);
  if (!object || !GTK_IS_BUTTON(object)) return false;
  gtk_button_clicked(GTK_BUTTON(object));
  return true;
}

NSControl* NSPanel::IntegerControlNamed(const char* objectId) {
  GObject* object = objectId ? gtk_builder_get_object(native->builder, objectId) : nullptr;
  if (!object || !(GTK_IS_SPIN_BUTTON(object) || GTK_IS_RANGE(object))) return nullptr;
  controls.emplace_back(new NSControl(object));
  return controls.back().get();
}

NSSwitch* NSPanel::SwitchNamed(const char* objectId) {
  GObject* object = objectId ? gtk_builder_get_object(native->builder, objectId) : nullptr;
  if (!object || !GTK_IS_SWITCH(object)) return nullptr;
  switches.emplace_back(new NSSwitch(object));
  return switches.back().get();
}

PreviewPane* NSPanel::PreviewPaneNamed(const char* objectId) {
  GObject* object = objectId ? gtk_builder_get_object(native->builder, objectId) : nullptr;
  if (!object || !GTK_IS_DRAWING_AREA(object)) return nullptr;
  panes.emplace_back(new PreviewPane(object));
  return panes.back().get();
}

namespace {

void RunAfterClick(GtkButton*, gpointer data) { (*static_cast<std::function<void()>*>(data))(); }

void ForgetAfterClick(gpointer data, GClosure*) { delete static_cast<std::function<void()>*>(data); }

}  // namespace

bool NSPanel::AfterClick(const char* objectId, std::function<void()> then) {
  GObject* object = objectId ? gtk_builder_get_object(native->builder, objectId) : nullptr;
  if (!object || !GTK_IS_BUTTON(object)) return false;
  // Connected after the loader's: the module's actions run first.
  g_signal_connect_data(object, "clicked", G_CALLBACK(RunAfterClick),
                        new std::function<void()>(std::move(then)), ForgetAfterClick,
                        G_CONNECT_AFTER);
  return true;
}

namespace {

void RunAfterChange(GObject*, gpointer data) {
  if (gQuietDepth == 0) (*static_cast<std::function<void()>*>(data))();
}
void RunAfterNotify(GObject* object, GParamSpec*, gpointer data) { RunAfterChange(object, data); }

}  // namespace

bool NSPanel::AfterChange(const char* objectId, std::function<void()> then) {
  GObject* object = objectId ? gtk_builder_get_object(native->builder, objectId) : nullptr;
  const char* signal = object && GTK_IS_SWITCH(object) ? "notify::active"
                       : object && GTK_IS_SPIN_BUTTON(object) ? "value-changed"
                                                              : nullptr;
  if (!signal) return false;
  GCallback callback = GTK_IS_SWITCH(object) ? G_CALLBACK(RunAfterNotify) : G_CALLBACK(RunAfterChange);
  g_signal_connect_data(object, signal, callback, new std::function<void()>(std::move(then)),
                        ForgetAfterClick, G_CONNECT_AFTER);
  return true;
}

bool NSPanel::SetLabel(const char* objectId, const std::string& text) {
  GObject* object = objectId ? gtk_builder_get_object(native->builder, objectId) : nullptr;
  if (object && GTK_IS_LABEL(object))
    gtk_label_set_text(GTK_LABEL(object), text.c_str());
  else if (object && GTK_IS_BUTTON(object))
    gtk_button_set_label(GTK_BUTTON(object), text.c_str());
  else
    return false;
  gtk_widget_set_visible(GTK_WIDGET(object), !text.empty());
  return true;
}

std::string NSPanel::Label(const char* objectId) const {
  GObject* object = objectId ? gtk_builder_get_object(native->builder, objectId) : nullptr;
  const char* text = object && GTK_IS_LABEL(object)    ? gtk_label_get_text(GTK_LABEL(object))
                     : object && GTK_IS_BUTTON(object) ? gtk_button_get_label(GTK_BUTTON(object))
                                                       : nullptr;
  return text ? text : "";
}

bool NSPanel::SetShown(const char* objectId, bool shown) {
  GObject* object = objectId ? gtk_builder_get_object(native->builder, objectId) : nullptr;
  if (!object || !GTK_IS_WIDGET(object)) return false;
  gtk_widget_set_visible(GTK_WIDGET(object), shown);
  return true;
}

bool NSPanel::Shown(const char* objectId) const {
  GObject* object = objectId ? gtk_builder_get_object(native->builder, objectId) : nullptr;
  return object && GTK_IS_WIDGET(object) && gtk_widget_get_visible(GTK_WIDGET(object));
}

void NSPanel::PerformClose() {
  if (native->destroyed) return;
  // The toolkit closes only windows that exist on the display.
  gtk_widget_realize(native->window);
  gtk_window_close(GTK_WINDOW(native->window));
  DrainEvents();
}

bool NSPanel::SaveScreenshot(const char* pngPath) {
  if (native->destroyed || !pngPath) return false;
  show();
  GtkWidget* w = native->window;
  for (int i = 0; i < 200 && !gtk_widget_get_mapped(w); ++i) {
    DrainEvents();
    g_usleep(5000);
  }
  DrainEvents();
  int width = gtk_widget_get_allocated_width(w), height = gtk_widget_get_allocated_height(w);
  if (width <= 1 || height <= 1) return false;
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
  cairo_t* cr = cairo_create(surface);
  gtk_widget_draw(w, cr);
  cairo_destroy(cr);
  bool ok = cairo_surface_write_to_png(surface, pngPath) == CAIRO_STATUS_SUCCESS;
  cairo_surface_destroy(surface);
  return ok;
}

// ---- Loading ---------------------------------------------------------------

void NibConnections::Window(const char* id, NSPanel** outlet) {
  outlets.push_back({id, Kind::Window, reinterpret_cast<void**>(outlet)});
}
void NibConnections::CheckBox(const char* id, NSButton** outlet) {
  outlets.push_back({id, Kind::CheckBox, reinterpret_cast<void**>(outlet)});
}
void NibConnections::TitledButton(const char* id, NSButton** outlet) {
  outlets.push_back({id, Kind::TitledButton, reinterpret_cast<void**>(outlet)});
}
void NibConnections::IntegerControl(const char* id, NSControl** outlet) {
  outlets.push_back({id, Kind::IntegerControl, reinterpret_cast<void**>(outlet)});
}
void NibConnections::PopUp(const char* id, NSPopUpButton** outlet) {
  outlets.push_back({id, Kind::PopUp, reinterpret_cast<void**>(outlet)});
}
void NibConnections::Handler(const char* handler, Action action) { handlers.push_back({handler, action}); }

namespace {

struct ConnectContext {
  const std::vector<std::pair<std::string, NibConnections::Action>>* handlers;
  void* owner;
  std::vector<NSPanel::Connection>* made;
  bool missing = false;
};

void ConnectOne(GtkBuilder*, GObject* object, const gchar* signal, const gchar* handler, GObject*,
                GConnectFlags flags, gpointer data) {
  ConnectContext* ctx = static_cast<ConnectContext*>(data);
  NibConnections::Action action = nullptr;
  for (const auto& h : *ctx->handlers)
    if (h.first == handler) action = h.second;
  if (!action) {
    ctx->missing = true;
    return;
  }
  ActionClosure* a = reinterpret_cast<ActionClosure*>(g_closure_new_simple(sizeof(ActionClosure), nullptr));
  a->action = action;
  a->owner = ctx->owner;
  g_closure_set_marshal(&a->closure, MarshalAction);
  g_signal_connect_closure(object, signal, &a->closure, (flags & G_CONNECT_AFTER) != 0);
  const gchar* id = GTK_IS_BUILDABLE(object) ? gtk_buildable_get_name(GTK_BUILDABLE(object)) : nullptr;
  ctx->made->push_back({id ? id : "", signal, handler});
}

void OnWindowDestroyed(GtkWidget*, gpointer data) {
  NSPanel::Native* native = static_cast<NSPanel::Native*>(data);
  native->destroyed = true;
  if (native->loop) g_main_loop_quit(native->loop);
}

}  // namespace

bool loadNibNamed(const char* name, NibConnections* c) {
  if (!name || !*name || !c || !StartToolkit()) return false;
  std::string path = Bundle::bundleForClass()->pathForResource(name, "ui");
  if (path.empty()) return false;

  std::unique_ptr<NSPanel> panel(new NSPanel);
  NSPanel::Native* native = panel->native.get();
  native->builder = gtk_builder_new();
  GError* error = nullptr;
  if (!gtk_builder_add_from_file(native->builder, path.c_str(), &error)) {
    g_clear_error(&error);
    return false;  // the panel releases the builder and whatever it made
  }

  NSPanel** panelSlot = nullptr;
  for (const auto& o : c->outlets) {
    GObject* object = gtk_builder_get_object(native->builder, o.id.c_str());
    if (!object) return false;
    bool kindOk = false;
    switch (o.kind) {
      case NibConnections::Kind::Window: kindOk = GTK_IS_WINDOW(object); break;
      case NibConnections::Kind::CheckBox: kindOk = GTK_IS_CHECK_BUTTON(object); break;
      case NibConnections::Kind::TitledButton:
        kindOk = GTK_IS_BUTTON(object) && !GTK_IS_TOGGLE_BUTTON(object);
        break;
      case NibConnections::Kind::IntegerControl:
        kindOk = GTK_IS_SPIN_BUTTON(object) || GTK_IS_RANGE(object);
        break;
      case NibConnections::Kind::PopUp: kindOk = GTK_IS_COMBO_BOX_TEXT(object); break;
    }
    if (!kindOk) return false;
    if (o.kind == NibConnections::Kind::Window) {
      if (native->window) return false;  // one window per sheet
      native->window = GTK_WIDGET(object);
      panelSlot = reinterpret_cast<NSPanel**>(o.slot);
    }
  }
  if (!native->window) return false;
  g_signal_connect(native->window, "destroy", G_CALLBACK(OnWindowDestroyed), native);

  std::vector<std::pair<std::string, NibConnections::Action>> handlers;
  for (const auto& h : c->handlers) handlers.push_back({h.name, h.action});
  ConnectContext ctx{&handlers, c->owner, &panel->connections};
  gtk_builder_connect_signals_full(native->builder, ConnectOne, &ctx);
  if (ctx.missing) return false;  // destroying the window drops what was connected

  // Everything checks out: make the wrappers and set the outlets.
  for (const auto& o : c->outlets) {
    void* object = gtk_builder_get_object(native->builder, o.id.c_str());
    switch (o.kind) {
      case NibConnections::Kind::Window: break;
      case NibConnections::Kind::CheckBox:
      case NibConnections::Kind::TitledButton:
        panel->buttons.emplace_back(new NSButton(object));
        *o.slot = panel->buttons.back().get();
        break;
      case NibConnections::Kind::IntegerControl:
        panel->controls.emplace_back(new NSControl(object));
        *o.slot = panel->controls.back().get();
        break;
      case NibConnections::Kind::PopUp:
        panel->popUps.emplace_back(new NSPopUpButton(object));
        *o.slot = panel->popUps.back().get();
        break;
    }
  }
  *panelSlot = panel.release();
  return true;
}

void endSheet(NSPanel* sheet) {
  if (!sheet) return;
  ++sheet->ended;
  NSPanel::Native* native = sheet->native.get();
  if (!native->destroyed) gtk_widget_hide(native->window);
  if (native->loop) {
    native->endedInLoop = true;
    g_main_loop_quit(native->loop);
  }
}

namespace {

struct StopWatch {
  const volatile std::sig_atomic_t* stop;
  GMainLoop* loop;
  GtkWidget* window;  // the sheet's
};

gboolean CheckStop(gpointer data) {
  StopWatch* w = static_cast<StopWatch*>(data);
  if (w->stop && *w->stop) {
    g_main_loop_quit(w->loop);
    return G_SOURCE_REMOVE;
  }
  return G_SOURCE_CONTINUE;
}

// The sheet runSheet is waiting on, for alerts to show over; null otherwise.
StopWatch* runningSheet = nullptr;

struct AlertWatch {
  const volatile std::sig_atomic_t* stop;
  GtkDialog* dialog;
};

gboolean DismissOnStop(gpointer data) {
  AlertWatch* w = static_cast<AlertWatch*>(data);
  if (w->stop && *w->stop) {
    gtk_dialog_response(w->dialog, GTK_RESPONSE_CANCEL);
    return G_SOURCE_REMOVE;
  }
  return G_SOURCE_CONTINUE;
}

std::string ValidText(const std::string& text) {
  gchar* valid = g_utf8_make_valid(text.data(), static_cast<gssize>(text.size()));
  std::string out = valid;
  g_free(valid);
  return out;
}

}  // namespace

void RunToolkitFor(double seconds) {
  GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
  g_timeout_add(seconds > 0 ? static_cast<guint>(seconds * 1000) : 0, QuitLoop, loop);
  g_main_loop_run(loop);
  g_main_loop_unref(loop);
}

bool RunAlertOverSheet(const std::string& title, const std::string& message,
                       const std::string& button) {
  if (!runningSheet) return false;
  GtkWidget* dialog = gtk_message_dialog_new(
      GTK_WINDOW(runningSheet->window), GtkDialogFlags(GTK_DIALOG_MODAL | GTK_DIALOG_DESTROY_WITH_PARENT),
      GTK_MESSAGE_ERROR, GTK_BUTTONS_NONE, "%s", ValidText(title).c_str());
  // As the host's alert panel shows them: the title in bold, the message below.
  gtk_message_dialog_format_secondary_text(GTK_MESSAGE_DIALOG(dialog), "%s",
                                           ValidText(message).c_str());
  gtk_window_set_title(GTK_WINDOW(dialog), ValidText(title).c_str());
  gtk_dialog_add_button(GTK_DIALOG(dialog), ValidText(button.empty() ? "OK" : button).c_str(),
                        GTK_RESPONSE_OK);
  gtk_dialog_set_default_response(GTK_DIALOG(dialog), GTK_RESPONSE_OK);
  AlertWatch watch{runningSheet->stop, GTK_DIALOG(dialog)};
  guint timer = g_timeout_add(100, DismissOnStop, &watch);
  gtk_dialog_run(GTK_DIALOG(dialog));
  if (GSource* source = g_main_context_find_source_by_id(nullptr, timer)) g_source_destroy(source);
  gtk_widget_destroy(dialog);
  return true;
}

bool runSheet(NSPanel* sheet, const volatile std::sig_atomic_t* stop) {
  if (!sheet) return false;
  NSPanel::Native* native = sheet->native.get();
  if (native->destroyed || native->loop) return false;
  native->endedInLoop = false;
  native->loop = g_main_loop_new(nullptr, FALSE);
  StopWatch watch{stop, native->loop, native->window};
  guint timer = g_timeout_add(100, CheckStop, &watch);
  sheet->show();
  runningSheet = &watch;
  if (!(stop && *stop)) g_main_loop_run(native->loop);
  runningSheet = nullptr;
  // The timer is gone already if it saw the stop.
  if (GSource* source = g_main_context_find_source_by_id(nullptr, timer)) g_source_destroy(source);
  g_main_loop_unref(native->loop);
  native->loop = nullptr;
  if (!native->destroyed) gtk_widget_hide(native->window);
  return native->endedInLoop;
}
