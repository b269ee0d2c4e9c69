#include "platform/posix/stop_signal.h"

#include <errno.h>
#include <signal.h>
#include <time.h>

namespace tv {
namespace {

sigset_t stopSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGHUP);
  return set;
}

}  // namespace

int StopSignal::block() {
  const sigset_t set = stopSignals();
  return pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

StopSignal::StopSignal(std::function<void()> onStop) : onStop_(std::move(onStop)) {
  watcher_ = std::thread([this] {
    const sigset_t set = stopSignals();
    // Short waits so the watcher notices its own end without a signal.
    const timespec tick{0, 200'000'000};
    while (!done_.load()) {
      if (sigtimedwait(&set, nullptr, &tick) > 0 && onStop_) onStop_();
    }
  });
}

StopSignal::~StopSignal() {
  done_ = true;
  watcher_.join();
}

}  // namespace tv
