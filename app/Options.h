// Options: the glymmer command line.
//
// Every option has a single- and a double-dash spelling (-root and --root,
// --size and -size), as screen-saver daemons and people both write them.
#pragma once

#include "host/SettingOverrides.h"
#include "platform/DisplaySystem.h"

#include <string>
#include <vector>

enum class RunMode { Default, Render, Window, FullScreen, Saver, Preview, Hack, Configure, Idle };

// An X geometry: [WxH][{+-}X{+-}Y]; a minus offset counts from the right or
// bottom edge.
struct Geometry {
  bool hasSize = false;
  int width = 0, height = 0;
  bool hasPosition = false;
  int x = 0, y = 0;
  bool xFromRight = false, yFromBottom = false;
};

struct Options {
  RunMode mode = RunMode::Default;
  bool preview = false;       // the view gets the preview flag
  int width = 1920;           // --size, headless render
  int height = 1080;
  bool sizeGiven = false;     // --size was given (window modes default otherwise)
  double fps = 30;            // --fps N: virtual frames per second
  double seconds = 10;        // --seconds: length of the render
  bool secondsGiven = false;  // on screen: end after --seconds
  int every = 0;              // --every K: write every K-th frame (0: not given)
  std::vector<double> at;     // --at T,T,...: write the frames at these times
  std::string output = ".";   // --output DIR
  bool seedGiven = false;
  double seed = 0;            // --seed N: the virtual clock starts at N seconds
  bool quiet = false;         // --quiet: no progress lines
  bool verbose = false;       // --verbose: lines about views, set-ups and frame rates
  bool showFps = false;       // --fps without a number: draw the frame rate
  Geometry geometry;          // --geometry: the window's size and place
  bool root = false;          // --root: the daemon's window or the root window
  bool windowIdGiven = false;
  unsigned long windowId = 0; // --window-id ID: draw into this window
  bool backendGiven = false;  // --backend x11|wayland
  DisplayBackend backend = DisplayBackend::kX11;
  std::string mainOutput;     // --main-output NAME: the output that counts as main
  bool detach = false;        // --detach: go on in the background once the views are up
  int shownFd = -1;           // --shown-fd FD: told once every view shows its first frame
  int afterSeconds = 0;       // --after S: the idle watcher's delay for this run
  bool afterGiven = false;
  // The command line without the words that choose a mode, --detach and
  // --after: what the idle watcher passes on to the saver it starts.
  std::vector<std::string> saverArguments;
  SettingOverrides overrides; // the setting options (--glyphs, --folder, ...)
  bool settingsGiven = false; // at least one of them was given
  std::vector<std::string> warnings;  // problems passed over in the hack mode
  bool showHelp = false;
  bool showVersion = false;
};

// Parses argv. On a bad option or value returns false with a one-line
// message in *error (no trailing newline). In the hack mode (--root or
// --window-id anywhere on the line) nothing is refused: the daemon may pass
// options of its own, so each problem is added to options->warnings instead.
bool ParseOptions(int argc, char** argv, Options* options, std::string* error);

// Parses an X window id as daemons and people write it: hexadecimal with
// "0x", decimal, or bare hexadecimal digits. False for anything else, 0,
// and ids beyond 32 bits.
bool ParseWindowId(const std::string& text, unsigned long* id);

// Parses an X geometry string. False when it is malformed or a size is not
// 1 to 16384.
bool ParseGeometry(const std::string& text, Geometry* geometry);

// The --help text.
std::string UsageText();
