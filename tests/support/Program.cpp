#include "support/Program.h"

#include "support/TestSupport.h"

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

namespace {

void Nap(double seconds) {
  timespec t;
  t.tv_sec = static_cast<time_t>(seconds);
  t.tv_nsec = static_cast<long>((seconds - static_cast<double>(t.tv_sec)) * 1e9);
  nanosleep(&t, nullptr);
}

double Now() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

}  // namespace

Program::~Program() {
  if (Running()) {
    kill(pid, SIGKILL);
    int status;
    waitpid(pid, &status, 0);
  }
}

bool Program::Start(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                    const std::string& log) {
  if (argv.empty() || Running()) return false;
  pid = fork();
  if (pid < 0) return false;
  if (pid == 0) {
    int out = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out >= 0) {
      dup2(out, 1);
      dup2(out, 2);
    }
    for (const std::string& e : env) {
      size_t eq = e.find('=');
      std::string name = e.substr(0, eq);
      if (eq == std::string::npos || eq + 1 == e.size())
        unsetenv(name.c_str());
      else
        setenv(name.c_str(), e.c_str() + eq + 1, 1);
    }
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
  }
  exitStatus = -1;
  return true;
}

bool Program::Running() {
  if (pid <= 0) return false;
  int status = 0;
  pid_t r = waitpid(pid, &status, WNOHANG);
  if (r == 0) return true;
  if (r == pid) exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  pid = -1;
  return false;
}

void Program::Signal(int signal) {
  if (Running()) kill(pid, signal);
}

bool Program::Wait(double seconds, int* status) {
  double end = Now() + seconds;
  while (Running()) {
    if (Now() > end) return false;
    Nap(0.01);
  }
  if (status) *status = exitStatus;
  return true;
}

bool WaitForText(const std::string& path, const std::string& text, double seconds) {
  double end = Now() + seconds;
  for (;;) {
    if (ReadFileBytes(path).find(text) != std::string::npos) return true;
    if (Now() > end) return false;
    Nap(0.02);
  }
}

int RunOnDisplay(const std::string& display, const std::string& command) {
  std::string line = "DISPLAY=" + display + " " + command;
  int status = std::system(line.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
