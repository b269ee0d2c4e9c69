#include "platform/windows/windows_clock.h"

#include <algorithm>
#include <ctime>

namespace tv::win {

WindowsClock::WindowsClock() : stop_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

WindowsClock::~WindowsClock() {
  if (stop_ != nullptr) CloseHandle(stop_);
}

std::time_t WindowsClock::now() const {
  return std::time(nullptr);
}

std::tm WindowsClock::localTime(std::time_t t) const {
  std::tm tm{};
  localtime_s(&tm, &t);
  return tm;
}

namespace {
// INFINITE is 0xFFFFFFFF: a longer wait is taken in pieces below it.
constexpr long long kLongest = 0x7FFFFFFF;
}  // namespace

void WindowsClock::sleepFor(std::chrono::milliseconds ms) {
  long long left = std::max<long long>(ms.count(), 0);
  while (left > 0) {
    const DWORD piece = static_cast<DWORD>(std::min(left, kLongest));
    Sleep(piece);
    left -= piece;
  }
}

bool WindowsClock::waitForStop(std::chrono::milliseconds ms) {
  long long left = std::max<long long>(ms.count(), 0);
  do {
    const DWORD piece = static_cast<DWORD>(std::min(left, kLongest));
    if (stop_ == nullptr) {
      Sleep(piece);
    } else if (WaitForSingleObject(stop_, piece) == WAIT_OBJECT_0) {
      return false;
    }
    left -= piece;
  } while (left > 0);
  return true;
}

void WindowsClock::wake() {
  if (stop_ != nullptr) SetEvent(stop_);
}

}  // namespace tv::win
