// Worker: a thread of its own for one job at a time, so that slow work
// (decoding a picture) stays off the thread that animates, at a lower
// priority than it. Only the owner's thread calls these operations.
#pragma once

#include <atomic>
#include <functional>
#include <thread>

class Worker {
public:
  // The job, given a flag that turns true when the owner wants it to end
  // early; it should then return soon.
  using Job = std::function<void(const std::atomic<bool>& stop)>;

  Worker() = default;  // no thread yet
  ~Worker();           // Stop()
  Worker(const Worker&) = delete;
  Worker& operator=(const Worker&) = delete;

  // Runs `job` on a new thread. When no thread can be had, it runs here and
  // has finished on return. False, with nothing started, while an earlier job
  // has not been waited for or stopped.
  bool Start(Job job);
  // A job was started and has not been waited for or stopped.
  bool Busy() const { return busy; }
  // The started job has returned: Wait returns at once. Everything the job
  // wrote is visible to the owner once this has returned true.
  bool Finished() const;
  // Returns when the job has returned; afterwards the worker is not busy.
  void Wait();
  // Asks the job to end early, then waits for it.
  void Stop();

private:
  void Run();  // the job, then the news that it returned

  Job current;
  std::thread thread;
  std::atomic<bool> stopping{false};
  std::atomic<bool> done{false};
  bool busy = false;
};
