// SIGTERM as the service's stop control. The signal is blocked in every
// thread (block() runs first in main, before any thread exists) and taken by
// one watcher thread with sigtimedwait, so the stop runs as ordinary code —
// it may log and wake sleeps — instead of inside a signal handler.
#pragma once

#include <atomic>
#include <functional>
#include <thread>

namespace tv {

class StopSignal {
 public:
  // Blocks SIGTERM for the calling thread and every thread it starts later;
  // 0 or an errno.
  static int block();

  // Watches for SIGTERM until destroyed; onStop runs on the watcher thread.
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
