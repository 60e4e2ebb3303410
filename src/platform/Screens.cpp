// Screens: the process's list of screens.

#include "platform/Screens.h"

#include "platform/X11Display.h"

#include <cmath>
#include <vector>

namespace {

struct ScreenList {
  std::vector<Screen> screens;
  int main = 0;
  ScreenList() { Fill(1, 0, 1920, 1080); }
  void Fill(int count, int mainIndex, double width, double height) {
    screens.assign(static_cast<size_t>(count), Screen());
    for (int i = 0; i < count; ++i) {
      Screen& s = screens[static_cast<size_t>(i)];
      s.number = i + 1;
      s.x = width * i;
      s.y = 0;
      s.width = width;
      s.height = height;
    }
    main = mainIndex;
  }
};

ScreenList& List() {
  static ScreenList list;
  return list;
}

}  // namespace

const Screen* mainScreen() {
  ScreenList& list = List();
  return &list.screens[static_cast<size_t>(list.main)];
}

int ScreenCount() { return static_cast<int>(List().screens.size()); }

const Screen* ScreenAt(int index) {
  ScreenList& list = List();
  if (index < 0 || static_cast<size_t>(index) >= list.screens.size()) return nullptr;
  return &list.screens[static_cast<size_t>(index)];
}

bool SetVirtualScreens(int count, int mainIndex, double width, double height) {
  if (count < 1 || count > 64 || mainIndex < 0 || mainIndex >= count) return false;
  if (!(width > 0) || !(height > 0) || !std::isfinite(width) || !std::isfinite(height))
    return false;
  List().Fill(count, mainIndex, width, height);
  return true;
}

bool LoadMonitorScreens(void* xDisplay) {
  std::vector<MonitorRect> monitors;
  if (!QueryMonitors(xDisplay, &monitors) || monitors.empty()) return false;
  std::vector<Screen> screens;
  int mainIndex = -1;
  for (const MonitorRect& m : monitors) {
    if (screens.size() >= 64) break;
    Screen s;
    s.number = static_cast<int32_t>(screens.size()) + 1;
    s.x = m.x;
    s.y = m.y;
    s.width = m.width;
    s.height = m.height;
    if (m.primary && mainIndex < 0) mainIndex = static_cast<int>(screens.size());
    screens.push_back(s);
  }
  ScreenList& list = List();
  list.screens = screens;
  list.main = mainIndex < 0 ? 0 : mainIndex;
  return true;
}

const Screen* ScreenAtPoint(double x, double y) {
  for (const Screen& s : List().screens)
    if (x >= s.x && x < s.x + s.width && y >= s.y && y < s.y + s.height) return &s;
  return nullptr;
}

void ResetScreens() { List().Fill(1, 0, 1920, 1080); }
