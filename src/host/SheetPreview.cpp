// SheetPreview: the sheet's live preview, a preview view drawn off screen and
// shown in the sheet's pane.

#include "host/SheetPreview.h"

#include "host/GlymmerView.h"
#include "platform/Clock.h"
#include "platform/OpenGLView.h"
#include "platform/gtk/PreviewPane.h"
#include "platform/gtk/SheetLayout.h"

#include <cstring>
#include <new>

namespace {

// The settings that change what the preview shows (the main-monitor box
// does not: the preview is always drawn).
bool SameLook(const SETTINGS& a, const SETTINGS& b) {
  return a.SHOWCAPTION == b.SHOWCAPTION && a.PICDELAY == b.PICDELAY && a.PIC_SIZE == b.PIC_SIZE &&
         a.CHARSIZE == b.CHARSIZE && a.CHARTYPE == b.CHARTYPE && a.MLFIRST == b.MLFIRST &&
         a.WHOLELIBRARY == b.WHOLELIBRARY &&
         std::strncmp(a.PicPath, b.PicPath, sizeof a.PicPath) == 0;
}

}  // namespace

SheetPreview::SheetPreview()
    : owner(nullptr),
      pane(nullptr),
      view(nullptr),
      changePending(false),
      setupTime(0),
      nextFrameTime(0),
      framesRead(0),
      setups(0) {}

SheetPreview::~SheetPreview() { Cleanup(); }

bool SheetPreview::Setup(GlymmerView* sheetOwner) {
  Cleanup();
  NSPanel* sheet = sheetOwner ? sheetOwner->configureSheetWindow : nullptr;
  pane = sheet ? sheet->PreviewPaneNamed("preview") : nullptr;
  if (!pane) return false;
  owner = sheetOwner;
  pane->SetFrameHandler([this](int width, int height) { Frame(width, height); });
  return true;
}

void SheetPreview::Cleanup() {
  if (pane) pane->SetFrameHandler(PreviewPane::FrameHandler());
  pane = nullptr;
  owner = nullptr;
  delete view;  // cleans its scene up with its own context current
  view = nullptr;
  changePending = false;
  nextFrameTime = 0;
  framesRead = 0;
  setups = 0;
}

bool SheetPreview::MakeView(int width, int height) {
  bool mainMonitorOnly;
  view = new (std::nothrow) GlymmerView;
  if (view && view->initWithFrame(NSMakeRect(0, 0, width, height), true) &&
      owner->SheetValues(&shown, &mainMonitorOnly, false)) {
    view->SetWindow(&window);
    view->setFrameSize(NSMakeSize(width, height));
    view->MainMonitorOnly = false;
    view->mySettings = shown;
    AddFolderSeparator(view->mySettings.PicPath);
    view->startAnimation();
    // Without a context nothing can be shown, and the failure has been said
    // once: stop asking rather than try at every frame.
    if (view->glView->openGLContext()->makeCurrentContext()) {
      setupTime = CFAbsoluteTimeGetCurrent();
      setups = 1;
      return true;
    }
  }
  pane->SetFrameHandler(PreviewPane::FrameHandler());
  delete view;
  view = nullptr;
  return false;
}

void SheetPreview::Frame(int width, int height) {
  if (width < 1 || height < 1) return;
  if (!view && !MakeView(width, height)) return;
  NSRect b = view->bounds();
  if (static_cast<int>(b.size.width) != width || static_cast<int>(b.size.height) != height)
    view->setFrameSize(NSMakeSize(width, height));

  // Polled at each frame, which costs a few reads of the controls: every
  // way a control changes (a person, Defaults, the folder chooser) is seen.
  SETTINGS now = shown;
  bool mainMonitorOnly;
  if (owner->SheetValues(&now, &mainMonitorOnly, false) && !SameLook(now, shown)) {
    shown = now;
    changePending = true;
  }
  double time = CFAbsoluteTimeGetCurrent();
  bool setUpNow = changePending && time - setupTime >= kSetupSpacing;
  if (!setUpNow && time < nextFrameTime) return;
  double cpu = ProcessCPUSeconds();
  if (setUpNow) {
    // The view sets the scene up again at its next tick, as at its first.
    view->mySettings = shown;
    AddFolderSeparator(view->mySettings.PicPath);
    view->initialized = false;
    changePending = false;
    setupTime = time;
    ++setups;
  }

  view->animateOneFrame();
  if (view->glView->PresentedFrames() != framesRead) {
    framesRead = view->glView->PresentedFrames();
    int w = 0, h = 0;
    if (view->glView->ReadPixels(rgba, &w, &h)) pane->ShowFrame(rgba.data(), w, h);
  }
  double gap = (ProcessCPUSeconds() - cpu) / kCPUShare;
  nextFrameTime = time + (gap < kLongestGap ? gap : kLongestGap);
}
