// Worker: one job at a time on a thread of its own.

#include "platform/Worker.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <system_error>

namespace {

// Niceness of a worker's thread: when the processors are busy, the thread
// that animates (and the renderer's) get most of the time, the job what is
// left, so a frame is never late for a decode.
constexpr int kWorkerNice = 10;

}  // namespace

Worker::~Worker() { Stop(); }

bool Worker::Start(Job job) {
  if (busy) return false;
  stopping.store(false);
  done.store(false);
  busy = true;
  current = std::move(job);
  try {
    thread = std::thread([this] {
      setpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)), kWorkerNice);
      Run();
    });
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
