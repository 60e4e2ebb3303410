// IdleLoop: GLib's default main context, its unix signal and child watches,
// and the saver child that must never outlive the watcher.

#include "platform/IdleLoop.h"

#include <fcntl.h>
#include <glib-unix.h>
#include <glib.h>
#include <pthread.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <map>

struct IdleLoop::Impl {
  GMainLoop* loop = nullptr;
  std::function<void(int)> stop;
  std::vector<guint> sources;  // removed on destruction
  // The callbacks of the children, timers and fd watches not yet called, by
  // source id.
  std::map<guint, std::function<void(int)>> children;
  std::map<guint, std::function<void()>> timers;

  struct Call {
    Impl* impl;
    guint id;
  };

  // Makes the call of `due`, once, from the GLib source that `add` makes
  // with a Call as its data (Fire calls, Delete frees it). Its id, for Cancel.
  template <typename Add>
  guint Once(std::function<void()> due, Add add) {
    Call* call = new Call{this, 0};
    guint id = add(call);
    call->id = id;
    timers[id] = std::move(due);
    return id;
  }
  static gboolean Fire(gpointer p) {
    Call* c = static_cast<Call*>(p);
    auto found = c->impl->timers.find(c->id);
    if (found != c->impl->timers.end()) {
      std::function<void()> due = std::move(found->second);
      c->impl->timers.erase(found);
      due();
    }
    return G_SOURCE_REMOVE;
  }
  static void Delete(gpointer p) { delete static_cast<Call*>(p); }
};

int ForkWithDefaultSignals() {
  sigset_t all, before;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &before);
  pid_t child = fork();
  int forkError = errno;
  if (child == 0) {
    struct sigaction standard;
    std::memset(&standard, 0, sizeof standard);
    standard.sa_handler = SIG_DFL;
    sigemptyset(&standard.sa_mask);
    // Those the C library keeps for itself refuse, which is harmless.
    for (int signal = 1; signal < NSIG; ++signal)
      if (signal != SIGKILL && signal != SIGSTOP) sigaction(signal, &standard, nullptr);
  }
  pthread_sigmask(SIG_SETMASK, &before, nullptr);
  errno = forkError;
  return child;
}

IdleLoop::IdleLoop() : impl(new Impl) { impl->loop = g_main_loop_new(nullptr, FALSE); }

IdleLoop::~IdleLoop() {
  for (guint id : impl->sources) g_source_remove(id);
  for (auto& child : impl->children) g_source_remove(child.first);
  for (auto& timer : impl->timers) g_source_remove(timer.first);
  g_main_loop_unref(impl->loop);
}

void IdleLoop::WatchStopSignals(std::function<void(int)> stop) {
  impl->stop = std::move(stop);
  for (int signal : {SIGTERM, SIGINT}) {
    struct Data {
      Impl* impl;
      int signal;
    };
    Data* data = new Data{impl.get(), signal};
    impl->sources.push_back(g_unix_signal_add_full(
        G_PRIORITY_DEFAULT, signal,
        [](gpointer p) -> gboolean {
          Data* d = static_cast<Data*>(p);
          if (d->impl->stop) d->impl->stop(d->signal);
          return G_SOURCE_CONTINUE;
        },
        data, [](gpointer p) { delete static_cast<Data*>(p); }));
  }
}

int IdleLoop::StartChild(const std::vector<std::string>& argv, std::function<void(int)> ended,
                         int keepFd) {
  // Everything the child needs is made before the fork: after it, only
  // async-signal-safe calls.
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t parent = getpid();
  sigset_t none;
  sigemptyset(&none);
  pid_t child = ForkWithDefaultSignals();
  if (child < 0) {
    std::fprintf(stderr, "glymmer: cannot start the saver: %s\n", std::strerror(errno));
    return -1;
  }
  if (child == 0) {
    // Ends with the watcher, even when the watcher is killed; if the watcher
    // is already gone, so is the reason to run.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent) _exit(1);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    if (keepFd >= 0) fcntl(keepFd, F_SETFD, 0);
    execv(args[0], args.data());
    const char message[] = "glymmer: cannot run the saver program\n";
    ssize_t written = write(STDERR_FILENO, message, sizeof message - 1);
    (void)written;
    _exit(127);
  }
  Impl::Call* call = new Impl::Call{impl.get(), 0};
  guint id = g_child_watch_add_full(
      G_PRIORITY_DEFAULT, child,
      [](GPid, gint status, gpointer p) {
        Impl::Call* c = static_cast<Impl::Call*>(p);
        auto found = c->impl->children.find(c->id);
        if (found == c->impl->children.end()) return;
        std::function<void(int)> ended = std::move(found->second);
        c->impl->children.erase(found);
        ended(status);
      },
      call, Impl::Delete);
  call->id = id;
  impl->children[id] = std::move(ended);
  return child;
}

unsigned IdleLoop::After(unsigned ms, std::function<void()> due) {
  return impl->Once(std::move(due), [ms](gpointer data) {
    return g_timeout_add_full(G_PRIORITY_DEFAULT, ms, Impl::Fire, data, Impl::Delete);
  });
}

unsigned IdleLoop::WhenReadable(int fd, std::function<void()> due) {
  return impl->Once(std::move(due), [fd](gpointer data) {
    return g_unix_fd_add_full(
        G_PRIORITY_DEFAULT, fd, static_cast<GIOCondition>(G_IO_IN | G_IO_HUP | G_IO_ERR),
        [](gint, GIOCondition, gpointer p) { return Impl::Fire(p); }, data, Impl::Delete);
  });
}

void IdleLoop::Cancel(unsigned id) {
  auto found = impl->timers.find(id);
  if (found == impl->timers.end()) return;
  impl->timers.erase(found);
  g_source_remove(id);
}

void IdleLoop::Run() { g_main_loop_run(impl->loop); }

void IdleLoop::Quit() { g_main_loop_quit(impl->loop); }
