// GlymmerView: the screen-saver view the engine drives, one per screen and
// one for the preview. It owns an OpenGL child view and, from its first tick,
// one scene controller; it paces frames to at most 60 a second and applies
// the main-monitor-only rule.
#pragma once

#include "host/Settings.h"
#include "platform/ScreenSaverView.h"

class NSOpenGLView;
class SSMAIN;

class GlymmerView : public ScreenSaverView {
public:
  bool MainMonitorOnly;   // setting: animate only on the main screen
  bool ThisScreenIsOn;    // false when the rule excludes this view's screen
  NSOpenGLView* glView;   // the OpenGL child view, owned by the view hierarchy
  bool viewAllocated;     // the child view exists
  bool glReady;           // viewport and projection set up for the current size
  bool initialized;       // the scene controller has been set up (or tried)
  SETTINGS mySettings;    // the user's settings
  double animtime;        // clock reading of the last step, set-up or reset
  NSRect Scrn;            // the view's size (origin stays 0)
  SSMAIN* ssMain;         // the scene controller, owned; null until the first tick

  GlymmerView();   // every member zeroed
  ~GlymmerView();  // cleans the scene up with the view's context current

  // Creation: the OpenGL child view, the settings (reset when their version is
  // not "1.0"), ticks every 1/60 s. Null when the base view refuses the frame.
  GlymmerView* initWithFrame(NSRect frame, bool isPreview);

  // Decides whether this screen animates and clears it to opaque black.
  void startAnimation();
  // Stops the ticks; the scene and all state stay.
  void stopAnimation();
  // One tick: the first sets OpenGL and the scene up; later ones step and draw
  // the scene when more than 1/60 s and at most 2 s have passed.
  void animateOneFrame();
  // The child view follows, and the next tick sets OpenGL up for the new size.
  void setFrameSize(NSSize size);

  bool hasConfigureSheet() const { return true; }
  // The host may fade the display as the module starts and stops.
  static bool performGammaFade() { return true; }

  // Internal steps of a tick, called with the view's context current.
  bool mainSetup();
  void glInit();
  void glReshape();
};
