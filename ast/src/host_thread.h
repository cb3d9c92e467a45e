// What native work needs of the host interpreter on the thread that runs it. Two moments call for
// the host: a blocking system call interrupted by a signal, whose handlers the host must run, and
// a wait for a file that another thread computes, during which the host's other threads should
// run and its signal handlers run as for an interrupted call. Background workers and plain C++
// callers have no host: they retry interrupted calls and simply block.
#pragma once

namespace tolvo::ast {

class HostThread {
 public:
  // Runs the host's signal handlers. False when one raised: its exception is then pending on this
  // thread and the request is to be abandoned.
  virtual bool run_signal_handlers() = 0;
  // Lets the host's other threads run until resume(). Called around a wait for another thread,
  // never while this thread holds an entry lock.
  virtual void suspend() = 0;
  virtual void resume() = 0;

 protected:
  ~HostThread() = default;
};

// The calling thread's host, or null.
HostThread* current_host_thread();

// The calling thread's host when it may let other host threads run while it waits: it holds no
// entry lock of a cache, since a host thread that took its lock back while holding one could stall
// the thread that computes.
HostThread* host_thread_for_wait();

// Makes `host` the calling thread's host for the scope's life (the previous one comes back after).
class HostThreadScope {
 public:
  explicit HostThreadScope(HostThread* host);
  ~HostThreadScope();
  HostThreadScope(const HostThreadScope&) = delete;
  HostThreadScope& operator=(const HostThreadScope&) = delete;

 private:
  HostThread* previous_;
};

// Marks the calling thread as holding an entry lock while it computes that entry.
class ComputingScope {
 public:
  ComputingScope();
  ~ComputingScope();
  ComputingScope(const ComputingScope&) = delete;
  ComputingScope& operator=(const ComputingScope&) = delete;
};

}  // namespace tolvo::ast
