// The event log on Linux: syslog with ident "Tavlevagt", facility daemon.
#pragma once

#include "ports/event_log.h"

namespace tv {

class SyslogEventLog : public EventLog {
 public:
  SyslogEventLog();
  ~SyslogEventLog() override;
  SyslogEventLog(const SyslogEventLog&) = delete;
  SyslogEventLog& operator=(const SyslogEventLog&) = delete;
  void report(EventType type, std::string_view message) override;

  // The syslog priority of an event type.
  [[nodiscard]] static int priority(EventType type);
};

}  // namespace tv
