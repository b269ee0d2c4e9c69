// Time as the product sees it: local calendar time for log stamps, file ages
// and date names, plain sleeps, and the waits between cycles that a stop cuts
// short. Tests inject a fake so nothing waits for real.
//
// The two kinds of waiting are kept apart on purpose: a stop ends the idle
// waits at once, but a cycle that is finishing after the stop still needs its
// own pauses (the waits between retries of an account lookup) in full.
#pragma once

#include <chrono>
#include <ctime>
#include <string>

namespace tv {

class Clock {
 public:
  virtual ~Clock() = default;
  // Seconds since the epoch.
  [[nodiscard]] virtual std::time_t now() const = 0;
  // Broken-down local time of t.
  [[nodiscard]] virtual std::tm localTime(std::time_t t) const = 0;
  // Sleeps ms milliseconds; wake() does not shorten it.
  virtual void sleepFor(std::chrono::milliseconds ms) = 0;
  // Waits up to ms milliseconds for wake(); false when woken (at once when
  // wake() came before), true when the time ran out.
  virtual bool waitForStop(std::chrono::milliseconds ms) = 0;
  // Ends every waitForStop in progress and every later one (the stop control).
  virtual void wake() = 0;
};

// The C library's ctime text ("Fri Jun 17 10:42:52 2022\n") of t in the clock's local time.
[[nodiscard]] std::string ctimeText(const Clock& clock, std::time_t t);

}  // namespace tv
