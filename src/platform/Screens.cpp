// Screens: the process's list of screens.

#include "platform/Screens.h"

#include "platform/x11/X11Display.h"

#include <cmath>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

// Screens are held one by one so that SetScreens can keep the address of
// each screen that stays.
struct ScreenList {
  std::vector<std::unique_ptr<Screen>> screens;
  int main = 0;
  ScreenList() { Fill(1, 0, 1920, 1080); }
  void Fill(int count, int mainIndex, double width, double height) {
    screens.clear();
    for (int i = 0; i < count; ++i) {
      std::unique_ptr<Screen> s(new Screen);
      s->number = i + 1;
      s->x = width * i;
      s->y = 0;
      s->width = width;
      s->height = height;
      screens.push_back(std::move(s));
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
  return list.screens[static_cast<size_t>(list.main)].get();
}

int ScreenCount() { return static_cast<int>(List().screens.size()); }

const Screen* ScreenAt(int index) {
  ScreenList& list = List();
  if (index < 0 || static_cast<size_t>(index) >= list.screens.size()) return nullptr;
  return list.screens[static_cast<size_t>(index)].get();
}

bool SetVirtualScreens(int count, int mainIndex, double width, double height) {
  if (count < 1 || count > 64 || mainIndex < 0 || mainIndex >= count) return false;
  if (!(width > 0) || !(height > 0) || !std::isfinite(width) || !std::isfinite(height))
    return false;
  List().Fill(count, mainIndex, width, height);
  return true;
}

bool SetScreens(const std::vector<Screen>& screens, int mainIndex) {
  if (screens.empty() || screens.size() > 64 || mainIndex < 0 ||
      static_cast<size_t>(mainIndex) >= screens.size())
    return false;
  for (size_t i = 0; i < screens.size(); ++i)
    for (size_t j = 0; j < i; ++j)
      if (screens[i].number == screens[j].number) return false;
  ScreenList& list = List();
  std::vector<std::unique_ptr<Screen>> kept;
  for (const Screen& wanted : screens) {
    std::unique_ptr<Screen> s;
    for (auto& old : list.screens)
      if (old && old->number == wanted.number) s = std::move(old);
    if (!s) s.reset(new Screen);
    *s = wanted;
    kept.push_back(std::move(s));
  }
  list.screens = std::move(kept);
  list.main = mainIndex;
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
    std::snprintf(s.name, sizeof s.name, "%s", m.name.c_str());
    if (m.primary && mainIndex < 0) mainIndex = static_cast<int>(screens.size());
    screens.push_back(s);
  }
  return SetScreens(screens, mainIndex < 0 ? 0 : mainIndex);
}

const Screen* ScreenAtPoint(double x, double y) {
  for (const auto& s : List().screens)
    if (x >= s->x && x < s->x + s->width && y >= s->y && y < s->y + s->height) return s.get();
  return nullptr;
}

void ResetScreens() { List().Fill(1, 0, 1920, 1080); }
