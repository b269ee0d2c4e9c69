#include "platform/posix/posix_clock.h"

#include <time.h>

#include <thread>

namespace tv {

std::time_t PosixClock::now() const {
  return std::time(nullptr);
}

std::tm PosixClock::localTime(std::time_t t) const {
  std::tm tm{};
  localtime_r(&t, &tm);
  return tm;
}

void PosixClock::sleepFor(std::chrono::milliseconds ms) {
  std::this_thread::sleep_for(ms);
}

bool PosixClock::waitForStop(std::chrono::milliseconds ms) {
  std::unique_lock lock(mutex_);
  return !woken_.wait_for(lock, ms, [this] { return stop_; });
}

void PosixClock::wake() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  woken_.notify_all();
}

}  // namespace tv
