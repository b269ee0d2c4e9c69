// The event log on Windows: the event source "Tavlevagt" on the local
// machine; every event has identifier 1, category 0 and one insertion string,
// the message. The message table with identifier 1 (messages.mc) is built
// into Tavlevagt.dll, which the event source's EventMessageFile names, so
// the event viewer shows the text.
#pragma once

#include <windows.h>

#include <string>

#include "ports/event_log.h"

namespace tv::win {

inline constexpr DWORD kEventId = 1;

class WindowsEventLog : public EventLog {
 public:
  explicit WindowsEventLog(const std::string& source = "Tavlevagt");
  ~WindowsEventLog() override;
  WindowsEventLog(const WindowsEventLog&) = delete;
  WindowsEventLog& operator=(const WindowsEventLog&) = delete;

  // Reports go nowhere when the source could not be registered.
  void report(EventType type, std::string_view message) override;

  // 0 when the source is registered, else the Win32 error of the attempt.
  [[nodiscard]] int registrationError() const { return error_; }

  [[nodiscard]] static WORD eventType(EventType type);

 private:
  HANDLE source_;
  int error_ = 0;
};

}  // namespace tv::win
