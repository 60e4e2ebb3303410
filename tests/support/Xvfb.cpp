#include "support/Xvfb.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

Xvfb::~Xvfb() { Stop(); }

bool Xvfb::Start(int width, int height) {
  Stop();
  int fds[2];
  if (pipe(fds) != 0) return false;
  std::string geometry = std::to_string(width) + "x" + std::to_string(height) + "x24";
  std::string fd = std::to_string(fds[1]);
  pid = fork();
  if (pid < 0) return false;
  if (pid == 0) {
    close(fds[0]);
    int null = open("/dev/null", O_WRONLY);
    if (null >= 0) {
      dup2(null, 1);
      dup2(null, 2);
    }
    execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", geometry.c_str(),
           "-nolisten", "tcp", "+extension", "GLX", "+extension", "RANDR", "-noreset",
           static_cast<char*>(nullptr));
    _exit(127);
  }
  close(fds[1]);
  // Xvfb writes the display number once it accepts connections.
  std::string number;
  pollfd p{fds[0], POLLIN, 0};
  while (poll(&p, 1, 20000) > 0) {
    char c;
    ssize_t n = read(fds[0], &c, 1);
    if (n <= 0 || c == '\n') break;
    number += c;
  }
  close(fds[0]);
  if (number.empty()) {
    Stop();
    return false;
  }
  display = ":" + number;
  return true;
}

void Xvfb::Stop() {
  if (pid > 0) {
    kill(pid, SIGTERM);
    int status;
    waitpid(pid, &status, 0);
  }
  pid = -1;
  display.clear();
}

void Xvfb::Export() const { setenv("DISPLAY", display.c_str(), 1); }
