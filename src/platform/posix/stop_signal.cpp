#include "platform/posix/stop_signal.h"

#include <errno.h>
#include <signal.h>
#include <time.h>

namespace tv {

int StopSignal::block() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTERM);
  return pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

StopSignal::StopSignal(std::function<void()> onStop) : onStop_(std::move(onStop)) {
  watcher_ = std::thread([this] {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    // Short waits so the watcher notices its own end without a signal.
    const timespec tick{0, 200'000'000};
    while (!done_.load()) {
      if (sigtimedwait(&set, nullptr, &tick) == SIGTERM && onStop_) onStop_();
    }
  });
}

StopSignal::~StopSignal() {
  done_ = true;
  watcher_.join();
}

}  // namespace tv
