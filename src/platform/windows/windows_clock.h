// The real clock on Windows: local time from the C runtime and sleeps on a
// manual-reset event, so the stop control ends a five-minute sleep at once
// and every sleep after it.
#pragma once

#include <windows.h>

#include "ports/clock.h"

namespace tv::win {

class WindowsClock : public Clock {
 public:
  WindowsClock();
  ~WindowsClock() override;
  WindowsClock(const WindowsClock&) = delete;
  WindowsClock& operator=(const WindowsClock&) = delete;

  [[nodiscard]] std::time_t now() const override;
  [[nodiscard]] std::tm localTime(std::time_t t) const override;
  void sleepFor(std::chrono::milliseconds ms) override;
  bool waitForStop(std::chrono::milliseconds ms) override;
  void wake() override;

 private:
  HANDLE stop_;
};

}  // namespace tv::win
