#include "platform/windows/windows_event_log.h"

#include "platform/windows/wide.h"

namespace tv::win {

WindowsEventLog::WindowsEventLog(const std::string& source)
    : source_(RegisterEventSourceW(nullptr, toWide(source).c_str())) {
  if (source_ == nullptr) error_ = static_cast<int>(GetLastError());
}

WindowsEventLog::~WindowsEventLog() {
  if (source_ != nullptr) DeregisterEventSource(source_);
}

WORD WindowsEventLog::eventType(EventType type) {
  switch (type) {
    case EventType::Error:
      return EVENTLOG_ERROR_TYPE;
    case EventType::Warning:
      return EVENTLOG_WARNING_TYPE;
    case EventType::Information:
      break;
  }
  return EVENTLOG_INFORMATION_TYPE;
}

void WindowsEventLog::report(EventType type, std::string_view message) {
  if (source_ == nullptr) return;
  const std::wstring text = toWide(message);
  LPCWSTR strings[] = {text.c_str()};
  ReportEventW(source_, eventType(type), 0, kEventId, nullptr, 1, 0, strings, nullptr);
}

}  // namespace tv::win
