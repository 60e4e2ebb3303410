// Screens: the process's list of screens.

#include "platform/Screens.h"

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

void ResetScreens() { List().Fill(1, 0, 1920, 1080); }
