// Xvfb: a private X server for tests that need a display.
#pragma once

#include <string>
#include <sys/types.h>

class Xvfb {
public:
  Xvfb() = default;
  ~Xvfb();  // stops the server
  Xvfb(const Xvfb&) = delete;
  Xvfb& operator=(const Xvfb&) = delete;

  // Starts Xvfb with one screen of width x height at 24 bits, RANDR and GLX
  // on, listening on a fresh display number. False when Xvfb cannot start.
  bool Start(int width = 1280, int height = 720);
  void Stop();

  // ":N", for DISPLAY; empty when not running.
  const std::string& Display() const { return display; }
  // Sets DISPLAY in this process to the server.
  void Export() const;

private:
  pid_t pid = -1;
  std::string display;
};
