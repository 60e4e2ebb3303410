// Options: the glymmer command line.
#pragma once

#include <string>
#include <vector>

enum class RunMode { Default, Render, Window, FullScreen, Preview, Hack, Configure };

struct Options {
  RunMode mode = RunMode::Default;
  bool preview = false;       // the view gets the preview flag
  int width = 1920;           // --size, headless render
  int height = 1080;
  double fps = 30;            // --fps: virtual frames per second
  double seconds = 10;        // --seconds: length of the render
  int every = 0;              // --every K: write every K-th frame (0: not given)
  std::vector<double> at;     // --at T,T,...: write the frames at these times
  std::string output = ".";   // --output DIR
  bool seedGiven = false;
  double seed = 0;            // --seed N: the virtual clock starts at N seconds
  bool quiet = false;         // --quiet: no progress lines
  bool showHelp = false;
  bool showVersion = false;
};

// Parses argv. On a bad option or value returns false with a one-line
// message in *error (no trailing newline).
bool ParseOptions(int argc, char** argv, Options* options, std::string* error);

// The --help text.
const char* UsageText();
