// OpenPanel: the open panel over GtkFileChooserDialog.

#include "platform/gtk/OpenPanel.h"

#include "platform/gtk/SheetLayout.h"

#include <gtk/gtk.h>

#include <sys/stat.h>

#include <utility>

namespace {

NSOpenPanel::RunHook& Hook() {
  static NSOpenPanel::RunHook hook;
  return hook;
}

bool IsFolder(const std::string& path) {
  struct stat st {};
  return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Where the panel opens: the folder, else its parent, else the home folder.
std::string StartingFolder(const std::string& directory) {
  if (IsFolder(directory)) return directory;
  gchar* parent = g_path_get_dirname(directory.c_str());
  std::string up = parent;
  g_free(parent);
  if (!directory.empty() && directory[0] == '/' && IsFolder(up)) return up;
  return g_get_home_dir();
}

// The window the panel belongs to: the active one, else any one shown.
GtkWindow* ParentWindow() {
  GtkWindow* found = nullptr;
  GList* windows = gtk_window_list_toplevels();
  for (GList* w = windows; w; w = w->next) {
    GtkWindow* window = GTK_WINDOW(w->data);
    if (!gtk_widget_get_visible(GTK_WIDGET(window))) continue;
    if (gtk_window_is_active(window)) {
      found = window;
      break;
    }
    if (!found) found = window;
  }
  g_list_free(windows);
  return found;
}

// Left to itself the chooser may open larger than a small screen; it gets a
// comfortable size that fits the monitor, centred on its parent. The chooser
// sizes itself as it is mapped, so this runs after that.
void FitOnScreen(GtkWidget* widget, gpointer) {
  GtkWindow* window = GTK_WINDOW(widget);
  int width = 800, height = 560;
  GdkDisplay* display = gdk_display_get_default();
  GtkWindow* parent = gtk_window_get_transient_for(window);
  GdkWindow* near = parent ? gtk_widget_get_window(GTK_WIDGET(parent)) : nullptr;
  GdkMonitor* monitor = nullptr;
  if (display && near) monitor = gdk_display_get_monitor_at_window(display, near);
  if (!monitor && display) monitor = gdk_display_get_primary_monitor(display);
  if (!monitor && display) monitor = gdk_display_get_monitor(display, 0);
  if (!monitor) {
    gtk_window_resize(window, width, height);
    return;
  }
  GdkRectangle area;
  gdk_monitor_get_workarea(monitor, &area);
  if (width > area.width * 9 / 10) width = area.width * 9 / 10;
  if (height > area.height * 9 / 10) height = area.height * 9 / 10;
  gtk_window_resize(window, width, height);

  int x = area.x + (area.width - width) / 2, y = area.y + (area.height - height) / 2;
  if (parent) {
    int px, py, pw, ph;
    gtk_window_get_position(parent, &px, &py);
    gtk_window_get_size(parent, &pw, &ph);
    x = px + (pw - width) / 2;
    y = py + (ph - height) / 2;
  }
  // Wholly on the monitor, title first.
  if (x > area.x + area.width - width) x = area.x + area.width - width;
  if (y > area.y + area.height - height) y = area.y + area.height - height;
  if (x < area.x) x = area.x;
  if (y < area.y) y = area.y;
  gtk_window_move(window, x, y);
}

}  // namespace

NSOpenPanel* NSOpenPanel::openPanel() {
  static NSOpenPanel panel;
  panel = NSOpenPanel();
  return &panel;
}

void NSOpenPanel::SetRunHookForTesting(RunHook hook) { Hook() = std::move(hook); }

int NSOpenPanel::runModalForDirectory(const std::string& directory, const std::string& file,
                                      const std::vector<std::string>& types) {
  chosen.clear();
  if (Hook()) {
    std::vector<std::string> paths;
    int result = Hook()(*this, directory, file, types, &paths);
    if (result == NSOKButton) chosen = std::move(paths);
    return result == NSOKButton ? NSOKButton : NSCancelButton;
  }
  if (!StartToolkit()) return NSCancelButton;

  bool folderMode = folders && !files;
  GtkWidget* dialog = gtk_file_chooser_dialog_new(
      titleText.c_str(), ParentWindow(),
      folderMode ? GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER : GTK_FILE_CHOOSER_ACTION_OPEN, "_Cancel",
      GTK_RESPONSE_CANCEL, folderMode ? "_Select" : "_Open", GTK_RESPONSE_ACCEPT, nullptr);
  GtkFileChooser* chooser = GTK_FILE_CHOOSER(dialog);
  g_signal_connect_after(dialog, "map", G_CALLBACK(FitOnScreen), nullptr);
  gtk_dialog_set_default_response(GTK_DIALOG(dialog), GTK_RESPONSE_ACCEPT);
  gtk_window_set_modal(GTK_WINDOW(dialog), TRUE);
  gtk_file_chooser_set_select_multiple(chooser, multiple);
  gtk_file_chooser_set_local_only(chooser, TRUE);
  gtk_file_chooser_set_current_folder(chooser, StartingFolder(directory).c_str());
  if (!file.empty()) gtk_file_chooser_set_filename(chooser, (StartingFolder(directory) + "/" + file).c_str());

  if (!types.empty()) {
    GtkFileFilter* filter = gtk_file_filter_new();
    std::string name = "Pictures (";
    std::vector<std::string> shown;
    for (const std::string& type : types) {
      gtk_file_filter_add_pattern(filter, ("*." + type).c_str());
      gchar* lower = g_ascii_strdown(type.c_str(), -1);
      bool seen = false;
      for (const std::string& s : shown) seen = seen || s == lower;
      if (!seen) shown.push_back(lower);
      g_free(lower);
    }
    for (size_t i = 0; i < shown.size(); ++i) name += (i ? ", *." : "*.") + shown[i];
    name += ")";
    gtk_file_filter_set_name(filter, name.c_str());
    gtk_file_chooser_add_filter(chooser, filter);  // the chooser takes the filter
  }

  int response = gtk_dialog_run(GTK_DIALOG(dialog));
  if (response == GTK_RESPONSE_ACCEPT) {
    GSList* names = gtk_file_chooser_get_filenames(chooser);
    for (GSList* n = names; n; n = n->next) {
      chosen.push_back(static_cast<const char*>(n->data));
      g_free(n->data);
    }
    g_slist_free(names);
  }
  gtk_widget_destroy(dialog);
  for (int i = 0; i < 1000 && g_main_context_iteration(nullptr, FALSE); ++i) {
  }
  return response == GTK_RESPONSE_ACCEPT && !chosen.empty() ? NSOKButton : NSCancelButton;
}
