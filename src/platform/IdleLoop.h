// IdleLoop: the idle watcher's one wait. The idle source's connection, the
// stop signals, the saver child's end and the session lock all arrive through
// the thread's default GLib main context, so the watcher sleeps in one poll
// and wakes for nothing else.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

// fork(), with every signal held back across it: in the child, every signal's
// action is back to its default before the caller's mask returns, so that a
// stop signal sent before the child's exec ends the child, where a handler
// of the parent's (GLib's, which only notes the signal for the parent's
// loop) would have swallowed it. As fork(): the child's 0, the child's id, or
// -1 with errno set.
int ForkWithDefaultSignals();

class IdleLoop {
public:
  IdleLoop();
  ~IdleLoop();
  IdleLoop(const IdleLoop&) = delete;
  IdleLoop& operator=(const IdleLoop&) = delete;

  // From now on SIGTERM and SIGINT call `stop` (with the signal) from the
  // loop instead of ending the process.
  void WatchStopSignals(std::function<void(int)> stop);

  // Starts the program `argv[0]` with `argv` as a child that is sent SIGTERM
  // when this process ends, however it ends (kill -9 included). `ended` is
  // called from the loop with the child's wait status (as waitpid gives it).
  // The child's process id, or -1 (said on stderr) when it could not start.
  // `keepFd`, unless -1, stays open in the child (and only there: it is
  // close-on-exec here).
  int StartChild(const std::vector<std::string>& argv, std::function<void(int)> ended,
                 int keepFd = -1);

  // Calls `due` once from the loop, `ms` from now. Returns an id for Cancel.
  unsigned After(unsigned ms, std::function<void()> due);
  // Calls `due` once from the loop, when `fd` can be read (or is at its
  // end). Returns an id for Cancel; the fd stays the caller's.
  unsigned WhenReadable(int fd, std::function<void()> due);
  // Drops a call of After or WhenReadable not yet made.
  void Cancel(unsigned id);

  // Waits and dispatches until Quit.
  void Run();
  void Quit();

private:
  struct Impl;
  std::unique_ptr<Impl> impl;
};
