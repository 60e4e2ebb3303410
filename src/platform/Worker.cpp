// Worker: one job at a time on a thread of its own.

#include "platform/Worker.h"

#include <system_error>

Worker::~Worker() { Stop(); }

bool Worker::Start(Job job) {
  if (busy) return false;
  stopping.store(false);
  done.store(false);
  busy = true;
  current = std::move(job);
  try {
    thread = std::thread([this] { Run(); });
  } catch (const std::system_error&) {
    // No thread to be had (resources are short): the work still gets done,
    // only not off this thread.
    Run();
  }
  return true;
}

void Worker::Run() {
  current(stopping);
  done.store(true, std::memory_order_release);
}

bool Worker::Finished() const { return busy && done.load(std::memory_order_acquire); }

void Worker::Wait() {
  if (thread.joinable()) thread.join();
  current = nullptr;
  busy = false;
}

void Worker::Stop() {
  stopping.store(true);
  Wait();
}
