// For the tests of reads and waits that signals interrupt: a scripted host and a signal whose
// handler does not restart system calls.
#pragma once

#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

#include "ast/src/host_thread.h"

namespace tolvo::ast::test_support {

// A host whose signal handlers raise once `raises` is set; counts what is asked of it.
class SignalledHost final : public HostThread {
 public:
  explicit SignalledHost(bool raises = false) : raises(raises) {}
  bool run_signal_handlers() override {
    runs.fetch_add(1);
    return !raises.load();
  }
  void suspend() override { suspended.fetch_add(1); }
  void resume() override { resumed.fetch_add(1); }

  std::atomic<bool> raises;
  std::atomic<int> runs{0};
  std::atomic<int> suspended{0};
  std::atomic<int> resumed{0};
};

// SIGUSR1 with a handler that does nothing and does not restart system calls, for the scope's
// life; the previous action comes back after.
class InterruptingSignal {
 public:
  InterruptingSignal() {
    struct sigaction action = {};
    action.sa_handler = [](int) {};
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;
    installed_ = sigaction(SIGUSR1, &action, &previous_) == 0;
  }
  ~InterruptingSignal() {
    if (installed_) sigaction(SIGUSR1, &previous_, nullptr);
  }
  InterruptingSignal(const InterruptingSignal&) = delete;
  InterruptingSignal& operator=(const InterruptingSignal&) = delete;

  bool installed() const { return installed_; }

  // Sends the signal to `thread` every few milliseconds until `enough` holds or `done` is set.
  static void interrupt_until(std::thread& thread, const std::atomic<bool>& done,
                              const std::function<bool()>& enough) {
    while (!enough() && !done.load()) {
      pthread_kill(thread.native_handle(), SIGUSR1);
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  }

 private:
  struct sigaction previous_ = {};
  bool installed_ = false;
};

}  // namespace tolvo::ast::test_support
