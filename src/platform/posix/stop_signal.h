// The stop signals as the service's stop control: SIGTERM (systemd's stop),
// SIGINT (Ctrl-C at a terminal) and SIGHUP (the terminal went away) all stop
// the same graceful way, so no signal leaves a job half-done as ".behandler".
// The signals are blocked in every thread (block() runs first in main, before
// any thread exists) and taken by one watcher thread with sigtimedwait, so the
// stop runs as ordinary code — it may log and wake waits — instead of inside a
// signal handler.
#pragma once

#include <atomic>
#include <functional>
#include <thread>

namespace tv {

class StopSignal {
 public:
  // Blocks the stop signals for the calling thread and every thread it
  // starts later; 0 or an errno.
  static int block();

  // Watches for the stop signals until destroyed; onStop runs on the watcher
  // thread, once per signal.
  explicit StopSignal(std::function<void()> onStop);
  ~StopSignal();
  StopSignal(const StopSignal&) = delete;
  StopSignal& operator=(const StopSignal&) = delete;

 private:
  std::function<void()> onStop_;
  std::atomic<bool> done_{false};
  std::thread watcher_;
};

}  // namespace tv
