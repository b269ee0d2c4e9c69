// The one clock double of the tests, benchmarks and fuzz targets: it stands
// at a fixed moment, never sleeps, and moves on only by the sleeps and waits
// asked of it, so nothing waits for real and every stamp reads the same everywhere.
#pragma once

#include <chrono>
#include <ctime>
#include <vector>

#include "ports/clock.h"
#include "text/text.h"

namespace tv::test {

class FakeClock : public Clock {
 public:
  // 2022-06-17 10:42:52 UTC; localTime is UTC so tests read the same everywhere.
  std::time_t t = 1655462572;
  std::vector<long long> sleeps;     // every plain sleep asked for, in ms
  std::vector<long long> stopWaits;  // every wait for a stop, in ms
  bool woken = false;                // set by wake(): every later wait returns false
  std::time_t now() const override { return t; }
  std::tm localTime(std::time_t v) const override { return utcCalendar(v); }
  void sleepFor(std::chrono::milliseconds ms) override {
    sleeps.push_back(ms.count());
    t += static_cast<std::time_t>(ms.count() / 1000);
  }
  bool waitForStop(std::chrono::milliseconds ms) override {
    stopWaits.push_back(ms.count());
    if (woken) return false;
    t += static_cast<std::time_t>(ms.count() / 1000);
    return true;
  }
  void wake() override { woken = true; }
};

}  // namespace tv::test
