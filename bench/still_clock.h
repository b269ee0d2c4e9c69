// A clock that stands still at one moment and never sleeps, so a benchmark
// measures the work and nothing else.
#pragma once

#include <chrono>
#include <ctime>

#include "ports/clock.h"

namespace tv::bench {

class StillClock : public Clock {
 public:
  std::time_t now() const override { return 1655462572; }
  std::tm localTime(std::time_t t) const override {
    std::tm tm{};
    gmtime_r(&t, &tm);
    return tm;
  }
  bool sleepFor(std::chrono::milliseconds) override { return true; }
  void wake() override {}
};

}  // namespace tv::bench
