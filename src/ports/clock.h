// Time as the product sees it: local calendar time for log stamps, file ages
// and date names, and sleeps that a stop can cut short. Tests inject a fake so
// nothing waits for real.
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
  // Sleeps up to ms milliseconds; returns early (false) when woken by wake().
  virtual bool sleepFor(std::chrono::milliseconds ms) = 0;
  // Ends every sleep in progress and every later one (used by the stop control).
  virtual void wake() = 0;
};

// The C library's ctime text ("Fri Jun 17 10:42:52 2022\n") of t in the clock's local time.
[[nodiscard]] std::string ctimeText(const Clock& clock, std::time_t t);

}  // namespace tv
