// ScreenSaverView: the host's base view.

#include "platform/ScreenSaverView.h"

#include "platform/OpenGLView.h"
#include "platform/Screens.h"
#include "platform/x11/X11Display.h"

#include <cmath>

const Screen* NSWindow::screen() const {
  // A window on an X server is on the monitor that holds its centre, where
  // ever it has been moved to.
  double x = 0, y = 0;
  if (!IsWayland() && nativeDisplay && nativeWindow &&
      NativeWindowCentre(nativeDisplay, nativeWindow, &x, &y)) {
    if (const Screen* s = ScreenAtPoint(x, y)) return s;
  }
  return screenOfWindow ? screenOfWindow : mainScreen();
}

ScreenSaverView::ScreenSaverView() = default;

ScreenSaverView::~ScreenSaverView() = default;

ScreenSaverView* ScreenSaverView::initWithFrame(NSRect newFrame, bool isPreview) {
  if (!std::isfinite(newFrame.size.width) || !std::isfinite(newFrame.size.height) ||
      newFrame.size.width < 0 || newFrame.size.height < 0)
    return nullptr;
  frame = newFrame;
  preview = isPreview;
  return this;
}

void ScreenSaverView::startAnimation() { animating = true; }
void ScreenSaverView::stopAnimation() { animating = false; }

void ScreenSaverView::setAnimationTimeInterval(double seconds) { interval = seconds; }

NSRect ScreenSaverView::bounds() const {
  return NSMakeRect(0, 0, frame.size.width, frame.size.height);
}

void ScreenSaverView::addSubview(NSOpenGLView* view) {
  if (!view) return;
  view->SetSuperview(this);
  children.emplace_back(view);
}

void ScreenSaverView::setFrameSize(NSSize size) { frame.size = size; }
