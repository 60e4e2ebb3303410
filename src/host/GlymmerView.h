// GlymmerView: the screen-saver view the engine drives, one per screen and
// one for the preview. It owns an OpenGL child view and, from its first tick,
// one scene controller; it paces frames to at most 60 a second and applies
// the main-monitor-only rule.
#pragma once

#include "host/Settings.h"
#include "platform/ScreenSaverView.h"

#include <string>

class NSButton;
class NSControl;
class NSOpenGLView;
class NSPanel;
class NSPopUpButton;
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
  double stepLead;        // where the step clock stands, seconds after animtime
                          // (negative: before it)
  NSRect Scrn;            // the view's size (origin stays 0)
  // Seconds between the refreshes of the display that shows the view, as
  // its owner learns them; 0 while unknown. On a display faster than the
  // steps (over 60 Hz), every tick draws a frame between the last two
  // steps (see animateOneFrame).
  double refreshInterval;
  bool refreshPaced;      // ticks come at the display's refreshes (its frame requests, or
                          // swaps that wait for the refresh); otherwise the view's own
                          // clock times them, and a frame shows as it is drawn
  double refreshSeen;     // between steps: the time between refreshes, as the ticks keep it
  double presentAt;       // between steps: when the last tick's frame is shown; 0 none yet
  double tickedAt;        // between steps: the last tick's clock reading
  double stepLength;      // between steps: seconds the last step took the scene on
  SSMAIN* ssMain;         // the scene controller, owned; null until the first tick

  // The configuration sheet's outlets, set when its layout "GlymmerSS" is
  // first loaded; null before. The window is the layout's "configureSheet"
  // (named apart here, as the operation configureSheet() takes that name);
  // the view owns it, and it owns the controls.
  NSPanel* configureSheetWindow;
  NSButton* oMainMonitorOnly;   // check box
  NSButton* oShowCaption;       // check box
  NSControl* oPicSize;          // glyphs
  NSControl* oCharSize;         // hundredths of a scene unit
  NSPopUpButton* oCharType;     // letter case, item index = CHARTYPE
  NSControl* oPicDelay;         // seconds
  NSButton* oMLFirst;           // check box
  NSButton* oPicPath;           // button whose title is the picture folder
  NSButton* oWholeLibrary;      // check box: sub-folders and every photo format

  GlymmerView();   // every member zeroed
  ~GlymmerView();  // cleans the scene up with the view's context current

  // Creation: the OpenGL child view, the settings (reset when their version is
  // not "1.0", then the process's SettingOverrides applied), ticks every
  // 1/60 s. Null when the base view refuses the frame.
  GlymmerView* initWithFrame(NSRect frame, bool isPreview);

  // Decides whether this screen animates and clears it to opaque black.
  void startAnimation();
  // Stops the ticks; the scene and all state stay.
  void stopAnimation();
  // One tick: the first sets OpenGL and the scene up; later ones step and draw
  // the scene by the time passed since the last step when the step clock's
  // next tick has come, give or take 2 ms, and at most 2 s have passed; after
  // longer only the clock is reset. The step clock ticks every 1/60 s, so
  // ticks that follow a display give one step each up to 60 a second and
  // never more on faster displays.
  // Where refreshes come faster than steps (refreshInterval under 0.9 of a
  // step), every tick draws a frame, and the scene steps by whole steps of
  // exactly 1/60 s as they come due (several late ones as one), never by
  // the refresh: each frame shows the scene as it was one step before the
  // time the frame is shown, between the last two steps. The time a frame
  // is shown is the tick's on the grid of refreshes, so that a late tick
  // does not shake the motion.
  void animateOneFrame();
  // Whether ticks draw between steps now.
  bool DrawsBetweenSteps() const;
  // When the step clock's next tick comes (a clock reading): the time a tick
  // from a timer of the engine's own should aim at.
  double nextStepTime() const;
  // The child view follows, and the next tick sets OpenGL up for the new size.
  void setFrameSize(NSSize size);

  bool hasConfigureSheet() const { return true; }

  // The sheet window with its controls showing the view's in-memory settings
  // (not the store's); the layout is loaded on the first call only. Null when
  // the layout cannot be loaded (no display, a missing or broken layout).
  // The view owns the window; the host shows it and waits for it to end.
  NSPanel* configureSheet();
  // Actions of the sheet's controls; each ignores its sender, and each does
  // nothing while no sheet is loaded.
  // Save: the controls' values into the settings and the store (every key
  // but "version"), and the whole library into the store "glymmer", both
  // synchronized; ends the sheet. A running scene keeps its
  // old values. A store that cannot be written raises an "ERROR" alert.
  void configureSheet_save(void* sender);
  // Ends the sheet; nothing is read or stored.
  void configureSheet_cancel(void* sender);
  // Default values into the controls; the default picture folder also into
  // mySettings.PicPath at once. Nothing is stored.
  void configureSheet_defaults(void* sender);
  // Lets the person choose the picture folder; a chosen folder goes into
  // mySettings.PicPath (without a trailing "/") and the folder button's title.
  void configureSheet_directory(void* sender);
  // Opens Glymmer's documentation with the desktop's handler.
  void configureSheet_openwebsite(void* sender);
  // Sent by controls as they change; calls configureSheet_updatestates.
  void configureSheet_update(void* sender);
  // Brings dependent controls up to date; none depend on others.
  void configureSheet_updatestates();
  // The settings the sheet's controls show, as Save takes them: every field
  // the controls edit into *settings, the picture folder from the sheet's
  // working copy (mySettings.PicPath, without its final "/" once chosen),
  // and the main-monitor box into *mainMonitorOnly. With `typed` a number
  // typed and not yet confirmed counts, as a person's last edit before Save;
  // without, it is left being typed. False, changing nothing, while no sheet
  // is loaded.
  bool SheetValues(SETTINGS* settings, bool* mainMonitorOnly, bool typed);
  // The address configureSheet_openwebsite opens.
  static std::string WebsiteAddress();
  // The host may fade the display as the module starts and stops.
  static bool performGammaFade() { return true; }

  // Internal steps of a tick, called with the view's context current.
  bool mainSetup();
  void TickBetweenSteps(double now);
  void glInit();
  void glReshape();
  // Destroys the sheet window and its controls; the outlets become null.
  void ReleaseConfigureSheet();
};
