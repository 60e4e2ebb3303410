// Program: runs another program (glymmer, an X tool) for a test, with its
// output in a file, and ends it however the test wants.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

class Program {
public:
  Program() = default;
  ~Program();  // kills a program still running and reaps it
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;

  // Starts argv[0] (searched in PATH) with the environment of this process
  // changed by `env` ("NAME=VALUE" sets, "NAME=" with nothing after the sign
  // removes); standard output and error go to the file `log`. False when it
  // cannot be started.
  bool Start(const std::vector<std::string>& argv, const std::vector<std::string>& env,
             const std::string& log);

  bool Running();             // still running (not yet reaped)
  void Signal(int signal);    // sends a signal if it is running
  // Waits up to `seconds` for it to end. True when it ended; *status is its
  // exit status, or 128 + the signal that ended it.
  bool Wait(double seconds, int* status);

private:
  pid_t pid = -1;
  int exitStatus = -1;
};

// Waits up to `seconds` for the file to contain `text`; true when it does.
bool WaitForText(const std::string& path, const std::string& text, double seconds);

// Runs a shell command with DISPLAY set to `display`; its exit status.
int RunOnDisplay(const std::string& display, const std::string& command);
