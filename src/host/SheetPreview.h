// SheetPreview: the configuration sheet's live preview, as the host's
// settings window shows a module's: a view of its own with the preview flag,
// drawn off screen into the sheet's preview pane at the display's pace, on
// the settings the sheet's controls show before they are saved, and set up
// again as they change.
#pragma once

#include "host/Settings.h"
#include "platform/ScreenSaverView.h"

#include <cstdint>
#include <vector>

class GlymmerView;
class NSPanel;
class PreviewPane;

class SheetPreview {
public:
  // A change is taken this long at most after the last set-up, so that a
  // number held on its arrow sets the scene up a few times a second, not at
  // every step.
  static constexpr double kSetupSpacing = 0.25;
  // The share of one core the preview takes at most: after a frame that
  // cost the process c seconds of CPU time the next comes no sooner than
  // c / kCPUShare later (and never more than kLongestGap), so a software
  // renderer draws fewer frames a second, and a GPU one at each refresh.
  static constexpr double kCPUShare = 0.25;
  static constexpr double kLongestGap = 0.5;

  SheetPreview();   // nothing owned; allocates nothing
  ~SheetPreview();  // Cleanup()
  SheetPreview(const SheetPreview&) = delete;
  SheetPreview& operator=(const SheetPreview&) = delete;

  // Shows in the pane "preview" of `owner`'s loaded sheet what the sheet's
  // controls show. The preview's view and its OpenGL context are made at
  // the first frame the pane is on screen for, never before. False when the
  // sheet has no such pane (nothing is then shown).
  bool Setup(GlymmerView* owner);
  // Stops asking for frames and destroys the preview's view, with its
  // context current; call it before the owner's sheet goes. Safe to repeat.
  void Cleanup();

  // The preview's view, null before its first frame; for tests.
  GlymmerView* View() const { return view; }
  PreviewPane* Pane() const { return pane; }
  // Set-ups of the scene so far, the first included.
  int SetupCount() const { return setups; }

private:
  void Frame(int width, int height);
  bool MakeView(int width, int height);

  GlymmerView* owner;
  PreviewPane* pane;
  GlymmerView* view;      // owned
  NSWindow window;        // headless: the view draws into a pbuffer
  SETTINGS shown;         // what the scene was last set up with, folder as the sheet has it
  bool changePending;     // the controls differ from `shown`
  double setupTime;       // clock reading of the last set-up
  double nextFrameTime;   // clock reading before which no frame is drawn
  uint64_t framesRead;    // the view's frames presented and read so far
  int setups;
  std::vector<unsigned char> rgba;
};
