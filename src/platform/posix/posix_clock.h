// The real clock: local time from the C library, plain sleeps, and waits on a
// condition variable, so a stop ends a five-minute wait at once.
#pragma once

#include <condition_variable>
#include <mutex>

#include "ports/clock.h"

namespace tv {

class PosixClock : public Clock {
 public:
  [[nodiscard]] std::time_t now() const override;
  [[nodiscard]] std::tm localTime(std::time_t t) const override;
  void sleepFor(std::chrono::milliseconds ms) override;
  bool waitForStop(std::chrono::milliseconds ms) override;
  void wake() override;

 private:
  std::mutex mutex_;
  std::condition_variable woken_;
  bool stop_ = false;
};

}  // namespace tv
